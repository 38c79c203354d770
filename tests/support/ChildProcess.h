#pragma once
// Starts a program as the Stream Deck application would (its own process,
// arguments passed one by one) and captures what it writes to stdout and
// stderr. Back-ends: ChildProcess_posix.cpp, ChildProcess_win32.cpp.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Changes to the child's environment, applied to a copy of the test's own:
// a value sets the variable, nothing removes it.
using EnvironmentOverrides = std::vector<std::pair<std::string, std::optional<std::string>>>;

class ChildProcess {
public:
    // What a running process holds, for leak and growth checks.
    struct Usage {
        size_t residentBytes = 0;  // resident set (working set on Windows)
        size_t threads = 0;
        size_t handles = 0;  // open file descriptors (handles on Windows)
    };

    ChildProcess();
    ~ChildProcess();  // kills the process if it still runs

    // Starts |program| with |arguments|; false when it cannot be started. The
    // child gets this process's environment changed by |environment| and reads
    // its standard input from a pipe that WriteInput feeds.
    bool Start(const std::string& program, const std::vector<std::string>& arguments,
               const EnvironmentOverrides& environment = {});
    // Writes |text| to the child's standard input; false when the pipe is closed.
    bool WriteInput(const std::string& text);
    // Closes the child's standard input (the child then reads end of file).
    void CloseInput();
    // The process's current usage; nothing once it has ended or when it cannot be read.
    std::optional<Usage> Sample() const;
    // Waits until the output holds |text|; false on time-out.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;
    // The exit status once the process has ended within |timeout|; nothing while it runs.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    void Kill();
    bool Running();
    // Everything the process wrote to stdout and stderr so far.
    std::string Output() const;

private:
    struct Handles;
    std::unique_ptr<Handles> m_handles;
    std::string m_outputPath;
};

// Full path of a program built beside the running test (adds ".exe" on Windows).
std::string BuiltProgramPath(const std::string& name);

// Everything the plug-in executable at |program| (UTF-8) writes once it has
// registered: on Linux one line naming its log file, on Windows nothing.
std::string RegisteredPluginOutput(const std::string& program);
