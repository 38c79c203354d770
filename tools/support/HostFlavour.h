#pragma once
// What differs between the host applications that start the plug-in: the
// Stream Deck application, and OpenDeck (v2.14) on Linux. The stand-in host,
// the end-to-end harness and deck-sim take these facts from here.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

class HostFlavour {
public:
    enum class Kind { StreamDeck, OpenDeck };

    explicit HostFlavour(Kind kind = Kind::StreamDeck) : m_kind(kind) {}
    // "streamdeck" or "opendeck"; nothing for another name.
    static std::optional<HostFlavour> Named(const std::string& name);

    Kind Which() const { return m_kind; }
    bool IsOpenDeck() const { return m_kind == Kind::OpenDeck; }
    const char* Name() const;
    // The application's own name, as its users know it: "Stream Deck" or "OpenDeck".
    const char* ProductName() const;
    // Whether |language| is one of the user interface languages the host
    // offers (en de es fr ja ko zh_CN zh_TW), each of which it hands to plug-ins.
    static bool OffersLanguage(const std::string& language);

    // The plug-in's -pluginUUID: a random identifier (|randomHex|), or for
    // OpenDeck the name of the plug-in's install folder.
    std::string PluginUUID(const std::string& randomHex) const;
    // A key's (or with |controller| "Encoder", a dial's) context: an opaque
    // random identifier, or for OpenDeck the dotted path
    // device.profile.controller.position.index, where |index| 0 is the action
    // on the key and 1, 2, … the children of a multi or toggle action there.
    std::string KeyContext(const std::string& device, size_t position, const std::string& randomHex,
                           const std::string& controller = "Keypad", size_t index = 0) const;
    // The first port the host tries: any free one, or OpenDeck's 57116 and up.
    unsigned short FirstPort() const;
    // The -info document given to the plug-in and its inspectors; |language|
    // is the host's user interface language ("en", "de", "zh_CN", …).
    nlohmann::json InfoDocument(const std::string& pluginVersion, const nlohmann::json& devices,
                                const std::string& language = "en") const;

    // OpenDeck follows every willAppear with titleParametersDidChange ...
    bool AnnouncesTitleParameters() const { return IsOpenDeck(); }
    // ... and keeps what it could not deliver to a plug-in that is not
    // connected, and sends it once the plug-in registers again.
    bool ReplaysUndelivered() const { return IsOpenDeck(); }
    // The titleParametersDidChange that follows |willAppear| (same key, settings and state).
    static nlohmann::json TitleParameters(const nlohmann::json& willAppear, const std::string& title);

private:
    Kind m_kind;
};
