#pragma once
// One blocking HTTP or HTTPS POST per call (WinINet on Windows, libcurl
// elsewhere). Each call opens and closes its own handles, so calls are
// reentrant. Connecting, sending and receiving are each limited to 5 seconds;
// any HTTP status counts as a response.

#include <cstddef>
#include <functional>
#include <string>

// Receives the raw response headers (CR LF separated) and one chunk of the
// response body; returns false to stop reading. The body arrives in chunks of
// 32768 bytes; the last chunk is shorter, and is empty when the body is
// empty or a whole multiple of 32768 bytes.
using HttpResponseSink = std::function<bool(const std::wstring& headers, const char* data, size_t length)>;

// Posts |body| to |url| with the extra |headers| (|headersLength| characters)
// and the user agent |userAgent| (null: "NSIS HTTP Client"). Returns true when
// the request was sent and a response began; a URL that cannot be parsed
// makes no request. The sink, when given, sees the whole response.
// Sets up the HTTP library's process-wide state (libcurl and its TLS library;
// nothing for WinINet). HttpPostRaw does it on first use; the process calls
// it before its static objects so that the library's own exit-time clean-up
// runs after the last post of the exit sequence.
void HttpStartUp();

bool HttpPostRaw(const std::wstring& url, const wchar_t* userAgent, const wchar_t* headers,
                 size_t headersLength, const void* body, size_t bodyLength, const HttpResponseSink& sink);

// Posts |body| as |contentType| to the UTF-8 |url| and returns the response
// body, whatever its status; an empty string when the request failed, when
// any argument is empty, or when the URL or content type is not valid UTF-8.
std::string HttpPost(const std::string& url, const std::string& contentType, const std::string& body);
