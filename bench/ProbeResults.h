#pragma once
// What plugin_probe measured of one program: the latency series, the idle
// run and the memory at its end. Saved as JSON by the probe run under Wine
// and read by the native probe, which prints both in one table.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "Samples.h"
#include "support/ChildProcess.h"

struct ProbeResults {
    Samples start, press, turn, multiState, overlay, setImageBytes;
    Samples encode;  // compose-and-encode of one key, in the probe's own process
    Samples burst, burstPerKey;  // sign-in and sign-out: every key redrawn, and each key
    int incompleteBursts = 0;
    double idleCpuSeconds = 0, idleSeconds = 0;
    double idleSwitches = 0;  // below 0: not counted (Windows has no reading of them)
    int idleThreads = 0;
    size_t idleHostMessages = 0;
    std::optional<ChildProcess::Usage> memory;  // at the end of the last idle run
    std::string failure;

    // Samples |process| before and after |seconds| of sleep and adds the
    // difference to the idle figures; the memory is the second sample's.
    void MeasureIdle(const ChildProcess& process, int seconds);

    nlohmann::json ToJson() const;
    // Reads what ToJson wrote; missing fields stay empty.
    static ProbeResults FromJson(const nlohmann::json& saved);
};
