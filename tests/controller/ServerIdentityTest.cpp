// The pipe client talks only to a controller server that runs as its own
// user. In a test run every process has the same user (under Wine too), so
// here the seam plays another user's server in front of a real one;
// PeerUserTest_posix shows the socket's real check refusing one.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "LogRecords.h"
#include "PipeTestSupport.h"
#include "controller-sim/PipeServer.h"
#include "controller/NamedPipesClient.h"

using namespace std::chrono_literals;

namespace {

// The real pipe calls, but the server is said to run as another user while
// |foreign| holds.
class ForeignServerPipeSystem : public ScriptedPipeSystem {
public:
    bool ServerIsOurUser(Handle handle) override {
        ++checks;
        return !foreign && ScriptedPipeSystem::ServerIsOurUser(handle);
    }
    std::atomic<bool> foreign{true};
    std::atomic<int> checks{0};
};

TEST(ServerIdentityTest, AServerOfAnotherUserGetsNothingAndOurOwnIsTakenOnTheNextAttempt) {
    LogRecords log;
    std::string name = PrivatePipeName();
    PipeServer server(name);
    ASSERT_TRUE(server.Listen());
    auto system = std::make_shared<ForeignServerPipeSystem>();
    TransportRecorder recorder;
    NamedPipesClient client(name, system);
    recorder.Attach(client);

    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(client.Connect());
        EXPECT_FALSE(client.IsConnected());
        EXPECT_FALSE(client.Write("{}", 2));
        // The server saw a client come and go without a single message.
        ASSERT_TRUE(server.WaitForClient(10s));
        EXPECT_EQ(server.Receive(10s), std::nullopt);
        EXPECT_FALSE(server.HasClient());
    }
    EXPECT_EQ(system->checks, 2);
    EXPECT_EQ(recorder.Reports(), (std::vector<bool>{false, false}));
    EXPECT_EQ(log.Count("NamedPipesClient::Connect: the server of '" + name + "' runs as another user"), 1u)
        << "one line while the same refusal repeats:\n"
        << log.Contents();

    // The real check accepts a server of our own user.
    system->foreign = false;
    ASSERT_TRUE(client.Connect());
    ASSERT_TRUE(server.WaitForClient(10s));
    ASSERT_TRUE(client.Write("hello", 5));
    EXPECT_EQ(server.Receive(10s), "hello");
    EXPECT_EQ(recorder.Reports(), (std::vector<bool>{false, false, true}));
}

}  // namespace
