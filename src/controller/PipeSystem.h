#pragma once
// The raw operating-system calls behind NamedPipesClient: a message pipe on
// Windows (\\.\pipe\NAME) and a Unix-domain SOCK_SEQPACKET socket elsewhere.
// NamedPipesClient makes every OS call through this seam, so that tests can
// make any one of them fail (a busy pipe, a broken write) without a real fault.
// Back-ends: PipeSystem_win32.cpp, PipeSystem_posix.cpp.
//
// Threads: the POSIX back-end keeps no state; the Windows one keeps the set of
// handles shut down but not yet closed, under its own lock. On one handle, the
// client's I/O thread calls Peek, Read, Skip, Write, WaitForInput and at last
// Close (and WriteWithin, WaitForWakeup); any other thread may call Shutdown
// (to end those calls), SignalWakeup (to end a WaitForInput, WriteWithin
// or WaitForWakeup) and WriteNow meanwhile. Open, WaitUntilFree, ServerIsOurUser and
// SetMessageMode run on the thread that connects, before the I/O thread starts.

#include <cstdint>
#include <memory>
#include <string>

class PipeSystem {
public:
    // A Windows HANDLE or a file descriptor; -1 is the invalid value of both.
    using Handle = std::intptr_t;
    static constexpr Handle kInvalidHandle = -1;

    enum class OpenResult { Opened, Busy, Failed };

    struct PeekResult {
        bool ok = false;       // false: the link is broken
        bool pending = false;  // a message (possibly of zero bytes) is waiting
        uint32_t size = 0;     // its length
    };

    virtual ~PipeSystem() = default;

    // Opens the client end of the pipe called |name| (see PipeAddress).
    virtual OpenResult Open(const std::string& name, Handle& handle) = 0;
    // Waits up to |milliseconds| for a free instance of a busy pipe.
    virtual bool WaitUntilFree(const std::string& name, uint32_t milliseconds) = 0;
    // Whether the process serving the opened pipe runs as the same user as
    // this one; false also when that cannot be learnt. Any process may create
    // the pipe first, and a server of another user would receive every key
    // press. Windows: the server's process token; POSIX: SO_PEERCRED.
    virtual bool ServerIsOurUser(Handle handle) = 0;
    virtual bool SetMessageMode(Handle handle) = 0;
    // Learns, without blocking or reading, about the next received message.
    virtual PeekResult Peek(Handle handle) = 0;
    // Reads the pending message of exactly |size| bytes.
    virtual bool Read(Handle handle, char* buffer, uint32_t size) = 0;
    // Consumes the pending message without keeping it.
    virtual bool Skip(Handle handle) = 0;
    // Writes one whole message; blocks until the pipe has taken it.
    virtual bool Write(Handle handle, const char* bytes, uint32_t size) = 0;
    // Makes every pending and later call on |handle| fail at once, without
    // releasing it (POSIX: the socket is shut down; Windows: pending I/O is
    // cancelled and the handle is marked, so that I/O started afterwards is
    // cancelled too).
    virtual void Shutdown(Handle handle) = 0;
    virtual void Close(Handle handle) = 0;

    // Waiting instead of polling. A wake-up is an object that another thread
    // signals (an eventfd on POSIX, an auto-reset event on Windows). A
    // back-end that cannot wait on its pipe keeps the defaults: OpenWakeup
    // gives kInvalidHandle and the client polls.
    virtual Handle OpenWakeup() { return kInvalidHandle; }
    virtual void SignalWakeup(Handle wakeup) {}
    virtual void CloseWakeup(Handle wakeup) {}
    // Blocks until |handle| has a message or has broken, or |wakeup| is
    // signalled (the signal is consumed), or Shutdown(handle) is called. May
    // return early. Takes no message bytes: a message of zero bytes may be
    // consumed, nothing else.
    virtual void WaitForInput(Handle handle, Handle wakeup) {}

    // Bounded waits. WriteWithin writes one whole message, waiting at most
    // |milliseconds| for a pipe whose reader has stalled, and ends early when
    // |wakeup| is signalled (the signal is consumed). TimedOut and Woken mean
    // that no byte of the message went out; Failed means the link is broken
    // or the message went out in part. WaitForWakeup sleeps until |wakeup| is
    // signalled (consumed) or |milliseconds| pass, without looking at a pipe.
    // The defaults suit a back-end without wake-ups: a blocking Write, and a
    // short sleep.
    enum class WriteResult { Written, TimedOut, Woken, Failed };
    virtual WriteResult WriteWithin(Handle handle, const char* bytes, uint32_t size, uint32_t milliseconds,
                                    Handle wakeup);
    // Writes one whole message only if the pipe takes it at once, from any
    // thread, while the I/O thread may be waiting on the same handle: Written,
    // or TimedOut (it would have to wait) or Failed, and then no byte went
    // out. The default suits a back-end whose calls must stay on the I/O
    // thread: it writes nothing and answers TimedOut.
    virtual WriteResult WriteNow(Handle handle, const char* bytes, uint32_t size);
    virtual void WaitForWakeup(Handle wakeup, uint32_t milliseconds);

    // The platform's implementation (shared; it keeps no state).
    static std::shared_ptr<PipeSystem> Native();
};

// The product's pipe name.
inline constexpr char kControllerPipeName[] = "VantoraKestrelControllerServer";

// The pipe name that the plug-in and the controller simulator use: the
// environment variable KESTREL_CONTROLLER_PIPE when it is set and not empty
// (so that tests can point a plug-in at a private simulator), else the
// product's name.
std::string DefaultControllerPipeName();

// Where the pipe called |name| lives: "\\.\pipe\NAME" on Windows; on POSIX
// "$XDG_RUNTIME_DIR/NAME", or "/tmp/NAME-<uid>" without XDG_RUNTIME_DIR. A
// name that contains a '/' is taken as the socket's path as it is.
std::string PipeAddress(const std::string& name);
