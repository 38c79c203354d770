#include <windows.h>
// windows.h first: wininet.h relies on its types.
#include <wininet.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "telemetry/HttpPost.h"

// WinINet's own time-outs bound each wait for the network but not a server
// that sends a byte now and then, so a watch thread closes the request
// handle when the post's deadline passes: the blocked call then fails and
// the post ends. The per-operation time-outs are also cut to the time left,
// so a silent server ends the post by its deadline even where closing a
// handle does not wake a call blocked in it.

namespace {

using Clock = HttpPostDeadline::Clock;
constexpr DWORD kTimeoutMilliseconds = 5000;
constexpr DWORD kReadSize = 0x8000;
constexpr auto kWatchInterval = std::chrono::milliseconds(100);  // how soon a shared deadline's move is seen
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

// The request handle of one post, closed exactly once: by the watch thread
// when the deadline passes, else when the post is done. The calling thread
// makes every call on it through Run, which refuses once it is closed; a
// call already blocked in it fails when it is closed.
class RequestWatch {
public:
    RequestWatch(HINTERNET request, const HttpPostLimits& limits, Clock::time_point started)
        : m_request(request), m_limits(limits), m_started(started), m_thread([this] { Watch(); }) {}

    ~RequestWatch() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_changed.notify_all();
        m_thread.join();
        if (!m_closed) InternetCloseHandle(m_request);
    }

    // Calls |call| with the request handle; false when the handle was closed
    // at the deadline or the call failed.
    template <class Call>
    bool Run(Call call) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_closed) return false;
        }
        return call(m_request) != FALSE;
    }

    RequestWatch(const RequestWatch&) = delete;
    RequestWatch& operator=(const RequestWatch&) = delete;

private:
    void Watch() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_done) {
            Clock::time_point end = HttpPostEnd(m_limits, m_started);
            if (Clock::now() >= end) {
                InternetCloseHandle(m_request);
                m_closed = true;
                return;
            }
            m_changed.wait_until(lock, std::min(end, Clock::now() + kWatchInterval));
        }
    }

    HINTERNET m_request;
    const HttpPostLimits& m_limits;
    Clock::time_point m_started;
    std::mutex m_mutex;  // guards m_done and m_closed
    std::condition_variable m_changed;
    bool m_done = false;
    bool m_closed = false;
    std::thread m_thread;  // last: starts once the members above exist
};

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

std::wstring RawHeaders(RequestWatch& request) {
    DWORD size = 0;
    request.Run([&size](HINTERNET handle) {
        return HttpQueryInfoW(handle, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr);
    });
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');  // the size plus 2 bytes, rounded up
    bool read = request.Run([&buffer, &size](HINTERNET handle) {
        return HttpQueryInfoW(handle, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &size, nullptr);
    });
    return read ? std::wstring(buffer.data(), size / sizeof(wchar_t)) : L"";
}

// Hands the response to the sink in reads of 32768 bytes, up to kHttpResponseLimit.
void ReadResponse(RequestWatch& request, const HttpResponseSink& sink) {
    std::wstring headers = RawHeaders(request);
    std::vector<char> buffer(kReadSize);
    for (size_t total = 0; total < kHttpResponseLimit; total += kReadSize) {
        DWORD read = 0;
        if (!request.Run([&buffer, &read](HINTERNET handle) {
                return InternetReadFile(handle, buffer.data(), kReadSize, &read);
            }))
            return;
        if (!sink(headers, buffer.data(), read)) return;
        if (read < kReadSize) return;  // a short read is the end of the response
    }
}

// The time left until |end|, at most the per-operation time-out.
DWORD OperationTimeout(Clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return static_cast<DWORD>(std::clamp<long long>(left, 1, kTimeoutMilliseconds));
}

}  // namespace

void HttpStartUp() {}  // WinINet keeps no process-wide state to set up

bool HttpPostRaw(const std::wstring& url, const wchar_t* userAgent, const wchar_t* headers,
                 size_t headersLength, const void* body, size_t bodyLength, const HttpResponseSink& sink,
                 const HttpPostLimits& limits) {
    Clock::time_point started = Clock::now();
    UrlParts parts;
    if (!parts.Crack(url)) return false;
    if (started >= HttpPostEnd(limits, started)) return false;

    InternetHandle internet, connection;
    internet.handle = InternetOpenW(userAgent ? userAgent : kDefaultUserAgent, INTERNET_OPEN_TYPE_PRECONFIG,
                                    nullptr, nullptr, 0);
    if (!internet.handle) return false;
    SetOptions(internet.handle);

    const URL_COMPONENTSW& c = parts.components;
    connection.handle = InternetConnectW(
        internet.handle, c.lpszHostName, c.nPort, c.dwUserNameLength ? c.lpszUserName : nullptr,
        c.dwPasswordLength ? c.lpszPassword : nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection.handle) return false;

    DWORD flags = kRequestFlags | (c.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    HINTERNET handle =
        HttpOpenRequestW(connection.handle, L"POST", c.lpszUrlPath, nullptr, nullptr, nullptr, flags, 0);
    if (!handle) return false;
    // Windows hands the Internet handle's send and receive timeouts down to
    // its requests; Wine does not, and would wait for an answer forever.
    // Setting them on the request as well bounds the waits on both.
    DWORD timeout = OperationTimeout(HttpPostEnd(limits, started));
    SetTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, timeout);
    SetTimeout(handle, INTERNET_OPTION_SEND_TIMEOUT, timeout);
    SetTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, timeout);

    RequestWatch request(handle, limits, started);  // closes the handle before the connection's
    bool sent = request.Run([&](HINTERNET h) {
        return HttpSendRequestW(h, headers, static_cast<DWORD>(headersLength), const_cast<void*>(body),
                                static_cast<DWORD>(bodyLength));
    });
    if (sent && sink) ReadResponse(request, sink);
    return sent;
}
