#pragma once
#include <filesystem>
#include <string>

// Directory of the running executable, without a trailing separator. The
// working directory and every plug-in folder file name rest on it.
std::wstring GetModuleDirectory();

// The same directory as a path in the system's own form (the bytes on POSIX,
// UTF-16 on Windows): no conversion, so no locale can make it fail.
std::filesystem::path GetModuleDirectoryPath();
