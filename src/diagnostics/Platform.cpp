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

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring_convert<WideCodec, wchar_t> converter;
    return converter.from_bytes(text);
}

std::string WideToUtf8(const std::wstring& text) {
    std::wstring_convert<WideCodec, wchar_t> converter;
    return converter.to_bytes(text);
}

#pragma GCC diagnostic pop
