// POSIX back-end: a Unix-domain SOCK_SEQPACKET socket, which keeps message
// boundaries like a message-mode pipe. SO_PASSCRED makes the kernel attach
// the sender's credentials to every message, which is how a message of zero
// bytes is told apart from the end of the connection (both read as 0 bytes).
#include "controller/PipeSystem.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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
        int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd < 0) return OpenResult::Failed;
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBufferRequest, sizeof kSendBufferRequest);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            return OpenResult::Failed;
        }
        handle = fd;
        return OpenResult::Opened;
    }

    // A listening socket accepts as long as its backlog has room (connect
    // waits otherwise), so there is no busy state to wait for.
    bool WaitUntilFree(const std::string&, uint32_t) override { return false; }

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
        if (entries[1].revents & POLLIN) {
            uint64_t count = 0;
            ssize_t ignored = read(static_cast<int>(wakeup), &count, sizeof count);
            (void)ignored;
        }
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
