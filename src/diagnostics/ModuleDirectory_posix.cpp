#include "diagnostics/ModuleDirectory.h"

#include <unistd.h>

#include <vector>

#include "diagnostics/Platform.h"

std::wstring GetModuleDirectory() {
    std::vector<char> buffer(16384, '\0');
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    std::string path(buffer.data(), length > 0 ? static_cast<size_t>(length) : 0);
    auto cut = path.find_last_of('/');
    std::string directory = cut == std::string::npos ? path : path.substr(0, cut);
    try {
        return Utf8ToWide(directory);
    } catch (const std::range_error&) {
        // A directory name that is not UTF-8: keep its bytes one by one.
        return std::wstring(directory.begin(), directory.end());
    }
}
