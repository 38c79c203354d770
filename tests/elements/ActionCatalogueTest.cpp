// The action catalogue: setting conversion, the volume image chooser, the
// data of the volume commands, and every one of the 22 actions as a press
// writes it (multi-state actions in each of their states).

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "elements/CatalogueElements.h"
#include "elements/ControlElementsManager.h"
#include "elements/ElementTestRig.h"
#include "elements/SimpleDynamicImageButton.h"
#include "elements/SimpleMultipleStateButton.h"
#include "elements/SimplePumpButton.h"
#include "elements/SimpleSingleStateButton.h"

namespace {

TEST(SettingToIntTest, ReadsStringsBooleansAndNumbers) {
    const std::pair<json, int32_t> cases[] = {
        {"55", 55},
        {"  -5", -5},
        {"+7x", 7},
        {"1abc", 1},
        {"true", 0},
        {"", 0},
        {"99999999999", 2147483647},
        {true, 1},
        {false, 0},
        {42, 42},
        {-30, -30},
        {4294967296 + 5LL, 5},
        {2.9, 2},
        {-2.9, -2},
        {1e20, 2147483647},
        {-1e20, -2147483647 - 1},
        {4294967295u, -1},
    };
    for (const auto& [value, expected] : cases) EXPECT_EQ(SettingToInt(value), expected) << value.dump();
    EXPECT_EQ(SettingToInt(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(SettingToIntTest, NullObjectsAndArraysAreTypeErrors) {
    for (const json& value : {json(), json::object(), json::array({1})}) {
        try {
            SettingToInt(value);
            ADD_FAILURE() << value.dump();
        } catch (const json::type_error& error) {
            EXPECT_EQ(error.id, 302);
            EXPECT_NE(std::string(error.what())
                          .find(std::string("type must be number, but is ") + value.type_name()),
                      std::string::npos);
        }
    }
    EXPECT_THROW(ChooseVolumeLevelImage(json::object()), json::type_error);  // a missing setting is null
}

TEST(ChooseVolumeLevelImageTest, RoundsDownToTensWithinTenAndAHundred) {
    const std::pair<json, int> cases[] = {{0, 10},    {9, 10},    {10, 10},   {19, 10}, {55, 50},
                                          {"55", 50}, {100, 100}, {250, 100}, {-30, 10}};
    for (const auto& [value, level] : cases)
        EXPECT_EQ(ChooseVolumeLevelImage({{"volume_value", value}}),
                  "media_request_set_volume_level_percent_" + std::to_string(level) + ".png")
            << value.dump();
}

json DataOf(const CommandBuilder& builder, const json& settings) {
    auto source = std::make_shared<ElementAddress>(ElementAddress::kButton, "K", "f");
    return builder(source, settings)->Document()["payload"]["command"]["data"];
}

TEST(VolumeCommandTest, DataFollowsTheSettings) {
    const json stepDefaults = {{"volume_step", 10}, {"auto_unmute", "1"}};
    const json levelDefaults = {{"volume_value", 70}, {"auto_unmute", "1"}};
    auto step = MakeVolumeStepCommand("media-request-nudge-volume-up");
    auto level = MakeVolumeLevelCommand("media-request-set-volume-level-percent");
    EXPECT_EQ(DataOf(step, stepDefaults).dump(), R"({"auto_unmute":true,"step":10})");
    EXPECT_EQ(DataOf(level, levelDefaults).dump(), R"({"auto_unmute":true,"value":70})");
    EXPECT_EQ(DataOf(step, {{"volume_step", "-5"}, {"auto_unmute", 0}}).dump(),
              R"({"auto_unmute":false,"step":-5})");
    EXPECT_EQ(DataOf(step, {{"volume_step", 2.9}, {"auto_unmute", "1x"}}).dump(),
              R"({"auto_unmute":true,"step":2})");
    EXPECT_EQ(DataOf(level, {{"volume_value", -30}, {"auto_unmute", true}}).dump(),
              R"({"auto_unmute":true,"value":4294967266})");
    EXPECT_THROW(DataOf(step, {{"volume_step", nullptr}, {"auto_unmute", "1"}}), json::type_error);
    EXPECT_EQ(DataOf(MakeCommand("overlays-reload"), stepDefaults), json());
}

// Every action of the catalogue, pressed while active, with the command it writes.
class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_elements = BuildActionCatalogue(*m_manager, m_rig.client);
        m_manager->SignalEventMessage(Event(SystemMessages::kConnected));
        m_manager->SignalEventMessage(SignedIn(true));
        json support = json::object();
        for (const auto& element : m_elements) support[element->GetName()] = true;
        m_manager->SignalEventMessage(Event(SystemMessages::kSupportFunctions, support));
    }
    void TearDown() override {
        m_rig.client->Stop();
        m_manager.reset();
    }
    // Presses |action| on a key and returns the command written for it.
    json PressAndRead(const std::string& action) {
        const size_t before = m_rig.transport->Written().size();
        m_manager->SignalKeyDown(action, "KEY", json::object());
        if (!m_rig.transport->WaitForWritten(before + 1)) return json();
        json written = m_rig.transport->Written()[before];
        EXPECT_EQ(written["source"]["element"],
                  json({{"class", "button"}, {"function", action}, {"id", "KEY"}}));
        return written["payload"]["command"];
    }

    FakeHost m_host;
    ControllerRig m_rig;
    std::unique_ptr<ControlElementsManager> m_manager = std::make_unique<ControlElementsManager>();
    std::vector<std::shared_ptr<ControlElementBase>> m_elements;
};

enum class Kind { kSingle, kMulti, kPump, kDynamic };

Kind KindOf(const std::shared_ptr<ControlElementBase>& element) {
    if (std::dynamic_pointer_cast<SimpleMultipleStateButton>(element)) return Kind::kMulti;
    if (std::dynamic_pointer_cast<SimplePumpButton>(element)) return Kind::kPump;
    if (std::dynamic_pointer_cast<SimpleDynamicImageButton>(element)) return Kind::kDynamic;
    EXPECT_NE(std::dynamic_pointer_cast<SimpleSingleStateButton>(element), nullptr);
    return Kind::kSingle;
}

TEST_F(CatalogueTest, HasTheTwentyTwoActionsInOrderWithTheirKindsAndFirstCommands) {
    struct Row {
        const char* action;
        Kind kind;
        const char* command;  // written by a press in the first state
        const char* data;
    };
    const Row rows[] = {
        {"overlays-reload", Kind::kSingle, "overlays-reload", "null"},
        {"emberfall", Kind::kSingle, "emberfall", "null"},
        {"cup-empty", Kind::kSingle, "cup-empty", "null"},
        {"alerts-skip", Kind::kSingle, "alerts-skip", "null"},
        {"alerts-mute", Kind::kMulti, "alerts-mute-on", "null"},
        {"streaming-state", Kind::kMulti, "streaming-state-on", "null"},
        {"alerts-pause", Kind::kMulti, "alerts-pause-on", "null"},
        {"alerts-pause-on", Kind::kSingle, "alerts-pause-on", "null"},
        {"alerts-pause-off", Kind::kSingle, "alerts-pause-off", "null"},
        {"media-request", Kind::kMulti, "media-request-off", "null"},
        {"media-request-video", Kind::kMulti, "media-request-video-off", "null"},
        {"emberfall-pump", Kind::kPump, nullptr, nullptr},
        {"media-request-play-pause", Kind::kMulti, "media-request-pause-off", "null"},
        {"media-request-play", Kind::kSingle, "media-request-pause-off", "null"},
        {"media-request-pause", Kind::kSingle, "media-request-pause-on", "null"},
        {"media-request-next-item", Kind::kSingle, "media-request-next-item", "null"},
        {"media-request-prev-item", Kind::kSingle, "media-request-prev-item", "null"},
        {"media-request-nudge-volume-up", Kind::kSingle, "media-request-nudge-volume-up",
         R"({"auto_unmute":true,"step":10})"},
        {"media-request-nudge-volume-down", Kind::kSingle, "media-request-nudge-volume-down",
         R"({"auto_unmute":true,"step":10})"},
        {"media-request-set-volume-level", Kind::kDynamic, "media-request-set-volume-level-percent",
         R"({"auto_unmute":true,"value":70})"},
        {"media-request-mute", Kind::kMulti, "media-request-mute-on", "null"},
        {"media-request-show-on-stream", Kind::kMulti, "media-request-widget-on", "null"},
    };
    ASSERT_EQ(m_elements.size(), std::size(rows));
    for (size_t i = 0; i < m_elements.size(); ++i) {
        const std::string id = std::string("com.vantora.kestrel.") + rows[i].action;
        SCOPED_TRACE(id);
        EXPECT_EQ(m_elements[i]->GetName(), id);
        EXPECT_EQ(m_manager->FindControlElement(id), m_elements[i]);
        EXPECT_EQ(KindOf(m_elements[i]), rows[i].kind);
        if (!rows[i].command) continue;
        json command = PressAndRead(id);
        EXPECT_EQ(command["name"], rows[i].command);
        EXPECT_EQ(command["data"].dump(), rows[i].data);
    }
}

TEST_F(CatalogueTest, MultiStateActionsShowEachReportedStateAndSendItsCommand) {
    struct Row {
        const char* action;
        const char* state;
        const char* image;
        const char* command;
    };
    const Row rows[] = {
        {"alerts-mute", "alerts-mute-on", "alerts_mute_off.png", "alerts-mute-off"},
        {"alerts-mute", "alerts-mute-off", "alerts_mute_on.png", "alerts-mute-on"},
        {"streaming-state", "streaming-state-on", "streaming_state_on.png", "streaming-state-off"},
        {"streaming-state", "streaming-state-off", "streaming_state_off.png", "streaming-state-on"},
        {"alerts-pause", "alerts-pause-on", "alerts_pause_off.png", "alerts-pause-off"},
        {"alerts-pause", "alerts-pause-off", "alerts_pause_on.png", "alerts-pause-on"},
        {"media-request", "media-request-off", "media_request_off.png", "media-request-on"},
        {"media-request", "media-request-on", "media_request_on.png", "media-request-off"},
        {"media-request-video", "media-request-video-on", "media_request_video_off.png",
         "media-request-video-on"},
        {"media-request-video", "media-request-video-single-state", "media_request_hide_this_video.png",
         "media-request-video-off"},
        {"media-request-video", "media-request-video-off", "media_request_video_on.png",
         "media-request-video-off"},
        {"media-request-play-pause", "media-request-pause-off", "media_request_pause_off.png",
         "media-request-pause-on"},
        {"media-request-play-pause", "media-request-pause-on", "media_request_pause_on.png",
         "media-request-pause-off"},
        {"media-request-mute", "media-request-mute-on", "media_request_mute_on.png",
         "media-request-mute-off"},
        {"media-request-mute", "media-request-mute-off", "media_request_mute_off.png",
         "media-request-mute-on"},
        {"media-request-show-on-stream", "media-request-widget-on", "media_request_widget_on.png",
         "media-request-widget-off"},
        {"media-request-show-on-stream", "media-request-widget-off", "media_request_widget_off.png",
         "media-request-widget-on"},
    };
    for (const Row& row : rows) {
        const std::string id = std::string("com.vantora.kestrel.") + row.action;
        SCOPED_TRACE(id + " " + row.state);
        m_manager->AddSdContext(id, &m_host.connection, "SHOWN", json::object());
        m_manager->SignalEventMessage(FunctionState(id, row.state));
        EXPECT_TRUE(m_host.WaitForImage("SHOWN", Composed({row.image})));
        EXPECT_EQ(PressAndRead(id)["name"], row.command);
        m_manager->RemoveSdContext(id, &m_host.connection, "SHOWN");
        m_host.Clear();
    }
}

TEST_F(CatalogueTest, EmberfallPumpSendsTheLevelReachedByTwoPresses) {
    const std::string id = "com.vantora.kestrel.emberfall-pump";
    m_manager->SignalKeyDown(id, "P", json::object());
    m_manager->SignalKeyDown(id, "P", json::object());
    ASSERT_TRUE(m_rig.transport->WaitForWritten(1));
    EXPECT_EQ(m_rig.transport->Written()[0]["payload"]["command"].dump(),
              R"({"data":{"value":2},"name":"emberfall"})");
}

}  // namespace

namespace {

// One mistyped member of a support report: that action keeps its support,
// every other action takes the report, whatever their identifiers' order.
TEST_F(CatalogueTest, OneMistypedSupportMemberLeavesTheOtherActionsTakingTheReport) {
    const std::string mistyped = "com.vantora.kestrel.alerts-mute";
    json support = json::object();
    for (const auto& element : m_elements) support[element->GetName()] = false;
    support[mistyped] = "yes";
    EXPECT_NO_THROW(m_manager->SignalEventMessage(Event(SystemMessages::kSupportFunctions, support)));
    std::lock_guard<std::recursive_mutex> lock(m_manager->GetMutex());
    size_t revoked = 0;
    for (const auto& element : m_elements) {
        if (element->GetName() == mistyped) {
            EXPECT_TRUE(element->IsSupported());
        } else {
            revoked += !element->IsSupported();
        }
    }
    EXPECT_EQ(revoked, m_elements.size() - 1);
    EXPECT_EQ(m_elements.size(), 22u);
}

}  // namespace
