#include "deck-sim/ActionTable.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "catalogue/ActionCatalogue.h"

using nlohmann::json;

namespace {

std::string StringMember(const json& object, const char* key, const std::string& fallback) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_string() || found->get<std::string>().empty()) return fallback;
    return found->get<std::string>();
}

// The pictures and names of the states, which the host shows while the
// plug-in sets no image of its own.
std::vector<ManifestState> States(const json& action) {
    std::vector<ManifestState> states;
    auto listed = action.find("States");
    if (listed == action.end() || !listed->is_array()) return states;
    for (const json& state : *listed) {
        if (!state.is_object()) {
            states.emplace_back();  // kept, so later states keep their index
            continue;
        }
        states.push_back({StringMember(state, "Image", ""), StringMember(state, "Name", "")});
    }
    return states;
}

// The manifest's Encoder block: layout, icon and trigger descriptions.
void ApplyEncoderBlock(const json& action, ActionEntry& entry) {
    auto block = action.find("Encoder");
    if (block == action.end() || !block->is_object()) return;
    entry.encoderLayout = StringMember(*block, "layout", entry.encoderLayout);
    entry.encoderIcon = StringMember(*block, "Icon", entry.encoderIcon);
    auto triggers = block->find("TriggerDescription");
    if (triggers == block->end() || !triggers->is_object()) return;
    for (auto [manifestKey, key] :
         {std::pair{"Rotate", "rotate"}, {"Push", "push"}, {"Touch", "touch"}, {"LongTouch", "longTouch"}}) {
        std::string text = StringMember(*triggers, manifestKey, "");
        if (!text.empty()) entry.triggerDescription[key] = text;
    }
}

bool ListsEncoder(const std::vector<std::string>& controllers) {
    for (const std::string& controller : controllers) {
        if (controller == "Encoder") return true;
    }
    return false;
}

}  // namespace

ActionTable::ActionTable() {
    for (const ActionDescription& action : ActionCatalogue()) {
        ActionEntry entry;
        entry.uuid = action.Id();
        entry.name = action.shortName;
        entry.encoder = ListsEncoder(action.controllers);
        m_entries.push_back(std::move(entry));
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
            entry.states = States(action);
            entry.automaticStates = action.value("DisableAutomaticStates", json()) != true;
            entry.inMultiActions = action.value("SupportedInMultiActions", json()) != false;
            ApplyEncoderBlock(action, entry);
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
