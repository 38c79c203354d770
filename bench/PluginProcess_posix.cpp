#include "PluginProcess.h"

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

// The value of "Key:" in a /proc status file; 0 when missing.
uint64_t StatusValue(const std::string& path, const std::string& key) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, key.size(), key) == 0 && line.size() > key.size() && line[key.size()] == ':') {
            return std::stoull(line.substr(key.size() + 1));
        }
    }
    return 0;
}

}  // namespace

PluginProcess::~PluginProcess() {
    Kill();
}

bool PluginProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                          const std::map<std::string, std::string>& environment) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    std::vector<std::string> settings;
    for (char** entry = environ; *entry; ++entry) {
        std::string text(*entry);
        if (!environment.count(text.substr(0, text.find('=')))) settings.push_back(text);
    }
    for (const auto& [name, value] : environment) settings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& setting : settings) envp.push_back(setting.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return false;
    m_pid = pid;
    return true;
}

std::optional<PluginProcess::Usage> PluginProcess::Sample() const {
    if (m_pid < 0) return std::nullopt;
    std::string base = "/proc/" + std::to_string(m_pid);
    std::ifstream statFile(base + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    auto end = stat.rfind(')');
    if (end == std::string::npos) return std::nullopt;
    // Fields after the command name: state is field 3, utime 14, stime 15.
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    uint64_t utime = 0, stime = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) utime = std::stoull(field);
        if (number == 15) stime = std::stoull(field);
    }
    Usage usage;
    usage.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    usage.residentKiB = StatusValue(base + "/status", "VmRSS");
    usage.anonymousKiB = StatusValue(base + "/status", "RssAnon");
    usage.fileKiB = StatusValue(base + "/status", "RssFile");
    usage.privateKiB = StatusValue(base + "/smaps_rollup", "Private_Clean") +
                       StatusValue(base + "/smaps_rollup", "Private_Dirty");
    usage.proportionalKiB = StatusValue(base + "/smaps_rollup", "Pss");
    if (DIR* tasks = opendir((base + "/task").c_str())) {
        while (dirent* task = readdir(tasks)) {
            if (task->d_name[0] == '.') continue;
            std::string status = base + "/task/" + task->d_name + "/status";
            usage.contextSwitches += StatusValue(status, "voluntary_ctxt_switches") +
                                     StatusValue(status, "nonvoluntary_ctxt_switches");
            ++usage.threads;
        }
        closedir(tasks);
    }
    return usage;
}

std::optional<int> PluginProcess::Wait(std::chrono::milliseconds timeout) {
    if (m_pid < 0) return std::nullopt;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void PluginProcess::Kill() {
    if (m_pid < 0) return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}
