#pragma once
#include <string>

// Directory of the running executable, without a trailing separator. The
// working directory and every plug-in folder file name rest on it.
std::wstring GetModuleDirectory();
