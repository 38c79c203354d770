#include <windows.h>
// windows.h first: wininet.h relies on its types.
#include <wininet.h>

#include <vector>

#include "telemetry/HttpPost.h"

namespace {

constexpr DWORD kTimeoutMilliseconds = 5000;
constexpr DWORD kReadSize = 0x8000;
constexpr wchar_t kDefaultUserAgent[] = L"NSIS HTTP Client";
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;

// Closes a WinINet handle when it goes out of scope. Declared in the order
// Internet, connection, request, they close request first.
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

void SetTimeout(HINTERNET internet, DWORD option) {
    DWORD value = kTimeoutMilliseconds;
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

std::wstring RawHeaders(HINTERNET request) {
    DWORD size = 0;
    HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr);
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');  // the size plus 2 bytes, rounded up
    if (!HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &size, nullptr)) return L"";
    return std::wstring(buffer.data(), size / sizeof(wchar_t));
}

void ReadResponse(HINTERNET request, const HttpResponseSink& sink) {
    std::wstring headers = RawHeaders(request);
    std::vector<char> buffer(kReadSize);
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request, buffer.data(), kReadSize, &read)) return;
        if (!sink(headers, buffer.data(), read)) return;
        if (read < kReadSize) return;  // a short read is the end of the response
    }
}

}  // namespace

void HttpStartUp() {}  // WinINet keeps no process-wide state to set up

bool HttpPostRaw(const std::wstring& url, const wchar_t* userAgent, const wchar_t* headers,
                 size_t headersLength, const void* body, size_t bodyLength, const HttpResponseSink& sink) {
    UrlParts parts;
    if (!parts.Crack(url)) return false;

    InternetHandle internet, connection, request;
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
    request.handle =
        HttpOpenRequestW(connection.handle, L"POST", c.lpszUrlPath, nullptr, nullptr, nullptr, flags, 0);
    if (!request.handle) return false;
    // Windows hands the Internet handle's send and receive timeouts down to
    // its requests; Wine does not, and would wait for an answer forever.
    // Setting them on the request as well bounds the waits on both.
    SetTimeout(request.handle, INTERNET_OPTION_SEND_TIMEOUT);
    SetTimeout(request.handle, INTERNET_OPTION_RECEIVE_TIMEOUT);

    bool sent = HttpSendRequestW(request.handle, headers, static_cast<DWORD>(headersLength),
                                 const_cast<void*>(body), static_cast<DWORD>(bodyLength)) != FALSE;
    if (sent && sink) ReadResponse(request.handle, sink);
    return sent;
}
