// The pipe client against a real pipe server in the same process (a
// message-type named pipe under Windows, a SOCK_SEQPACKET socket elsewhere).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "LogRecords.h"
#include "PipeTestSupport.h"
#include "controller-sim/PipeServer.h"
#include "controller/NamedPipesClient.h"
#include "diagnostics/Platform.h"

using namespace std::chrono_literals;

namespace {

class NamedPipesClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Listen()); }

    // Connects |client| and has the server accept it.
    void ConnectClient(NamedPipesClient& client) {
        ASSERT_TRUE(client.Connect());
        ASSERT_TRUE(server.WaitForClient(10s));
    }

    // Sends from a thread of its own: a large message is taken only as fast as
    // the client reads it.
    std::future<bool> SendAsync(std::vector<std::string> messages) {
        return std::async(std::launch::async, [this, messages] {
            bool sent = true;
            for (const auto& message : messages) sent = server.Send(message) && sent;
            return sent;
        });
    }

    std::string name = PrivatePipeName();
    PipeServer server{name};
};

TEST_F(NamedPipesClientTest, ConnectAndDisconnectReportEveryChange) {
    TransportRecorder recorder;
    NamedPipesClient client(name);
    recorder.Attach(client);
    ConnectClient(client);
    EXPECT_TRUE(client.IsConnected());
    EXPECT_FALSE(client.Connect());  // already connected: no report
    client.Disconnect();
    EXPECT_FALSE(client.IsConnected());
    client.Disconnect();  // closed: still reports
    EXPECT_FALSE(client.Write("x", 1));
    EXPECT_EQ(recorder.Reports(), (std::vector<bool>{true, false, false}));

    TransportRecorder absentRecorder;
    NamedPipesClient absent(PrivatePipeName());
    absentRecorder.Attach(absent);
    EXPECT_FALSE(absent.Connect());
    EXPECT_EQ(absentRecorder.Reports(), std::vector<bool>{false});
}

TEST_F(NamedPipesClientTest, MessagesKeepTheirBoundariesBothWays) {
    TransportRecorder recorder;
    NamedPipesClient client(name);
    recorder.Attach(client);
    ConnectClient(client);

    std::string large(1024 * 1024, 'L');
    large.front() = '<';
    large.back() = '>';
    auto sent = SendAsync({"first", "second", large});
    ASSERT_TRUE(recorder.WaitForMessages(3));
    if (!sent.get()) GTEST_SKIP() << "this system cannot send a 1 MiB message on a local socket";
    EXPECT_EQ(recorder.Messages(), (std::vector<std::string>{"first", "second", large}));
    EXPECT_TRUE(recorder.terminated);

    ASSERT_TRUE(client.Write("one", 3));
    ASSERT_TRUE(client.Write("two", 3));
    EXPECT_EQ(server.Receive(10s), "one");
    EXPECT_EQ(server.Receive(10s), "two");
}

// The seam itself: once a connection is shut down, a write to a server that
// is not reading must fail at once instead of waiting for the server, and a
// peek must report the link broken. On Windows the write below starts after
// the cancellation, which once let it block for as long as the server slept.
TEST_F(NamedPipesClientTest, ShutdownMakesLaterCallsFailAtOnce) {
    auto system = PipeSystem::Native();
    PipeSystem::Handle handle = PipeSystem::kInvalidHandle;
    ASSERT_EQ(system->Open(name, handle), PipeSystem::OpenResult::Opened);
    ASSERT_TRUE(system->SetMessageMode(handle));
    ASSERT_TRUE(server.WaitForClient(10s));

    system->Shutdown(handle);
    auto written = std::async(std::launch::async, [&] {
        std::string large(4 * 1024 * 1024, 'x');  // more than any pipe buffer holds
        return system->Write(handle, large.data(), static_cast<uint32_t>(large.size()));
    });
    const bool finished = written.wait_for(10s) == std::future_status::ready;
    if (!finished) server.DropClient();  // unblocks the write so that the test can end
    EXPECT_TRUE(finished) << "a write after Shutdown waited for the server";
    EXPECT_FALSE(written.get());
    EXPECT_FALSE(system->Peek(handle).ok);
    system->Close(handle);
}

TEST_F(NamedPipesClientTest, ZeroByteMessageDoesNotHoldUpLaterOnes) {
    TransportRecorder recorder;
    NamedPipesClient client(name);
    recorder.Attach(client);
    ConnectClient(client);
    auto sent = SendAsync({"", "after", "", "", "last"});
    ASSERT_TRUE(recorder.WaitForMessages(2));
    EXPECT_TRUE(sent.get());
    EXPECT_EQ(recorder.Messages(), (std::vector<std::string>{"after", "last"}));
    EXPECT_TRUE(client.IsConnected());
}

// While nothing happens the I/O thread sleeps until the pipe has a message or
// a Write wakes it, instead of looking at the pipe again and again (polling
// every 25 ms would peek about 20 times in each half second below). A lone
// message of zero bytes, which a peek may not even show, must not keep it
// awake either.
TEST_F(NamedPipesClientTest, IdleConnectionSleepsAndWakesForTraffic) {
    auto system = std::make_shared<ScriptedPipeSystem>();
    TransportRecorder recorder;
    NamedPipesClient client(name, system);
    recorder.Attach(client);
    ConnectClient(client);
    auto peeksWhileIdle = [&] {
        int before = system->peeks.load();
        std::this_thread::sleep_for(500ms);
        return system->peeks.load() - before;
    };
    EXPECT_LE(peeksWhileIdle(), 3);

    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Write("out", 3));
    EXPECT_EQ(server.Receive(10s), "out");
    ASSERT_TRUE(server.Send("in"));
    ASSERT_TRUE(recorder.WaitForMessages(1));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_LE(peeksWhileIdle(), 3);

    ASSERT_TRUE(server.Send(""));
    EXPECT_LE(peeksWhileIdle(), 3);
    ASSERT_TRUE(server.Send("after"));
    ASSERT_TRUE(recorder.WaitForMessages(2));
    EXPECT_EQ(recorder.Messages(), (std::vector<std::string>{"in", "after"}));
    EXPECT_TRUE(client.IsConnected());
}

TEST_F(NamedPipesClientTest, OversizedMessageIsDiscardedWithALogLine) {
    LogRecords log;
    TransportRecorder recorder;
    NamedPipesClient client(name);
    recorder.Attach(client);
    ConnectClient(client);
    std::string oversized(NamedPipesClient::kMaxMessageSize + 1, 'x');
    auto sent = SendAsync({oversized, "after"});
    ASSERT_TRUE(recorder.WaitForMessages(1));
    if (!sent.get()) GTEST_SKIP() << "this system cannot send a 16 MiB message on a local socket";
    EXPECT_EQ(recorder.Messages(), std::vector<std::string>{"after"});
    EXPECT_EQ(log.Count("NamedPipesClient::IoThreadProc: message of 16777217 bytes discarded"), 1u)
        << log.Contents();
    EXPECT_TRUE(client.IsConnected());
}

// The same through the seam, where the system cannot send such a message:
// the client is told that a real 1000-byte message is over the limit.
TEST_F(NamedPipesClientTest, MessageReportedOverTheLimitIsSkippedWithoutReadingIt) {
    LogRecords log;
    auto system = std::make_shared<ScriptedPipeSystem>();
    system->oversizedPeekFor = 1000;
    TransportRecorder recorder;
    NamedPipesClient client(name, system);
    recorder.Attach(client);
    ConnectClient(client);
    auto sent = SendAsync({std::string(1000, 'x'), "after"});
    ASSERT_TRUE(recorder.WaitForMessages(1));
    EXPECT_TRUE(sent.get());
    EXPECT_EQ(recorder.Messages(), std::vector<std::string>{"after"});
    EXPECT_EQ(log.Count("NamedPipesClient::IoThreadProc: message of 16777217 bytes discarded"), 1u);
}

// A message that had not gone out when the link broke fails; it is never
// written to the next connection (its server may be another one, and the
// press long past).
TEST_F(NamedPipesClientTest, MessagesPendingAtABreakFailAndNeverReachTheNextConnection) {
    auto system = std::make_shared<ScriptedPipeSystem>();
    TransportRecorder recorder;
    NamedPipesClient client(name, system);
    recorder.Attach(client);
    ConnectClient(client);

    // The I/O thread takes "one" and is held at the write; "two" waits in the
    // queue. Then the server goes away, so the held write fails.
    system->SetGate(false);
    auto one = std::async(std::launch::async, [&] { return client.Write("one", 3); });
    ASSERT_TRUE(system->WaitForWritesStarted(1));
    auto two = std::async(std::launch::async, [&] { return client.Write("two", 3); });
    server.DropClient();
    system->SetGate(true);
    EXPECT_FALSE(one.get());
    EXPECT_FALSE(two.get());
    std::unique_lock<std::mutex> lock(recorder.mutex);
    ASSERT_TRUE(recorder.changed.wait_for(lock, 10s, [&] { return recorder.reports.size() == 2; }));
    lock.unlock();
    EXPECT_FALSE(client.IsConnected());
    EXPECT_FALSE(client.Write("refused", 7));

    ConnectClient(client);
    ASSERT_TRUE(client.Write("three", 5));
    EXPECT_EQ(server.Receive(10s), "three");
    EXPECT_FALSE(server.Receive(300ms));
}

TEST_F(NamedPipesClientTest, BusyPipeIsWaitedForInShortSlices) {
    auto system = std::make_shared<ScriptedPipeSystem>();
    system->busyOpens = 3;
    NamedPipesClient client(name, system);
    ConnectClient(client);
    const uint32_t slice = NamedPipesClient::kBusyWaitMilliseconds;
    EXPECT_EQ(system->waits, (std::vector<uint32_t>{slice, slice, slice}));
}

TEST_F(NamedPipesClientTest, ConnectWaitsForABusyPipeInstanceToBeFreed) {
    if (!KESTREL_WIN32) GTEST_SKIP() << "a listening socket has no busy state";
    PipeServer single(PrivatePipeName(), 1);
    ASSERT_TRUE(single.Listen());
    // Another client holds the only instance.
    auto holdInstance = [&] {
        PipeSystem::Handle holder = PipeSystem::kInvalidHandle;
        EXPECT_EQ(PipeSystem::Native()->Open(single.Name(), holder), PipeSystem::OpenResult::Opened);
        EXPECT_TRUE(single.WaitForClient(10s));
        return holder;
    };
    auto release = [&](PipeSystem::Handle holder) {
        PipeSystem::Native()->Close(holder);
        single.DropClient();
    };

    // Freed while Connect waits: it connects.
    PipeSystem::Handle holder = holdInstance();
    TransportRecorder recorder;
    NamedPipesClient client(single.Name());
    recorder.Attach(client);
    auto connected = std::async(std::launch::async, [&] { return client.Connect(); });
    EXPECT_EQ(connected.wait_for(200ms), std::future_status::timeout);
    release(holder);
    EXPECT_TRUE(connected.get());
    EXPECT_TRUE(single.WaitForClient(10s));
    client.Disconnect();
    single.Receive(10s);  // notices the client leaving

    // Busy for longer than the limit: Connect fails once it has waited it out.
    holder = holdInstance();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Connect());
    EXPECT_GE(std::chrono::steady_clock::now() - start, NamedPipesClient::kBusyWaitLimit - 100ms);
    EXPECT_EQ(recorder.Reports(), (std::vector<bool>{true, false, false}));
    release(holder);
}

TEST_F(NamedPipesClientTest, ReconnectsAgainAndAgainWithoutLosingOrder) {
    TransportRecorder recorder;
    NamedPipesClient client(name);
    recorder.Attach(client);
    for (int round = 0; round < 5; ++round) {
        ConnectClient(client);
        std::string text = "round " + std::to_string(round);
        ASSERT_TRUE(client.Write(text.data(), static_cast<uint32_t>(text.size())));
        EXPECT_EQ(server.Receive(10s), text);
        ASSERT_TRUE(server.Send("reply " + std::to_string(round)));
        ASSERT_TRUE(recorder.WaitForMessages(round + 1));
        if (round % 2) {
            client.Disconnect();
            server.Receive(10s);  // notices the client leaving
        } else {
            server.DropClient();
            std::unique_lock<std::mutex> lock(recorder.mutex);
            recorder.changed.wait_for(lock, 10s, [&] { return !recorder.reports.back(); });
        }
        ASSERT_FALSE(client.IsConnected());
    }
    EXPECT_EQ(recorder.Messages().back(), "reply 4");
}

// A server that stops reading: the client's buffers in the system fill, and
// then a write waits no longer than its deadline, reports Expired, writes
// nothing of the message and keeps the link. Once the server reads again it
// gets exactly the messages reported written, in order; Interrupt ends a
// longer wait at once.
TEST_F(NamedPipesClientTest, StalledServerMakesWritesExpireAtTheirDeadlineAndGetsOnlyTheWrittenOnes) {
    NamedPipesClient client(name);
    ConnectClient(client);
    const std::string filler(64 * 1024, 'f');
    std::vector<std::string> written;
    NetworkClientBase::WriteResult result = NetworkClientBase::WriteResult::Written;
    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 2000 && result == NetworkClientBase::WriteResult::Written; ++i) {
        std::string text = std::to_string(i) + filler;
        started = std::chrono::steady_clock::now();
        result = client.WriteBefore(text.data(), static_cast<uint32_t>(text.size()), started + 500ms);
        if (result == NetworkClientBase::WriteResult::Written) written.push_back(std::to_string(i));
    }
    ASSERT_EQ(result, NetworkClientBase::WriteResult::Expired) << "the system took 2000 messages of 64 KiB";
    EXPECT_GE(std::chrono::steady_clock::now() - started, 450ms);
    EXPECT_TRUE(client.IsConnected());

    auto interrupted = std::async(std::launch::async, [&] {
        std::string text = "late" + filler;
        return client.WriteBefore(text.data(), static_cast<uint32_t>(text.size()),
                                  std::chrono::steady_clock::now() + 60s);
    });
    std::this_thread::sleep_for(200ms);
    client.Interrupt();
    ASSERT_EQ(interrupted.wait_for(10s), std::future_status::ready) << "Interrupt did not end the write";
    EXPECT_EQ(interrupted.get(), NetworkClientBase::WriteResult::Expired);

    // The server reads again, from a thread of its own: the write below
    // goes out once it has made room.
    auto reader = std::async(std::launch::async, [&] {
        std::vector<std::string> received;
        while (auto message = server.Receive(10s)) {
            received.push_back(message->size() > filler.size()
                                   ? message->substr(0, message->size() - filler.size())
                                   : *message);
            if (*message == "after") break;
        }
        return received;
    });
    EXPECT_TRUE(client.Write("after", 5));
    written.push_back("after");
    EXPECT_EQ(reader.get(), written);
}

// Writers on several threads while the server stalls and reads again: a
// write that the pipe takes at once goes out on its caller's thread, the rest
// through the I/O thread; each arrives once, and each thread's in order.
TEST_F(NamedPipesClientTest, WritesFromManyThreadsKeepTheirOrderAcrossAStall) {
    NamedPipesClient client(name);
    ConnectClient(client);
    constexpr int kThreads = 4, kEach = 200;
    const std::string filler(16 * 1024, 'f');
    std::vector<std::thread> writers;
    for (int thread = 0; thread < kThreads; ++thread) {
        writers.emplace_back([&, thread] {
            for (int i = 0; i < kEach; ++i) {
                std::string text = std::to_string(thread) + ":" + std::to_string(i) + ":" + filler;
                auto deadline = std::chrono::steady_clock::now() + 60s;
                ASSERT_EQ(client.WriteBefore(text.data(), static_cast<uint32_t>(text.size()), deadline),
                          NetworkClientBase::WriteResult::Written);
            }
        });
    }
    std::this_thread::sleep_for(300ms);  // the server reads nothing yet: the system's buffers fill
    std::vector<int> next(kThreads, 0);
    for (int received = 0; received < kThreads * kEach; ++received) {
        auto message = server.Receive(30s);
        ASSERT_TRUE(message.has_value()) << received << " received";
        const int thread = std::stoi(*message);
        const int index = std::stoi(message->substr(message->find(':') + 1));
        ASSERT_EQ(index, next.at(thread)++) << "thread " << thread;
    }
    for (auto& writer : writers) writer.join();
}

// A server that floods the link while the plug-in is slow to take its
// messages: the client holds a bounded number of them, stops reading
// (sleeping, not polling) until the dispatch thread makes room, and then
// delivers every message in order.
TEST_F(NamedPipesClientTest, FloodingServerIsHeldBackByABoundedIncomingQueue) {
    auto system = std::make_shared<ScriptedPipeSystem>();
    NamedPipesClient client(name, system);
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    std::vector<std::string> delivered;
    client.onDataReceived = [&](const char* bytes, uint32_t size) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return open; });
        delivered.emplace_back(bytes, std::min<uint32_t>(size, 8));
        changed.notify_all();
    };
    ConnectClient(client);

    const int count = 300;
    const size_t size = 100 * 1024;
    std::vector<std::string> messages;
    for (int i = 0; i < count; ++i) {
        std::string tag = std::to_string(1000 + i);
        messages.push_back(tag + std::string(size - tag.size(), 'x'));
    }
    auto sent = SendAsync(messages);
    const size_t bound = NamedPipesClient::kIncomingBytes / size + 1;
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (client.IncomingCount() < bound - 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(client.IncomingCount(), bound);
    const int peeks = system->peeks.load();
    std::this_thread::sleep_for(500ms);
    EXPECT_LE(system->peeks.load() - peeks, 3) << "the I/O thread polls while the queue is full";
    EXPECT_GT(system->wakeupWaits.load(), 0);

    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 60s, [&] { return delivered.size() == count; }));
    }
    EXPECT_TRUE(sent.get());
    for (int i = 0; i < count; ++i) EXPECT_EQ(delivered[i], messages[i].substr(0, 8)) << i;
    EXPECT_TRUE(client.IsConnected());
}

// A pipe that stays busy is waited for in slices, for a bounded time, and
// Interrupt ends the wait at once; no lock is held meanwhile.
TEST_F(NamedPipesClientTest, BusyPipeWaitIsBoundedAndInterruptible) {
    auto system = std::make_shared<ScriptedPipeSystem>();
    system->busyOpens = 1000000;
    NamedPipesClient client(name, system);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Connect());
    EXPECT_GE(std::chrono::steady_clock::now() - start, NamedPipesClient::kBusyWaitLimit - 100ms);

    const size_t slices = system->waits.size();
    EXPECT_GE(slices, 4u);
    auto connecting = std::async(std::launch::async, [&] { return client.Connect(); });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(connecting.wait_for(0ms), std::future_status::timeout) << "IsConnected waited for Connect";
    client.Interrupt();
    ASSERT_EQ(connecting.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(connecting.get());
    EXPECT_LT(system->waits.size() - slices, slices) << "Interrupt did not end the wait";
}

}  // namespace
