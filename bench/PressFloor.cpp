#include "PressFloor.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr int kHandshakeMilliseconds = 5000;

// Reads the server's handshake answer up to its blank line; what follows it
// (the first frames, if they came in the same read) goes to |rest|.
bool ReadHandshake(int socket, std::string& rest) {
    std::string answer;
    char buffer[4096];
    while (answer.find("\r\n\r\n") == std::string::npos) {
        pollfd readable{socket, POLLIN, 0};
        if (poll(&readable, 1, kHandshakeMilliseconds) != 1) return false;
        ssize_t size = read(socket, buffer, sizeof buffer);
        if (size <= 0) return false;
        answer.append(buffer, static_cast<size_t>(size));
    }
    size_t end = answer.find("\r\n\r\n") + 4;
    rest = answer.substr(end);
    return answer.compare(0, 12, "HTTP/1.1 101") == 0;
}

bool WriteAll(int socket, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        ssize_t size = write(socket, text.data() + written, text.size() - written);
        if (size <= 0) return false;
        written += static_cast<size_t>(size);
    }
    return true;
}

}  // namespace

PressFloor::~PressFloor() {
    Stop();
}

bool PressFloor::Start(unsigned short port, const std::string& pipePath) {
    m_stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_stopFd < 0 || m_epoll < 0 || !OpenWebSocket(port) || !OpenPipe(pipePath)) {
        CloseAll();
        return false;
    }
    epoll_event socketEvent{EPOLLIN, {}};
    socketEvent.data.fd = m_socket;
    epoll_event stopEvent{EPOLLIN, {}};
    stopEvent.data.fd = m_stopFd;
    if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_socket, &socketEvent) != 0 ||
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_stopFd, &stopEvent) != 0) {
        CloseAll();
        return false;
    }
    m_stopping = false;
    m_reader = std::thread(&PressFloor::ReaderProc, this);
    m_writer = std::thread(&PressFloor::WriterProc, this);
    return true;
}

void PressFloor::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
    }
    m_queued.notify_all();
    if (m_stopFd >= 0) {
        uint64_t one = 1;
        if (write(m_stopFd, &one, sizeof one) != sizeof one) {
            // The counter cannot overflow with one write; the reader also ends on a closed socket.
        }
    }
    if (m_reader.joinable()) m_reader.join();
    if (m_writer.joinable()) m_writer.join();
    CloseAll();
}

bool PressFloor::OpenWebSocket(unsigned short port) {
    m_socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) return false;
    // As any WebSocket client library sets it: small frames leave at once.
    int on = 1;
    setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    const std::string request =
        "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: a2VzdHJlbGZsb29yLWtleQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    return WriteAll(m_socket, request) && ReadHandshake(m_socket, m_received);
}

bool PressFloor::OpenPipe(const std::string& pipePath) {
    m_pipe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (m_pipe < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (pipePath.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, pipePath.c_str(), pipePath.size() + 1);
    return connect(m_pipe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool PressFloor::TakeFrame(const std::string& buffer, size_t& frameSize, std::string& payload, bool& isText) {
    frameSize = 0;
    if (buffer.size() < 2) return false;
    const auto byte = [&buffer](size_t at) { return static_cast<unsigned char>(buffer[at]); };
    uint64_t length = byte(1) & 0x7f;
    size_t header = 2;
    if (length == 126) {
        header = 4;
        if (buffer.size() < header) return false;
        length = (uint64_t{byte(2)} << 8) | byte(3);
    } else if (length == 127) {
        header = 10;
        if (buffer.size() < header) return false;
        length = 0;
        for (size_t i = 2; i < 10; ++i) length = (length << 8) | byte(i);
    }
    if ((byte(1) & 0x80) != 0 || length > buffer.size() - header) return false;  // masked, or not all here
    frameSize = header + static_cast<size_t>(length);
    payload.assign(buffer, header, static_cast<size_t>(length));
    isText = (byte(0) & 0x0f) == 1;
    return true;
}

void PressFloor::ReaderProc() {
    HandOverFrames();  // frames that came with the handshake's answer
    char buffer[65536];
    while (true) {
        epoll_event ready[2];
        int count = epoll_wait(m_epoll, ready, 2, -1);
        if (count < 0) continue;  // interrupted by a signal
        bool readable = false;
        for (int i = 0; i < count; ++i) {
            if (ready[i].data.fd == m_stopFd) return;
            readable = true;
        }
        if (!readable) continue;
        ssize_t size = read(m_socket, buffer, sizeof buffer);
        if (size <= 0) return;
        m_received.append(buffer, static_cast<size_t>(size));
        HandOverFrames();
    }
}

void PressFloor::HandOverFrames() {
    size_t frameSize = 0;
    std::string payload;
    bool isText = false;
    while (TakeFrame(m_received, frameSize, payload, isText)) {
        m_received.erase(0, frameSize);
        // Only presses go on: the probe reads one command per "keyDown".
        if (!isText || payload.find("\"keyDown\"") == std::string::npos) continue;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_queue.push_back(std::move(payload));
        }
        m_queued.notify_one();
        payload.clear();
    }
}

void PressFloor::WriterProc() {
    while (true) {
        std::string text;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_queued.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping) return;
            text = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (send(m_pipe, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) return;
    }
}

void PressFloor::CloseAll() {
    for (int* fd : {&m_socket, &m_pipe, &m_stopFd, &m_epoll}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    m_received.clear();
    m_queue.clear();
}
