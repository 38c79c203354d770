#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "diagnostics/ModuleDirectory.h"
#include "diagnostics/Platform.h"

extern char** environ;

struct ChildProcess::Handles {
    pid_t pid = -1;
    int input = -1;  // write end of the child's standard input
    std::optional<int> status;
};

ChildProcess::ChildProcess() : m_handles(std::make_unique<Handles>()) {}

ChildProcess::~ChildProcess() {
    Kill();
    CloseInput();
    if (!m_outputPath.empty()) unlink(m_outputPath.c_str());
}

namespace {
// "NAME=value" entries of the test's environment with the overrides applied.
std::vector<std::string> ChildEnvironment(const EnvironmentOverrides& overrides) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& change : overrides) replaced = replaced || change.first == name;
        if (!replaced) entries.push_back(text);
    }
    for (const auto& [name, value] : overrides) {
        if (value) entries.push_back(name + "=" + *value);
    }
    return entries;
}
}  // namespace

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                         const EnvironmentOverrides& environment) {
    char pattern[] = "/tmp/kestrel-child-XXXXXX";
    int output = mkstemp(pattern);
    if (output < 0) return false;
    m_outputPath = pattern;

    // A child that ended must not take the test down when its input is written.
    std::signal(SIGPIPE, SIG_IGN);
    int input[2];
    if (pipe2(input, O_CLOEXEC) != 0) {
        close(output);
        return false;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, output);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    std::vector<std::string> entries = ChildEnvironment(environment);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);

    int result = posix_spawn(&m_handles->pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(output);
    close(input[0]);
    m_handles->input = input[1];
    if (result != 0) {
        m_handles->pid = -1;
        CloseInput();
    }
    return result == 0;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (m_handles->status || m_handles->pid < 0) return m_handles->status;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        int status = 0;
        pid_t done = waitpid(m_handles->pid, &status, WNOHANG);
        if (done == m_handles->pid) {
            m_handles->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return m_handles->status;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ChildProcess::Kill() {
    if (m_handles->pid < 0 || m_handles->status) return;
    kill(m_handles->pid, SIGKILL);
    Wait(std::chrono::seconds(5));
}

bool ChildProcess::WriteInput(const std::string& text) {
    size_t written = 0;
    while (m_handles->input >= 0 && written < text.size()) {
        ssize_t n = write(m_handles->input, text.data() + written, text.size() - written);
        if (n <= 0) return false;
        written += static_cast<size_t>(n);
    }
    return m_handles->input >= 0;
}

void ChildProcess::CloseInput() {
    if (m_handles->input >= 0) close(m_handles->input);
    m_handles->input = -1;
}

bool ChildProcess::Running() { return m_handles->pid >= 0 && !Wait(std::chrono::milliseconds(0)); }


std::optional<ChildProcess::Usage> ChildProcess::Sample() const {
    if (m_handles->pid < 0 || m_handles->status) return std::nullopt;
    const std::string proc = "/proc/" + std::to_string(m_handles->pid);
    std::ifstream status(proc + "/status");
    Usage usage;
    bool resident = false;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            usage.residentBytes = std::stoull(line.substr(6)) * 1024;
            resident = true;
        } else if (line.rfind("Threads:", 0) == 0) {
            usage.threads = std::stoull(line.substr(8));
        }
    }
    if (!resident) return std::nullopt;  // ended: a zombie has no resident set
    std::error_code error;
    for (std::filesystem::directory_iterator it(proc + "/fd", error), end; !error && it != end;
         it.increment(error)) {
        ++usage.handles;
    }
    if (error) return std::nullopt;
    return usage;
}
