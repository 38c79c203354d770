// Every key of the plug-in end to end: the real executable between a
// stand-in host and the reference controller server. Key images are checked
// by decoding the PNG that the host receives.

#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <thread>

#include "catalogue/ActionCatalogue.h"
#include "e2e/PluginHarness.h"

using json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

const std::string kPrefix = "com.vantora.kestrel.";
const std::string kOffline = "state_offline.png";
const std::string kLoggedOut = "state_logged_out.png";
const std::string kSuccess = "state_success.png";

struct ActionCase {
    std::string name;     // short name after the prefix
    std::string image;    // image shown at first
    std::string command;  // command sent by a press in the first state
    json data;            // its data
};

// The data a first press sends, as the controller receives it, for each kind
// of command data of the catalogue (with the actions' default settings).
json ExpectedFirstData(CommandData data) {
    switch (data) {
        case CommandData::kPumpLevel:
            return {{"value", 1}};
        case CommandData::kVolumeStep:
            return {{"auto_unmute", true}, {"step", 10}};
        case CommandData::kVolumeLevel:
            return {{"auto_unmute", true}, {"value", 70}};
        case CommandData::kNone:
            break;
    }
    return nullptr;
}

// Every action of the catalogue as the host and the controller see it. The
// pump's first state is its idle image; a press sends its first level.
const std::vector<ActionCase> kActions = [] {
    std::vector<ActionCase> cases;
    for (const ActionDescription& action : ActionCatalogue()) {
        const ActionState& pressed = action.states[action.kind == ActionKind::kPump ? 1 : 0];
        cases.push_back(
            {action.shortName, action.FirstImage(), pressed.command, ExpectedFirstData(action.data)});
    }
    return cases;
}();

std::string Context(const ActionCase& action) {
    return "ctx-" + action.name;
}

json ExpectedCommand(const std::string& action, const std::string& context, const std::string& name,
                     const json& data) {
    return {{"version", 1},
            {"source",
             {{"class", "controller "},
              {"element", {{"class", "button"}, {"id", context}, {"function", action}}}}},
            {"target", {{"scope", "broadcast"}}},
            {"payload", {{"class", "command"}, {"command", {{"name", name}, {"data", data}}}}}};
}

class ActionsEndToEndTest : public ::testing::Test {
protected:
    // Every key on screen, the controller signed in and supporting everything.
    void ShowAllKeysOnline() {
        for (const auto& action : kActions) m_plugin.Appear(kPrefix + action.name, Context(action));
        m_plugin.StartController(true);
        for (const auto& action : kActions) {
            ASSERT_TRUE(m_plugin.WaitForImage(Context(action), ExpectedKeyImage(action.image)))
                << action.name;
        }
    }

    PluginHarness m_plugin;
};

TEST_F(ActionsEndToEndTest, EveryKeyGoesFromOfflineToUsableAndSendsItsExactCommand) {
    for (const auto& action : kActions) m_plugin.Appear(kPrefix + action.name, Context(action));
    for (const auto& action : kActions) {
        EXPECT_TRUE(m_plugin.WaitForImage(Context(action), ExpectedKeyImage(action.image, {kOffline})))
            << action.name;
    }

    m_plugin.StartController(false);
    for (const auto& action : kActions) {
        EXPECT_TRUE(m_plugin.WaitForImage(Context(action), ExpectedKeyImage(action.image, {kLoggedOut})))
            << action.name;
    }

    m_plugin.Control("signin");
    for (const auto& action : kActions) {
        ASSERT_TRUE(m_plugin.WaitForImage(Context(action), ExpectedKeyImage(action.image))) << action.name;
    }

    for (const auto& action : kActions) {
        m_plugin.KeyDown(kPrefix + action.name, Context(action));
        auto command = m_plugin.WaitForControllerCommand(action.command);
        ASSERT_TRUE(command) << action.name << "\n" << m_plugin.PluginOutput();
        EXPECT_EQ(*command,
                  ExpectedCommand(kPrefix + action.name, Context(action), action.command, action.data));
    }
}

TEST_F(ActionsEndToEndTest, MultiStateKeysFollowTheReportedStateAndSendTheNextStatesCommand) {
    ShowAllKeysOnline();
    const std::string mute = kPrefix + "alerts-mute";
    m_plugin.KeyDown(mute, "ctx-alerts-mute");
    ASSERT_TRUE(m_plugin.WaitForControllerCommand("alerts-mute-on"));
    // The controller reports the new state; the key follows it and the next press turns it back.
    EXPECT_TRUE(m_plugin.WaitForImage("ctx-alerts-mute", ExpectedKeyImage("alerts_mute_off.png")));
    m_plugin.KeyDown(mute, "ctx-alerts-mute");
    ASSERT_TRUE(m_plugin.WaitForControllerCommand("alerts-mute-off"));
    EXPECT_TRUE(m_plugin.WaitForImage("ctx-alerts-mute", ExpectedKeyImage("alerts_mute_on.png")));

    // A state changed elsewhere reaches the key without a press.
    m_plugin.Control("state com.vantora.kestrel.media-request-video media-request-video-single-state");
    EXPECT_TRUE(m_plugin.WaitForImage("ctx-media-request-video",
                                      ExpectedKeyImage("media_request_hide_this_video.png")));
    m_plugin.KeyDown(kPrefix + "media-request-video", "ctx-media-request-video");
    auto command = m_plugin.WaitForControllerCommand("media-request-video-off");
    ASSERT_TRUE(command);
}

TEST_F(ActionsEndToEndTest, PumpSendsOneCommandAboutASecondAfterTheLastPressAndShowsSuccess) {
    ShowAllKeysOnline();
    const std::string pump = kPrefix + "emberfall-pump";
    auto firstPress = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) m_plugin.KeyDown(pump, "ctx-emberfall-pump");
    EXPECT_TRUE(m_plugin.WaitForImage("ctx-emberfall-pump", ExpectedKeyImage("emberfall_pump3.png")));
    auto command = m_plugin.WaitForControllerCommand("emberfall");
    ASSERT_TRUE(command);
    EXPECT_GE(std::chrono::steady_clock::now() - firstPress, 900ms);
    EXPECT_EQ((*command)["payload"]["command"]["data"], json({{"value", 3}}));
    EXPECT_TRUE(
        m_plugin.WaitForImage("ctx-emberfall-pump", ExpectedKeyImage("emberfall_pump.png", {kSuccess})));
    // The mark goes away again.
    EXPECT_TRUE(m_plugin.WaitForImage("ctx-emberfall-pump", ExpectedKeyImage("emberfall_pump.png")));
    std::this_thread::sleep_for(1500ms);
    for (const auto& sent : m_plugin.ControllerCommands()) {
        if (sent["payload"]["command"]["name"] == "emberfall") {
            EXPECT_EQ(sent["payload"]["command"]["data"], json({{"value", 3}})) << "only one burst command";
        }
    }
}

TEST_F(ActionsEndToEndTest, VolumeKeysFollowChangedSettings) {
    ShowAllKeysOnline();
    const std::string level = kPrefix + "media-request-set-volume-level";
    m_plugin.SendToPlugin({{"event", "didReceiveSettings"},
                           {"action", level},
                           {"context", "ctx-media-request-set-volume-level"},
                           {"device", "DEV1"},
                           {"payload", {{"settings", {{"volume_value", 35}, {"auto_unmute", "0"}}}}}});
    // The host is asked to store the merged settings, defaults included.
    auto stored = m_plugin.WaitForHostCommand([](const json& command) {
        return command.value("event", "") == "setSettings" &&
               command.value("context", "") == "ctx-media-request-set-volume-level";
    });
    ASSERT_TRUE(stored);
    EXPECT_EQ((*stored)["payload"], json({{"volume_value", 35}, {"auto_unmute", "0"}}));
    EXPECT_TRUE(m_plugin.WaitForImage("ctx-media-request-set-volume-level",
                                      ExpectedKeyImage("media_request_set_volume_level_percent_30.png")));
    m_plugin.KeyDown(level, "ctx-media-request-set-volume-level");
    auto command = m_plugin.WaitForControllerCommand("media-request-set-volume-level-percent");
    ASSERT_TRUE(command);
    EXPECT_EQ((*command)["payload"]["command"]["data"], json({{"auto_unmute", false}, {"value", 35}}));

    // Settings carried by the press itself count too.
    const std::string up = kPrefix + "media-request-nudge-volume-up";
    m_plugin.KeyDown(up, "ctx-media-request-nudge-volume-up", {{"volume_step", 25}});
    command = m_plugin.WaitForControllerCommand("media-request-nudge-volume-up");
    ASSERT_TRUE(command);
    EXPECT_EQ((*command)["payload"]["command"]["data"], json({{"auto_unmute", true}, {"step", 25}}));
}

TEST_F(ActionsEndToEndTest, PropertyInspectorGetsTheSettingsAndTheLinkState) {
    ShowAllKeysOnline();
    const std::string up = kPrefix + "media-request-nudge-volume-up";
    m_plugin.SendToPlugin({{"event", "propertyInspectorDidAppear"},
                           {"action", up},
                           {"context", "ctx-media-request-nudge-volume-up"},
                           {"device", "DEV1"}});
    auto sent = m_plugin.WaitForHostCommand(
        [](const json& command) { return command.value("event", "") == "sendToPropertyInspector"; });
    ASSERT_TRUE(sent);
    EXPECT_EQ((*sent)["context"], "ctx-media-request-nudge-volume-up");
    EXPECT_EQ((*sent)["payload"], json({{"settings", {{"volume_step", 10}, {"auto_unmute", "1"}}},
                                        {"state", {{"id", "online"}}}}));

    // The open inspector follows the link.
    m_plugin.StopController();
    auto offline = m_plugin.WaitForHostCommand([](const json& command) {
        // The page also hears the telemetry switch's state, which carries no link state.
        return command.value("event", "") == "sendToPropertyInspector" &&
               command["payload"].contains("state") && command["payload"]["state"]["id"] == "offline";
    });
    EXPECT_TRUE(offline);
}

TEST_F(ActionsEndToEndTest, KeysComeBackByThemselvesAfterTheControllerRestarts) {
    ShowAllKeysOnline();
    m_plugin.StopController();
    for (const auto& action : kActions) {
        ASSERT_TRUE(m_plugin.WaitForImage(Context(action), ExpectedKeyImage(action.image, {kOffline})))
            << action.name;
    }
    // A press while the controller is gone sends nothing, now or later.
    m_plugin.KeyDown(kPrefix + "alerts-skip", "ctx-alerts-skip");
    std::this_thread::sleep_for(300ms);

    m_plugin.StartController(true);
    for (const auto& action : kActions) {
        EXPECT_TRUE(m_plugin.WaitForImage(Context(action), ExpectedKeyImage(action.image))) << action.name;
    }
    m_plugin.KeyDown(kPrefix + "cup-empty", "ctx-cup-empty");
    ASSERT_TRUE(m_plugin.WaitForControllerCommand("cup-empty"));
    for (const auto& sent : m_plugin.ControllerCommands()) {
        EXPECT_NE(sent["payload"]["command"]["name"], "alerts-skip") << "a press made offline was sent later";
    }
}

// The keys as OpenDeck shows them: its plug-in identifier and -info, dotted
// contexts, titleParametersDidChange after every willAppear, the inspector's
// and the wake-up events; then the plug-in crashes while the host keeps what
// it sends, and the new plug-in gets it all replayed once it registers.
TEST(OpenDeckEndToEndTest, EveryKeyWorksAndComesBackAfterARestartWithTheHostsReplay) {
#ifndef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "runs in the native address-sanitised build only";
#endif
    const HostFlavour openDeck(HostFlavour::Kind::OpenDeck);
    auto context = [&openDeck](size_t position) { return openDeck.KeyContext("DEV1", position, ""); };
    PluginHarness plugin(openDeck);
    for (size_t i = 0; i < kActions.size(); ++i) plugin.Appear(kPrefix + kActions[i].name, context(i));
    plugin.StartController(true);
    for (size_t i = 0; i < kActions.size(); ++i) {
        ASSERT_TRUE(plugin.WaitForImage(context(i), ExpectedKeyImage(kActions[i].image))) << kActions[i].name;
    }
    size_t level = 0;
    while (kActions[level].name != "media-request-set-volume-level") ++level;
    const std::string levelAction = kPrefix + kActions[level].name;
    plugin.SendToPlugin({{"event", "systemDidWakeUp"}});
    plugin.SendToPlugin({{"event", "propertyInspectorDidAppear"},
                         {"action", levelAction},
                         {"context", context(level)},
                         {"device", "DEV1"}});
    ASSERT_TRUE(plugin.WaitForHostCommand(
        [](const json& command) { return command.value("event", "") == "sendToPropertyInspector"; }));
    plugin.SendToPlugin({{"event", "propertyInspectorDidDisappear"},
                         {"action", levelAction},
                         {"context", context(level)},
                         {"device", "DEV1"}});

    plugin.KillPlugin();
    // Sent while no plug-in is connected: the host keeps it for the next one.
    const json newLevel = {{"volume_value", 35}, {"auto_unmute", "0"}};
    for (size_t i = 0; i < kActions.size(); ++i)
        plugin.Appear(kPrefix + kActions[i].name, context(i), i == level ? newLevel : json::object());
    plugin.StartPlugin();
    for (size_t i = 0; i < kActions.size(); ++i) {
        std::string image = i == level ? "media_request_set_volume_level_percent_30.png" : kActions[i].image;
        EXPECT_TRUE(plugin.WaitForImage(context(i), ExpectedKeyImage(image))) << kActions[i].name;
    }
    for (size_t i = 0; i < kActions.size(); ++i) {
        const ActionCase& action = kActions[i];
        plugin.KeyDown(kPrefix + action.name, context(i), i == level ? newLevel : json::object());
        auto command = plugin.WaitForControllerCommand(action.command);
        ASSERT_TRUE(command) << action.name << "\n" << plugin.PluginOutput();
        json data = i == level ? json{{"auto_unmute", false}, {"value", 35}} : action.data;
        EXPECT_EQ(*command, ExpectedCommand(kPrefix + action.name, context(i), action.command, data));
    }
}

}  // namespace

namespace {

const std::string kStreaming = kPrefix + "streaming-state";
const json kHoldSettings = {{"hold_to_confirm", true}, {"hold_seconds", 0.3}};

size_t CountCommands(const std::vector<json>& commands, const std::string& name) {
    size_t count = 0;
    for (const auto& sent : commands) count += sent["payload"]["command"]["name"] == name;
    return count;
}

// The mean of the colour channels: the hint dims the key.
double Brightness(const RgbaImage& image) {
    double sum = 0;
    for (size_t i = 0; i < image.pixels.size(); ++i)
        if (i % 4 != 3) sum += image.pixels[i];
    return image.pixels.empty() ? 0 : sum / (image.pixels.size() * 3 / 4);
}

bool IsTitle(const json& command, const std::string& title) {
    return command.value("event", "") == "setTitle" && command["payload"].value("title", "") == title;
}

TEST_F(ActionsEndToEndTest, HoldToConfirmSendsOnceWhenHeldAndNothingButTheHintWhenReleasedEarly) {
    m_plugin.Appear(kStreaming, "ctx-live", kHoldSettings);
    m_plugin.StartController(true);
    ASSERT_TRUE(m_plugin.WaitForImage("ctx-live", ExpectedKeyImage("streaming_state_off.png")));

    const auto pressed = std::chrono::steady_clock::now();
    m_plugin.PressKey(kStreaming, "ctx-live");
    ASSERT_TRUE(m_plugin.WaitForControllerCommand("streaming-state-on")) << m_plugin.PluginOutput();
    EXPECT_GE(std::chrono::steady_clock::now() - pressed, 300ms);
    // Sent while the key is still down; the controller's report moves the key on.
    EXPECT_TRUE(m_plugin.WaitForImage("ctx-live", ExpectedKeyImage("streaming_state_on.png")));
    m_plugin.ReleaseKey(kStreaming, "ctx-live");

    // Pressed and let go at once: the hint (a dimmed key titled "Hold", in
    // either order), and no command.
    m_plugin.PressKey(kStreaming, "ctx-live");
    m_plugin.ReleaseKey(kStreaming, "ctx-live");
    const RgbaImage plain = ExpectedKeyImage("streaming_state_on.png");
    bool titled = false, dimmed = false;
    EXPECT_TRUE(m_plugin.WaitForHostCommand([&](const json& command) {
        titled = titled || IsTitle(command, "Hold");
        auto image =
            command.value("context", "") == "ctx-live" ? PluginHarness::ImageOf(command) : std::nullopt;
        dimmed = dimmed || (image && Brightness(*image) < Brightness(plain) * 0.8);
        return titled && dimmed;
    })) << "titled "
        << titled << ", dimmed " << dimmed;
    // About a second later the key is as it was and the user's title is back.
    EXPECT_TRUE(m_plugin.WaitForHostCommand([](const json& command) {
        return command.value("event", "") == "setTitle" && !command["payload"].contains("title");
    }));
    EXPECT_TRUE(m_plugin.WaitForImage("ctx-live", plain));
    std::this_thread::sleep_for(500ms);
    const auto sent = m_plugin.ControllerCommands();
    EXPECT_EQ(CountCommands(sent, "streaming-state-on"), 1u);
    EXPECT_EQ(CountCommands(sent, "streaming-state-off"), 0u);
}

TEST_F(ActionsEndToEndTest, AfterSleepTheLinkComesBackAtOnceAndEveryKeyIsDrawnFromTheCurrentState) {
    // One key of each kind keeps the test short.
    std::vector<ActionCase> keys;
    std::set<ActionKind> kinds;
    for (size_t i = 0; i < kActions.size(); ++i) {
        if (kinds.insert(ActionCatalogue()[i].kind).second) keys.push_back(kActions[i]);
    }
    for (const auto& action : keys) m_plugin.Appear(kPrefix + action.name, Context(action));
    m_plugin.StartController(true);
    for (const auto& action : keys)
        ASSERT_TRUE(m_plugin.WaitForImage(Context(action), ExpectedKeyImage(action.image)));
    m_plugin.StopController();
    for (const auto& action : keys)
        ASSERT_TRUE(m_plugin.WaitForImage(Context(action), ExpectedKeyImage(action.image, {kOffline})));

    // The controller came back signed out while the computer slept.
    m_plugin.StartController(false);
    const auto woken = std::chrono::steady_clock::now();
    m_plugin.SendToPlugin({{"event", "systemDidWakeUp"}});
    for (const auto& action : keys) {
        ASSERT_TRUE(m_plugin.WaitForImage(Context(action), ExpectedKeyImage(action.image, {kLoggedOut})))
            << action.name;
    }
    std::cout << "[ figures ] every key current "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - woken).count()
              << " s after waking (the test's own image checks included)\n";

    // Nothing changed during a second sleep: still every key is drawn again.
    const size_t before = m_plugin.HostCommands().size();
    m_plugin.SendToPlugin({{"event", "systemDidWakeUp"}});
    std::set<std::string> redrawn;
    const auto deadline = std::chrono::steady_clock::now() + PluginHarness::kWait;
    while (redrawn.size() < keys.size() && std::chrono::steady_clock::now() < deadline) {
        const auto& commands = m_plugin.HostCommands();
        for (size_t i = before; i < commands.size(); ++i)
            if (commands[i].value("event", "") == "setImage")
                redrawn.insert(commands[i].value("context", ""));
        std::this_thread::sleep_for(50ms);
    }
    for (const auto& action : keys) {
        EXPECT_TRUE(redrawn.count(Context(action))) << action.name;
        EXPECT_TRUE(m_plugin.WaitForImage(Context(action), ExpectedKeyImage(action.image, {kLoggedOut})));
    }
}

// A plug-in started by a host in another language.
struct LanguageCase {
    std::string language;
    std::string hint;
};

class LocalisedPluginTest : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(LocalisedPluginTest, TheFaceAndTheHoldHintAreInTheHostsLanguage) {
    PluginHarness plugin(GetParam().language);
    plugin.Appear(kStreaming, "ctx-live", kHoldSettings);
    plugin.StartController(true);
    // The face drawn with its label in that language.
    const std::string face = "faces/" + GetParam().language + "/streaming_state_off.png";
    ASSERT_TRUE(plugin.WaitForImage("ctx-live", ExpectedKeyImage(face)));
    plugin.KeyDown(kStreaming, "ctx-live");
    const std::string hint = GetParam().hint;
    EXPECT_TRUE(plugin.WaitForHostCommand([&](const json& command) { return IsTitle(command, hint); }));
}

INSTANTIATE_TEST_SUITE_P(HostLanguages, LocalisedPluginTest,
                         ::testing::Values(LanguageCase{"de", "Halten"}, LanguageCase{"ja", "長押し"}),
                         [](const auto& caseInfo) { return caseInfo.param.language; });

}  // namespace

namespace {

const std::string kLevelAction = kPrefix + "media-request-set-volume-level";
const std::string kNudgeUpAction = kPrefix + "media-request-nudge-volume-up";
const std::string kLevelCommand = "media-request-set-volume-level-percent";

bool IsFeedback(const json& command, const std::string& context, const std::string& value) {
    return command.value("event", "") == "setFeedback" && command.value("context", "") == context &&
           command["payload"].value("value", "") == value;
}

// The data of every command named |name| that the controller received.
std::vector<json> CommandData(const std::vector<json>& commands, const std::string& name) {
    std::vector<json> data;
    for (const auto& sent : commands)
        if (sent["payload"]["command"]["name"] == name) data.push_back(sent["payload"]["command"]["data"]);
    return data;
}

// A Stream Deck + with the volume level on a dial and on a key, and volume up on a second dial.
class DialEndToEndTest : public ActionsEndToEndTest {
protected:
    void ShowDialsOnline() {
        m_plugin.AppearOnDial(kLevelAction, "dial-level");
        m_plugin.AppearOnDial(kNudgeUpAction, "dial-up");
        m_plugin.Appear(kLevelAction, "key-level");
        m_plugin.StartController(true);
        ASSERT_TRUE(m_plugin.WaitForHostCommand([](const json& command) {
            return IsFeedback(command, "dial-level", "70 %");
        })) << m_plugin.PluginOutput();
    }
};

TEST_F(DialEndToEndTest, TurnsSendTheClampedLevelPacedAndPushesFollowTheReportedMuteState) {
    ShowDialsOnline();
    m_plugin.DialEvent("dialRotate", kLevelAction, "dial-level", {{"ticks", 1}, {"pressed", false}});
    auto sent = m_plugin.WaitForControllerCommand(kLevelCommand);
    ASSERT_TRUE(sent);
    EXPECT_EQ(*sent, ExpectedCommand(kLevelAction, "dial-level", kLevelCommand,
                                     {{"auto_unmute", true}, {"value", 75}}));

    // A fast turn: 50 ticks at once go out as few commands, the last one exact (clamped).
    const auto turned = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i)
        m_plugin.DialEvent("dialRotate", kLevelAction, "dial-level", {{"ticks", 1}, {"pressed", false}});
    const json full = {{"auto_unmute", true}, {"value", 100}};
    std::optional<json> last;
    while ((last = m_plugin.WaitForControllerCommand(kLevelCommand)) &&
           (*last)["payload"]["command"]["data"] != full) {
    }
    ASSERT_TRUE(last) << m_plugin.PluginOutput();
    const auto took = std::chrono::steady_clock::now() - turned;
    std::this_thread::sleep_for(400ms);
    const auto levels = CommandData(m_plugin.ControllerCommands(), kLevelCommand);
    EXPECT_EQ(levels.back(), full) << "nothing stale follows the last level";
    EXPECT_LE(levels.size() - 1, 2u + static_cast<size_t>(took / 100ms)) << "at most one command per 100 ms";
    EXPECT_TRUE(m_plugin.WaitForHostCommand([](const json& command) {
        return command.value("event", "") == "setSettings" && command.value("context", "") == "dial-level" &&
               command["payload"].value("volume_value", 0) == 100;
    })) << "the level is kept in the dial's settings";

    // Push: the controller reports sound on, so the dial mutes; the report moves the strip.
    m_plugin.DialEvent("dialDown", kLevelAction, "dial-level");
    m_plugin.DialEvent("dialUp", kLevelAction, "dial-level");
    ASSERT_TRUE(m_plugin.WaitForControllerCommand("media-request-mute-on"));
    EXPECT_TRUE(m_plugin.WaitForHostCommand(
        [](const json& command) { return IsFeedback(command, "dial-level", "Muted"); }));
    m_plugin.DialEvent("touchTap", kLevelAction, "dial-level", {{"tapPos", {100, 50}}, {"hold", false}});
    ASSERT_TRUE(m_plugin.WaitForControllerCommand("media-request-mute-off"));

    // The key of the same action keeps its own level; the nudge dial nudges by its direction.
    m_plugin.KeyDown(kLevelAction, "key-level");
    sent = m_plugin.WaitForControllerCommand(kLevelCommand);
    ASSERT_TRUE(sent);
    EXPECT_EQ((*sent)["payload"]["command"]["data"], json({{"auto_unmute", true}, {"value", 70}}));
    // Two ticks of the nudge page's step (the default 10) each.
    m_plugin.DialEvent("dialRotate", kNudgeUpAction, "dial-up", {{"ticks", -2}, {"pressed", false}});
    sent = m_plugin.WaitForControllerCommand("media-request-nudge-volume-down");
    ASSERT_TRUE(sent);
    EXPECT_EQ((*sent)["payload"]["command"]["data"], json({{"auto_unmute", true}, {"step", 20}}));
}

TEST_F(DialEndToEndTest, OfflineTheStripSaysSoAndTurnsAndPushesSendNothing) {
    ShowDialsOnline();
    m_plugin.StopController();
    ASSERT_TRUE(m_plugin.WaitForHostCommand(
        [](const json& command) { return IsFeedback(command, "dial-level", "Offline"); }));
    m_plugin.DialEvent("dialRotate", kLevelAction, "dial-level", {{"ticks", 3}, {"pressed", false}});
    m_plugin.DialEvent("dialDown", kLevelAction, "dial-level");
    m_plugin.DialEvent("dialUp", kLevelAction, "dial-level");
    m_plugin.DialEvent("dialRotate", kLevelAction, "dial-level", {{"ticks", "3"}});  // not a dial's turn
    std::this_thread::sleep_for(300ms);

    m_plugin.StartController(true);
    ASSERT_TRUE(m_plugin.WaitForHostCommand([](const json& command) {
        return IsFeedback(command, "dial-level", "70 %");
    })) << "back online at the level last sent";
    m_plugin.DialEvent("dialRotate", kLevelAction, "dial-level", {{"ticks", -1}, {"pressed", false}});
    auto command = m_plugin.WaitForControllerCommand(kLevelCommand);
    ASSERT_TRUE(command);
    EXPECT_EQ((*command)["payload"]["command"]["data"], json({{"auto_unmute", true}, {"value", 65}}));
    for (const auto& sent : m_plugin.AllControllerCommands()) {
        EXPECT_NE(sent["payload"]["command"]["name"], "media-request-mute-on")
            << "a push made offline was sent";
    }
    EXPECT_EQ(CommandData(m_plugin.AllControllerCommands(), kLevelCommand).size(), 1u)
        << "a turn made offline was sent";
}

}  // namespace
