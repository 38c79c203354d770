// Volume on a dial: the pacing of turns step by step, then the catalogue's
// dial actions under the element manager with a recording host and an
// in-memory controller link.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "catalogue/ActionCatalogue.h"
#include "elements/CatalogueElements.h"
#include "elements/ControlElementsManager.h"
#include "elements/DialPacer.h"
#include "elements/ElementTestRig.h"

namespace {

using Clock = DialPacer::Clock;

TEST(DialPacerTest, AQuickTurnSendsAtOnceThenOncePerPaceAndLosesNoTick) {
    DialPacer pacer;
    const Clock::time_point start{};
    std::vector<std::pair<Clock::time_point, int32_t>> sent;
    // 60 ticks, one every 5 ms (300 ms of turning), the timer looking every 5 ms.
    for (int i = 0; i < 60; ++i) {
        const auto now = start + std::chrono::milliseconds(5 * i);
        if (auto ticks = pacer.Turn("D", 1, now)) sent.emplace_back(now, *ticks);
        for (const auto& [context, ticks] : pacer.TakeDue(now)) sent.emplace_back(now, ticks);
    }
    const auto end = start + std::chrono::milliseconds(300);
    ASSERT_TRUE(pacer.MsUntilDue(end));
    EXPECT_LE(*pacer.MsUntilDue(end), 100);
    for (const auto& [context, ticks] : pacer.TakeDue(end + DialPacer::kPace)) sent.emplace_back(end, ticks);

    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), std::make_pair(start, 1)) << "the first tick goes out at once";
    int32_t total = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        total += sent[i].second;
        if (i > 0) {
            EXPECT_GE(sent[i].first - sent[i - 1].first, DialPacer::kPace) << "send " << i;
        }
    }
    EXPECT_EQ(total, 60);
    EXPECT_LE(sent.size(), 5u);
    EXPECT_FALSE(pacer.MsUntilDue(end + DialPacer::kPace)) << "nothing waits after the last send";
}

TEST(DialPacerTest, TurnsCancellingOutAreStillDueAndForgottenDialsSendNothing) {
    DialPacer pacer;
    const Clock::time_point start{};
    ASSERT_EQ(pacer.Turn("A", 2, start), 2);
    ASSERT_EQ(pacer.Turn("B", -1, start), -1);
    EXPECT_FALSE(pacer.Turn("A", 3, start + 10ms));
    EXPECT_FALSE(pacer.Turn("A", -3, start + 20ms));
    EXPECT_FALSE(pacer.Turn("B", -4, start + 30ms));
    EXPECT_TRUE(pacer.TakeDue(start + 99ms).empty()) << "before the pace has passed";
    pacer.Forget("B");
    const auto due = pacer.TakeDue(start + 100ms);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0], std::make_pair(std::string("A"), 0)) << "the last level must still go out";
    // A dial left alone for a pace turns at once again.
    EXPECT_EQ(pacer.Turn("A", 1, start + 200ms), 1);
}

const std::string kLevel = std::string(kActionPrefix) + "media-request-set-volume-level";
const std::string kUp = std::string(kActionPrefix) + "media-request-nudge-volume-up";
const std::string kDown = std::string(kActionPrefix) + "media-request-nudge-volume-down";
const std::string kMute = std::string(kActionPrefix) + kMuteAction;
const json kDialAppears = {{"controller", "Encoder"}, {"settings", json::object()}};

class DialElementTest : public ::testing::Test {
protected:
    void SetUp() override {
        BuildActionCatalogue(*m_manager, m_rig.client);
        m_manager->SignalEventMessage(Event(SystemMessages::kConnected));
        m_manager->SignalEventMessage(SignedIn(true));
        m_manager->SignalEventMessage(
            Event(SystemMessages::kSupportFunctions, {{kLevel, true}, {kUp, true}, {kDown, true}}));
    }
    void TearDown() override {
        m_rig.client->Stop();
        m_manager.reset();
    }
    // The commands written so far with this name, as their "data".
    std::vector<json> Written(const std::string& name) {
        std::vector<json> data;
        for (const json& message : m_rig.transport->Written())
            if (message["payload"]["command"]["name"] == name)
                data.push_back(message["payload"]["command"]["data"]);
        return data;
    }
    // Waits until a command with this name carries |data|.
    bool WaitForData(const std::string& name, const json& data) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            for (const json& sent : Written(name))
                if (sent == data) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    // Waits until the host was asked to flash |count| alerts in all.
    bool WaitForAlerts(size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (m_host.Sent("showAlert").size() < count) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }
    json LastFeedback(const std::string& context) {
        auto sent = m_host.Sent("setFeedback", context);
        return sent.empty() ? json() : sent.back()["payload"];
    }
    // Waits until the strip of |context| shows the bar at |level|, fully drawn.
    bool WaitForBar(const std::string& context, int level) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            const json bar = LastFeedback(context)["indicator"];
            if (bar["value"] == level && bar["opacity"] == 1.0) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    FakeHost m_host;
    ControllerRig m_rig;
    std::unique_ptr<ControlElementsManager> m_manager = std::make_unique<ControlElementsManager>();
};

TEST_F(DialElementTest, AFastTurnSendsTheFirstLevelAtOnceAndTheLastExactlyAndTheKeyStaysApart) {
    m_manager->AddSdContext(kLevel, &m_host.connection, "D1", kDialAppears);
    m_manager->AddSdContext(kLevel, &m_host.connection, "K1", json::object());
    EXPECT_EQ(m_host.Sent("setFeedbackLayout", "D1").size(), 1u);
    EXPECT_EQ(m_host.Sent("setTriggerDescription", "D1").size(), 1u);
    EXPECT_TRUE(m_host.Sent("setImage", "D1").empty()) << "a dial gets its strip, not a key image";

    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i) m_manager->SignalDialRotate(kLevel, "D1", json::object(), 1);
    const auto turning = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(
        WaitForData("media-request-set-volume-level-percent", {{"auto_unmute", true}, {"value", 100}}));
    std::this_thread::sleep_for(300ms);  // nothing more may follow
    const auto sent = Written("media-request-set-volume-level-percent");
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), json({{"auto_unmute", true}, {"value", 75}})) << "70 and one step of 5";
    EXPECT_EQ(sent.back(), json({{"auto_unmute", true}, {"value", 100}})) << "clamped at 100";
    EXPECT_LE(sent.size(), 2u + static_cast<size_t>(turning / DialPacer::kPace)) << "no command per tick";
    // The level is stored with the host, and the strip shows it.
    const auto stored = m_host.Sent("setSettings", "D1");
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(stored.back()["payload"]["volume_value"], 100);
    EXPECT_EQ(LastFeedback("D1")["value"], "100 %");
    EXPECT_EQ(LastFeedback("D1")["indicator"], json({{"value", 100}, {"opacity", 1.0}}));

    // Turned back below zero: clamped at 0. The key of the same action keeps its own level.
    m_manager->SignalDialRotate(kLevel, "D1", json::object(), -1000);
    ASSERT_TRUE(WaitForData("media-request-set-volume-level-percent", {{"auto_unmute", true}, {"value", 0}}));
    m_manager->SignalKeyDown(kLevel, "K1", json::object());
    EXPECT_TRUE(
        WaitForData("media-request-set-volume-level-percent", {{"auto_unmute", true}, {"value", 70}}));
    EXPECT_TRUE(m_host.Sent("setFeedback", "K1").empty());
}

// The settings page of a level dial is open while the dial turns. The page
// saves its whole copy whenever the streamer changes anything on it.
TEST_F(DialElementTest, AnOpenPageHearsEveryLevelAndASaveThatKeptItsLevelCannotMoveItBack) {
    const std::string command = "media-request-set-volume-level-percent";
    m_manager->AddSdContext(
        kLevel, &m_host.connection, "D1",
        {{"controller", "Encoder"}, {"settings", {{"volume_value", 50}, {"dial_step", 1}}}});
    m_manager->SignalRequestPropertyInspectorDataFromPlugin(kLevel, "D1");
    auto pageCopies = [&] {  // what the page was sent, in order
        std::vector<json> copies;
        for (const json& sent : m_host.Sent("sendToPropertyInspector", "D1"))
            copies.push_back(sent["payload"]["settings"]);
        return copies;
    };
    ASSERT_EQ(pageCopies().back()["volume_value"], 50);

    for (int i = 0; i < 20; ++i) m_manager->SignalDialRotate(kLevel, "D1", json::object(), 1);
    ASSERT_TRUE(WaitForData(command, {{"auto_unmute", true}, {"value", 70}}));
    const std::vector<json> copies = pageCopies();
    EXPECT_EQ(copies.back()["volume_value"], 70) << "the page holds the level the dial set";
    auto mid =
        std::find_if(copies.begin(), copies.end(), [](const json& c) { return c["volume_value"] == 60; });
    ASSERT_NE(mid, copies.end()) << "the page heard the levels on the way";

    // The page saves another setting from the copy it was sent last.
    json save = copies.back();
    save["dial_step"] = 2;
    m_manager->SignalReceivedSettings(kLevel, "D1", {{"settings", save}});
    EXPECT_EQ(m_host.Sent("setSettings", "D1").back()["payload"]["volume_value"], 70);
    EXPECT_EQ(LastFeedback("D1")["value"], "70 %");
    m_manager->SignalDialRotate(kLevel, "D1", json::object(), 1);
    ASSERT_TRUE(WaitForData(command, {{"auto_unmute", true}, {"value", 72}})) << "no jump back to 50";

    // A save made from a copy the page had during the turns (it crossed the
    // later levels on their way): its own change is taken, the level stays.
    save = *mid;
    save["dial_step"] = 3;
    m_manager->SignalReceivedSettings(kLevel, "D1", {{"settings", save}});
    json stored = m_host.Sent("setSettings", "D1").back()["payload"];
    EXPECT_EQ(stored["volume_value"], 72);
    EXPECT_EQ(stored["dial_step"], 3);
    EXPECT_EQ(pageCopies().back()["volume_value"], 72) << "and the page is set right";

    // A level the streamer sets on the page is taken, and the strip shows it.
    save = pageCopies().back();
    save["volume_value"] = 30;
    m_manager->SignalReceivedSettings(kLevel, "D1", {{"settings", save}});
    EXPECT_EQ(m_host.Sent("setSettings", "D1").back()["payload"]["volume_value"], 30);
    EXPECT_EQ(LastFeedback("D1")["value"], "30 %");
}

TEST_F(DialElementTest, PushAndTouchToggleMuteAsReportedAndTheStripShowsIt) {
    m_manager->AddSdContext(kLevel, &m_host.connection, "D1", kDialAppears);
    m_manager->SignalDialDown(kLevel, "D1", json::object());
    m_manager->SignalDialUp(kLevel, "D1", json::object());
    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    EXPECT_EQ(Written("media-request-mute-on").size(), 1u);

    m_manager->SignalEventMessage(FunctionState(kMute, "media-request-mute-on"));
    EXPECT_EQ(LastFeedback("D1")["value"], "Muted");
    EXPECT_EQ(LastFeedback("D1")["icon"]["value"], DialIcon(kMuteAction) + ".png");
    m_manager->SignalTouchTap(kLevel, "D1", json::object(), false);
    ASSERT_TRUE(m_rig.transport->WaitForWritten(2));
    EXPECT_EQ(Written("media-request-mute-off").size(), 1u);

    // With hold to confirm, a short tap does nothing; a long touch acts.
    m_manager->SignalReceivedSettings(kLevel, "D1", {{"settings", {{"hold_to_confirm", true}}}});
    m_manager->SignalTouchTap(kLevel, "D1", json::object(), false);
    m_manager->SignalTouchTap(kLevel, "D1", json::object(), true);
    ASSERT_TRUE(m_rig.transport->WaitForWritten(3));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Written("media-request-mute-off").size(), 2u);
    EXPECT_EQ(m_rig.transport->Written().size(), 3u);
}

TEST_F(DialElementTest, NudgeDialSendsOneNudgePerPaceInTheTurnsNetDirection) {
    m_manager->AddSdContext(kUp, &m_host.connection, "D2",
                            {{"controller", "Encoder"}, {"settings", {{"volume_step", 3}}}});
    const auto started = std::chrono::steady_clock::now();
    m_manager->SignalDialRotate(kUp, "D2", json::object(), -2);
    // Within the same pace: +5 and -1 leave one nudge up of 4 ticks.
    m_manager->SignalDialRotate(kUp, "D2", json::object(), 5);
    m_manager->SignalDialRotate(kUp, "D2", json::object(), -1);
    const bool withinPace = std::chrono::steady_clock::now() - started < DialPacer::kPace;
    ASSERT_TRUE(m_rig.transport->WaitForWritten(2));
    EXPECT_EQ(Written("media-request-nudge-volume-down"),
              std::vector<json>({{{"auto_unmute", true}, {"step", 6}}}))
        << "a turn against an up dial nudges down, by the nudge step per tick";
    if (!withinPace) GTEST_SKIP() << "the machine was too slow to keep the turns within one pace";
    EXPECT_EQ(Written("media-request-nudge-volume-up"),
              std::vector<json>({{{"auto_unmute", true}, {"step", 12}}}));
    EXPECT_EQ(LastFeedback("D2")["value"], "+3 %");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(m_rig.transport->Written().size(), 2u) << "one nudge for the whole pace";
}

TEST_F(DialElementTest, NudgeDialsShowTheirSignedStepAndTheVolumeOnlyOnceItIsKnown) {
    m_manager->AddSdContext(kUp, &m_host.connection, "UP", kDialAppears);
    m_manager->AddSdContext(kDown, &m_host.connection, "DOWN", kDialAppears);
    m_manager->AddSdContext(kLevel, &m_host.connection, "LEVEL", json::object());
    m_manager->AddSdContext(kDown, &m_host.connection, "DOWNKEY", json::object());
    for (const std::string dial : {"UP", "DOWN"}) {
        const json strip = LastFeedback(dial);
        EXPECT_EQ(strip["indicator"]["opacity"], 0.0) << dial << ": no volume known yet, so no bar at 0 %";
    }
    EXPECT_EQ(LastFeedback("UP")["value"], "+10 %");
    EXPECT_EQ(LastFeedback("DOWN")["value"], "\u221210 %") << "a minus sign, not a hyphen";
    EXPECT_EQ(LastFeedback("UP")["icon"]["value"], DialIcon("media-request-nudge-volume-up") + ".png");
    EXPECT_EQ(LastFeedback("DOWN")["icon"]["value"], DialIcon("media-request-nudge-volume-down") + ".png");

    // A refused level teaches nothing; the level key's press, once taken, does.
    m_rig.transport->RefuseWrites(true);
    const size_t keyImages = m_host.Sent("setImage", "LEVEL").size();
    m_manager->SignalKeyDown(kLevel, "LEVEL", {{"settings", {{"volume_value", 20}}}});
    m_manager->SignalKeyUp(kLevel, "LEVEL", {{"settings", {{"volume_value", 20}}}});
    const auto refusedBy = std::chrono::steady_clock::now() + 10s;
    while (m_host.Sent("setImage", "LEVEL").size() == keyImages &&
           std::chrono::steady_clock::now() < refusedBy)
        std::this_thread::sleep_for(10ms);
    ASSERT_GT(m_host.Sent("setImage", "LEVEL").size(), keyImages) << "the key shows its alert mark";
    EXPECT_EQ(LastFeedback("UP")["indicator"]["opacity"], 0.0);
    m_rig.transport->RefuseWrites(false);
    m_manager->SignalKeyDown(kLevel, "LEVEL", {{"settings", {{"volume_value", 40}}}});
    m_manager->SignalKeyUp(kLevel, "LEVEL", {{"settings", {{"volume_value", 40}}}});
    EXPECT_TRUE(WaitForBar("UP", 40));
    EXPECT_TRUE(WaitForBar("DOWN", 40));
    EXPECT_EQ(LastFeedback("DOWN")["value"], "\u221210 %") << "the text keeps the step";

    // Taken nudges move it: the up dial's turn by 2 ticks of 10, then a press
    // of the down key with its own step of 15.
    m_manager->SignalDialRotate(kUp, "UP", json::object(), 2);
    EXPECT_TRUE(WaitForBar("DOWN", 60));
    m_manager->SignalKeyDown(kDown, "DOWNKEY", {{"settings", {{"volume_step", 15}}}});
    m_manager->SignalKeyUp(kDown, "DOWNKEY", {{"settings", {{"volume_step", 15}}}});
    EXPECT_TRUE(WaitForBar("UP", 45));

    // With the link gone the streaming software may come back at another volume.
    m_manager->SignalEventMessage(Event(SystemMessages::kDisconnected));
    m_manager->SignalEventMessage(Event(SystemMessages::kConnected));
    m_manager->SignalEventMessage(SignedIn(true));
    // A dropped link forgets what the controller offers; it says so again.
    m_manager->SignalEventMessage(Event(SystemMessages::kSupportFunctions, {{kUp, true}}));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (LastFeedback("UP")["value"] != "+10 %" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(LastFeedback("UP")["value"], "+10 %");
    EXPECT_EQ(LastFeedback("UP")["indicator"]["opacity"], 0.0) << "the volume is unknown again";
}

TEST_F(DialElementTest, OfflineTheStripSaysSoAndHeldBackTurnsAreDropped) {
    m_manager->AddSdContext(kLevel, &m_host.connection, "D1", kDialAppears);
    m_manager->SignalDialRotate(kLevel, "D1", json::object(), 1);
    m_manager->SignalDialRotate(kLevel, "D1", json::object(), 1);  // held back for a pace
    m_manager->SignalEventMessage(Event(SystemMessages::kDisconnected));
    m_manager->SignalDialRotate(kLevel, "D1", json::object(), 1);
    m_manager->SignalDialDown(kLevel, "D1", json::object());
    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(Written("media-request-set-volume-level-percent"),
              std::vector<json>({{{"auto_unmute", true}, {"value", 75}}}));
    EXPECT_EQ(m_rig.transport->Written().size(), 1u);
    // Drawn at the timer's tick; the strip is dimmed and says why.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (LastFeedback("D1")["value"] != "Offline" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    const json strip = LastFeedback("D1");
    EXPECT_EQ(strip["value"], "Offline");
    EXPECT_EQ(strip["indicator"]["value"], 75) << "the level that went out, not the one held back";
    EXPECT_LT(strip["indicator"]["opacity"].get<double>(), 0.5);
    EXPECT_LT(strip["icon"]["opacity"].get<double>(), 0.5);
    // Drawn once: the ticks that follow send the same strip no more.
    const size_t shown = m_host.Sent("setFeedback", "D1").size();
    m_manager->RedrawAll();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(m_host.Sent("setFeedback", "D1").size(), shown + 1) << "after waking, once again and no more";
}

TEST_F(DialElementTest, ACommandTheControllerDoesNotTakeFlashesThatDialsStripOnly) {
    m_manager->AddSdContext(kLevel, &m_host.connection, "D1", kDialAppears);
    m_manager->AddSdContext(kLevel, &m_host.connection, "K1", json::object());
    m_manager->AddSdContext(kUp, &m_host.connection, "D2", kDialAppears);
    // Taken: a turn of each dial and a push.
    m_manager->SignalDialRotate(kLevel, "D1", json::object(), 1);
    m_manager->SignalDialRotate(kUp, "D2", json::object(), -1);
    m_manager->SignalDialDown(kLevel, "D1", json::object());
    m_manager->SignalDialUp(kLevel, "D1", json::object());
    ASSERT_TRUE(m_rig.transport->WaitForWritten(3));

    m_rig.transport->RefuseWrites(true);
    m_manager->SignalDialRotate(kLevel, "D1", json::object(), 2);
    ASSERT_TRUE(WaitForAlerts(1)) << "a refused turn";
    EXPECT_EQ(m_host.Sent("showAlert", "D1"),
              std::vector<json>({{{"event", "showAlert"}, {"context", "D1"}}}));
    // The refused 85 % never reached the controller: the strip and the stored
    // settings go back to the 75 % it took, and the next turn starts there.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (LastFeedback("D1")["value"] != "75 %" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(LastFeedback("D1")["value"], "75 %");
    EXPECT_EQ(m_host.Sent("setSettings", "D1").back()["payload"]["volume_value"], 75);
    m_manager->SignalTouchTap(kUp, "D2", json::object(), false);
    ASSERT_TRUE(WaitForAlerts(2)) << "a refused push";
    std::this_thread::sleep_for(300ms);  // the timer's ticks add nothing
    EXPECT_EQ(m_host.Sent("showAlert", "D1").size(), 1u);
    EXPECT_EQ(m_host.Sent("showAlert", "D2").size(), 1u);
    EXPECT_EQ(m_host.Sent("showAlert").size(), 2u) << "nothing for the key or for taken commands";
    m_rig.transport->RefuseWrites(false);
    m_manager->SignalDialRotate(kLevel, "D1", json::object(), 1);
    EXPECT_TRUE(
        WaitForData("media-request-set-volume-level-percent", {{"auto_unmute", true}, {"value", 80}}));
}

TEST_F(DialElementTest, DialEventsOfKeysOrUnknownContextsChangeNothing) {
    m_manager->AddSdContext(kLevel, &m_host.connection, "K1", json::object());
    m_manager->SignalDialRotate(kLevel, "K1", json::object(), 3);
    m_manager->SignalDialRotate(kLevel, "nowhere", json::object(), 3);
    m_manager->SignalDialDown(kLevel, "K1", json::object());
    m_manager->SignalTouchTap(kLevel, "nowhere", json::object(), false);
    // A key-only action that appears as a dial stays a key.
    const std::string skip = std::string(kActionPrefix) + "alerts-skip";
    m_manager->AddSdContext(skip, &m_host.connection, "S1", kDialAppears);
    m_manager->SignalDialRotate(skip, "S1", json::object(), 1);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(m_rig.transport->Written().empty());
    EXPECT_TRUE(m_host.Sent("setFeedback").empty());
    EXPECT_TRUE(m_host.Sent("setSettings").empty());
}

}  // namespace
