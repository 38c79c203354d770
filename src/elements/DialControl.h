#pragma once
// The dial side of a volume action (a context that appeared with the
// controller "Encoder"): turns set a level or nudge the volume, paced by a
// DialPacer; a push toggles mute, following the state that the controller
// reports; the touch strip shows the level, the mute state and the link's
// state through the "$B1" layout. A nudging dial shows its step with the
// sign of its action's direction ("+10 %", "\u221210 %") and, while the
// plug-in knows the volume (KnownVolume), a bar filled to it. A command that the controller client does
// not take flashes the dial's strip ("showAlert"), as a key shows its alert
// mark. Owned by its element, which it reaches through DialControl::Element.
//
// Threads: none of its own. Every call comes from the owning element with
// the control elements manager's lock held (host thread for dial events,
// timer thread for held-back turns, controller threads for reports). Command
// completions run on the controller client's write thread, wrapped by the
// element so that they take the same lock and do nothing once it is gone.
// The shared KnownVolume calls its watcher (Show of every dial) from another
// volume element's call, under that same lock.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "elements/CommandBuilder.h"
#include "elements/DialPacer.h"
#include "elements/KnownVolume.h"

class ControllerClient;
class ESDConnectionManager;
class EventMessage;

// What a volume action does on a dial.
struct DialSetup {
    bool setsLevel = false;                    // true: turns move "volume_value"; false: turns nudge
    CommandBuilder levelCommand;               // setsLevel: {"auto_unmute", "value"}
    CommandBuilder nudgeUp, nudgeDown;         // otherwise: {"auto_unmute", "step"}
    std::string icon, mutedIcon;               // strip icons, files of the plug-in folder
    std::string muteFunction;                  // the function whose reported state is the mute state
    std::vector<std::string> muteStates;       // its states as reported, in order
    std::vector<CommandBuilder> muteCommands;  // what a push sends in each of them (state 0: sounding)
    std::shared_ptr<ControllerClient> client;  // where the commands go
    int32_t nudgeSign = 1;                     // a nudging action's own direction: +1 up, -1 down
    std::shared_ptr<KnownVolume> volume;       // shared by the volume actions of one catalogue
};

class DialControl {
public:
    // What the dial needs of its element.
    class Element {
    public:
        // The context's stored settings (created from the defaults for a
        // context on screen); null for a context that is not on screen.
        virtual nlohmann::json* DialSettings(const std::string& context) = 0;
        // The host connection of a context on screen, or null.
        virtual ESDConnectionManager* DialConnection(const std::string& context) = 0;
        // The dial changed |key| of the context's stored settings: an open
        // settings page hears of it, so that it never holds a stale value.
        virtual void DialSettingChanged(const std::string& context, const char* key) = 0;
        virtual bool DialActive() = 0;
        // "online", "offline", "login", ... as the element's keys show it.
        virtual std::string DialStateName() = 0;
        // Queues the command of |builder| for |context| on |client|; |outcome|
        // runs later under the element's lock while the element exists.
        virtual void SendDialCommand(ControllerClient& client, const std::string& context,
                                     const CommandBuilder& builder, const nlohmann::json& settings,
                                     std::function<void(bool accepted)> outcome) = 0;

    protected:
        ~Element() = default;
    };

    DialControl(DialSetup setup, Element& element, std::string name);
    ~DialControl();
    DialControl(const DialControl&) = delete;
    DialControl& operator=(const DialControl&) = delete;

    // A context of the element appeared (again): it starts afresh; one that
    // appeared as a dial gets its layout and trigger descriptions.
    void Appear(ESDConnectionManager& connection, const std::string& context, bool asDial);
    void Disappear(const std::string& context);
    bool IsDial(const std::string& context) const;
    // Records kept for contexts (dials, strips shown, levels sent).
    size_t RecordCount() const;

    // A turn of a dial on screen: a level dial's level moves at once, the
    // command leaves now or when the pacer lets it.
    void Rotate(const std::string& context, int32_t ticks);
    // A push or touch that acts: the mute command for the reported state.
    void Push(const std::string& context);
    // Milliseconds until a held-back turn is due, or nothing.
    std::optional<int32_t> WaitMs() const;
    // Timer tick: sends the held-back turns that are due.
    void SendDueTurns();
    // The link or the action went away: held-back turns are dropped, and a
    // dial shows the level it last sent again, not one that never went out.
    void DropHeldBackTurns();
    // Sends the strip of |context| when it differs from the one shown.
    void Show(const std::string& context);
    // Every strip is sent again at its next Show.
    void ForgetShown();
    // A controller report: every strip follows a reported state of the mute
    // function; a link that went down makes the volume unknown.
    void FollowReport(const EventMessage& event);
    // The controller took the command of a key press of the element, made
    // from |settings|: the volume it set or nudged becomes the known one.
    void KeyCommandTaken(const nlohmann::json& settings);

private:
    void SendTurn(const std::string& context, int32_t ticks);
    nlohmann::json Feedback(const std::string& context);
    // The outcome of a dial's command: a refused one is logged by |operation|
    // and flashes the dial's strip while it is still on screen.
    std::function<void(bool)> Outcome(const char* operation, const std::string& context);
    // The outcome of a level: taken, it is the controller's level; refused while
    // the dial still shows it, the dial goes back to the level last taken.
    std::function<void(bool)> LevelOutcome(const std::string& context, const nlohmann::json& level);
    void ShowAndStoreLevel(const std::string& context, const nlohmann::json& level);
    // A nudging dial's text: its step, signed by its direction.
    std::string NudgeText(const nlohmann::json& settings) const;

    DialSetup m_setup;
    Element& m_element;
    std::string m_name;                                     // the element's, for log lines
    std::set<std::string> m_dials;                          // contexts on screen as dials
    std::map<std::string, nlohmann::json> m_feedbackShown;  // per dial: the strip as last sent
    DialPacer m_pacer;
    // Per dial that sets a level: the level last sent, which held-back turns
    // fall back to when they are dropped.
    std::map<std::string, nlohmann::json> m_levelSent;
    // ... and the level the controller last took (at first, the stored one).
    std::map<std::string, nlohmann::json> m_levelTaken;
    size_t m_muteIndex = 0;    // index into m_setup.muteStates as last reported
    size_t m_volumeWatch = 0;  // this dial's watcher of m_setup.volume
};
