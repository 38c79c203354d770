#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "diagnostics/Log.h"
#include "diagnostics/ModuleDirectory.h"
#include "diagnostics/Platform.h"
#include "telemetry/HttpPost.h"
#include "telemetry/PostFrames.h"

extern char** environ;

// Each post runs in kestrel-post, a helper process beside the executable
// (PostHelperMain_posix.cpp), so that libcurl and the TLS library never
// load into the plug-in. This side hands it the request over a socket, reads
// the response as it arrives and hands it to the sink in 32768-byte chunks
// with the same end rule as the Windows reads (a last, shorter chunk,
// possibly empty). It wakes at least every 100 ms, so a shared deadline that
// another thread brought forward ends the post promptly, and it ends the
// helper (SIGKILL) whenever it returns, so no helper outlives its post.
// When the helper cannot be started, or says that libcurl cannot be loaded,
// posting is off for the rest of the process and one log line says why.

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kHelperName[] = "kestrel-post";
constexpr size_t kChunkSize = 0x8000;
constexpr char kDefaultUserAgent[] = "NSIS HTTP Client";
constexpr int kWakeMilliseconds = 100;  // how soon a shared deadline's move is seen

std::atomic<bool> g_postingOff{false};

// Turns posting off; the first reason is logged, later ones are the same news.
void TurnPostingOff(const std::string& why) {
    static std::once_flag told;
    std::call_once(told, [&why] { LogWarning("%s", why.c_str()); });
    g_postingOff = true;
}

// A started helper and the plug-in's end of its socket; ended and reaped when dropped.
struct Helper {
    pid_t pid = -1;
    int fd = -1;
    ~Helper() {
        if (fd >= 0) close(fd);
        if (pid <= 0) return;
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
};

// A host that unpacks the plug-in without the files' modes leaves the helper
// unable to run; the plug-in's own folder is the user's, so it is fixed here.
bool MarkExecutable(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           chmod(path.c_str(), status.st_mode | S_IXUSR | S_IXGRP | S_IXOTH) == 0;
}

bool StartHelper(Helper& helper) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
    std::string path = (GetModuleDirectory() / kHelperName).string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    char* argv[] = {path.data(), nullptr};
    int result = posix_spawn(&helper.pid, path.c_str(), &actions, &attributes, argv, environ);
    if (result == EACCES && MarkExecutable(path))
        result = posix_spawn(&helper.pid, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    helper.fd = ends[0];
    if (result != 0) {
        helper.pid = -1;
        TurnPostingOff("HttpPostRaw: " + path + " cannot be started (" + std::strerror(result) +
                       "); telemetry and crash report upload are off");
        return false;
    }
    fcntl(helper.fd, F_SETFL, fcntl(helper.fd, F_GETFL) | O_NONBLOCK);
    return true;
}

// Waits until |fd| is ready for |events|, at most kWakeMilliseconds and never past |end|; false once |end|
// passed.
bool WaitFor(int fd, short events, Clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return false;
    pollfd entry{fd, events, 0};
    poll(&entry, 1, static_cast<int>(std::min<long long>(left, kWakeMilliseconds)));
    return true;
}

// Writes the whole request and closes the plug-in's side for writing.
bool SendRequest(const Helper& helper, const std::string& request, const HttpPostLimits& limits,
                 Clock::time_point started) {
    size_t sent = 0;
    while (sent < request.size()) {
        ssize_t result = send(helper.fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (result > 0) {
            sent += static_cast<size_t>(result);
        } else if (result < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (!WaitFor(helper.fd, POLLOUT, HttpPostEnd(limits, started))) {
            return false;
        }
    }
    return shutdown(helper.fd, SHUT_WR) == 0;
}

// One post's response, filled from the helper's frames.
struct Response {
    const HttpResponseSink* sink = nullptr;
    bool began = false;     // a status line arrived
    bool stopped = false;   // the sink asked to stop
    bool full = false;      // kHttpResponseLimit bytes arrived
    bool overlong = false;  // the header block passed kHttpHeaderLimit
    size_t received = 0;    // body bytes taken
    std::string headers;    // the latest response's header block
    std::string pending;    // body bytes not yet handed to the sink

    bool Done() const { return stopped || full || overlong; }

    void Deliver(const char* data, size_t length) {
        if (stopped || !*sink) return;
        if (!(*sink)(headers, data, length)) stopped = true;
    }

    void OnHeaderLine(const std::string& line) {
        // An interim response (100 Continue) is followed by a new status line.
        if (line.compare(0, 5, "HTTP/") == 0) {
            began = true;
            headers.clear();
        }
        if (headers.size() + line.size() > kHttpHeaderLimit) {
            overlong = true;  // no answer the plug-in reads needs more; the rest is not read
            return;
        }
        headers += line;
    }

    void OnBody(const std::string& data) {
        size_t taken = std::min(data.size(), kHttpResponseLimit - received);
        pending.append(data, 0, taken);
        received += taken;
        full = received == kHttpResponseLimit;
        size_t offset = 0;
        while (!stopped && pending.size() - offset >= kChunkSize) {
            Deliver(pending.data() + offset, kChunkSize);
            offset += kChunkSize;
        }
        pending.erase(0, offset);
    }

    // Handles one frame; false when the helper said posting is off.
    bool Take(const PostFrame& frame) {
        if (frame.type == post_frame::kHeaderLine) OnHeaderLine(frame.payload);
        if (frame.type == post_frame::kBodyBytes) OnBody(frame.payload);
        if (frame.type != post_frame::kUnavailable) return true;
        TurnPostingOff(frame.payload);
        return false;
    }
};

// Reads the helper's frames until it ends, the response is complete, or the
// deadline passes. The deadline is checked after every read, also while
// data keeps arriving.
void ReadResponse(const Helper& helper, Response& response, const HttpPostLimits& limits,
                  Clock::time_point started) {
    PostFrameReader reader;
    char buffer[0x8000];
    while (!response.Done()) {
        if (Clock::now() >= HttpPostEnd(limits, started)) return;
        ssize_t got = read(helper.fd, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return;
        if (got > 0) {
            reader.Feed(buffer, static_cast<size_t>(got));
            while (std::optional<PostFrame> frame = reader.Next()) {
                if (!response.Take(*frame) || response.Done()) return;
            }
            if (reader.Broken()) return;
        } else if (!WaitFor(helper.fd, POLLIN, HttpPostEnd(limits, started))) {
            return;
        }
    }
}

}  // namespace

bool HttpPostRaw(const std::string& url, const char* userAgent, const std::string& headers, const void* body,
                 size_t bodyLength, const HttpResponseSink& sink, const HttpPostLimits& limits) {
    Clock::time_point started = Clock::now();
    if (HttpPostEnd(limits, started) <= started || !IsHttpUrl(url)) return false;
    PostRequest request;
    request.url = url;
    request.agent = userAgent ? userAgent : kDefaultUserAgent;
    request.headers = headers;
    request.body.assign(static_cast<const char*>(body), bodyLength);
    HttpWaitForStart(HttpPostEnd(limits, started));
    auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(HttpPostEnd(limits, started) - Clock::now());
    request.timeLimitMilliseconds = static_cast<long>(remaining.count());
    std::string frames = EncodePostRequest(request);
    if (remaining.count() <= 0 || frames.empty() || g_postingOff) return false;

    Helper helper;
    if (!StartHelper(helper) || !SendRequest(helper, frames, limits, started)) return false;
    Response response;
    response.sink = &sink;
    ReadResponse(helper, response, limits, started);
    if (response.began && !response.full) response.Deliver(response.pending.data(), response.pending.size());
    return response.began;
}
