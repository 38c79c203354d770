#include "graphics/Graphics.h"

#include <stdexcept>

#include "diagnostics/Log.h"
#include "diagnostics/Platform.h"

void Graphics::LogLoadFailure(const std::wstring& path) {
    // The log is UTF-8: the path is converted here rather than through the C
    // library's %S, whose conversion depends on the locale and drops the whole
    // record for a path outside it.
    std::string text;
    try {
        text = WideToUtf8(path);
    } catch (const std::range_error&) {
        for (wchar_t c : path) text += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
    }
    LogCritical("Failed loading image from file '%s'", text.c_str());
}
