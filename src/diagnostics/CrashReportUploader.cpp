#include "diagnostics/CrashReportUploader.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

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

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string Boundary() {
    std::random_device random;
    return "----kestrel-crash-report-" + std::to_string(random()) + std::to_string(random());
}

// Every regular file of |folder| as a part "file" with its name, plus the
// folder's name as the part "report".
std::string MultipartBody(const fs::path& folder, const std::string& boundary) {
    std::string body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"report\"\r\n\r\n" +
                       folder.filename().u8string() + "\r\n";
    std::error_code error;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        std::error_code ignored;
        if (!it->is_regular_file(ignored)) continue;
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                it->path().filename().u8string() + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
                ReadFile(it->path()) + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

// The status of the response's first header line, "HTTP/1.1 204 No Content".
int StatusOf(const std::wstring& headers) {
    size_t space = headers.find(L' ');
    if (headers.compare(0, 5, L"HTTP/") != 0 || space == std::wstring::npos) return 0;
    return std::wcstol(headers.c_str() + space + 1, nullptr, 10);
}

bool Post(const fs::path& folder, const std::string& url, const HttpPostDeadline* deadline) {
    std::string boundary = Boundary();
    std::string body = MultipartBody(folder, boundary);
    std::wstring headers = L"Content-Type: multipart/form-data; boundary=" + Utf8ToWide(boundary) + L"\r\n";
    int status = 0;
    bool answered = HttpPostRaw(
        Utf8ToWide(url), L"kestrel-sdplugin", headers.c_str(), headers.size(), body.data(), body.size(),
        [&status](const std::wstring& responseHeaders, const char*, size_t) {
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
    std::error_code error;
    for (fs::directory_iterator it(root, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        std::error_code ignored;
        if (it->is_directory(ignored) && fs::exists(it->path() / "report.ini", ignored))
            reports.push_back(it->path());
    }
    int accepted = 0;
    for (const fs::path& folder : reports) {
        if (stop) break;
        try {
            if (!Post(folder, url, deadline)) continue;
        } catch (const std::exception&) {
            continue;  // a name or URL that cannot be converted: the folder stays
        }
        ++accepted;
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    return accepted;
}
