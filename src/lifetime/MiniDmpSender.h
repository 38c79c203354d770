#pragma once
// Catches the crash of the process, stores a report folder and calls the
// registered callback, in place of a closed crash-reporting library whose
// calls it keeps. Windows: an unhandled-exception filter; the report holds a
// minidump written with dbghelp. POSIX: handlers for SIGSEGV, SIGBUS, SIGILL,
// SIGFPE and SIGABRT on an alternate stack; the report holds a text
// backtrace, and the process then dies with the original signal.
//
// A report folder <ReportRoot>/<yyyymmdd-hhmmss-pid>/ holds the dump or
// backtrace ("minidump.dmp" / "backtrace.txt") and "report.ini" (written
// before the callback runs), then "description.txt", "user.txt" and a copy
// of every additional file (written after it; a file handed over with
// AfterReport::Remove is then deleted). Each of these parts is
// written on its own: one that fails or throws (the callback too) costs only
// itself. On POSIX the folder is the user's alone (0700, files 0600), and
// every file is created new, never through a link.
//
// Threads: the set-up thread constructs the sender and calls the setters.
// At a crash the faulting thread only captures what must come from its own
// stack and wakes a helper thread, started by the constructor, which does
// all the work (dump, callback, files). The faulting thread waits for it at
// most kCrashWorkLimit, so a lock that the faulting thread held (the log's,
// the heap's, an HTTP library's) can stall the report but never hang the
// process. m_mutex guards the texts, the callback and the additional files;
// it is never held while the callback runs.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The exception record that POSIX crashes hand to the callback. Like the
// Windows EXCEPTION_RECORD, it starts with a 32-bit Windows exception code:
// 0xC0000005 (access violation) for SIGSEGV and SIGBUS, 0xC000001D (illegal
// instruction) for SIGILL, the matching arithmetic code for SIGFPE
// (0xC0000094 integer divide by zero, 0xC0000095 integer overflow,
// 0xC000008E..0xC0000093 floating-point faults), and 0x40000015 (fatal
// application exit, which the Windows back-end raises for abort() too) for SIGABRT.
struct SignalExceptionRecord {
    uint32_t exceptionCode = 0;
    int signal = 0;
    int signalCode = 0;       // si_code
    void* address = nullptr;  // si_addr
};

class MiniDmpSender {
public:
    // Notification code of a crash, with the exception record as first pointer.
    static constexpr unsigned int kCrashNotification = 0x50;
    static constexpr std::chrono::seconds kCrashWorkLimit{45};

    // (notification code, exception record or null, platform context or null).
    // The result is ignored, as the closed library's callers return false.
    using Callback = bool (*)(unsigned int code, void* record, void* context);

    // Installs the crash handler; only one sender can be installed at a time.
    // The texts are UTF-8, as are those of the setters.
    MiniDmpSender(const char* database, const char* application, const char* version, const char* title,
                  unsigned long flags);
    // Removes the crash handler and ends the helper thread.
    ~MiniDmpSender();
    MiniDmpSender(const MiniDmpSender&) = delete;
    MiniDmpSender& operator=(const MiniDmpSender&) = delete;

    void setDefaultUserName(const char* name);
    void setDefaultUserEmail(const char* email);
    void setDefaultUserDescription(const char* description);
    void setCallback(Callback callback);
    // What becomes of an additional file once the report is written.
    enum class AfterReport { Keep, Remove };
    // Adds a file that is copied into the report folder; false for an empty
    // path. With Remove the file is deleted once the report is written (also
    // when no report folder could be made), so that its content stays in the
    // report alone.
    bool sendAdditionalFile(const std::filesystem::path& path, AfterReport after = AfterReport::Keep);

    // Where report folders of |database| are stored: the user's local
    // application data (Windows; else the user's temporary folder) or state
    // folder (POSIX: $XDG_STATE_HOME, else ~/.local/state, the home folder
    // coming from the user database when HOME is not set), under
    // Vantora/<database>/CrashReports. Empty when the POSIX user has no home
    // folder: then no report folder is stored.
    static std::filesystem::path ReportRoot(const std::string& database);

    // The OS hooks, opaque here: MiniDmpSender_win32.cpp / _posix.cpp.
    struct Platform;

private:
    // What the helper thread needs to know about one crash.
    struct Crash {
        unsigned int exceptionCode = 0;
        void* record = nullptr;
        void* context = nullptr;
    };

    // Runs on the helper thread: the whole report.
    void HandleCrash(const Crash& crash) noexcept;
    std::filesystem::path MakeReportFolder() const;
    void WriteReportIni(const std::filesystem::path& folder, const Crash& crash) const;
    void WriteUserFiles(const std::filesystem::path& folder) const;
    void RemoveHandedOverFiles() const;
    // Platform: makes the report folder (and missing parents) for the user
    // alone; true when |folder| is a folder of the user's that can be used.
    static bool CreateReportFolder(const std::filesystem::path& folder);
    // Platform: the dump (minidump or backtrace) into |folder|.
    void WriteDump(const std::filesystem::path& folder, const Crash& crash) const;
    static unsigned long CurrentProcessId();

    const std::string m_database;
    const std::string m_application;
    const std::string m_version;
    const std::string m_title;
    const unsigned long m_flags;
    const std::filesystem::path m_reportRoot;

    mutable std::mutex m_mutex;  // guards the members below
    std::string m_userName;
    std::string m_userEmail;
    std::string m_userDescription;
    Callback m_callback = nullptr;
    struct AdditionalFile {
        std::filesystem::path path;
        AfterReport after = AfterReport::Keep;
    };
    std::vector<AdditionalFile> m_additionalFiles;

    std::unique_ptr<Platform> m_platform;
};
