#include <unistd.h>

#include <string>
#include <vector>

#include "diagnostics/Platform.h"
#include "lifetime/UniqueTempFile.h"

std::optional<std::filesystem::path> CreateUniqueTempFile(const wchar_t* prefix) {
    std::error_code error;
    std::filesystem::path directory = std::filesystem::temp_directory_path(error);
    if (error) return std::nullopt;
    std::string pattern;
    try {
        pattern = (directory / (WideToUtf8(prefix) + "XXXXXX")).string();
    } catch (const std::range_error&) {
        return std::nullopt;
    }
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return std::nullopt;
    close(fd);
    return std::filesystem::path(name.data());
}
