#pragma once
// Crash reporting of the plug-in: registers the process with MiniDmpSender
// (database "Kestrel", application "kestrel-sdplugin", the plug-in version,
// the machine identifier as user name while telemetry is on, else no
// name) and, when a crash is reported, logs
// "Unhandled exception: <code>", sets it as the report's description,
// attaches a ZIP of the log folder and sends the crash telemetry event
// synchronously. Each of these parts runs on its own: what one throws (no
// thread or memory left, a name that cannot be converted) is logged while
// the log answers, and the others still run. Starts the upload of earlier
// reports when an upload URL is configured.
//
// Threads: constructed and destroyed on the main thread. OnCrash runs on the
// sender's helper thread while the faulting thread waits (bounded); it takes
// no lock of its own, and each of its log records is written from a further
// thread that it waits for at most kLogLimit (after one time-out it writes no
// more), so a log lock held by the faulting thread cannot stop the archive
// and the telemetry event.

#include <chrono>
#include <memory>

class MiniDmpSender;
class CrashReportUploader;

class CrashReporter {
public:
    static constexpr unsigned long kFlags = 0x6011;
    static constexpr std::chrono::seconds kLogLimit{2};

    CrashReporter();
    ~CrashReporter();
    CrashReporter(const CrashReporter&) = delete;
    CrashReporter& operator=(const CrashReporter&) = delete;

    // The crash callback: does nothing for codes other than 80; always false.
    static bool OnCrash(unsigned int code, void* record, void* context);

private:
    std::unique_ptr<MiniDmpSender> m_sender;
    std::unique_ptr<CrashReportUploader> m_uploader;
};
