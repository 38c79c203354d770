#pragma once
// What the Stream Deck application knows about one virtual device, the
// plug-in's keys and dials on it and the host's own Multi Action keys whose
// steps are the plug-in's actions, and how it answers each party: the
// plug-in's commands, the property inspector's messages and the page's key
// presses, dial turns, strip taps, Multi Action edits and own icons.
// It does no I/O: every operation returns the messages to send, and the
// simulator's server delivers them.
//
// Threads: not thread-safe; the simulator's single event-loop thread owns it.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "deck-sim/ActionTable.h"
#include "deck-sim/DeckKey.h"
#include "deck-sim/DeviceModel.h"
#include "deck-sim/MultiActionKeys.h"
#include "deck-sim/Outbox.h"
#include "support/HostFlavour.h"

// A dial with its 200×100 part of the touch strip, and the action on it.
struct DeckDial {
    bool occupied = false;
    DeckKey placed;      // column: the dial's index, row 0, controller "Encoder"
    std::string layout;  // a built-in ("$B1") or a layout file of the plug-in folder
    // Layout item key → its properties ("value", "opacity", "bar_fill_c", …),
    // merged from every setFeedback since the layout was set.
    nlohmann::json feedback = nlohmann::json::object();
    // "rotate", "push", "touch", "longTouch" → what it does; only those given.
    nlohmann::json triggers = nlohmann::json::object();
};

class VirtualDeck {
public:
    static constexpr const char* kDeviceId = "DECKSIM1";
    static constexpr int kColumns = 8;  // of the XL
    static constexpr int kRows = 4;

    // Lays the actions out row by row, one key each, as far as |device| has
    // keys; |contexts| gives each key its context (the host's identifier), one
    // per action. |host| is the host application it answers as. Dials start
    // empty.
    VirtualDeck(const std::vector<ActionEntry>& actions, const std::vector<std::string>& contexts,
                std::string pluginUUID, std::string pluginVersion, HostFlavour host = HostFlavour(),
                DeviceModel device = DeviceModel::XL());

    // The "-info" document given to the plug-in and to every inspector.
    nlohmann::json InfoDocument() const;
    // The host's user interface language, which goes into InfoDocument; false
    // (and nothing changes) for a language the host does not offer.
    bool SetLanguage(const std::string& language);
    const std::string& Language() const { return m_language; }
    const std::string& PluginUUID() const { return m_pluginUUID; }
    const std::vector<DeckKey>& Keys() const { return m_keys; }
    const std::vector<DeckDial>& Dials() const { return m_dials; }
    const std::vector<DeckComposite>& Composites() const { return m_multiActions.All(); }
    const DeviceModel& Device() const { return m_device; }

    // The plug-in's first message; a valid registration yields the device and
    // every key appearing, anything else nothing (and |accepted| false).
    Outbox RegisterPlugin(const nlohmann::json& message, bool& accepted);
    Outbox FromPlugin(const nlohmann::json& message);

    // The page's key presses, by key index.
    Outbox KeyDown(size_t index);
    Outbox KeyUp(size_t index);
    // Puts the action |actionUuid| on a dial under |context| (the one before
    // disappears), or with an empty |actionUuid| clears the dial. Only actions
    // that list the Encoder controller go on a dial.
    Outbox PlaceOnDial(size_t dial, const std::string& actionUuid, const std::string& context);
    // The page's dial turns (|ticks| signed, clockwise positive; |pressed|:
    // while held down), pushes and strip taps (|x|, |y| within the dial's
    // 200×100 part; |hold|: a long touch).
    Outbox DialRotate(size_t dial, int ticks, bool pressed);
    Outbox DialPush(size_t dial, bool down);
    Outbox TouchTap(size_t dial, int x, int y, bool hold);

    // A composite key on the first free key of the device, with no steps;
    // nothing when the device has no free key.
    std::optional<size_t> AddComposite(DeckComposite::Kind kind, const std::string& name);
    // Adds a step of |actionUuid| (context made from |randomHex| as the host
    // makes them); a two-state step of a Stream Deck Multi Action starts with
    // |desiredState| picked (0 when not given).
    Outbox AddStep(size_t composite, const std::string& actionUuid, const std::string& randomHex,
                   std::optional<int> desiredState = std::nullopt);
    Outbox RemoveStep(size_t composite, size_t step);
    // The state picker of a Stream Deck Multi Action's two-state step.
    Outbox PickStepState(size_t composite, size_t step, int state);
    // The page pressed a composite key: the step presses to send, in |later|.
    Outbox PressComposite(size_t composite);
    // The keyDown or keyUp of a step whose time has come; nothing when the
    // step has gone meanwhile.
    Outbox StepEvent(const std::string& context, bool down);
    // The user gives a key their own icon for |state|, or with an empty
    // |image| takes it away; the host shows it at once.
    Outbox SetOwnIcon(size_t index, int state, const std::string& image);

    // The computer has woken up from sleep.
    Outbox SystemWokeUp();

    // The page asks for a key's inspector (closing the one open before), or
    // for none. The page then loads the page named in the "inspector" message.
    Outbox SelectInspector(std::optional<size_t> index);
    // The same for the action on a dial; its page is told it is on a dial.
    Outbox SelectDialInspector(size_t dial);
    // The same for a composite key's step; its page is told it is in a Multi Action.
    Outbox SelectStepInspector(size_t composite, size_t step);
    // Whether a key's or a dial's inspector is selected.
    bool InspectorSelected() const { return Inspected() != nullptr; }
    // An inspector's first message: true when it registers the selected key or dial.
    bool RegisterInspector(const nlohmann::json& message);
    Outbox InspectorAppeared();
    Outbox InspectorGone();
    Outbox FromInspector(const nlohmann::json& message);

    // Everything the page shows, for a page that has just connected.
    nlohmann::json Snapshot(bool pluginConnected) const;

private:
    // Whose inspector is selected: a key's, a dial's or a composite key's step, by index.
    struct InspectorTarget {
        enum class Where { Key, Dial, Step };
        Where where = Where::Key;
        size_t index = 0;  // of the key, dial or composite key
        size_t step = 0;
    };
    // An action instance found by its context, and where it sits.
    struct Instance {
        DeckKey* key = nullptr;
        std::optional<size_t> keyIndex;   // a key of the device
        std::optional<size_t> composite;  // a step of this composite key
    };

    // The key, or the action on the dial, whose inspector is selected; null for none.
    const DeckKey* Inspected() const;
    DeckKey* Inspected();
    Outbox OpenInspector(std::optional<InspectorTarget> target);
    bool InspectorShows(const DeckKey& key) const;
    void RelayToInspector(const DeckKey& key, const nlohmann::json& payload, Outbox& out) const;
    Instance FindInstance(const std::string& context);
    // The page's update of where |found| sits.
    nlohmann::json InstanceView(const Instance& found) const;
    void ReleasedByHost(DeckKey& key, bool openDeckMulti);
    // False (and a log line) when the payload is refused.
    bool SetImage(DeckKey& key, const nlohmann::json& payload, Outbox& out) const;
    bool SetState(DeckKey& key, const nlohmann::json& payload, Outbox& out) const;
    nlohmann::json InstancePayload(const DeckKey& key) const;
    bool KeyFree(int column, int row) const;
    DeckDial* FindDial(const std::string& context);
    DeckDial* OccupiedDial(size_t dial);
    Outbox FromPluginForDial(DeckDial& dial, const std::string& event, const nlohmann::json& payload);
    // False (and a log line) when |payload| is no object; items it cannot keep are left out.
    bool MergeFeedback(DeckDial& dial, const nlohmann::json& payload, Outbox& out) const;
    bool SetLayout(DeckDial& dial, const nlohmann::json& payload, Outbox& out) const;
    bool SetTriggers(DeckDial& dial, const nlohmann::json& payload, Outbox& out) const;
    nlohmann::json KeyEvent(const char* event, const DeckKey& key) const;
    nlohmann::json DialEvent(const char* event, const DeckKey& placed) const;
    nlohmann::json DialView(size_t index) const;
    nlohmann::json DeviceInfo() const;
    nlohmann::json SettingsEvent(const DeckKey& key) const;
    nlohmann::json KeyView(size_t index) const;

    std::vector<ActionEntry> m_actions;  // every action, for placing on dials
    std::vector<DeckKey> m_keys;
    std::vector<DeckDial> m_dials;
    DeviceModel m_device;
    std::string m_pluginUUID;
    std::string m_pluginVersion;
    HostFlavour m_host;
    std::string m_language = "en";
    MultiActionKeys m_multiActions;
    nlohmann::json m_globalSettings = nlohmann::json::object();
    std::optional<InspectorTarget> m_inspector;  // whose inspector the page shows
    bool m_inspectorRegistered = false;
};
