// Windows back-end: the client end of a message-type named pipe.
#include <windows.h>

#include <vector>

#include "controller/PipeSystem.h"

namespace {

HANDLE ToHandle(PipeSystem::Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

class Win32PipeSystem : public PipeSystem {
public:
    OpenResult Open(const std::string& name, Handle& handle) override {
        // Identification level only: the server may learn who we are but may
        // not act as the plug-in's user.
        HANDLE pipe = CreateFileA(PipeAddress(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
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

    bool SetMessageMode(Handle handle) override {
        DWORD mode = PIPE_READMODE_MESSAGE;
        return SetNamedPipeHandleState(ToHandle(handle), &mode, nullptr, nullptr) != FALSE;
    }

    PeekResult Peek(Handle handle) override {
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
        return ReadFile(ToHandle(handle), buffer, size, &read, nullptr) != FALSE && read == size;
    }

    bool Skip(Handle handle) override {
        std::vector<char> scratch(64 * 1024);
        while (true) {
            DWORD read = 0;
            if (ReadFile(ToHandle(handle), scratch.data(), static_cast<DWORD>(scratch.size()), &read,
                         nullptr)) {
                return true;
            }
            if (GetLastError() != ERROR_MORE_DATA) return false;
        }
    }

    bool Write(Handle handle, const char* bytes, uint32_t size) override {
        DWORD written = 0;
        return WriteFile(ToHandle(handle), bytes, size, &written, nullptr) != FALSE && written == size;
    }

    void Shutdown(Handle handle) override { CancelIoEx(ToHandle(handle), nullptr); }

    void Close(Handle handle) override {
        DisconnectNamedPipe(ToHandle(handle));
        CloseHandle(ToHandle(handle));
    }
};

}  // namespace

std::shared_ptr<PipeSystem> PipeSystem::Native() {
    static auto system = std::make_shared<Win32PipeSystem>();
    return system;
}

std::string PipeAddress(const std::string& name) {
    return "\\\\.\\pipe\\" + name;
}
