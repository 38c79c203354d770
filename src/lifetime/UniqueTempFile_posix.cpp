#include <unistd.h>

#include <string>
#include <vector>

#include "lifetime/UniqueTempFile.h"

std::optional<std::filesystem::path> CreateUniqueTempFile(const char* prefix) {
    std::error_code error;
    std::filesystem::path directory = std::filesystem::temp_directory_path(error);
    if (error) return std::nullopt;
    std::string pattern = (directory / (std::string(prefix) + "XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return std::nullopt;
    close(fd);
    return std::filesystem::path(name.data());
}
