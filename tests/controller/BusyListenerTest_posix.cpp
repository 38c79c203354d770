// A controller server that listens but never accepts: once its backlog is
// full, connecting is the busy state. The link keeps trying without holding
// anything up, and closing it ends within seconds (a blocking connect would
// hold the housekeeping thread, and so the plug-in's exit, for good).

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "PipeTestSupport.h"
#include "controller/ControllerClient.h"
#include "controller/NamedPipesClient.h"

using namespace std::chrono_literals;

namespace {

int SeqpacketSocket() {
    return socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
}

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    path.copy(address.sun_path, path.size());
    return true;
}

// Listens with a backlog of one and never accepts; Fill() takes that one
// place with a connection of its own.
class NonAcceptingListener {
public:
    explicit NonAcceptingListener(const std::string& name) : m_path(PipeAddress(name)) {
        sockaddr_un address;
        if (!MakeAddress(m_path, address)) return;
        unlink(m_path.c_str());
        m_fd = SeqpacketSocket();
        m_ready = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  listen(m_fd, 0) == 0;
    }
    ~NonAcceptingListener() { Close(); }
    // Also refuses a connect that is waiting for room.
    void Close() {
        if (m_filler >= 0) close(m_filler);
        if (m_fd >= 0) close(m_fd);
        m_filler = m_fd = -1;
        unlink(m_path.c_str());
    }
    bool Fill() {
        sockaddr_un address;
        MakeAddress(m_path, address);
        m_filler = SeqpacketSocket();
        return m_filler >= 0 && connect(m_filler, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    bool Ready() const { return m_ready; }

private:
    std::string m_path;
    int m_fd = -1;
    int m_filler = -1;
    bool m_ready = false;
};

TEST(BusyListenerTest, FullBacklogIsTheBusyStateAndClosingTheLinkEndsSoon) {
    const std::string name = PrivatePipeName();
    NonAcceptingListener listener(name);
    ASSERT_TRUE(listener.Ready());
    ASSERT_TRUE(listener.Fill());

    PipeSystem::Handle handle = PipeSystem::kInvalidHandle;
    EXPECT_EQ(PipeSystem::Native()->Open(name, handle), PipeSystem::OpenResult::Busy);

    auto client = std::make_unique<ControllerClient>(
        std::make_shared<NamedPipesClient>(name), [](const EventMessage&) {}, [](const char*) {});
    client->Start();
    std::this_thread::sleep_for(1500ms);  // the housekeeping thread is trying to connect
    auto closed = std::async(std::launch::async, [&] { client->Close(); });
    EXPECT_EQ(closed.wait_for(10s), std::future_status::ready) << "closing waited for the busy server";
    listener.Close();  // releases a connect that still waits, so that the test can end
    closed.get();
}

}  // namespace
