// The socket client refuses a server that runs as another user: such a server
// could read every command the plug-in sends and feed it false reports.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include "PipeTestSupport.h"
#include "controller/NamedPipesClient.h"

namespace {

constexpr uid_t kNobody = 65534;

// A listening socket at |name| whose credentials, as a client sees them, are
// those of |listenerUid|. Only the calling thread's effective user changes
// (the raw system call, not the library call that changes every thread), and
// only around listen(), which records the credentials.
class ListeningSocket {
public:
    ListeningSocket(const std::string& name, uid_t listenerUid) : m_path(PipeAddress(name)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (m_path.size() >= sizeof address.sun_path) return;
        m_path.copy(address.sun_path, m_path.size());
        unlink(m_path.c_str());
        m_fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
        const uid_t own = geteuid();
        if (syscall(SYS_setresuid, -1, listenerUid, -1) != 0) return;
        m_listening = listen(m_fd, 4) == 0;
        m_restored = syscall(SYS_setresuid, -1, own, -1) == 0;
    }
    ~ListeningSocket() {
        if (m_fd >= 0) close(m_fd);
        unlink(m_path.c_str());
    }
    bool Ready() const { return m_listening && m_restored; }

private:
    std::string m_path;
    int m_fd = -1;
    bool m_listening = false;
    bool m_restored = false;
};

TEST(PeerUserTest, ServerOfAnotherUserIsRefusedAndOurOwnIsAccepted) {
    if (geteuid() != 0) GTEST_SKIP() << "listening as another user needs root";

    std::string foreignName = PrivatePipeName();
    ListeningSocket foreign(foreignName, kNobody);
    ASSERT_TRUE(foreign.Ready());
    ASSERT_EQ(geteuid(), 0u);
    TransportRecorder refused;
    NamedPipesClient toForeign(foreignName);
    refused.Attach(toForeign);
    EXPECT_FALSE(toForeign.Connect());
    EXPECT_FALSE(toForeign.IsConnected());
    EXPECT_EQ(refused.Reports(), std::vector<bool>{false});

    // The same kind of socket, listened on as ourselves, is taken.
    std::string ownName = PrivatePipeName();
    ListeningSocket own(ownName, 0);
    ASSERT_TRUE(own.Ready());
    TransportRecorder accepted;
    NamedPipesClient toOwn(ownName);
    accepted.Attach(toOwn);
    EXPECT_TRUE(toOwn.Connect());
    toOwn.Disconnect();
    EXPECT_EQ(accepted.Reports(), (std::vector<bool>{true, false}));
}

}  // namespace
