#pragma once
// A stand-in for the Stream Deck application's WebSocket server, on
// 127.0.0.1 with a free port, for integration and end-to-end tests.
//
// Threads: the server runs its event loop on its own thread; every public
// operation may be called from the test thread. Received messages and the
// connection state are guarded by one mutex with a condition variable.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TestHostServer {
public:
    TestHostServer();
    ~TestHostServer();

    int Port() const;

    bool WaitForConnection(std::chrono::milliseconds timeout);
    bool WaitForDisconnect(std::chrono::milliseconds timeout);

    // The next text message received, in arrival order; nothing on time-out.
    std::optional<std::string> NextMessage(std::chrono::milliseconds timeout);
    // Skips messages until one satisfies |match|; nothing on time-out.
    std::optional<std::string> WaitForMessage(const std::function<bool(const std::string&)>& match,
                                              std::chrono::milliseconds timeout);
    // Every text message received so far, including those already taken.
    std::vector<std::string> AllMessages() const;

    void SendText(const std::string& text);
    void SendBinary(const std::string& bytes);
    // Stops reading from the plug-in (its messages pile up in the socket and
    // then in the plug-in), as a host that hangs would; ResumeReading reads on.
    // Call ResumeReading only after the plug-in has sent something since
    // PauseReading: a read still waiting for data must finish first.
    void PauseReading();
    void ResumeReading();
    // Closes the current connection with a normal close frame.
    void Close();

private:
    struct State;
    std::unique_ptr<State> m_state;
};
