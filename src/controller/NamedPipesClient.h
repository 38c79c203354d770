#pragma once
// The client end of the controller server's pipe (a message-type named pipe
// on Windows, a SOCK_SEQPACKET socket elsewhere; see PipeSystem.h): one
// message per pipe message, no other framing. Each connection runs an I/O
// thread (peek, read, write) and a dispatch thread (hands received messages
// to onDataReceived); the two queues between them and the caller outlive a
// connection, so what is left in them goes out after the next Connect.
//
// Threads and locks:
// - Connect, Disconnect, IsConnected, Write: any thread. m_lock (recursive,
//   because Connect's failure path disconnects) guards the handle changes and
//   the thread objects, and is held while onConnectionChanged runs.
// - The I/O and dispatch threads of a connection never wait for m_lock: they
//   read m_handle and m_connection atomically, and the I/O thread's failure
//   path only try-locks and gives up once the connection has changed. So
//   Connect can join the previous connection's threads while holding m_lock.
// - m_unsent is touched only by I/O threads, one connection after the other
//   (Connect joins the previous one before starting the next).
// - onDataReceived runs on the dispatch thread only, one message at a time.
// - Idle threads sleep: the dispatch thread on the incoming queue (Disconnect
//   queues an empty entry to wake it), the I/O thread in WaitForInput on the
//   pipe and m_wakeup (signalled by Write and Disconnect; an eventfd on POSIX,
//   an event and an overlapped read on Windows). Only a back-end without
//   wake-ups (OpenWakeup failed) makes the I/O thread poll every 25 ms.
// - The I/O thread closes its own handle when it ends, so a handle value is
//   never reused while a thread of an older connection could still use it.

#include <concurrentqueue/blockingconcurrentqueue.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "controller/NetworkClientBase.h"
#include "controller/PipeSystem.h"

class NamedPipesClient : public NetworkClientBase {
public:
    // Messages longer than this are consumed and dropped with a log line.
    static constexpr uint32_t kMaxMessageSize = 16u * 1024u * 1024u;
    static constexpr uint32_t kBusyWaitMilliseconds = 1000;

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
    bool Write(const char* bytes, uint32_t size) override;

    const std::string& PipeName() const { return m_pipeName; }

private:
    using Handle = PipeSystem::Handle;

    void IoThreadProc(uint64_t connection, Handle handle);
    void DispatchThreadProc(uint64_t connection);
    bool ReadOneMessage(uint64_t connection, Handle handle);
    bool WriteOneMessage(uint64_t connection, Handle handle, bool mayWait);
    bool IsCurrent(uint64_t connection) const { return m_connection.load() == connection; }
    void DisconnectFromIoThread(uint64_t connection);
    void JoinThreads();
    void WakeIoThread();
    void Report(bool connected);
    void RefuseServer(Handle handle);

    const std::string m_pipeName;
    const std::shared_ptr<PipeSystem> m_system;

    std::recursive_mutex m_lock;
    std::atomic<Handle> m_handle{PipeSystem::kInvalidHandle};  // changed under m_lock
    std::atomic<uint64_t> m_connection{0};                     // changes with every connect and disconnect
    std::thread m_ioThread;                                    // guarded by m_lock
    std::thread m_dispatchThread;                              // guarded by m_lock
    bool m_refusingServer = false;  // guarded by m_lock: the last server met ran as another user

    // Signalled by Write and Disconnect, waited for by the I/O thread only;
    // kInvalidHandle where the back-end cannot wait on its pipe, and the I/O
    // thread then polls.
    const Handle m_wakeup;

    moodycamel::BlockingConcurrentQueue<std::vector<char>> m_outgoing;
    // An empty entry is Disconnect's wake-up for the dispatch thread.
    moodycamel::BlockingConcurrentQueue<std::optional<std::string>> m_incoming;

    // A message taken from the outgoing queue that has not gone out: its
    // connection ended first, or its write failed when the link broke. It is
    // written first after the next Connect; a second failed write drops it, so
    // a message that the pipe can never take does not break every connection.
    struct Unsent {
        std::vector<char> bytes;
        int failedWrites = 0;
    };
    std::optional<Unsent> m_unsent;
};
