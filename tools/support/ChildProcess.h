#pragma once
// Starts a program as the Stream Deck application would (its own process,
// arguments passed one by one): the plug-in for the tests, the benchmarks and
// deck-sim, and controller-sim beside it. Back-ends: ChildProcess_posix.cpp,
// ChildProcess_win32.cpp.
//
// Threads: one owner thread calls every operation. With Options::onLine set,
// a reader thread of this object calls onLine; the destructor and the next
// Start join it (the child must have ended or closed its stdout by then).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Changes to the child's environment, applied to a copy of this process's
// own: a value sets the variable, nothing removes it.
using EnvironmentOverrides = std::vector<std::pair<std::string, std::optional<std::string>>>;

// Where the child's stdout and stderr go. Without onLine and
// inheritOutput, both are captured into a file that Output reads.
struct ChildLaunchOptions {
    // Each stdout line, without its newline, on the reader thread; stderr is shared.
    std::function<void(const std::string& line)> onLine;
    // Stdout and stderr shared with this process.
    bool inheritOutput = false;
    // Its own process group, ended when this process ends (POSIX): a
    // Ctrl-C in the terminal reaches this process only, which then ends
    // the child in its own way.
    bool detached = false;
};

class ChildProcess {
public:
    // What a running process holds, for leak and growth checks and the benchmarks.
    struct Usage {
        size_t residentBytes = 0;      // resident set (working set on Windows)
        size_t anonymousBytes = 0;     // of it the process's own pages (POSIX only)
        size_t fileBytes = 0;          // of it pages of the executable and libraries (POSIX only)
        size_t privateBytes = 0;       // USS: Private_Clean + Private_Dirty; Windows: private commit
        size_t proportionalBytes = 0;  // Pss: private pages plus a share of the shared ones (POSIX only)
        size_t threads = 0;
        size_t handles = 0;            // open file descriptors (handles on Windows)
        double cpuSeconds = 0;         // user + system time
        uint64_t contextSwitches = 0;  // summed over its threads (POSIX only)
    };

    using Options = ChildLaunchOptions;

    ChildProcess();
    ~ChildProcess();  // kills the process if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts |program| (looked up on PATH when it has no path separator) with
    // |arguments|; false when it cannot be started. The child gets this
    // process's environment changed by |environment| and reads its standard
    // input from a pipe that WriteInput feeds.
    bool Start(const std::string& program, const std::vector<std::string>& arguments,
               const EnvironmentOverrides& environment = {}, Options options = {});
    // Writes |text| to the child's standard input; false when the pipe is closed.
    bool WriteInput(const std::string& text);
    // Closes the child's standard input (the child then reads end of file).
    void CloseInput();
    // The process's current usage; nothing once it has ended or when it cannot be read.
    std::optional<Usage> Sample() const;
    // Waits until the captured output holds |text|; false on time-out.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;
    // The exit status (128 + signal when killed on POSIX) once the process has
    // ended within |timeout|; nothing while it runs.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    void Terminate();  // asks it to end (SIGTERM; on Windows the same as Kill)
    void Kill();
    bool Running();
    // Everything the process wrote to stdout and stderr so far (captured output only).
    std::string Output() const;

private:
    struct Handles;
    bool Spawn(const std::string& program, const std::vector<std::string>& arguments,
               const EnvironmentOverrides& environment, const Options& options);
    // Reads what the child wrote to its stdout pipe; 0 at its end.
    size_t ReadOutput(char* buffer, size_t size);
    void ReadLines(std::function<void(const std::string&)> onLine);
    void Release();  // ends the reader and closes what the last run left open

    std::unique_ptr<Handles> m_handles;
    std::string m_outputPath;
    std::thread m_reader;
};

// Full path of a program built beside the running program (adds ".exe" on Windows).
std::string BuiltProgramPath(const std::string& name);

// Everything the plug-in executable at |program| (UTF-8) writes once it has
// registered: on Linux one line naming its log file, on Windows nothing.
std::string RegisteredPluginOutput(const std::string& program);
