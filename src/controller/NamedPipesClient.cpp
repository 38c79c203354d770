#include "controller/NamedPipesClient.h"

#include <chrono>

#include "diagnostics/CrashReportThread.h"
#include "diagnostics/Log.h"

namespace {
constexpr auto kIdleWait = std::chrono::milliseconds(25);
}

NamedPipesClient::NamedPipesClient() : NamedPipesClient(DefaultControllerPipeName()) {}

NamedPipesClient::NamedPipesClient(std::string pipeName, std::shared_ptr<PipeSystem> system)
    : m_pipeName(std::move(pipeName)), m_system(std::move(system)), m_wakeup(m_system->OpenWakeup()) {}

NamedPipesClient::~NamedPipesClient() {
    Disconnect();
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        JoinThreads();
    }
    if (m_wakeup != PipeSystem::kInvalidHandle) m_system->CloseWakeup(m_wakeup);
}

bool NamedPipesClient::Connect() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_handle.load() != PipeSystem::kInvalidHandle) return false;

    Handle handle = PipeSystem::kInvalidHandle;
    while (true) {
        auto result = m_system->Open(m_pipeName, handle);
        if (result == PipeSystem::OpenResult::Opened) break;
        // All instances busy: wait for a free one, as often as the wait succeeds.
        if (result == PipeSystem::OpenResult::Busy &&
            m_system->WaitUntilFree(m_pipeName, kBusyWaitMilliseconds)) {
            continue;
        }
        Report(false);
        return false;
    }
    if (!m_system->ServerIsOurUser(handle)) {
        RefuseServer(handle);
        return false;
    }
    m_refusingServer = false;
    if (!m_system->SetMessageMode(handle)) {
        m_system->Close(handle);
        Report(false);
        return false;
    }

    JoinThreads();  // the previous connection's threads end without m_lock
    uint64_t connection = ++m_connection;
    m_handle = handle;
    m_ioThread = std::thread(&NamedPipesClient::IoThreadProc, this, connection, handle);
    m_dispatchThread = std::thread(&NamedPipesClient::DispatchThreadProc, this, connection);
    Report(true);
    return true;
}

void NamedPipesClient::RefuseServer(Handle handle) {
    // Logged once per run of refusals, not at every retry of the controller client.
    if (!m_refusingServer) {
        LogWarning("NamedPipesClient::Connect: the server of '%s' runs as another user; refused",
                   m_pipeName.c_str());
    }
    m_refusingServer = true;
    m_system->Close(handle);
    Report(false);
}

void NamedPipesClient::Disconnect() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    Handle handle = m_handle.exchange(PipeSystem::kInvalidHandle);
    if (handle != PipeSystem::kInvalidHandle) {
        // Wakes a blocked read, write or wait. The I/O thread closes the handle
        // once the connection number changes, so the number changes only after
        // the shutdown: a handle value closed and reused elsewhere (another
        // socket of this process) is never shut down by mistake.
        m_system->Shutdown(handle);
        ++m_connection;
        WakeIoThread();
        m_incoming.enqueue(std::nullopt);  // wakes the dispatch thread
    }
    Report(false);
}

bool NamedPipesClient::IsConnected() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_handle.load() != PipeSystem::kInvalidHandle;
}

bool NamedPipesClient::Write(const char* bytes, uint32_t size) {
    if (!IsConnected()) return false;
    m_outgoing.enqueue(std::vector<char>(bytes, bytes + size));
    WakeIoThread();
    return true;
}

void NamedPipesClient::IoThreadProc(uint64_t connection, Handle handle) {
    PrepareThreadForCrashReports();
    while (IsCurrent(connection)) {
        bool didRead = ReadOneMessage(connection, handle);
        if (!IsCurrent(connection)) break;
        if (m_wakeup == PipeSystem::kInvalidHandle) {
            // Polling: only a cycle that read nothing waits for outgoing
            // messages, so that received messages are not held up.
            WriteOneMessage(connection, handle, !didRead);
            continue;
        }
        // Waiting: the queue is always tried before the wait, and Write signals
        // after it queues, so no message waits for a later wake-up.
        bool didWrite = WriteOneMessage(connection, handle, false);
        if (!didRead && !didWrite && IsCurrent(connection)) m_system->WaitForInput(handle, m_wakeup);
    }
    m_system->Close(handle);
}

bool NamedPipesClient::ReadOneMessage(uint64_t connection, Handle handle) {
    PipeSystem::PeekResult peek = m_system->Peek(handle);
    if (!peek.ok) {
        DisconnectFromIoThread(connection);
        return false;
    }
    if (!peek.pending) return false;
    // A message of zero bytes carries nothing but would block every later
    // one; a huge one is not worth the memory. Both are consumed and dropped.
    if (peek.size == 0 || peek.size > kMaxMessageSize) {
        if (peek.size > kMaxMessageSize) {
            LogWarning("NamedPipesClient::IoThreadProc: message of %u bytes discarded (limit %u)", peek.size,
                       kMaxMessageSize);
        }
        if (!m_system->Skip(handle)) DisconnectFromIoThread(connection);
        return true;
    }
    std::string message(peek.size, '\0');
    if (m_system->Read(handle, message.data(), peek.size)) {
        m_incoming.enqueue(std::optional<std::string>(std::move(message)));
    } else {
        DisconnectFromIoThread(connection);
    }
    return true;
}

bool NamedPipesClient::WriteOneMessage(uint64_t connection, Handle handle, bool mayWait) {
    Unsent message;
    if (m_unsent) {
        message = std::move(*m_unsent);
        m_unsent.reset();
    } else if (mayWait ? !m_outgoing.wait_dequeue_timed(message.bytes, kIdleWait)
                       : !m_outgoing.try_dequeue(message.bytes)) {
        return false;
    }
    if (!IsCurrent(connection)) {
        m_unsent = std::move(message);
        return true;
    }
    if (!m_system->Write(handle, message.bytes.data(), static_cast<uint32_t>(message.bytes.size()))) {
        if (++message.failedWrites < 2) m_unsent = std::move(message);
        DisconnectFromIoThread(connection);
    }
    return true;
}

void NamedPipesClient::DispatchThreadProc(uint64_t connection) {
    PrepareThreadForCrashReports();
    while (IsCurrent(connection)) {
        std::optional<std::string> message;
        m_incoming.wait_dequeue(message);
        if (!message) continue;  // Disconnect's wake-up: look at the connection again
        if (onDataReceived) onDataReceived(message->c_str(), static_cast<uint32_t>(message->size()));
    }
}

void NamedPipesClient::DisconnectFromIoThread(uint64_t connection) {
    // Never wait for m_lock: a Connect that holds it may be joining this thread.
    while (IsCurrent(connection)) {
        std::unique_lock<std::recursive_mutex> lock(m_lock, std::try_to_lock);
        if (lock.owns_lock()) {
            if (IsCurrent(connection)) Disconnect();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void NamedPipesClient::WakeIoThread() {
    if (m_wakeup != PipeSystem::kInvalidHandle) m_system->SignalWakeup(m_wakeup);
}

void NamedPipesClient::JoinThreads() {
    if (m_ioThread.joinable()) m_ioThread.join();
    if (m_dispatchThread.joinable()) m_dispatchThread.join();
}

void NamedPipesClient::Report(bool connected) {
    if (onConnectionChanged) onConnectionChanged(connected);
}
