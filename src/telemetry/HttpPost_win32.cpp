#include <windows.h>
// windows.h first: wininet.h relies on its types.
#include <wininet.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "diagnostics/WideText_win32.h"
#include "telemetry/HttpPost.h"

// Each post runs on a thread of its own that owns the post's WinINet
// handles, while the caller waits for it until the post's deadline.
// WinINet's time-outs bound each wait for the network but not a server that
// sends a byte now and then: at the deadline the caller closes the request
// handle, which makes the call blocked in it fail (Windows), and leaves.
// Where closing does not wake a blocked call (Wine) the thread goes on alone
// until its per-operation time-outs or the process end it; it touches only
// the state it shares with the caller. The response, at most
// kHttpResponseLimit bytes, is collected there and handed to the sink on the
// caller's thread.

namespace {

using Clock = HttpPostDeadline::Clock;
constexpr DWORD kTimeoutMilliseconds = 5000;
constexpr DWORD kReadSize = 0x8000;
constexpr auto kWatchInterval = std::chrono::milliseconds(100);  // how soon a shared deadline's move is seen
constexpr auto kCancelGrace = std::chrono::milliseconds(500);    // for a cancelled call to return
constexpr wchar_t kDefaultUserAgent[] = L"NSIS HTTP Client";
// Redirects are answers like any other, as with the libcurl back-end.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT;

// Closes a WinINet handle when it goes out of scope. Declared in the order
// Internet, connection, they close the connection first.
struct InternetHandle {
    HINTERNET handle = nullptr;
    ~InternetHandle() {
        if (handle) InternetCloseHandle(handle);
    }
};

// The parts of a URL, with the buffer sizes the cracker is given.
struct UrlParts {
    std::vector<wchar_t> scheme = std::vector<wchar_t>(64);
    std::vector<wchar_t> host = std::vector<wchar_t>(1024);
    std::vector<wchar_t> user = std::vector<wchar_t>(1024);
    std::vector<wchar_t> password = std::vector<wchar_t>(1024);
    std::vector<wchar_t> path = std::vector<wchar_t>(0x8000);
    URL_COMPONENTSW components{};

    bool Crack(const std::wstring& url) {
        components.dwStructSize = sizeof components;
        components.lpszScheme = scheme.data();
        components.dwSchemeLength = static_cast<DWORD>(scheme.size());
        components.lpszHostName = host.data();
        components.dwHostNameLength = static_cast<DWORD>(host.size());
        components.lpszUserName = user.data();
        components.dwUserNameLength = static_cast<DWORD>(user.size());
        components.lpszPassword = password.data();
        components.dwPasswordLength = static_cast<DWORD>(password.size());
        components.lpszUrlPath = path.data();
        components.dwUrlPathLength = static_cast<DWORD>(path.size());
        return InternetCrackUrlW(url.c_str(), 0, ICU_DECODE, &components) != FALSE;
    }
};

void SetTimeout(HINTERNET internet, DWORD option, DWORD milliseconds = kTimeoutMilliseconds) {
    DWORD value = milliseconds;
    InternetSetOptionW(internet, option, &value, sizeof value);
}

void SetOptions(HINTERNET internet) {
    SetTimeout(internet, INTERNET_OPTION_CONNECT_TIMEOUT);
    SetTimeout(internet, INTERNET_OPTION_SEND_TIMEOUT);
    SetTimeout(internet, INTERNET_OPTION_SEND_TIMEOUT);
    SetTimeout(internet, INTERNET_OPTION_RECEIVE_TIMEOUT);
    SetTimeout(internet, INTERNET_OPTION_RECEIVE_TIMEOUT);
    DWORD connections = 4;
    InternetSetOptionW(internet, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof connections);
    InternetSetOptionW(internet, INTERNET_OPTION_IGNORE_OFFLINE, nullptr, 0);
    BOOL decoding = TRUE;
    InternetSetOptionW(internet, INTERNET_OPTION_HTTP_DECODING, &decoding, sizeof decoding);
}

// One post, shared by the caller and the request thread. The request handle
// is closed exactly once, under the mutex: by the caller at the deadline or
// by the thread when it is done; no call is made on it once it is closed.
struct Exchange {
    // Set by the caller before the thread starts.
    std::wstring url, agent, headers;
    std::string payload;
    DWORD timeout = kTimeoutMilliseconds;

    std::mutex mutex;  // guards everything below
    std::condition_variable changed;
    HINTERNET request = nullptr;
    bool abandoned = false;  // the caller left at the deadline
    bool closed = false;     // the request handle
    bool done = false;       // the thread closed its handles
    bool sent = false;
    bool complete = false;  // a short read ended the body
    std::wstring responseHeaders;
    std::string body;

    // Calls |call| with the request handle unless it was closed; false then
    // or when the call failed.
    template <class Call>
    bool Run(Call call) {
        HINTERNET handle = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (closed) return false;
            handle = request;
        }
        return call(handle) != FALSE;
    }

    void CloseRequest() {
        std::lock_guard<std::mutex> lock(mutex);
        if (closed || !request) return;
        InternetCloseHandle(request);
        closed = true;
    }
};

std::wstring RawHeaders(Exchange& x) {
    DWORD size = 0;
    x.Run([&size](HINTERNET h) {
        return HttpQueryInfoW(h, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr);
    });
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');  // the size plus 2 bytes, rounded up
    bool read = x.Run([&buffer, &size](HINTERNET h) {
        return HttpQueryInfoW(h, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &size, nullptr);
    });
    return read ? std::wstring(buffer.data(), size / sizeof(wchar_t)) : L"";
}

// Reads 32768 bytes at a time until a short read, a failure or the limit.
void ReadBody(Exchange& x) {
    std::vector<char> buffer(kReadSize);
    for (;;) {
        DWORD read = 0;
        if (!x.Run([&buffer, &read](HINTERNET h) {
                return InternetReadFile(h, buffer.data(), kReadSize, &read);
            }))
            return;
        std::lock_guard<std::mutex> lock(x.mutex);
        x.body.append(buffer.data(), read);
        x.complete = read < kReadSize;  // a short read is the end of the response
        if (x.complete || x.body.size() >= kHttpResponseLimit) return;
    }
}

void SendAndRead(Exchange& x, HINTERNET connection, const URL_COMPONENTSW& c) {
    DWORD flags = kRequestFlags | (c.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    HINTERNET handle =
        HttpOpenRequestW(connection, L"POST", c.lpszUrlPath, nullptr, nullptr, nullptr, flags, 0);
    if (!handle) return;
    // Windows hands the Internet handle's send and receive timeouts down to
    // its requests; Wine does not, and would wait for an answer forever.
    // Setting them on the request as well, cut to the time left, bounds the
    // waits on both.
    SetTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, x.timeout);
    SetTimeout(handle, INTERNET_OPTION_SEND_TIMEOUT, x.timeout);
    SetTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, x.timeout);
    {
        std::lock_guard<std::mutex> lock(x.mutex);
        x.request = handle;
        if (x.abandoned) {
            InternetCloseHandle(handle);
            x.closed = true;
            return;
        }
    }
    bool sent = x.Run([&x](HINTERNET h) {
        return HttpSendRequestW(h, x.headers.empty() ? nullptr : x.headers.c_str(),
                                static_cast<DWORD>(x.headers.size()), x.payload.data(),
                                static_cast<DWORD>(x.payload.size()));
    });
    if (sent) {
        std::wstring headers = RawHeaders(x);
        bool overlong = headers.size() > kHttpHeaderLimit;
        if (overlong) headers.resize(kHttpHeaderLimit);  // and the body is not read, as on POSIX
        {
            std::lock_guard<std::mutex> lock(x.mutex);
            x.sent = true;
            x.responseHeaders = std::move(headers);
        }
        if (!overlong) ReadBody(x);
    }
    x.CloseRequest();
}

// The request thread: opens, uses and closes the post's handles, request first.
void RunExchange(Exchange& x) {
    UrlParts parts;
    if (!parts.Crack(x.url)) return;
    InternetHandle internet, connection;
    internet.handle = InternetOpenW(x.agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!internet.handle) return;
    SetOptions(internet.handle);
    const URL_COMPONENTSW& c = parts.components;
    connection.handle = InternetConnectW(
        internet.handle, c.lpszHostName, c.nPort, c.dwUserNameLength ? c.lpszUserName : nullptr,
        c.dwPasswordLength ? c.lpszPassword : nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection.handle) return;
    SendAndRead(x, connection.handle, c);
}

// Waits until the thread is done or the post's deadline has passed.
bool WaitForExchange(Exchange& x, const HttpPostLimits& limits, Clock::time_point started) {
    std::unique_lock<std::mutex> lock(x.mutex);
    for (;;) {
        if (x.done) return true;
        Clock::time_point end = HttpPostEnd(limits, started), now = Clock::now();
        if (now >= end) return false;
        x.changed.wait_until(lock, std::min(end, now + kWatchInterval));
    }
}

// Leaves the post at its deadline: closes the request handle, so that a call
// blocked in it fails, and gives the thread a moment to end.
bool Abandon(Exchange& x) {
    std::unique_lock<std::mutex> lock(x.mutex);
    x.abandoned = true;
    if (x.request && !x.closed) {
        InternetCloseHandle(x.request);
        x.closed = true;
    }
    return x.changed.wait_for(lock, kCancelGrace, [&x] { return x.done; });
}

// Hands the body to the sink in chunks of 32768 bytes; a complete body ends
// with a shorter chunk, possibly empty.
void Deliver(const std::string& headers, const std::string& body, bool complete,
             const HttpResponseSink& sink) {
    size_t offset = 0;
    for (; body.size() - offset >= kReadSize; offset += kReadSize) {
        if (!sink(headers, body.data() + offset, kReadSize)) return;
    }
    if (complete || offset < body.size()) sink(headers, body.data() + offset, body.size() - offset);
}

// The time left until |end|, at most the per-operation time-out.
DWORD OperationTimeout(Clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return static_cast<DWORD>(std::clamp<long long>(left, 1, kTimeoutMilliseconds));
}

// The response headers as UTF-8; a character that has none (an unpaired
// surrogate) leaves only their ASCII characters, enough for the status line.
std::string Utf8Headers(const std::wstring& headers) {
    try {
        return WideToUtf8(headers);
    } catch (const std::range_error&) {
        std::string text;
        for (wchar_t c : headers) text += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
        return text;
    }
}

}  // namespace

bool HttpPostRaw(const std::string& url, const char* userAgent, const std::string& headers, const void* body,
                 size_t bodyLength, const HttpResponseSink& sink, const HttpPostLimits& limits) {
    Clock::time_point started = Clock::now();
    if (!IsHttpUrl(url) || started >= HttpPostEnd(limits, started)) return false;
    auto x = std::make_shared<Exchange>();
    try {
        x->url = Utf8ToWide(url);
        x->agent = userAgent ? Utf8ToWide(userAgent) : kDefaultUserAgent;
        x->headers = Utf8ToWide(headers);
    } catch (const std::range_error&) {
        return false;  // not UTF-8: nothing that could be sent
    }
    UrlParts parts;
    if (!parts.Crack(x->url)) return false;
    if (body && bodyLength) x->payload.assign(static_cast<const char*>(body), bodyLength);
    x->timeout = OperationTimeout(HttpPostEnd(limits, started));
    std::thread thread([x] {
        RunExchange(*x);
        std::lock_guard<std::mutex> lock(x->mutex);
        x->done = true;
        x->changed.notify_all();
    });
    bool done = WaitForExchange(*x, limits, started) || Abandon(*x);
    if (done) {
        thread.join();
    } else {
        thread.detach();  // holds its own reference to the exchange
    }

    std::unique_lock<std::mutex> lock(x->mutex);
    if (!x->sent) return false;
    std::string responseHeaders = Utf8Headers(x->responseHeaders);
    std::string responseBody = x->body;
    bool complete = x->complete;
    lock.unlock();
    if (sink) Deliver(responseHeaders, responseBody, complete, sink);
    return true;
}
