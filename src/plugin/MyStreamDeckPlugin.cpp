#include "plugin/MyStreamDeckPlugin.h"

#include "controller/ControllerClient.h"
#include "controller/FlatpakSandbox.h"
#include "controller/Messages.h"
#include "controller/NamedPipesClient.h"
#include "controller/PipeSystem.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogText.h"
#include "elements/CatalogueElements.h"
#include "elements/ControlElementsManager.h"
#include "host/ESDConnectionManager.h"
#include "telemetry/TelemetryService.h"

namespace {

// The global setting of the telemetry switch; on unless turned off.
constexpr char kUsageStatistics[] = "send_usage_statistics";

// Empty outside a Flatpak sandbox.
std::string SandboxGrantCommand() {
    FlatpakSandbox sandbox = FlatpakSandbox::Detect();
    return sandbox.Inside() ? sandbox.GrantCommand(DefaultControllerPipeName()) : "";
}

}  // namespace

MyStreamDeckPlugin::MyStreamDeckPlugin()
    : MyStreamDeckPlugin(std::make_shared<NamedPipesClient>(), SandboxGrantCommand(),
                         ControllerThreads::WriteAndHousekeeping, TelemetryService::Instance()) {}

MyStreamDeckPlugin::MyStreamDeckPlugin(std::shared_ptr<NetworkClientBase> transport,
                                       const std::string& sandboxGrantCommand, ControllerThreads threads,
                                       std::shared_ptr<TelemetryService> telemetry)
    : m_telemetry(std::move(telemetry)) {
    // The manager's timer starts ticking at once, over an empty map.
    m_elementsManager = std::make_shared<ControlElementsManager>();
    m_controllerClient = std::make_shared<ControllerClient>(
        std::move(transport), [this](const EventMessage& event) { OnControllerEvent(event); }, nullptr,
        threads);
    BuildActionCatalogue(*m_elementsManager, m_controllerClient);
    if (!sandboxGrantCommand.empty()) {
        m_elementsManager->SetSandboxGrantCommand(sandboxGrantCommand);
        m_controllerClient->SetUnreachableAdvice(FlatpakSandbox::UnreachableAdvice(sandboxGrantCommand));
    }
    // Reports the initial link state through the listener on this thread.
    m_controllerClient->Start();
}

MyStreamDeckPlugin::~MyStreamDeckPlugin() = default;

void MyStreamDeckPlugin::StopThreads() {
    LogTrace("MyStreamDeckPlugin::StopThreads");
    // The link first: its threads call into the elements, which may wake the timer.
    m_controllerClient->Close();
    m_elementsManager->StopTimer();
}

void MyStreamDeckPlugin::OnControllerEvent(const EventMessage& event) {
    if (LogIsOpen()) {
        LogTrace("EVENT '%s': %s", event.GetName().c_str(), LogText::Json(event.GetData()).c_str());
    }
    m_elementsManager->SignalEventMessage(event);
}

void MyStreamDeckPlugin::OnKeyDown(const std::string& action, const std::string& context,
                                   const nlohmann::json& payload, const std::string&) {
    m_elementsManager->SignalKeyDown(action, context, payload);
}

void MyStreamDeckPlugin::OnKeyUp(const std::string& action, const std::string& context,
                                 const nlohmann::json& payload, const std::string&) {
    m_elementsManager->SignalKeyUp(action, context, payload);
}

void MyStreamDeckPlugin::OnDialRotate(const std::string& action, const std::string& context,
                                      const nlohmann::json& payload, const std::string&, int32_t ticks,
                                      bool) {
    m_elementsManager->SignalDialRotate(action, context, payload, ticks);
}

void MyStreamDeckPlugin::OnDialDown(const std::string& action, const std::string& context,
                                    const nlohmann::json& payload, const std::string&) {
    m_elementsManager->SignalDialDown(action, context, payload);
}

void MyStreamDeckPlugin::OnDialUp(const std::string& action, const std::string& context,
                                  const nlohmann::json& payload, const std::string&) {
    m_elementsManager->SignalDialUp(action, context, payload);
}

void MyStreamDeckPlugin::OnTouchTap(const std::string& action, const std::string& context,
                                    const nlohmann::json& payload, const std::string&, bool hold) {
    m_elementsManager->SignalTouchTap(action, context, payload, hold);
}

void MyStreamDeckPlugin::OnWillAppear(const std::string& action, const std::string& context,
                                      const nlohmann::json& payload, const std::string&) {
    // An action the catalogue does not know has no element: nothing to show.
    m_elementsManager->AddSdContext(action, m_connectionManager, context, payload);
}

void MyStreamDeckPlugin::OnWillDisappear(const std::string& action, const std::string& context,
                                         const nlohmann::json&, const std::string&) {
    m_elementsManager->RemoveSdContext(action, m_connectionManager, context);
}

void MyStreamDeckPlugin::OnDeviceConnected(const std::string&, const nlohmann::json&) {}

void MyStreamDeckPlugin::OnDeviceDisconnected(const std::string&) {}

void MyStreamDeckPlugin::OnCustomEvent(const std::string& event, const std::string& action,
                                       const std::string& context, const nlohmann::json& payload,
                                       const std::string&) {
    if (LogIsOpen()) {
        LogTrace("CUSTOM EVENT '%s': %s (%s): %s", event.c_str(), action.c_str(), context.c_str(),
                 LogText::Json(payload).c_str());
    }
    const auto handler = CustomEventHandlers().find(event);
    if (handler != CustomEventHandlers().end()) (this->*handler->second)(action, context, payload);
}

const std::map<std::string, MyStreamDeckPlugin::CustomEventHandler, std::less<>>&
MyStreamDeckPlugin::CustomEventHandlers() {
    // The settings events take the same path; the title's event also carries
    // the key's settings, and its title besides.
    static const std::map<std::string, CustomEventHandler, std::less<>> handlers = {
        {"didReceiveSettings", &MyStreamDeckPlugin::OnReceivedSettings},
        {"titleParametersDidChange", &MyStreamDeckPlugin::OnTitleParametersDidChange},
        {"sendToPlugin", &MyStreamDeckPlugin::OnReceivedSettings},
        {"propertyInspectorDidAppear", &MyStreamDeckPlugin::OnPropertyInspectorDidAppear},
        {"propertyInspectorDidDisappear", &MyStreamDeckPlugin::OnPropertyInspectorDidDisappear},
        {"systemDidWakeUp", &MyStreamDeckPlugin::OnSystemDidWakeUp},
        {"didReceiveGlobalSettings", &MyStreamDeckPlugin::OnReceivedGlobalSettings},
    };
    return handlers;
}

void MyStreamDeckPlugin::OnReceivedSettings(const std::string& action, const std::string& context,
                                            const nlohmann::json& payload) {
    m_elementsManager->SignalReceivedSettings(action, context, payload);
}

void MyStreamDeckPlugin::OnTitleParametersDidChange(const std::string& action, const std::string& context,
                                                    const nlohmann::json& payload) {
    m_elementsManager->SignalTitleParameters(action, context, payload);
}

void MyStreamDeckPlugin::OnPropertyInspectorDidAppear(const std::string& action, const std::string& context,
                                                      const nlohmann::json&) {
    m_elementsManager->SignalRequestPropertyInspectorDataFromPlugin(action, context);
    SendTelemetrySwitch(context);
}

void MyStreamDeckPlugin::OnRegistered() {
    if (m_connectionManager != nullptr) m_connectionManager->GetGlobalSettings();
}

void MyStreamDeckPlugin::OnReceivedGlobalSettings(const std::string&, const std::string&,
                                                  const nlohmann::json& payload) {
    // A missing switch is on, as on a fresh install; one of another type is
    // named in the log and changes nothing. Either way the choice is known
    // now, so events held back for it may go.
    bool allowed = m_telemetry == nullptr || m_telemetry->UserAllows();
    const auto settings = payload.is_object() ? payload.find("settings") : payload.end();
    if (settings == payload.end() || !settings->is_object()) {
        LogWarning(
            "MyStreamDeckPlugin::OnReceivedGlobalSettings: no settings object; the telemetry switch "
            "stays %s",
            allowed ? "on" : "off");
    } else if (const auto found = settings->find(kUsageStatistics); found == settings->end()) {
        allowed = true;
    } else if (found->is_boolean()) {
        allowed = found->get<bool>();
    } else {
        LogWarning(
            "MyStreamDeckPlugin::OnReceivedGlobalSettings: '%s' is %s, not true or false; the "
            "telemetry switch stays %s",
            kUsageStatistics, found->type_name(), allowed ? "on" : "off");
    }
    if (m_telemetry) m_telemetry->SetUserChoice(allowed);
}

void MyStreamDeckPlugin::SendTelemetrySwitch(const std::string& context) {
    if (m_connectionManager == nullptr || m_telemetry == nullptr) return;
    const TelemetrySettings& settings = m_telemetry->Settings();
    const bool locked = !settings.enabled;
    m_connectionManager->SendToPropertyInspector({{"telemetry",
                                                   {{"on", !locked && m_telemetry->UserAllows()},
                                                    {"locked", locked},
                                                    {"offBy", locked ? settings.offBy : ""}}}},
                                                 context);
}

void MyStreamDeckPlugin::OnPropertyInspectorDidDisappear(const std::string& action,
                                                         const std::string& context, const nlohmann::json&) {
    m_elementsManager->SignalPropertyInspectorClosed(action, context);
}

void MyStreamDeckPlugin::OnSystemDidWakeUp(const std::string&, const std::string&, const nlohmann::json&) {
    // The controller may have restarted or changed state while the computer
    // slept: check the link now and draw every key afresh.
    m_controllerClient->ReconnectNow();
    m_elementsManager->RedrawAll();
}
