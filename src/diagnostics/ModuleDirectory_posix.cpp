#include "diagnostics/ModuleDirectory.h"

#include <unistd.h>

#include <string>
#include <vector>

std::filesystem::path GetModuleDirectory() {
    // The directory's bytes as the kernel reports them.
    std::vector<char> buffer(16384, '\0');
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    std::string path(buffer.data(), length > 0 ? static_cast<size_t>(length) : 0);
    auto cut = path.find_last_of('/');
    return cut == std::string::npos ? path : path.substr(0, cut);
}
