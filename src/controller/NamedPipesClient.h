#pragma once
// The client end of the controller server's pipe (a message-type named pipe
// on Windows, a SOCK_SEQPACKET socket elsewhere; see PipeSystem.h): one
// message per pipe message, no other framing. Each connection runs an I/O
// thread (peek, read, write) and a dispatch thread (hands received messages
// to onDataReceived). Both queues between them and the callers are bounded
// and belong to one connection: nothing left in them reaches a later one.
//
// Threads and locks:
// - Connect, Disconnect, IsConnected, Write, WriteBefore, WriteIfIdle, Interrupt: any
//   thread. A write to an idle pipe that takes it at once is made on the
//   caller's thread (one hand-off less for a key press); otherwise the I/O
//   thread writes it. m_lock (recursive, because Connect's failure path disconnects)
//   guards the handle changes and the thread objects, and is held while
//   onConnectionChanged runs; it is never held across a wait for the pipe
//   (a busy pipe is waited for without it, in slices that Interrupt ends).
// - The I/O and dispatch threads of a connection never wait for m_lock: they
//   read m_handle and m_connection atomically, and the I/O thread's failure
//   path only try-locks and gives up once the connection has changed. So
//   Connect can join the previous connection's threads while holding m_lock.
// - m_connectLock lets one Connect at a time open the pipe (a second one
//   waits for it, boundedly, without m_lock). m_writeLock guards m_requests and m_ioWriting, and is held
//   around a write on the caller's thread (WriteNow, which never waits); WriteBefore waits on m_writeDone
//   for the I/O thread to settle its request. m_incomingLock guards m_incoming; the dispatch thread waits on
//   m_incomingChanged. Neither is held around any other pipe call or a callback, and neither is taken
//   inside the other.
// - onDataReceived runs on the dispatch thread only, one message at a time.
// - Idle threads sleep: the dispatch thread on m_incomingChanged, the I/O
//   thread in WaitForInput on the pipe and m_wakeup (signalled by Write,
//   Disconnect, Interrupt and the dispatch thread making room; an eventfd on
//   POSIX, an event on Windows). While the incoming queue is full the I/O
//   thread reads nothing and waits for m_wakeup alone (back-pressure: the
//   server's writes wait in the pipe). Only a back-end without wake-ups makes
//   the I/O thread poll every 25 ms.
// - The I/O thread closes its own handle when it ends, after taking
//   m_writeLock once, so a handle value is never reused while a thread of an
//   older connection, or a caller writing on it, could still use it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "controller/NetworkClientBase.h"
#include "controller/PipeSystem.h"

class NamedPipesClient : public NetworkClientBase {
public:
    // Messages longer than this are consumed and dropped with a log line.
    static constexpr uint32_t kMaxMessageSize = 16u * 1024u * 1024u;
    // A busy pipe is waited for in slices of this length, for at most kBusyWaitLimit.
    static constexpr uint32_t kBusyWaitMilliseconds = 250;
    static constexpr std::chrono::milliseconds kBusyWaitLimit{2000};
    // Received messages waiting for the dispatch thread: reading stops at
    // either bound (one message may pass the byte bound).
    static constexpr size_t kIncomingMessages = 256;
    static constexpr size_t kIncomingBytes = 4u * 1024u * 1024u;
    // Write's bound for the pipe to take a message.
    static constexpr std::chrono::milliseconds kWriteWait{2000};

    // The pipe named by DefaultControllerPipeName() (KESTREL_CONTROLLER_PIPE
    // overrides the product's name).
    NamedPipesClient();
    explicit NamedPipesClient(std::string pipeName,
                              std::shared_ptr<PipeSystem> system = PipeSystem::Native());
    ~NamedPipesClient() override;

    NamedPipesClient(const NamedPipesClient&) = delete;
    NamedPipesClient& operator=(const NamedPipesClient&) = delete;

    bool Connect() override;
    void Disconnect() override;
    bool IsConnected() override;
    // WriteBefore with a deadline kWriteWait from now; true once written.
    bool Write(const char* bytes, uint32_t size) override;
    WriteResult WriteBefore(const char* bytes, uint32_t size, Deadline deadline) override;
    // Takes no lock but m_writeLock, so a caller that holds locks of its own
    // never waits for a connection change or its callbacks.
    bool WriteIfIdle(const char* bytes, uint32_t size) override;
    void Interrupt() override;

    const std::string& PipeName() const { return m_pipeName; }
    // How many received messages wait for the dispatch thread (for tests).
    size_t IncomingCount();

private:
    using Handle = PipeSystem::Handle;

    // One WriteBefore call, settled by the I/O thread of its connection (or
    // by Disconnect); shared so that a caller that gave up leaves no dangling
    // request.
    struct Request {
        std::vector<char> bytes;
        Deadline deadline;
        uint64_t connection = 0;
        bool abandoned = false;  // the caller was interrupted; guarded by m_writeLock
        bool settled = false;    // guarded by m_writeLock
        WriteResult result = WriteResult::Failed;
    };

    bool ConnectOnce();
    bool OpenWithinLimit(Handle& handle);
    void IoThreadProc(uint64_t connection, Handle handle);
    void DispatchThreadProc(uint64_t connection);
    bool ReadOneMessage(uint64_t connection, Handle handle);
    bool WriteOneMessage(uint64_t connection, Handle handle);
    // Writes a request made for |connection|; a command meant for a server
    // that went away is never sent to the next one.
    WriteResult WriteRequest(uint64_t connection, Handle handle, const std::shared_ptr<Request>& request);
    void Settle(const std::shared_ptr<Request>& request, WriteResult result, bool ioWriteEnded = false);
    // Writes at once on the caller's thread, with m_writeLock held, when the
    // pipe is idle and takes the message without waiting; false otherwise.
    bool WriteOnCallersThread(Handle handle, const char* bytes, uint32_t size, Deadline deadline);
    void FailRequestsOf(uint64_t connection);
    bool IncomingHasRoom();
    void DropIncoming();
    bool IsCurrent(uint64_t connection) const { return m_connection.load() == connection; }
    void DisconnectFromIoThread(uint64_t connection, const char* reason);
    void JoinThreads();
    void WakeIoThread();
    void Report(bool connected);
    void RefuseServer(Handle handle);

    const std::string m_pipeName;
    const std::shared_ptr<PipeSystem> m_system;

    std::recursive_mutex m_lock;
    std::atomic<Handle> m_handle{PipeSystem::kInvalidHandle};  // changed under m_lock
    std::atomic<uint64_t> m_connection{0};                     // changes with every connect and disconnect
    std::atomic<uint64_t> m_interrupts{0};                     // changes with every Interrupt
    std::thread m_ioThread;                                    // guarded by m_lock
    std::thread m_dispatchThread;                              // guarded by m_lock
    bool m_refusingServer = false;  // guarded by m_lock: the last server met ran as another user

    // Signalled by Write, Disconnect, Interrupt and the dispatch thread,
    // waited for by the I/O thread only; kInvalidHandle where the back-end
    // cannot wait on its pipe, and the I/O thread then polls.
    const Handle m_wakeup;

    // m_connecting is true while one Connect opens the pipe; others wait on
    // m_connectDone. Held only to change or test m_connecting.
    std::mutex m_connectLock;
    std::condition_variable m_connectDone;
    bool m_connecting = false;  // guarded by m_connectLock

    std::mutex m_writeLock;
    std::condition_variable m_writeDone;
    std::deque<std::shared_ptr<Request>> m_requests;  // guarded by m_writeLock
    bool m_ioWriting = false;  // guarded by m_writeLock: the I/O thread writes a request

    std::mutex m_incomingLock;
    std::condition_variable m_incomingChanged;
    std::deque<std::string> m_incoming;  // guarded by m_incomingLock
    size_t m_incomingBytes = 0;          // guarded by m_incomingLock
};
