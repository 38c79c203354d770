#include "VirtualDeck.h"

using nlohmann::json;

namespace {

std::string StringMember(const json& object, const char* key) {
    if (!object.is_object()) return "";
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

bool IsImageDataUrl(const std::string& image) {
    return image.rfind("data:image/", 0) == 0;
}

}  // namespace

void Outbox::Append(Outbox other) {
    for (auto& message : other.toPlugin) toPlugin.push_back(std::move(message));
    for (auto& message : other.toInspector) toInspector.push_back(std::move(message));
    for (auto& message : other.toPage) toPage.push_back(std::move(message));
}

VirtualDeck::VirtualDeck(const std::vector<ActionEntry>& actions, const std::vector<std::string>& contexts,
                         std::string pluginUUID, std::string pluginVersion, HostFlavour host)
    : m_pluginUUID(std::move(pluginUUID)), m_pluginVersion(std::move(pluginVersion)), m_host(host) {
    for (size_t i = 0; i < actions.size() && i < contexts.size() && i < size_t(kColumns * kRows); ++i) {
        DeckKey key;
        key.action = actions[i];
        key.context = contexts[i];
        key.column = static_cast<int>(i % kColumns);
        key.row = static_cast<int>(i / kColumns);
        m_keys.push_back(std::move(key));
    }
}

json VirtualDeck::InfoDocument() const {
    return m_host.InfoDocument(m_pluginVersion,
                               json::array({{{"id", kDeviceId},
                                             {"name", "Stream Deck XL"},
                                             {"size", {{"columns", kColumns}, {"rows", kRows}}},
                                             {"type", 2}}}));
}

Outbox VirtualDeck::RegisterPlugin(const json& message, bool& accepted) {
    accepted =
        StringMember(message, "event") == "registerPlugin" && StringMember(message, "uuid") == m_pluginUUID;
    Outbox out;
    if (!accepted) {
        out.toPage.push_back(PageLog("host", "refused a registration: " + message.dump()));
        return out;
    }
    out.toPlugin.push_back(
        {{"event", "deviceDidConnect"},
         {"device", kDeviceId},
         {"deviceInfo",
          {{"name", "Stream Deck XL"}, {"size", {{"columns", kColumns}, {"rows", kRows}}}, {"type", 2}}}});
    for (const DeckKey& key : m_keys) {
        out.toPlugin.push_back(KeyEvent("willAppear", key));
        if (m_host.AnnouncesTitleParameters())
            out.toPlugin.push_back(HostFlavour::TitleParameters(out.toPlugin.back(), key.title));
    }
    out.toPage.push_back({{"type", "plugin"}, {"connected", true}});
    out.toPage.push_back(
        PageLog("host", "plug-in registered; " + std::to_string(m_keys.size()) + " keys appear"));
    return out;
}

Outbox VirtualDeck::FromPlugin(const json& message) {
    Outbox out;
    std::string event = StringMember(message, "event");
    std::string context = StringMember(message, "context");
    const json payload = message.is_object() && message.contains("payload") ? message["payload"] : json();

    if (event == "setGlobalSettings" || event == "getGlobalSettings") {
        if (event == "setGlobalSettings" && payload.is_object()) m_globalSettings = payload;
        if (event == "getGlobalSettings") {
            out.toPlugin.push_back(
                {{"event", "didReceiveGlobalSettings"}, {"payload", {{"settings", m_globalSettings}}}});
        }
        return out;
    }
    if (event == "logMessage" || event == "openUrl") {
        out.toPage.push_back(PageLog("plugin", event + " " + payload.dump()));
        return out;
    }

    DeckKey* key = FindKey(context);
    if (!key) {
        out.toPage.push_back(PageLog("host", "ignored '" + event + "' for an unknown context"));
        return out;
    }
    size_t index = static_cast<size_t>(key - m_keys.data());
    bool inspectorOpen = m_inspectorRegistered && m_inspectorKey == index;

    if (event == "setImage") {
        std::string image = StringMember(payload, "image");
        if (!image.empty() && !IsImageDataUrl(image)) {
            out.toPage.push_back(
                PageLog("host", "ignored an image that is not a data URL for " + key->action.name));
            return out;
        }
        key->image = image;
        out.toPage.push_back({{"type", "key"}, {"key", KeyView(index)}});
    } else if (event == "setTitle") {
        key->title = StringMember(payload, "title");
        out.toPage.push_back({{"type", "key"}, {"key", KeyView(index)}});
    } else if (event == "setState") {
        if (payload.is_object() && payload.contains("state") && payload["state"].is_number_integer()) {
            key->state = payload["state"].get<int>();
        }
    } else if (event == "setSettings") {
        if (!payload.is_object()) {
            out.toPage.push_back(
                PageLog("host", "ignored settings that are not an object for " + key->action.name));
            return out;
        }
        // The plug-in stores every key's settings when it appears: list changes only.
        if (payload != key->settings) {
            out.toPage.push_back(
                PageLog("plugin", "stored settings of " + key->action.name + ": " + payload.dump()));
        }
        key->settings = payload;
        if (inspectorOpen) out.toInspector.push_back(SettingsEvent(*key));
    } else if (event == "getSettings") {
        out.toPlugin.push_back(SettingsEvent(*key));
    } else if (event == "sendToPropertyInspector") {
        if (inspectorOpen) {
            out.toInspector.push_back({{"action", key->action.uuid},
                                       {"context", key->context},
                                       {"event", "sendToPropertyInspector"},
                                       {"payload", payload}});
        } else {
            // The host drops it; listed so that a plug-in that keeps talking
            // to closed settings pages is seen.
            out.toPage.push_back(PageLog(
                "host", "dropped settings-page data of " + key->action.name + ": its page is closed"));
        }
    } else if (event == "showOk" || event == "showAlert") {
        out.toPage.push_back(
            {{"type", "flash"}, {"index", index}, {"kind", event == "showOk" ? "ok" : "alert"}});
    } else {
        out.toPage.push_back(PageLog("plugin", "unknown command '" + event + "'"));
    }
    return out;
}

Outbox VirtualDeck::KeyDown(size_t index) {
    Outbox out;
    if (index >= m_keys.size()) return out;
    out.toPlugin.push_back(KeyEvent("keyDown", m_keys[index]));
    out.toPage.push_back(PageLog("host", "pressed " + m_keys[index].action.name));
    return out;
}

Outbox VirtualDeck::KeyUp(size_t index) {
    Outbox out;
    if (index < m_keys.size()) out.toPlugin.push_back(KeyEvent("keyUp", m_keys[index]));
    return out;
}

Outbox VirtualDeck::SystemWokeUp() {
    Outbox out;
    out.toPlugin.push_back({{"event", "systemDidWakeUp"}});
    out.toPage.push_back(PageLog("host", "the computer woke up"));
    return out;
}

Outbox VirtualDeck::SelectInspector(std::optional<size_t> index) {
    Outbox out = InspectorGone();
    if (index && (*index >= m_keys.size() || m_keys[*index].action.propertyInspectorPath.empty()))
        index.reset();
    m_inspectorKey = index;
    json view = {{"type", "inspector"}, {"index", nullptr}};
    if (index) {
        const DeckKey& key = m_keys[*index];
        json actionInfo = {{"action", key.action.uuid},
                           {"context", key.context},
                           {"device", kDeviceId},
                           {"payload",
                            {{"controller", "Keypad"},
                             {"coordinates", {{"column", key.column}, {"row", key.row}}},
                             {"settings", key.settings},
                             {"state", key.state}}}};
        view["index"] = *index;
        view["name"] = key.action.name;
        view["url"] = "/plugin/" + key.action.propertyInspectorPath;
        view["uuid"] = key.context;
        view["registerEvent"] = "registerPropertyInspector";
        view["info"] = InfoDocument().dump();
        view["actionInfo"] = actionInfo.dump();
    }
    out.toPage.push_back(std::move(view));
    return out;
}

bool VirtualDeck::RegisterInspector(const json& message) {
    if (!m_inspectorKey || StringMember(message, "event") != "registerPropertyInspector") return false;
    return StringMember(message, "uuid") == m_keys[*m_inspectorKey].context;
}

Outbox VirtualDeck::InspectorAppeared() {
    Outbox out;
    if (!m_inspectorKey) return out;
    m_inspectorRegistered = true;
    const DeckKey& key = m_keys[*m_inspectorKey];
    out.toPlugin.push_back({{"action", key.action.uuid},
                            {"context", key.context},
                            {"device", kDeviceId},
                            {"event", "propertyInspectorDidAppear"}});
    out.toPage.push_back(PageLog("host", "settings of " + key.action.name + " opened"));
    return out;
}

Outbox VirtualDeck::InspectorGone() {
    Outbox out;
    if (!m_inspectorKey || !m_inspectorRegistered) return out;
    m_inspectorRegistered = false;
    const DeckKey& key = m_keys[*m_inspectorKey];
    out.toPlugin.push_back({{"action", key.action.uuid},
                            {"context", key.context},
                            {"device", kDeviceId},
                            {"event", "propertyInspectorDidDisappear"}});
    return out;
}

Outbox VirtualDeck::FromInspector(const json& message) {
    Outbox out;
    if (!m_inspectorKey || !m_inspectorRegistered) return out;
    DeckKey& key = m_keys[*m_inspectorKey];
    std::string event = StringMember(message, "event");
    // An inspector speaks for its own key only.
    if (StringMember(message, "context") != key.context) return out;
    const json payload = message.contains("payload") ? message["payload"] : json();

    if (event == "setSettings") {
        if (!payload.is_object()) return out;
        key.settings = payload;
        out.toPage.push_back(
            PageLog("inspector", "stored settings of " + key.action.name + ": " + payload.dump()));
        out.toPlugin.push_back(SettingsEvent(key));
    } else if (event == "getSettings") {
        out.toInspector.push_back(SettingsEvent(key));
    } else if (event == "sendToPlugin") {
        out.toPlugin.push_back({{"action", key.action.uuid},
                                {"context", key.context},
                                {"event", "sendToPlugin"},
                                {"payload", payload}});
    } else if (event == "setGlobalSettings" && payload.is_object()) {
        m_globalSettings = payload;
        out.toPlugin.push_back(
            {{"event", "didReceiveGlobalSettings"}, {"payload", {{"settings", m_globalSettings}}}});
    } else if (event == "getGlobalSettings") {
        out.toInspector.push_back(
            {{"event", "didReceiveGlobalSettings"}, {"payload", {{"settings", m_globalSettings}}}});
    } else {
        out.toPage.push_back(PageLog("inspector", event + " " + payload.dump()));
    }
    return out;
}

json VirtualDeck::Snapshot(bool pluginConnected) const {
    json keys = json::array();
    for (size_t i = 0; i < m_keys.size(); ++i) keys.push_back(KeyView(i));
    return {
        {"type", "snapshot"},
        {"device", {{"id", kDeviceId}, {"name", "Stream Deck XL"}, {"columns", kColumns}, {"rows", kRows}}},
        {"keys", keys},
        {"plugin", {{"connected", pluginConnected}}}};
}

DeckKey* VirtualDeck::FindKey(const std::string& context) {
    for (DeckKey& key : m_keys) {
        if (key.context == context) return &key;
    }
    return nullptr;
}

json VirtualDeck::KeyEvent(const char* event, const DeckKey& key) const {
    return {{"action", key.action.uuid},
            {"context", key.context},
            {"device", kDeviceId},
            {"event", event},
            {"payload",
             {{"controller", "Keypad"},
              {"coordinates", {{"column", key.column}, {"row", key.row}}},
              {"isInMultiAction", false},
              {"settings", key.settings},
              {"state", key.state}}}};
}

json VirtualDeck::SettingsEvent(const DeckKey& key) const {
    return {{"action", key.action.uuid},
            {"context", key.context},
            {"device", kDeviceId},
            {"event", "didReceiveSettings"},
            {"payload",
             {{"coordinates", {{"column", key.column}, {"row", key.row}}},
              {"isInMultiAction", false},
              {"settings", key.settings}}}};
}

json VirtualDeck::KeyView(size_t index) const {
    const DeckKey& key = m_keys[index];
    std::string fallback =
        key.action.stateImage.empty() ? "" : "/plugin/" + key.action.stateImage + "@2x.png";
    return {{"index", index},          {"action", key.action.uuid},
            {"name", key.action.name}, {"context", key.context},
            {"column", key.column},    {"row", key.row},
            {"image", key.image},      {"defaultImage", fallback},
            {"title", key.title},      {"hasInspector", !key.action.propertyInspectorPath.empty()}};
}

json VirtualDeck::PageLog(const std::string& kind, const std::string& text) const {
    return {{"type", "log"}, {"kind", kind}, {"text", text}};
}
