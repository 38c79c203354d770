// POSIX crash hooks: fatal signals are handled on an alternate stack (so a
// stack overflow of the registering thread is caught too); the handler only
// does async-signal-safe work (capture the backtrace, write to a pipe, poll)
// and leaves everything else to the helper thread.

#include <execinfo.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "diagnostics/CrashReportThread.h"
#include "diagnostics/Platform.h"
#include "lifetime/MiniDmpSender.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];
constexpr size_t kAlternateStackSize = 256 * 1024;
constexpr int kMaxFrames = 64;
constexpr char kWakeCrash = 1;
constexpr char kWakeQuit = 0;

uint32_t ExceptionCodeForSignal(int signal, int code) {
    switch (signal) {
        case SIGSEGV:
        case SIGBUS:
            return 0xC0000005;  // access violation
        case SIGILL:
            return 0xC000001D;  // illegal instruction
        case SIGABRT:
            return 0x40000015;  // fatal application exit
        case SIGFPE:
            switch (code) {
                case FPE_INTOVF:
                    return 0xC0000095;
                case FPE_FLTDIV:
                    return 0xC000008E;
                case FPE_FLTRES:
                    return 0xC000008F;
                case FPE_FLTINV:
                    return 0xC0000090;
                case FPE_FLTOVF:
                    return 0xC0000091;
                case FPE_FLTUND:
                    return 0xC0000093;
                default:
                    return 0xC0000094;  // integer divide by zero
            }
        default:
            return 0;
    }
}

int64_t MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Async-signal-safe: waits until |fd| is readable or |limitMs| has passed.
bool WaitReadable(int fd, int64_t limitMs) {
    int64_t deadline = MonotonicMilliseconds() + limitMs;
    for (int64_t left = limitMs; left > 0; left = deadline - MonotonicMilliseconds()) {
        pollfd wait{fd, POLLIN, 0};
        int ready = poll(&wait, 1, static_cast<int>(left));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
    return false;
}

void DieWithSignal(int signal) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    // Delivered when the handler returns; a hardware fault also repeats then.
    raise(signal);
}

void OnFatalSignal(int signal, siginfo_t* info, void* context);

}  // namespace

struct MiniDmpSender::Platform {
    MiniDmpSender* owner = nullptr;
    int wake[2] = {-1, -1};  // handler -> helper: kWakeCrash, or kWakeQuit at destruction
    int done[2] = {-1, -1};  // helper -> handler: the report is complete
    std::thread helper;
    pthread_t helperId{};
    std::atomic<bool> reportDone{false};
    std::unique_ptr<char[]> stackMemory;
    stack_t previousStack{};
    struct sigaction previous[kSignalCount] {};

    // Written by the faulting thread before it wakes the helper.
    SignalExceptionRecord record;
    void* context = nullptr;
    void* frames[kMaxFrames] = {};
    int frameCount = 0;

    void HelperThreadProc();
};

namespace {
std::atomic<MiniDmpSender::Platform*> g_installed{nullptr};
std::atomic<bool> g_crashing{false};
}  // namespace

void MiniDmpSender::Platform::HelperThreadProc() {
    PrepareThreadForCrashReports();
    char what = kWakeQuit;
    while (true) {
        ssize_t got = read(wake[0], &what, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got != 1 || what == kWakeQuit) return;
        owner->HandleCrash(Crash{record.exceptionCode, &record, context});
        reportDone = true;
        char signalDone = 1;
        (void)!write(done[1], &signalDone, 1);
    }
}

namespace {

void OnFatalSignal(int signal, siginfo_t* info, void* context) {
    int savedErrno = errno;
    MiniDmpSender::Platform* platform = g_installed.load();
    bool first = !g_crashing.exchange(true);
    if (platform && first) {
        platform->record.exceptionCode = ExceptionCodeForSignal(signal, info ? info->si_code : 0);
        platform->record.signal = signal;
        platform->record.signalCode = info ? info->si_code : 0;
        platform->record.address = info ? info->si_addr : nullptr;
        platform->context = context;
        platform->frameCount = backtrace(platform->frames, kMaxFrames);
        char crash = kWakeCrash;
        if (write(platform->wake[1], &crash, 1) == 1) {
            WaitReadable(platform->done[0], MiniDmpSender::kCrashWorkLimit.count() * 1000);
        }
    } else if (platform && !pthread_equal(pthread_self(), platform->helperId)) {
        // Another thread is already reporting: let it finish (bounded) before dying.
        int64_t deadline = MonotonicMilliseconds() + MiniDmpSender::kCrashWorkLimit.count() * 1000;
        timespec pause{0, 50 * 1000 * 1000};
        while (!platform->reportDone && MonotonicMilliseconds() < deadline) nanosleep(&pause, nullptr);
    }
    errno = savedErrno;
    DieWithSignal(signal);
}

}  // namespace

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
    if (pipe2(platform.wake, O_CLOEXEC) != 0 || pipe2(platform.done, O_CLOEXEC) != 0) return;
    // backtrace() loads the unwinder on first use, which must not happen in the handler.
    void* warmUp[1];
    backtrace(warmUp, 1);

    platform.helper = std::thread([&platform] { platform.HelperThreadProc(); });
    platform.helperId = platform.helper.native_handle();

    platform.stackMemory.reset(new char[kAlternateStackSize]);
    stack_t stack{};
    stack.ss_sp = platform.stackMemory.get();
    stack.ss_size = kAlternateStackSize;
    sigaltstack(&stack, &platform.previousStack);

    MiniDmpSender::Platform* expected = nullptr;
    if (!g_installed.compare_exchange_strong(expected, &platform)) return;  // another sender is installed
    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kSignalCount; ++i) sigaction(kFatalSignals[i], &action, &platform.previous[i]);
}

MiniDmpSender::~MiniDmpSender() {
    Platform& platform = *m_platform;
    MiniDmpSender::Platform* expected = &platform;
    if (g_installed.compare_exchange_strong(expected, nullptr)) {
        for (size_t i = 0; i < kSignalCount; ++i) sigaction(kFatalSignals[i], &platform.previous[i], nullptr);
    }
    if (platform.stackMemory) {
        stack_t current{};
        sigaltstack(nullptr, &current);
        // Only the registering thread uses our stack; put back what it had before.
        if (current.ss_sp == platform.stackMemory.get()) sigaltstack(&platform.previousStack, nullptr);
    }
    if (platform.helper.joinable()) {
        char quit = kWakeQuit;
        (void)!write(platform.wake[1], &quit, 1);
        platform.helper.join();
    }
    for (int fd : {platform.wake[0], platform.wake[1], platform.done[0], platform.done[1]}) {
        if (fd >= 0) close(fd);
    }
}

void MiniDmpSender::WriteDump(const fs::path& folder, const Crash& crash) const {
    const Platform& platform = *m_platform;
    int fd =
        open((folder / "backtrace.txt").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    char header[160];
    int length = std::snprintf(header, sizeof header, "signal %d (%s), code %d, address %p, exception %x\n",
                               platform.record.signal, strsignal(platform.record.signal),
                               platform.record.signalCode, platform.record.address, crash.exceptionCode);
    if (length > 0)
        (void)!write(fd, header, std::min<size_t>(static_cast<size_t>(length), sizeof header - 1));
    backtrace_symbols_fd(platform.frames, platform.frameCount, fd);
    close(fd);
}

unsigned long MiniDmpSender::CurrentProcessId() {
    return static_cast<unsigned long>(getpid());
}

bool MiniDmpSender::CreateReportFolder(const fs::path& folder) {
    // Missing parents are made for the user alone too; existing ones (a
    // linked state folder, say) stay as they are.
    fs::path partial;
    for (const fs::path& part : folder.parent_path()) {
        partial /= part;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    if (mkdir(folder.c_str(), 0700) == 0) return true;
    // A folder of that name from the same second and process is used only
    // when it is a real folder of this user, not a link.
    struct stat status {};
    return errno == EEXIST && lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == geteuid();
}

namespace {

// $HOME, else the home folder of the user database; empty when neither is
// an absolute path. Never a shared folder such as the temporary one, where
// another user could prepare links.
fs::path HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return fs::path();
    if (!found->pw_dir || found->pw_dir[0] != '/') return fs::path();
    return found->pw_dir;
}

}  // namespace

fs::path MiniDmpSender::ReportRoot(const std::string& database) {
    fs::path base;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/') {
        base = state;
    } else {
        fs::path home = HomeFolder();
        if (home.empty()) return fs::path();
        base = home / ".local" / "state";
    }
    return base / "Vantora" / fs::u8path(database) / "CrashReports";
}
