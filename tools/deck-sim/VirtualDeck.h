#pragma once
// What the Stream Deck application knows about one virtual device and the
// plug-in's keys on it, and how it answers each party: the plug-in's
// commands, the property inspector's messages and the page's key presses.
// It does no I/O: every operation returns the messages to send, and the
// simulator's server delivers them.
//
// Threads: not thread-safe; the simulator's single event-loop thread owns it.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ActionTable.h"
#include "support/HostFlavour.h"

// Messages to deliver, in order, to each party.
struct Outbox {
    std::vector<nlohmann::json> toPlugin;
    std::vector<nlohmann::json> toInspector;
    std::vector<nlohmann::json> toPage;

    void Append(Outbox other);
};

struct DeckKey {
    ActionEntry action;
    std::string context;
    int column = 0;
    int row = 0;
    nlohmann::json settings = nlohmann::json::object();  // as the host stores them
    std::string image;                                   // latest data URL; empty: the default picture
    std::string title;
    int state = 0;
};

class VirtualDeck {
public:
    static constexpr const char* kDeviceId = "DECKSIM1";
    static constexpr int kColumns = 8;
    static constexpr int kRows = 4;

    // Lays the actions out row by row, one key each; |contexts| gives each key
    // its context (the host's identifier), one per action. |host| is the host
    // application it answers as.
    VirtualDeck(const std::vector<ActionEntry>& actions, const std::vector<std::string>& contexts,
                std::string pluginUUID, std::string pluginVersion, HostFlavour host = HostFlavour());

    // The "-info" document given to the plug-in and to every inspector.
    nlohmann::json InfoDocument() const;
    const std::string& PluginUUID() const { return m_pluginUUID; }
    const std::vector<DeckKey>& Keys() const { return m_keys; }

    // The plug-in's first message; a valid registration yields the device and
    // every key appearing, anything else nothing (and |accepted| false).
    Outbox RegisterPlugin(const nlohmann::json& message, bool& accepted);
    Outbox FromPlugin(const nlohmann::json& message);

    // The page's key presses, by key index.
    Outbox KeyDown(size_t index);
    Outbox KeyUp(size_t index);
    // The computer has woken up from sleep.
    Outbox SystemWokeUp();

    // The page asks for a key's inspector (closing the one open before), or
    // for none. The page then loads the page named in the "inspector" message.
    Outbox SelectInspector(std::optional<size_t> index);
    // An inspector's first message: true when it registers the selected key.
    bool RegisterInspector(const nlohmann::json& message);
    Outbox InspectorAppeared();
    Outbox InspectorGone();
    Outbox FromInspector(const nlohmann::json& message);

    // Everything the page shows, for a page that has just connected.
    nlohmann::json Snapshot(bool pluginConnected) const;

private:
    DeckKey* FindKey(const std::string& context);
    nlohmann::json KeyEvent(const char* event, const DeckKey& key) const;
    nlohmann::json SettingsEvent(const DeckKey& key) const;
    nlohmann::json KeyView(size_t index) const;
    nlohmann::json PageLog(const std::string& kind, const std::string& text) const;

    std::vector<DeckKey> m_keys;
    std::string m_pluginUUID;
    std::string m_pluginVersion;
    HostFlavour m_host;
    nlohmann::json m_globalSettings = nlohmann::json::object();
    std::optional<size_t> m_inspectorKey;  // the key whose inspector the page shows
    bool m_inspectorRegistered = false;
};
