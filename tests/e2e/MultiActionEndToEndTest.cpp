// Keys in macros and with their users' own icons, end to end: the real
// executable between a stand-in host and the reference controller server.
// A "Go live" step must turn streaming on and never off, whatever the key
// showed and whether the key holds to confirm; the host's state of a key
// follows the controller; a press that never gets its key up leaves the key
// as it was; own icons are the host's to show while the key works.

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "e2e/PluginHarness.h"

using json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

const std::string kStreaming = "com.vantora.kestrel.streaming-state";
const std::string kMute = "com.vantora.kestrel.alerts-mute";
const json kHoldSettings = {{"hold_to_confirm", true}, {"hold_seconds", 2.0}};

json HostEvent(const char* event, const std::string& action, const std::string& context,
               const json& payload) {
    return {
        {"event", event}, {"action", action}, {"context", context}, {"device", "DEV1"}, {"payload", payload}};
}

// A step of a Multi Action as the Windows application sends it: no
// coordinates, isInMultiAction, and the state the user picked for the step.
json StepPayload(const json& settings, int shownState, int pickedState) {
    return {{"settings", settings},
            {"controller", "Keypad"},
            {"isInMultiAction", true},
            {"state", shownState},
            {"userDesiredState", pickedState}};
}

void AppearAsStep(PluginHarness& plugin, const std::string& action, const std::string& context,
                  const json& settings) {
    plugin.SendToPlugin(HostEvent(
        "willAppear", action, context,
        {{"settings", settings}, {"controller", "Keypad"}, {"state", 0}, {"isInMultiAction", true}}));
}

// The host runs the step: key down, and key up about 100 ms later.
void RunStep(PluginHarness& plugin, const std::string& action, const std::string& context,
             const json& payload) {
    plugin.SendToPlugin(HostEvent("keyDown", action, context, payload));
    std::this_thread::sleep_for(100ms);
    plugin.SendToPlugin(HostEvent("keyUp", action, context, payload));
}

size_t CountCommands(const std::vector<json>& commands, const std::string& name) {
    size_t count = 0;
    for (const auto& sent : commands) count += sent["payload"]["command"]["name"] == name;
    return count;
}

// Waits until every context of |states| has been told its state, in any order.
::testing::AssertionResult WaitForStates(PluginHarness& plugin, std::map<std::string, int> states) {
    plugin.WaitForHostCommand([&](const json& command) {
        if (command.value("event", "") != "setState") return false;
        auto found = states.find(command.value("context", ""));
        if (found != states.end() && command["payload"]["state"] == found->second) states.erase(found);
        return states.empty();
    });
    if (states.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << states.begin()->first << " was not told " << states.begin()->second;
}

bool IsEmptyImage(const json& command, const std::string& context) {
    return command.value("event", "") == "setImage" && command.value("context", "") == context &&
           command["payload"] == json::object();
}

// The latest "setImage" of |context| the host received (null when none).
json LastImageCommand(PluginHarness& plugin, const std::string& context) {
    json last;
    for (const json& command : plugin.HostCommands())
        if (command.value("event", "") == "setImage" && command.value("context", "") == context)
            last = command;
    return last;
}

TEST(MultiActionEndToEndTest, GoLiveStepsSendTheCommandOfThePickedStateOnceEvenWhenTheKeyHoldsToConfirm) {
    PluginHarness plugin;
    plugin.Appear(kStreaming, "ctx-key");
    AppearAsStep(plugin, kStreaming, "ctx-step", kHoldSettings);
    plugin.StartController(true);
    ASSERT_TRUE(plugin.WaitForImage("ctx-key", ExpectedKeyImage("streaming_state_off.png")));

    // Live already: the step's "Live" must not end the stream.
    plugin.Control("state " + kStreaming + " streaming-state-on");
    ASSERT_TRUE(WaitForStates(plugin, {{"ctx-key", 1}, {"ctx-step", 1}}));
    RunStep(plugin, kStreaming, "ctx-step", StepPayload(kHoldSettings, 1, 1));
    ASSERT_TRUE(plugin.WaitForControllerCommand("streaming-state-on")) << plugin.PluginOutput();

    plugin.Control("state " + kStreaming + " streaming-state-off");
    ASSERT_TRUE(WaitForStates(plugin, {{"ctx-key", 0}, {"ctx-step", 0}}));
    RunStep(plugin, kStreaming, "ctx-step", StepPayload(kHoldSettings, 0, 0));
    ASSERT_TRUE(plugin.WaitForControllerCommand("streaming-state-off")) << plugin.PluginOutput();

    // Past the hold's two seconds: nothing more leaves, and no hold hint showed.
    std::this_thread::sleep_for(2500ms);
    const auto sent = plugin.ControllerCommands();
    EXPECT_EQ(CountCommands(sent, "streaming-state-on"), 1u);
    EXPECT_EQ(CountCommands(sent, "streaming-state-off"), 1u);
    for (const json& command : plugin.HostCommands()) {
        if (command.value("event", "") == "setTitle") {
            EXPECT_FALSE(command["payload"].contains("title"));
        }
    }
}

TEST(MultiActionEndToEndTest, AKeyDownThatNeverGetsItsKeyUpLeavesTheKeyAsItWas) {
    const std::string skip = "com.vantora.kestrel.alerts-skip";
    PluginHarness plugin;
    plugin.Appear(skip, "ctx-held", {{"hold_to_confirm", true}, {"hold_seconds", 0.3}});
    plugin.StartController(true);
    const RgbaImage before = ExpectedKeyImage("alerts_skip.png");
    ASSERT_TRUE(plugin.WaitForImage("ctx-held", before));

    // OpenDeck's toggle action: a key down alone. The hold runs its time and acts.
    plugin.SendToPlugin(HostEvent("keyDown", skip, "ctx-held",
                                  {{"settings", json::object()}, {"state", 0}, {"isInMultiAction", false}}));
    ASSERT_TRUE(plugin.WaitForControllerCommand("alerts-skip")) << plugin.PluginOutput();
    std::this_thread::sleep_for(1s);
    auto image = plugin.LatestImage("ctx-held");
    ASSERT_TRUE(image);
    EXPECT_TRUE(SameImage(*image, before)) << "the key still shows the hold";
}

TEST(MultiActionEndToEndTest, OwnIconsAreTheHostsWhileTheKeyWorksAndComeBackAfterTheOfflineBadge) {
    PluginHarness plugin;
    plugin.Appear(kMute, "ctx-own", {{"own_icons", true}});
    ASSERT_TRUE(
        plugin.WaitForImage("ctx-own", ExpectedKeyImage("alerts_mute_on.png", {"state_offline.png"})));

    plugin.StartController(true);
    ASSERT_TRUE(plugin.WaitForHostCommand([](const json& command) {
        return IsEmptyImage(command, "ctx-own");
    })) << plugin.PluginOutput();
    // A state change is the host's state, not an image of the plug-in's.
    plugin.Control("state " + kMute + " alerts-mute-on");
    ASSERT_TRUE(WaitForStates(plugin, {{"ctx-own", 1}}));
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(IsEmptyImage(LastImageCommand(plugin, "ctx-own"), "ctx-own"))
        << "the plug-in drew over the icon";

    plugin.StopController();
    ASSERT_TRUE(
        plugin.WaitForImage("ctx-own", ExpectedKeyImage("alerts_mute_off.png", {"state_offline.png"})));
    plugin.StartController(true);
    ASSERT_TRUE(plugin.WaitForHostCommand([](const json& command) {
        return IsEmptyImage(command, "ctx-own");
    })) << "the user's icons do not come back";
}

}  // namespace
