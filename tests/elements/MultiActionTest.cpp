// Keys in macros and with their users' own icons: the catalogue's elements
// behind the manager, with the recording host connection and a real
// ControllerClient over the in-memory transport. A Multi Action step is an
// order (the state the user picked), never a toggle; the host's state of a
// two-state key follows the reported one; a step never waits for hold to
// confirm; and a key with own icons leaves its image to the host while it works.

#include <gtest/gtest.h>

#include <thread>

#include "catalogue/ActionCatalogue.h"
#include "elements/CatalogueElements.h"
#include "elements/ControlElementsManager.h"
#include "elements/ElementTestRig.h"
#include "elements/HostKeyState.h"

namespace {

const std::string kStreaming = "com.vantora.kestrel.streaming-state";
const std::string kVideo = "com.vantora.kestrel.media-request-video";
const std::string kSkip = "com.vantora.kestrel.alerts-skip";
const std::string kMute = "com.vantora.kestrel.alerts-mute";
const json kHoldSettings = {{"hold_to_confirm", true}, {"hold_seconds", 2.0}};

// A step of a macro as the Windows application sends it.
json Step(int desiredState) {
    return {{"settings", json::object()}, {"isInMultiAction", true}, {"userDesiredState", desiredState}};
}

class MultiActionTest : public ::testing::Test {
protected:
    void SetUp() override { BuildActionCatalogue(*m_manager, m_rig.client); }
    void TearDown() override {
        m_rig.client->Stop();  // no completion runs after this
        m_manager.reset();
    }
    void Appear(const std::string& action, const std::string& context, const json& payload) {
        m_manager->AddSdContext(action, &m_host.connection, context, payload);
    }
    void Online() {
        m_manager->SignalEventMessage(Event(SystemMessages::kConnected));
        m_manager->SignalEventMessage(SignedIn(true));
        json everything = json::object();
        for (const ActionDescription& action : ActionCatalogue()) everything[action.Id()] = true;
        m_manager->SignalEventMessage(Event(SystemMessages::kSupportFunctions, everything));
    }
    void Report(const std::string& action, const std::string& state) {
        m_manager->SignalEventMessage(FunctionState(action, state));
    }
    // The names of the commands written so far, in order.
    std::vector<std::string> Written() {
        std::vector<std::string> names;
        for (const json& written : m_rig.transport->Written())
            names.push_back(written["payload"]["command"]["name"]);
        return names;
    }
    // The states told to |context| so far, in order.
    std::vector<int> StatesTold(const std::string& context) {
        std::vector<int> states;
        for (const json& command : m_host.Sent("setState", context))
            states.push_back(command["payload"]["state"]);
        return states;
    }
    // The "setImage" commands of |context| without an image: the host's own icon.
    size_t ImagesLeftToHost(const std::string& context) {
        size_t count = 0;
        for (const json& command : m_host.Sent("setImage", context))
            count += command["payload"] == json::object();
        return count;
    }

    FakeHost m_host;
    ControllerRig m_rig;
    std::unique_ptr<ControlElementsManager> m_manager = std::make_unique<ControlElementsManager>();
};

TEST_F(MultiActionTest, AStepSendsTheCommandOfThePickedStateWhateverTheKeyShows) {
    Appear(kStreaming, "S1", {{"isInMultiAction", true}, {"state", 0}});
    Appear(kVideo, "V1", {{"isInMultiAction", true}});
    Online();

    Report(kStreaming, "streaming-state-on");
    m_manager->SignalKeyDown(kStreaming, "S1", Step(1));  // live already: on again, never off
    m_manager->SignalKeyDown(kStreaming, "S1", Step(0));
    Report(kStreaming, "streaming-state-off");
    m_manager->SignalKeyDown(kStreaming, "S1", Step(0));  // not live: off again, never on
    m_manager->SignalKeyDown(kStreaming, "S1", Step(1));
    ASSERT_TRUE(m_rig.transport->WaitForWritten(4));
    EXPECT_EQ(Written(), (std::vector<std::string>{"streaming-state-on", "streaming-state-off",
                                                   "streaming-state-off", "streaming-state-on"}));

    // A step that names no state (OpenDeck's macros) presses the key as it
    // shows; one whose state cannot be read sends nothing at all.
    m_manager->SignalKeyDown(kStreaming, "S1", {{"isInMultiAction", true}, {"userDesiredState", 2}});
    m_manager->SignalKeyDown(kStreaming, "S1", {{"isInMultiAction", true}, {"userDesiredState", "1"}});
    m_manager->SignalKeyDown(kStreaming, "S1", {{"isInMultiAction", true}, {"state", 0}});
    // The video key has one host state: a picked state means nothing to it.
    m_manager->SignalKeyDown(kVideo, "V1", Step(1));
    ASSERT_TRUE(m_rig.transport->WaitForWritten(6));
    std::this_thread::sleep_for(200ms);
    const std::vector<std::string> written = Written();
    ASSERT_EQ(written.size(), 6u);
    EXPECT_EQ(written[4], "streaming-state-on");
    EXPECT_EQ(written[5], "media-request-video-off");
}

TEST_F(MultiActionTest, TheHostsStateOfEveryTwoStateKeyFollowsTheReportedStateOncePerChange) {
    Appear(kStreaming, "K1", {{"state", 0}});
    Appear(kStreaming, "K2", {{"state", 1}});  // the host shows another state: corrected
    Appear(kStreaming, "K3", json::object());  // none known: told
    Appear(kVideo, "V1", {{"state", 1}});
    Appear(kSkip, "A1", {{"state", 1}});
    Online();
    EXPECT_EQ(StatesTold("K1"), std::vector<int>{});
    EXPECT_EQ(StatesTold("K2"), std::vector<int>{0});
    EXPECT_EQ(StatesTold("K3"), std::vector<int>{0});

    Report(kStreaming, "streaming-state-on");
    Report(kStreaming, "streaming-state-on");  // the same state again: nothing to tell
    m_manager->RemoveSdContext(kStreaming, &m_host.connection, "K3");
    Report(kStreaming, "streaming-state-off");
    Report(kStreaming, "streaming-state-on");
    EXPECT_EQ(StatesTold("K1"), (std::vector<int>{1, 0, 1}));
    EXPECT_EQ(StatesTold("K2"), (std::vector<int>{0, 1, 0, 1}));
    EXPECT_EQ(StatesTold("K3"), (std::vector<int>{0, 1}));

    // A host that flipped the key by itself says so in the key event; the
    // key is set right again.
    m_manager->SignalKeyDown(kStreaming, "K1", {{"settings", json::object()}, {"state", 0}});
    EXPECT_EQ(StatesTold("K1"), (std::vector<int>{1, 0, 1, 1}));

    // Keys of actions with one host state are never told one.
    Report(kVideo, "media-request-video-on");
    EXPECT_TRUE(m_host.Sent("setState", "V1").empty());
    EXPECT_TRUE(m_host.Sent("setState", "A1").empty());
}

TEST_F(MultiActionTest, HoldToConfirmNeverHoldsBackAStepAndAKeyDownWithoutKeyUpLeavesNoHeldLook) {
    Appear(kSkip, "S1", {{"settings", kHoldSettings}, {"isInMultiAction", true}});
    Appear(kSkip, "K1", {{"settings", kHoldSettings}});
    Online();
    ASSERT_TRUE(m_host.WaitForImage("K1", Composed({"alerts_skip.png"})));

    // The host lets go of a step about 100 ms after pressing it: before the
    // two seconds of the hold, which must not count for a step.
    m_manager->SignalKeyDown(kSkip, "S1", {{"settings", kHoldSettings}, {"isInMultiAction", true}});
    std::this_thread::sleep_for(100ms);
    m_manager->SignalKeyUp(kSkip, "S1", {{"settings", kHoldSettings}, {"isInMultiAction", true}});
    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    EXPECT_EQ(Written(), std::vector<std::string>{"alerts-skip"});
    for (const json& title : m_host.Sent("setTitle", "S1")) EXPECT_FALSE(title["payload"].contains("title"));

    // OpenDeck's toggle action presses without letting go. A step acts at
    // once; a held key acts after its time, and both look as before.
    m_host.Clear();
    m_manager->SignalKeyDown(kSkip, "S1", {{"settings", kHoldSettings}, {"isInMultiAction", true}});
    m_manager->SignalKeyDown(kSkip, "K1", {{"settings", kHoldSettings}});
    ASSERT_TRUE(m_rig.transport->WaitForWritten(3, 10s));
    // The status drawn at the first tick may reach the keys only now; a step
    // shows nothing but its plain face.
    for (const json& image : m_host.Sent("setImage", "S1"))
        EXPECT_TRUE(SameImage(DecodeSetImage(image), Composed({"alerts_skip.png"})))
            << "a step is never drawn held";
    EXPECT_TRUE(m_host.WaitForImage("K1", Composed({"alerts_skip.png"})));
    std::this_thread::sleep_for(300ms);  // a few ticks: the held look must not come back
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"), Composed({"alerts_skip.png"})));
}

TEST_F(MultiActionTest, ADialPushInAMacroActsAtOnce) {
    const std::string level = "com.vantora.kestrel.media-request-set-volume-level";
    Appear(level, "D1", {{"settings", kHoldSettings}, {"controller", "Encoder"}});
    Online();
    m_manager->SignalDialDown(level, "D1", {{"isInMultiAction", true}});
    m_manager->SignalDialUp(level, "D1", {{"isInMultiAction", true}});
    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    EXPECT_EQ(Written(), std::vector<std::string>{"media-request-mute-on"});
}

TEST_F(MultiActionTest, OwnIconsAreLeftToTheHostWhileTheKeyWorksAndComeBackAfterABadge) {
    Appear(kMute, "OWN", {{"settings", {{"own_icons", true}}}, {"state", 0}});
    Appear(kMute, "PLAIN", {{"state", 0}});
    ASSERT_TRUE(m_host.WaitForImage("OWN", Composed({"alerts_mute_on.png", "state_offline.png"})));

    m_host.Clear();
    Online();
    ASSERT_TRUE(m_host.WaitForImage("PLAIN", Composed({"alerts_mute_on.png"})));
    Report(kMute, "alerts-mute-on");
    ASSERT_TRUE(m_host.WaitForImage("PLAIN", Composed({"alerts_mute_off.png"})));
    EXPECT_EQ(StatesTold("OWN"), std::vector<int>{1});
    // Once empty, then nothing but the state: the host shows the user's icon.
    auto images = m_host.Sent("setImage", "OWN");
    EXPECT_EQ(ImagesLeftToHost("OWN"), 1u);
    EXPECT_EQ(images.back()["payload"], json::object());

    // A refused command: the host's own mark, not an image over the user's icon.
    m_rig.transport->RefuseWrites(true);
    m_manager->SignalKeyDown(kMute, "OWN", json::object());
    ASSERT_TRUE(m_host.WaitForImage("PLAIN", Composed({"alerts_mute_off.png", "state_alert.png"})));
    EXPECT_EQ(m_host.Sent("showAlert", "OWN").size(), 1u);
    EXPECT_EQ(m_host.Sent("setImage", "OWN").size(), images.size());
    m_rig.transport->RefuseWrites(false);

    // Offline it says why on its own image; back online the user's icons return.
    m_manager->SignalEventMessage(Event(SystemMessages::kDisconnected));
    ASSERT_TRUE(m_host.WaitForImage("OWN", Composed({"alerts_mute_off.png", "state_offline.png"})));
    m_host.Clear();
    Online();
    ASSERT_TRUE(m_host.WaitForImage("PLAIN", Composed({"alerts_mute_off.png"})));
    EXPECT_EQ(ImagesLeftToHost("OWN"), 1u);
    EXPECT_EQ(m_host.Sent("setImage", "OWN").back()["payload"], json::object());

    // Switched off on the settings page: the plug-in's image at once. A value
    // that is not a boolean counts as off.
    m_manager->SignalReceivedSettings(kMute, "OWN", {{"settings", {{"own_icons", false}}}});
    EXPECT_TRUE(SameImage(m_host.LastImage("OWN"), Composed({"alerts_mute_off.png"})));
    m_manager->SignalReceivedSettings(kMute, "OWN", {{"settings", {{"own_icons", "yes"}}}});
    EXPECT_EQ(ImagesLeftToHost("OWN"), 1u);
    m_manager->SignalReceivedSettings(kMute, "OWN", {{"settings", {{"own_icons", "1"}}}});
    EXPECT_EQ(ImagesLeftToHost("OWN"), 2u);
}

TEST(HostKeyStateTest, KeysNotOnScreenGetNoRecordAndOnlyAWholeZeroOrOneIsAState) {
    HostKeyState keys;
    keys.Heard("X", {{"state", 1}});
    keys.SetImageLeft("X", true);
    EXPECT_FALSE(keys.Tell("X", 1));
    EXPECT_EQ(keys.RecordCount(), 0u);

    for (const json& state : {json(2), json(-1), json(0.5), json("1"), json(nullptr)}) {
        keys.Appear("K", {{"state", state}});
        EXPECT_TRUE(keys.Tell("K", 0)) << state;
    }
    keys.Appear("K", {{"state", 1}});
    EXPECT_FALSE(keys.Tell("K", 1));
    keys.Heard("K", {{"state", 7}});
    EXPECT_FALSE(keys.Tell("K", 1));
    keys.Forget("K");
    EXPECT_EQ(keys.RecordCount(), 0u);
}

}  // namespace
