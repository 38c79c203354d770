#pragma once
// Hold to confirm for the keys of one element: a press that must be held for
// a set time before it acts. It keeps, per key (context), the hold in
// progress, the press that completed and waits for its key up, or the short
// hint shown after an early release, and draws the marks of both over a key
// image. The element asks it what to draw and when to act, and passes the
// time in, so that the timing can be followed step by step.
//
// Threads: none of its own; the owning element calls it with the control
// elements manager's lock held.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

class Graphics;

class HoldToConfirm {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr double kDefaultSeconds = 0.6;
    static constexpr double kShortestSeconds = 0.3;
    static constexpr double kLongestSeconds = 2.0;
    static constexpr double kHintSeconds = 1.0;

    // The key's choice, from its settings "hold_to_confirm" (a flag, default
    // off) and "hold_seconds" (a decimal, default 0.6, kept within 0.3 to 2),
    // read by SettingToFlag and SettingToDecimal as the settings pages read them.
    struct Choice {
        bool enabled = false;
        double seconds = kDefaultSeconds;
    };
    // A value that reads as nothing counts as its default and costs one log line
    // naming |owner| and |context|.
    static Choice Read(const nlohmann::json& settings, const std::string& owner, const std::string& context);

    // A press that completed its hold: the key and the payload of its key down.
    struct Confirmed {
        std::string context;
        nlohmann::json payload;
    };

    // Key down on a key that holds to confirm: starts a hold of |seconds|
    // (a hint on the key ends).
    void Press(const std::string& context, double seconds, nlohmann::json payload, Clock::time_point now);
    // Key up. Returns false when this object had nothing for the key (the
    // press was not a hold: the element handles the key up itself). Released
    // before the time, the hold turns into the hint.
    bool Release(const std::string& context, Clock::time_point now);
    // The holds whose time has come by |now|; each is returned once and then
    // waits for its key up.
    std::vector<Confirmed> TakeConfirmed(Clock::time_point now);
    // The keys whose hint has ended by |now|; each is returned once.
    std::vector<std::string> TakeEndedHints(Clock::time_point now);
    // Forgets the key: a hold in progress is cancelled, its hint ends, its
    // mark is no longer followed. True when a hold or hint was dropped.
    bool Cancel(const std::string& context);

    // How far the key's hold has come (0 to 1), or nothing when it is not holding.
    std::optional<double> Progress(const std::string& context, Clock::time_point now) const;
    bool ShowsHint(const std::string& context) const;
    // Whether a hold or a hint is running, or a key still shows a mark that
    // has ended: the timer must keep ticking.
    bool Busy() const;
    // The keys being held now.
    std::vector<std::string> HoldingKeys() const;

    // The mark a key should show now: kNoMark, a step of the fill (1 to
    // kFillSteps + 1), or kHintMark. A fill that has not moved a step is not
    // drawn again.
    static constexpr int kNoMark = 0;
    static constexpr int kFillSteps = 24;
    static constexpr int kHintMark = kFillSteps + 2;
    int Mark(const std::string& context, Clock::time_point now) const;
    // The key's image was just sent with |mark| over it.
    void Drew(const std::string& context, int mark);
    // At most |limit| keys whose image does not show the mark they should,
    // those drawn longest ago first: many held keys share the redraws of a
    // tick, and every key gets its turn.
    std::vector<std::string> StaleMarks(Clock::time_point now, size_t limit) const;

    // A copy of |image| with the key's mark drawn over it (its fill while it
    // is held, or the hint), or null when the key shows neither.
    std::unique_ptr<Graphics> Marked(const std::string& context, const Graphics& image,
                                     Clock::time_point now) const;
    // The time filling up: a light veil rising over the glyph from the
    // label up and a bar along the bottom edge below the label, both at
    // |progress| (0 to 1). Neither covers the face's label.
    static void DrawProgress(Graphics& image, double progress);
    // Released too early: the glyph dimmed, the empty bar, and the label
    // cleared for the hint's title, so that the two words never overlap.
    static void DrawHint(Graphics& image);

private:
    enum class Phase { Holding, Done, Hint };
    struct Key {
        Phase phase;
        Clock::time_point since;  // the press, or the start of the hint
        Clock::duration length;   // the hold's time
        nlohmann::json payload;
    };

    std::map<std::string, Key> m_keys;
    // Keys whose image was last sent with a mark: the mark, and when (a
    // count of the draws).
    struct Drawn {
        int mark;
        uint64_t order;
    };
    std::map<std::string, Drawn> m_drawn;
    uint64_t m_draws = 0;
};
