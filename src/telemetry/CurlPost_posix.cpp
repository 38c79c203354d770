#include "telemetry/CurlPost_posix.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>

// libcurl with the limits of the Windows client: 5 s to connect, then no
// wait while sending, or while waiting for and receiving the response, may
// last 5 s without a byte moving (checked by the progress callback, which
// curl calls about once a second or more). Like WinINet's per-operation
// timeouts this bounds every wait without limiting a slow but steady
// transfer; curl's own low-speed limit averages over a window and would let
// an unanswered request hang for about twice as long. The overall limit is
// curl's transfer timeout; the plug-in ends the helper earlier when its
// shared deadline is brought forward.

namespace {

constexpr long kTimeoutMilliseconds = 5000;
using Clock = std::chrono::steady_clock;
constexpr long kFollowNoRedirects = 0L;
constexpr int kWakeMilliseconds = 100;
constexpr char kNoProtocolLimit[] =
    "CurlPost: libcurl cannot limit posts to http and https; telemetry and crash report upload are off";

// One transfer's state, seen by curl's callbacks.
struct Transfer {
    const CurlLibrary* lib = nullptr;
    CURL* curl = nullptr;
    int out = -1;
    bool connected = false;
    curl_off_t moved = 0;  // bytes sent plus body bytes received
    Clock::time_point lastActivity = Clock::now();

    bool Send(char type, const char* data, size_t length) {
        return SendPostFrame(out, type, std::string_view(data, length));
    }
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    transfer.lastActivity = Clock::now();
    return transfer.Send(post_frame::kHeaderLine, data, size * count) ? size * count : 0;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    return transfer.Send(post_frame::kBodyBytes, data, size * count) ? size * count : 0;
}

// Aborts the transfer (non-zero result) once it has stalled for the timeout.
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    auto& transfer = *static_cast<Transfer*>(user);
    Clock::time_point now = Clock::now();
    if (!transfer.connected) {
        // Until the connection stands, the connect timeout governs.
        curl_off_t connectTime = 0;
        transfer.lib->easyGetinfo(transfer.curl, CURLINFO_CONNECT_TIME_T, &connectTime);
        if (connectTime <= 0) return 0;
        transfer.connected = true;
        transfer.lastActivity = now;
    }
    if (received + sent != transfer.moved) {
        transfer.moved = received + sent;
        transfer.lastActivity = now;
    }
    return now - transfer.lastActivity > std::chrono::milliseconds(kTimeoutMilliseconds) ? 1 : 0;
}

// Runs the transfer until it ends.
void Perform(const CurlLibrary& lib, CURL* curl) {
    CURLM* multi = lib.multiInit();
    if (!multi) return;
    lib.multiAddHandle(multi, curl);
    int running = 1;
    while (lib.multiPerform(multi, &running) == CURLM_OK && running > 0)
        lib.multiPoll(multi, nullptr, 0, kWakeMilliseconds, nullptr);
    lib.multiRemoveHandle(multi, curl);
    lib.multiCleanup(multi);
}

bool IsParsableUrl(const CurlLibrary& lib, const std::string& url) {
    CURLU* parsed = lib.url();
    if (!parsed) return false;
    bool ok = lib.urlSet(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    lib.urlCleanup(parsed);
    return ok;
}

// Splits the CR LF separated extra headers into curl's list.
curl_slist* HeaderList(const CurlLibrary& lib, const std::string& headers) {
    curl_slist* list = lib.slistAppend(nullptr, "Expect:");  // send the body at once
    size_t start = 0;
    while (start < headers.size()) {
        size_t end = headers.find("\r\n", start);
        if (end == std::string::npos) end = headers.size();
        if (end > start) list = lib.slistAppend(list, headers.substr(start, end - start).c_str());
        start = end + 2;
    }
    return list;
}

// Limits the transfer to http and https: the names where libcurl knows
// them (7.85 on), else the older bit mask. False when libcurl takes neither:
// then the URL alone would decide what is opened (a file, a local service).
bool LimitProtocols(const CurlLibrary& lib, CURL* curl) {
    if (lib.easySetopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK) return true;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return lib.easySetopt(curl, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS)) ==
           CURLE_OK;
#pragma GCC diagnostic pop
}

void SetOptions(CURL* curl, const PostRequest& request, curl_slist* headers, Transfer* transfer) {
    auto set = transfer->lib->easySetopt;
    set(curl, CURLOPT_URL, request.url.c_str());
    set(curl, CURLOPT_FOLLOWLOCATION, kFollowNoRedirects);
    set(curl, CURLOPT_NOSIGNAL, 1L);
    set(curl, CURLOPT_CONNECTTIMEOUT_MS, kTimeoutMilliseconds);
    set(curl, CURLOPT_TIMEOUT_MS, request.timeLimitMilliseconds);
    set(curl, CURLOPT_NOPROGRESS, 0L);
    set(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    set(curl, CURLOPT_XFERINFODATA, transfer);
    set(curl, CURLOPT_USERAGENT, request.agent.c_str());
    set(curl, CURLOPT_ACCEPT_ENCODING, "");  // decode compressed responses
    set(curl, CURLOPT_HTTPHEADER, headers);
    set(curl, CURLOPT_POST, 1L);
    set(curl, CURLOPT_POSTFIELDS, request.body.data());
    set(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    set(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    set(curl, CURLOPT_HEADERDATA, transfer);
    set(curl, CURLOPT_WRITEFUNCTION, OnBody);
    set(curl, CURLOPT_WRITEDATA, transfer);
}

}  // namespace

bool SendPostFrame(int out, char type, std::string_view payload) {
    std::string frame;
    if (!AppendPostFrame(frame, type, payload)) return false;
    size_t written = 0;
    while (written < frame.size()) {
        ssize_t result = write(out, frame.data() + written, frame.size() - written);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) return false;
        written += static_cast<size_t>(result);
    }
    return true;
}

bool CurlPost(const CurlLibrary& lib, const PostRequest& request, int out) {
    if (!IsParsableUrl(lib, request.url)) return false;
    CURL* curl = lib.easyInit();
    if (!curl) return false;
    if (!LimitProtocols(lib, curl)) {
        lib.easyCleanup(curl);
        SendPostFrame(out, post_frame::kUnavailable, kNoProtocolLimit);
        return false;
    }
    Transfer transfer;
    transfer.lib = &lib;
    transfer.curl = curl;
    transfer.out = out;
    curl_slist* headerList = HeaderList(lib, request.headers);
    SetOptions(curl, request, headerList, &transfer);
    Perform(lib, curl);
    lib.easyCleanup(curl);
    lib.slistFreeAll(headerList);
    return true;
}
