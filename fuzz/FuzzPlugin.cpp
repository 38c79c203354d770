#include "FuzzPlugin.h"

#include <cctype>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "catalogue/ActionCatalogue.h"
#include "elements/ControlElementsManager.h"

using json = nlohmann::json;

namespace {

const std::string kImagePrefix = "data:image/png;base64,";

// A setImage is by far the largest command, and parsing it would cost more
// than the rest of an input. Its text is checked instead: the serialiser
// escapes every quote inside a string, so the first "image":" is the member
// itself, and the image is empty or a data URL of Base64 text. A setImage
// without the member (the key's picture handed back to the host) is small and
// parsed as any other command. The check is
// not instrumented: its branches say nothing about the plug-in, and a
// comparison callback per character of the image would dominate the input.
__attribute__((no_sanitize("coverage"))) bool CheckImageCommand(const std::string& text) {
    if (text.find(R"("event":"setImage")") == std::string::npos) return false;
    const std::string member = R"("image":")";
    const size_t start = text.find(member);
    if (start == std::string::npos) return false;
    const size_t at = start + member.size();
    const size_t end = text.find('"', at);
    if (end == std::string::npos) std::abort();
    if (end == at) return true;
    if (text.compare(at, kImagePrefix.size(), kImagePrefix) != 0) std::abort();
    for (size_t i = at + kImagePrefix.size(); i < end; ++i) {
        const char c = text[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && c != '=') std::abort();
    }
    return true;
}

void CheckHostCommand(const std::string& text) {
    if (CheckImageCommand(text)) return;
    json command = json::parse(text, nullptr, false);
    if (!command.is_object()) std::abort();
    if (!command.contains("event") || !command["event"].is_string()) std::abort();
    if (!command.contains("context") || !command["context"].is_string()) std::abort();
    if (command["event"] == "setImage") {
        if (!command["payload"].is_object()) std::abort();
        if (!command["payload"].contains("image")) return;  // the host shows its own picture
        if (!command["payload"]["image"].is_string()) std::abort();
        const std::string image = command["payload"]["image"].get<std::string>();
        if (!image.empty() && image.compare(0, kImagePrefix.size(), kImagePrefix) != 0) std::abort();
    }
}

void CheckControllerCommand(const std::string& text) {
    json command = json::parse(text, nullptr, false);
    if (!command.is_object() || command["payload"]["class"] != "command") std::abort();
    if (!command["payload"]["command"]["name"].is_string()) std::abort();
}

}  // namespace

const std::vector<std::string> FuzzPlugin::kActions = [] {
    std::vector<std::string> ids;
    for (const ActionDescription& action : ActionCatalogue()) ids.push_back(action.Id());
    return ids;
}();

std::string FuzzPlugin::ControllerEventText(const std::string& name, const json& data) {
    return json{{"version", 1},
                {"source", {{"class", "controller "}, {"element", {{"class", "server"}}}}},
                {"target", {{"scope", "broadcast"}}},
                {"payload", {{"class", "event"}, {"event", {{"name", name}, {"data", data}}}}}}
        .dump();
}

bool FuzzTransport::Connect() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_connected) return false;
    m_connected = true;
    if (onConnectionChanged) onConnectionChanged(true);
    return true;
}

void FuzzTransport::Disconnect() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_connected = false;
    if (onConnectionChanged) onConnectionChanged(false);
}

bool FuzzTransport::IsConnected() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_connected;
}

bool FuzzTransport::Write(const char* bytes, uint32_t size) {
    CheckControllerCommand(std::string(bytes, size));
    return IsConnected();
}

void FuzzTransport::Deliver(const std::string& text) {
    // The pipe client's buffers end with a zero byte after the message.
    if (onDataReceived) onDataReceived(text.c_str(), static_cast<uint32_t>(text.size()));
}

FuzzPlugin& FuzzPlugin::Instance() {
    static FuzzPlugin* instance = new FuzzPlugin;  // never destroyed: its threads run to the end
    return *instance;
}

FuzzPlugin::FuzzPlugin()
    : m_transport(std::make_shared<FuzzTransport>()),
      m_connection(CheckHostCommand),
      m_plugin(new KeyNotingPlugin(m_transport, "", ControllerThreads::CallersThread)) {
    m_connection.SetPlugin(m_plugin);
    m_plugin->SetConnectionManager(&m_connection);
    // From here on the fuzzer's thread runs the ticks (Tick).
    m_plugin->ElementsManager().StopTimer();
    RestoreControllerState();
    Tick();
}

void FuzzPlugin::HostMessage(const std::string& text) {
    m_connection.HandleMessageText(text);
}

void FuzzPlugin::ControllerMessage(const std::string& text) {
    m_transport->Deliver(text);
}

void FuzzPlugin::SetLinkUp(bool up) {
    if (up) {
        m_transport->Connect();
    } else {
        m_transport->Disconnect();
    }
}

void FuzzPlugin::RestoreControllerState() {
    // A key press may have brought it up already.
    m_transport->Connect();
    static const std::string signedIn = ControllerEventText("SYS$REPORT:STATE", {{"isSignedIn", true}});
    static const std::string allSupported = [] {
        json supported = json::object();
        for (const std::string& action : kActions) supported[action] = true;
        return ControllerEventText("SYS$SUPPORT:FUNCTIONS", supported);
    }();
    m_transport->Deliver(signedIn);
    m_transport->Deliver(allSupported);
}

void FuzzPlugin::RestoreControllerStateIfChanged() {
    bool intact = m_transport->IsConnected();
    {
        ControlElementsManager& manager = m_plugin->ElementsManager();
        std::lock_guard<std::recursive_mutex> lock(manager.GetMutex());
        for (const std::string& action : kActions) {
            auto element = manager.FindControlElement(action);
            intact = intact && element && element->IsActive();
        }
    }
    if (intact) return;  // most inputs: a report of a function's state, or nothing readable
    RestoreControllerState();
    Tick();
}

void FuzzPlugin::RemoveAppearedKeys() {
    for (const auto& key : m_plugin->TakeAppeared())
        m_plugin->OnWillDisappear(key.first, key.second, json(), "");
}

void FuzzPlugin::Tick() {
    m_plugin->ElementsManager().SignalTimerTick();
}

void FuzzPlugin::CheckNoKeyKept() {
    ControlElementsManager& manager = m_plugin->ElementsManager();
    std::lock_guard<std::recursive_mutex> lock(manager.GetMutex());
    for (const std::string& action : kActions) {
        auto element = manager.FindControlElement(action);
        if (element && element->RecordCount() != 0) std::abort();
    }
}

void FuzzPlugin::FinishInput() {
    RemoveAppearedKeys();
    Tick();
    CheckNoKeyKept();
}
