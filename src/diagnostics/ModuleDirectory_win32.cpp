#include "diagnostics/ModuleDirectory.h"

#include <windows.h>

#include <string>
#include <vector>

std::filesystem::path GetModuleDirectory() {
    std::vector<wchar_t> buffer(16384, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring path(buffer.data(), length);
    auto cut = path.find_last_of(L'\\');
    return cut == std::wstring::npos ? path : path.substr(0, cut);
}
