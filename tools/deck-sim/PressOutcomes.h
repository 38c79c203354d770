#pragma once
// What became of the page's key presses. A press of a plug-in key after
// which the controller simulator received none of the action's commands by
// a while after the key was let go is reported as not sent, with the reason
// in plain words, taken from what the simulator knew when the key went
// down: the plug-in not running, Kestrel closed or not connected, nobody
// signed in, the action not offered, or a key set to hold to confirm that
// was let go too early (a held key's command leaves while it is still down).
//
// Threads: not thread-safe; the simulator's single event-loop thread owns it.

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

// What the simulator knew when a key went down.
struct PressSituation {
    bool pluginConnected = false;
    bool controllerRunning = false;
    bool controllerLinked = false;
    bool signedIn = false;
    bool supported = false;
    bool holdToConfirm = false;  // the key's settings ask for a hold
};

class PressOutcomes {
public:
    using Clock = std::chrono::steady_clock;
    // From the release to the verdict: longer than the plug-in keeps a
    // command for a link that comes back (2 s) and than a pump's burst (1 s).
    static constexpr std::chrono::milliseconds kVerdictAfter{2500};
    // Presses followed at once; a key held down for ever cannot grow the list.
    static constexpr size_t kFollowedAtMost = 64;

    enum class Reason {
        PluginNotRunning,
        KestrelClosed,
        NotConnected,
        SignedOut,
        NotOffered,
        HeldTooShort,
        Unknown
    };

    struct NotSent {
        size_t key = 0;
        Reason reason = Reason::Unknown;
    };

    // The key |key| of the action |actionUuid| went down. A press of an action
    // the catalogue does not know (another plug-in's) is not followed.
    void Pressed(size_t key, const std::string& actionUuid, const PressSituation& situation);
    // The key was let go: its press gets its verdict kVerdictAfter later.
    void Released(size_t key, Clock::time_point now);
    // The controller received the command |name|: every press waiting for it was sent.
    void CommandReceived(const std::string& name);
    // The presses whose verdict is due at |now| and that sent nothing, oldest first.
    std::vector<NotSent> TakeDue(Clock::time_point now);
    // When the next verdict is due; nothing while no released press waits.
    std::optional<Clock::time_point> NextDue() const;

    // "the key was not held long enough", …: what follows "not sent because".
    static const char* Words(Reason reason);
    // A short name of the reason for the page's texts ("heldTooShort", …).
    static const char* Name(Reason reason);

private:
    struct Press {
        size_t key = 0;
        std::set<std::string> commands;  // any of them answers the press
        Reason reason = Reason::Unknown;
        std::optional<Clock::time_point> due;
    };

    static Reason ReasonOf(const PressSituation& situation);

    std::deque<Press> m_presses;  // oldest first
};
