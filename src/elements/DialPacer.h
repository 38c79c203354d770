#pragma once
// Paces what the turns of dials send to the controller: the first turn of a
// dial goes out at once, later turns of a continuing turn wait until kPace has
// passed since the last send, adding up meanwhile, so a dial sends at most
// about ten commands a second and never a backlog: what a quick turn leaves
// over goes out as one sum at the end of the pace. The time is passed in, so
// that the pacing can be followed step by step.
//
// Threads: none of its own; the owning element calls it with the control
// elements manager's lock held.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class DialPacer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kPace{100};

    // A turn of |ticks| on the dial |context|. Returns the ticks to act on now
    // (this turn's plus any still waiting), or nothing when they must wait.
    std::optional<int32_t> Turn(const std::string& context, int32_t ticks, Clock::time_point now);
    // The dials whose waiting ticks are due by |now|, with their sum (which
    // may be 0 when the turns cancelled out); each is returned once.
    std::vector<std::pair<std::string, int32_t>> TakeDue(Clock::time_point now);
    // Milliseconds until the next dial is due (0 when one is due now), or
    // nothing when no ticks wait.
    std::optional<int32_t> MsUntilDue(Clock::time_point now) const;
    // Forgets the dial (its waiting ticks are dropped).
    void Forget(const std::string& context);
    // Forgets every dial; returns those whose waiting ticks were dropped.
    std::vector<std::string> Clear();

private:
    struct Dial {
        Clock::time_point lastSent;
        int64_t waiting = 0;      // ticks turned since the last send
        bool hasWaiting = false;  // a turn since the last send
    };

    std::map<std::string, Dial> m_dials;
};
