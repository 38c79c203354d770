#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <vector>

#include "controller-sim/PipeServer.h"
#include "controller/PipeSystem.h"

namespace {
constexpr int kSendBuffer = 64 * 1024 * 1024;

bool WaitReadable(int fd, std::chrono::milliseconds timeout) {
    pollfd entry{fd, POLLIN, 0};
    int ready = poll(&entry, 1, static_cast<int>(timeout.count()));
    return ready > 0;
}
}  // namespace

struct PipeServer::State {
    std::string path;
    int listener = -1;
    int client = -1;
};

PipeServer::PipeServer(std::string name, int) : m_name(std::move(name)), m_state(std::make_unique<State>()) {
    m_state->path = PipeAddress(m_name);
}

PipeServer::~PipeServer() {
    DropClient();
    if (m_state->listener >= 0) {
        close(m_state->listener);
        unlink(m_state->path.c_str());
    }
}

bool PipeServer::Listen() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_state->path.size() >= sizeof address.sun_path) return false;
    m_state->path.copy(address.sun_path, m_state->path.size());
    unlink(m_state->path.c_str());  // a socket file left by an earlier run
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return false;
    }
    chmod(m_state->path.c_str(), 0600);
    m_state->listener = fd;
    return true;
}

bool PipeServer::WaitForClient(std::chrono::milliseconds timeout) {
    if (m_state->client >= 0) return true;
    if (m_state->listener < 0 || !WaitReadable(m_state->listener, timeout)) return false;
    int fd = accept4(m_state->listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return false;
    // Large messages need a large send buffer: the whole message goes at once.
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &kSendBuffer, sizeof kSendBuffer);  // allowed for root only
    m_state->client = fd;
    return true;
}

bool PipeServer::HasClient() const {
    return m_state->client >= 0;
}

std::optional<std::string> PipeServer::Receive(std::chrono::milliseconds timeout) {
    int fd = m_state->client;
    if (fd < 0 || !WaitReadable(fd, timeout)) return std::nullopt;
    char unused;
    ssize_t size = recv(fd, &unused, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (size < 0 && (errno == EAGAIN || errno == EINTR)) return std::nullopt;
    if (size <= 0) {  // the client has gone (it never sends empty messages)
        DropClient();
        return std::nullopt;
    }
    std::string message(static_cast<size_t>(size), '\0');
    if (recv(fd, message.data(), message.size(), 0) != size) {
        DropClient();
        return std::nullopt;
    }
    return message;
}

bool PipeServer::Send(const std::string& message) {
    if (m_state->client < 0) return false;
    ssize_t sent = send(m_state->client, message.data(), message.size(), MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(message.size());
}

void PipeServer::DropClient() {
    if (m_state->client < 0) return;
    close(m_state->client);
    m_state->client = -1;
}
