#include <windows.h>

#include <vector>

#include "controller-sim/PipeServer.h"
#include "controller/PipeSystem.h"

namespace {
constexpr DWORD kBufferSize = 64 * 1024;

// Waits for an overlapped operation; cancels it on time-out. True when it
// completed successfully; |error| holds the failure code otherwise. A
// cancelled operation that took no byte counts as timed out even where the
// cancel lost the race and it completed empty: Wine reports some of those as
// successful reads of zero bytes, which are not messages from the client.
bool Finish(HANDLE pipe, OVERLAPPED& overlapped, DWORD timeout, DWORD& transferred, DWORD& error) {
    error = ERROR_SUCCESS;
    const bool timedOut = WaitForSingleObject(overlapped.hEvent, timeout) != WAIT_OBJECT_0;
    if (timedOut) CancelIoEx(pipe, &overlapped);
    const bool done = GetOverlappedResult(pipe, &overlapped, &transferred, TRUE) != FALSE;
    if (!done) error = GetLastError();
    if (timedOut && transferred == 0) error = ERROR_OPERATION_ABORTED;
    return done && error == ERROR_SUCCESS;
}
}  // namespace

struct PipeServer::State {
    std::string address;
    int instances = 4;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;  // for reads and writes
    OVERLAPPED connect{};    // the pending wait for the next client
    bool connectPending = false;
    bool client = false;

    // Puts the instance back into the listening state at once, so that a
    // client's open succeeds while nobody is calling WaitForClient.
    void StartListening() {
        ResetEvent(connect.hEvent);
        if (ConnectNamedPipe(pipe, &connect) || GetLastError() == ERROR_PIPE_CONNECTED) {
            client = true;
        } else {
            connectPending = GetLastError() == ERROR_IO_PENDING;
        }
    }
};

PipeServer::PipeServer(std::string name, int instances)
    : m_name(std::move(name)), m_state(std::make_unique<State>()) {
    m_state->address = PipeAddress(m_name);
    m_state->instances = instances;
    m_state->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_state->connect.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

PipeServer::~PipeServer() {
    if (m_state->pipe != INVALID_HANDLE_VALUE) {
        DisconnectNamedPipe(m_state->pipe);
        CloseHandle(m_state->pipe);
    }
    CloseHandle(m_state->event);
    CloseHandle(m_state->connect.hEvent);
}

bool PipeServer::Listen() {
    m_state->pipe = CreateNamedPipeA(m_state->address.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                     m_state->instances, kBufferSize, kBufferSize, 0, nullptr);
    if (m_state->pipe == INVALID_HANDLE_VALUE) return false;
    m_state->StartListening();
    return true;
}

bool PipeServer::WaitForClient(std::chrono::milliseconds timeout) {
    if (m_state->client) return true;
    if (!m_state->connectPending) return false;
    if (WaitForSingleObject(m_state->connect.hEvent, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD transferred = 0;
    m_state->connectPending = false;
    if (GetOverlappedResult(m_state->pipe, &m_state->connect, &transferred, FALSE)) {
        m_state->client = true;
    } else {
        DisconnectNamedPipe(m_state->pipe);
        m_state->StartListening();
    }
    return m_state->client;
}

bool PipeServer::HasClient() const {
    return m_state->client;
}

std::optional<std::string> PipeServer::Receive(std::chrono::milliseconds timeout) {
    if (!m_state->client) return std::nullopt;
    std::string message;
    std::vector<char> buffer(kBufferSize);
    DWORD wait = static_cast<DWORD>(timeout.count());
    while (true) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_state->event;
        ResetEvent(m_state->event);
        DWORD transferred = 0, error = ERROR_SUCCESS;
        bool done = ReadFile(m_state->pipe, buffer.data(), kBufferSize, &transferred, &overlapped) != FALSE;
        if (!done) {
            error = GetLastError();
            if (error == ERROR_IO_PENDING) done = Finish(m_state->pipe, overlapped, wait, transferred, error);
        }
        message.append(buffer.data(), transferred);
        if (done) return message;
        if (error == ERROR_MORE_DATA) {
            wait = INFINITE;  // the rest of a message that has begun
            continue;
        }
        if (error == ERROR_OPERATION_ABORTED && message.empty()) return std::nullopt;  // time-out
        DropClient();
        return std::nullopt;
    }
}

bool PipeServer::Send(const std::string& message) {
    if (!m_state->client) return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_state->event;
    ResetEvent(m_state->event);
    DWORD transferred = 0, error = ERROR_SUCCESS;
    if (WriteFile(m_state->pipe, message.data(), static_cast<DWORD>(message.size()), &transferred,
                  &overlapped)) {
        return transferred == message.size();
    }
    if (GetLastError() != ERROR_IO_PENDING) return false;
    return Finish(m_state->pipe, overlapped, INFINITE, transferred, error) && transferred == message.size();
}

void PipeServer::DropClient() {
    if (!m_state->client) return;
    DisconnectNamedPipe(m_state->pipe);
    m_state->client = false;
    m_state->StartListening();
}
