#include "support/HostFlavour.h"

using nlohmann::json;

namespace {
constexpr char kPluginFolderName[] = "com.vantora.kestrel.sdPlugin";
constexpr unsigned short kOpenDeckFirstPort = 57116;
constexpr const char* kLanguages[] = {"en", "de", "es", "fr", "ja", "ko", "zh_CN", "zh_TW"};
}  // namespace

std::optional<HostFlavour> HostFlavour::Named(const std::string& name) {
    if (name == "streamdeck") return HostFlavour(Kind::StreamDeck);
    if (name == "opendeck") return HostFlavour(Kind::OpenDeck);
    return std::nullopt;
}

const char* HostFlavour::Name() const {
    return IsOpenDeck() ? "opendeck" : "streamdeck";
}

const char* HostFlavour::ProductName() const {
    return IsOpenDeck() ? "OpenDeck" : "Stream Deck";
}

bool HostFlavour::OffersLanguage(const std::string& language) {
    for (const char* offered : kLanguages)
        if (language == offered) return true;
    return false;
}

std::string HostFlavour::PluginUUID(const std::string& randomHex) const {
    return IsOpenDeck() ? kPluginFolderName : randomHex;
}

std::string HostFlavour::KeyContext(const std::string& device, size_t position, const std::string& randomHex,
                                    const std::string& controller, size_t index) const {
    if (!IsOpenDeck()) return randomHex;
    // One profile, named as OpenDeck names its first one.
    return device + ".Default." + controller + "." + std::to_string(position) + "." + std::to_string(index);
}

unsigned short HostFlavour::FirstPort() const {
    return IsOpenDeck() ? kOpenDeckFirstPort : 0;
}

json HostFlavour::InfoDocument(const std::string& pluginVersion, const json& devices,
                               const std::string& language) const {
    if (IsOpenDeck()) {
        return {{"application",
                 {{"font", "Rubik"},
                  {"language", language},
                  {"platform", "linux"},
                  {"platformVersion", "6.1"},
                  {"version", "6.9.1"}}},
                {"plugin", {{"uuid", kPluginFolderName}, {"version", pluginVersion}}},
                {"devicePixelRatio", 0},
                {"colors",
                 {{"buttonPressedBackgroundColor", "#2B2B2BFF"},
                  {"buttonPressedBorderColor", "#5A5A5AFF"},
                  {"buttonPressedTextColor", "#A0A0A0FF"},
                  {"disabledColor", "#3B82F659"},
                  {"highlightColor", "#3B82F6FF"},
                  {"mouseDownColor", "#2563EBFF"}}},
                {"devices", devices}};
    }
    return {{"application",
             {{"font", "DejaVu Sans"},
              {"language", language},
              {"platform", "linux"},
              {"platformVersion", "6.1"},
              {"version", "6.5.0"}}},
            {"plugin", {{"uuid", "com.vantora.kestrel"}, {"version", pluginVersion}}},
            {"devicePixelRatio", 2},
            {"colors",
             {{"buttonPressedBackgroundColor", "#303030FF"},
              {"buttonPressedBorderColor", "#646464FF"},
              {"buttonPressedTextColor", "#969696FF"},
              {"disabledColor", "#F7821B59"},
              {"highlightColor", "#F7821BFF"},
              {"mouseDownColor", "#CF6304FF"}}},
            {"devices", devices}};
}

json HostFlavour::TitleParameters(const json& willAppear, const std::string& title) {
    const json& payload = willAppear.at("payload");
    return {{"action", willAppear.at("action")},
            {"context", willAppear.at("context")},
            {"device", willAppear.at("device")},
            {"event", "titleParametersDidChange"},
            {"payload",
             {{"controller", payload.value("controller", "Keypad")},
              {"coordinates", payload.at("coordinates")},
              {"settings", payload.at("settings")},
              {"state", payload.value("state", 0)},
              {"title", title},
              {"titleParameters",
               {{"fontFamily", ""},
                {"fontSize", 12},
                {"fontStyle", ""},
                {"fontUnderline", false},
                {"showTitle", true},
                {"titleAlignment", "bottom"},
                {"titleColor", "#ffffff"}}}}}};
}
