#include "telemetry/HttpPost.h"

#include <algorithm>
#include <stdexcept>

#include "diagnostics/Platform.h"

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
