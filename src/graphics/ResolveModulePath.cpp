#include "graphics/ResolveModulePath.h"

std::filesystem::path ResolveModulePath(const std::string& relativePathUtf8) {
    return ResolveModulePath(std::filesystem::u8path(relativePathUtf8));
}
