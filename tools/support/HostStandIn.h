#pragma once
// A stand-in for the host application's WebSocket server (the Stream Deck
// application or OpenDeck) on 127.0.0.1, shared by the tests, the benchmarks
// and deck-sim. Two ways to run it:
// - on its own event-loop thread (tests, benchmarks): it keeps every text
//   message of the latest connection, stamped with the steady clock on
//   arrival, for the caller to wait for, and sends on that connection;
// - on the caller's event loop with Handlers (deck-sim): it reports every
//   connection and message as they come and sends on the connection named.
//
// Threads: in the first way the loop thread receives; every public operation
// may be called from any other thread, and m_state->mutex guards the received
// messages, the connections and the undelivered queue. In the second way
// everything, handlers included, runs on the caller's loop thread. Handlers
// are called without the mutex held.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace asio {
class io_context;
}

class HostStandIn {
public:
    using Clock = std::chrono::steady_clock;
    using ConnectionId = uint64_t;
    struct Received {
        Clock::time_point at;
        std::string text;
    };
    struct Handlers {
        std::function<bool(const std::string& origin)> accepts;  // empty: every connection
        std::function<void(ConnectionId)> opened;
        std::function<void(ConnectionId, const std::string& text)> received;
        std::function<void(ConnectionId)> closed;
    };

    // On its own loop thread, listening on a free port.
    HostStandIn();
    // On |loop|, which its owner runs; it listens once Listen is called.
    HostStandIn(asio::io_context& loop, Handlers handlers);
    ~HostStandIn();
    HostStandIn(const HostStandIn&) = delete;
    HostStandIn& operator=(const HostStandIn&) = delete;

    // Listens on |port| of 127.0.0.1 (0: a free one) unless it listens
    // already; the port it listens on, 0 when that fails.
    unsigned short Listen(unsigned short port = 0);
    int Port() const;
    void StopListening();

    // ---- a named connection (with Handlers)
    void Send(ConnectionId connection, const std::string& text);
    void Close(ConnectionId connection);

    // ---- the latest connection (on its own loop thread)
    bool WaitForConnection(std::chrono::milliseconds timeout);
    bool WaitForDisconnect(std::chrono::milliseconds timeout);
    bool Connected();

    // The next text message received, in arrival order; nothing on time-out.
    std::optional<std::string> NextMessage(std::chrono::milliseconds timeout);
    // Takes messages until one satisfies |match|; nothing on time-out (the
    // messages looked at are taken all the same).
    std::optional<std::string> WaitForMessage(const std::function<bool(const std::string&)>& match,
                                              std::chrono::milliseconds timeout);
    // Waits for the first message for which |match| holds and takes it and
    // every message before it; on time-out nothing is taken.
    std::optional<Received> WaitFor(const std::function<bool(const Received&)>& match,
                                    std::chrono::milliseconds timeout);
    // Every text message received so far, including those already taken.
    std::vector<std::string> AllMessages() const;
    // Takes every message received so far.
    void Clear();

    void SendText(const std::string& text);
    void SendBinary(const std::string& bytes);
    // Sends one event; the time just before the send was handed over, or
    // nothing without a connection.
    std::optional<Clock::time_point> Send(const nlohmann::json& message);
    // Keeps the text messages sent while no plug-in is connected and sends
    // them, in order, right after the next connection's first message (its
    // registration), as OpenDeck does.
    void ReplayUndelivered(bool on);

    // Stops reading from the plug-in (its messages pile up in the socket and
    // then in the plug-in), as a host that hangs would; ResumeReading reads on.
    // The pause holds from the first message the plug-in sends after
    // PauseReading (reading stops right after it); a resume before that
    // only cancels the pause.
    void PauseReading();
    void ResumeReading();
    // Closes the latest connection with a normal close frame.
    void Close();
    // Close, and forgets the connection at once (Connected is then false).
    void CloseConnection();

private:
    struct State;
    std::unique_ptr<State> m_state;
};
