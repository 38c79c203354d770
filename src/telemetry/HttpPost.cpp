#include "telemetry/HttpPost.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "diagnostics/Platform.h"

namespace {

using Clock = HttpPostDeadline::Clock;

// Whether posts are held for the start, and until when at the latest.
struct StartHold {
    std::mutex mutex;  // guards held and until
    std::condition_variable over;
    bool held = false;
    Clock::time_point until;
};

// Never destroyed: posts may still run while the process exits.
StartHold& TheStartHold() {
    static StartHold* hold = new StartHold;
    return *hold;
}

}  // namespace

void HttpHoldPostsForStart() {
    StartHold& hold = TheStartHold();
    std::lock_guard<std::mutex> lock(hold.mutex);
    hold.held = true;
    hold.until = Clock::now() + kHttpStartHold;
}

void HttpStartIsOver() {
    StartHold& hold = TheStartHold();
    {
        std::lock_guard<std::mutex> lock(hold.mutex);
        hold.held = false;
    }
    hold.over.notify_all();
}

void HttpWaitForStart(Clock::time_point end) {
    StartHold& hold = TheStartHold();
    std::unique_lock<std::mutex> lock(hold.mutex);
    if (!hold.held) return;
    hold.over.wait_until(lock, std::min(end, hold.until), [&hold] { return !hold.held; });
}

HttpPostDeadline::Clock::time_point HttpPostEnd(const HttpPostLimits& limits,
                                                HttpPostDeadline::Clock::time_point start) {
    HttpPostDeadline::Clock::time_point end = start + limits.overall;
    return limits.stop ? std::min(end, limits.stop->At()) : end;
}

std::string HttpPost(const std::string& url, const std::string& contentType, const std::string& body,
                     const HttpPostLimits& limits) {
    if (url.empty() || contentType.empty() || body.empty()) return "";
    std::wstring wideUrl, header;
    try {
        wideUrl = Utf8ToWide(url);
        header = Utf8ToWide("Content-Type: " + contentType);
    } catch (const std::range_error&) {
        return "";  // not UTF-8: nothing that could be sent
    }
    std::string response;
    auto append = [&response](const std::wstring&, const char* data, size_t length) {
        response.append(data, length);
        return true;
    };
    if (!HttpPostRaw(wideUrl, nullptr, header.c_str(), header.size(), body.data(), body.size(), append,
                     limits))
        return "";
    return response;
}
