// The element base on its own thread, with the recording host connection:
// settings merging, the status and transient overlays as they reach the key
// image, the property inspector's data, and the controller's status reports.

#include <gtest/gtest.h>

#include <thread>

#include "elements/ControlElementBase.h"
#include "elements/ElementTestRig.h"

namespace {

const std::string kName = "com.vantora.kestrel.test-key";

class ControlElementBaseTest : public ::testing::Test {
protected:
    std::shared_ptr<ControlElementBase> MakeElement(const json& defaults = {{"a", 0}, {"b", 2}}) {
        auto element = std::make_shared<ControlElementBase>(kName, defaults);
        element->SetImageFromFile("alerts_skip.png");
        return element;
    }
    // Sets the element's three flags through controller events.
    static void Report(ControlElementBase& element, bool connected, bool signedIn, bool supported) {
        element.HandleEventMessage(
            Event(connected ? SystemMessages::kConnected : SystemMessages::kDisconnected));
        element.HandleEventMessage(SignedIn(signedIn));
        element.HandleEventMessage(Supported(kName, supported));
    }

    FakeHost m_host;
};

TEST_F(ControlElementBaseTest, AppearingKeyStartsFromTheDefaultsWithItsOwnSettingsOnTop) {
    auto element = MakeElement();
    element->AddSdContext(&m_host.connection, "K1", {{"settings", {{"a", 1}, {"c", {{"x", 1}}}}}});
    EXPECT_EQ(element->GetContextSettings("K1", nullptr), json({{"a", 1}, {"b", 2}, {"c", {{"x", 1}}}}));
    EXPECT_EQ(m_host.Sent("getSettings", "K1").size(), 1u);
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"), Composed({"alerts_skip.png"})));

    // The merge is shallow with exact keys: a nested object is replaced whole.
    auto merged = element->GetContextSettings("K1", {{"settings", {{"c", {{"y", 2}}}, {"A", 5}}}});
    EXPECT_EQ(merged, json({{"a", 1}, {"A", 5}, {"b", 2}, {"c", {{"y", 2}}}}));

    // A key that appears again starts again from the defaults.
    element->AddSdContext(&m_host.connection, "K1", json::object());
    EXPECT_EQ(element->GetContextSettings("K1", nullptr), json({{"a", 0}, {"b", 2}}));

    // Settings that are neither an object nor null are refused by the JSON library.
    EXPECT_THROW(element->GetContextSettings("K1", {{"settings", 5}}), json::invalid_iterator);
    EXPECT_NO_THROW(element->GetContextSettings("K1", {{"settings", nullptr}}));
}

TEST_F(ControlElementBaseTest, ReceivedSettingsAreMergedEchoedAndShownToThePropertyInspector) {
    auto element = MakeElement();
    // A key that the host shows again without a willDisappear is still one
    // key: one record, one echo and one inspector message per change.
    for (int i = 0; i < 200; ++i) element->AddSdContext(&m_host.connection, "K1", json::object());
    EXPECT_EQ(element->RecordCount(), 3u);  // its listing, settings and image
    element->HandlePropertyInspectorRequest("K1");
    m_host.Clear();
    element->HandleReceivedSettings("K1", {{"settings", {{"a", "7"}}}});
    auto stored = m_host.Sent("setSettings", "K1");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]["payload"], json({{"a", "7"}, {"b", 2}}));
    auto inspector = m_host.Sent("sendToPropertyInspector", "K1");
    ASSERT_EQ(inspector.size(), 1u);
    EXPECT_EQ(inspector[0]["payload"],
              json::parse(R"({"settings":{"a":"7","b":2},"state":{"id":"offline"}})"));

    // Payloads without "settings" change and send nothing.
    m_host.Clear();
    element->HandleReceivedSettings("K1", json::object());
    element->HandleReceivedSettings("K1", nullptr);
    element->HandleReceivedSettings("K1", json::array({1}));
    EXPECT_EQ(m_host.Count(), 0u);

    // Once it has gone, nothing of it is left.
    element->RemoveSdContext(&m_host.connection, "K1");
    EXPECT_EQ(element->RecordCount(), 0u);
}

TEST_F(ControlElementBaseTest, NothingIsKeptOrSentForKeysThatAreNotOnScreen) {
    // The host sends the settings again with the key's willAppear, so events
    // for other keys are ignored; a flood of them must not grow the element.
    auto element = MakeElement();
    element->AddSdContext(&m_host.connection, "shown", json::object());
    const size_t records = element->RecordCount();
    m_host.Clear();
    for (int i = 0; i < 1000; ++i) {
        const std::string context = "never-shown-" + std::to_string(i);
        element->HandleReceivedSettings(context, {{"settings", {{"a", 1}}}});
        element->HandlePropertyInspectorRequest(context);
        element->GetContextSettings(context, {{"settings", {{"a", 1}}}});
        element->RemoveSdContext(&m_host.connection, context);
    }
    EXPECT_EQ(element->RecordCount(), records);
    EXPECT_EQ(m_host.Count(), 0u);
}

TEST_F(ControlElementBaseTest, SettingsForAContextWithoutSettingsStartFromTheDefaults) {
    // Every setting that a press reads must be there, whatever the host has
    // sent before: a key not on screen keeps nothing, but a press on it reads
    // the defaults with its own settings on top.
    auto element = MakeElement({{"volume_step", 10}, {"auto_unmute", "1"}});
    element->HandleReceivedSettings("K9", {{"settings", {{"auto_unmute", "0"}}}});
    EXPECT_EQ(element->GetContextSettings("K9", nullptr), json({{"auto_unmute", "1"}, {"volume_step", 10}}));
    EXPECT_EQ(element->GetContextSettings("K9", {{"settings", {{"auto_unmute", "0"}}}}),
              json({{"auto_unmute", "0"}, {"volume_step", 10}}));
    EXPECT_EQ(element->RecordCount(), 0u);

    // A key on screen whose settings were dropped (a removal through another
    // connection) starts again from the defaults.
    element->AddSdContext(&m_host.connection, "K9", json::object());
    ESDConnectionManager other([](const std::string&) {});
    element->RemoveSdContext(&other, "K9");
    element->HandleReceivedSettings("K9", {{"settings", {{"auto_unmute", "0"}}}});
    EXPECT_EQ(m_host.Sent("setSettings", "K9").at(0)["payload"],
              json({{"auto_unmute", "0"}, {"volume_step", 10}}));
}

TEST_F(ControlElementBaseTest, PropertyInspectorGetsSettingsAndStatusAndFollowsEveryEvent) {
    auto element = MakeElement();
    element->HandlePropertyInspectorRequest("K1");  // not on screen: nothing to ask
    EXPECT_EQ(m_host.Count(), 0u);

    element->AddSdContext(&m_host.connection, "K1", json::object());
    element->RemoveSdContext(&m_host.connection, "K1");
    element->AddSdContext(&m_host.connection, "K1", json::object());
    element->HandlePropertyInspectorRequest("K1");
    auto inspector = m_host.Sent("sendToPropertyInspector", "K1");
    ASSERT_EQ(inspector.size(), 1u);
    EXPECT_EQ(inspector[0]["payload"], json::parse(R"({"settings":{"a":0,"b":2},"state":{"id":"offline"}})"));

    element->HandleEventMessage(Event(SystemMessages::kConnected));
    element->HandleEventMessage(SignedIn(true));
    element->HandleEventMessage(Supported(kName, true));
    inspector = m_host.Sent("sendToPropertyInspector", "K1");
    ASSERT_EQ(inspector.size(), 4u);
    EXPECT_EQ(inspector[1]["payload"]["state"]["id"], "login");
    EXPECT_EQ(inspector[2]["payload"]["state"]["id"], "unsupported");
    EXPECT_EQ(inspector[3]["payload"]["state"]["id"], "online");

    // A removal through another connection keeps the listing but drops the settings:
    // the inspector then asks the host for them.
    ESDConnectionManager other([](const std::string&) {});
    element->RemoveSdContext(&other, "K1");
    m_host.Clear();
    element->HandlePropertyInspectorRequest("K1");
    EXPECT_EQ(m_host.Sent("getSettings", "K1").size(), 1u);
    EXPECT_TRUE(m_host.Sent("sendToPropertyInspector").empty());
}

TEST_F(ControlElementBaseTest, OnlyShownPropertyInspectorsAreUpdated) {
    auto element = MakeElement();
    element->AddSdContext(&m_host.connection, "K1", json::object());
    element->AddSdContext(&m_host.connection, "K2", json::object());
    // Settings and reports for keys whose page is closed are stored, not shown.
    element->HandleReceivedSettings("K1", {{"settings", {{"a", 1}}}});
    Report(*element, true, true, true);
    EXPECT_TRUE(m_host.Sent("sendToPropertyInspector").empty());
    EXPECT_EQ(m_host.Sent("setSettings", "K1").size(), 1u);

    // Two pages shown at once (two devices): each follows its own key only.
    element->HandlePropertyInspectorRequest("K1");
    element->HandlePropertyInspectorRequest("K2");
    element->HandleReceivedSettings("K2", {{"settings", {{"b", 5}}}});
    element->HandleEventMessage(SignedIn(false));
    EXPECT_EQ(m_host.Sent("sendToPropertyInspector", "K1").size(), 2u);
    auto second = m_host.Sent("sendToPropertyInspector", "K2");
    ASSERT_EQ(second.size(), 3u);
    EXPECT_EQ(second[1]["payload"]["settings"], json({{"a", 0}, {"b", 5}}));
    EXPECT_EQ(second[2]["payload"]["state"]["id"], "login");

    // Closed, or gone from the screen: silent, also when it appears again.
    element->HandlePropertyInspectorClosed("K1");
    element->RemoveSdContext(&m_host.connection, "K2");
    element->AddSdContext(&m_host.connection, "K2", json::object());
    m_host.Clear();
    element->HandleReceivedSettings("K1", {{"settings", {{"a", 2}}}});
    element->HandleReceivedSettings("K2", {{"settings", {{"a", 2}}}});
    Report(*element, true, true, true);
    element->HandlePropertyInspectorClosed("never-shown");
    EXPECT_TRUE(m_host.Sent("sendToPropertyInspector").empty());
    EXPECT_EQ(m_host.Sent("setSettings").size(), 2u);
}

TEST_F(ControlElementBaseTest, StatusOverlayFollowsEveryFlagCombinationAtTheNextTick) {
    auto element = MakeElement();
    element->AddSdContext(&m_host.connection, "K1", json::object());
    struct Case {
        bool connected, signedIn, supported;
        const char* overlay;  // null: none
        const char* state;
    };
    const Case cases[] = {
        {false, false, false, "state_offline.png", "offline"},
        {false, false, true, "state_offline.png", "offline"},
        {false, true, false, "state_offline.png", "offline"},
        {false, true, true, "state_offline.png", "offline"},
        {true, false, false, "state_logged_out.png", "login"},
        {true, false, true, "state_logged_out.png", "login"},
        {true, true, false, "state_not_supported.png", "unsupported"},
        {true, true, true, nullptr, "online"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state + std::string(" ") + std::to_string(c.connected) + std::to_string(c.signedIn) +
                     std::to_string(c.supported));
        Report(*element, c.connected, c.signedIn, c.supported);
        EXPECT_EQ(element->GetStateName(), c.state);
        EXPECT_EQ(element->IsActive(), c.signedIn && c.supported);
        m_host.Clear();
        element->HandleTimerTick();
        const RgbaImage expected =
            c.overlay ? Composed({"alerts_skip.png", c.overlay}) : Composed({"alerts_skip.png"});
        EXPECT_TRUE(SameImage(m_host.LastImage("K1"), expected));
        m_host.Clear();
        element->HandleTimerTick();  // nothing changed: nothing is sent
        EXPECT_EQ(m_host.Count(), 0u);
    }
}

TEST_F(ControlElementBaseTest, AStatusThatComesAndGoesDrawsTheKeyAsItIsNow) {
    // Composites under a status overlay are kept for the next time that
    // status comes; what they show must still follow the key's own image.
    auto element = MakeElement();
    element->AddSdContext(&m_host.connection, "K1", json::object());
    auto drawnAfter = [&](bool connected, bool signedIn) {
        Report(*element, connected, signedIn, true);
        element->HandleTimerTick();
        return m_host.LastImage("K1");
    };
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        EXPECT_TRUE(SameImage(drawnAfter(false, false), Composed({"alerts_skip.png", "state_offline.png"})));
        EXPECT_TRUE(
            SameImage(drawnAfter(true, false), Composed({"alerts_skip.png", "state_logged_out.png"})));
        EXPECT_TRUE(SameImage(drawnAfter(true, true), Composed({"alerts_skip.png"})));
    }
    // The key's image changes while the status stays, and back again.
    EXPECT_TRUE(SameImage(drawnAfter(true, false), Composed({"alerts_skip.png", "state_logged_out.png"})));
    element->SetImageFromFile("cup_empty.png");
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"), Composed({"cup_empty.png", "state_logged_out.png"})));
    EXPECT_TRUE(SameImage(drawnAfter(false, false), Composed({"cup_empty.png", "state_offline.png"})));
    element->SetImageFromFile("alerts_skip.png");
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"), Composed({"alerts_skip.png", "state_offline.png"})));
    // A transient mark lies over the status, on a key that appears meanwhile too.
    element->ShowAlertOverlay();
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"),
                          Composed({"alerts_skip.png", "state_offline.png", "state_alert.png"})));
    element->AddSdContext(&m_host.connection, "K2", json::object());
    EXPECT_TRUE(SameImage(m_host.LastImage("K2"),
                          Composed({"alerts_skip.png", "state_offline.png", "state_alert.png"})));
}

TEST_F(ControlElementBaseTest, SignOutRevokesSupportUntilItIsReportedAgain) {
    auto element = MakeElement();
    Report(*element, true, true, true);
    element->HandleEventMessage(SignedIn(false));
    element->HandleEventMessage(SignedIn(true));
    EXPECT_FALSE(element->IsActive());
    element->HandleEventMessage(Supported("com.vantora.kestrel.other", true));  // not about this key
    EXPECT_FALSE(element->IsSupported());
    element->HandleEventMessage(Supported(kName, true));
    EXPECT_TRUE(element->IsActive());

    // Malformed reports change nothing and raise nothing.
    EXPECT_NO_THROW(element->HandleEventMessage(Event(SystemMessages::kReportState, json::object())));
    EXPECT_NO_THROW(
        element->HandleEventMessage(Event(SystemMessages::kSupportFunctions, {{kName, nullptr}})));
    EXPECT_NO_THROW(element->HandleEventMessage(Event(SystemMessages::kSupportFunctions, {{kName, "no"}})));
    EXPECT_TRUE(element->IsActive());
}

TEST_F(ControlElementBaseTest, TransientOverlayLiesOnTopIsReplacedAndExpiresAfterOneAndAHalfSeconds) {
    auto element = MakeElement();
    element->AddSdContext(&m_host.connection, "K1", json::object());
    element->HandleTimerTick();  // offline overlay
    element->ShowAlertOverlay();
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"),
                          Composed({"alerts_skip.png", "state_offline.png", "state_alert.png"})));

    std::this_thread::sleep_for(1000ms);
    element->ShowSuccessOverlay();  // replaces the alert and restarts the time
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"),
                          Composed({"alerts_skip.png", "state_offline.png", "state_success.png"})));
    const auto shown = std::chrono::steady_clock::now();

    std::this_thread::sleep_for(700ms);  // 1.7 s after the alert, 0.7 s after the success mark
    m_host.Clear();
    element->HandleTimerTick();
    EXPECT_EQ(m_host.Count(), 0u);

    std::this_thread::sleep_until(shown + 1600ms);
    element->HandleTimerTick();
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"), Composed({"alerts_skip.png", "state_offline.png"})));
    m_host.Clear();
    element->HandleTimerTick();
    EXPECT_EQ(m_host.Count(), 0u);
}

TEST_F(ControlElementBaseTest, EveryKeyIsDrawnOnceAndTitlesReachAllKeys) {
    auto element = MakeElement();
    element->SetTitleForAllContexts("T");
    element->AddSdContext(&m_host.connection, "K1", json::object());
    element->AddSdContext(&m_host.connection, "K2", json::object());
    EXPECT_EQ(m_host.Sent("setTitle", "K2").at(0)["payload"], json::parse(R"({"target":0,"title":"T"})"));
    element->AddSdContext(&m_host.connection, "K1", json::object());  // again: still one key
    m_host.Clear();
    element->SetImageFromFile("cup_empty.png");
    EXPECT_EQ(m_host.Sent("setImage", "K1").size(), 1u);
    EXPECT_EQ(m_host.Sent("setImage", "K2").size(), 1u);
    EXPECT_TRUE(SameImage(m_host.LastImage("K2"), Composed({"cup_empty.png"})));

    // A key that is gone gets no image.
    element->RemoveSdContext(&m_host.connection, "K1");
    EXPECT_FALSE(element->SetImageBase64("K1", "AAAA"));
    EXPECT_TRUE(element->SetImageBase64("K2", "AAAA"));
}

}  // namespace
