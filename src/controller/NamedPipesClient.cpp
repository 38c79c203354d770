#include "controller/NamedPipesClient.h"

#include "diagnostics/CrashReportThread.h"
#include "diagnostics/Log.h"

namespace {
constexpr auto kIdleWait = std::chrono::milliseconds(25);
// How long the I/O thread sleeps at most while the incoming queue is full;
// the dispatch thread's wake-up normally ends the sleep first.
constexpr uint32_t kFullQueueWaitMs = 250;
// Margin past a request's deadline after which its caller stops waiting: the
// I/O thread settles every request by its deadline, so this is only a guard.
constexpr auto kSettleGuard = std::chrono::seconds(1);

uint32_t MillisecondsUntil(NetworkClientBase::Deadline deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    return left <= 0 ? 0u : static_cast<uint32_t>(left);
}
}  // namespace

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
    // One attempt at a time: a second caller waits for the first (which ends
    // within kBusyWaitLimit, or at once when interrupted) instead of opening
    // a second connection that the server would see come and go.
    const uint64_t interrupts = m_interrupts.load();
    {
        std::unique_lock<std::mutex> lock(m_connectLock);
        m_connectDone.wait(lock, [&] { return !m_connecting || m_interrupts.load() != interrupts; });
        if (m_connecting) return false;
        m_connecting = true;
    }
    bool connected = ConnectOnce();
    {
        std::lock_guard<std::mutex> lock(m_connectLock);
        m_connecting = false;
    }
    m_connectDone.notify_all();
    return connected;
}

bool NamedPipesClient::ConnectOnce() {
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        if (m_handle.load() != PipeSystem::kInvalidHandle) return false;
    }
    Handle handle = PipeSystem::kInvalidHandle;
    const bool opened = OpenWithinLimit(handle);

    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (opened && m_handle.load() != PipeSystem::kInvalidHandle) {
        // Another thread connected while this one waited: keep its connection.
        m_system->Close(handle);
        return false;
    }
    if (!opened) {
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

    JoinThreads();   // the previous connection's threads end without m_lock
    DropIncoming();  // what the previous server sent is not news from this one
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

bool NamedPipesClient::OpenWithinLimit(Handle& handle) {
    // All instances busy: wait for a free one in short slices, without m_lock,
    // for a bounded time, and stop at once when interrupted.
    const uint64_t interrupts = m_interrupts.load();
    const auto giveUp = std::chrono::steady_clock::now() + kBusyWaitLimit;
    while (true) {
        auto result = m_system->Open(m_pipeName, handle);
        if (result == PipeSystem::OpenResult::Opened) return true;
        if (result != PipeSystem::OpenResult::Busy || m_interrupts.load() != interrupts ||
            std::chrono::steady_clock::now() >= giveUp) {
            return false;
        }
        m_system->WaitUntilFree(m_pipeName, kBusyWaitMilliseconds);
    }
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
        uint64_t ended = m_connection++;
        FailRequestsOf(ended);
        WakeIoThread();
        { std::lock_guard<std::mutex> incoming(m_incomingLock); }
        m_incomingChanged.notify_all();  // the dispatch thread sees the connection change
    }
    Report(false);
}

bool NamedPipesClient::IsConnected() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_handle.load() != PipeSystem::kInvalidHandle;
}

bool NamedPipesClient::Write(const char* bytes, uint32_t size) {
    return WriteBefore(bytes, size, std::chrono::steady_clock::now() + kWriteWait) == WriteResult::Written;
}

NetworkClientBase::WriteResult NamedPipesClient::WriteBefore(const char* bytes, uint32_t size,
                                                             Deadline deadline) {
    const uint64_t interrupts = m_interrupts.load();
    auto request = std::make_shared<Request>();
    Handle handle = PipeSystem::kInvalidHandle;
    {
        // The handle and the number of one connection, read together.
        std::lock_guard<std::recursive_mutex> link(m_lock);
        handle = m_handle.load();
        if (handle == PipeSystem::kInvalidHandle) return WriteResult::Failed;
        request->connection = m_connection.load();
    }
    std::unique_lock<std::mutex> lock(m_writeLock);
    // Disconnect changes the number before it fails the queued requests of
    // the old connection (under m_writeLock), so none is left unsettled.
    if (m_connection.load() != request->connection) return WriteResult::Failed;
    if (WriteOnCallersThread(handle, bytes, size, deadline)) return WriteResult::Written;
    request->bytes.assign(bytes, bytes + size);
    request->deadline = deadline;
    m_requests.push_back(request);
    lock.unlock();
    WakeIoThread();
    lock.lock();
    bool settled = m_writeDone.wait_until(
        lock, deadline + kSettleGuard, [&] { return request->settled || m_interrupts.load() != interrupts; });
    if (request->settled) return request->result;
    // Interrupted (or, as a guard, not settled in time): the I/O thread drops
    // the request when it comes to it, or gives up its write at the wake-up.
    request->abandoned = true;
    lock.unlock();
    WakeIoThread();
    if (!settled) LogWarning("NamedPipesClient::WriteBefore: the I/O thread did not settle a write in time");
    return WriteResult::Expired;
}

bool NamedPipesClient::WriteIfIdle(const char* bytes, uint32_t size) {
    // Connect numbers the connection before it sets the handle, Disconnect
    // clears the handle before it numbers the next: a handle read between
    // two equal numbers, and still set under m_writeLock, is that connection's.
    const uint64_t connection = m_connection.load();
    const Handle handle = m_handle.load();
    if (handle == PipeSystem::kInvalidHandle) return false;
    std::lock_guard<std::mutex> lock(m_writeLock);
    if (m_connection.load() != connection || m_handle.load() != handle) return false;
    return WriteOnCallersThread(handle, bytes, size, Deadline::max());
}

bool NamedPipesClient::WriteOnCallersThread(Handle handle, const char* bytes, uint32_t size,
                                            Deadline deadline) {
    // Only when nothing is queued or being written, so that messages keep
    // their order. The handle stays open meanwhile: the I/O thread closes it
    // only after the connection number has changed and it has taken
    // m_writeLock, which the caller holds.
    return m_requests.empty() && !m_ioWriting && std::chrono::steady_clock::now() < deadline &&
           m_system->WriteNow(handle, bytes, size) == PipeSystem::WriteResult::Written;
}

void NamedPipesClient::Interrupt() {
    ++m_interrupts;
    { std::lock_guard<std::mutex> lock(m_writeLock); }
    m_writeDone.notify_all();
    WakeIoThread();
}

size_t NamedPipesClient::IncomingCount() {
    std::lock_guard<std::mutex> lock(m_incomingLock);
    return m_incoming.size();
}

void NamedPipesClient::IoThreadProc(uint64_t connection, Handle handle) {
    PrepareThreadForCrashReports();
    while (IsCurrent(connection)) {
        const bool room = IncomingHasRoom();
        const bool didRead = room && ReadOneMessage(connection, handle);
        if (!IsCurrent(connection)) break;
        // The requests are always tried before a wait, and Write signals after
        // it queues, so no request waits for a later wake-up.
        const bool didWrite = WriteOneMessage(connection, handle);
        if (didRead || didWrite || !IsCurrent(connection)) continue;
        if (m_wakeup == PipeSystem::kInvalidHandle) {
            std::this_thread::sleep_for(kIdleWait);
        } else if (room) {
            m_system->WaitForInput(handle, m_wakeup);
        } else {
            m_system->WaitForWakeup(m_wakeup, kFullQueueWaitMs);
        }
    }
    // A write on a caller's thread that began before the connection changed ends first.
    { std::lock_guard<std::mutex> lock(m_writeLock); }
    m_system->Close(handle);
}

bool NamedPipesClient::IncomingHasRoom() {
    std::lock_guard<std::mutex> lock(m_incomingLock);
    return m_incoming.size() < kIncomingMessages && m_incomingBytes < kIncomingBytes;
}

void NamedPipesClient::DropIncoming() {
    std::lock_guard<std::mutex> lock(m_incomingLock);
    m_incoming.clear();
    m_incomingBytes = 0;
}

bool NamedPipesClient::ReadOneMessage(uint64_t connection, Handle handle) {
    PipeSystem::PeekResult peek = m_system->Peek(handle);
    if (!peek.ok) {
        DisconnectFromIoThread(connection, "the pipe broke");
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
        if (!m_system->Skip(handle)) DisconnectFromIoThread(connection, "a message could not be skipped");
        return true;
    }
    std::string message(peek.size, '\0');
    if (!m_system->Read(handle, message.data(), peek.size)) {
        DisconnectFromIoThread(connection, "a message could not be read");
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(m_incomingLock);
        m_incomingBytes += message.size();
        m_incoming.push_back(std::move(message));
    }
    m_incomingChanged.notify_all();
    return true;
}

bool NamedPipesClient::WriteOneMessage(uint64_t connection, Handle handle) {
    std::shared_ptr<Request> request;
    {
        std::lock_guard<std::mutex> lock(m_writeLock);
        if (m_requests.empty()) return false;
        request = m_requests.front();
        m_requests.pop_front();
        m_ioWriting = true;
    }
    // A request made for another connection fails without touching this one.
    const bool ours = request->connection == connection;
    WriteResult result = ours ? WriteRequest(connection, handle, request) : WriteResult::Failed;
    Settle(request, result, true);
    if (ours && result == WriteResult::Failed) DisconnectFromIoThread(connection, "a write failed");
    return true;
}

NetworkClientBase::WriteResult NamedPipesClient::WriteRequest(uint64_t connection, Handle handle,
                                                              const std::shared_ptr<Request>& request) {
    const uint32_t size = static_cast<uint32_t>(request->bytes.size());
    while (true) {
        {
            std::lock_guard<std::mutex> lock(m_writeLock);
            if (request->abandoned) return WriteResult::Expired;
        }
        if (!IsCurrent(connection)) return WriteResult::Failed;
        const uint32_t left = MillisecondsUntil(request->deadline);
        if (left == 0) break;
        switch (m_system->WriteWithin(handle, request->bytes.data(), size, left, m_wakeup)) {
            case PipeSystem::WriteResult::Written:
                return WriteResult::Written;
            case PipeSystem::WriteResult::Failed:
                return WriteResult::Failed;
            case PipeSystem::WriteResult::Woken:
                continue;  // look at the request and the connection again
            case PipeSystem::WriteResult::TimedOut:
                break;
        }
        if (MillisecondsUntil(request->deadline) == 0) break;
    }
    // The server has not read for the whole bound. The message is dropped and
    // the connection kept: nothing of it went out (WriteWithin guarantees
    // that), so the stream is intact, and a server that reads again gets the
    // later commands at once, while dropping the link would mark every key
    // offline for a server that is merely slow. The caller reports failure.
    LogWarning(
        "NamedPipesClient::WriteBefore: the server took no message of %u bytes before its deadline; "
        "dropped",
        size);
    return WriteResult::Expired;
}

void NamedPipesClient::Settle(const std::shared_ptr<Request>& request, WriteResult result,
                              bool ioWriteEnded) {
    {
        std::lock_guard<std::mutex> lock(m_writeLock);
        request->result = result;
        request->settled = true;
        if (ioWriteEnded) m_ioWriting = false;
    }
    m_writeDone.notify_all();
}

void NamedPipesClient::FailRequestsOf(uint64_t connection) {
    std::deque<std::shared_ptr<Request>> failed;
    {
        std::lock_guard<std::mutex> lock(m_writeLock);
        for (auto it = m_requests.begin(); it != m_requests.end();) {
            if ((*it)->connection == connection) {
                failed.push_back(*it);
                it = m_requests.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto& request : failed) Settle(request, WriteResult::Failed);
}

void NamedPipesClient::DispatchThreadProc(uint64_t connection) {
    PrepareThreadForCrashReports();
    while (true) {
        std::string message;
        bool wasFull = false;
        {
            std::unique_lock<std::mutex> lock(m_incomingLock);
            m_incomingChanged.wait(lock, [&] { return !m_incoming.empty() || !IsCurrent(connection); });
            if (!IsCurrent(connection)) return;
            wasFull = m_incoming.size() >= kIncomingMessages || m_incomingBytes >= kIncomingBytes;
            message = std::move(m_incoming.front());
            m_incoming.pop_front();
            m_incomingBytes -= message.size();
        }
        if (wasFull) WakeIoThread();  // reading resumes
        if (onDataReceived) onDataReceived(message.c_str(), static_cast<uint32_t>(message.size()));
    }
}

void NamedPipesClient::DisconnectFromIoThread(uint64_t connection, const char* reason) {
    if (IsCurrent(connection)) LogWarning("NamedPipesClient::IoThreadProc: link lost: %s", reason);
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
