// Hold to confirm: its timing step by step with the time passed in, and the
// keys that use it behind the manager (real timer, real controller client over
// the in-memory transport): one command at the moment the hold completes,
// none for an early release, the hint, and what cancels a hold.

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "elements/CatalogueElements.h"
#include "elements/ControlElementsManager.h"
#include "elements/ElementTestRig.h"
#include "elements/HoldToConfirm.h"
#include "elements/KeyTexts.h"
#include "elements/SimpleMultipleStateButton.h"
#include "elements/SimplePumpButton.h"
#include "elements/SimpleSingleStateButton.h"
#include "support/LogCapture.h"

namespace {

using Clock = HoldToConfirm::Clock;
using Seconds = std::chrono::duration<double>;

Clock::time_point At(Clock::time_point start, double seconds) {
    return start + std::chrono::duration_cast<Clock::duration>(Seconds(seconds));
}

TEST(HoldToConfirmTest, SettingsAreReadWithDefaultsAndBoundsAndBadValuesCountAsDefaults) {
    LogCapture log;
    auto read = [](const json& settings) { return HoldToConfirm::Read(settings, "owner", "K1"); };
    EXPECT_FALSE(read(json::object()).enabled);
    EXPECT_FALSE(read(nullptr).enabled);
    EXPECT_DOUBLE_EQ(read(json::object()).seconds, 0.6);
    EXPECT_TRUE(read({{"hold_to_confirm", true}}).enabled);
    EXPECT_DOUBLE_EQ(read({{"hold_to_confirm", true}, {"hold_seconds", 1.25}}).seconds, 1.25);
    EXPECT_DOUBLE_EQ(read({{"hold_to_confirm", true}, {"hold_seconds", 0.01}}).seconds, 0.3);
    EXPECT_DOUBLE_EQ(read({{"hold_to_confirm", true}, {"hold_seconds", 60}}).seconds, 2.0);
    EXPECT_DOUBLE_EQ(read({{"hold_to_confirm", true}, {"hold_seconds", -1}}).seconds, 0.3);

    // Values that read as nothing: the default, and a line that says so.
    // Text reads as the settings pages read it (StoredSettingsTest has every shape).
    EXPECT_FALSE(read({{"hold_to_confirm", "yes"}}).enabled);
    EXPECT_TRUE(read({{"hold_to_confirm", "1"}}).enabled);
    EXPECT_FALSE(read({{"hold_to_confirm", {{"x", 1}}}}).enabled);
    EXPECT_DOUBLE_EQ(read({{"hold_to_confirm", true}, {"hold_seconds", "1.5"}}).seconds, 1.5);
    EXPECT_DOUBLE_EQ(read({{"hold_to_confirm", true}, {"hold_seconds", "1.5s"}}).seconds, 0.6);
    EXPECT_DOUBLE_EQ(read({{"hold_to_confirm", true}, {"hold_seconds", {{"x", 1}}}}).seconds, 0.6);
    EXPECT_EQ(log.LinesContaining("HoldToConfirm::Read").size(), 3u);
}

TEST(HoldToConfirmTest, AHoldActsOnceWhenItsTimeComesAndItsKeyUpDoesNothingMore) {
    HoldToConfirm hold;
    const auto start = Clock::now();
    hold.Press("K1", 0.6, {{"settings", {{"n", 1}}}}, start);
    EXPECT_TRUE(hold.Busy());
    EXPECT_TRUE(hold.TakeConfirmed(At(start, 0.59)).empty());
    EXPECT_NEAR(hold.Progress("K1", At(start, 0.3)).value_or(-1), 0.5, 0.01);

    auto confirmed = hold.TakeConfirmed(At(start, 0.6));
    ASSERT_EQ(confirmed.size(), 1u);
    EXPECT_EQ(confirmed[0].context, "K1");
    EXPECT_EQ(confirmed[0].payload, json({{"settings", {{"n", 1}}}}));  // what the press carried
    EXPECT_TRUE(hold.TakeConfirmed(At(start, 5)).empty());
    EXPECT_FALSE(hold.Progress("K1", At(start, 0.7)));
    EXPECT_FALSE(hold.Busy());  // waiting for the key up needs no ticks

    EXPECT_TRUE(hold.Release("K1", At(start, 3)));  // taken, without a hint
    EXPECT_FALSE(hold.ShowsHint("K1"));
    EXPECT_FALSE(hold.Release("K1", At(start, 3.1)));  // a stray key up is the element's
}

TEST(HoldToConfirmTest, AnEarlyReleaseShowsTheHintForASecondAndNeverActs) {
    HoldToConfirm hold;
    const auto start = Clock::now();
    hold.Press("K1", 0.6, json::object(), start);
    hold.Press("K2", 0.3, json::object(), start);
    EXPECT_TRUE(hold.Release("K1", At(start, 0.5)));
    EXPECT_TRUE(hold.ShowsHint("K1"));
    EXPECT_FALSE(hold.Progress("K1", At(start, 0.5)));

    // The other key keeps its own hold.
    auto confirmed = hold.TakeConfirmed(At(start, 1.0));
    ASSERT_EQ(confirmed.size(), 1u);
    EXPECT_EQ(confirmed[0].context, "K2");

    EXPECT_TRUE(hold.TakeEndedHints(At(start, 1.45)).empty());
    EXPECT_EQ(hold.TakeEndedHints(At(start, 1.5)), std::vector<std::string>{"K1"});
    EXPECT_TRUE(hold.TakeConfirmed(At(start, 9)).empty());
    EXPECT_FALSE(hold.ShowsHint("K1"));

    // A new press during a hint starts a new hold; a cancelled hold never acts.
    hold.Press("K3", 0.6, json::object(), start);
    EXPECT_TRUE(hold.Release("K3", At(start, 0.1)));
    hold.Press("K3", 0.6, json::object(), At(start, 0.2));
    EXPECT_FALSE(hold.ShowsHint("K3"));
    EXPECT_TRUE(hold.Cancel("K3"));
    EXPECT_FALSE(hold.Cancel("K3"));
    EXPECT_TRUE(hold.TakeConfirmed(At(start, 9)).empty());
    EXPECT_FALSE(hold.Release("K3", At(start, 9)));
}

TEST(HoldToConfirmTest, ManyHeldKeysShareTheRedrawsAndEveryKeyGetsItsTurnUntilNoMarkIsLeft) {
    HoldToConfirm hold;
    const auto start = Clock::now();
    for (int i = 0; i < 10; ++i) {
        const std::string key = "K" + std::to_string(i);
        hold.Press(key, 1.0, json::object(), start);
        hold.Drew(key, hold.Mark(key, start));  // the empty bar, drawn at the press
    }
    EXPECT_TRUE(hold.StaleMarks(start, 4).empty()) << "nothing has moved yet";

    // Every fill has moved: four keys at a time, never one again before the others.
    std::set<std::string> drawn;
    const auto later = At(start, 0.5);
    for (int round = 0; round < 3; ++round) {
        const auto keys = hold.StaleMarks(later, 4);
        EXPECT_EQ(keys.size(), round < 2 ? 4u : 2u);
        for (const std::string& key : keys) {
            EXPECT_TRUE(drawn.insert(key).second) << key << " drawn twice";
            hold.Drew(key, hold.Mark(key, later));
        }
    }
    EXPECT_EQ(drawn.size(), 10u);
    EXPECT_TRUE(hold.StaleMarks(At(start, 0.51), 4).empty()) << "a fill redrawn only when it moved a step";

    // Confirmed, released early or cancelled: each fill must still be taken off.
    EXPECT_EQ(hold.TakeConfirmed(At(start, 1.0)).size(), 10u);
    EXPECT_TRUE(hold.Cancel("K9"));
    EXPECT_TRUE(hold.Busy()) << "fills still shown need ticks";
    size_t taken = 0;
    for (auto keys = hold.StaleMarks(At(start, 1.0), 4); !keys.empty();
         keys = hold.StaleMarks(At(start, 1.0), 4)) {
        for (const std::string& key : keys) hold.Drew(key, hold.Mark(key, At(start, 1.0)));
        taken += keys.size();
    }
    EXPECT_EQ(taken, 9u) << "the cancelled key is drawn by whoever cancelled it";
    EXPECT_FALSE(hold.Busy());
}

// The keys behind the manager: time is real, so every bound is a lower bound
// or a generous gate.
class HoldingKeysTest : public ::testing::Test {
protected:
    static constexpr const char* kSkip = "com.vantora.kestrel.alerts-skip";
    static json HoldSettings(double seconds) {
        return {{"hold_to_confirm", true}, {"hold_seconds", seconds}};
    }

    void TearDown() override {
        m_rig.client->Stop();
        m_manager.reset();
        KeyTexts::SetLanguage("en");
    }
    std::shared_ptr<ControlElementBase> AddSkipKey(const json& settings) {
        auto element = std::make_shared<SimpleSingleStateButton>(kSkip, m_rig.client, "alerts_skip.png",
                                                                 MakeCommand("alerts-skip"), json::object());
        Register(element, settings);
        return element;
    }
    void Register(const std::shared_ptr<ControlElementBase>& element, const json& settings) {
        m_manager->AddControlElement(element);
        {
            std::lock_guard<std::recursive_mutex> lock(m_manager->GetMutex());
            element->AddSdContext(&m_host.connection, "K1", {{"settings", settings}});
        }
        m_manager->SignalEventMessage(Event(SystemMessages::kConnected));
        m_manager->SignalEventMessage(SignedIn(true));
        m_manager->SignalEventMessage(Supported(element->GetName(), true));
    }
    // Waits for the host command |event| of K1 that |match| accepts.
    bool WaitForHost(const std::string& event, const std::function<bool(const json&)>& match) {
        const auto deadline = Clock::now() + 10s;
        while (Clock::now() < deadline) {
            for (const json& command : m_host.Sent(event, "K1"))
                if (match(command)) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    FakeHost m_host;
    ControllerRig m_rig;
    std::unique_ptr<ControlElementsManager> m_manager = std::make_unique<ControlElementsManager>();
};

TEST_F(HoldingKeysTest, HeldLongEnoughSendsOneCommandBeforeTheKeyUpAndReleasedEarlySendsNone) {
    AddSkipKey(HoldSettings(0.3));
    const RgbaImage plain = Composed({"alerts_skip.png"});
    ASSERT_TRUE(m_host.WaitForImage("K1", plain));

    const auto pressed = Clock::now();
    m_manager->SignalKeyDown(kSkip, "K1", json::object());
    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    EXPECT_GE(Clock::now() - pressed, 300ms);
    // While held the key showed the time filling up over its image.
    size_t fills = 0;
    for (const json& command : m_host.Sent("setImage", "K1"))
        fills += !SameImage(DecodeSetImage(command), plain);
    EXPECT_GE(fills, 2u);
    EXPECT_TRUE(m_host.WaitForImage("K1", plain));  // and the fill went with the command
    m_manager->SignalKeyUp(kSkip, "K1", json::object());
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(m_rig.transport->Written().size(), 1u);

    // Released early: nothing is sent, the key is dimmed and says "Hold".
    KeyTexts::SetLanguage("de");
    m_host.Clear();
    m_manager->SignalKeyDown(kSkip, "K1", json::object());
    m_manager->SignalKeyUp(kSkip, "K1", json::object());
    auto titles = m_host.Sent("setTitle", "K1");
    ASSERT_EQ(titles.size(), 1u);
    EXPECT_EQ(titles[0]["payload"]["title"], "Halten");
    const auto hint = m_host.LastImage("K1");
    ASSERT_TRUE(hint);
    EXPECT_FALSE(SameImage(hint, plain));
    // After about a second the user's title and the plain key come back.
    EXPECT_TRUE(WaitForHost("setTitle", [](const json& c) { return !c["payload"].contains("title"); }));
    EXPECT_TRUE(m_host.WaitForImage("K1", plain));
    EXPECT_EQ(m_rig.transport->Written().size(), 1u);
}

TEST_F(HoldingKeysTest, ChangedSettingsTheLinkGoingDownAndDisappearingCancelAHold) {
    auto key = AddSkipKey(HoldSettings(0.6));
    const RgbaImage plain = Composed({"alerts_skip.png"});

    // The same settings sent again leave the hold alone; changed ones end it.
    m_manager->SignalKeyDown(kSkip, "K1", json::object());
    m_manager->SignalReceivedSettings(kSkip, "K1", {{"settings", HoldSettings(0.6)}});
    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    m_manager->SignalKeyUp(kSkip, "K1", json::object());
    m_host.Clear();
    m_manager->SignalKeyDown(kSkip, "K1", json::object());
    m_manager->SignalReceivedSettings(kSkip, "K1", {{"settings", HoldSettings(0.7)}});
    EXPECT_TRUE(m_host.WaitForImage("K1", plain));

    // The link goes down while held: nothing now, nothing when it returns.
    m_manager->SignalKeyDown(kSkip, "K1", json::object());
    m_manager->SignalEventMessage(Event(SystemMessages::kDisconnected));
    m_manager->SignalEventMessage(Event(SystemMessages::kConnected));
    m_manager->SignalEventMessage(SignedIn(true));
    m_manager->SignalEventMessage(Supported(kSkip, true));

    // The key disappears while held.
    m_manager->SignalKeyDown(kSkip, "K1", json::object());
    {
        std::lock_guard<std::recursive_mutex> lock(m_manager->GetMutex());
        key->RemoveSdContext(&m_host.connection, "K1");
    }
    std::this_thread::sleep_for(1500ms);  // more than twice the hold
    EXPECT_EQ(m_rig.transport->Written().size(), 1u);
    EXPECT_FALSE(m_manager->FindControlElement(kSkip)->HasTimerWork());

    // A key that holds to confirm but is not on screen does not act at once.
    m_manager->SignalKeyDown(kSkip, "K9", {{"settings", HoldSettings(0.3)}});
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(m_rig.transport->Written().size(), 1u);
}

// The element's own ticks, called here one by one without the manager's timer.
TEST(HeldKeysTest, ATickDrawsAFewOfManyHeldKeysAndEveryKeyEndsPlainWithItsCommandSent) {
    FakeHost host;
    ControllerRig rig;
    const std::string skip = "com.vantora.kestrel.alerts-skip";
    auto element = std::make_shared<SimpleSingleStateButton>(skip, rig.client, "alerts_skip.png",
                                                             MakeCommand("alerts-skip"), json::object());
    constexpr int kKeys = 50;
    for (int i = 0; i < kKeys; ++i)
        element->AddSdContext(&host.connection, "K" + std::to_string(i),
                              {{"settings", {{"hold_to_confirm", true}, {"hold_seconds", 0.3}}}});
    element->HandleEventMessage(Event(SystemMessages::kConnected));
    element->HandleEventMessage(SignedIn(true));
    element->HandleEventMessage(Supported(skip, true));
    element->HandleTimerTick();  // the status drawn
    for (int i = 0; i < kKeys; ++i) element->KeyDown("K" + std::to_string(i), json::object());

    std::this_thread::sleep_for(100ms);  // every fill has moved
    host.Clear();
    element->HandleTimerTick();
    EXPECT_GE(host.Sent("setImage").size(), 1u);
    EXPECT_LE(host.Sent("setImage").size(), 4u) << "one tick redraws a few held keys, not all of them";

    std::this_thread::sleep_for(300ms);  // every hold has completed
    for (int tick = 0; tick < kKeys && element->WantsQuickTicks(); ++tick) element->HandleTimerTick();
    ASSERT_TRUE(rig.transport->WaitForWritten(kKeys));
    EXPECT_FALSE(element->WantsQuickTicks());
    const RgbaImage plain = Composed({"alerts_skip.png"});
    for (int i = 0; i < kKeys; ++i)
        EXPECT_TRUE(SameImage(host.LastImage("K" + std::to_string(i)), plain))
            << "K" << i << " kept its fill";
    rig.client->Stop();
}

TEST_F(HoldingKeysTest, AMultiStateKeySendsTheCommandOfItsStateAndThePumpKeepsItsOwnRules) {
    const std::string streaming = "com.vantora.kestrel.streaming-state";
    auto button = std::make_shared<SimpleMultipleStateButton>(
        streaming, m_rig.client,
        std::vector<std::string>{"streaming_state_off.png", "streaming_state_on.png"},
        std::vector<std::string>{"streaming-state-off", "streaming-state-on"}, false,
        std::vector<CommandBuilder>{MakeCommand("streaming-state-on"), MakeCommand("streaming-state-off")});
    Register(button, HoldSettings(0.3));
    m_manager->SignalKeyDown(streaming, "K1", json::object());
    // The state changes during the hold: the command is the one of the state at the moment it acts.
    m_manager->SignalEventMessage(FunctionState(streaming, "streaming-state-on"));
    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    EXPECT_EQ(m_rig.transport->Written()[0]["payload"]["command"]["name"], "streaming-state-off");

    const std::string pump = "com.vantora.kestrel.emberfall-pump";
    Register(std::make_shared<SimplePumpButton>(
                 pump, m_rig.client, "emberfall_pump.png", std::vector<std::string>{"", ""},
                 std::vector<std::string>{"emberfall_pump1.png", "emberfall_pump2.png"},
                 std::vector<CommandBuilder>{MakePumpLevelCommand("emberfall", 1),
                                             MakePumpLevelCommand("emberfall", 2)}),
             HoldSettings(2));
    m_manager->SignalKeyDown(pump, "K1", {{"settings", HoldSettings(2)}});
    m_manager->SignalKeyUp(pump, "K1", json::object());
    m_manager->SignalKeyDown(pump, "K1", {{"settings", HoldSettings(2)}});
    m_manager->SignalKeyUp(pump, "K1", json::object());
    ASSERT_TRUE(m_rig.transport->WaitForWritten(2));
    EXPECT_EQ(m_rig.transport->Written()[1]["payload"]["command"]["data"], json({{"value", 2u}}));
}

}  // namespace
