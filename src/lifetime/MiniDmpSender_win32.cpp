// Windows crash hooks: an unhandled-exception filter wakes the helper thread,
// which writes the minidump with dbghelp (from outside the faulting thread,
// as dbghelp asks) and the rest of the report. The filter then lets the
// process end with the exception's code. abort() (also the end of an
// uncaught C++ exception) raises no exception on Windows: its SIGABRT
// handler raises one, STATUS_FATAL_APP_EXIT, so that it is reported too.

#include <windows.h>
// dbghelp.h needs the Windows types first.
#include <dbghelp.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

#include "diagnostics/CrashReportThread.h"
#include "lifetime/MiniDmpSender.h"

namespace fs = std::filesystem;

struct MiniDmpSender::Platform {
    MiniDmpSender* owner = nullptr;
    HANDLE wake = nullptr;  // set by the filter (crash) or the destructor (quit)
    HANDLE done = nullptr;  // set by the helper when the report is complete
    std::atomic<bool> quit{false};
    std::thread helper;
    DWORD helperThreadId = 0;
    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
    void (*previousAbortHandler)(int) = SIG_DFL;

    // Written by the faulting thread before it wakes the helper.
    EXCEPTION_POINTERS* exception = nullptr;
    DWORD faultingThreadId = 0;

    void HelperThreadProc();
};

namespace {
std::atomic<MiniDmpSender::Platform*> g_installed{nullptr};
std::atomic<bool> g_crashing{false};

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
    MiniDmpSender::Platform* platform = g_installed.load();
    if (!platform || g_crashing.exchange(true)) {
        // A second fault while reporting (or on the helper itself): end now.
        return EXCEPTION_EXECUTE_HANDLER;
    }
    platform->exception = exception;
    platform->faultingThreadId = GetCurrentThreadId();
    SetEvent(platform->wake);
    WaitForSingleObject(
        platform->done,
        static_cast<DWORD>(std::chrono::milliseconds(MiniDmpSender::kCrashWorkLimit).count()));
    // Ends the process with the exception code, without a debugger prompt.
    return EXCEPTION_EXECUTE_HANDLER;
}

// The code that the POSIX back-end reports for SIGABRT as well.
constexpr DWORD kFatalAppExit = 0x40000015;

void OnAbort(int) {
    RaiseException(kFatalAppExit, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}
}  // namespace

void MiniDmpSender::Platform::HelperThreadProc() {
    PrepareThreadForCrashReports();
    helperThreadId = GetCurrentThreadId();
    WaitForSingleObject(wake, INFINITE);
    if (quit) return;
    EXCEPTION_RECORD* record = exception ? exception->ExceptionRecord : nullptr;
    owner->HandleCrash(Crash{record ? static_cast<unsigned int>(record->ExceptionCode) : 0u, record,
                             exception ? exception->ContextRecord : nullptr});
    SetEvent(done);
}

MiniDmpSender::MiniDmpSender(const char* database, const char* application, const char* version,
                             const char* title, unsigned long flags)
    : m_database(database ? database : ""),
      m_application(application ? application : ""),
      m_version(version ? version : ""),
      m_title(title ? title : ""),
      m_flags(flags),
      m_reportRoot(ReportRoot(m_database)),
      m_platform(std::make_unique<Platform>()) {
    Platform& platform = *m_platform;
    platform.owner = this;
    platform.wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    platform.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!platform.wake || !platform.done) return;
    platform.helper = std::thread([&platform] { platform.HelperThreadProc(); });
    MiniDmpSender::Platform* expected = nullptr;
    if (g_installed.compare_exchange_strong(expected, &platform)) {
        platform.previousFilter = SetUnhandledExceptionFilter(OnUnhandledException);
        platform.previousAbortHandler = std::signal(SIGABRT, OnAbort);
    }
}

MiniDmpSender::~MiniDmpSender() {
    Platform& platform = *m_platform;
    MiniDmpSender::Platform* expected = &platform;
    if (g_installed.compare_exchange_strong(expected, nullptr)) {
        SetUnhandledExceptionFilter(platform.previousFilter);
        std::signal(SIGABRT,
                    platform.previousAbortHandler == SIG_ERR ? SIG_DFL : platform.previousAbortHandler);
    }
    if (platform.helper.joinable()) {
        platform.quit = true;
        SetEvent(platform.wake);
        platform.helper.join();
    }
    if (platform.wake) CloseHandle(platform.wake);
    if (platform.done) CloseHandle(platform.done);
}

void MiniDmpSender::WriteDump(const fs::path& folder, const Crash& crash) const {
    const Platform& platform = *m_platform;
    HANDLE file = CreateFileW((folder / L"minidump.dmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    MINIDUMP_EXCEPTION_INFORMATION exception{};
    exception.ThreadId = platform.faultingThreadId;
    exception.ExceptionPointers = platform.exception;
    exception.ClientPointers = FALSE;
    MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal,
                      platform.exception ? &exception : nullptr, nullptr, nullptr);
    CloseHandle(file);
}

bool MiniDmpSender::CreateReportFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    return fs::is_directory(fs::symlink_status(folder, error));
}

unsigned long MiniDmpSender::CurrentProcessId() {
    return GetCurrentProcessId();
}

fs::path MiniDmpSender::ReportRoot(const std::string& database) {
    std::vector<wchar_t> buffer(32768, L'\0');
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer.data(), static_cast<DWORD>(buffer.size()));
    // The user's temporary folder is the user's alone, unlike the shared one on POSIX.
    if (length == 0 || length >= buffer.size())
        length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0 || length >= buffer.size()) return fs::path();
    fs::path base(std::wstring(buffer.data(), length));
    return base / L"Vantora" / fs::u8path(database) / L"CrashReports";
}
