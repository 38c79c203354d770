// Windows back-end: the client end of a message-type named pipe, opened for
// overlapped I/O so that the I/O thread can sleep on the pipe and its wake-up
// event at once. Every read, write and wait here carries an OVERLAPPED with an
// event of its own and waits for its completion, so to the caller each call
// is as blocking as on a plain handle; Shutdown ends any of them, pending or
// started later.
#include <windows.h>

#include <mutex>
#include <set>
#include <vector>

#include "controller/PipeSystem.h"

namespace {

// While a wait cannot be started, the I/O thread looks at the pipe this often
// instead of spinning.
constexpr DWORD kFallbackWaitMilliseconds = 25;

HANDLE ToHandle(PipeSystem::Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// The TOKEN_USER of |process| (the user it runs as, with its SID) in a buffer
// of its own; empty when it cannot be read.
std::vector<unsigned char> ReadTokenUser(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    bool read = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    if (!read) buffer.clear();
    return buffer;
}

PSID SidOf(std::vector<unsigned char>& tokenUser) {
    return reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
}

// One overlapped operation: its OVERLAPPED and the manual-reset event that
// signals its completion.
struct Operation {
    OVERLAPPED overlapped{};
    Operation() { overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Operation() {
        if (overlapped.hEvent) CloseHandle(overlapped.hEvent);
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    bool Ready() const { return overlapped.hEvent != nullptr; }
};

// Threads: one instance serves every pipe client of the process. Each handle
// is used by its client's I/O thread; Shutdown comes from whichever thread
// disconnects. m_shutLock guards m_shut, the handles shut down and not yet
// closed, so that an operation started just after Shutdown's CancelIoEx is
// cancelled too instead of blocking (a write to a server that stopped reading).
class Win32PipeSystem : public PipeSystem {
public:
    OpenResult Open(const std::string& name, Handle& handle) override {
        // Identification level only: the server may learn who we are but may
        // not act as the plug-in's user.
        HANDLE pipe =
            CreateFileA(PipeAddress(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            handle = reinterpret_cast<Handle>(pipe);
            return OpenResult::Opened;
        }
        handle = kInvalidHandle;
        return GetLastError() == ERROR_PIPE_BUSY ? OpenResult::Busy : OpenResult::Failed;
    }

    bool WaitUntilFree(const std::string& name, uint32_t milliseconds) override {
        return WaitNamedPipeA(PipeAddress(name).c_str(), milliseconds) != FALSE;
    }

    // The user of the server's process token against ours. A server that we
    // may not look at (another user's, or one that has gone) is refused.
    bool ServerIsOurUser(Handle handle) override {
        ULONG serverId = 0;
        if (!GetNamedPipeServerProcessId(ToHandle(handle), &serverId)) return false;
        HANDLE server = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverId);
        if (!server) return false;
        std::vector<unsigned char> theirs = ReadTokenUser(server);
        CloseHandle(server);
        std::vector<unsigned char> ours = ReadTokenUser(GetCurrentProcess());
        return !theirs.empty() && !ours.empty() && EqualSid(SidOf(theirs), SidOf(ours));
    }

    bool SetMessageMode(Handle handle) override {
        DWORD mode = PIPE_READMODE_MESSAGE;
        return SetNamedPipeHandleState(ToHandle(handle), &mode, nullptr, nullptr) != FALSE;
    }

    PeekResult Peek(Handle handle) override {
        if (IsShut(ToHandle(handle))) return PeekResult{};
        DWORD total = 0;
        DWORD leftInMessage = 0;
        PeekResult result;
        result.ok = PeekNamedPipe(ToHandle(handle), nullptr, 0, nullptr, &total, &leftInMessage) != FALSE;
        // Bytes in the pipe but none left in the current message: a message
        // of zero bytes heads the queue and has to be consumed.
        result.pending = result.ok && (leftInMessage > 0 || total > 0);
        result.size = leftInMessage;
        return result;
    }

    bool Read(Handle handle, char* buffer, uint32_t size) override {
        DWORD read = 0;
        return ReadPipe(ToHandle(handle), buffer, size, read) == ERROR_SUCCESS && read == size;
    }

    bool Skip(Handle handle) override {
        std::vector<char> scratch(64 * 1024);
        while (true) {
            DWORD read = 0;
            DWORD error =
                ReadPipe(ToHandle(handle), scratch.data(), static_cast<DWORD>(scratch.size()), read);
            if (error == ERROR_SUCCESS) return true;
            if (error != ERROR_MORE_DATA) return false;
        }
    }

    bool Write(Handle handle, const char* bytes, uint32_t size) override {
        HANDLE pipe = ToHandle(handle);
        Operation operation;
        if (!operation.Ready()) return false;
        DWORD written = 0;
        BOOL started = WriteFile(pipe, bytes, size, nullptr, &operation.overlapped);
        return Finish(pipe, started, operation, written) == ERROR_SUCCESS && written == size;
    }

    // The overlapped write is waited for with the time-out and the wake-up,
    // then cancelled. A write cancelled before the server took any byte of it
    // leaves the message stream intact (TimedOut or Woken); one that went out
    // in part does not (Failed: the caller drops the connection).
    WriteResult WriteWithin(Handle handle, const char* bytes, uint32_t size, uint32_t milliseconds,
                            Handle wakeup) override {
        HANDLE pipe = ToHandle(handle);
        Operation operation;
        if (IsShut(pipe) || !operation.Ready()) return WriteResult::Failed;
        WriteResult unfinished = WriteResult::Failed;
        if (!WriteFile(pipe, bytes, size, nullptr, &operation.overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) return WriteResult::Failed;
            unfinished = AwaitWrite(pipe, operation, milliseconds, wakeup);
        }
        DWORD written = 0;
        BOOL done = GetOverlappedResult(pipe, &operation.overlapped, &written, TRUE);
        if (done && written == size) return WriteResult::Written;  // finished before the cancel
        return written == 0 ? unfinished : WriteResult::Failed;
    }

    void WaitForWakeup(Handle wakeup, uint32_t milliseconds) override {
        WaitForSingleObject(ToHandle(wakeup), milliseconds);
    }

    // Cancels what any thread has pending on the pipe, and every operation
    // started later fails (see Finish); the caller's wake-up covers a wait
    // that has not started yet.
    void Shutdown(Handle handle) override {
        HANDLE pipe = ToHandle(handle);
        {
            std::lock_guard<std::mutex> lock(m_shutLock);
            m_shut.insert(pipe);
        }
        CancelIoEx(pipe, nullptr);
    }

    void Close(Handle handle) override {
        HANDLE pipe = ToHandle(handle);
        {
            // Forgotten before the value can be handed out again.
            std::lock_guard<std::mutex> lock(m_shutLock);
            m_shut.erase(pipe);
        }
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
    }

    // An auto-reset event: the wait that sees it signalled also consumes it.
    Handle OpenWakeup() override {
        HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        return event ? reinterpret_cast<Handle>(event) : kInvalidHandle;
    }

    void SignalWakeup(Handle wakeup) override { SetEvent(ToHandle(wakeup)); }

    void CloseWakeup(Handle wakeup) override { CloseHandle(ToHandle(wakeup)); }

    // A read of zero bytes completes as soon as a message is waiting, without
    // taking any of it (ERROR_MORE_DATA: the message stays whole at the head
    // of the queue for Peek and Read), or when the pipe breaks or the read is
    // cancelled. The one message it does consume is a message of zero bytes,
    // which the client drops anyway. Wine behaves the same for message pipes.
    void WaitForInput(Handle handle, Handle wakeup) override {
        HANDLE pipe = ToHandle(handle);
        if (IsShut(pipe)) return;
        Operation operation;
        char unused = 0;
        BOOL started = operation.Ready() && ReadFile(pipe, &unused, 0, nullptr, &operation.overlapped);
        DWORD error = started ? ERROR_SUCCESS : GetLastError();
        if (error == ERROR_SUCCESS || error == ERROR_MORE_DATA || error == ERROR_BROKEN_PIPE ||
            error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_OPERATION_ABORTED) {
            return;  // decided at once: Peek tells the caller what there is
        }
        if (error != ERROR_IO_PENDING) {
            // No wait on the pipe: look again soon rather than spin.
            WaitForSingleObject(ToHandle(wakeup), kFallbackWaitMilliseconds);
            return;
        }
        HANDLE events[2] = {operation.overlapped.hEvent, ToHandle(wakeup)};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIoEx(pipe, &operation.overlapped);
        }
        // The read must be over before its OVERLAPPED goes away.
        DWORD ignored = 0;
        GetOverlappedResult(pipe, &operation.overlapped, &ignored, TRUE);
    }

private:
    bool IsShut(HANDLE pipe) {
        std::lock_guard<std::mutex> lock(m_shutLock);
        return m_shut.count(pipe) > 0;
    }

    // Waits for a pending write, its time-out or the wake-up; cancels the
    // write unless it completed. Gives what an unfinished write means.
    WriteResult AwaitWrite(HANDLE pipe, Operation& operation, uint32_t milliseconds, Handle wakeup) {
        if (IsShut(pipe)) {
            CancelIoEx(pipe, &operation.overlapped);
            return WriteResult::Failed;
        }
        HANDLE events[2] = {operation.overlapped.hEvent, ToHandle(wakeup)};
        const DWORD count = wakeup == kInvalidHandle ? 1 : 2;
        const DWORD waited = WaitForMultipleObjects(count, events, FALSE, milliseconds);
        if (waited == WAIT_OBJECT_0) return WriteResult::Failed;  // completed: decided by its result
        CancelIoEx(pipe, &operation.overlapped);
        if (waited == WAIT_TIMEOUT) return WriteResult::TimedOut;
        return waited == WAIT_OBJECT_0 + 1 ? WriteResult::Woken : WriteResult::Failed;
    }

    DWORD ReadPipe(HANDLE pipe, char* buffer, DWORD size, DWORD& transferred) {
        Operation operation;
        if (!operation.Ready()) return GetLastError();
        return Finish(pipe, ReadFile(pipe, buffer, size, nullptr, &operation.overlapped), operation,
                      transferred);
    }

    // Waits for the operation that ReadFile or WriteFile started (|started| is
    // their result) and gives its final error code, ERROR_SUCCESS when it
    // succeeded. ERROR_MORE_DATA (part of a longer message read) completes the
    // operation like a success, so its byte count is valid too. An operation
    // still pending on a pipe that is shut down is cancelled here: either
    // Shutdown's CancelIoEx came after it started, or this check sees the mark.
    DWORD Finish(HANDLE pipe, BOOL started, Operation& operation, DWORD& transferred) {
        transferred = 0;
        if (!started) {
            DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) return error;
            if (error == ERROR_IO_PENDING && IsShut(pipe)) CancelIoEx(pipe, &operation.overlapped);
        }
        if (GetOverlappedResult(pipe, &operation.overlapped, &transferred, TRUE)) return ERROR_SUCCESS;
        return GetLastError();
    }

    std::mutex m_shutLock;
    std::set<HANDLE> m_shut;  // guarded by m_shutLock
};

}  // namespace

std::shared_ptr<PipeSystem> PipeSystem::Native() {
    static auto system = std::make_shared<Win32PipeSystem>();
    return system;
}

std::string PipeAddress(const std::string& name) {
    return "\\\\.\\pipe\\" + name;
}
