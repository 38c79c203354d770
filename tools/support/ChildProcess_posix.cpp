#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/ChildProcess.h"

extern char** environ;

struct ChildProcess::Handles {
    pid_t pid = -1;
    int input = -1;   // write end of the child's standard input
    int output = -1;  // read end of the child's stdout, with Options::onLine
    std::optional<int> status;
};

ChildProcess::ChildProcess() : m_handles(std::make_unique<Handles>()) {}

ChildProcess::~ChildProcess() {
    Kill();
    Release();
}

namespace {
// "NAME=value" entries of this process's environment with the overrides applied.
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

std::vector<char*> Pointers(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (auto& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

// The standard streams of the child: -1 keeps this process's own.
struct Streams {
    int input = -1;
    int output = -1;
    int error = -1;
};

// fork instead of posix_spawn: only a forked child can ask to end with its
// parent. Between fork and exec only async-signal-safe calls are allowed.
pid_t ForkDetached(char* const argv[], char* const envp[], const Streams& streams) {
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid != 0) return pid;
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    if (streams.input >= 0) dup2(streams.input, STDIN_FILENO);
    if (streams.output >= 0) dup2(streams.output, STDOUT_FILENO);
    if (streams.error >= 0) dup2(streams.error, STDERR_FILENO);
    execve(argv[0], argv, envp);
    _exit(127);
}

pid_t Spawn(char* const argv[], char* const envp[], const Streams& streams) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (streams.input >= 0) posix_spawn_file_actions_adddup2(&actions, streams.input, STDIN_FILENO);
    if (streams.output >= 0) posix_spawn_file_actions_adddup2(&actions, streams.output, STDOUT_FILENO);
    if (streams.error >= 0) posix_spawn_file_actions_adddup2(&actions, streams.error, STDERR_FILENO);
    pid_t pid = -1;
    int result = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? pid : -1;
}

// The value in kB of "Key:" in a /proc status text, in bytes; nothing when missing.
std::optional<size_t> StatusBytes(const std::string& status, const std::string& key) {
    size_t at = status.find("\n" + key + ":");
    if (at == std::string::npos) return std::nullopt;
    return std::stoull(status.substr(at + key.size() + 2)) * 1024;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    return "\n" + content.str();
}

uint64_t StatusNumber(const std::string& status, const std::string& key) {
    size_t at = status.find("\n" + key + ":");
    return at == std::string::npos ? 0 : std::stoull(status.substr(at + key.size() + 2));
}
}  // namespace

bool ChildProcess::Spawn(const std::string& program, const std::vector<std::string>& arguments,
                         const EnvironmentOverrides& environment, const Options& options) {
    // A child that ended must not take this process down when its input is written.
    std::signal(SIGPIPE, SIG_IGN);
    int input[2];
    if (pipe2(input, O_CLOEXEC) != 0) return false;
    Streams streams{input[0], -1, -1};
    int outputPipe[2] = {-1, -1};
    if (options.onLine) {
        if (pipe2(outputPipe, O_CLOEXEC) != 0) outputPipe[0] = outputPipe[1] = -1;
        streams.output = outputPipe[1];
    } else if (!options.inheritOutput) {
        char pattern[] = "/tmp/kestrel-child-XXXXXX";
        streams.output = streams.error = mkostemp(pattern, O_CLOEXEC);
        if (streams.output >= 0) m_outputPath = pattern;
    }

    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<std::string> entries = ChildEnvironment(environment);
    std::vector<char*> argv = Pointers(words), envp = Pointers(entries);
    bool usable = !(options.onLine && outputPipe[0] < 0) &&
                  (options.onLine || options.inheritOutput || streams.output >= 0);
    pid_t pid = !usable            ? -1
                : options.detached ? ForkDetached(argv.data(), envp.data(), streams)
                                   : ::Spawn(argv.data(), envp.data(), streams);
    close(input[0]);
    if (streams.output >= 0) close(streams.output);
    m_handles->pid = pid;
    m_handles->status.reset();
    m_handles->input = input[1];
    m_handles->output = outputPipe[0];
    if (pid < 0) Release();
    return pid >= 0;
}

size_t ChildProcess::ReadOutput(char* buffer, size_t size) {
    while (true) {
        ssize_t count = read(m_handles->output, buffer, size);
        if (count >= 0) return static_cast<size_t>(count);
        if (errno != EINTR) return 0;
    }
}

void ChildProcess::Release() {
    if (m_reader.joinable()) m_reader.join();
    CloseInput();
    if (m_handles->output >= 0) close(m_handles->output);
    m_handles->output = -1;
    if (!m_outputPath.empty()) unlink(m_outputPath.c_str());
    m_outputPath.clear();
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
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::Terminate() {
    if (m_handles->pid >= 0 && !m_handles->status) kill(m_handles->pid, SIGTERM);
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

bool ChildProcess::Running() {
    return m_handles->pid >= 0 && !Wait(std::chrono::milliseconds(0));
}

std::optional<ChildProcess::Usage> ChildProcess::Sample() const {
    if (m_handles->pid < 0 || m_handles->status) return std::nullopt;
    const std::string proc = "/proc/" + std::to_string(m_handles->pid);
    std::string status = ReadFile(proc + "/status");
    auto resident = StatusBytes(status, "VmRSS");
    if (!resident) return std::nullopt;  // ended: a zombie has no resident set
    Usage usage;
    usage.residentBytes = *resident;
    usage.anonymousBytes = StatusBytes(status, "RssAnon").value_or(0);
    usage.fileBytes = StatusBytes(status, "RssFile").value_or(0);
    usage.threads = StatusNumber(status, "Threads");
    const std::string rollup = ReadFile(proc + "/smaps_rollup");
    usage.privateBytes = StatusBytes(rollup, "Private_Clean").value_or(0) +
                         StatusBytes(rollup, "Private_Dirty").value_or(0);
    usage.proportionalBytes = StatusBytes(rollup, "Pss").value_or(0);

    // Fields after the command name: state is field 3, utime 14, stime 15.
    std::string stat = ReadFile(proc + "/stat");
    size_t end = stat.rfind(')');
    if (end == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    uint64_t ticks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14 || number == 15) ticks += std::stoull(field);
    }
    usage.cpuSeconds = static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));

    std::error_code error;
    for (std::filesystem::directory_iterator it(proc + "/task", error), last; !error && it != last;
         it.increment(error)) {
        std::string task = ReadFile(it->path().string() + "/status");
        usage.contextSwitches +=
            StatusNumber(task, "voluntary_ctxt_switches") + StatusNumber(task, "nonvoluntary_ctxt_switches");
    }
    for (std::filesystem::directory_iterator it(proc + "/fd", error), last; !error && it != last;
         it.increment(error)) {
        ++usage.handles;
    }
    if (error) return std::nullopt;
    return usage;
}
