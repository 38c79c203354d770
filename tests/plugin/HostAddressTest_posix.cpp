// Where the host link connects: the IPv4 loopback address on which the host
// listens, even on a machine whose hosts file gives "localhost" as ::1 first
// and where another local program listens on that address and port. The
// plug-in runs in a mount namespace of its own with such a hosts file.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "support/ChildProcess.h"
#include "support/HostStandIn.h"
#include "support/TemporaryDirectory.h"

using namespace std::chrono_literals;

namespace {

// Listens on [::1]:port and counts the connections it accepts.
class Ipv6Decoy {
public:
    explicit Ipv6Decoy(int port) {
        m_fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(m_fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(static_cast<uint16_t>(port));
        address.sin6_addr = in6addr_loopback;
        m_listening = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                      listen(m_fd, 4) == 0;
        if (m_listening) m_thread = std::thread([this] { Accept(); });
    }
    ~Ipv6Decoy() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_fd >= 0) close(m_fd);
    }
    bool Listening() const { return m_listening; }
    int Accepted() const { return m_accepted; }

private:
    void Accept() {
        while (!m_stop) {
            pollfd entry{m_fd, POLLIN, 0};
            if (poll(&entry, 1, 50) <= 0) continue;
            int client = accept(m_fd, nullptr, nullptr);
            if (client < 0) continue;
            ++m_accepted;
            close(client);
        }
    }

    int m_fd = -1;
    bool m_listening = false;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
};

bool CanMakeMountNamespaces() {
    ChildProcess probe;
    return probe.Start("unshare", {"-m", "true"}) && probe.Wait(30s) == 0;
}

TEST(HostAddressTest, ConnectsToTheIpv4LoopbackWhereLocalhostNamesIpv6First) {
    if (!CanMakeMountNamespaces()) GTEST_SKIP() << "no mount namespaces here (needs root)";
    HostStandIn host;
    Ipv6Decoy decoy(host.Port());
    if (!decoy.Listening()) GTEST_SKIP() << "no IPv6 loopback here";
    TemporaryDirectory folder("kestrel-hosts");
    const std::string hosts = (folder.Path() / "hosts").string();
    std::ofstream(hosts) << "::1 localhost\n127.0.0.1 localhost\n";

    ChildProcess plugin;
    ASSERT_TRUE(
        plugin.Start("unshare", {"-m", "sh", "-c", "mount --bind \"$0\" /etc/hosts && exec \"$@\"", hosts,
                                 BuiltProgramPath("kestrel-sdplugin"), "-port", std::to_string(host.Port()),
                                 "-pluginUUID", "U", "-registerEvent", "registerPlugin", "-info", "{}"}));
    EXPECT_TRUE(host.WaitForConnection(60s)) << plugin.Output();
    EXPECT_EQ(host.NextMessage(30s).value_or(""), R"({"event":"registerPlugin","uuid":"U"})");
    EXPECT_EQ(decoy.Accepted(), 0);
    host.Close();
    EXPECT_EQ(plugin.Wait(30s), 0) << plugin.Output();
}

}  // namespace
