#include <windows.h>

#include <shlwapi.h>

#include "diagnostics/Log.h"
#include "diagnostics/ModuleDirectory.h"
#include "graphics/ResolveModulePath.h"

std::filesystem::path ResolveModulePath(const std::filesystem::path& relativePath) {
    wchar_t combined[MAX_PATH] = {};
    // PathCombineW lets an absolute second path win and resolves "." and "..";
    // beyond MAX_PATH it fails, and the empty result makes the load fail.
    if (!PathCombineW(combined, GetModuleDirectory().c_str(), relativePath.c_str())) {
        LogTrace("ResolveModulePath: combined path is longer than %d characters", MAX_PATH);
        return {};
    }
    return combined;
}
