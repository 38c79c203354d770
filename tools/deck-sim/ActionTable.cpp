#include "ActionTable.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

using nlohmann::json;

namespace {

struct BuiltIn {
    const char* shortName;
    const char* name;
};

// Catalogue order: the keys appear on the device in this order.
constexpr BuiltIn kActions[] = {
    {"overlays-reload", "Reload Overlays"},
    {"emberfall", "Emberfall"},
    {"cup-empty", "Cup Empty"},
    {"alerts-skip", "Skip Alert"},
    {"alerts-mute", "Mute Alerts"},
    {"streaming-state", "Streaming State"},
    {"alerts-pause", "Pause Alerts (toggle)"},
    {"alerts-pause-on", "Pause Alerts"},
    {"alerts-pause-off", "Resume Alerts"},
    {"media-request", "Media Requests"},
    {"media-request-video", "Media Video"},
    {"emberfall-pump", "Emberfall Pump"},
    {"media-request-play-pause", "Play/Pause Media"},
    {"media-request-play", "Play Media"},
    {"media-request-pause", "Pause Media"},
    {"media-request-next-item", "Next Media"},
    {"media-request-prev-item", "Previous Media"},
    {"media-request-nudge-volume-up", "Volume Up"},
    {"media-request-nudge-volume-down", "Volume Down"},
    {"media-request-set-volume-level", "Set Volume"},
    {"media-request-mute", "Mute Media"},
    {"media-request-show-on-stream", "Show Media on Stream"},
};

std::string StringMember(const json& object, const char* key, const std::string& fallback) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_string() || found->get<std::string>().empty()) return fallback;
    return found->get<std::string>();
}

// The picture of the first state, which the host shows before the plug-in
// sets an image of its own.
std::string FirstStateImage(const json& action) {
    auto states = action.find("States");
    if (states == action.end() || !states->is_array() || states->empty()) return "";
    const json& first = states->front();
    return first.is_object() ? StringMember(first, "Image", "") : "";
}

}  // namespace

ActionTable::ActionTable() {
    for (const BuiltIn& action : kActions) {
        m_entries.push_back({std::string("com.vantora.kestrel.") + action.shortName, action.name, "", ""});
    }
}

bool ActionTable::ApplyManifest(const std::string& manifestText) {
    json manifest = json::parse(manifestText, nullptr, false);
    if (!manifest.is_object() || !manifest.contains("Actions") || !manifest["Actions"].is_array())
        return false;
    // A plug-in-wide inspector page serves actions that name none of their own.
    std::string sharedInspector = StringMember(manifest, "PropertyInspectorPath", "");
    for (ActionEntry& entry : m_entries) {
        for (const json& action : manifest["Actions"]) {
            if (!action.is_object() || StringMember(action, "UUID", "") != entry.uuid) continue;
            entry.name = StringMember(action, "Name", entry.name);
            entry.propertyInspectorPath = StringMember(action, "PropertyInspectorPath", sharedInspector);
            entry.stateImage = FirstStateImage(action);
        }
    }
    return true;
}

bool ActionTable::LoadManifest(const std::string& pluginFolder) {
    std::ifstream file(pluginFolder + "/manifest.json", std::ios::binary);
    if (!file) return false;
    std::ostringstream text;
    text << file.rdbuf();
    return ApplyManifest(text.str());
}
