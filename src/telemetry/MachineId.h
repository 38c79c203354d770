#pragma once
// A machine identifier that stays the same across runs: the stored value
// when there is a usable one, else "SWID/" + hardware UUID + GUID + random
// number, else "VTID/" + GUID + random number. Every call writes its result
// back to the store (the registry on Windows, a file elsewhere).

#include <functional>
#include <string>

std::string GetMachineId();

// The sources the identifier is made from; GetMachineId uses the system's.
struct MachineIdSources {
    std::function<std::string()> readStored;              // "" when nothing is stored
    std::function<void(const std::string&)> writeStored;  // failures are ignored
    std::function<std::string()> hardwareUuid;            // "" when unknown
    std::function<std::string()> newGuidText;             // 8-4-4-4-12 upper-case hex digits
    std::function<std::string()> randomNumberText;        // upper-case hex, "0" on failure
};

MachineIdSources SystemMachineIdSources();
std::string GetMachineId(const MachineIdSources& sources);
