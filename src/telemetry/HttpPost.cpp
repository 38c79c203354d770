#include "telemetry/HttpPost.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "diagnostics/Log.h"
#include "diagnostics/TextParsing.h"

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

bool IsHttpUrl(const std::string& url) {
    auto startsWith = [&url](const std::string& scheme) {
        if (url.size() < scheme.size()) return false;
        for (size_t i = 0; i < scheme.size(); ++i) {
            char c = url[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != scheme[i]) return false;
        }
        return true;
    };
    if (IsUtf8(url) && (startsWith("http://") || startsWith("https://"))) return true;
    static std::once_flag told;
    std::call_once(told, [&url] {
        LogWarning("HttpPostRaw: %s is not an http or https URL; nothing is posted to it", url.c_str());
    });
    return false;
}

HttpPostDeadline::Clock::time_point HttpPostEnd(const HttpPostLimits& limits,
                                                HttpPostDeadline::Clock::time_point start) {
    HttpPostDeadline::Clock::time_point end = start + limits.overall;
    return limits.stop ? std::min(end, limits.stop->At()) : end;
}

std::string HttpPost(const std::string& url, const std::string& contentType, const std::string& body,
                     const HttpPostLimits& limits) {
    if (url.empty() || contentType.empty() || body.empty()) return "";
    std::string response;
    auto append = [&response](const std::string&, const char* data, size_t length) {
        response.append(data, length);
        return true;
    };
    if (!HttpPostRaw(url, nullptr, "Content-Type: " + contentType, body.data(), body.size(), append, limits))
        return "";
    return response;
}
