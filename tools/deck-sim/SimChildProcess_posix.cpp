#include "SimChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio/posix/stream_descriptor.hpp>
#include <asio/read_until.hpp>
#include <asio/steady_timer.hpp>
#include <asio/streambuf.hpp>
#include <chrono>
#include <istream>

extern char** environ;

namespace {
constexpr auto kExitPoll = std::chrono::milliseconds(100);
}

struct SimChildProcess::Impl {
    explicit Impl(asio::io_context& context) : io(context), output(context), exitTimer(context) {}

    asio::io_context& io;
    pid_t pid = -1;
    int input = -1;  // write end of the child's stdin
    asio::posix::stream_descriptor output;
    asio::streambuf outputBuffer;
    asio::steady_timer exitTimer;
    std::optional<int> status;
    LineHandler onLine;
    ExitHandler onExit;

    void ReadLine() {
        asio::async_read_until(output, outputBuffer, '\n', [this](const asio::error_code& error, size_t) {
            if (error) return;  // end of output or closed
            std::istream stream(&outputBuffer);
            std::string line;
            std::getline(stream, line);
            if (onLine) onLine(line);
            ReadLine();
        });
    }

    void ReleasePipes() {
        asio::error_code ignored;
        if (output.is_open()) output.close(ignored);  // cancels the pending read
        outputBuffer.consume(outputBuffer.size());
        if (input >= 0) close(input);
        input = -1;
    }

    void WatchExit() {
        exitTimer.expires_after(kExitPoll);
        exitTimer.async_wait([this](const asio::error_code& error) {
            if (error || pid < 0) return;
            int raw = 0;
            if (waitpid(pid, &raw, WNOHANG) != pid) return WatchExit();
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            pid = -1;
            if (onExit) onExit(*status);
        });
    }
};

SimChildProcess::SimChildProcess(asio::io_context& io) : m_impl(std::make_unique<Impl>(io)) {}

SimChildProcess::~SimChildProcess() {
    if (m_impl->pid > 0) {
        kill(m_impl->pid, SIGKILL);
        waitpid(m_impl->pid, nullptr, 0);
    }
    m_impl->ReleasePipes();
}

bool SimChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                            const std::map<std::string, std::string>& environment, LineHandler onLine,
                            ExitHandler onExit) {
    if (access(program.c_str(), X_OK) != 0) return false;
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls are allowed.
    std::vector<std::string> envText;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        if (!environment.count(text.substr(0, text.find('=')))) envText.push_back(text);
    }
    for (const auto& [name, value] : environment) envText.push_back(name + "=" + value);
    std::vector<char*> envp, argv;
    for (auto& text : envText) envp.push_back(text.data());
    envp.push_back(nullptr);
    std::string programCopy = program;
    argv.push_back(programCopy.data());
    std::vector<std::string> argumentCopies = arguments;
    for (auto& argument : argumentCopies) argv.push_back(argument.data());
    argv.push_back(nullptr);

    bool piped = static_cast<bool>(onLine);
    int toChild[2] = {-1, -1}, fromChild[2] = {-1, -1};
    if (piped && (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)) return false;

    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        // Its own process group: a Ctrl-C in the terminal reaches deck-sim
        // only, which then stops the plug-in the way the host does.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        if (piped) {
            dup2(toChild[0], STDIN_FILENO);
            dup2(fromChild[1], STDOUT_FILENO);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    m_impl->ReleasePipes();  // those of an earlier run of the same program
    m_impl->pid = pid;
    m_impl->status.reset();
    m_impl->onLine = std::move(onLine);
    m_impl->onExit = std::move(onExit);
    if (piped) {
        close(toChild[0]);
        close(fromChild[1]);
        m_impl->input = toChild[1];
        m_impl->output.assign(fromChild[0]);
        m_impl->ReadLine();
    }
    m_impl->WatchExit();
    return true;
}

bool SimChildProcess::Running() const {
    return m_impl->pid > 0;
}

std::optional<int> SimChildProcess::ExitStatus() const {
    return m_impl->status;
}

void SimChildProcess::WriteLine(const std::string& line) {
    if (m_impl->input < 0) return;
    std::string text = line + "\n";
    size_t written = 0;
    while (written < text.size()) {
        ssize_t count = write(m_impl->input, text.data() + written, text.size() - written);
        if (count <= 0) return;  // the child has closed its stdin (SIGPIPE is ignored)
        written += static_cast<size_t>(count);
    }
}

void SimChildProcess::CloseInput() {
    if (m_impl->input >= 0) close(m_impl->input);
    m_impl->input = -1;
}

void SimChildProcess::Terminate() {
    if (m_impl->pid > 0) kill(m_impl->pid, SIGTERM);
}

void SimChildProcess::Kill() {
    if (m_impl->pid > 0) kill(m_impl->pid, SIGKILL);
}
