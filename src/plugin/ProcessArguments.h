#pragma once
// The process's command-line arguments in UTF-8, the program name first.
// On Windows they come from the UTF-16 command line, because main's narrow
// arguments are in the ANSI code page, which cannot hold every character;
// elsewhere they are main's arguments as the process received them.
// Back-ends: ProcessArguments_win32.cpp, ProcessArguments_posix.cpp.

#include <optional>
#include <string>
#include <vector>

// Nothing when the command line cannot be had or is not valid UTF-16.
std::optional<std::vector<std::string>> ProcessArguments(int argc, const char* const argv[]);
