#include "telemetry/HttpPost.h"

#include <stdexcept>

#include "diagnostics/Platform.h"

std::string HttpPost(const std::string& url, const std::string& contentType, const std::string& body) {
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
    if (!HttpPostRaw(wideUrl, nullptr, header.c_str(), header.size(), body.data(), body.size(), append))
        return "";
    return response;
}
