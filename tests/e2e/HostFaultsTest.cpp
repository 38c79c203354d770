// The real plug-in while the host misbehaves: floods of messages, very large
// ones, events and actions it does not know, keys that appear twice, and a
// close in the middle of a burst. The plug-in keeps answering, and it exits
// with 0 within two seconds of the host closing the link.

#include <gtest/gtest.h>

#include "e2e/FaultSupport.h"

using json = nlohmann::json;
using namespace std::chrono_literals;
using namespace faults;

namespace {

const std::string kVolume = "com.vantora.kestrel.media-request-set-volume-level";

json KeyMessage(const std::string& event, const std::string& action, const std::string& context,
                const json& settings = json::object()) {
    return {{"event", event},
            {"action", action},
            {"context", context},
            {"device", "DEV1"},
            {"payload", {{"settings", settings}, {"coordinates", {{"column", 0}, {"row", 0}}}}}};
}

class HostFaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ShowEveryKey(m_plugin);
        m_plugin.StartController(true);
        ASSERT_TRUE(EveryKeyUsable(m_plugin));
    }

    void ExpectResponsiveAndQuickExit() {
        EXPECT_TRUE(EveryKeyUsable(m_plugin)) << m_plugin.PluginOutput();
        EXPECT_EQ(m_plugin.CloseHost(QuickExitLimit()), 0) << "no exit with 0 in time after the host closed";
    }

    PluginHarness m_plugin;
};

TEST_F(HostFaultsTest, TenThousandMessagesInABurstWithUnknownEventsAndActions) {
    for (int i = 0; i < 10000; ++i) {
        const std::string& action = kActions[i % kActions.size()];
        switch (i % 5) {
            case 0:
                m_plugin.SendToPlugin(KeyMessage("keyUp", action, ContextOf(action)));
                break;
            case 1:
                m_plugin.SendToPlugin(KeyMessage("noSuchEvent", action, ContextOf(action)));
                break;
            case 2:
                m_plugin.SendToPlugin(KeyMessage("keyDown", "com.vantora.kestrel.no-such-action", "ctx-x"));
                break;
            case 3:
                m_plugin.SendToPlugin(KeyMessage("willDisappear", "com.example.other", "ctx-y"));
                break;
            default:
                m_plugin.SendHostText(i % 2 ? "{\"event\":" : "[\"keyDown\"]");
                break;
        }
    }
    ExpectResponsiveAndQuickExit();
}

TEST_F(HostFaultsTest, MegabyteMessagesAreHandledLikeAnyOther) {
    const std::string megabyte(1 << 20, 'k');
    m_plugin.SendToPlugin(
        KeyMessage("willAppear", kVolume, "ctx-big", {{"volume_value", 40}, {"note", megabyte}}));
    m_plugin.SendToPlugin(KeyMessage("didReceiveSettings", kVolume, "ctx-big", {{"filler", megabyte}}));
    m_plugin.SendToPlugin(KeyMessage("keyDown", kVolume, "ctx-big", {{"filler", megabyte}}));
    m_plugin.SendToPlugin(KeyMessage("keyDown", kActions[0], megabyte));
    m_plugin.SendToPlugin(KeyMessage("titleParametersDidChange", megabyte, megabyte));
    m_plugin.SendHostText("{" + megabyte);
    auto sent = WaitForCommandFrom(m_plugin, "ctx-big");
    ASSERT_TRUE(sent);
    EXPECT_EQ((*sent)["payload"]["command"]["data"]["value"], 40);
    m_plugin.SendToPlugin(KeyMessage("willDisappear", kVolume, "ctx-big"));
    ExpectResponsiveAndQuickExit();
}

TEST_F(HostFaultsTest, DuplicateWillAppearKeepsOneKeyThatLeavesCompletely) {
    const std::string& action = kActions[1];
    for (int i = 0; i < 3; ++i) m_plugin.SendToPlugin(KeyMessage("willAppear", action, "ctx-twice"));
    m_plugin.KeyDown(action, "ctx-twice");
    ASSERT_TRUE(WaitForCommandFrom(m_plugin, "ctx-twice"));
    m_plugin.SendToPlugin(KeyMessage("willDisappear", action, "ctx-twice"));
    // After the key has gone, the settings request of a later appearance is the only command for it.
    m_plugin.SendToPlugin(KeyMessage("willAppear", action, "ctx-twice"));
    auto getSettings = m_plugin.WaitForHostCommand([](const json& command) {
        return command.value("event", "") == "getSettings" && command.value("context", "") == "ctx-twice";
    });
    EXPECT_TRUE(getSettings);
    ExpectResponsiveAndQuickExit();
}

TEST_F(HostFaultsTest, HostClosingInTheMiddleOfABurst) {
    for (int i = 0; i < 500; ++i) {
        const std::string& action = kActions[i % kActions.size()];
        m_plugin.KeyDown(action, ContextOf(action));
    }
    EXPECT_EQ(m_plugin.CloseHost(QuickExitLimit()), 0) << "no exit with 0 in time after the host closed";
}

}  // namespace
