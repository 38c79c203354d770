// POSIX back-end: a Unix-domain SOCK_SEQPACKET socket, which keeps message
// boundaries like a message-mode pipe. SO_PASSCRED makes the kernel attach
// the sender's credentials to every message, which is how a message of zero
// bytes is told apart from the end of the connection (both read as 0 bytes).
#include "controller/PipeSystem.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

constexpr int kSendBufferRequest = 16 * 1024 * 1024;  // the kernel caps it at net.core.wmem_max

bool MakeSocketAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    path.copy(address.sun_path, path.size());
    return true;
}

class PosixPipeSystem : public PipeSystem {
public:
    OpenResult Open(const std::string& name, Handle& handle) override {
        handle = kInvalidHandle;
        sockaddr_un address;
        if (!MakeSocketAddress(PipeAddress(name), address)) return OpenResult::Failed;
        // Non-blocking while connecting: a server whose backlog is full (it
        // does not accept) answers EAGAIN at once, which is the busy state,
        // instead of holding the connecting thread for as long as it likes.
        int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return OpenResult::Failed;
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBufferRequest, sizeof kSendBufferRequest);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            const bool busy = errno == EAGAIN;
            close(fd);
            return busy ? OpenResult::Busy : OpenResult::Failed;
        }
        if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
            close(fd);
            return OpenResult::Failed;
        }
        handle = fd;
        return OpenResult::Opened;
    }

    // A socket cannot be watched for room in a listener's backlog: wait the
    // slice (at most 100 ms) and let the caller try again.
    bool WaitUntilFree(const std::string&, uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(milliseconds, 100)));
        return true;
    }

    // The credentials that the server had when it called listen().
    bool ServerIsOurUser(Handle handle) override {
        ucred peer{};
        socklen_t length = sizeof peer;
        if (getsockopt(static_cast<int>(handle), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
        return peer.uid == getuid();
    }

    bool SetMessageMode(Handle) override { return true; }

    PeekResult Peek(Handle handle) override {
        char control[CMSG_SPACE(sizeof(ucred))];
        char unused;
        iovec vector{&unused, 0};
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        // MSG_TRUNC makes a peek into an empty buffer return the full length.
        ssize_t size = recvmsg(static_cast<int>(handle), &message, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
        PeekResult result;
        if (size < 0) {
            result.ok = errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            return result;
        }
        // 0 bytes without credentials is the end of the connection.
        result.ok = size > 0 || message.msg_controllen > 0;
        result.pending = result.ok;
        result.size = static_cast<uint32_t>(size);
        return result;
    }

    bool Read(Handle handle, char* buffer, uint32_t size) override {
        ssize_t got = recv(static_cast<int>(handle), buffer, size, MSG_DONTWAIT);
        return got >= 0 && static_cast<uint32_t>(got) == size;
    }

    bool Skip(Handle handle) override {
        char unused;
        return recv(static_cast<int>(handle), &unused, 0, MSG_DONTWAIT | MSG_TRUNC) >= 0;
    }

    bool Write(Handle handle, const char* bytes, uint32_t size) override {
        while (true) {
            ssize_t sent = send(static_cast<int>(handle), bytes, size, MSG_NOSIGNAL);
            if (sent >= 0) return static_cast<uint32_t>(sent) == size;
            if (errno != EINTR) return false;
        }
    }

    // A SOCK_SEQPACKET send with MSG_DONTWAIT takes the whole message or
    // nothing, so giving up after a time-out or a wake-up leaves the
    // connection's message stream intact.
    WriteResult WriteWithin(Handle handle, const char* bytes, uint32_t size, uint32_t milliseconds,
                            Handle wakeup) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        const int fd = static_cast<int>(handle);
        while (true) {
            ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0)
                return static_cast<uint32_t>(sent) == size ? WriteResult::Written : WriteResult::Failed;
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return WriteResult::Failed;
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return WriteResult::TimedOut;
            pollfd entries[2] = {{fd, POLLOUT, 0}, {static_cast<int>(wakeup), POLLIN, 0}};
            const nfds_t count = wakeup == kInvalidHandle ? 1 : 2;
            // A few ms at most when the socket says "writable" but the peer's
            // queue is still full, so that this never spins.
            int ready = poll(entries, count, static_cast<int>(std::min<long long>(left, 1000)));
            if (ready < 0 && errno != EINTR) return WriteResult::Failed;
            if (count == 2 && (entries[1].revents & POLLIN)) {
                ConsumeWakeup(wakeup);
                return WriteResult::Woken;
            }
            if (ready > 0 && (entries[0].revents & POLLOUT))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // A SOCK_SEQPACKET send is atomic: the whole message goes, or none of it.
    WriteResult WriteNow(Handle handle, const char* bytes, uint32_t size) override {
        ssize_t sent = send(static_cast<int>(handle), bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0)
            return static_cast<uint32_t>(sent) == size ? WriteResult::Written : WriteResult::Failed;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? WriteResult::TimedOut
                                                                         : WriteResult::Failed;
    }

    void WaitForWakeup(Handle wakeup, uint32_t milliseconds) override {
        pollfd entry{static_cast<int>(wakeup), POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(milliseconds)) > 0) ConsumeWakeup(wakeup);
    }

    void Shutdown(Handle handle) override { shutdown(static_cast<int>(handle), SHUT_RDWR); }

    void Close(Handle handle) override { close(static_cast<int>(handle)); }

    Handle OpenWakeup() override {
        int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        return fd < 0 ? kInvalidHandle : fd;
    }

    void SignalWakeup(Handle wakeup) override {
        uint64_t one = 1;
        while (write(static_cast<int>(wakeup), &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

    void CloseWakeup(Handle wakeup) override { close(static_cast<int>(wakeup)); }

    void WaitForInput(Handle handle, Handle wakeup) override {
        pollfd entries[2] = {{static_cast<int>(handle), POLLIN, 0}, {static_cast<int>(wakeup), POLLIN, 0}};
        if (poll(entries, 2, -1) <= 0) return;  // EINTR: the caller looks again
        if (entries[1].revents & POLLIN) ConsumeWakeup(wakeup);
    }

private:
    static void ConsumeWakeup(Handle wakeup) {
        uint64_t count = 0;
        ssize_t ignored = read(static_cast<int>(wakeup), &count, sizeof count);
        (void)ignored;
    }
};

}  // namespace

std::shared_ptr<PipeSystem> PipeSystem::Native() {
    static auto system = std::make_shared<PosixPipeSystem>();
    return system;
}

std::string PipeAddress(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/" + name;
    return "/tmp/" + name + "-" + std::to_string(getuid());
}
