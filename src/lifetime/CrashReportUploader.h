#pragma once
// Sends the crash reports that earlier runs left behind. Each complete report
// folder (a real folder, not a link, that holds a regular "report.ini") is
// posted as one multipart/form-data request, every regular file directly in
// the folder a part (links are never followed), and removed once the server
// accepts it (HTTP 2xx). A report whose post would go beyond kMaxPostBytes
// stays, with a line in the log. Without an upload URL nothing is sent and
// the folders stay for the user to attach to a support request.
//
// Threads: the constructor starts one background thread that makes a single
// pass over the folders, so start-up does not wait for the network; the
// destructor asks it to stop, ends the current post at once through the
// shared post deadline and joins it. m_stop and m_deadline (both atomic) are
// the only shared state.

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "telemetry/HttpPostDeadline.h"

class CrashReportUploader {
public:
    // Far above a report (a minidump and a ZIP of the rotated logs), far
    // below what the process can hold.
    static constexpr size_t kMaxPostBytes = 64 * 1024 * 1024;

    // Starts the pass over |root|; does nothing when |url| is empty.
    CrashReportUploader(std::filesystem::path root, std::string url);
    ~CrashReportUploader();
    CrashReportUploader(const CrashReportUploader&) = delete;
    CrashReportUploader& operator=(const CrashReportUploader&) = delete;

    // KESTREL_CRASH_URL from the environment when set and not empty, else the
    // URL fixed at build time (empty by default).
    static std::string ConfiguredUrl();

    // One pass on the caller's thread; returns how many reports were accepted.
    // Each post ends by its own limit or by |deadline|, when given.
    static int UploadPending(const std::filesystem::path& root, const std::string& url,
                             const std::atomic<bool>& stop, const HttpPostDeadline* deadline = nullptr);

    // Waits for the background pass to end (tests).
    void Join();

private:
    std::atomic<bool> m_stop{false};
    HttpPostDeadline m_deadline;  // brought forward to "now" by the destructor
    std::thread m_thread;
};
