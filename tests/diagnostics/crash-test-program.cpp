// A program that crashes on purpose, for the crash-reporting tests; never
// part of the plug-in. It opens the log in the working directory given as its
// first argument, registers the crash reporter the way the plug-in does, and
// then faults as its second argument says: "null-write" or "abort".

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "diagnostics/CrashReporter.h"
#include "diagnostics/Log.h"

namespace {
// The sanitizers' own null check would end the program before the fault.
__attribute__((no_sanitize("undefined"))) void WriteThroughNull() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}
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
    } else if (std::strcmp(argv[2], "abort") == 0) {
        std::abort();
    }
    return 3;
}
