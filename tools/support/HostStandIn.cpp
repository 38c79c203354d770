#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "support/HostStandIn.h"

using Server = websocketpp::server<websocketpp::config::asio>;
using Handle = websocketpp::connection_hdl;

struct HostStandIn::State {
    Server server;
    Handlers handlers;
    bool ownLoop = false;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;  // guards everything below
    std::condition_variable changed;
    std::map<Handle, ConnectionId, std::owner_less<Handle>> ids;
    std::map<ConnectionId, Handle> handles;
    ConnectionId nextId = 1;
    Handle latest;
    bool connected = false;
    bool latestSpoke = false;  // the latest connection has sent its first message
    std::deque<Received> pending;
    std::vector<std::string> all;
    bool replay = false;
    std::vector<std::string> undelivered;
    // Holds the connection while reading is paused: no read then holds it,
    // and the server itself keeps only weak handles.
    Server::connection_ptr paused;
    // The library's own pause is posted to the loop and its resume starts a
    // read without asking whether one still waits: two reads at once share
    // one buffer and garble the stream. So the pause is taken inside the
    // message handler, where the read that delivered the message decides
    // whether to read on, and a resume only follows a pause that held.
    bool pauseWanted = false;  // PauseReading was called; the next message holds it
    bool pauseHeld = false;    // no read waits now, and none starts until the resume

    bool IsLatest(const Handle& handle) const {
        return !latest.owner_before(handle) && !handle.owner_before(latest);
    }
    void SendLocked(Handle handle, const std::string& bytes, websocketpp::frame::opcode::value opcode) {
        websocketpp::lib::error_code ignored;
        server.send(handle, bytes, opcode, ignored);
    }
    void OnOpen(Handle handle);
    void OnEnd(Handle handle);
    void OnMessage(Handle handle, Server::message_ptr message);
    void SetUp();
};

void HostStandIn::State::OnOpen(Handle handle) {
    ConnectionId id;
    {
        std::lock_guard<std::mutex> lock(mutex);
        id = nextId++;
        ids[handle] = id;
        handles[id] = handle;
        latest = handle;
        connected = true;
        latestSpoke = false;
        changed.notify_all();
    }
    if (handlers.opened) handlers.opened(id);
}

void HostStandIn::State::OnEnd(Handle handle) {
    ConnectionId id = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = ids.find(handle);
        if (found == ids.end()) return;  // a connection that never opened
        id = found->second;
        ids.erase(found);
        handles.erase(id);
        if (IsLatest(handle)) connected = false;
        changed.notify_all();
    }
    if (handlers.closed) handlers.closed(id);
}

void HostStandIn::State::OnMessage(Handle handle, Server::message_ptr message) {
    auto at = Clock::now();
    if (message->get_opcode() != websocketpp::frame::opcode::text) return;
    ConnectionId id = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = ids.find(handle);
        if (found != ids.end()) id = found->second;
        if (pauseWanted && !pauseHeld && IsLatest(handle)) {
            paused->handle_pause_reading();  // on the loop, within the read's handler
            pauseHeld = true;
        }
        if (!handlers.received) {
            pending.push_back(Received{at, message->get_payload()});
            all.push_back(message->get_payload());
            if (IsLatest(handle) && !latestSpoke) {
                latestSpoke = true;
                for (const std::string& text : undelivered)
                    SendLocked(handle, text, websocketpp::frame::opcode::text);
                undelivered.clear();
            }
            changed.notify_all();
        }
    }
    if (handlers.received && id) handlers.received(id, message->get_payload());
}

void HostStandIn::State::SetUp() {
    server.clear_access_channels(websocketpp::log::alevel::all);
    server.clear_error_channels(websocketpp::log::elevel::all);
    server.set_reuse_addr(true);
    if (handlers.accepts) {
        server.set_validate_handler([this](Handle handle) {
            return handlers.accepts(server.get_con_from_hdl(handle)->get_origin());
        });
    }
    server.set_open_handler([this](Handle handle) { OnOpen(handle); });
    server.set_close_handler([this](Handle handle) { OnEnd(handle); });
    server.set_fail_handler([this](Handle handle) { OnEnd(handle); });
    server.set_message_handler(
        [this](Handle handle, Server::message_ptr message) { OnMessage(handle, message); });
}

HostStandIn::HostStandIn() : m_state(std::make_unique<State>()) {
    m_state->ownLoop = true;
    m_state->server.init_asio();
    m_state->SetUp();
    Listen(0);
}

HostStandIn::HostStandIn(asio::io_context& loop, Handlers handlers) : m_state(std::make_unique<State>()) {
    m_state->handlers = std::move(handlers);
    m_state->server.init_asio(&loop);
    m_state->SetUp();
}

HostStandIn::~HostStandIn() {
    State& state = *m_state;
    if (!state.thread.joinable()) return;
    asio::post(state.server.get_io_service(), [&state] {
        websocketpp::lib::error_code ignored;
        state.server.stop_listening(ignored);
        state.server.stop();
    });
    state.thread.join();
}

unsigned short HostStandIn::Listen(unsigned short port) {
    State& state = *m_state;
    if (state.port) return static_cast<unsigned short>(state.port);
    websocketpp::lib::error_code error;
    state.server.listen(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), error);
    if (!error) state.server.start_accept(error);
    if (error) {
        websocketpp::lib::error_code ignored;
        state.server.stop_listening(ignored);
        return 0;
    }
    state.port = state.server.get_local_endpoint(error).port();
    if (state.ownLoop) state.thread = std::thread([&state] { state.server.run(); });
    return static_cast<unsigned short>(state.port);
}

int HostStandIn::Port() const {
    return m_state->port;
}

void HostStandIn::StopListening() {
    websocketpp::lib::error_code ignored;
    m_state->server.stop_listening(ignored);
}

void HostStandIn::Send(ConnectionId connection, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    auto found = m_state->handles.find(connection);
    if (found != m_state->handles.end())
        m_state->SendLocked(found->second, text, websocketpp::frame::opcode::text);
}

void HostStandIn::Close(ConnectionId connection) {
    Handle handle;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        auto found = m_state->handles.find(connection);
        if (found == m_state->handles.end()) return;
        handle = found->second;
    }
    websocketpp::lib::error_code ignored;
    m_state->server.close(handle, websocketpp::close::status::normal, "closing", ignored);
}

bool HostStandIn::WaitForConnection(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [this] { return m_state->connected; });
}

bool HostStandIn::WaitForDisconnect(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [this] { return !m_state->connected; });
}

bool HostStandIn::Connected() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->connected;
}

std::optional<std::string> HostStandIn::NextMessage(std::chrono::milliseconds timeout) {
    return WaitForMessage([](const std::string&) { return true; }, timeout);
}

std::optional<std::string> HostStandIn::WaitForMessage(const std::function<bool(const std::string&)>& match,
                                                       std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    std::unique_lock<std::mutex> lock(m_state->mutex);
    while (true) {
        while (!m_state->pending.empty()) {
            std::string text = std::move(m_state->pending.front().text);
            m_state->pending.pop_front();
            if (match(text)) return text;
        }
        if (m_state->changed.wait_until(lock, deadline) == std::cv_status::timeout &&
            m_state->pending.empty()) {
            return std::nullopt;
        }
    }
}

std::optional<HostStandIn::Received> HostStandIn::WaitFor(const std::function<bool(const Received&)>& match,
                                                          std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    std::unique_lock<std::mutex> lock(m_state->mutex);
    auto& pending = m_state->pending;
    size_t checked = 0;
    while (true) {
        for (; checked < pending.size(); ++checked) {
            if (!match(pending[checked])) continue;
            Received found = pending[checked];
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(checked) + 1);
            return found;
        }
        if (m_state->changed.wait_until(lock, deadline) == std::cv_status::timeout &&
            checked == pending.size()) {
            return std::nullopt;
        }
    }
}

std::vector<std::string> HostStandIn::AllMessages() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->all;
}

void HostStandIn::Clear() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->pending.clear();
}

void HostStandIn::SendText(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->replay && (!m_state->connected || !m_state->latestSpoke)) {
        m_state->undelivered.push_back(text);
        return;
    }
    m_state->SendLocked(m_state->latest, text, websocketpp::frame::opcode::text);
}

void HostStandIn::SendBinary(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->SendLocked(m_state->latest, bytes, websocketpp::frame::opcode::binary);
}

std::optional<HostStandIn::Clock::time_point> HostStandIn::Send(const nlohmann::json& message) {
    std::string text = message.dump();
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (!m_state->connected) return std::nullopt;
    auto at = Clock::now();
    websocketpp::lib::error_code error;
    m_state->server.send(m_state->latest, text, websocketpp::frame::opcode::text, error);
    if (error) return std::nullopt;
    return at;
}

void HostStandIn::ReplayUndelivered(bool on) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->replay = on;
}

void HostStandIn::PauseReading() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    websocketpp::lib::error_code ignored;
    m_state->paused = m_state->server.get_con_from_hdl(m_state->latest, ignored);
    m_state->pauseWanted = m_state->paused != nullptr;
}

void HostStandIn::ResumeReading() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->pauseHeld) m_state->paused->resume_reading();
    m_state->pauseWanted = m_state->pauseHeld = false;
    m_state->paused.reset();
}

void HostStandIn::Close() {
    // On the event loop's thread: the close handshake changes connection
    // state that the loop's read handlers use without a lock. Messages sent
    // before are queued already, so the close frame still follows them.
    State& state = *m_state;
    std::promise<void> closed;
    asio::post(state.server.get_io_service(), [&state, &closed] {
        Handle connection;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            connection = state.latest;
        }
        websocketpp::lib::error_code ignored;
        state.server.close(connection, websocketpp::close::status::normal, "host closing", ignored);
        closed.set_value();
    });
    closed.get_future().wait();
}

void HostStandIn::CloseConnection() {
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (!m_state->connected) return;
        m_state->connected = false;
    }
    Close();
}
