#include "support/ChildProcess.h"

#include <fstream>
#include <sstream>

#include "diagnostics/ModuleDirectory.h"
#include "diagnostics/Platform.h"

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                         const EnvironmentOverrides& environment, Options options) {
    Release();
    if (!Spawn(program, arguments, environment, options)) return false;
    if (options.onLine)
        m_reader = std::thread([this, onLine = std::move(options.onLine)] { ReadLines(onLine); });
    return true;
}

void ChildProcess::ReadLines(std::function<void(const std::string&)> onLine) {
    std::string pending;
    char buffer[4096];
    while (size_t count = ReadOutput(buffer, sizeof buffer)) {
        pending.append(buffer, count);
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            std::string line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            onLine(line);
        }
    }
}

std::string ChildProcess::Output() const {
    std::ifstream file(m_outputPath, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string BuiltProgramPath(const std::string& name) {
    return (GetModuleDirectory() / (name + kExecutableSuffix)).u8string();
}

std::string RegisteredPluginOutput(const std::string& program) {
    if (KESTREL_WIN32) return "";
    const std::string folder = program.substr(0, program.find_last_of('/'));
    return "kestrel-sdplugin: log file: " + folder + "/logs/rotating.txt\n";
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Output().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
