#include "diagnostics/Log.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "diagnostics/LogText.h"
#include "diagnostics/Platform.h"

namespace {

constexpr size_t kRecordBufferSize = 8192;
constexpr size_t kMaxFileSize = 5242880;
constexpr size_t kRotatedFiles = 3;
constexpr char kLogFile[] = "logs/rotating.txt";

// Never destroyed: threads that outlive main() may still log during exit.
struct LogState {
    std::mutex mutex;                        // guards logger and path
    std::shared_ptr<spdlog::logger> logger;  // null before start and after stop
    std::string path;                        // the open file, empty without one
    std::atomic<bool> open{false};           // logger is set; read without the mutex
};

LogState& State() {
    static LogState* state = new LogState;
    return *state;
}

std::shared_ptr<spdlog::logger> CurrentLogger() {
    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.logger;
}

void Write(spdlog::level::level_enum level, const char* format, va_list args) {
    auto logger = CurrentLogger();
    if (!logger) return;
    char buffer[kRecordBufferSize];
    int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (length < 0) return;
    size_t size = std::min(static_cast<size_t>(length), sizeof buffer - 1);
    // Records hold peer text: with its control characters escaped, no text
    // can end a record early and write a line that looks like another record.
    const std::string record = LogText::EscapeControls(buffer, size);
    // The string_view overload writes the text as it is: no brace formatting.
    logger->log(level, spdlog::string_view_t(record.data(), record.size()));
}

}  // namespace

std::shared_ptr<spdlog::logger> StartLogging() {
    std::error_code ignored;
    std::filesystem::create_directory("logs", ignored);

    std::shared_ptr<spdlog::logger> logger;
    try {
        // Records hold every host message, settings included: each log file,
        // also the new one after a rotation, is the user's alone before it is opened.
        spdlog::file_event_handlers handlers;
        handlers.before_open = [](const spdlog::filename_t& name) { RestrictFileToOwner(name); };
        logger = spdlog::rotating_logger_mt("root", kLogFile, kMaxFileSize, kRotatedFiles, false, handlers);
    } catch (const spdlog::spdlog_ex&) {
        return nullptr;  // no file: records are dropped rather than raised
    }
    // Every record is flushed as it is written, so no periodic flusher (a
    // thread that would wake the idle process every second) is needed.
    spdlog::flush_on(spdlog::level::trace);
    spdlog::set_level(spdlog::level::trace);

    // u8string: the path as UTF-8 whatever the locale (the wide form on Windows).
    const std::string path = std::filesystem::absolute(kLogFile, ignored).u8string();

    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.logger = logger;
    state.path = path;
    state.open = true;
    return logger;
}

std::string LogFilePath() {
    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.path;
}

bool LogIsOpen() {
    return State().open.load(std::memory_order_relaxed);
}

void StopLogging() {
    {
        LogState& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        state.open = false;
        state.logger.reset();
        state.path.clear();
    }
    spdlog::shutdown();
}

#define KESTREL_DEFINE_LOG_FUNCTION(name, level) \
    void name(const char* format, ...) {         \
        va_list args;                            \
        va_start(args, format);                  \
        Write(level, format, args);              \
        va_end(args);                            \
    }

KESTREL_DEFINE_LOG_FUNCTION(LogCritical, spdlog::level::critical)
KESTREL_DEFINE_LOG_FUNCTION(LogError, spdlog::level::err)
KESTREL_DEFINE_LOG_FUNCTION(LogWarning, spdlog::level::warn)
KESTREL_DEFINE_LOG_FUNCTION(LogTrace, spdlog::level::trace)
KESTREL_DEFINE_LOG_FUNCTION(LogInfo, spdlog::level::info)
