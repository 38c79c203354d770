#include "controller-sim/ControllerModel.h"

#include <nlohmann/json.hpp>

#include "catalogue/ActionCatalogue.h"
#include "controller/Messages.h"

using nlohmann::json;

namespace {

// The state names of each multi-state function, state 0 first. A command
// whose name is one of these states puts the function into that state.
const std::map<std::string, std::vector<std::string>>& MultiStateFunctions() {
    static const std::map<std::string, std::vector<std::string>> functions = [] {
        std::map<std::string, std::vector<std::string>> byId;
        for (const ActionDescription& action : ActionCatalogue()) {
            if (action.kind != ActionKind::kMultipleState) continue;
            for (const ActionState& state : action.states) byId[action.Id()].push_back(state.name);
        }
        return byId;
    }();
    return functions;
}

std::string Event(const char* name, json data) {
    static auto source = std::make_shared<ElementAddress>(ElementAddress::kNetworkClient, "controllerServer",
                                                          "controllerServer");
    return EventMessage(name, source, std::move(data)).Serialize();
}

}  // namespace

ControllerModel::ControllerModel(bool signedIn) : m_signedIn(signedIn) {
    for (const ActionDescription& action : ActionCatalogue()) m_supported.insert(action.Id());
    for (const auto& [id, states] : MultiStateFunctions()) m_states[id] = states.front();
}

std::vector<std::string> ControllerModel::ActionIds() {
    std::vector<std::string> ids;
    for (const ActionDescription& action : ActionCatalogue()) ids.push_back(action.Id());
    return ids;
}

std::string ControllerModel::ResolveActionId(const std::string& id) {
    const ActionDescription* action = FindAction(id);
    return action ? action->Id() : "";
}

std::vector<std::string> ControllerModel::Handle(const std::string& text) {
    json document = json::parse(text, nullptr, false);
    if (!document.is_object()) return {};
    const json& payload = document.value("payload", json::object());
    if (!payload.is_object() || payload.value("class", json()) != "command") return {};
    const json& command = payload.value("command", json::object());
    if (!command.is_object() || !command.contains("name") || !command["name"].is_string()) return {};
    std::string name = command["name"];
    if (name == SystemMessages::kQueryState) return FullReport();
    if (!m_signedIn) return {};

    // The sending action must be supported for its command to take effect.
    std::string sender;
    if (auto element = document.find("source"); element != document.end() && element->is_object()) {
        sender = element->value("element", json::object()).value("function", "");
    }
    if (!sender.empty() && !m_supported.count(sender)) return {};

    std::vector<std::string> replies;
    for (const auto& [function, states] : MultiStateFunctions()) {
        for (const auto& state : states) {
            if (state != name) continue;
            m_states[function] = state;
            replies.push_back(FunctionReport(function));
        }
    }
    return replies;
}

std::vector<std::string> ControllerModel::FullReport() const {
    std::vector<std::string> reports = {SignInReport(), SupportReport()};
    for (const auto& entry : m_states) reports.push_back(FunctionReport(entry.first));
    return reports;
}

std::string ControllerModel::SignInReport() const {
    return Event(SystemMessages::kReportState, json{{"isSignedIn", m_signedIn}});
}

std::string ControllerModel::SupportReport() const {
    json support = json::object();
    for (const ActionDescription& action : ActionCatalogue())
        support[action.Id()] = m_supported.count(action.Id()) > 0;
    return Event(SystemMessages::kSupportFunctions, support);
}

std::string ControllerModel::FunctionReport(const std::string& function) const {
    auto state = StateOf(function);
    return Event(SystemMessages::kReportFunctionState,
                 json{{"function", ResolveActionId(function)}, {"state", state.value_or("")}});
}

bool ControllerModel::SetSupported(const std::string& id, bool supported) {
    std::string action = ResolveActionId(id);
    if (action.empty()) return false;
    if (supported) {
        m_supported.insert(action);
    } else {
        m_supported.erase(action);
    }
    return true;
}

bool ControllerModel::SetState(const std::string& function, const std::string& state) {
    std::string action = ResolveActionId(function);
    auto states = MultiStateFunctions().find(action);
    if (states == MultiStateFunctions().end()) return false;
    for (size_t index = 0; index < states->second.size(); ++index) {
        if (state == states->second[index] || state == std::to_string(index)) {
            m_states[action] = states->second[index];
            return true;
        }
    }
    return false;
}

std::optional<std::string> ControllerModel::StateOf(const std::string& function) const {
    auto state = m_states.find(ResolveActionId(function));
    if (state == m_states.end()) return std::nullopt;
    return state->second;
}
