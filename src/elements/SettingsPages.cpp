#include "elements/SettingsPages.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "diagnostics/Log.h"
#include "diagnostics/LogText.h"
#include "elements/CatalogueElements.h"

using json = nlohmann::json;

namespace {

// How long a value set by a dial may still come back in a settings page's
// save that crossed it (a round trip through the host takes milliseconds),
// and how many such values are kept per page.
constexpr int32_t kDialValuesKeptMs = 1000;
constexpr size_t kDialValuesKept = 32;

}  // namespace

SettingsPages::SettingsPages(std::string name) : m_name(std::move(name)) {}

void SettingsPages::Close(const std::string& context) {
    m_shown.erase(context);
    m_dialValuesTold.erase(context);
}

void SettingsPages::ToldDialValue(const std::string& context, const std::string& key, const json& value,
                                  Clock::time_point now) {
    std::vector<DialValue>& told = m_dialValuesTold[context];
    const auto since = now - std::chrono::milliseconds(kDialValuesKeptMs);
    told.erase(told.begin(), std::find_if(told.begin(), told.end(),
                                          [&](const DialValue& kept) { return kept.when >= since; }));
    if (told.size() >= kDialValuesKept) told.erase(told.begin());
    told.push_back(DialValue{now, key, value});
}

json SettingsPages::ChangesOf(const std::string& context, const json& payload, const json& stored,
                              Clock::time_point now) const {
    auto told = m_dialValuesTold.find(context);
    const auto incoming = payload.find("settings");
    if (told == m_dialValuesTold.end() || incoming == payload.end() || !incoming->is_object()) return payload;
    const auto since = now - std::chrono::milliseconds(kDialValuesKeptMs);
    json changes = payload;
    for (const DialValue& dial : told->second) {
        const auto member = incoming->find(dial.key);
        const json current = SettingOf(stored, dial.key.c_str());
        if (dial.when < since || member == incoming->end() || *member != dial.value || current == dial.value)
            continue;
        LogTrace(
            "ControlElementBase::HandleReceivedSettings: '%s' ('%s'): '%s' stays %s; the page saved an older "
            "copy",
            context.c_str(), m_name.c_str(), dial.key.c_str(), LogText::Json(current).c_str());
        changes["settings"].erase(dial.key);
    }
    return changes;
}

json SettingsPages::Data(const json& settings, const std::string& stateName,
                         const std::string& sandboxGrantCommand) {
    json state = {{"id", stateName}};
    if (stateName == "sandboxed") state["command"] = sandboxGrantCommand;
    return {{"settings", settings}, {"state", state}};
}
