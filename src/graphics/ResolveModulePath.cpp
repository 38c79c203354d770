#include "graphics/ResolveModulePath.h"

#include "diagnostics/Platform.h"

std::wstring ResolveModulePath(const std::string& relativePathUtf8) {
    return ResolveModulePath(Utf8ToWide(relativePathUtf8));
}
