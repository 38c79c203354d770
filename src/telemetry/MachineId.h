#pragma once
// A machine identifier that stays the same across runs: the stored value
// when there is a usable one (the machine's store first, then the user's),
// else "SWID/" + hardware UUID + GUID + random number, else "VTID/" + GUID +
// random number. The result is written back to the machine's store; when
// that is refused (a standard user on Windows may not write HKLM) and the
// value did not come from there, it is kept in the user's store instead.

#include <chrono>
#include <functional>
#include <string>

// How long the identifier waits for the hardware UUID (a hung WMI service
// must not hold up the plug-in's start) before it is made without it.
inline constexpr std::chrono::milliseconds kHardwareUuidLimit{3000};

// Computed once per process and then kept, so that telemetry and crash
// reports of one process carry the same identifier even where no store keeps it.
std::string GetMachineId();

// The sources the identifier is made from; GetMachineId uses the system's.
struct MachineIdSources {
    std::function<std::string()> readStored;              // the machine's store; "" when empty
    std::function<bool(const std::string&)> writeStored;  // false when refused
    std::function<std::string()> readUserStored;          // read when the machine's store has nothing usable
    std::function<bool(const std::string&)> writeUserStored;  // false when refused
    std::function<std::string()> hardwareUuid;                // "" when unknown; may block
    std::function<std::string()> newGuidText;                 // 8-4-4-4-12 upper-case hex digits
    std::function<std::string()> randomNumberText;            // upper-case hex, "0" on failure
    std::chrono::milliseconds hardwareUuidLimit = kHardwareUuidLimit;
};

MachineIdSources SystemMachineIdSources();
// Runs the whole computation on every call (no caching).
std::string GetMachineId(const MachineIdSources& sources);
