#include <limits.h>

#include "diagnostics/Log.h"
#include "diagnostics/ModuleDirectory.h"
#include "graphics/ResolveModulePath.h"

std::filesystem::path ResolveModulePath(const std::filesystem::path& relativePath) {
    // Path work on the bytes: a folder name need not be UTF-8 to be loaded from.
    std::filesystem::path path =
        relativePath.is_absolute() ? relativePath : GetModuleDirectory() / relativePath;
    path = path.lexically_normal();
    // Longer than the system accepts as a path: empty, so the load fails and is logged.
    if (path.native().size() >= PATH_MAX) {
        LogTrace("ResolveModulePath: combined path of %zu bytes is too long", path.native().size());
        return {};
    }
    return path;
}
