#include "ControllerModel.h"

#include <nlohmann/json.hpp>

#include "controller/Messages.h"

using nlohmann::json;

namespace {

constexpr char kPrefix[] = "com.vantora.kestrel.";

const std::vector<std::string>& ShortNames() {
    static const std::vector<std::string> names = {"overlays-reload",
                                                   "emberfall",
                                                   "cup-empty",
                                                   "alerts-skip",
                                                   "alerts-mute",
                                                   "streaming-state",
                                                   "alerts-pause",
                                                   "alerts-pause-on",
                                                   "alerts-pause-off",
                                                   "media-request",
                                                   "media-request-video",
                                                   "emberfall-pump",
                                                   "media-request-play-pause",
                                                   "media-request-play",
                                                   "media-request-pause",
                                                   "media-request-next-item",
                                                   "media-request-prev-item",
                                                   "media-request-nudge-volume-up",
                                                   "media-request-nudge-volume-down",
                                                   "media-request-set-volume-level",
                                                   "media-request-mute",
                                                   "media-request-show-on-stream"};
    return names;
}

// The state names of each multi-state function, state 0 first. A command
// whose name is one of these states puts the function into that state.
const std::map<std::string, std::vector<std::string>>& MultiStateFunctions() {
    static const std::map<std::string, std::vector<std::string>> functions = {
        {"alerts-mute", {"alerts-mute-off", "alerts-mute-on"}},
        {"streaming-state", {"streaming-state-off", "streaming-state-on"}},
        {"alerts-pause", {"alerts-pause-off", "alerts-pause-on"}},
        {"media-request", {"media-request-on", "media-request-off"}},
        {"media-request-video",
         {"media-request-video-off", "media-request-video-on", "media-request-video-single-state"}},
        {"media-request-play-pause", {"media-request-pause-on", "media-request-pause-off"}},
        {"media-request-mute", {"media-request-mute-off", "media-request-mute-on"}},
        {"media-request-show-on-stream", {"media-request-widget-off", "media-request-widget-on"}},
    };
    return functions;
}

std::string Event(const char* name, json data) {
    static auto source = std::make_shared<ElementAddress>(ElementAddress::kNetworkClient, "controllerServer",
                                                          "controllerServer");
    return EventMessage(name, source, std::move(data)).Serialize();
}

std::string ShortName(const std::string& id) {
    return id.substr(sizeof kPrefix - 1);
}

}  // namespace

ControllerModel::ControllerModel(bool signedIn) : m_signedIn(signedIn) {
    for (const auto& name : ShortNames()) m_supported.insert(kPrefix + name);
    for (const auto& [name, states] : MultiStateFunctions()) m_states[kPrefix + name] = states.front();
}

std::vector<std::string> ControllerModel::ActionIds() {
    std::vector<std::string> ids;
    for (const auto& name : ShortNames()) ids.push_back(kPrefix + name);
    return ids;
}

std::string ControllerModel::ResolveActionId(const std::string& id) {
    for (const auto& name : ShortNames()) {
        if (id == name || id == kPrefix + name) return kPrefix + name;
    }
    return "";
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
            m_states[kPrefix + function] = state;
            replies.push_back(FunctionReport(kPrefix + function));
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
    for (const auto& name : ShortNames()) support[kPrefix + name] = m_supported.count(kPrefix + name) > 0;
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
    auto states = MultiStateFunctions().find(action.empty() ? "" : ShortName(action));
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
