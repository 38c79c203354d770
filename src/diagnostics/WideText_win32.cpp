#include "diagnostics/WideText_win32.h"

#include <codecvt>
#include <locale>

// std::wstring_convert is deprecated but is exactly the standard UTF-8 codec
// whose "bad conversion" error the callers rely on.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {
using WideCodec = std::codecvt_utf8_utf16<wchar_t>;
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
