#include "telemetry/HttpPost.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "diagnostics/Log.h"
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

bool IsHttpUrl(const std::wstring& url) {
    auto startsWith = [&url](const std::wstring& scheme) {
        if (url.size() < scheme.size()) return false;
        for (size_t i = 0; i < scheme.size(); ++i) {
            wchar_t c = url[i];
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
            if (c != scheme[i]) return false;
        }
        return true;
    };
    if (startsWith(L"http://") || startsWith(L"https://")) return true;
    static std::once_flag told;
    std::call_once(told, [&url] {
        std::string text;
        try {
            text = WideToUtf8(url);
        } catch (const std::range_error&) {
            text = "(not UTF-8)";
        }
        LogWarning("HttpPostRaw: %s is not an http or https URL; nothing is posted to it", text.c_str());
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
