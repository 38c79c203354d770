#include "graphics/Graphics.h"

#include <stdexcept>

#include "diagnostics/Log.h"

void Graphics::LogLoadFailure(const std::filesystem::path& path) {
    // The log is UTF-8: the path's own UTF-8 form rather than the C library's
    // %S, whose conversion depends on the locale. On POSIX that form is the
    // path's bytes, and the log escapes those that are not UTF-8; a Windows
    // name with an unpaired surrogate has none.
    std::string text;
    try {
        text = path.u8string();
    } catch (const std::exception&) {
        text = "(a name that has no UTF-8 form)";
    }
    LogCritical("Failed loading image from file '%s'", text.c_str());
}
