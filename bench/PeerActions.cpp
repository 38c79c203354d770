#include "PeerActions.h"

#include <fstream>

#include "catalogue/ActionCatalogue.h"

using nlohmann::json;

namespace {

const char* KindName(ActionKind kind) {
    switch (kind) {
        case ActionKind::kMultipleState:
            return "multi";
        case ActionKind::kPump:
            return "pump";
        case ActionKind::kDynamicImage:
            return "dynamic";
        case ActionKind::kSingleState:
            break;
    }
    return "single";
}

const char* DataName(CommandData data) {
    switch (data) {
        case CommandData::kVolumeStep:
            return "volumeStep";
        case CommandData::kVolumeLevel:
            return "volumeLevel";
        case CommandData::kPumpLevel:
            return "pumpLevel";
        case CommandData::kNone:
            break;
    }
    return "none";
}

}  // namespace

json PeerActions() {
    json actions = json::array();
    for (const ActionDescription& action : ActionCatalogue()) {
        json states = json::array();
        for (const ActionState& state : action.states)
            states.push_back({{"name", state.name}, {"image", state.image}, {"command", state.command}});
        actions.push_back({{"shortName", action.shortName},
                           {"kind", KindName(action.kind)},
                           {"data", DataName(action.data)},
                           {"defaults", action.defaultSettings},
                           {"states", std::move(states)}});
    }
    return actions;
}

bool WritePeerActions(const std::string& path) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << PeerActions().dump(2);
    return static_cast<bool>(file.flush());
}
