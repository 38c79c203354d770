#pragma once
// The server end of the controller pipe, as the controller server owns it: a
// duplex message-type named pipe on Windows (several instances, so clients
// can connect one after another), a listening SOCK_SEQPACKET socket elsewhere
// (at PipeAddress(name)). One client at a time.
// Back-ends: PipeServer_win32.cpp, PipeServer_posix.cpp.
//
// Threads: not thread-safe; one thread drives it (the simulator's server
// loop, or a test's own thread).

#include <chrono>
#include <memory>
#include <optional>
#include <string>

class PipeServer {
public:
    // |instances|: how many clients the pipe admits at once (Windows).
    explicit PipeServer(std::string name, int instances = 4);
    ~PipeServer();

    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    // Creates the pipe (or binds the socket); false when that fails.
    bool Listen();
    // Waits up to |timeout| for a client; true once one is connected.
    bool WaitForClient(std::chrono::milliseconds timeout);
    bool HasClient() const;
    // The next whole message from the client; nothing on time-out or when the
    // client has gone (HasClient is false then).
    std::optional<std::string> Receive(std::chrono::milliseconds timeout);
    // Sends one message (any size, zero bytes included); false on failure.
    bool Send(const std::string& message);
    // Closes the connection to the current client and waits for the next.
    void DropClient();

    const std::string& Name() const { return m_name; }

private:
    struct State;
    std::string m_name;
    std::unique_ptr<State> m_state;
};
