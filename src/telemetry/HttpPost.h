#pragma once
// One blocking HTTP or HTTPS POST per call (WinINet on Windows; elsewhere
// libcurl in kestrel-post, a helper process started for the call, so that
// the HTTP and TLS libraries never load into the plug-in: without libcurl or
// the helper every call fails). Each
// call uses handles of its own, so calls are reentrant; on Windows a request left at its deadline may close
// them on its own thread after the call returned. Connecting, sending and receiving are each limited to 5
// seconds without progress, and the whole call to an overall limit (10 seconds by default) and to the
// caller's shared deadline, so a server that trickles its answer cannot hold the caller. Redirects are not
// followed: a 3xx response is returned like any other. Any HTTP status counts as a response.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "telemetry/HttpPostDeadline.h"

// At most this much of a response body is read; the rest is never received.
constexpr size_t kHttpResponseLimit = 0x10000;
// At most this much of a response's header block is kept (whole lines on
// POSIX); a longer block ends the reading there, so that a collector that
// sends header lines without end costs a bounded amount of work and memory.
constexpr size_t kHttpHeaderLimit = 0x10000;

// Whether |url| is UTF-8 text that starts with "http://" or "https://" (any
// case): the only schemes posted to, whatever the HTTP library would also
// open. The first URL refused in a process is named in one log line.
bool IsHttpUrl(const std::string& url);

// Receives the raw response headers (CR LF separated) and one chunk of the
// response body; returns false to stop reading. The body arrives in chunks of
// 32768 bytes; the last chunk is shorter, and is empty when the body is
// empty or a whole multiple of 32768 bytes. A body that reaches
// kHttpResponseLimit ends with the chunk that reaches it.
using HttpResponseSink = std::function<bool(const std::string& headers, const char* data, size_t length)>;

// When a post must end at the latest: |overall| after the call began, or at
// the |stop| deadline (when given) if that comes first, even when another
// thread brings it forward while the post is under way.
struct HttpPostLimits {
    std::chrono::milliseconds overall{10000};
    const HttpPostDeadline* stop = nullptr;
};

// The end of a post that began at |start|, as far as it is known now.
HttpPostDeadline::Clock::time_point HttpPostEnd(const HttpPostLimits& limits,
                                                HttpPostDeadline::Clock::time_point start);

// Holds posts back while the process starts, so that starting the helper
// (which loads libcurl and its thirty-odd libraries) competes with nothing
// the start does: after HttpHoldPostsForStart, the POSIX back-end's posts wait
// until HttpStartIsOver or kHttpStartHold has passed, whichever comes first,
// and never beyond their own limits. WinINet is loaded with the program; its
// posts are not held. A process that never calls it is never held.
constexpr std::chrono::milliseconds kHttpStartHold{1000};
void HttpHoldPostsForStart();
void HttpStartIsOver();

// Waits while posts are held, at most until |end| (the back-ends' first step).
void HttpWaitForStart(HttpPostDeadline::Clock::time_point end);

// Posts |body| to the UTF-8 |url| with the extra |headers| (CR LF separated
// lines, empty for none) and the user agent |userAgent| (null: "NSIS HTTP
// Client"). Returns true when the request was sent and a response began, also
// when the limits then cut it short; a URL that cannot be parsed or is not an
// http or https URL (IsHttpUrl; one log line) makes no request, and a post
// whose deadline has already passed makes none either. The sink, when given, sees
// the response up to kHttpResponseLimit or to the end of the limits.
bool HttpPostRaw(const std::string& url, const char* userAgent, const std::string& headers, const void* body,
                 size_t bodyLength, const HttpResponseSink& sink, const HttpPostLimits& limits = {});

// Posts |body| as |contentType| to the UTF-8 |url| and returns the response
// body (at most kHttpResponseLimit bytes), whatever its status; an empty
// string when the request failed, when any argument is empty, or when the
// URL or content type is not valid UTF-8.
std::string HttpPost(const std::string& url, const std::string& contentType, const std::string& body,
                     const HttpPostLimits& limits = {});
