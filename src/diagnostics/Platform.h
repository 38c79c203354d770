#pragma once
// The one place that knows which platform it is built for: path and text
// helpers that every subsystem shares. Platform back-ends live in the
// Name_win32.cpp / Name_posix.cpp files; nothing else tests _WIN32.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#ifdef _WIN32
#define KESTREL_WIN32 1
inline constexpr char kExecutableSuffix[] = ".exe";
// The Stream Deck application shows nothing of what a plug-in writes.
inline constexpr bool kNamesLogFileOnStderr = false;
#else
#define KESTREL_WIN32 0
inline constexpr char kExecutableSuffix[] = "";
// Linux hosts (OpenDeck) keep a plug-in's stderr as its log in their own log
// folder: one line there tells the streamer where the plug-in's log is.
inline constexpr bool kNamesLogFileOnStderr = true;
#endif

// Text is UTF-8 in std::string. A file name is a std::filesystem::path in the
// system's own form (bytes on POSIX, UTF-16 on Windows): made from UTF-8 with
// std::filesystem::u8path, written as text with u8string(), never held wide.

// fopen with a path that may hold any character (_wfopen on Windows).
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

// Creates |path| as a new file open for writing in binary mode, readable and
// writable by the current user alone (0600 on POSIX). Fails when anything of
// that name exists already, a link included: nothing is followed or replaced.
std::FILE* CreateNewFile(const std::filesystem::path& path);

// Makes |path| a file that only the current user can read and write (0600 on
// POSIX: created so when missing, narrowed when it exists; never through a
// link). On Windows the files it is used for lie in the user's own profile,
// whose permissions they inherit, and it does nothing. False on failure.
bool RestrictFileToOwner(const std::filesystem::path& path);

// Opens |path| for reading in binary mode only when it is a regular file and
// (on POSIX) not a link; a FIFO or device is refused without blocking.
std::FILE* OpenRegularFile(const std::filesystem::path& path);

// Cuts the file open as |file| down to |size| bytes.
bool TruncateFile(std::FILE* file, uint64_t size);

// The current local time, safe to call from any thread.
std::tm LocalTimeNow();
