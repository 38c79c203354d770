#include "support/TestHttpServer.h"

#include <algorithm>
#include <asio.hpp>
#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// Parses a complete request from |bytes|; false while more bytes are needed.
bool ParseRequest(const std::string& bytes, RecordedHttpRequest& request) {
    size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    std::istringstream head(bytes.substr(0, end));
    std::string line;
    std::getline(head, line);
    std::istringstream requestLine(line);
    requestLine >> request.method >> request.path;
    size_t contentLength = 0;
    while (std::getline(head, line)) {
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = Trim(line.substr(0, colon));
        std::string value = Trim(line.substr(colon + 1));
        if (Lower(name) == "content-length") contentLength = std::strtoul(value.c_str(), nullptr, 10);
        request.headers.emplace_back(name, value);
    }
    if (bytes.size() < end + 4 + contentLength) return false;
    request.body = bytes.substr(end + 4, contentLength);
    return true;
}

}  // namespace

std::string RecordedHttpRequest::Header(const std::string& name) const {
    for (const auto& header : headers) {
        if (Lower(header.first) == Lower(name)) return header.second;
    }
    return "";
}

struct TestHttpServer::State {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor{io};
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;  // guards everything below
    mutable std::condition_variable changed;
    int status = 200;
    std::string responseBody = "ok";
    std::string extraHeaders;
    bool neverAnswer = false;
    std::chrono::milliseconds trickle{0};
    std::function<void(const RecordedHttpRequest&)> observer;
    std::vector<RecordedHttpRequest> requests;
    std::vector<std::string> connectionBytes;
};

// One accepted connection; lives as long as a read or write is pending on it.
class TestHttpServer::Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(State* state, asio::ip::tcp::socket socket, size_t index)
        : m_state(state), m_socket(std::move(socket)), m_timer(m_socket.get_executor()), m_index(index) {}

    void Read() {
        auto self = shared_from_this();
        m_socket.async_read_some(asio::buffer(m_buffer), [self](std::error_code error, size_t length) {
            if (!error) self->Received(length);
        });
    }

private:
    void Received(size_t length) {
        m_bytes.append(m_buffer, length);
        RecordedHttpRequest request;
        bool complete = false;
        std::string response;
        std::chrono::milliseconds trickle{0};
        size_t bodyLength = 0;
        {
            std::lock_guard<std::mutex> lock(m_state->mutex);
            m_state->connectionBytes[m_index] = m_bytes;
            if (!std::isalpha(static_cast<unsigned char>(m_bytes[0]))) {
                m_state->changed.notify_all();
                return;  // not HTTP (a TLS handshake, say): drop the connection
            }
            complete = ParseRequest(m_bytes, request);
            if (complete) {
                if (m_state->observer) m_state->observer(request);
                m_state->requests.push_back(request);
                if (m_state->neverAnswer) m_held = true;
                trickle = m_state->trickle;
                bodyLength = m_state->responseBody.size();
                response = "HTTP/1.1 " + std::to_string(m_state->status) +
                           " Test\r\nContent-Type: text/plain\r\n" + m_state->extraHeaders +
                           "Content-Length: " + std::to_string(m_state->responseBody.size()) +
                           "\r\nConnection: close\r\n\r\n" + m_state->responseBody;
            }
            m_state->changed.notify_all();
        }
        if (!complete) return Read();
        if (m_held) return Hold();
        auto text = std::make_shared<std::string>(std::move(response));
        if (trickle.count() > 0) return WriteHeadThenTrickle(text, text->size() - bodyLength, trickle);
        Write(text);
    }

    // Keeps the connection open, unanswered, until the peer or the server closes it.
    void Hold() {
        auto self = shared_from_this();
        m_socket.async_read_some(asio::buffer(m_buffer), [self](std::error_code error, size_t) {
            if (!error) self->Hold();
        });
    }

    void Write(std::shared_ptr<std::string> text) {
        auto self = shared_from_this();
        asio::async_write(m_socket, asio::buffer(*text),
                          [self, text](std::error_code, size_t) { self->Ended(); });
    }

    // Writes the first |head| bytes of |text| at once, then the rest one byte per |interval|.
    void WriteHeadThenTrickle(std::shared_ptr<std::string> text, size_t head,
                              std::chrono::milliseconds interval) {
        auto self = shared_from_this();
        asio::async_write(m_socket, asio::buffer(text->data(), head),
                          [self, text, head, interval](std::error_code error, size_t) {
                              if (error) return self->Ended();
                              self->Trickle(text, head, interval);
                          });
    }

    // Writes one byte of |text| per |interval| from |offset| on.
    void Trickle(std::shared_ptr<std::string> text, size_t offset, std::chrono::milliseconds interval) {
        if (offset == text->size()) return Ended();
        auto self = shared_from_this();
        asio::async_write(m_socket, asio::buffer(text->data() + offset, 1),
                          [self, text, offset, interval](std::error_code error, size_t) {
                              if (error) return self->Ended();
                              self->m_timer.expires_after(interval);
                              self->m_timer.async_wait([self, text, offset, interval](std::error_code) {
                                  self->Trickle(text, offset + 1, interval);
                              });
                          });
    }

    // Ends the answer, then waits for the client to close.
    void Ended() {
        std::error_code ignored;
        m_socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
        Drain();
    }

    // Reads until the client closes, so the response is not cut by a reset.
    void Drain() {
        auto self = shared_from_this();
        m_socket.async_read_some(asio::buffer(m_buffer), [self](std::error_code error, size_t) {
            if (!error) self->Drain();
        });
    }

    State* m_state;  // outlives every connection: its io_context owns them
    asio::ip::tcp::socket m_socket;
    asio::steady_timer m_timer;
    size_t m_index;
    char m_buffer[16384];
    std::string m_bytes;
    bool m_held = false;
};

TestHttpServer::TestHttpServer() : m_state(std::make_unique<State>()) {
    State& state = *m_state;
    asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
    state.acceptor.open(endpoint.protocol());
    state.acceptor.bind(endpoint);
    state.acceptor.listen();
    state.port = state.acceptor.local_endpoint().port();
    Accept();
    state.thread = std::thread([&state] { state.io.run(); });
}

TestHttpServer::~TestHttpServer() {
    m_state->io.stop();
    m_state->thread.join();
}

void TestHttpServer::Accept() {
    State* state = m_state.get();
    state->acceptor.async_accept([this, state](std::error_code error, asio::ip::tcp::socket socket) {
        if (error) return;
        size_t index = 0;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            index = state->connectionBytes.size();
            state->connectionBytes.emplace_back();
            state->changed.notify_all();
        }
        std::make_shared<Connection>(state, std::move(socket), index)->Read();
        Accept();
    });
}

int TestHttpServer::Port() const {
    return m_state->port;
}

std::string TestHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_state->port) + path;
}

void TestHttpServer::SetResponse(int status, const std::string& body, const std::string& extraHeaders) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->status = status;
    m_state->responseBody = body;
    m_state->extraHeaders = extraHeaders;
}

void TestHttpServer::SetTrickle(std::chrono::milliseconds interval) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->trickle = interval;
}

void TestHttpServer::SetNeverAnswer(bool neverAnswer) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->neverAnswer = neverAnswer;
}

void TestHttpServer::SetRequestObserver(std::function<void(const RecordedHttpRequest&)> observer) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->observer = std::move(observer);
}

bool TestHttpServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [&] { return m_state->requests.size() >= count; });
}

bool TestHttpServer::WaitForConnectionBytes(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [&] {
        return static_cast<size_t>(
                   std::count_if(m_state->connectionBytes.begin(), m_state->connectionBytes.end(),
                                 [](const std::string& bytes) { return !bytes.empty(); })) >= count;
    });
}

std::vector<RecordedHttpRequest> TestHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->requests;
}

std::vector<std::string> TestHttpServer::ConnectionBytes() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->connectionBytes;
}
