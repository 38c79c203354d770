#include "support/ChildProcess.h"

#include <windows.h>
// After windows.h: these use its types.
#include <psapi.h>
#include <tlhelp32.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "diagnostics/ModuleDirectory.h"
#include "diagnostics/Platform.h"

struct ChildProcess::Handles {
    PROCESS_INFORMATION process{};
    HANDLE input = nullptr;  // write end of the child's standard input
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
    CloseInput();
    if (m_handles->started) {
        CloseHandle(m_handles->process.hProcess);
        CloseHandle(m_handles->process.hThread);
    }
    if (!m_outputPath.empty()) DeleteFileA(m_outputPath.c_str());
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                         const EnvironmentOverrides& environment) {
    char directory[MAX_PATH];
    char path[MAX_PATH];
    if (GetTempPathA(MAX_PATH, directory) == 0 || GetTempFileNameA(directory, "kcp", 0, path) == 0)
        return false;
    m_outputPath = path;

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE output = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) return false;

    HANDLE inputRead = nullptr;
    HANDLE inputWrite = nullptr;
    if (!CreatePipe(&inputRead, &inputWrite, &inherit, 0)) {
        CloseHandle(output);
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
    startup.hStdError = output;
    std::string block = EnvironmentBlock(environment);
    BOOL created =
        CreateProcessW(wideProgram.c_str(), wideCommandLine.data(), nullptr, nullptr, TRUE, 0,
                       environment.empty() ? nullptr : block.data(), nullptr, &startup, &m_handles->process);
    CloseHandle(output);
    CloseHandle(inputRead);
    m_handles->input = inputWrite;
    m_handles->started = created != FALSE;
    if (!m_handles->started) CloseInput();
    return m_handles->started;
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

bool ChildProcess::Running() { return m_handles->started && !Wait(std::chrono::milliseconds(0)); }


std::optional<ChildProcess::Usage> ChildProcess::Sample() const {
    if (!m_handles->started || m_handles->status) return std::nullopt;
    HANDLE process = m_handles->process.hProcess;
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) return std::nullopt;
    Usage usage;
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(process, &memory, sizeof memory)) return std::nullopt;
    usage.residentBytes = memory.WorkingSetSize;
    DWORD handles = 0;
    if (GetProcessHandleCount(process, &handles)) usage.handles = handles;
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
