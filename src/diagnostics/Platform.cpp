#include "diagnostics/Platform.h"

#include <codecvt>
#include <locale>

// std::wstring_convert is deprecated but is exactly the standard UTF-8 codec
// whose "bad conversion" error the callers rely on.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {
#if KESTREL_WIN32
using WideCodec = std::codecvt_utf8_utf16<wchar_t>;
#else
using WideCodec = std::codecvt_utf8<wchar_t>;
#endif
}  // namespace

// libstdc++ names its own function in the error's text; the callers expect
// the standard codec's "bad conversion", so the error is raised with that text.
std::wstring Utf8ToWide(const std::string& text) {
    std::wstring_convert<WideCodec, wchar_t> converter;
    try {
        return converter.from_bytes(text);
    } catch (const std::range_error&) {
        throw std::range_error("bad conversion");
    }
}

std::string WideToUtf8(const std::wstring& text) {
    std::wstring_convert<WideCodec, wchar_t> converter;
    try {
        return converter.to_bytes(text);
    } catch (const std::range_error&) {
        throw std::range_error("bad conversion");
    }
}

#pragma GCC diagnostic pop

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
#if KESTREL_WIN32
    std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

std::tm LocalTimeNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#if KESTREL_WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}
