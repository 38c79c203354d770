#pragma once
#include <filesystem>

// Directory of the running executable, in the system's own form (the bytes
// on POSIX, UTF-16 on Windows): no conversion, so no name can make it fail.
// The working directory and every plug-in folder file name rest on it.
std::filesystem::path GetModuleDirectory();
