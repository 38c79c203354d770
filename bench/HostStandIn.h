#pragma once
// The Stream Deck application as the benchmark needs it: a WebSocket server on
// 127.0.0.1 that accepts one plug-in connection, stamps every text message it
// receives with the steady clock the moment it arrives (before parsing), and
// sends the plug-in events.
//
// Threads: the server runs its own event-loop thread, which receives and
// stamps. Every public operation may be called from any other thread; m_lock
// guards m_received and m_connection.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

class HostStandIn {
public:
    using Clock = std::chrono::steady_clock;
    struct Received {
        Clock::time_point at;
        std::string text;
    };

    HostStandIn();
    ~HostStandIn();
    HostStandIn(const HostStandIn&) = delete;
    HostStandIn& operator=(const HostStandIn&) = delete;

    // Listens on an ephemeral port of 127.0.0.1; 0 when that fails.
    unsigned short Listen();
    // Sends one event to the connected plug-in; the time just before the
    // send was handed over, or nothing without a connection.
    std::optional<Clock::time_point> Send(const nlohmann::json& message);
    // Waits up to |timeout| for the first received message for which |match|
    // holds, and removes it and every message before it.
    std::optional<Received> WaitFor(const std::function<bool(const Received&)>& match,
                                    std::chrono::milliseconds timeout);
    // Drops every message received so far.
    void Clear();
    // Closes the connection (the plug-in's Run then returns) and forgets it.
    void CloseConnection();
    bool Connected();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
