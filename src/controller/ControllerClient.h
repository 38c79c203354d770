#pragma once
// The plug-in's one link to the controller server: writes command messages
// in order from a write thread (up to three attempts each, all within two
// seconds of the command being queued; later it is dropped), keeps the link up
// from a housekeeping thread, turns received messages into events for the
// listener, reports the link going up and down, asks the server for its state
// after every connection, and reports connection telemetry.
// A command belongs to the connection that was up when it was queued (one
// queued while the link was down, to the next one) and is never written on a
// later one. Each connection's state query goes before every other command
// written on it, takes no queue slot (so a queue full of presses cannot refuse
// it) and has no deadline: it waits for a server that is slow to read for as
// long as that connection lasts, since without the reports it brings every key
// stays inactive.
//
// Threads (ControllerThreads::WriteAndHousekeeping; with CallersThread there
// are no threads of the client: every call comes from one thread, which also
// writes, completes and reconnects):
// - SetUnreachableAdvice, Start, Stop, Close, destructor: the owner's thread
//   (the plug-in's start-up and exit); the advice is set before Start.
// - WriteMessageAsync: any thread; an overflow completion runs on the caller.
//   When nothing is queued or being written and the transport takes the
//   command without waiting (WriteIfIdle), the caller writes it itself: a
//   key press reaches the pipe without a hand-off. Its completion still runs
//   on the write thread, after those of the commands written before it.
// - ReconnectNow: the host's event-loop thread, which ends before Close.
// - WriteThreadProc: writes, connects when needed, runs every other completion.
//   Each write waits at most until the command's deadline (the state query's,
//   while its connection lasts); Stop interrupts it.
// - HousekeepingThreadProc: while the link is up, sleeps until the transport
//   reports a change; while it is down, polls every 250 ms and reconnects.
// - OnConnected / OnDisconnected: inside the transport's Connect or Disconnect
//   (housekeeping thread, write thread, transport I/O thread), or directly
//   from Start. OnConnected queues the state query (QueueStateQuery), which
//   writes it at once like WriteMessageAsync when nothing else is queued.
// - OnDataReceived: the transport's dispatch thread. Received text is parsed
//   with a depth bound and decoded into EventMessage::Meaning here, once; a
//   document that cannot be read is refused with one log line.
// Locks (none is held while another of them is taken, except as noted):
// - m_queueLock guards m_queue, m_writerBusy, m_links and m_linkUp. It is held only to add or
//   remove an entry and to claim or give up the writer's role, never around a transport call, so a connection
//   handler that queues the state query never waits for a thread that is itself waiting for the transport's
//   lock. Whoever holds the writer's role (the write thread with the entry it took, or a caller writing at
//   once) is the only one that writes, which keeps the commands in order; the write thread and Stop wait on
//   m_writerFree for a caller's write, which never waits itself.
// - m_freeSlots and m_pending have their own mutexes; WriteMessageAsync and
//   QueueStateQuery release m_pending, and WriteQueryAhead try-acquires it,
//   while holding m_queueLock (queue lock, then the semaphore's mutex);
//   nothing takes them in the other order.
// - m_listenerLock guards m_listener; the listener is copied under it and
//   called without it.
// - m_stopLock with m_stopSignal lets Stop, ReconnectNow and every connection
//   report of the transport (m_linkReports), cut the housekeeping sleeps short. It is taken
//   inside the transport's lock by the reports and never held around a
//   transport call.
// The transport must be owned by this client alone: its callbacks point here.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "controller/ControllerThreads.h"
#include "controller/CountingSemaphore.h"
#include "controller/ElementAddress.h"
#include "controller/Messages.h"
#include "controller/NetworkClientBase.h"
#include "controller/WriteCompletion.h"

class ControllerClient {
public:
    // Called once per accepted message: true when the pipe took it, false
    // when the queue was full, every attempt failed, or its deadline passed.
    using WriteCompletion = ::WriteCompletion;
    // Receives the server's valid events and the two connection events; the
    // event lives only for the call.
    using EventListener = std::function<void(const EventMessage& event)>;
    // Sends one connection telemetry event by name; the default sends it
    // queued through TelemetryService with no extra properties.
    using TelemetrySink = std::function<void(const char* eventName)>;

    // The bound on commands between WriteMessageAsync and the pipe: a slot is
    // held until the transport has taken the command or given it up.
    static constexpr uint32_t kQueueSlots = 256;
    static constexpr int kWriteAttempts = 3;
    // A command not written within this time of being queued (its key press)
    // is dropped, reported as not accepted, and never written later.
    static constexpr std::chrono::milliseconds kWriteDeadline{2000};

    ControllerClient(std::shared_ptr<NetworkClientBase> transport, EventListener listener,
                     TelemetrySink telemetry = nullptr,
                     ControllerThreads threads = ControllerThreads::WriteAndHousekeeping);
    ~ControllerClient();

    ControllerClient(const ControllerClient&) = delete;
    ControllerClient& operator=(const ControllerClient&) = delete;

    // Logged as a warning when the first connection attempt fails: what the
    // streamer can do about a link that cannot come up. Set before Start.
    void SetUnreachableAdvice(std::string advice);
    void Start();
    void Stop();
    // Ends the link for good (the plug-in's exit): stops both threads, then
    // releases the transport, whose destruction closes the pipe and joins its
    // threads. Once it returns, no thread of the link calls the listener or a
    // completion again; a later Start does nothing.
    void Close();
    void WriteMessageAsync(std::shared_ptr<MessageBase> message, WriteCompletion completion);
    // After the computer wakes from sleep: a link that looks up is checked
    // by asking the server for its state (a write on a dead link replaces
    // it); a link that is down is tried again at once, not at the next
    // attempt. Does nothing once stopped.
    void ReconnectNow();

private:
    struct Entry {
        std::shared_ptr<MessageBase> message;
        WriteCompletion completion;
        NetworkClientBase::Deadline deadline;
        bool written = false;     // written by its caller: only the completion is left
        bool stateQuery = false;  // a connection's state query: no slot, no deadline
        uint64_t link = 0;        // m_links when it was queued
        bool queuedWhileDown = false;
    };

    void WriteThreadProc();
    void HousekeepingThreadProc();
    // The housekeeping's first round: one connection attempt.
    bool ConnectFirstTime();
    // Waits while a caller writes, then takes the first entry and the writer's role.
    std::optional<Entry> TakeQueued();
    void ReleaseWriter();
    // Notes the connection |entry| belongs to; then the writer's role for the
    // calling thread, when the link is up and nothing is queued or being written.
    bool ClaimWriterForCaller(Entry& entry);
    // Whether |entry| may still be written: no connection has been made since
    // the one it belongs to.
    bool StillForItsLink(const Entry& entry);
    // Counts a new connection and queues its state query at the head (in
    // place of one still waiting), or writes it at once when nothing else is
    // queued or being written.
    void QueueStateQuery();
    // With the writer's role: writes the state query waiting at the head, so
    // that a connection made for the command in hand gets it first.
    void WriteQueryAhead();
    void WriteStateQuery(const Entry& query);
    bool WriteIfIdle(const MessageBase& message);
    // Writes |entry| (connecting first when needed), then completes it.
    void WriteEntry(Entry& entry);
    // CallersThread: writes what is queued, unless a write of this thread
    // is already doing so (a connection it makes queues the state query).
    void WriteQueuedHere();
    // False when it could not be written; |linkEnded| tells that the connection
    // it belonged to had ended.
    bool WriteWithAttempts(const Entry& entry, bool& linkEnded);
    void Complete(Entry& entry, bool accepted);
    bool SleepUnlessStopped();
    // Whether ReconnectNow asked for an attempt since the last call.
    bool TakeReconnectRequest();
    uint64_t LinkReports();
    void WaitForLinkReport(uint64_t seen);
    void OnConnectionChanged(bool connected);
    void OnConnected();
    void OnDisconnected();
    void OnDataReceived(const char* bytes, uint32_t size);
    void Notify(const char* eventName);
    EventListener Listener();

    std::mutex m_listenerLock;
    EventListener m_listener;  // guarded by m_listenerLock
    const TelemetrySink m_telemetry;
    const std::shared_ptr<ElementAddress> m_ownAddress;
    std::string m_unreachableAdvice;  // written before Start only
    const ControllerThreads m_threads;
    bool m_writingHere = false;  // CallersThread only: WriteQueuedHere is running

    std::atomic<bool> m_running{false};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_reported{false};

    CountingSemaphore m_freeSlots{kQueueSlots};
    CountingSemaphore m_pending{0};
    std::mutex m_queueLock;
    std::list<Entry> m_queue;   // guarded by m_queueLock
    bool m_writerBusy = false;  // guarded by m_queueLock: a thread is writing a command
    uint64_t m_links = 0;       // guarded by m_queueLock: connections made
    bool m_linkUp = false;      // guarded by m_queueLock: the last report was a connection
    std::condition_variable m_writerFree;

    std::mutex m_stopLock;
    std::condition_variable m_stopSignal;
    uint64_t m_linkReports = 0;   // guarded by m_stopLock: connection reports of the transport
    bool m_reconnectNow = false;  // guarded by m_stopLock: ReconnectNow asked for an attempt

    std::thread m_writeThread;
    std::thread m_housekeepingThread;

    // Declared last so that it is released first, while everything its
    // callbacks reach still exists. Null after Close.
    std::shared_ptr<NetworkClientBase> m_transport;
};
