#include "controller/ControllerClient.h"

#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "diagnostics/BoundedJson.h"
#include "diagnostics/CrashReportThread.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogText.h"
#include "telemetry/TelemetryService.h"

namespace {

constexpr auto kHousekeepingPoll = std::chrono::milliseconds(250);
constexpr double kReconnectSeconds = 1.0;

void SendTelemetryEvent(const char* eventName) {
    TelemetryService::Instance()->SendEvent(eventName, false, nlohmann::json::object());
}

// The message's text for a log line, cut at the record limit; a string that
// is not UTF-8 does not stop the line from being written.
std::string TextForLog(const MessageBase& message) {
    return LogText::Json(message.Document());
}

}  // namespace

ControllerClient::ControllerClient(std::shared_ptr<NetworkClientBase> transport, EventListener listener,
                                   TelemetrySink telemetry, ControllerThreads threads)
    : m_listener(std::move(listener)),
      m_telemetry(telemetry ? std::move(telemetry) : TelemetrySink(SendTelemetryEvent)),
      m_ownAddress(std::make_shared<ElementAddress>(ElementAddress::kNetworkClient, "controllerClient",
                                                    "controllerClient")),
      m_threads(threads),
      m_transport(std::move(transport)) {
    m_transport->onConnectionChanged = [this](bool connected) { OnConnectionChanged(connected); };
    m_transport->onDataReceived = [this](const char* bytes, uint32_t size) { OnDataReceived(bytes, size); };
}

ControllerClient::~ControllerClient() {
    Stop();
    {
        std::lock_guard<std::mutex> lock(m_listenerLock);
        m_listener = nullptr;
    }
    std::list<Entry> dropped;  // released without their completions
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        dropped.swap(m_queue);
    }
}

void ControllerClient::SetUnreachableAdvice(std::string advice) {
    m_unreachableAdvice = std::move(advice);
}

void ControllerClient::Start() {
    LogTrace("ControllerClient::Start");
    if (!m_transport || m_running.exchange(true)) return;
    // The first connection report of the process is made here, on the caller's thread.
    if (m_transport->IsConnected()) {
        m_connected = false;
        OnConnected();
    } else {
        m_connected = true;
        OnDisconnected();
    }
    if (m_threads == ControllerThreads::CallersThread) {
        if (!m_transport->IsConnected()) ConnectFirstTime();
        return;
    }
    m_housekeepingThread = std::thread(&ControllerClient::HousekeepingThreadProc, this);
    m_writeThread = std::thread(&ControllerClient::WriteThreadProc, this);
}

void ControllerClient::Stop() {
    LogTrace("ControllerClient::Stop");
    {
        std::lock_guard<std::mutex> lock(m_stopLock);
        if (!m_running.exchange(false)) return;
    }
    m_stopSignal.notify_all();
    m_pending.Release();  // wakes an idle write thread
    // Ends a wait for a busy pipe or for a stalled server to read.
    if (m_transport) m_transport->Interrupt();
    if (m_housekeepingThread.joinable()) m_housekeepingThread.join();
    if (m_writeThread.joinable()) m_writeThread.join();
    // A caller writing at once claimed the role while still running; no
    // write of a caller starts from here on.
    std::unique_lock<std::mutex> lock(m_queueLock);
    m_writerFree.wait(lock, [this] { return !m_writerBusy; });
}

void ControllerClient::Close() {
    LogTrace("ControllerClient::Close");
    Stop();
    {
        // A link report during the transport's shutdown goes nowhere: the
        // host link is closed and the keys are not drawn again.
        std::lock_guard<std::mutex> lock(m_listenerLock);
        m_listener = nullptr;
    }
    // Only the write and housekeeping threads, a caller writing at once (and
    // ReconnectNow, whose host thread has ended) read m_transport; Stop has
    // ended all of them. A dispatch call still in progress ends inside this release.
    std::shared_ptr<NetworkClientBase> transport = std::move(m_transport);
    transport.reset();
}

void ControllerClient::WriteMessageAsync(std::shared_ptr<MessageBase> message, WriteCompletion completion) {
    if (!message) return;
    if (!m_freeSlots.TryAcquire()) {
        if (LogIsOpen()) {
            LogError("ControllerClient::WriteMessageAsync: BUFFER OVERFLOW: %s",
                     TextForLog(*message).c_str());
        }
        if (completion) completion(*message, false);
        return;
    }
    Entry entry{std::move(message), std::move(completion), std::chrono::steady_clock::now() + kWriteDeadline};
    const bool writer = ClaimWriterForCaller(entry);
    if (writer) entry.written = WriteIfIdle(*entry.message);
    // After a write at once: the record does not delay the press.
    if (LogIsOpen()) LogTrace("ControllerClient::WriteMessageAsync: %s", TextForLog(*entry.message).c_str());
    const bool done = entry.written && !entry.completion;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        // A command that was first (the writer's role was free) stays first.
        if (!done) m_queue.insert(writer ? m_queue.begin() : m_queue.end(), std::move(entry));
        if (writer) m_writerBusy = false;
        if (!done && m_threads == ControllerThreads::WriteAndHousekeeping) m_pending.Release();
    }
    if (writer) m_writerFree.notify_all();
    if (done) m_freeSlots.Release();
    if (m_threads == ControllerThreads::CallersThread) WriteQueuedHere();
}

bool ControllerClient::ClaimWriterForCaller(Entry& entry) {
    std::lock_guard<std::mutex> lock(m_queueLock);
    entry.link = m_links;
    entry.queuedWhileDown = !m_linkUp;
    // Stop waits for the role after it has cleared m_running, so the
    // transport outlives every write that claimed it. A link not yet
    // reported up may be a new connection whose state query is not queued yet.
    if (m_threads != ControllerThreads::WriteAndHousekeeping || !m_running || !m_linkUp || m_writerBusy ||
        !m_queue.empty()) {
        return false;
    }
    m_writerBusy = true;
    return true;
}

bool ControllerClient::StillForItsLink(const Entry& entry) {
    std::lock_guard<std::mutex> lock(m_queueLock);
    return entry.link == m_links || (entry.queuedWhileDown && entry.link + 1 == m_links);
}

void ControllerClient::QueueStateQuery() {
    Entry query{std::make_shared<CommandMessage>(SystemMessages::kQueryState, m_ownAddress, nullptr), nullptr,
                NetworkClientBase::Deadline::max()};
    query.stateQuery = true;
    bool writer = false;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        ++m_links;
        m_linkUp = true;
        query.link = m_links;
        // Claimed together with the new count: no command goes at once before the query.
        writer = m_threads == ControllerThreads::WriteAndHousekeeping && m_running && !m_writerBusy &&
                 m_queue.empty();
        if (writer) m_writerBusy = true;
    }
    const bool written = writer && WriteIfIdle(*query.message);
    if (LogIsOpen()) LogTrace("ControllerClient::WriteMessageAsync: %s", TextForLog(*query.message).c_str());
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (!written) {
            // At most one query waits; it goes before the presses queued so far.
            const size_t before = m_queue.size();
            m_queue.remove_if([](const Entry& entry) { return entry.stateQuery; });
            const bool replaced = m_queue.size() != before;
            m_queue.push_front(std::move(query));
            if (!replaced && m_threads == ControllerThreads::WriteAndHousekeeping) m_pending.Release();
        }
        if (writer) m_writerBusy = false;
    }
    if (writer) m_writerFree.notify_all();
    if (m_threads == ControllerThreads::CallersThread) WriteQueuedHere();
}

void ControllerClient::WriteQueryAhead() {
    std::optional<Entry> query;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_queue.empty() || !m_queue.front().stateQuery) return;
        query.emplace(std::move(m_queue.front()));
        m_queue.pop_front();
        // Its unit of m_pending is taken too, so the write thread does not wake for nothing.
        if (m_threads == ControllerThreads::WriteAndHousekeeping) m_pending.TryAcquire();
    }
    WriteStateQuery(*query);
}

void ControllerClient::WriteStateQuery(const Entry& query) {
    std::string text;
    try {
        text = query.message->Serialize();
    } catch (const nlohmann::json::exception& error) {
        LogWarning("ControllerClient::WriteStateQuery: cannot be written: %s", error.what());
        return;
    }
    // Waits in slices for a server that has not started reading; a broken
    // link ends it, and the next connection queues a query of its own.
    while (m_running && StillForItsLink(query)) {
        const auto slice = std::chrono::steady_clock::now() + kWriteDeadline;
        switch (m_transport->WriteBefore(text.data(), static_cast<uint32_t>(text.size()), slice)) {
            case NetworkClientBase::WriteResult::Written:
                return;
            case NetworkClientBase::WriteResult::Expired:
                continue;
            case NetworkClientBase::WriteResult::Failed:
                // Not replaced from here: a server that accepts and drops every
                // connection would make that a busy loop. The housekeeping's
                // spaced attempts (or the next press) bring the link back.
                LogTrace("ControllerClient::WriteStateQuery: not written: the link is down");
                return;
        }
    }
}

bool ControllerClient::WriteIfIdle(const MessageBase& message) {
    try {
        const std::string text = message.Serialize();
        return m_transport->WriteIfIdle(text.data(), static_cast<uint32_t>(text.size()));
    } catch (const nlohmann::json::exception&) {
        return false;  // the write thread logs it and fails the command
    }
}

void ControllerClient::WriteQueuedHere() {
    if (m_writingHere || !m_running) return;
    m_writingHere = true;
    while (std::optional<Entry> entry = TakeQueued()) {
        WriteEntry(*entry);
        ReleaseWriter();
    }
    m_writingHere = false;
}

std::optional<ControllerClient::Entry> ControllerClient::TakeQueued() {
    std::unique_lock<std::mutex> lock(m_queueLock);
    m_writerFree.wait(lock, [this] { return !m_writerBusy; });
    if (m_queue.empty()) return std::nullopt;
    std::optional<Entry> entry(std::move(m_queue.front()));
    m_queue.pop_front();
    m_writerBusy = true;
    return entry;
}

void ControllerClient::ReleaseWriter() {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_writerBusy = false;
    }
    m_writerFree.notify_all();
}

void ControllerClient::WriteThreadProc() {
    PrepareThreadForCrashReports();
    while (m_running) {
        m_pending.Acquire();
        std::optional<Entry> entry = TakeQueued();
        if (!entry) {
            LogTrace("ControllerClient::WriteThreadProc: queue empty");
            continue;
        }
        WriteEntry(*entry);
        ReleaseWriter();
    }
}

void ControllerClient::WriteEntry(Entry& entry) {
    if (entry.stateQuery) {
        WriteStateQuery(entry);
        return;
    }
    // The queue lock is free: a connection made below may queue the state
    // query from this very thread.
    bool accepted = entry.written;
    bool linkEnded = false;
    if (!accepted && std::chrono::steady_clock::now() < entry.deadline) {
        if (!m_transport->IsConnected()) m_transport->Connect();
        accepted = WriteWithAttempts(entry, linkEnded);
    }
    if (!accepted && LogIsOpen()) {
        if (linkEnded) {
            LogWarning(
                "ControllerClient::WriteThreadProc: not written (queued for a connection that ended): %s",
                TextForLog(*entry.message).c_str());
        } else {
            LogWarning(
                "ControllerClient::WriteThreadProc: not written (link down, broken or not reading within "
                "%lld ms): %s",
                static_cast<long long>(kWriteDeadline.count()), TextForLog(*entry.message).c_str());
        }
    }
    m_freeSlots.Release();
    Complete(entry, accepted);
}

void ControllerClient::Complete(Entry& entry, bool accepted) {
    if (!entry.completion) return;
    // A failing completion must not end the write thread.
    try {
        entry.completion(*entry.message, accepted);
    } catch (const std::exception& error) {
        LogWarning("ControllerClient::WriteThreadProc: completion failed: %s", error.what());
    } catch (...) {
        LogWarning("ControllerClient::WriteThreadProc: completion failed with an unknown exception");
    }
}

bool ControllerClient::WriteWithAttempts(const Entry& entry, bool& linkEnded) {
    std::string text;
    try {
        text = entry.message->Serialize();
    } catch (const nlohmann::json::exception& error) {
        LogWarning("ControllerClient::WriteWithAttempts: cannot be written: %s", error.what());
        return false;  // not UTF-8: no attempt can succeed
    }
    // A write that fails while the link is merely down is tried again, but
    // only while the command is within its deadline and no connection has
    // been made since the one it was meant for.
    for (int attempt = 0; attempt < kWriteAttempts && m_running; ++attempt) {
        WriteQueryAhead();
        if (!StillForItsLink(entry)) {
            linkEnded = true;
            return false;
        }
        if (std::chrono::steady_clock::now() >= entry.deadline) return false;
        switch (m_transport->WriteBefore(text.data(), static_cast<uint32_t>(text.size()), entry.deadline)) {
            case NetworkClientBase::WriteResult::Written:
                return true;
            case NetworkClientBase::WriteResult::Expired:
                return false;
            case NetworkClientBase::WriteResult::Failed:
                break;
        }
        m_transport->Disconnect();
        m_transport->Connect();
    }
    return false;
}

void ControllerClient::HousekeepingThreadProc() {
    PrepareThreadForCrashReports();
    using Clock = std::chrono::steady_clock;
    bool linkUp = true;  // this thread's view of the link
    if (!m_transport->IsConnected()) linkUp = ConnectFirstTime();
    auto lastAttempt = Clock::now();
    while (m_running) {
        double sinceAttempt = std::chrono::duration<double>(Clock::now() - lastAttempt).count();
        uint64_t reports = LinkReports();
        bool connected = m_transport->IsConnected();
        if (connected && linkUp) {
            // The transport reports a lost link at once: sleep until it does.
            WaitForLinkReport(reports);
            continue;
        }
        if (!connected && linkUp) {
            LogTrace("ControllerClient::HousekeepingThreadProc: disconnect detected");
            linkUp = false;
        }
        if (sinceAttempt < kReconnectSeconds && !TakeReconnectRequest()) {
            SleepUnlessStopped();
            continue;
        }
        linkUp = m_transport->Connect();
        if (linkUp) LogTrace("ControllerClient::HousekeepingThreadProc: reconnected");
        lastAttempt = Clock::now();
    }
}

bool ControllerClient::ConnectFirstTime() {
    const bool linkUp = m_transport->Connect();
    LogTrace("ControllerClient::HousekeepingThreadProc:Connect: %s", linkUp ? "success" : "failure");
    if (!linkUp && !m_unreachableAdvice.empty()) {
        LogWarning("ControllerClient::HousekeepingThreadProc: %s", m_unreachableAdvice.c_str());
    }
    return linkUp;
}

uint64_t ControllerClient::LinkReports() {
    std::lock_guard<std::mutex> lock(m_stopLock);
    return m_linkReports;
}

void ControllerClient::WaitForLinkReport(uint64_t seen) {
    std::unique_lock<std::mutex> lock(m_stopLock);
    m_stopSignal.wait(lock, [this, seen] { return !m_running || m_linkReports != seen; });
}

bool ControllerClient::SleepUnlessStopped() {
    std::unique_lock<std::mutex> lock(m_stopLock);
    return !m_stopSignal.wait_for(lock, kHousekeepingPoll, [this] { return !m_running || m_reconnectNow; });
}

bool ControllerClient::TakeReconnectRequest() {
    std::lock_guard<std::mutex> lock(m_stopLock);
    return std::exchange(m_reconnectNow, false);
}

void ControllerClient::ReconnectNow() {
    LogTrace("ControllerClient::ReconnectNow");
    if (!m_running) return;
    if (m_transport->IsConnected()) {
        // A probe of a link that already had its query: with a deadline like
        // a press, so that it never holds back the presses of active keys.
        WriteMessageAsync(
            std::make_shared<CommandMessage>(SystemMessages::kQueryState, m_ownAddress, nullptr), nullptr);
        return;
    }
    if (m_threads == ControllerThreads::CallersThread) {
        m_transport->Connect();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_stopLock);
        m_reconnectNow = true;
    }
    m_stopSignal.notify_all();
}

void ControllerClient::OnConnectionChanged(bool connected) {
    {
        std::lock_guard<std::mutex> lock(m_stopLock);
        ++m_linkReports;
    }
    m_stopSignal.notify_all();
    if (!Listener()) return;
    if (connected) {
        OnConnected();
    } else {
        OnDisconnected();
    }
}

void ControllerClient::OnConnected() {
    m_connected = true;
    if (auto listener = Listener()) {
        EventMessage event(SystemMessages::kConnected, m_ownAddress, nullptr);
        // Runs inside the transport's Connect: nothing may escape.
        try {
            listener(event);
        } catch (const std::exception& error) {
            LogWarning("ControllerClient::OnConnected: listener failed: %s", error.what());
        } catch (...) {
            LogWarning("ControllerClient::OnConnected: listener failed with an unknown exception");
        }
    }
    QueueStateQuery();
    m_reported = true;
    Notify("streamdeck_kestrel_connected");
}

void ControllerClient::OnDisconnected() {
    // Only the first report after a connection (or the one from Start) counts.
    if (m_connected.exchange(false)) {
        if (auto listener = Listener()) {
            EventMessage event(SystemMessages::kDisconnected, m_ownAddress, nullptr);
            // Runs inside the transport's Connect or Disconnect: nothing may escape.
            try {
                listener(event);
            } catch (const std::exception& error) {
                LogWarning("ControllerClient::OnDisconnected: listener failed: %s", error.what());
            } catch (...) {
                LogWarning("ControllerClient::OnDisconnected: listener failed with an unknown exception");
            }
        }
        Notify(m_reported.exchange(true) ? "streamdeck_kestrel_disconnected"
                                         : "streamdeck_kestrel_connect_error");
    }
    // After the listener: a command queued before it heard of the loss
    // belongs to the connection that was lost.
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_linkUp = false;
}

void ControllerClient::OnDataReceived(const char* bytes, uint32_t size) {
    if (!bytes) return;
    std::string text(bytes);  // up to the first zero byte; the size is not used
    // Every refusal is one log line, and the message goes no further.
    nlohmann::json document;
    std::string reason, refused;
    if (!BoundedJson::Parse(text, document, reason)) {
        LogWarning("ControllerClient::OnDataReceived: message of %u bytes refused: %s", size, reason.c_str());
        return;
    }
    std::optional<EventMessage> event = EventMessage::Receive(document, reason, refused);
    if (!event) {
        LogWarning("ControllerClient::OnDataReceived: event refused: %s", reason.c_str());
        return;
    }
    // Link changes are this client's own findings; a server that claims one
    // would make the keys show a link state that is not true.
    const ControllerEvent::Kind kind = event->Meaning().kind;
    if (kind == ControllerEvent::Kind::LinkUp || kind == ControllerEvent::Kind::LinkDown) {
        LogWarning("ControllerClient::OnDataReceived: event refused: '%s' comes only from the plug-in itself",
                   event->GetName().c_str());
        return;
    }
    if (!refused.empty()) {
        LogWarning("ControllerClient::OnDataReceived: support not a boolean, kept as it was for: %s",
                   refused.c_str());
    }
    auto listener = Listener();
    if (!listener) return;
    try {
        listener(*event);
    } catch (const std::exception& error) {
        LogWarning("ControllerClient::OnDataReceived: listener failed on '%s': %s", event->GetName().c_str(),
                   error.what());
    } catch (...) {
        LogWarning("ControllerClient::OnDataReceived: listener failed on '%s'", event->GetName().c_str());
    }
}

void ControllerClient::Notify(const char* eventName) {
    // Telemetry is best effort.
    try {
        m_telemetry(eventName);
    } catch (const std::exception& error) {
        LogWarning("ControllerClient::Notify: '%s' not sent: %s", eventName, error.what());
    } catch (...) {
        LogWarning("ControllerClient::Notify: '%s' not sent: unknown exception", eventName);
    }
}

ControllerClient::EventListener ControllerClient::Listener() {
    std::lock_guard<std::mutex> lock(m_listenerLock);
    return m_listener;
}
