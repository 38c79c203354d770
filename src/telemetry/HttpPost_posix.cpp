#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "diagnostics/Platform.h"
#include "telemetry/CurlLibrary.h"
#include "telemetry/HttpPost.h"

// libcurl with the limits of the Windows client: 5 s to connect, then no
// wait while sending, or while waiting for and receiving the response, may
// last 5 s without a byte moving (checked by the progress callback, which
// curl calls about once a second or more). Like WinINet's per-operation
// timeouts this bounds every wait without limiting a slow but steady
// transfer; curl's own low-speed limit averages over a window and would let
// an unanswered request hang for about twice as long. The overall limit is
// curl's transfer timeout; the transfer runs on a multi handle that wakes at
// least every 100 ms, so a shared deadline that another thread brought
// forward ends it promptly, not only at curl's next idle progress call.
// The response is handed to the sink in 32768-byte chunks with the same end
// rule as the Windows reads: a last, shorter chunk, possibly empty.
// libcurl is reached through CurlLibrary, which loads it on the first post;
// without it every post fails at once.

namespace {

constexpr long kTimeoutMilliseconds = 5000;
using Clock = std::chrono::steady_clock;
constexpr size_t kChunkSize = 0x8000;
constexpr char kDefaultUserAgent[] = "NSIS HTTP Client";
constexpr long kFollowNoRedirects = 0L;
constexpr int kWakeMilliseconds = 100;  // how soon a shared deadline's move is seen

// One transfer's response, filled by curl's callbacks on the calling thread.
struct Response {
    const CurlLibrary* lib = nullptr;
    CURL* curl = nullptr;
    const HttpResponseSink* sink = nullptr;
    const HttpPostLimits* limits = nullptr;
    Clock::time_point started = Clock::now();
    bool began = false;    // a status line arrived
    bool stopped = false;  // the sink asked to stop
    bool full = false;     // kHttpResponseLimit bytes arrived
    size_t received = 0;   // body bytes taken from curl
    std::string headers;   // the latest response's header block
    std::wstring wideHeaders;
    std::string pending;  // body bytes not yet handed to the sink

    bool connected = false;
    curl_off_t moved = 0;  // bytes sent plus body bytes received
    Clock::time_point lastActivity = Clock::now();

    bool Deliver(const char* data, size_t length) {
        if (stopped || !*sink) return true;
        if (!(*sink)(wideHeaders, data, length)) stopped = true;
        return !stopped;
    }
};

std::wstring WidenHeaders(const std::string& text) {
    try {
        return Utf8ToWide(text);
    } catch (const std::range_error&) {
        return std::wstring(text.begin(), text.end());  // bytes as Latin-1
    }
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto& response = *static_cast<Response*>(user);
    std::string line(data, size * count);
    // An interim response (100 Continue) is followed by a new status line.
    if (line.compare(0, 5, "HTTP/") == 0) {
        response.began = true;
        response.headers.clear();
    }
    response.headers += line;
    response.lastActivity = Clock::now();
    response.wideHeaders = WidenHeaders(response.headers);
    return size * count;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto& response = *static_cast<Response*>(user);
    size_t taken = std::min(size * count, kHttpResponseLimit - response.received);
    response.pending.append(data, taken);
    response.received += taken;
    response.full = response.received == kHttpResponseLimit;
    size_t offset = 0;
    while (response.pending.size() - offset >= kChunkSize) {
        if (!response.Deliver(response.pending.data() + offset, kChunkSize)) return 0;  // aborts the transfer
        offset += kChunkSize;
    }
    response.pending.erase(0, offset);
    return response.full ? 0 : size * count;  // a full response ends the transfer
}

// Aborts the transfer (non-zero result) once it has stalled for the timeout
// or its deadline has passed.
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    auto& response = *static_cast<Response*>(user);
    Clock::time_point now = Clock::now();
    if (now >= HttpPostEnd(*response.limits, response.started)) return 1;
    if (!response.connected) {
        // Until the connection stands, the connect timeout governs.
        curl_off_t connectTime = 0;
        response.lib->easyGetinfo(response.curl, CURLINFO_CONNECT_TIME_T, &connectTime);
        if (connectTime <= 0) return 0;
        response.connected = true;
        response.lastActivity = now;
    }
    if (received + sent != response.moved) {
        response.moved = received + sent;
        response.lastActivity = now;
    }
    return now - response.lastActivity > std::chrono::milliseconds(kTimeoutMilliseconds) ? 1 : 0;
}

// Runs the transfer until it ends or the post's deadline passes.
void Perform(CURL* curl, const Response& response) {
    const CurlLibrary& lib = *response.lib;
    CURLM* multi = lib.multiInit();
    if (!multi) return;
    lib.multiAddHandle(multi, curl);
    int running = 1;
    while (lib.multiPerform(multi, &running) == CURLM_OK && running > 0 &&
           Clock::now() < HttpPostEnd(*response.limits, response.started)) {
        lib.multiPoll(multi, nullptr, 0, kWakeMilliseconds, nullptr);
    }
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

void SetOptions(CURL* curl, const std::string& url, const std::string& agent, curl_slist* headers,
                const void* body, size_t bodyLength, long overallMilliseconds, Response* response) {
    auto set = response->lib->easySetopt;
    set(curl, CURLOPT_URL, url.c_str());
    set(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    set(curl, CURLOPT_FOLLOWLOCATION, kFollowNoRedirects);
    set(curl, CURLOPT_NOSIGNAL, 1L);
    set(curl, CURLOPT_CONNECTTIMEOUT_MS, kTimeoutMilliseconds);
    set(curl, CURLOPT_TIMEOUT_MS, overallMilliseconds);
    set(curl, CURLOPT_NOPROGRESS, 0L);
    set(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    set(curl, CURLOPT_XFERINFODATA, response);
    set(curl, CURLOPT_USERAGENT, agent.c_str());
    set(curl, CURLOPT_ACCEPT_ENCODING, "");  // decode compressed responses
    set(curl, CURLOPT_HTTPHEADER, headers);
    set(curl, CURLOPT_POST, 1L);
    set(curl, CURLOPT_POSTFIELDS, body);
    set(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodyLength));
    set(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    set(curl, CURLOPT_HEADERDATA, response);
    set(curl, CURLOPT_WRITEFUNCTION, OnBody);
    set(curl, CURLOPT_WRITEDATA, response);
}

}  // namespace

bool HttpPostRaw(const std::wstring& url, const wchar_t* userAgent, const wchar_t* headers,
                 size_t headersLength, const void* body, size_t bodyLength, const HttpResponseSink& sink,
                 const HttpPostLimits& limits) {
    Response response;
    response.limits = &limits;
    auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
        HttpPostEnd(limits, response.started) - response.started);
    if (remaining.count() <= 0) return false;

    std::string narrowUrl, agent, extraHeaders;
    try {
        narrowUrl = WideToUtf8(url);
        agent = userAgent ? WideToUtf8(userAgent) : kDefaultUserAgent;
        extraHeaders = headers ? WideToUtf8(std::wstring(headers, headersLength)) : "";
    } catch (const std::range_error&) {
        return false;
    }
    HttpWaitForStart(HttpPostEnd(limits, response.started));
    const CurlLibrary* lib = CurlLibrary::Get();
    if (!lib || !IsParsableUrl(*lib, narrowUrl)) return false;

    CURL* curl = lib->easyInit();
    if (!curl) return false;
    response.lib = lib;
    response.curl = curl;
    response.sink = &sink;
    curl_slist* headerList = HeaderList(*lib, extraHeaders);
    SetOptions(curl, narrowUrl, agent, headerList, body, bodyLength, static_cast<long>(remaining.count()),
               &response);
    Perform(curl, response);
    lib->easyCleanup(curl);
    lib->slistFreeAll(headerList);
    if (response.began && !response.full) response.Deliver(response.pending.data(), response.pending.size());
    return response.began;
}
