#include <gtest/gtest.h>

#include "deck-sim/PressOutcomes.h"

namespace {

using Clock = PressOutcomes::Clock;
using Reason = PressOutcomes::Reason;

const std::string kSkip = "com.vantora.kestrel.alerts-skip";
const std::string kShowOnStream = "com.vantora.kestrel.media-request-show-on-stream";
const std::string kPump = "com.vantora.kestrel.emberfall-pump";

// Everything in place: the plug-in runs, Kestrel runs, is linked, signed in, offers every action.
PressSituation AllWell() {
    PressSituation situation;
    situation.pluginConnected = situation.controllerRunning = situation.controllerLinked = true;
    situation.signedIn = situation.supported = true;
    return situation;
}

// One press and release of |key| with |situation|; the reason it was not sent, or nothing.
std::optional<Reason> Verdict(const PressSituation& situation) {
    PressOutcomes presses;
    const Clock::time_point now = Clock::now();
    presses.Pressed(3, kSkip, situation);
    presses.Released(3, now);
    std::vector<PressOutcomes::NotSent> due = presses.TakeDue(now + PressOutcomes::kVerdictAfter);
    if (due.empty()) return std::nullopt;
    EXPECT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].key, 3u);
    return due[0].reason;
}

}  // namespace

TEST(PressOutcomesTest, NamesWhatFirstStoodBetweenThePressAndKestrel) {
    PressSituation situation = AllWell();
    situation.holdToConfirm = true;
    EXPECT_EQ(Verdict(situation), Reason::HeldTooShort);
    situation.supported = false;
    EXPECT_EQ(Verdict(situation), Reason::NotOffered);
    situation.signedIn = false;
    EXPECT_EQ(Verdict(situation), Reason::SignedOut);
    situation.controllerLinked = false;
    EXPECT_EQ(Verdict(situation), Reason::NotConnected);
    situation.controllerRunning = false;
    EXPECT_EQ(Verdict(situation), Reason::KestrelClosed);
    situation.pluginConnected = false;
    EXPECT_EQ(Verdict(situation), Reason::PluginNotRunning);
    EXPECT_EQ(Verdict(AllWell()), Reason::Unknown);
    EXPECT_STREQ(PressOutcomes::Words(Reason::HeldTooShort), "the key was not held long enough");
}

TEST(PressOutcomesTest, AVerdictComesOnlyAfterTheReleaseAndItsWait) {
    PressOutcomes presses;
    const Clock::time_point now = Clock::now();
    presses.Pressed(1, kSkip, AllWell());
    EXPECT_FALSE(presses.NextDue()) << "a key still held down has no verdict";
    EXPECT_TRUE(presses.TakeDue(now + std::chrono::hours(1)).empty());
    presses.Released(1, now);
    ASSERT_TRUE(presses.NextDue());
    EXPECT_EQ(*presses.NextDue(), now + PressOutcomes::kVerdictAfter);
    EXPECT_TRUE(presses.TakeDue(now + PressOutcomes::kVerdictAfter - std::chrono::milliseconds(1)).empty());
    EXPECT_EQ(presses.TakeDue(now + PressOutcomes::kVerdictAfter).size(), 1u);
    EXPECT_TRUE(presses.TakeDue(now + std::chrono::hours(1)).empty()) << "each press is told once";
    EXPECT_FALSE(presses.NextDue());
}

TEST(PressOutcomesTest, AnyCommandOfTheActionAnswersItsPressesOnly) {
    PressOutcomes presses;
    const Clock::time_point now = Clock::now();
    presses.Pressed(1, kSkip, AllWell());
    presses.Pressed(2, kShowOnStream, AllWell());
    presses.Pressed(4, kPump, AllWell());
    for (size_t key : {1, 2, 4}) presses.Released(key, now);
    // The show-on-stream action sends a command of another name, in either state.
    presses.CommandReceived("media-request-widget-off");
    presses.CommandReceived("emberfall");  // the pump sends the plain action's command
    presses.CommandReceived("overlays-reload");
    std::vector<PressOutcomes::NotSent> due = presses.TakeDue(now + PressOutcomes::kVerdictAfter);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].key, 1u);
}

TEST(PressOutcomesTest, FollowsOnlyKnownActionsAndABoundedNumberOfPresses) {
    PressOutcomes presses;
    const Clock::time_point now = Clock::now();
    presses.Pressed(0, "com.example.other.action", AllWell());
    presses.Pressed(0, "com.vantora.kestrel.no-such-action", AllWell());
    presses.Released(0, now);
    EXPECT_FALSE(presses.NextDue());
    // Keys pressed and never let go give way to the newest presses.
    for (size_t key = 0; key < PressOutcomes::kFollowedAtMost + 10; ++key)
        presses.Pressed(key, kSkip, AllWell());
    for (size_t key = 0; key < PressOutcomes::kFollowedAtMost + 10; ++key) presses.Released(key, now);
    std::vector<PressOutcomes::NotSent> due = presses.TakeDue(now + PressOutcomes::kVerdictAfter);
    ASSERT_EQ(due.size(), PressOutcomes::kFollowedAtMost);
    EXPECT_EQ(due.front().key, 10u);
}
