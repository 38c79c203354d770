// The host link against a real WebSocket server on 127.0.0.1: registration,
// routing of every host event, the exact text of every command, and the
// handling of bad input and of commands sent while the link is not open, and
// a host that stops reading.

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "diagnostics/Log.h"
#include "host/ESDConnectionManager.h"
#include "host/HostEventTable.h"
#include "host/RecordingPlugin.h"
#include "support/HostStandIn.h"
#include "support/LogCapture.h"

using namespace std::chrono_literals;
using json = nlohmann::json;

namespace {

class ConnectionManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_manager =
            std::make_unique<ESDConnectionManager>(m_server.Port(), "PLUGIN-UUID-1", "registerPlugin");
        m_manager->SetPlugin(&m_plugin);
    }
    void TearDown() override {
        m_server.Close();
        if (m_loop.joinable()) m_loop.join();
    }
    // Starts the event loop and returns the registration message.
    std::string Connect() {
        m_loop = std::thread([this] { m_manager->Run(); });
        EXPECT_TRUE(m_server.WaitForConnection(10s));
        auto registration = m_server.NextMessage(10s);
        EXPECT_TRUE(registration.has_value());
        return registration.value_or("");
    }
    RecordedCall Deliver(const std::string& text, size_t callsBefore) {
        m_server.SendText(text);
        auto calls = m_plugin.WaitForCalls(callsBefore + 1);
        EXPECT_EQ(calls.size(), callsBefore + 1) << text;
        return calls.empty() ? RecordedCall{} : calls.back();
    }

    HostStandIn m_server;
    RecordingPlugin m_plugin;
    std::unique_ptr<ESDConnectionManager> m_manager;
    std::thread m_loop;
};

TEST_F(ConnectionManagerTest, RegistersFirstWithTheExactDocument) {
    EXPECT_EQ(Connect(), R"({"event":"registerPlugin","uuid":"PLUGIN-UUID-1"})");
}

TEST_F(ConnectionManagerTest, RoutesEveryHostEventWithItsMembers) {
    Connect();
    RecordedCall call = Deliver(
        R"({"event":"keyDown","action":"com.vantora.kestrel.emberfall","context":"CTX","device":"DEV",)"
        R"("payload":{"settings":{"a":1},"coordinates":{"column":1,"row":2}}})",
        0);
    EXPECT_EQ(call.operation, "OnKeyDown");
    EXPECT_EQ(call.action, "com.vantora.kestrel.emberfall");
    EXPECT_EQ(call.context, "CTX");
    EXPECT_EQ(call.device, "DEV");
    EXPECT_EQ(call.payload["settings"]["a"], 1);

    EXPECT_EQ(Deliver(R"({"event":"keyUp","context":"C"})", 1).operation, "OnKeyUp");
    EXPECT_EQ(Deliver(R"({"event":"willAppear","context":"C"})", 2).operation, "OnWillAppear");
    EXPECT_EQ(Deliver(R"({"event":"willDisappear","context":"C"})", 3).operation, "OnWillDisappear");

    call =
        Deliver(R"({"event":"deviceDidConnect","device":"D1","deviceInfo":{"type":2},"payload":{"x":1}})", 4);
    EXPECT_EQ(call.operation, "OnDeviceConnected");
    EXPECT_EQ(call.device, "D1");
    EXPECT_EQ(call.payload, json({{"type", 2}})) << "device information comes from the root";

    call = Deliver(R"({"event":"deviceDidDisconnect","device":"D1"})", 5);
    EXPECT_EQ(call.operation, "OnDeviceDisconnected");
    EXPECT_EQ(call.device, "D1");

    call =
        Deliver(R"({"event":"didReceiveSettings","action":"A","context":"C","payload":{"settings":{}}})", 6);
    EXPECT_EQ(call.operation, "OnCustomEvent");
    EXPECT_EQ(call.event, "didReceiveSettings");
    EXPECT_EQ(call.payload, json({{"settings", json::object()}}));
}

TEST_F(ConnectionManagerTest, RoutesDialEventsWithTheirTicksAndFlags) {
    Connect();
    RecordedCall call = Deliver(
        R"({"event":"dialRotate","action":"A","context":"D","device":"DEV","payload":{"controller":"Encoder",)"
        R"("settings":{"dial_step":2},"coordinates":{"column":1,"row":0},"ticks":-3,"pressed":true}})",
        0);
    EXPECT_EQ(call.operation, "OnDialRotate");
    EXPECT_EQ(call.context, "D");
    EXPECT_EQ(call.ticks, -3);
    EXPECT_TRUE(call.flag);
    EXPECT_EQ(call.payload["settings"]["dial_step"], 2);
    call = Deliver(R"({"event":"dialRotate","context":"D","payload":{"ticks":1000}})", 1);
    EXPECT_EQ(call.ticks, 1000) << "the largest turn a dial may report";
    EXPECT_FALSE(call.flag) << "pressed is false when absent";

    EXPECT_EQ(Deliver(R"({"event":"dialDown","context":"D","payload":{}})", 2).operation, "OnDialDown");
    EXPECT_EQ(Deliver(R"({"event":"dialUp","context":"D","payload":{}})", 3).operation, "OnDialUp");
    call = Deliver(R"({"event":"touchTap","context":"D","payload":{"tapPos":[10,20],"hold":true}})", 4);
    EXPECT_EQ(call.operation, "OnTouchTap");
    EXPECT_TRUE(call.flag);
    call = Deliver(R"({"event":"touchTap","context":"D","payload":{"hold":"yes"}})", 5);
    EXPECT_FALSE(call.flag) << "a hold that is not a boolean is no hold";
}

TEST_F(ConnectionManagerTest, DialTurnsThatNoDialMakesAreDroppedWithOneLineEach) {
    LogCapture log;
    Connect();
    const std::vector<std::string> bad = {
        R"({"event":"dialRotate","context":"D","payload":{}})",
        R"({"event":"dialRotate","context":"D"})",
        R"({"event":"dialRotate","context":"D","payload":{"ticks":1.5}})",
        R"({"event":"dialRotate","context":"D","payload":{"ticks":"3"}})",
        R"({"event":"dialRotate","context":"D","payload":{"ticks":null}})",
        R"({"event":"dialRotate","context":"D","payload":{"ticks":1001}})",
        R"({"event":"dialRotate","context":"D","payload":{"ticks":-1001}})",
        R"({"event":"dialRotate","context":"D","payload":{"ticks":18446744073709551615}})",
        R"({"event":"dialRotate","context":"D","payload":{"ticks":-9223372036854775808}})",
        R"({"event":"dialRotate","context":"D","payload":{"ticks":4294967297}})",
    };
    for (const auto& text : bad) m_server.SendText(text);
    m_server.SendText(R"({"event":"dialRotate","context":"after","payload":{"ticks":-1000}})");
    auto calls = m_plugin.WaitForCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].context, "after");
    EXPECT_EQ(calls[0].ticks, -1000);
    EXPECT_EQ(log.LinesContaining("dialRotate of 'D' ignored").size(), bad.size());
}

TEST_F(ConnectionManagerTest, FillsDefaultsForMissingOrMistypedMembers) {
    Connect();
    RecordedCall call = Deliver(R"({"event":"keyDown","context":"C"})", 0);
    EXPECT_TRUE(call.payload.is_null()) << "absent payload is null, not an empty object";

    call = Deliver(R"({"event":"keyDown","context":7,"action":["x"],"payload":"text"})", 1);
    EXPECT_EQ(call.context, "");
    EXPECT_EQ(call.action, "");
    EXPECT_TRUE(call.payload.is_null());

    call = Deliver(R"({"context":"C"})", 2);
    EXPECT_EQ(call.operation, "OnCustomEvent");
    EXPECT_EQ(call.event, "");

    call = Deliver(R"([1,2,3])", 3);
    EXPECT_EQ(call.operation, "OnCustomEvent");
    EXPECT_EQ(call.event, "");
    EXPECT_TRUE(call.payload.is_null());

    EXPECT_EQ(Deliver("42", 4).event, "");
}

TEST_F(ConnectionManagerTest, SurvivesBadInputAndHandlesTheNextMessage) {
    LogCapture log;
    Connect();
    m_server.SendBinary(R"({"event":"binary"})");
    m_server.SendText("this is not json {");
    // (Text that is not UTF-8 cannot cross the socket: the WebSocket library
    // refuses to send it as a text frame. Its handling is tested without one.)
    m_server.SendText(std::string(256 * 1024, '['));  // deeply nested and never closed
    m_server.SendText(R"({"event":"throw"})");
    m_server.SendText(R"({"event":"keyUp","context":"after"})");
    auto calls = m_plugin.WaitForCalls(2, std::chrono::seconds(60));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].event, "throw");
    EXPECT_EQ(calls[1].operation, "OnKeyUp");
    EXPECT_EQ(calls[1].context, "after");

    // One trace line per text message, whatever its content (a huge one cut
    // to the record limit); none for the binary frame.
    const std::string record = "ESDConnectionManager::OnMessage: ";
    const std::string prefix = "[trace] " + record;
    std::vector<std::string> lines = log.LinesContaining(prefix);
    ASSERT_EQ(lines.size(), 4u);
    auto text = [&](size_t i) { return lines[i].substr(lines[i].find(prefix) + prefix.size()); };
    EXPECT_EQ(text(0), "this is not json {");
    EXPECT_EQ(text(1), std::string(8191 - record.size(), '['));
    EXPECT_EQ(text(3), R"({"event":"keyUp","context":"after"})");
}

// A message whose "payload", settings or device information is nested
// |depth| levels deep (about two bytes a level).
std::string DeepMessage(const std::string& event, size_t depth) {
    const std::string deep = std::string(depth, '[') + std::string(depth, ']');
    if (event == "deviceDidConnect")
        return R"({"event":"deviceDidConnect","device":"D","deviceInfo":{"x":)" + deep + "}}";
    if (event == "willAppear" || event == "didReceiveSettings")
        return R"({"event":")" + event + R"(","context":"C","payload":{"settings":{"x":)" + deep + "}}}";
    return R"({"event":")" + event + R"(","context":"C","payload":{"x":)" + deep + "}}";
}

// Writes a record of its own for every key event, so that the log shows
// whether the host link's record came before or after the plug-in's work.
class LoggingPlugin : public RecordingPlugin {
public:
    void OnKeyDown(const std::string& action, const std::string& context, const json& payload,
                   const std::string& device) override {
        LogTrace("LoggingPlugin::OnKeyDown: %s", context.c_str());
        RecordingPlugin::OnKeyDown(action, context, payload, device);
    }
    void OnKeyUp(const std::string& action, const std::string& context, const json& payload,
                 const std::string& device) override {
        LogTrace("LoggingPlugin::OnKeyUp: %s", context.c_str());
        RecordingPlugin::OnKeyUp(action, context, payload, device);
    }
};

TEST_F(ConnectionManagerTest, APressIsHandledBeforeItsRecordIsWrittenAndOtherMessagesAfterTheirs) {
    LogCapture log;
    LoggingPlugin plugin;
    m_manager->SetPlugin(&plugin);
    Connect();
    m_server.SendText(R"({"event":"keyDown","context":"pressed"})");
    m_server.SendText(R"({"event":"keyUp","context":"released"})");
    ASSERT_EQ(plugin.WaitForCalls(2).size(), 2u);
    std::vector<std::string> lines = log.LinesContaining("::On");
    ASSERT_EQ(lines.size(), 4u);
    // A log write that waits for the disk must not hold a press's command back.
    EXPECT_NE(lines[0].find("LoggingPlugin::OnKeyDown: pressed"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(R"(OnMessage: {"event":"keyDown","context":"pressed"})"), std::string::npos)
        << lines[1];
    // Everything else is on record before it is handled.
    EXPECT_NE(lines[2].find(R"(OnMessage: {"event":"keyUp","context":"released"})"), std::string::npos)
        << lines[2];
    EXPECT_NE(lines[3].find("LoggingPlugin::OnKeyUp: released"), std::string::npos) << lines[3];
    m_server.Close();  // the loop ends before |plugin| goes
    m_loop.join();
}

TEST_F(ConnectionManagerTest, DeeplyNestedMessagesOfEveryKindAreDroppedWithOneLineEach) {
    LogCapture log;
    Connect();
    const std::vector<std::string> events = {"sendToPlugin", "didReceiveSettings", "willAppear",
                                             "deviceDidConnect"};
    // 60 000 levels: far past what a recursive copy or dump survives.
    for (const auto& event : events) m_server.SendText(DeepMessage(event, 60000));
    // Just within the bound, the same kinds are still delivered.
    m_server.SendText(DeepMessage("sendToPlugin", 60));
    m_server.SendText(R"({"event":"keyUp","context":"after"})");
    auto calls = m_plugin.WaitForCalls(2, std::chrono::seconds(60));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].event, "sendToPlugin");
    EXPECT_EQ(calls[1].context, "after");
    std::vector<std::string> dropped =
        log.LinesContaining("[warning] ESDConnectionManager::OnMessage: dropped");
    ASSERT_EQ(dropped.size(), events.size());
    EXPECT_NE(dropped[0].find("nested deeper than 64 levels"), std::string::npos) << dropped[0];
}

TEST_F(ConnectionManagerTest, HostTextCannotForgeALogRecord) {
    LogCapture log;
    Connect();
    m_server.SendText(
        "not json\n2026-12-07 10:00:00.000] [root] [critical] Unhandled exception: c0000005\r\n");
    m_server.SendText(R"({"event":"keyUp","context":"after"})");
    ASSERT_EQ(m_plugin.WaitForCalls(1).size(), 1u);
    std::vector<std::string> lines = log.LinesContaining("Unhandled exception");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].find("[root] ["), lines[0].find("[root] [trace] ")) << "a forged level";
    EXPECT_NE(lines[0].find("[trace] ESDConnectionManager::OnMessage: not json\\n2026"), std::string::npos)
        << lines[0];
}

TEST_F(ConnectionManagerTest, HostThatStopsReadingGetsTheNewestImageOfEachKeyAndEveryOtherCommand) {
    Connect();
    m_manager->GetSettings("marker");
    ASSERT_TRUE(m_server.NextMessage(10s).has_value());
    m_server.PauseReading();
    // Far more than the socket and the library's buffer hold: most images
    // must wait in the plug-in, where only the newest of each key is kept.
    // Wine's sockets at times take a whole batch before they push back, so
    // batches go on (up to four) until the backlog reaches the plug-in.
    constexpr int kBatch = 800;
    const std::string image(32 * 1024, 'A');
    int rounds = 0;
    size_t queued = 0;
    for (int batch = 0; batch < 4 && queued == 0; ++batch, rounds += kBatch) {
        std::vector<std::thread> senders;
        for (const std::string key : {"K1", "K2"}) {
            senders.emplace_back([this, key, &image, first = rounds] {
                for (int i = first; i < first + kBatch; ++i) {
                    m_manager->SetImage(std::to_string(i) + "-" + image, key);
                    m_manager->SetSettings({{"n", i}}, "S" + key);
                }
            });
        }
        for (auto& sender : senders) sender.join();
        queued = m_manager->QueuedBytes();
        for (int wait = 0; wait < 50 && queued == 0; ++wait) {
            std::this_thread::sleep_for(100ms);
            queued = m_manager->QueuedBytes();
        }
    }
    EXPECT_GT(queued, 0u) << "the host's backlog never reached the plug-in's queue";
    // Besides the small commands, one image per key and what is passed on unmerged.
    EXPECT_LE(queued, ESDConnectionManager::kUnmergedQueueLimit + 2 * (image.size() + 200) +
                          2 * static_cast<size_t>(rounds) * 80);

    m_server.ResumeReading();
    std::map<std::string, std::string> lastImage;
    std::map<std::string, int> nextSettings = {{"SK1", 0}, {"SK2", 0}};
    size_t images = 0;
    while (nextSettings["SK1"] < rounds || nextSettings["SK2"] < rounds ||
           lastImage["K1"] != std::to_string(rounds - 1) || lastImage["K2"] != std::to_string(rounds - 1)) {
        auto text = m_server.NextMessage(30s);
        ASSERT_TRUE(text.has_value())
            << "settings so far: " << nextSettings["SK1"] << ", " << nextSettings["SK2"]
            << "; images " << images << "; host connected: " << m_server.Connected()
            << "; queued in the plug-in: " << m_manager->QueuedBytes() << " bytes";
        json command = json::parse(*text);
        const std::string context = command["context"];
        if (command["event"] == "setSettings") {
            EXPECT_EQ(command["payload"]["n"], nextSettings[context]++) << "settings lost or out of order";
        } else {
            ASSERT_EQ(command["event"], "setImage");
            const std::string url = command["payload"]["image"];
            const std::string number = url.substr(url.find(',') + 1, url.find('-') - url.find(',') - 1);
            if (!lastImage[context].empty()) {
                EXPECT_LT(std::stoi(lastImage[context]), std::stoi(number));
            }
            lastImage[context] = number;
            ++images;
        }
    }
    EXPECT_LT(images, 2u * rounds) << "no image was replaced while the host did not read";
    EXPECT_EQ(m_manager->QueuedBytes(), 0u);
}

TEST_F(ConnectionManagerTest, SendsEveryCommandByteForByte) {
    Connect();
    m_manager->SetTitle("", "C1");
    m_manager->SetTitle("Hé \"x\"", "C1");
    m_manager->SetImage("", "C2");
    m_manager->SetImage("data:image/png;base64,AAAA", "C2");
    m_manager->SetImage("iVBORw0K", "C2");
    m_manager->SetSettings(nullptr, "C3");
    m_manager->SetSettings({{"volume_value", 70}, {"auto_unmute", "1"}}, "C3");
    m_manager->GetSettings("C4");
    m_manager->SendToPropertyInspector({{"state", {{"id", "offline"}}}, {"settings", json::object()}}, "C5");
    m_manager->SendToPropertyInspector("text", "C5");
    m_manager->SetFeedback({{"value", "70 %"}, {"indicator", {{"value", 70}, {"opacity", 0.5}}}}, "D1");
    m_manager->SetFeedbackLayout("$B1", "D1");
    m_manager->SetTriggerDescription({{"rotate", "Volume"}, {"push", "Mute"}, {"touch", "Mute"}}, "D1");

    const std::vector<std::string> expected = {
        R"({"context":"C1","event":"setTitle","payload":{"target":0,"title":""}})",
        "{\"context\":\"C1\",\"event\":\"setTitle\",\"payload\":{\"target\":0,\"title\":\"H\xc3\xa9 "
        "\\\"x\\\"\"}}",
        R"({"context":"C2","event":"setImage","payload":{"image":"","target":0}})",
        R"({"context":"C2","event":"setImage","payload":{"image":"data:image/png;base64,AAAA","target":0}})",
        R"({"context":"C2","event":"setImage","payload":{"image":"data:image/png;base64,iVBORw0K","target":0}})",
        R"({"context":"C3","event":"setSettings","payload":null})",
        R"({"context":"C3","event":"setSettings","payload":{"auto_unmute":"1","volume_value":70}})",
        R"({"context":"C4","event":"getSettings"})",
        R"({"context":"C5","event":"sendToPropertyInspector","payload":{"settings":{},"state":{"id":"offline"}}})",
        R"({"context":"C5","event":"sendToPropertyInspector","payload":"text"})",
        R"({"context":"D1","event":"setFeedback","payload":{"indicator":{"opacity":0.5,"value":70},"value":"70 %"}})",
        R"({"context":"D1","event":"setFeedbackLayout","payload":{"layout":"$B1"}})",
        R"({"context":"D1","event":"setTriggerDescription","payload":{"push":"Mute","rotate":"Volume","touch":"Mute"}})",
    };
    for (const auto& text : expected) {
        auto received = m_server.NextMessage(10s);
        ASSERT_TRUE(received.has_value()) << "missing " << text;
        EXPECT_EQ(*received, text);
    }
}

TEST_F(ConnectionManagerTest, InvalidUtf8RaisesToTheCallerAndSendsNothing) {
    Connect();
    EXPECT_THROW(m_manager->SetTitle("\xff", "C"), json::type_error);
    EXPECT_THROW(m_manager->SetSettings({{"k", "\xc3"}}, "C"), json::type_error);
    m_manager->GetSettings("marker");
    auto next = m_server.NextMessage(10s);
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(*next, R"({"context":"marker","event":"getSettings"})");
}

TEST_F(ConnectionManagerTest, CommandsBeforeTheLinkOpensAreLostNotDeferred) {
    m_manager->SetTitle("early", "C");
    m_manager->SetImage("early", "C");
    Connect();
    m_manager->GetSettings("marker");
    auto next = m_server.NextMessage(10s);
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(*next, R"({"context":"marker","event":"getSettings"})");
}

TEST_F(ConnectionManagerTest, CommandsFromOtherThreadsArriveWholeAndInOrderPerThread) {
    Connect();
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([this, t] {
            for (int i = 0; i < 50; ++i) m_manager->SetTitle(std::to_string(i), "T" + std::to_string(t));
        });
    }
    for (auto& sender : senders) sender.join();
    std::vector<int> next(4, 0);
    for (int n = 0; n < 200; ++n) {
        auto text = m_server.NextMessage(10s);
        ASSERT_TRUE(text.has_value());
        json command = json::parse(*text);
        int thread = std::stoi(command["context"].get<std::string>().substr(1));
        EXPECT_EQ(command["payload"]["title"], std::to_string(next[thread]++));
    }
}

TEST_F(ConnectionManagerTest, RunReturnsWhenTheHostCloses) {
    Connect();
    m_server.Close();
    m_loop.join();
    m_manager->SetTitle("late", "C");  // after the end: dropped, harmless
}

TEST(ConnectionManagerRunTest, ReturnsWhenTheConnectionIsRefusedOrThePortUnusable) {
    int closedPort = 0;
    {
        HostStandIn server;
        closedPort = server.Port();
    }
    for (int port : {closedPort, -5, 70000}) {
        ESDConnectionManager manager(port, "U", "registerPlugin");
        RecordingPlugin plugin;
        manager.SetPlugin(&plugin);
        manager.Run();
        manager.SetTitle("late", "C");
    }
}

TEST(ConnectionManagerSinkTest, BuildsTheSameTextsWithoutASocket) {
    std::vector<std::string> sent;
    ESDConnectionManager manager([&sent](const std::string& text) { sent.push_back(text); });
    manager.SetImage("abc", "K");
    manager.GetSettings("K");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(
        sent[0],
        R"({"context":"K","event":"setImage","payload":{"image":"data:image/png;base64,abc","target":0}})");
    EXPECT_EQ(sent[1], R"({"context":"K","event":"getSettings"})");
}

TEST(ConnectionManagerSinkTest, ImagesAndContextsThatNeedEscapingAreEscaped) {
    // A key image's URL is written as it is; anything else goes through the
    // JSON library, so the host parses back exactly what was given.
    std::vector<std::string> sent;
    ESDConnectionManager manager([&sent](const std::string& text) { sent.push_back(text); });
    const std::string context = "K\"\\\n\xC3\xA9";
    const std::string odd = "<svg a=\"1\">\\\t</svg>";
    manager.SetImage(odd, context);
    manager.SetImage("iVBOR+/=", context);
    ASSERT_EQ(sent.size(), 2u);
    auto expected = [&](const std::string& image) {
        return json({{"context", context},
                     {"event", "setImage"},
                     {"payload", {{"image", "data:image/png;base64," + image}, {"target", 0}}}});
    };
    EXPECT_EQ(json::parse(sent[0]), expected(odd));
    EXPECT_EQ(sent[1], expected("iVBOR+/=").dump());
    EXPECT_THROW(manager.SetImage("AAAA", "\xFF"), json::type_error) << "a context that is not UTF-8";
    EXPECT_EQ(sent.size(), 2u);
}

TEST(ConnectionManagerSinkTest, CommandsAreTheirDocumentsForEveryKindOfCharacter) {
    // Whatever the context, title or image holds, each redraw and key-press
    // command is its document's dump (an image gets the data-URL prefix once),
    // and text that is not UTF-8 raises before anything is sent. A faster
    // way of writing these commands must keep to this.
    std::vector<std::string> sent;
    ESDConnectionManager manager([&sent](const std::string& text) { sent.push_back(text); });
    const std::vector<std::string> values = {"",
                                             " ",
                                             "~",
                                             "/",
                                             "\x7f",
                                             "\x1f",
                                             "\x01",
                                             "\"",
                                             "\\",
                                             "a\tb",
                                             "\xC3\xA9",
                                             "data:image/png;base64,",
                                             "data:image/png;base64,A\"",
                                             "iVBOR+/="};
    for (const std::string& value : values) {
        sent.clear();
        manager.SetImage(value, value);
        manager.SetTitle(value, value);
        manager.ResetTitle(value);
        manager.GetSettings(value);
        manager.ShowAlert(value);
        const bool prefixed = value.empty() || value.rfind("data:image/png;base64,", 0) == 0;
        const std::vector<json> documents = {
            {{"event", "setImage"},
             {"context", value},
             {"payload", {{"image", prefixed ? value : "data:image/png;base64," + value}, {"target", 0}}}},
            {{"event", "setTitle"}, {"context", value}, {"payload", {{"target", 0}, {"title", value}}}},
            {{"event", "setTitle"}, {"context", value}, {"payload", {{"target", 0}}}},
            {{"event", "getSettings"}, {"context", value}},
            {{"event", "showAlert"}, {"context", value}}};
        ASSERT_EQ(sent.size(), documents.size());
        for (size_t i = 0; i < documents.size(); ++i) EXPECT_EQ(sent[i], documents[i].dump()) << i;
    }
    sent.clear();
    EXPECT_THROW(manager.SetImage("\xFF", "K"), json::type_error) << "an image that is not UTF-8";
    EXPECT_THROW(manager.SetTitle("\xC3", "K"), json::type_error) << "a title cut inside a character";
    EXPECT_THROW(manager.GetSettings("\xFF"), json::type_error);
    EXPECT_THROW(manager.ShowAlert("\xFF"), json::type_error);
    EXPECT_TRUE(sent.empty());
}

TEST(ConnectionManagerSinkTest, TextThatIsNotUtf8IsTracedAndDroppedAndTheNextMessageHandled) {
    LogCapture log;
    ESDConnectionManager manager([](const std::string&) {});
    RecordingPlugin plugin;
    manager.SetPlugin(&plugin);
    const std::string broken = "{\"event\":\"keyDown\",\"context\":\"\xff\xfe\"}";
    manager.HandleMessageText(broken);
    manager.HandleMessageText(R"({"event":"keyUp","context":"after"})");
    auto calls = plugin.WaitForCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].operation, "OnKeyUp");
    // The log stays UTF-8: the bytes that are not are written as escapes.
    const std::string logged = "{\"event\":\"keyDown\",\"context\":\"\\xff\\xfe\"}";
    EXPECT_EQ(log.LinesContaining("ESDConnectionManager::OnMessage: " + logged).size(), 1u);
}

// The rows of HostEventTable, whatever they are: each event of a row reaches
// an operation of its own with the message's members, and every other name,
// also one that differs only in case or space or is empty, reaches
// OnCustomEvent under that name.
TEST(ConnectionManagerSinkTest, EveryRowOfTheEventTableReachesItsOwnOperationAndOtherNamesTheCustomOne) {
    ESDConnectionManager manager([](const std::string&) {});
    RecordingPlugin plugin;
    manager.SetPlugin(&plugin);
    const std::vector<std::string> rows = HostEventTable::Names();
    const std::vector<std::string> others = {
        "", "KeyDown", "keydown", "keyDown ", "didReceiveSettings", "systemDidWakeUp", "noSuchEvent"};
    ASSERT_FALSE(rows.empty());
    for (const auto* names : {&rows, &others}) {
        for (const std::string& name : *names) {
            manager.HandleMessageText(json{
                {"event", name},
                {"action", "A"},
                {"context", "C"},
                {"device", "D"},
                {"payload",
                 {{"ticks", 1}}}}.dump());
        }
    }
    const auto calls = plugin.WaitForCalls(rows.size() + others.size());
    ASSERT_EQ(calls.size(), rows.size() + others.size());
    std::map<std::string, std::string> eventOfOperation;
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_NE(calls[i].operation, "OnCustomEvent") << rows[i];
        EXPECT_EQ(calls[i].device, "D") << rows[i];
        const auto taken = eventOfOperation.emplace(calls[i].operation, rows[i]);
        EXPECT_TRUE(taken.second) << rows[i] << " and " << taken.first->second << " reach "
                                  << calls[i].operation;
    }
    for (size_t i = 0; i < others.size(); ++i) {
        const RecordedCall& call = calls[rows.size() + i];
        EXPECT_EQ(call.operation, "OnCustomEvent") << others[i];
        EXPECT_EQ(call.event, others[i]);
        EXPECT_EQ(call.action, "A");
        EXPECT_EQ(call.context, "C");
        EXPECT_EQ(call.payload, json({{"ticks", 1}}));
    }
}

}  // namespace
