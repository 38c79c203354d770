#include "ActionTable.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "elements/ActionCatalogue.h"

using nlohmann::json;

namespace {

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
    for (const ActionDescription& action : ActionCatalogue()) {
        m_entries.push_back({action.Id(), action.shortName, "", ""});
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
