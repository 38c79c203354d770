#pragma once
// A child process of deck-sim (the plug-in, the controller simulator), started
// with extra environment variables, optionally with its stdin and stdout on
// pipes: stdout is read line by line on the simulator's event loop, stdin
// takes whole lines. Only a POSIX back-end exists (SimChildProcess_posix.cpp):
// deck-sim is a native tool.
//
// Threads: every operation and callback runs on the thread of the io_context.

// A C++ library header first: asio's configuration reads its macros, and every
// translation unit must see asio configured the same way.
#include <functional>

#include <asio/io_context.hpp>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class SimChildProcess {
public:
    using LineHandler = std::function<void(const std::string& line)>;
    using ExitHandler = std::function<void(int status)>;

    explicit SimChildProcess(asio::io_context& io);
    ~SimChildProcess();  // kills a process that still runs

    // Starts |program| with |arguments| and the extra |environment|. With
    // |onLine| set, stdin and stdout are pipes and each stdout line is handed
    // over without its newline; otherwise they are inherited. |onExit| runs
    // once the process has ended, with its exit status (128 + signal when
    // killed). False when the program cannot be started.
    bool Start(const std::string& program, const std::vector<std::string>& arguments,
               const std::map<std::string, std::string>& environment, LineHandler onLine, ExitHandler onExit);

    bool Running() const;
    std::optional<int> ExitStatus() const;
    // Writes one line (a newline is added) to the child's stdin.
    void WriteLine(const std::string& line);
    // Closes the child's stdin (end of input).
    void CloseInput();
    void Terminate();  // SIGTERM
    void Kill();       // SIGKILL

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
