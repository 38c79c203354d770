// A program that crashes on purpose, for the crash-reporting tests; never
// part of the plug-in. It opens the log in the working directory given as its
// first argument, registers the crash reporter the way the plug-in does, and
// then faults as its second argument says: "null-write", "abort",
// "null-write-in-log" (a null write while the thread holds the log file's
// lock, inside the writing of a record), "null-write-without-threads" (no
// thread can start any more, so the crash callback cannot start one either)
// "stack-overflow-on-thread" (endless recursion on a second thread, started
// the way the plug-in starts its threads) or "null-write-switched-off" (after
// the streamer's telemetry switch was turned off).

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <thread>

#include <spdlog/pattern_formatter.h>
#include <spdlog/spdlog.h>

#include "diagnostics/CrashReportThread.h"
#include "diagnostics/Log.h"
#include "lifetime/CrashReporter.h"
#include "lifetime/ThreadStartLimit.h"
#include "telemetry/TelemetryService.h"

namespace {
// The sanitizers' own null check would end the program before the fault.
__attribute__((no_sanitize("undefined"))) void WriteThroughNull() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

volatile bool g_deeper = true;

// Each call takes a kilobyte of stack until the stack runs out.
__attribute__((noinline)) int Recurse(int depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    if (!g_deeper) return frame[0];
    return Recurse(depth + 1) + frame[0];
}

constexpr char kFaultMarker[] = "fault inside the log";

// Formats records as the log does, but faults on the marked one. The file
// sink formats under its own lock, so the fault happens while it is held.
class FaultingFormatter : public spdlog::formatter {
public:
    void format(const spdlog::details::log_msg& message, spdlog::memory_buf_t& out) override {
        if (std::string_view(message.payload.data(), message.payload.size()) == kFaultMarker) {
            WriteThroughNull();
        }
        m_pattern.format(message, out);
    }
    std::unique_ptr<spdlog::formatter> clone() const override {
        return std::make_unique<FaultingFormatter>();
    }

private:
    spdlog::pattern_formatter m_pattern;
};
}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) return 2;
    std::filesystem::current_path(argv[1]);
    auto logger = StartLogging();
    LogTrace("crash-test-program: registering the crash reporter");
    CrashReporter reporter;
    LogTrace("crash-test-program: about to fault with %s", argv[2]);
    if (std::strcmp(argv[2], "null-write") == 0) {
        WriteThroughNull();
    } else if (std::strcmp(argv[2], "null-write-in-log") == 0) {
        if (logger) logger->set_formatter(std::make_unique<FaultingFormatter>());
        LogTrace("%s", kFaultMarker);
    } else if (std::strcmp(argv[2], "abort") == 0) {
        std::abort();
    } else if (std::strcmp(argv[2], "null-write-without-threads") == 0) {
        TelemetryService::Instance();  // the plug-in has made it long before a crash
        if (!ForbidNewThreads()) return 4;
        WriteThroughNull();
    } else if (std::strcmp(argv[2], "null-write-switched-off") == 0) {
        TelemetryService::Instance()->SetUserChoice(false);  // as the host's global settings say
        WriteThroughNull();
    } else if (std::strcmp(argv[2], "stack-overflow-on-thread") == 0) {
        std::thread([] {
            PrepareThreadForCrashReports();
            Recurse(0);
        }).join();
    }
    return 3;
}
