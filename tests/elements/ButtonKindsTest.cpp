// The four button kinds behind the manager, with a real ControllerClient over
// an in-memory transport: what a press writes, how completions change the
// key, the multi-state reports, the pump's burst and the per-key images.

#include <gtest/gtest.h>

#include <thread>

#include "elements/CatalogueElements.h"
#include "elements/ControlElementsManager.h"
#include "elements/ElementTestRig.h"
#include "elements/SimpleDynamicImageButton.h"
#include "elements/SimpleMultipleStateButton.h"
#include "elements/SimplePumpButton.h"
#include "elements/SimpleSingleStateButton.h"

namespace {

class ButtonKindsTest : public ::testing::Test {
protected:
    void TearDown() override {
        m_rig.client->Stop();  // no completion runs after this
        m_manager.reset();
    }
    // Registers |element|, shows it on |contexts| and makes it active.
    void Register(const std::shared_ptr<ControlElementBase>& element,
                  std::initializer_list<const char*> contexts) {
        m_manager->AddControlElement(element);
        for (const char* context : contexts)
            m_manager->AddSdContext(element->GetName(), &m_host.connection, context, json::object());
        m_manager->SignalEventMessage(Event(SystemMessages::kConnected));
        m_manager->SignalEventMessage(SignedIn(true));
        m_manager->SignalEventMessage(Supported(element->GetName(), true));
    }
    void Press(const std::string& action, const std::string& context, const json& payload = json::object()) {
        m_manager->SignalKeyDown(action, context, payload);
    }
    static json Command(const json& written) { return written["payload"]["command"]; }
    // Reads an element's state under the manager's lock, as the timer writes it.
    template <typename Read>
    auto Locked(Read read) {
        std::lock_guard<std::recursive_mutex> lock(m_manager->GetMutex());
        return read();
    }

    FakeHost m_host;
    ControllerRig m_rig;
    std::unique_ptr<ControlElementsManager> m_manager = std::make_unique<ControlElementsManager>();
};

TEST_F(ButtonKindsTest, SingleStatePressWritesItsCommandAndARefusedOneFlashesTheAlert) {
    const std::string name = "com.vantora.kestrel.alerts-skip";
    Register(std::make_shared<SimpleSingleStateButton>(name, m_rig.client, "alerts_skip.png",
                                                       MakeCommand("alerts-skip"), json::object()),
             {"K1"});
    ASSERT_TRUE(m_host.WaitForImage("K1", Composed({"alerts_skip.png"})));

    Press(name, "K1");
    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    EXPECT_EQ(m_rig.transport->Written()[0], json::parse(R"({"payload":{"class":"command","command":{
        "data":null,"name":"alerts-skip"}},"source":{"class":"controller ","element":{"class":"button",
        "function":"com.vantora.kestrel.alerts-skip","id":"K1"}},"target":{"scope":"broadcast"},"version":1})"));

    m_rig.transport->RefuseWrites(true);
    Press(name, "K1");
    EXPECT_TRUE(m_host.WaitForImage("K1", Composed({"alerts_skip.png", "state_alert.png"})));
    // The timer takes the mark away after about 1.5 seconds.
    m_host.Clear();
    EXPECT_TRUE(m_host.WaitForImage("K1", Composed({"alerts_skip.png"}), 4s));
}

TEST_F(ButtonKindsTest, MultiStateFollowsReportsOfItsOwnFunctionOnly) {
    const std::string name = "com.vantora.kestrel.alerts-mute";
    auto button = std::make_shared<SimpleMultipleStateButton>(
        name, m_rig.client, std::vector<std::string>{"alerts_mute_on.png", "alerts_mute_off.png"},
        std::vector<std::string>{"alerts-mute-off", "alerts-mute-on"}, false,
        std::vector<CommandBuilder>{MakeCommand("alerts-mute-on"), MakeCommand("alerts-mute-off")});
    Register(button, {"K1", "K2"});
    ASSERT_TRUE(m_host.WaitForImage("K2", Composed({"alerts_mute_on.png"})));

    Press(name, "K1");
    m_manager->SignalEventMessage(FunctionState("com.vantora.kestrel.streaming-state", "alerts-mute-on"));
    m_manager->SignalEventMessage(FunctionState(name, "alerts-mute-on"));
    EXPECT_TRUE(m_host.WaitForImage("K1", Composed({"alerts_mute_off.png"})));
    EXPECT_TRUE(m_host.WaitForImage("K2", Composed({"alerts_mute_off.png"})));
    Press(name, "K2");
    ASSERT_TRUE(m_rig.transport->WaitForWritten(2));
    EXPECT_EQ(Command(m_rig.transport->Written()[0])["name"], "alerts-mute-on");
    EXPECT_EQ(Command(m_rig.transport->Written()[1])["name"], "alerts-mute-off");
    // An accepted command does not move the state: the report does.
    EXPECT_EQ(Locked([&] { return button->GetStateIndex(); }), 1);

    m_host.Clear();
    m_manager->SignalEventMessage(FunctionState(name, "alerts-mute-on"));  // the current state
    m_manager->SignalEventMessage(FunctionState(name, "no-such-state"));
    EXPECT_NO_THROW(m_manager->SignalEventMessage(FunctionState(name, 1)));
    m_manager->SignalEventMessage(Event(SystemMessages::kReportFunctionState, {{"function", name}}));
    EXPECT_TRUE(m_host.Sent("setImage").empty());
    EXPECT_EQ(Locked([&] { return button->GetStateIndex(); }), 1);
}

TEST_F(ButtonKindsTest, PumpSendsTheReachedLevelOnceAboutASecondAfterTheLastPress) {
    const std::string name = "com.vantora.kestrel.emberfall-pump";
    std::vector<CommandBuilder> commands;
    for (uint32_t level = 1; level <= 4; ++level)
        commands.push_back(MakePumpLevelCommand("emberfall", level));
    auto pump = std::make_shared<SimplePumpButton>(
        name, m_rig.client, "emberfall_pump.png", std::vector<std::string>{"L1", "L2", "L3", "L4"},
        std::vector<std::string>{"emberfall_pump1.png", "emberfall_pump2.png", "emberfall_pump3.png",
                                 "emberfall_pump4.png"},
        commands);
    Register(pump, {"K1", "K2"});
    ASSERT_TRUE(m_host.WaitForImage("K1", Composed({"emberfall_pump.png"})));

    Press(name, "K1");
    Press(name, "K1");
    // Taken before the last press: the element notes its press time within
    // the call, and the timer, woken by the press, may tick in step with it.
    const auto lastPress = std::chrono::steady_clock::now();
    Press(name, "K2");
    auto titles = m_host.Sent("setTitle", "K1");
    ASSERT_EQ(titles.size(), 3u);
    EXPECT_EQ(titles[2]["payload"]["title"], "L3");
    EXPECT_TRUE(m_host.WaitForImage("K2", Composed({"emberfall_pump3.png"})));

    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    EXPECT_GE(std::chrono::steady_clock::now() - lastPress, 1000ms);
    auto written = m_rig.transport->Written()[0];
    EXPECT_EQ(Command(written), json::parse(R"({"data":{"value":3},"name":"emberfall"})"));
    EXPECT_TRUE(Command(written)["data"]["value"].is_number_unsigned());
    EXPECT_EQ(written["source"]["element"]["id"], "K2");
    // Accepted: the idle image with the success mark, and the level's title
    // gives way to the user's own (a title reset, not an empty title).
    EXPECT_TRUE(m_host.WaitForImage("K1", Composed({"emberfall_pump.png", "state_success.png"})));
    EXPECT_FALSE(m_host.Sent("setTitle", "K1").back()["payload"].contains("title"));
    EXPECT_EQ(Locked([&] { return pump->GetLevel(); }), -1);

    // Presses beyond the top level keep it; one command follows.
    for (int i = 0; i < 6; ++i) Press(name, "K1");
    EXPECT_EQ(Locked([&] { return pump->GetLevel(); }), 3);
    ASSERT_TRUE(m_rig.transport->WaitForWritten(2));
    EXPECT_EQ(Command(m_rig.transport->Written()[1])["data"], json({{"value", 4u}}));
    std::this_thread::sleep_for(600ms);  // more than two ticks: nothing else is sent
    EXPECT_EQ(m_rig.transport->Written().size(), 2u);
}

TEST_F(ButtonKindsTest, PumpCommandThatIsRefusedShowsTheAlertAndKeepsTheTitle) {
    const std::string name = "com.vantora.kestrel.emberfall-pump";
    auto pump = std::make_shared<SimplePumpButton>(
        name, m_rig.client, "emberfall_pump.png", std::vector<std::string>{"L1"},
        std::vector<std::string>{"emberfall_pump1.png"},
        std::vector<CommandBuilder>{MakePumpLevelCommand("emberfall", 1)});
    Register(pump, {"K1"});
    m_rig.transport->RefuseWrites(true);
    Press(name, "K1");
    EXPECT_TRUE(m_host.WaitForImage("K1", Composed({"emberfall_pump.png", "state_alert.png"})));
    EXPECT_EQ(m_host.Sent("setTitle", "K1").back()["payload"]["title"], "L1");
}

TEST_F(ButtonKindsTest, PumpLevelsWithoutTitlesNeverHideTheUsersTitle) {
    const std::string name = "com.vantora.kestrel.emberfall-pump";
    auto pump = std::make_shared<SimplePumpButton>(
        name, m_rig.client, "emberfall_pump.png", std::vector<std::string>{"", ""},
        std::vector<std::string>{"emberfall_pump1.png", "emberfall_pump2.png"},
        std::vector<CommandBuilder>{MakePumpLevelCommand("emberfall", 1),
                                    MakePumpLevelCommand("emberfall", 2)});
    Register(pump, {"K1"});
    Press(name, "K1");
    Press(name, "K1");
    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    EXPECT_TRUE(m_host.WaitForImage("K1", Composed({"emberfall_pump.png", "state_success.png"})));
    const auto titles = m_host.Sent("setTitle", "K1");
    EXPECT_FALSE(titles.empty());
    for (const auto& title : titles) EXPECT_FALSE(title["payload"].contains("title")) << title.dump();
}

TEST_F(ButtonKindsTest, DynamicImageKeysShowTheImageTheirOwnSettingsChoose) {
    const std::string name = "com.vantora.kestrel.media-request-set-volume-level";
    auto button = std::make_shared<SimpleDynamicImageButton>(
        name, m_rig.client, ChooseVolumeLevelImage,
        MakeVolumeLevelCommand("media-request-set-volume-level-percent"),
        json{{"volume_value", 70}, {"auto_unmute", "1"}});
    m_manager->AddControlElement(button);
    m_manager->AddSdContext(name, &m_host.connection, "K1", json::object());
    m_manager->AddSdContext(name, &m_host.connection, "K2", json::object());
    const char* offline = "state_offline.png";
    ASSERT_TRUE(
        m_host.WaitForImage("K1", Composed({"media_request_set_volume_level_percent_70.png", offline})));

    m_manager->SignalReceivedSettings(name, "K1", {{"settings", {{"volume_value", 25}}}});
    m_manager->SignalReceivedSettings(name, "K2", {{"settings", {{"volume_value", "100"}}}});
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"),
                          Composed({"media_request_set_volume_level_percent_20.png", offline})));
    EXPECT_TRUE(SameImage(m_host.LastImage("K2"),
                          Composed({"media_request_set_volume_level_percent_100.png", offline})));

    // Once active the overlay goes from both keys, each keeping its own image.
    m_manager->SignalEventMessage(Event(SystemMessages::kConnected));
    m_manager->SignalEventMessage(SignedIn(true));
    m_manager->SignalEventMessage(Supported(name, true));
    EXPECT_TRUE(m_host.WaitForImage("K1", Composed({"media_request_set_volume_level_percent_20.png"})));
    EXPECT_TRUE(m_host.WaitForImage("K2", Composed({"media_request_set_volume_level_percent_100.png"})));

    Press(name, "K1", {{"settings", {{"auto_unmute", false}}}});
    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    EXPECT_EQ(
        Command(m_rig.transport->Written()[0]),
        json::parse(
            R"({"data":{"auto_unmute":false,"value":25},"name":"media-request-set-volume-level-percent"})"));

    // Settings for keys that are not on screen give them neither settings nor an image.
    const size_t records = Locked([&] { return button->RecordCount(); });
    for (int i = 0; i < 100; ++i)
        m_manager->SignalReceivedSettings(name, "gone-" + std::to_string(i),
                                          {{"settings", {{"volume_value", 25}}}});
    EXPECT_EQ(Locked([&] { return button->RecordCount(); }), records);
    EXPECT_TRUE(m_host.Sent("setImage", "gone-1").empty());
}

}  // namespace
