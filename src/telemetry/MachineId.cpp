#include "telemetry/MachineId.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "diagnostics/Log.h"
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

// |value|, or "" when it is a placeholder.
std::string Usable(std::string value) {
    bool rejected = std::any_of(std::begin(kRejectedValues), std::end(kRejectedValues),
                                [&value](const char* placeholder) { return value == placeholder; });
    if (rejected) value.clear();
    return value;
}

std::string WithoutDashes(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    return text;
}

// Runs |ask| on a thread of its own and gives its answer if it comes within
// |limit|, else "". A late answer is dropped; the thread then ends on its own
// (WMI's own time-outs end it), or with the process.
std::string AskWithin(const std::function<std::string()>& ask, std::chrono::milliseconds limit) {
    struct Answer {
        std::mutex lock;
        std::condition_variable given;
        bool done = false;
        std::string text;
    };
    auto answer = std::make_shared<Answer>();
    try {
        std::thread([answer, ask] {
            std::string text = ask();
            std::lock_guard<std::mutex> lock(answer->lock);
            answer->text = std::move(text);
            answer->done = true;
            answer->given.notify_all();
        }).detach();
    } catch (const std::system_error& error) {
        LogWarning("GetMachineId: no thread for the hardware UUID: %s", error.what());
        return "";
    }
    std::unique_lock<std::mutex> lock(answer->lock);
    if (!answer->given.wait_for(lock, limit, [&answer] { return answer->done; })) {
        LogWarning("GetMachineId: no hardware UUID within %lld ms; the identifier is made without it",
                   static_cast<long long>(limit.count()));
        return "";
    }
    return answer->text;
}

std::string MakeIdentifier(const MachineIdSources& sources) {
    std::string uuid = AskWithin(sources.hardwareUuid, sources.hardwareUuidLimit);
    if (!uuid.empty()) {
        return "SWID/" + WithoutDashes(uuid) + "-" + WithoutDashes(sources.newGuidText()) + "-" +
               sources.randomNumberText();
    }
    return "VTID/" + WithoutDashes(sources.newGuidText()) + "-" + sources.randomNumberText();
}

}  // namespace

MachineIdSources SystemMachineIdSources() {
    MachineIdSources sources;
    sources.readStored = [] { return ReadStoredMachineId(MachineIdStore::Machine); };
    sources.writeStored = [](const std::string& text) {
        return WriteStoredMachineId(MachineIdStore::Machine, text);
    };
    sources.readUserStored = [] { return ReadStoredMachineId(MachineIdStore::User); };
    sources.writeUserStored = [](const std::string& text) {
        return WriteStoredMachineId(MachineIdStore::User, text);
    };
    sources.hardwareUuid = ReadHardwareUuid;
    sources.newGuidText = NewGuidText;
    sources.randomNumberText = RandomNumberText;
    return sources;
}

std::string GetMachineId() {
    static const std::string identifier = GetMachineId(SystemMachineIdSources());
    return identifier;
}

std::string GetMachineId(const MachineIdSources& sources) {
    std::string result = Usable(sources.readStored());
    const bool fromMachineStore = !result.empty();
    if (!fromMachineStore) result = Usable(sources.readUserStored());
    if (result.empty()) result = MakeIdentifier(sources);
    // The machine's store keeps it for every user; a user who may not write
    // there keeps it for themselves, so that it stays the same across runs.
    if (!sources.writeStored(result) && !fromMachineStore) sources.writeUserStored(result);
    return result;
}
