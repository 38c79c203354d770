#include "lifetime/CrashReportUploader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <vector>

#include "diagnostics/CrashReportThread.h"
#include "diagnostics/Log.h"
#include "diagnostics/Platform.h"
#include "telemetry/HttpPost.h"

#ifndef KESTREL_CRASH_DEFAULT_URL
#define KESTREL_CRASH_DEFAULT_URL ""
#endif

namespace fs = std::filesystem;

namespace {

// A report is a few files of some hundred kilobytes at most; a slow uplink
// gets longer than a telemetry event, but not without end.
constexpr std::chrono::seconds kPostLimit{60};

constexpr size_t kReadChunk = 65536;

// Appends the regular file |path| (never through a link) to |body| in chunks,
// keeping |body| within kMaxPostBytes; false when the file cannot be opened
// or would go beyond that.
bool AppendFile(const fs::path& path, std::string& body) {
    constexpr size_t kMax = CrashReportUploader::kMaxPostBytes;
    if (body.size() > kMax) return false;
    std::FILE* file = OpenRegularFile(path);
    if (!file) return false;
    size_t got = 0;
    size_t wanted = 0;
    do {
        size_t at = body.size();
        // One byte beyond the limit, when near it, tells that the file does not fit.
        wanted = std::min(kReadChunk, kMax - at + 1);
        body.resize(at + wanted);
        got = std::fread(&body[at], 1, wanted, file);
        body.resize(at + got);
    } while (got == wanted && body.size() <= kMax);
    bool read = std::ferror(file) == 0 && body.size() <= kMax;
    std::fclose(file);
    return read;
}

std::string Boundary() {
    std::random_device random;
    return "----kestrel-crash-report-" + std::to_string(random()) + std::to_string(random());
}

bool IsRegularFile(const fs::directory_entry& entry) {
    std::error_code ignored;
    return entry.symlink_status(ignored).type() == fs::file_type::regular;
}

// Every regular file directly in |folder| as a part "file" with its name,
// plus the folder's name as the part "report"; nothing when a file cannot be
// read or the body would go beyond kMaxPostBytes.
std::optional<std::string> MultipartBody(const fs::path& folder, const std::string& boundary) {
    std::string body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"report\"\r\n\r\n" +
                       folder.filename().u8string() + "\r\n";
    std::error_code error;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        if (!IsRegularFile(*it)) continue;
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                it->path().filename().u8string() + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
        if (!AppendFile(it->path(), body)) return std::nullopt;
        body += "\r\n";
    }
    if (error) return std::nullopt;
    return body + "--" + boundary + "--\r\n";
}

// The status of the response's first header line, "HTTP/1.1 204 No Content".
int StatusOf(const std::string& headers) {
    size_t space = headers.find(' ');
    if (headers.compare(0, 5, "HTTP/") != 0 || space == std::string::npos) return 0;
    return std::strtol(headers.c_str() + space + 1, nullptr, 10);
}

bool Post(const fs::path& folder, const std::string& url, const HttpPostDeadline* deadline) {
    std::string boundary = Boundary();
    std::optional<std::string> body = MultipartBody(folder, boundary);
    if (!body) {
        LogWarning(
            "CrashReportUploader::UploadPending: %s cannot be read whole or holds more than %u MiB; "
            "it stays",
            folder.filename().u8string().c_str(),
            static_cast<unsigned>(CrashReportUploader::kMaxPostBytes >> 20));
        return false;
    }
    std::string headers = "Content-Type: multipart/form-data; boundary=" + boundary + "\r\n";
    int status = 0;
    bool answered = HttpPostRaw(
        url, "kestrel-sdplugin", headers, body->data(), body->size(),
        [&status](const std::string& responseHeaders, const char*, size_t) {
            status = StatusOf(responseHeaders);
            return false;  // the status is all we need
        },
        HttpPostLimits{kPostLimit, deadline});
    return answered && status >= 200 && status < 300;
}

}  // namespace

CrashReportUploader::CrashReportUploader(fs::path root, std::string url) {
    if (url.empty()) return;
    m_thread = std::thread([this, root = std::move(root), url = std::move(url)] {
        PrepareThreadForCrashReports();
        UploadPending(root, url, m_stop, &m_deadline);
    });
}

CrashReportUploader::~CrashReportUploader() {
    // The process is ending: the report under way is cut off and stays for
    // the next start.
    m_stop = true;
    m_deadline.BringForward(HttpPostDeadline::Clock::now());
    Join();
}

void CrashReportUploader::Join() {
    if (m_thread.joinable()) m_thread.join();
}

std::string CrashReportUploader::ConfiguredUrl() {
    const char* url = std::getenv("KESTREL_CRASH_URL");
    return url && *url ? url : KESTREL_CRASH_DEFAULT_URL;
}

int CrashReportUploader::UploadPending(const fs::path& root, const std::string& url,
                                       const std::atomic<bool>& stop, const HttpPostDeadline* deadline) {
    std::vector<fs::path> reports;
    std::error_code listError;
    for (fs::directory_iterator it(root, listError); !listError && it != fs::directory_iterator();
         it.increment(listError)) {
        // A report is a real folder (not a link) holding a regular "report.ini".
        std::error_code ignored;
        if (it->symlink_status(ignored).type() == fs::file_type::directory &&
            fs::symlink_status(it->path() / "report.ini", ignored).type() == fs::file_type::regular)
            reports.push_back(it->path());
    }
    int accepted = 0;
    for (const fs::path& folder : reports) {
        if (stop) break;
        try {
            if (!Post(folder, url, deadline)) continue;
        } catch (const std::exception& error) {
            // A name or URL that cannot be converted, or no memory: the folder stays.
            LogWarning("CrashReportUploader::UploadPending: a report is not sent: %s", error.what());
            continue;
        }
        ++accepted;
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    return accepted;
}
