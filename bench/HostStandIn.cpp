#include "HostStandIn.h"

#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include <thread>

namespace {
using Server = websocketpp::server<websocketpp::config::asio>;
}

struct HostStandIn::Impl {
    Server server;
    std::thread loop;
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<Received> received;           // guarded by lock
    websocketpp::connection_hdl connection;  // guarded by lock
    bool connected = false;                  // guarded by lock
};

HostStandIn::HostStandIn() : m_impl(std::make_unique<Impl>()) {
    Impl& impl = *m_impl;
    impl.server.clear_access_channels(websocketpp::log::alevel::all);
    impl.server.clear_error_channels(websocketpp::log::elevel::all);
    impl.server.init_asio();
    impl.server.set_reuse_addr(true);
    impl.server.set_open_handler([&impl](websocketpp::connection_hdl handle) {
        std::lock_guard<std::mutex> guard(impl.lock);
        impl.connection = handle;
        impl.connected = true;
    });
    impl.server.set_close_handler([&impl](websocketpp::connection_hdl) {
        std::lock_guard<std::mutex> guard(impl.lock);
        impl.connected = false;
    });
    impl.server.set_message_handler([&impl](websocketpp::connection_hdl, Server::message_ptr message) {
        auto at = Clock::now();
        std::lock_guard<std::mutex> guard(impl.lock);
        impl.received.push_back(Received{at, message->get_payload()});
        impl.arrived.notify_all();
    });
}

HostStandIn::~HostStandIn() {
    websocketpp::lib::error_code ignored;
    m_impl->server.stop_listening(ignored);
    CloseConnection();
    m_impl->server.stop();
    if (m_impl->loop.joinable()) m_impl->loop.join();
}

unsigned short HostStandIn::Listen() {
    websocketpp::lib::error_code error;
    m_impl->server.listen(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0), error);
    if (error) return 0;
    m_impl->server.start_accept(error);
    if (error) return 0;
    auto endpoint = m_impl->server.get_local_endpoint(error);
    if (error) return 0;
    m_impl->loop = std::thread([this] { m_impl->server.run(); });
    return endpoint.port();
}

std::optional<HostStandIn::Clock::time_point> HostStandIn::Send(const nlohmann::json& message) {
    websocketpp::connection_hdl handle;
    {
        std::lock_guard<std::mutex> guard(m_impl->lock);
        if (!m_impl->connected) return std::nullopt;
        handle = m_impl->connection;
    }
    std::string text = message.dump();
    auto at = Clock::now();
    websocketpp::lib::error_code error;
    m_impl->server.send(handle, text, websocketpp::frame::opcode::text, error);
    if (error) return std::nullopt;
    return at;
}

std::optional<HostStandIn::Received> HostStandIn::WaitFor(const std::function<bool(const Received&)>& match,
                                                          std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    std::unique_lock<std::mutex> guard(m_impl->lock);
    size_t checked = 0;
    while (true) {
        for (; checked < m_impl->received.size(); ++checked) {
            if (!match(m_impl->received[checked])) continue;
            Received found = m_impl->received[checked];
            m_impl->received.erase(m_impl->received.begin(), m_impl->received.begin() + checked + 1);
            return found;
        }
        if (m_impl->arrived.wait_until(guard, deadline) == std::cv_status::timeout &&
            checked == m_impl->received.size()) {
            return std::nullopt;
        }
    }
}

void HostStandIn::Clear() {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    m_impl->received.clear();
}

void HostStandIn::CloseConnection() {
    websocketpp::connection_hdl handle;
    {
        std::lock_guard<std::mutex> guard(m_impl->lock);
        if (!m_impl->connected) return;
        handle = m_impl->connection;
        m_impl->connected = false;
    }
    websocketpp::lib::error_code ignored;
    m_impl->server.close(handle, websocketpp::close::status::normal, "benchmark done", ignored);
}

bool HostStandIn::Connected() {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->connected;
}
