#include "telemetry/MachineId.h"

#include <algorithm>

#include "telemetry/MachineIdStore.h"
#include "telemetry/SystemSources.h"

namespace {

// Identifiers known to be shared by many machines (firmware placeholders);
// compared exactly, case included.
const char* const kRejectedValues[] = {
    "WUID/03000200-0400-0500-0006-000700080009",
    "WUID/00000000-0000-0000-0000-000000000000",
    "WUID/FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF",
    "WUID/00412F4E-0000-0000-0000-0000FFFFFFFF",
};

bool IsRejected(const std::string& value) {
    return std::any_of(std::begin(kRejectedValues), std::end(kRejectedValues),
                       [&value](const char* rejected) { return value == rejected; });
}

std::string WithoutDashes(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    return text;
}

}  // namespace

MachineIdSources SystemMachineIdSources() {
    return {ReadStoredMachineId, WriteStoredMachineId, ReadHardwareUuid, NewGuidText, RandomNumberText};
}

std::string GetMachineId() {
    return GetMachineId(SystemMachineIdSources());
}

std::string GetMachineId(const MachineIdSources& sources) {
    std::string result = sources.readStored();
    if (IsRejected(result)) result.clear();
    if (result.empty()) {
        std::string uuid = sources.hardwareUuid();
        if (!uuid.empty()) {
            result = "SWID/" + WithoutDashes(uuid) + "-" + WithoutDashes(sources.newGuidText()) + "-" +
                     sources.randomNumberText();
        }
    }
    if (result.empty()) {
        result = "VTID/" + WithoutDashes(sources.newGuidText()) + "-" + sources.randomNumberText();
    }
    sources.writeStored(result);
    return result;
}
