#include <limits.h>

#include <filesystem>
#include <stdexcept>

#include "diagnostics/Log.h"
#include "diagnostics/ModuleDirectory.h"
#include "diagnostics/Platform.h"
#include "graphics/ResolveModulePath.h"

std::wstring ResolveModulePath(const std::wstring& relativePath) {
    // Path work on the UTF-8 form: std::filesystem's own wide conversion would
    // depend on the locale.
    std::filesystem::path path;
    try {
        path = WideToUtf8(relativePath);
        if (!path.is_absolute()) path = std::filesystem::path(WideToUtf8(GetModuleDirectory())) / path;
    } catch (const std::range_error&) {
        return {};
    }
    std::string resolved = path.lexically_normal().string();
    // Longer than the system accepts as a path: empty, so the load fails and is logged.
    if (resolved.size() >= PATH_MAX) {
        LogTrace("ResolveModulePath: combined path of %zu bytes is too long", resolved.size());
        return {};
    }
    return Utf8ToWide(resolved);
}
