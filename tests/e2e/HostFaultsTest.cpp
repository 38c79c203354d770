// The real plug-in while the host misbehaves: floods of messages, very large
// and very deep ones, events and actions it does not know, keys that appear
// many times, settings for keys never shown, a host that stops reading, and a
// close in the middle of a burst. The plug-in keeps answering with bounded
// memory, and it exits with 0 within two seconds of the host closing the link.

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <thread>

#include "e2e/FaultSupport.h"

using json = nlohmann::json;
using namespace std::chrono_literals;
using namespace faults;

namespace {

const std::string kVolume = "com.vantora.kestrel.media-request-set-volume-level";
const std::string kPump = "com.vantora.kestrel.emberfall-pump";

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

    ChildProcess::Usage Usage() {
        auto usage = m_plugin.PluginUsage();
        EXPECT_TRUE(usage) << "the plug-in has ended";
        return usage.value_or(ChildProcess::Usage{});
    }
    static double Megabytes(const ChildProcess::Usage& usage) { return usage.residentBytes / 1048576.0; }

    // Sends a settings change for the volume key and waits for its echo: every
    // earlier host message has then been handled.
    void Settle(std::chrono::milliseconds timeout = PluginHarness::kWait) {
        static int marker = 0;
        const int value = ++marker;
        m_plugin.SendToPlugin(
            KeyMessage("didReceiveSettings", kVolume, ContextOf(kVolume), {{"marker", value}}));
        auto echo = m_plugin.WaitForHostCommand(
            [value](const json& command) {
                return command.value("event", "") == "setSettings" &&
                       command["payload"].value("marker", 0) == value;
            },
            timeout);
        ASSERT_TRUE(echo) << "the plug-in did not answer";
    }

    size_t HostCommandsFor(const std::string& event, const std::string& context) {
        size_t count = 0;
        for (const auto& command : m_plugin.HostCommands())
            count += command.value("event", "") == event && command.value("context", "") == context;
        return count;
    }

    SmallQuarantine m_quarantine;
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

TEST_F(HostFaultsTest, DeeplyNestedDocumentsInEveryHostMessageKindAreDropped) {
    // About 120 KB each, nested 60 000 levels deep.
    const std::string deep = "{\"x\":" + std::string(60000, '[') + std::string(60000, ']') + "}";
    const std::string context = ContextOf(kVolume);
    m_plugin.SendHostText(R"({"event":"sendToPlugin","action":")" + kVolume + R"(","context":")" + context +
                          R"(","payload":)" + deep + "}");
    for (const std::string event : {"didReceiveSettings", "willAppear"}) {
        m_plugin.SendHostText(R"({"event":")" + event + R"(","action":")" + kVolume + R"(","context":")" +
                              context + R"(","payload":{"settings":)" + deep + "}}");
    }
    m_plugin.SendHostText(R"({"event":"deviceDidConnect","device":"DEV1","deviceInfo":)" + deep + "}");
    Settle();
    ExpectResponsiveAndQuickExit();
}

TEST_F(HostFaultsTest, KeyShownTwoHundredTimesIsOneKeyWithOneEchoPerChange) {
    const std::string context = "ctx-shown-often";
    for (int i = 0; i < 200; ++i) m_plugin.Appear(kVolume, context);
    // Its settings page is open: one message when it opens, one with the
    // telemetry switch's state, one for the change.
    m_plugin.SendToPlugin(
        {{"event", "propertyInspectorDidAppear"}, {"action", kVolume}, {"context", context}});
    m_plugin.SendToPlugin(KeyMessage("didReceiveSettings", kVolume, context, {{"volume_value", 30}}));
    Settle();
    const size_t echoes = HostCommandsFor("setSettings", context);
    const size_t inspector = HostCommandsFor("sendToPropertyInspector", context);
    std::cout << "[ figures  ] 200 willAppear, page opened, one change: " << echoes << " setSettings, "
              << inspector << " sendToPropertyInspector\n";
    EXPECT_EQ(echoes, 1u);
    EXPECT_EQ(inspector, 3u);
    // Pressed, it is still the one key with the changed settings.
    m_plugin.KeyDown(kVolume, context);
    auto sent = WaitForCommandFrom(m_plugin, context);
    ASSERT_TRUE(sent);
    EXPECT_EQ((*sent)["payload"]["command"]["data"]["value"], 30);
    ExpectResponsiveAndQuickExit();
}

TEST_F(HostFaultsTest, SettingsForKeysNeverShownLeaveNothingBehind) {
    constexpr int kNeverShown = 10000;
    Settle();
    const ChildProcess::Usage before = Usage();
    // Long notes and contexts: a plug-in that kept what these messages carry
    // would hold about 25 MB, more than the bound allows and no less than
    // five times as many messages with 200-character notes would hold.
    const std::string note(1500, 'n');
    const std::string padding(800, 'c');
    for (int i = 0; i < kNeverShown; ++i) {
        const std::string& action = kActions[i % kActions.size()];
        const std::string context = "never-shown-" + std::to_string(i) + "-" + padding;
        const char* event = i % 4 == 0   ? "sendToPlugin"
                            : i % 4 == 1 ? "titleParametersDidChange"
                                         : "didReceiveSettings";
        m_plugin.SendToPlugin(
            KeyMessage(event, action, context, {{"volume_value", i % 100}, {"note", note}}));
        if (i % 10 == 3)
            m_plugin.SendToPlugin(
                {{"event", "propertyInspectorDidAppear"}, {"action", action}, {"context", context}});
    }
    Settle(std::chrono::minutes(10));
    const ChildProcess::Usage after = Usage();
    std::cout << "[ figures  ] " << kNeverShown << " settings for keys never shown: " << Megabytes(before)
              << " -> " << Megabytes(after) << " MB resident\n";
    ExpectBounded(before, after, 24);
    ExpectResponsiveAndQuickExit();
}

// A title reaches the key through the real host link: one without text, or
// with a showTitle that is not a boolean, changes nothing; the streamer's own
// takes the place of the face's label (rows 104 to 133 turn into one colour
// each, the rest stays), and the label comes back when the title is emptied.
TEST_F(HostFaultsTest, BadTitlesChangeNothingAndAStreamersTitleTakesTheLabelsPlace) {
    const std::string& action = kActions[0];
    const std::string context = ContextOf(action);
    const RgbaImage plain = ExpectedKeyImage("overlays_reload.png");
    ASSERT_TRUE(m_plugin.WaitForImage(context, plain));
    json title = KeyMessage("titleParametersDidChange", action, context);
    title["payload"]["title"] = 7;
    m_plugin.SendToPlugin(title);
    title["payload"]["title"] = "Go live";
    title["payload"]["titleParameters"] = {{"showTitle", "yes"}};
    m_plugin.SendToPlugin(title);
    Settle();
    EXPECT_TRUE(SameImage(m_plugin.LatestImage(context).value_or(RgbaImage()), plain));

    title["payload"]["titleParameters"] = {{"showTitle", true}, {"titleAlignment", "bottom"}};
    m_plugin.SendToPlugin(title);
    std::optional<RgbaImage> titled;
    for (const auto deadline = std::chrono::steady_clock::now() + PluginHarness::kWait;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
        titled = m_plugin.LatestImage(context);
        if (titled && !SameImage(*titled, plain)) break;
    }
    ASSERT_TRUE(titled && !SameImage(*titled, plain) && titled->height == 144);
    for (unsigned y = 0; y < titled->height; ++y) {
        for (unsigned x = 2; x + 2 < titled->width; ++x) {
            if (y >= 104 && y < 134) {
                ASSERT_EQ(titled->At(x, y), titled->At(2, y)) << x << "," << y;
            } else {
                const RgbaImage::Pixel a = titled->At(x, y), b = plain.At(x, y);
                for (size_t c = 0; c < a.size(); ++c) ASSERT_LE(std::abs(a[c] - b[c]), 3) << x << "," << y;
            }
        }
    }
    title["payload"]["title"] = "";
    m_plugin.SendToPlugin(title);
    EXPECT_TRUE(m_plugin.WaitForImage(context, plain));
    ExpectResponsiveAndQuickExit();
}

TEST_F(HostFaultsTest, HostThatStopsReadingWhileThePumpIsPressedCostsBoundedMemory) {
    Settle();
    const ChildProcess::Usage before = Usage();
    const std::string pump = ContextOf(kPump);
    const std::string volume = ContextOf(kVolume);
    const size_t pumpCommands = CommandsFrom(m_plugin.AllControllerCommands(), pump);
    m_plugin.PauseHostReading();
    constexpr int kPresses = 10000;
    for (int i = 0; i < kPresses; ++i) {
        m_plugin.KeyDown(kPump, pump);
        // Settings changes in between: none may be lost or reordered.
        if (i % 100 == 0) {
            m_plugin.SendToPlugin(KeyMessage("didReceiveSettings", kVolume, volume, {{"change", i / 100}}));
        }
    }
    // The pump's command, a second after the last press, shows that every press was handled.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (CommandsFrom(m_plugin.AllControllerCommands(), pump) == pumpCommands) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the presses were never handled";
        std::this_thread::sleep_for(200ms);
    }
    const ChildProcess::Usage stalled = Usage();
    std::cout << "[ figures  ] " << kPresses << " pump presses, host not reading: " << Megabytes(before)
              << " -> " << Megabytes(stalled) << " MB resident\n";
    ExpectBounded(before, stalled, 32);

    m_plugin.ResumeHostReading();
    int nextChange = 0;
    while (nextChange < kPresses / 100) {
        auto echo = m_plugin.WaitForHostCommand([&](const json& command) {
            return command.value("event", "") == "setSettings" && command.value("context", "") == volume &&
                   command["payload"].contains("change");
        });
        ASSERT_TRUE(echo) << "settings change " << nextChange << " never arrived";
        EXPECT_EQ((*echo)["payload"]["change"], nextChange++);
    }
    // The newest image arrives: the idle pump once its success mark has gone.
    EXPECT_TRUE(m_plugin.WaitForImage(pump, ExpectedKeyImage("emberfall_pump.png")));
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
