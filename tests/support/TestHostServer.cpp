#include "support/TestHostServer.h"

#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

using Server = websocketpp::server<websocketpp::config::asio>;

struct TestHostServer::State {
    Server server;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;  // guards everything below
    std::condition_variable changed;
    websocketpp::connection_hdl connection;
    bool connected = false;
    std::deque<std::string> pending;
    std::vector<std::string> all;
    // Holds the connection while reading is paused: no read then holds it,
    // and the server itself keeps only weak handles.
    Server::connection_ptr paused;
};

TestHostServer::TestHostServer() : m_state(std::make_unique<State>()) {
    State& state = *m_state;
    state.server.clear_access_channels(websocketpp::log::alevel::all);
    state.server.clear_error_channels(websocketpp::log::elevel::all);
    state.server.init_asio();
    state.server.set_reuse_addr(true);
    state.server.set_open_handler([&state](websocketpp::connection_hdl handle) {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.connection = handle;
        state.connected = true;
        state.changed.notify_all();
    });
    auto onEnd = [&state](websocketpp::connection_hdl) {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.connected = false;
        state.changed.notify_all();
    };
    state.server.set_close_handler(onEnd);
    state.server.set_fail_handler(onEnd);
    state.server.set_message_handler([&state](websocketpp::connection_hdl, Server::message_ptr message) {
        if (message->get_opcode() != websocketpp::frame::opcode::text) return;
        std::lock_guard<std::mutex> lock(state.mutex);
        state.pending.push_back(message->get_payload());
        state.all.push_back(message->get_payload());
        state.changed.notify_all();
    });
    asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
    state.server.listen(endpoint);
    websocketpp::lib::error_code error;
    state.port = state.server.get_local_endpoint(error).port();
    state.server.start_accept();
    state.thread = std::thread([&state] { state.server.run(); });
}

TestHostServer::~TestHostServer() {
    State& state = *m_state;
    asio::post(state.server.get_io_service(), [&state] {
        websocketpp::lib::error_code ignored;
        state.server.stop_listening(ignored);
        state.server.stop();
    });
    state.thread.join();
}

int TestHostServer::Port() const {
    return m_state->port;
}

bool TestHostServer::WaitForConnection(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [this] { return m_state->connected; });
}

bool TestHostServer::WaitForDisconnect(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [this] { return !m_state->connected; });
}

std::optional<std::string> TestHostServer::NextMessage(std::chrono::milliseconds timeout) {
    return WaitForMessage([](const std::string&) { return true; }, timeout);
}

std::optional<std::string> TestHostServer::WaitForMessage(
    const std::function<bool(const std::string&)>& match, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(m_state->mutex);
    while (true) {
        while (!m_state->pending.empty()) {
            std::string text = std::move(m_state->pending.front());
            m_state->pending.pop_front();
            if (match(text)) return text;
        }
        if (m_state->changed.wait_until(lock, deadline) == std::cv_status::timeout &&
            m_state->pending.empty()) {
            return std::nullopt;
        }
    }
}

std::vector<std::string> TestHostServer::AllMessages() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->all;
}

namespace {
void SendOn(Server& server, websocketpp::connection_hdl handle, const std::string& bytes,
            websocketpp::frame::opcode::value opcode) {
    websocketpp::lib::error_code ignored;
    server.send(handle, bytes, opcode, ignored);
}
}  // namespace

void TestHostServer::SendText(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    SendOn(m_state->server, m_state->connection, text, websocketpp::frame::opcode::text);
}

void TestHostServer::SendBinary(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    SendOn(m_state->server, m_state->connection, bytes, websocketpp::frame::opcode::binary);
}

void TestHostServer::PauseReading() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    websocketpp::lib::error_code ignored;
    m_state->paused = m_state->server.get_con_from_hdl(m_state->connection, ignored);
    if (m_state->paused) m_state->paused->pause_reading();
}

void TestHostServer::ResumeReading() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->paused) m_state->paused->resume_reading();
    m_state->paused.reset();
}

void TestHostServer::Close() {
    // On the event loop's thread: the close handshake changes connection
    // state that the loop's read handlers use without a lock. Messages sent
    // before are queued already, so the close frame still follows them.
    State& state = *m_state;
    std::promise<void> closed;
    asio::post(state.server.get_io_service(), [&state, &closed] {
        websocketpp::connection_hdl connection;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            connection = state.connection;
        }
        websocketpp::lib::error_code ignored;
        state.server.close(connection, websocketpp::close::status::normal, "host closing", ignored);
        closed.set_value();
    });
    closed.get_future().wait();
}
