#pragma once
// One run of the plug-in executable as the Stream Deck application starts it,
// and what the kernel says about it while it runs: CPU time, context
// switches of all its threads, private, proportional and resident memory. Back-end:
// PluginProcess_posix.cpp (the figures come from /proc).
//
// Threads: not thread-safe; the benchmark's main thread owns it.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

class PluginProcess {
public:
    struct Usage {
        double cpuSeconds = 0;         // user + system time of the whole process
        uint64_t contextSwitches = 0;  // voluntary + involuntary, summed over its threads
        uint64_t residentKiB = 0;      // VmRSS
        uint64_t anonymousKiB = 0;     // RssAnon: heaps, stacks, the process's own pages
        uint64_t fileKiB = 0;          // RssFile: pages of the executable and shared libraries
        uint64_t privateKiB = 0;       // USS: Private_Clean + Private_Dirty (smaps_rollup)
        uint64_t proportionalKiB = 0;  // Pss: private pages plus a share of the shared ones
        int threads = 0;
    };

    PluginProcess() = default;
    ~PluginProcess();  // kills a process that still runs
    PluginProcess(const PluginProcess&) = delete;
    PluginProcess& operator=(const PluginProcess&) = delete;

    // Starts |program| (looked up on PATH when it has no slash) with |arguments| and the extra |environment|;
    // false when it cannot be started.
    bool Start(const std::string& program, const std::vector<std::string>& arguments,
               const std::map<std::string, std::string>& environment);
    std::optional<Usage> Sample() const;
    // Waits up to |timeout| for the process to end; its exit status, if it did.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    void Kill();

private:
    int m_pid = -1;
};
