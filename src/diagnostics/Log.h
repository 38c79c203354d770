#pragma once
// The process log: one size-rotated file "logs/rotating.txt" relative to the
// working directory (the executable's directory). printf-style functions;
// control characters are escaped ("\n", "\x1a") so each record is one line,
// and each record is cut to 8191 characters; braces are written unchanged.
//
// Threads: every thread may log at any time, also before StartLogging and
// after StopLogging; such records are dropped. The logger reference is
// guarded by a private mutex that is held only to copy the reference, never
// while writing; LogIsOpen reads an atomic flag beside it. The log starts no thread: every record is flushed
// by the thread that writes it.

#include <memory>
#include <string>

namespace spdlog {
class logger;
}

#if defined(__clang__)
#define KESTREL_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#elif defined(__GNUC__)
#define KESTREL_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define KESTREL_PRINTF_FORMAT(fmt, args)
#endif

// Opens the log; returns the logger "root" (null when the file cannot be
// created, in which case every record is dropped).
std::shared_ptr<spdlog::logger> StartLogging();

// The open log file's absolute path in UTF-8; empty while no file is open.
std::string LogFilePath();

// Shuts the log library down; later records are dropped.
void StopLogging();

// Whether records are written at this moment. Text that only a record needs
// (a peer document as JSON text) is built only when this holds, so a process
// without a log, such as a fuzz target, does not pay for it.
bool LogIsOpen();

void LogCritical(const char* format, ...) KESTREL_PRINTF_FORMAT(1, 2);
void LogError(const char* format, ...) KESTREL_PRINTF_FORMAT(1, 2);
void LogWarning(const char* format, ...) KESTREL_PRINTF_FORMAT(1, 2);
void LogTrace(const char* format, ...) KESTREL_PRINTF_FORMAT(1, 2);

// Info level is kept for the start and stop records of the process lifetime;
// every other record goes through the four functions above.
void LogInfo(const char* format, ...) KESTREL_PRINTF_FORMAT(1, 2);
