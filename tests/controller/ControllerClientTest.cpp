// The controller client: connection reports and telemetry, the bounded write
// queue with its attempts, delivery of received events, and its behaviour
// against a real pipe server that keeps dropping the link.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "LogRecords.h"
#include "PipeTestSupport.h"
#include "ScriptedTransport.h"
#include "controller-sim/ControllerModel.h"
#include "controller-sim/PipeServer.h"
#include "controller/ControllerClient.h"
#include "controller/NamedPipesClient.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const auto kButton =
    std::make_shared<ElementAddress>(ElementAddress::kButton, "ctx", "com.vantora.kestrel.emberfall");

std::shared_ptr<MessageBase> Press(int index, const char* name = "emberfall") {
    return std::make_shared<CommandMessage>(name, kButton, json{{"i", index}});
}

int IndexOf(const MessageBase& message) {
    return message.Document()["payload"]["command"]["data"]["i"];
}

// -1 for a command without an index (the state query).
int IndexOf(const std::string& written) {
    json data = json::parse(written)["payload"]["command"]["data"];
    return data.is_object() ? data.value("i", -1) : -1;
}

// What the client told its listener and the telemetry.
struct Observed {
    template <typename Condition>
    bool WaitFor(Condition condition, std::chrono::milliseconds timeout = 20s) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, condition);
    }
    void Add(std::vector<std::string>& list, std::string item) {
        std::lock_guard<std::mutex> lock(mutex);
        list.push_back(std::move(item));
        changed.notify_all();
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }
    std::vector<std::string> Telemetry() {
        std::lock_guard<std::mutex> lock(mutex);
        return telemetry;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> events;  // name, or name + " " + data for server events
    std::vector<std::string> telemetry;
};

// Completions in the order in which they ran.
struct Completions {
    void Record(const MessageBase& message, bool accepted) {
        std::lock_guard<std::mutex> lock(mutex);
        finished.emplace_back(IndexOf(message), accepted);
        threads.push_back(std::this_thread::get_id());
        changed.notify_all();
    }
    bool WaitForCount(size_t count, std::chrono::milliseconds timeout = 30s) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return finished.size() >= count; });
    }
    ControllerClient::WriteCompletion Callback() {
        return [this](const MessageBase& message, bool accepted) { Record(message, accepted); };
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<int, bool>> finished;
    std::vector<std::thread::id> threads;
};

class ControllerClientTest : public ::testing::Test {
protected:
    std::unique_ptr<ControllerClient> MakeClient(
        std::shared_ptr<NetworkClientBase> link,
        ControllerThreads threads = ControllerThreads::WriteAndHousekeeping) {
        return std::make_unique<ControllerClient>(
            std::move(link),
            [this](const EventMessage& event) {
                std::string name = event.GetName();
                json data = event.GetData();
                observed.Add(observed.events, data.is_null() ? name : name + " " + data.dump());
            },
            [this](const char* name) { observed.Add(observed.telemetry, name); }, threads);
    }

    std::string QueryText() {
        auto own = std::make_shared<ElementAddress>(ElementAddress::kNetworkClient, "controllerClient",
                                                    "controllerClient");
        return CommandMessage(SystemMessages::kQueryState, own, nullptr).Serialize();
    }

    Observed observed;
    Completions completions;
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
};

TEST_F(ControllerClientTest, ReportsEachLinkChangeOnceWithItsTelemetry) {
    auto client = MakeClient(transport);
    client->Start();
    // Reported by Start itself, before any attempt to connect.
    EXPECT_EQ(observed.Events(), std::vector<std::string>{"networkClientDisconnected"});
    EXPECT_EQ(observed.Telemetry(), std::vector<std::string>{"streamdeck_kestrel_connect_error"});

    transport->SetServerUp(true);
    ASSERT_TRUE(observed.WaitFor([&] { return observed.events.size() == 2; }));
    EXPECT_EQ(observed.Events()[1], "networkClientConnected");
    std::string query = QueryText();
    ASSERT_TRUE(transport->WaitFor(
        [&](ScriptedTransport& t) { return t.Written() == std::vector<std::string>{query}; }));

    // A lost link is reported once, however many attempts fail after it.
    transport->Break();
    size_t connects = 0;
    transport->WaitFor([&](ScriptedTransport& t) { return (connects = t.CountCalls("Connect")) > 0; });
    ASSERT_TRUE(
        transport->WaitFor([&](ScriptedTransport& t) { return t.CountCalls("Connect") >= connects + 2; }));
    EXPECT_EQ(observed.Events(),
              (std::vector<std::string>{"networkClientDisconnected", "networkClientConnected",
                                        "networkClientDisconnected"}));
    EXPECT_EQ(observed.Telemetry(),
              (std::vector<std::string>{"streamdeck_kestrel_connect_error", "streamdeck_kestrel_connected",
                                        "streamdeck_kestrel_disconnected"}));
    client->Stop();
}

TEST_F(ControllerClientTest, WakingUpTriesALinkThatIsDownAtOnceAndChecksOneThatLooksUp) {
    auto client = MakeClient(transport);
    client->Start();
    size_t connects = 0;
    ASSERT_TRUE(
        transport->WaitFor([&](ScriptedTransport& t) { return (connects = t.CountCalls("Connect")) >= 1; }));
    const auto start = std::chrono::steady_clock::now();
    for (int wake = 0; wake < 8; ++wake) {
        client->ReconnectNow();
        ASSERT_TRUE(
            transport->WaitFor([&](ScriptedTransport& t) { return t.CountCalls("Connect") > connects; }));
        transport->WaitFor([&](ScriptedTransport& t) { return (connects = t.CountCalls("Connect")) > 0; });
    }
    // Spaced as usual, eight attempts would take at least eight seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);

    // Up: the link is checked with a state query, which also refreshes every key.
    transport->SetServerUp(true);
    const std::string query = QueryText();
    ASSERT_TRUE(transport->WaitFor([&](ScriptedTransport& t) { return t.Written().size() == 1; }));
    client->ReconnectNow();
    ASSERT_TRUE(transport->WaitFor([&](ScriptedTransport& t) { return t.Written().size() == 2; }));
    EXPECT_TRUE(transport->WaitFor([&](ScriptedTransport& t) { return t.Written()[1] == query; }));
    client->Stop();
    client->ReconnectNow();  // stopped: nothing happens
}

TEST_F(ControllerClientTest, PressWithTheServerAbsentFailsAfterThreeAttempts) {
    auto client = MakeClient(transport);
    client->Start();
    client->WriteMessageAsync(Press(1), completions.Callback());
    ASSERT_TRUE(completions.WaitForCount(1));
    client->Stop();
    EXPECT_EQ(completions.finished[0], std::make_pair(1, false));

    std::vector<std::string> writeThreadCalls;
    for (const auto& call : transport->Calls()) {
        if (call.thread == completions.threads[0]) writeThreadCalls.push_back(call.operation);
    }
    EXPECT_EQ(writeThreadCalls,
              (std::vector<std::string>{"Connect", "Write", "Disconnect", "Connect", "Write", "Disconnect",
                                        "Connect", "Write", "Disconnect", "Connect"}));
    EXPECT_EQ(observed.Events(), std::vector<std::string>{"networkClientDisconnected"});
    EXPECT_EQ(observed.Telemetry(), std::vector<std::string>{"streamdeck_kestrel_connect_error"});
}

TEST_F(ControllerClientTest, QueueOverflowsAt256OutstandingAndFinishesTheRestInOrder) {
    LogRecords log;
    transport->SetServerUp(true);
    transport->SetConnectGate(false);
    auto client = MakeClient(transport);
    client->Start();
    // The write thread takes the first press and is held in Connect, as on a busy pipe.
    client->WriteMessageAsync(Press(0), completions.Callback());
    ASSERT_TRUE(transport->WaitFor([](ScriptedTransport& t) { return t.Waiting() == 2; }));
    for (int i = 1; i < 256; ++i) client->WriteMessageAsync(Press(i), completions.Callback());

    bool refused = false;
    client->WriteMessageAsync(
        Press(256, "overflowing-press"),
        [&](const MessageBase& message, bool accepted) { refused = !accepted && IndexOf(message) == 256; });
    EXPECT_TRUE(refused);  // on this thread, before WriteMessageAsync returned
    client->WriteMessageAsync(Press(257, "overflowing-without-completion"), nullptr);
    EXPECT_EQ(
        log.Count("ControllerClient::WriteMessageAsync: BUFFER OVERFLOW: {\"payload\":{\"class\":\"command\","
                  "\"command\":{\"data\":{\"i\":256},\"name\":\"overflowing-press\"}}"),
        1u)
        << log.Contents();
    EXPECT_EQ(log.Count("overflowing-without-completion"), 1u);

    transport->SetConnectGate(true);
    ASSERT_TRUE(completions.WaitForCount(256));
    client->Stop();
    for (int i = 0; i < 256; ++i) EXPECT_EQ(completions.finished[i], std::make_pair(i, true));
    EXPECT_EQ(completions.finished.size(), 256u);
}

TEST_F(ControllerClientTest, CommandsFinishInTheOrderTheyWereQueued) {
    transport->SetServerUp(true);
    auto client = MakeClient(transport);
    client->Start();
    ASSERT_TRUE(observed.WaitFor([&] { return observed.events.size() == 2; }));
    for (int i = 0; i < 100; ++i) client->WriteMessageAsync(Press(i), completions.Callback());
    ASSERT_TRUE(completions.WaitForCount(100));
    client->Stop();
    std::vector<int> written;
    for (const auto& text : transport->Written()) {
        json command = json::parse(text)["payload"]["command"];
        if (command["name"] == "emberfall") written.push_back(command["data"]["i"]);
    }
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(completions.finished[i], std::make_pair(i, true));
        EXPECT_EQ(written[i], i);
    }
}

// Without threads of its own (the fuzz targets), every command is written and
// completed before WriteMessageAsync returns, in the order of the threaded
// client: a command that brings the link up goes after the state query that
// the new connection queues, since a connection gets its query first.
TEST_F(ControllerClientTest, OnTheCallersThreadEachCommandIsWrittenBeforeTheCallReturns) {
    auto client = MakeClient(transport, ControllerThreads::CallersThread);
    client->Start();  // one attempt, on this thread: the server is absent
    EXPECT_EQ(transport->CountCalls("Connect"), 1u);
    EXPECT_EQ(observed.Events(), std::vector<std::string>{"networkClientDisconnected"});

    transport->SetServerUp(true);
    client->WriteMessageAsync(Press(1), completions.Callback());
    ASSERT_EQ(completions.finished.size(), 1u);
    EXPECT_EQ(completions.finished[0], std::make_pair(1, true));
    EXPECT_EQ(completions.threads[0], std::this_thread::get_id());
    ASSERT_EQ(transport->Written().size(), 2u);
    EXPECT_EQ(transport->Written()[0], QueryText());
    EXPECT_EQ(json::parse(transport->Written()[1])["payload"]["command"]["data"]["i"], 1);
    for (const auto& call : transport->Calls()) EXPECT_EQ(call.thread, std::this_thread::get_id());

    // A link that breaks for good: the press fails after its three attempts, at once.
    transport->Break();
    client->WriteMessageAsync(Press(2), completions.Callback());
    ASSERT_EQ(completions.finished.size(), 2u);
    EXPECT_EQ(completions.finished[1], std::make_pair(2, false));
    client->ReconnectNow();                           // down: tried on this thread
    EXPECT_EQ(transport->CountCalls("Connect"), 7u);  // Start, first press, 4 for the second, wake-up
    client->Stop();
    client->WriteMessageAsync(Press(3), completions.Callback());  // stopped: kept, never written
    EXPECT_EQ(completions.finished.size(), 2u);
}

// A link that takes a press at once gets it before WriteMessageAsync returns,
// with no hand-off; the completion still runs on the write thread. A press
// made while the write thread has one in hand waits behind it, even when the
// link could take it at once.
TEST_F(ControllerClientTest, AnIdleLinkGetsThePressFromItsCallerAndTheOrderHolds) {
    transport->SetServerUp(true);
    transport->SetTakesWritesAtOnce(true);
    auto client = MakeClient(transport);
    client->Start();
    ASSERT_TRUE(transport->WaitFor([](ScriptedTransport& t) { return t.Written().size() == 1; }));
    auto lastWritten = [&](int index) {
        return transport->WaitFor(
            [&](ScriptedTransport& t) {
                return !t.Written().empty() && IndexOf(t.Written().back()) == index;
            },
            0ms);
    };

    // The thread that wrote the state query gives up the writer's role just
    // after; a press made before that goes through the write thread.
    int atOnce = 0;
    size_t before = 0;  // presses finished
    while (atOnce < 5 && before < 50) {
        client->WriteMessageAsync(Press(1), completions.Callback());
        atOnce += lastWritten(1);
        ASSERT_TRUE(completions.WaitForCount(++before));
        EXPECT_NE(completions.threads.back(), std::this_thread::get_id());
    }
    EXPECT_EQ(atOnce, 5);

    transport->SetTakesWritesAtOnce(false);
    transport->SetWriteGate(false);
    client->WriteMessageAsync(Press(2), completions.Callback());  // the write thread's, held in Write
    ASSERT_TRUE(transport->WaitFor([](ScriptedTransport& t) { return t.Waiting() == 1; }));
    transport->SetTakesWritesAtOnce(true);
    client->WriteMessageAsync(Press(3), completions.Callback());
    client->WriteMessageAsync(Press(4), nullptr);
    EXPECT_TRUE(lastWritten(1));
    transport->SetWriteGate(true);
    ASSERT_TRUE(completions.WaitForCount(before + 2));
    ASSERT_TRUE(transport->WaitFor([&](ScriptedTransport& t) { return t.Written().size() == before + 4; }));
    client->Stop();
    for (int i = 2; i < 5; ++i) EXPECT_EQ(IndexOf(transport->Written()[before + i - 1]), i);
    EXPECT_EQ(completions.finished[before], std::make_pair(2, true));
    EXPECT_EQ(completions.finished[before + 1], std::make_pair(3, true));
}

TEST_F(ControllerClientTest, StopOnAnIdleClientEndsTheWriteThreadOnce) {
    LogRecords log;
    transport->SetServerUp(true);
    auto client = MakeClient(transport);
    client->Start();
    client->WriteMessageAsync(Press(1), completions.Callback());
    ASSERT_TRUE(completions.WaitForCount(1));
    std::this_thread::sleep_for(200ms);  // margin for the write thread to wait for work again
    client->Stop();
    client->Stop();
    EXPECT_EQ(log.Count("ControllerClient::WriteThreadProc: queue empty"), 1u);
}

TEST_F(ControllerClientTest, DestructionCallsNoPendingCompletion) {
    transport->SetServerUp(true);
    auto client = MakeClient(transport);
    client->Start();
    ASSERT_TRUE(transport->WaitFor([](ScriptedTransport& t) { return t.Written().size() == 1; }));
    transport->SetWriteGate(false);
    for (int i = 0; i < 5; ++i) client->WriteMessageAsync(Press(i), completions.Callback());
    ASSERT_TRUE(transport->WaitFor([](ScriptedTransport& t) { return t.Waiting() == 1; }));

    std::thread destroyer([&] { client.reset(); });
    // Margin for the destructor to stop the threads; the write in progress
    // then finishes and the four queued presses are dropped.
    std::this_thread::sleep_for(500ms);
    transport->SetWriteGate(true);
    destroyer.join();
    ASSERT_EQ(completions.finished.size(), 1u);
    EXPECT_EQ(completions.finished[0].first, 0);
}

TEST_F(ControllerClientTest, OnlyValidEventTextUpToTheFirstZeroByteReachesTheListener) {
    auto client = MakeClient(transport);
    const std::string report = R"({"payload":{"class":"event","event":{"name":"SYS$REPORT:STATE",)"
                               R"("data":{"isSignedIn":true}}}})";
    transport->Deliver(report + std::string("\0trailing bytes", 15));
    transport->Deliver(report + " trailing bytes");  // not one JSON value
    transport->Deliver(R"({"payload":{"class":"command","event":{"name":"SYS$REPORT:STATE"}}})");
    transport->Deliver(R"({"payload":{"class":"event","event":"no object"}})");
    transport->Deliver("[1,2,3]");
    transport->Deliver("");
    transport->Deliver(R"({"payload":{"class":"event","event":{"name":"later"}}})");
    EXPECT_EQ(observed.Events(),
              (std::vector<std::string>{"SYS$REPORT:STATE {\"isSignedIn\":true}", "later"}));
}

// A pipe server thread that answers like the controller and, when asked,
// drops its client every few milliseconds.
class ServerThread {
public:
    explicit ServerThread(std::string name, std::chrono::milliseconds dropEvery = 0ms)
        : m_server(std::move(name)), m_dropEvery(dropEvery) {
        m_listening = m_server.Listen();
        m_thread = std::thread([this] { Run(); });
    }
    ~ServerThread() {
        m_stop = true;
        m_thread.join();
    }
    bool Listening() const { return m_listening; }
    void DropClientSoon() { m_dropRequested = true; }
    int Drops() const { return m_drops; }

private:
    void Run() {
        ControllerModel model(true);
        auto connectedAt = std::chrono::steady_clock::now();
        while (!m_stop) {
            if (!m_server.HasClient()) {
                if (m_server.WaitForClient(10ms)) connectedAt = std::chrono::steady_clock::now();
                continue;
            }
            bool due = m_dropEvery > 0ms && std::chrono::steady_clock::now() - connectedAt > m_dropEvery;
            if (m_dropRequested.exchange(false) || due) {
                m_server.DropClient();
                ++m_drops;
                continue;
            }
            if (auto message = m_server.Receive(10ms)) {
                for (const auto& reply : model.Handle(*message)) m_server.Send(reply);
            }
        }
    }

    PipeServer m_server;
    std::chrono::milliseconds m_dropEvery;
    bool m_listening = false;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_dropRequested{false};
    std::atomic<int> m_drops{0};
    std::thread m_thread;
};

TEST_F(ControllerClientTest, WorksWithARealControllerAndComesBackAfterALoss) {
    std::string name = PrivatePipeName();
    ServerThread server(name);
    ASSERT_TRUE(server.Listening());
    auto client = MakeClient(std::make_shared<NamedPipesClient>(name));
    client->Start();
    auto count = [&](const std::string& event) {
        return std::count(observed.events.begin(), observed.events.end(), event);
    };
    // After connecting, the state query brings the full report.
    ASSERT_TRUE(observed.WaitFor([&] { return observed.events.size() >= 12; })) << observed.Events().size();
    EXPECT_EQ(observed.Events()[2], "SYS$REPORT:STATE {\"isSignedIn\":true}");

    client->WriteMessageAsync(std::make_shared<CommandMessage>("alerts-mute-on", kButton, nullptr),
                              [&](const MessageBase&, bool accepted) { EXPECT_TRUE(accepted); });
    const std::string muted =
        "SYS$REPORT:STATE:FUNCTION "
        R"({"function":"com.vantora.kestrel.alerts-mute","state":"alerts-mute-on"})";
    ASSERT_TRUE(observed.WaitFor([&] { return count(muted) == 1; }));

    server.DropClientSoon();
    ASSERT_TRUE(observed.WaitFor(
        [&] { return count("networkClientConnected") == 2 && observed.events.size() >= 25; }));
    EXPECT_EQ(count("networkClientDisconnected"), 2);
    EXPECT_EQ(count(muted), 2);  // the second full report keeps the new state
    client.reset();
}

TEST_F(ControllerClientTest, CloseReleasesTheLinkAndNothingReachesTheListenerAfterwards) {
    std::string name = PrivatePipeName();
    ServerThread server(name);
    ASSERT_TRUE(server.Listening());
    auto pipe = std::make_shared<NamedPipesClient>(name);
    std::weak_ptr<NetworkClientBase> released = pipe;
    auto client = MakeClient(std::move(pipe));
    client->Start();
    ASSERT_TRUE(observed.WaitFor([&] { return observed.events.size() >= 12; })) << observed.Events().size();

    client->Close();
    // The pipe client is gone, so its I/O and dispatch threads have ended.
    EXPECT_TRUE(released.expired());
    const size_t seen = observed.Events().size();
    client->Start();  // a closed link stays closed
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(observed.Events().size(), seen);
    client.reset();
}

TEST_F(ControllerClientTest, FourWritersAgainstALinkThatKeepsDroppingFinishEveryMessageOnce) {
    std::string name = PrivatePipeName();
    ServerThread server(name, 25ms);
    ASSERT_TRUE(server.Listening());
    auto client = MakeClient(std::make_shared<NamedPipesClient>(name));
    client->Start();

    constexpr int kWriters = 4;
    constexpr int kPerWriter = 250;
    std::vector<std::atomic<int>> calls(kWriters * kPerWriter);
    std::atomic<int> finished{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < kPerWriter; ++i) {
                client->WriteMessageAsync(Press(w * kPerWriter + i), [&](const MessageBase& message, bool) {
                    ++calls[IndexOf(message)];
                    ++finished;
                });
                if (i % 5 == 0) std::this_thread::sleep_for(5ms);
            }
        });
    }
    for (auto& writer : writers) writer.join();
    auto deadline = std::chrono::steady_clock::now() + 120s;
    while (finished < kWriters * kPerWriter && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    client.reset();
    EXPECT_GE(server.Drops(), 3);
    for (size_t i = 0; i < calls.size(); ++i) ASSERT_EQ(calls[i].load(), 1) << "message " << i;
}

// Deeply nested text is refused before parsing, a support report with one
// mistyped member still gives every other action its support, and a link
// change claimed by the server is refused (only the client knows the link);
// each refusal is one log line naming what was refused.
TEST_F(ControllerClientTest, DeepMistypedAndForgedEventsAreRefusedWithOneLogLineEach) {
    LogRecords log;
    std::vector<std::map<std::string, bool>> supports;
    int linkEvents = 0;
    ControllerClient client(transport, [&](const EventMessage& event) {
        if (event.Meaning().kind == ControllerEvent::Kind::Support)
            supports.push_back(event.Meaning().support);
        if (event.Meaning().kind == ControllerEvent::Kind::LinkUp ||
            event.Meaning().kind == ControllerEvent::Kind::LinkDown)
            ++linkEvents;
    });
    transport->Deliver(R"({"payload":{"class":"event","event":{"name":"networkClientDisconnected"}}})");
    transport->Deliver(R"({"payload":{"class":"event","event":{"name":"networkClientConnected"}}})");
    EXPECT_EQ(linkEvents, 0);
    EXPECT_EQ(log.Count("comes only from the plug-in itself"), 2u) << log.Contents();
    std::string deep = R"({"payload":{"class":"event","event":{"name":"SYS$SUPPORT:FUNCTIONS","data":)";
    deep += std::string(80000, '[') + std::string(80000, ']') + "}}}";
    transport->Deliver(deep);
    transport->Deliver(R"({"payload":{"class":"event","event":{"name":"SYS$SUPPORT:FUNCTIONS","data":)"
                       R"({"a":true,"com.vantora.kestrel.alerts-mute":"yes","z":false}}}})");
    transport->Deliver(R"({"payload":{"class":"event","event":{"name":"SYS$REPORT:STATE","data":{}}}})");
    ASSERT_EQ(supports.size(), 1u);
    EXPECT_EQ(supports[0], (std::map<std::string, bool>{{"a", true}, {"z", false}}));
    EXPECT_EQ(log.Count("nested deeper than 64 levels"), 1u) << log.Contents();
    EXPECT_EQ(log.Count("kept as it was for: com.vantora.kestrel.alerts-mute"), 1u) << log.Contents();
    EXPECT_EQ(log.Count("event refused: 'SYS$REPORT:STATE'"), 1u) << log.Contents();
}

// A server that stops reading while keys are pressed: every press finishes
// (those the pipe could not take within two seconds with failure), the
// server later finds exactly the accepted ones, and a new server instance
// gets none of the old presses, only the new one.
TEST_F(ControllerClientTest, StalledServerFailsPressesAtTheirDeadlineAndItsReplacementGetsNoneOfThem) {
    const std::string name = PrivatePipeName();
    auto server = std::make_unique<PipeServer>(name);
    ASSERT_TRUE(server->Listen());
    auto client = MakeClient(std::make_shared<NamedPipesClient>(name));
    client->Start();
    ASSERT_TRUE(server->WaitForClient(10s));
    ASSERT_TRUE(server->Receive(10s));  // the state query; from now on nothing is read

    // 16 MiB of presses: more than the system buffers for a socket.
    const std::string pad(256 * 1024, 'p');
    const int presses = 64;
    for (int i = 0; i < presses; ++i) {
        client->WriteMessageAsync(
            std::make_shared<CommandMessage>("emberfall", kButton, json{{"i", i}, {"pad", pad}}),
            completions.Callback());
    }
    ASSERT_TRUE(completions.WaitForCount(presses, 60s));
    size_t accepted = 0;
    {
        std::lock_guard<std::mutex> lock(completions.mutex);
        for (const auto& finished : completions.finished) accepted += finished.second;
    }
    EXPECT_LT(accepted, static_cast<size_t>(presses)) << "every press was reported accepted";

    size_t read = 0;
    while (auto message = server->Receive(1s))
        read += json::parse(*message)["payload"]["command"]["name"] == "emberfall";
    EXPECT_EQ(read, accepted);

    server.reset();  // the stalled instance goes away, a new one takes its name
    server = std::make_unique<PipeServer>(name);
    ASSERT_TRUE(server->Listen());
    ASSERT_TRUE(server->WaitForClient(20s));
    client->WriteMessageAsync(Press(1000000), completions.Callback());
    std::vector<int> received;
    while (auto message = server->Receive(5s)) {
        json command = json::parse(*message)["payload"]["command"];
        if (command["name"] == "emberfall") received.push_back(command["data"]["i"]);
        if (!received.empty() && received.back() == 1000000) break;
    }
    EXPECT_EQ(received, std::vector<int>{1000000}) << observed.Events().size() << " events";
    client->Close();
}

// A server that accepts and starts reading only after the presses' two
// seconds: the state query waits for it, goes first, and a press made
// meanwhile fails at its own deadline without being written. On Windows the
// pipe's write waits for the reader; the scripted system makes a socket do
// the same, and the plain socket (where the query waits in its buffer) shows
// the server's side.
TEST_F(ControllerClientTest, AServerThatStartsReadingLateGetsItsStateQueryFirstAndNoStalePress) {
    for (const bool scripted : {true, false}) {
        SCOPED_TRACE(scripted ? "writes wait for the reader" : "the system's pipe");
        const std::string name = PrivatePipeName();
        PipeServer server(name);
        ASSERT_TRUE(server.Listen());
        auto system = std::make_shared<ScriptedPipeSystem>();
        if (scripted) system->readerStarts = std::chrono::steady_clock::now() + 3500ms;
        Observed seen;
        auto client = std::make_unique<ControllerClient>(
            std::make_shared<NamedPipesClient>(name, scripted ? system : PipeSystem::Native()),
            [&](const EventMessage& event) { seen.Add(seen.events, event.GetName()); }, [](const char*) {});
        client->Start();
        ASSERT_TRUE(seen.WaitFor([&] { return seen.events.size() >= 2; }));  // connected
        Completions pressed;
        if (scripted) client->WriteMessageAsync(Press(7), pressed.Callback());

        std::this_thread::sleep_for(3s);  // past the presses' deadline: only now the server accepts and reads
        ASSERT_TRUE(server.WaitForClient(10s));
        EXPECT_EQ(server.Receive(10s).value_or("nothing"), QueryText());
        if (scripted) {
            ASSERT_TRUE(pressed.WaitForCount(1));
            EXPECT_EQ(pressed.finished[0], std::make_pair(7, false));
            EXPECT_FALSE(server.Receive(1s)) << "a press written after its deadline";
        }
        client->Close();
    }
}

// A server that stops reading while presses keep coming fills the queue; when
// a new server takes its place, the new connection gets its state query
// first (a full queue of presses cannot refuse it), none of the presses
// queued for the old server, and then the presses made for it.
TEST_F(ControllerClientTest, AReplacedServerGetsItsStateQueryFirstAndNoneOfTheOldPresses) {
    constexpr int kPresses = 20000;
    // A press is old if the listener had not heard of the loss even once it was
    // pushed: the client hears of a loss before it stops queuing for that link.
    std::vector<char> afterLoss(kPresses, 0);
    std::atomic<int> pushed{0};
    std::atomic<int> finished{0};
    const std::string name = PrivatePipeName();
    auto server = std::make_unique<PipeServer>(name);
    ASSERT_TRUE(server->Listen());
    auto client = MakeClient(std::make_shared<NamedPipesClient>(name));
    client->Start();
    ASSERT_TRUE(server->WaitForClient(10s));
    ASSERT_EQ(server->Receive(10s).value_or(""), QueryText());  // from now on nothing is read
    auto lossesSeen = [&] {
        auto events = observed.Events();
        return std::count(events.begin(), events.end(), "networkClientDisconnected");
    };

    std::thread presser([&] {
        for (int i = 0; i < kPresses; ++i) {
            client->WriteMessageAsync(Press(i), [&](const MessageBase&, bool) { ++finished; });
            afterLoss[i] = lossesSeen() >= 2;
            ++pushed;
            if (i % 10 == 0) std::this_thread::sleep_for(1ms);
        }
    });
    while (pushed < 1000) std::this_thread::sleep_for(1ms);
    server.reset();  // the stalled instance goes away while presses keep coming
    server = std::make_unique<PipeServer>(name);
    const bool replaced = server->Listen() && server->WaitForClient(20s);
    presser.join();
    ASSERT_TRUE(replaced);
    // Presses made for the new server may follow, but only after the query.
    EXPECT_EQ(server->Receive(10s).value_or("nothing"), QueryText());

    std::vector<int> stale;
    while (auto message = server->Receive(3s)) {
        const int index = IndexOf(*message);
        if (index >= 0 && index < kPresses && !afterLoss[index]) stale.push_back(index);
    }
    EXPECT_TRUE(stale.empty()) << stale.size() << " presses queued for the old server, first "
                               << (stale.empty() ? -1 : stale[0]);
    client->WriteMessageAsync(Press(1000000), nullptr);
    EXPECT_EQ(IndexOf(server->Receive(10s).value_or("{}")), 1000000);
    auto until = std::chrono::steady_clock::now() + 30s;
    while (finished < kPresses && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(finished.load(), kPresses);  // each press finished once
    client->Close();
}

}  // namespace
