#include <windows.h>
// After windows.h: these use its types.
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "diagnostics/ModuleDirectory.h"
#include "diagnostics/Platform.h"
#include "diagnostics/WideText_win32.h"
#include "support/ChildProcess.h"

struct ChildProcess::Handles {
    PROCESS_INFORMATION process{};
    HANDLE input = nullptr;   // write end of the child's standard input
    HANDLE output = nullptr;  // read end of the child's stdout, with Options::onLine
    bool started = false;
    std::optional<int> status;
};

namespace {
// Quotes one argument by the rules that CommandLineToArgvW and the C runtime undo.
std::string Quote(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            quoted.append(backslashes * 2 + 1, '\\');
        else
            quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}
// The test's environment with the overrides applied, as a block of
// "NAME=value\0" entries ended by one more "\0". Names compare without case.
std::string EnvironmentBlock(const EnvironmentOverrides& overrides) {
    std::string block;
    char* strings = GetEnvironmentStringsA();
    for (const char* entry = strings; entry && *entry; entry += std::strlen(entry) + 1) {
        std::string text = entry;
        std::string name = text.substr(0, text.find('=', 1));
        bool replaced = false;
        for (const auto& change : overrides)
            replaced = replaced || _stricmp(change.first.c_str(), name.c_str()) == 0;
        if (!replaced) block += text + '\0';
    }
    if (strings) FreeEnvironmentStringsA(strings);
    for (const auto& [name, value] : overrides) {
        if (value) block += name + "=" + *value + '\0';
    }
    return block + '\0';
}
}  // namespace

ChildProcess::ChildProcess() : m_handles(std::make_unique<Handles>()) {}

ChildProcess::~ChildProcess() {
    Kill();
    Release();
}

void ChildProcess::Release() {
    if (m_reader.joinable()) m_reader.join();
    CloseInput();
    if (m_handles->output != nullptr) CloseHandle(m_handles->output);
    m_handles->output = nullptr;
    if (m_handles->started) {
        CloseHandle(m_handles->process.hProcess);
        CloseHandle(m_handles->process.hThread);
    }
    m_handles->started = false;
    m_handles->status.reset();
    if (!m_outputPath.empty()) DeleteFileA(m_outputPath.c_str());
    m_outputPath.clear();
}

namespace {
// Where the child writes: a captured file, a pipe for lines (|reader| gets
// its other end), or this process's own stdout; nullptr when that fails.
HANDLE ChildOutput(const ChildProcess::Options& options, SECURITY_ATTRIBUTES& inherit, HANDLE& reader,
                   std::string& capturePath) {
    if (options.inheritOutput) return GetStdHandle(STD_OUTPUT_HANDLE);
    if (options.onLine) {
        HANDLE writer = nullptr;
        if (!CreatePipe(&reader, &writer, &inherit, 0)) return nullptr;
        SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
        return writer;
    }
    char directory[MAX_PATH];
    char path[MAX_PATH];
    if (GetTempPathA(MAX_PATH, directory) == 0 || GetTempFileNameA(directory, "kcp", 0, path) == 0)
        return nullptr;
    capturePath = path;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}
}  // namespace

bool ChildProcess::Spawn(const std::string& program, const std::vector<std::string>& arguments,
                         const EnvironmentOverrides& environment, const Options& options) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE output = ChildOutput(options, inherit, m_handles->output, m_outputPath);
    if (output == nullptr) return false;
    auto releaseOutput = [&] {
        if (!options.inheritOutput) CloseHandle(output);
    };

    HANDLE inputRead = nullptr;
    HANDLE inputWrite = nullptr;
    if (!CreatePipe(&inputRead, &inputWrite, &inherit, 0)) {
        releaseOutput();
        return false;
    }
    SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);

    // UTF-16 for the child, so that its arguments arrive whatever the ANSI code page holds.
    std::string commandLine = Quote(program);
    for (const auto& argument : arguments) commandLine += " " + Quote(argument);
    std::wstring wideProgram = Utf8ToWide(program);
    std::wstring wideCommandLine = Utf8ToWide(commandLine);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = output;
    startup.hStdError = options.onLine || options.inheritOutput ? GetStdHandle(STD_ERROR_HANDLE) : output;
    std::string block = EnvironmentBlock(environment);
    BOOL created =
        CreateProcessW(wideProgram.c_str(), wideCommandLine.data(), nullptr, nullptr, TRUE, 0,
                       environment.empty() ? nullptr : block.data(), nullptr, &startup, &m_handles->process);
    releaseOutput();
    CloseHandle(inputRead);
    m_handles->input = inputWrite;
    m_handles->started = created != FALSE;
    if (!m_handles->started) Release();
    return m_handles->started;
}

size_t ChildProcess::ReadOutput(char* buffer, size_t size) {
    DWORD count = 0;
    if (!ReadFile(m_handles->output, buffer, static_cast<DWORD>(size), &count, nullptr)) return 0;
    return count;
}

void ChildProcess::Terminate() {
    Kill();
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (m_handles->status || !m_handles->started) return m_handles->status;
    if (WaitForSingleObject(m_handles->process.hProcess, static_cast<DWORD>(timeout.count())) !=
        WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(m_handles->process.hProcess, &code);
    m_handles->status = static_cast<int>(code);
    return m_handles->status;
}

void ChildProcess::Kill() {
    if (!m_handles->started || m_handles->status) return;
    TerminateProcess(m_handles->process.hProcess, 137);
    Wait(std::chrono::seconds(5));
}

bool ChildProcess::WriteInput(const std::string& text) {
    if (m_handles->input == nullptr) return false;
    DWORD written = 0;
    return WriteFile(m_handles->input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

void ChildProcess::CloseInput() {
    if (m_handles->input != nullptr) CloseHandle(m_handles->input);
    m_handles->input = nullptr;
}

bool ChildProcess::Running() {
    return m_handles->started && !Wait(std::chrono::milliseconds(0));
}

std::optional<ChildProcess::Usage> ChildProcess::Sample() const {
    if (!m_handles->started || m_handles->status) return std::nullopt;
    HANDLE process = m_handles->process.hProcess;
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) return std::nullopt;
    Usage usage;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory))
        return std::nullopt;
    usage.residentBytes = memory.WorkingSetSize;
    // Task Manager's commit size. Windows fills both fields with it; Wine
    // fills only PagefileUsage for another process.
    usage.privateBytes = std::max<size_t>(memory.PrivateUsage, memory.PagefileUsage);
    DWORD handles = 0;
    if (GetProcessHandleCount(process, &handles)) usage.handles = handles;
    FILETIME created, ended, kernel, user;
    if (GetProcessTimes(process, &created, &ended, &kernel, &user)) {
        auto seconds = [](const FILETIME& time) {
            return static_cast<double>((uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
        };
        usage.cpuSeconds = seconds(kernel) + seconds(user);
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
            if (entry.th32OwnerProcessID == m_handles->process.dwProcessId) ++usage.threads;
        }
        CloseHandle(snapshot);
    }
    return usage;
}
