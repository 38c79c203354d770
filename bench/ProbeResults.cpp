#include "ProbeResults.h"

#include <chrono>
#include <thread>

#include "ProbePlatform.h"

namespace {

using nlohmann::json;

// The series by name, so that writing and reading cannot go out of step.
const std::pair<const char*, Samples ProbeResults::*> kSeries[] = {
    {"start", &ProbeResults::start},     {"press", &ProbeResults::press},
    {"turn", &ProbeResults::turn},       {"multiState", &ProbeResults::multiState},
    {"overlay", &ProbeResults::overlay}, {"setImageBytes", &ProbeResults::setImageBytes},
    {"encode", &ProbeResults::encode},   {"burst", &ProbeResults::burst},
    {"burstPerKey", &ProbeResults::burstPerKey}};

double Number(const json& saved, const char* name, double fallback = 0) {
    auto field = saved.find(name);
    return field != saved.end() && field->is_number() ? field->get<double>() : fallback;
}

}  // namespace

void ProbeResults::MeasureIdle(const ChildProcess& process, int seconds) {
    auto before = process.Sample();
    auto startedAt = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    auto after = process.Sample();
    double measured = std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count();
    if (!before || !after) return;
    idleSeconds += measured;
    idleCpuSeconds += after->cpuSeconds - before->cpuSeconds;
    if (!ProbePlatform::CountsContextSwitches())
        idleSwitches = -1;
    else if (idleSwitches >= 0)
        idleSwitches += static_cast<double>(after->contextSwitches - before->contextSwitches);
    idleThreads = static_cast<int>(after->threads);
    memory = after;
}

json ProbeResults::ToJson() const {
    json saved = {{"idleCpuSeconds", idleCpuSeconds},     {"idleSeconds", idleSeconds},
                  {"idleSwitches", idleSwitches},         {"idleThreads", idleThreads},
                  {"idleHostMessages", idleHostMessages}, {"failure", failure}};
    for (const auto& [name, series] : kSeries) saved[name] = (this->*series).Values();
    if (memory) {
        saved["memory"] = {{"private", memory->privateBytes},
                           {"proportional", memory->proportionalBytes},
                           {"resident", memory->residentBytes},
                           {"threads", memory->threads}};
    }
    return saved;
}

ProbeResults ProbeResults::FromJson(const json& saved) {
    ProbeResults results;
    if (!saved.is_object()) return results;
    for (const auto& [name, series] : kSeries) {
        auto values = saved.find(name);
        if (values == saved.end() || !values->is_array()) continue;
        for (const json& value : *values) {
            if (value.is_number()) (results.*series).Add(value.get<double>());
        }
    }
    results.idleCpuSeconds = Number(saved, "idleCpuSeconds");
    results.idleSeconds = Number(saved, "idleSeconds");
    results.idleSwitches = Number(saved, "idleSwitches", -1);
    results.idleThreads = static_cast<int>(Number(saved, "idleThreads"));
    results.idleHostMessages = static_cast<size_t>(Number(saved, "idleHostMessages"));
    if (auto failure = saved.find("failure"); failure != saved.end() && failure->is_string())
        results.failure = failure->get<std::string>();
    if (auto memory = saved.find("memory"); memory != saved.end() && memory->is_object()) {
        ChildProcess::Usage usage;
        usage.privateBytes = static_cast<size_t>(Number(*memory, "private"));
        usage.proportionalBytes = static_cast<size_t>(Number(*memory, "proportional"));
        usage.residentBytes = static_cast<size_t>(Number(*memory, "resident"));
        usage.threads = static_cast<size_t>(Number(*memory, "threads"));
        results.memory = usage;
    }
    return results;
}
