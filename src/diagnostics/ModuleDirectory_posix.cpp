#include "diagnostics/ModuleDirectory.h"

#include <unistd.h>

#include <vector>

#include "diagnostics/Platform.h"

namespace {

// The directory's bytes as the kernel reports them.
std::string ModuleDirectoryBytes() {
    std::vector<char> buffer(16384, '\0');
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    std::string path(buffer.data(), length > 0 ? static_cast<size_t>(length) : 0);
    auto cut = path.find_last_of('/');
    return cut == std::string::npos ? path : path.substr(0, cut);
}

}  // namespace

std::wstring GetModuleDirectory() {
    std::string directory = ModuleDirectoryBytes();
    try {
        return Utf8ToWide(directory);
    } catch (const std::range_error&) {
        // A directory name that is not UTF-8: keep its bytes one by one.
        return std::wstring(directory.begin(), directory.end());
    }
}

std::filesystem::path GetModuleDirectoryPath() {
    return ModuleDirectoryBytes();
}
