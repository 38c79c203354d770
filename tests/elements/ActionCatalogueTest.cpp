// The action catalogue: setting conversion, the volume image chooser, the
// data of the volume commands, the rules every row of the table keeps, and
// every action as a press writes it (multi-state actions in each of their
// states). The tests read the table rather than a copy of it, so a new row is
// checked by the same rules.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "catalogue/ActionCatalogue.h"
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

Kind KindOfRow(ActionKind kind) {
    switch (kind) {
        case ActionKind::kMultipleState:
            return Kind::kMulti;
        case ActionKind::kPump:
            return Kind::kPump;
        case ActionKind::kDynamicImage:
            return Kind::kDynamic;
        case ActionKind::kSingleState:
            break;
    }
    return Kind::kSingle;
}

// The data a first press sends with the action's default settings.
json FirstPressData(const ActionDescription& action) {
    const json& defaults = action.defaultSettings;
    switch (action.data) {
        case CommandData::kVolumeStep:
            return {{"auto_unmute", defaults.at("auto_unmute") == "1"}, {"step", defaults.at("volume_step")}};
        case CommandData::kVolumeLevel:
            return {{"auto_unmute", defaults.at("auto_unmute") == "1"},
                    {"value", defaults.at("volume_value")}};
        case CommandData::kNone:
        case CommandData::kPumpLevel:
            break;
    }
    return nullptr;
}

bool IsIdentifierText(const std::string& text) {
    return !text.empty() && text.front() != '-' && text.back() != '-' &&
           text.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") == std::string::npos;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Identifiers stored in users' profiles: a key placed on a deck keeps its
// action's identifier, so none of these may ever change or go away.
TEST(ActionCatalogueTableTest, KeepsEveryIdentifierThatProfilesStore) {
    const char* stored[] = {
        "overlays-reload",
        "emberfall",
        "cup-empty",
        "alerts-skip",
        "alerts-mute",
        "streaming-state",
        "alerts-pause",
        "alerts-pause-on",
        "alerts-pause-off",
        "media-request",
        "media-request-video",
        "emberfall-pump",
        "media-request-play-pause",
        "media-request-play",
        "media-request-pause",
        "media-request-next-item",
        "media-request-prev-item",
        "media-request-nudge-volume-up",
        "media-request-nudge-volume-down",
        "media-request-set-volume-level",
        "media-request-mute",
        "media-request-show-on-stream",
    };
    for (const char* shortName : stored) {
        const ActionDescription* action = FindAction(std::string("com.vantora.kestrel.") + shortName);
        ASSERT_NE(action, nullptr) << shortName;
        EXPECT_EQ(action, FindAction(shortName));
    }
    EXPECT_EQ(FindAction("com.vantora.kestrel.no-such-action"), nullptr);
    EXPECT_EQ(FindAction(""), nullptr);
}

TEST(ActionCatalogueTableTest, IdentifiersAndImagesAreUniqueAndWellFormed) {
    std::set<std::string> ids;
    for (const ActionDescription& action : ActionCatalogue()) {
        SCOPED_TRACE(action.shortName);
        EXPECT_TRUE(IsIdentifierText(action.shortName));
        EXPECT_TRUE(ids.insert(action.Id()).second) << "listed twice";
        EXPECT_EQ(FindAction(action.Id()), &action);
        ASSERT_FALSE(action.states.empty());
        for (const std::string& image : action.Images()) {
            EXPECT_TRUE(EndsWith(image, ".png") && image.find('/') == std::string::npos) << image;
        }
        EXPECT_TRUE(EndsWith(action.settingsPage, ".html")) << action.settingsPage;
        ASSERT_FALSE(action.controllers.empty());
        EXPECT_EQ(action.controllers.front(), "Keypad");
    }
}

// What each kind needs: one state for a single-state or dynamic-image key, a
// named state per report for a multi-state key, the pump's idle image and its
// levels; every command the controller's own form; and the settings that
// the command data reads present among the defaults.
TEST(ActionCatalogueTableTest, StatesCommandsAndDefaultsFitEachKind) {
    for (const ActionDescription& action : ActionCatalogue()) {
        SCOPED_TRACE(action.shortName);
        EXPECT_TRUE(action.defaultSettings.is_object());
        std::set<std::string> names;
        for (size_t i = 0; i < action.states.size(); ++i) {
            const ActionState& state = action.states[i];
            const bool idle = action.kind == ActionKind::kPump && i == 0;
            EXPECT_EQ(state.command.empty(), idle) << "state " << i;
            if (!idle) {
                EXPECT_TRUE(IsIdentifierText(state.command)) << state.command;
            }
            if (action.kind == ActionKind::kMultipleState) {
                EXPECT_TRUE(IsIdentifierText(state.name)) << "state " << i;
                EXPECT_TRUE(names.insert(state.name).second) << state.name << " reported twice";
            } else {
                EXPECT_EQ(state.name, "") << "state " << i;
            }
        }
        const bool oneState =
            action.kind == ActionKind::kSingleState || action.kind == ActionKind::kDynamicImage;
        EXPECT_EQ(action.states.size() == 1, oneState);
        EXPECT_EQ(action.data == CommandData::kPumpLevel, action.kind == ActionKind::kPump);
        EXPECT_EQ(action.kind == ActionKind::kDynamicImage, action.data == CommandData::kVolumeLevel);
        // The dial turns a volume: only actions whose commands carry one work on it.
        EXPECT_EQ(WorksOnDial(action),
                  action.data == CommandData::kVolumeStep || action.data == CommandData::kVolumeLevel);
        if (action.data == CommandData::kVolumeStep || action.data == CommandData::kVolumeLevel) {
            EXPECT_TRUE(action.defaultSettings.contains("auto_unmute"));
            EXPECT_TRUE(action.defaultSettings.contains(
                action.data == CommandData::kVolumeStep ? "volume_step" : "volume_value"));
        }
    }
}

// A toggle of two reported states: a press in one state asks the controller
// for the other, and the host keeps both states.
TEST(ActionCatalogueTableTest, ATogglePressAsksForTheOtherState) {
    for (const ActionDescription& action : ActionCatalogue()) {
        if (!HasTwoHostStates(action)) continue;
        SCOPED_TRACE(action.shortName);
        EXPECT_EQ(action.states[0].command, action.states[1].name);
        EXPECT_EQ(action.states[1].command, action.states[0].name);
    }
    ASSERT_NE(FindAction(kMuteAction), nullptr);
    EXPECT_TRUE(HasTwoHostStates(*FindAction(kMuteAction)));  // a dial's push toggles it
}

TEST_F(CatalogueTest, BuildsOneElementPerRowInOrderAndAPressSendsTheFirstCommand) {
    const auto& table = ActionCatalogue();
    ASSERT_EQ(m_elements.size(), table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        const ActionDescription& action = table[i];
        SCOPED_TRACE(action.Id());
        EXPECT_EQ(m_elements[i]->GetName(), action.Id());
        EXPECT_EQ(m_manager->FindControlElement(action.Id()), m_elements[i]);
        EXPECT_EQ(KindOf(m_elements[i]), KindOfRow(action.kind));
        if (action.kind == ActionKind::kPump) continue;  // sends once its presses stop
        json command = PressAndRead(action.Id());
        EXPECT_EQ(command["name"], action.states.front().command);
        EXPECT_EQ(command["data"], FirstPressData(action));
    }
}

// Each reported state shows its image and a press sends its command; the
// reported states of one action are shown in turn on one key.
TEST_F(CatalogueTest, MultiStateActionsShowEachReportedStateAndSendItsCommand) {
    for (const ActionDescription& action : ActionCatalogue()) {
        if (action.kind != ActionKind::kMultipleState) continue;
        m_manager->AddSdContext(action.Id(), &m_host.connection, "SHOWN", json::object());
        for (auto state = action.states.rbegin(); state != action.states.rend(); ++state) {
            SCOPED_TRACE(action.Id() + " " + state->name);
            m_manager->SignalEventMessage(FunctionState(action.Id(), state->name));
            EXPECT_TRUE(m_host.WaitForImage("SHOWN", Composed({state->image.c_str()})));
            EXPECT_EQ(PressAndRead(action.Id())["name"], state->command);
            m_host.Clear();
        }
        m_manager->RemoveSdContext(action.Id(), &m_host.connection, "SHOWN");
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
    EXPECT_EQ(m_elements.size(), ActionCatalogue().size());
}

}  // namespace
