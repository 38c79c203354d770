#include <windows.h>

#include <string>
#include <vector>

#include "lifetime/UniqueTempFile.h"

std::optional<std::filesystem::path> CreateUniqueTempFile(const char* prefix) {
    std::vector<wchar_t> directory(2048, L'\0');
    DWORD length = GetTempPathW(static_cast<DWORD>(directory.size()), directory.data());
    if (length == 0 || length >= directory.size()) return std::nullopt;
    std::vector<wchar_t> name(MAX_PATH + 1, L'\0');
    // Unique number 0: Windows picks the number and creates the empty file.
    const std::wstring widePrefix(prefix, prefix + std::char_traits<char>::length(prefix));  // ASCII
    if (GetTempFileNameW(directory.data(), widePrefix.c_str(), 0, name.data()) == 0) return std::nullopt;
    return std::filesystem::path(name.data());
}
