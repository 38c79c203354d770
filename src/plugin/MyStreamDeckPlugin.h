#pragma once
// The plug-in object: builds the object graph (element manager, controller
// link, the 22 elements) and then routes host events and controller events
// to the control elements.
//
// Threads: the host handlers run on the WebSocket event-loop thread; the
// controller event listener runs on the controller client's threads (the
// pipe's dispatch thread, and whichever thread connects or disconnects the
// pipe). Both meet only inside the ControlElementsManager, whose recursive
// lock serialises them; OnWillAppear/OnWillDisappear take that lock
// themselves around the element lookup and the context change. StopThreads
// runs on the entry routine's thread after the event loop has ended. The
// telemetry switch (global settings) is handled on the event-loop thread and
// handed to the telemetry service, which is safe to call from any thread.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "controller/ControllerThreads.h"
#include "host/ESDBasePlugin.h"

class ControlElementsManager;
class ControllerClient;
class EventMessage;
class NetworkClientBase;
class TelemetryService;

class MyStreamDeckPlugin : public ESDBasePlugin {
public:
    // Talks to the controller server over its named pipe; inside a Flatpak
    // sandbox, says how to open it to the pipe's socket.
    MyStreamDeckPlugin();
    // Talks to the controller server over |transport| (tests and fuzzing
    // use a fake one). A non-empty |sandboxGrantCommand| means the plug-in
    // runs in a sandbox that this command opens to the controller's socket:
    // the log and the property inspectors name it while the link is down.
    // |threads| chooses the controller client's threads (the fuzz targets
    // write on their own thread). The streamer's telemetry switch goes to
    // |telemetry|; without one it is checked and logged, and goes nowhere.
    explicit MyStreamDeckPlugin(std::shared_ptr<NetworkClientBase> transport,
                                const std::string& sandboxGrantCommand = "",
                                ControllerThreads threads = ControllerThreads::WriteAndHousekeeping,
                                std::shared_ptr<TelemetryService> telemetry = nullptr);
    ~MyStreamDeckPlugin() override;

    void OnKeyDown(const std::string& action, const std::string& context, const nlohmann::json& payload,
                   const std::string& device) override;
    void OnKeyUp(const std::string& action, const std::string& context, const nlohmann::json& payload,
                 const std::string& device) override;
    void OnWillAppear(const std::string& action, const std::string& context, const nlohmann::json& payload,
                      const std::string& device) override;
    void OnWillDisappear(const std::string& action, const std::string& context, const nlohmann::json& payload,
                         const std::string& device) override;
    void OnDialRotate(const std::string& action, const std::string& context, const nlohmann::json& payload,
                      const std::string& device, int32_t ticks, bool pressed) override;
    void OnDialDown(const std::string& action, const std::string& context, const nlohmann::json& payload,
                    const std::string& device) override;
    void OnDialUp(const std::string& action, const std::string& context, const nlohmann::json& payload,
                  const std::string& device) override;
    void OnTouchTap(const std::string& action, const std::string& context, const nlohmann::json& payload,
                    const std::string& device, bool hold) override;
    void OnDeviceConnected(const std::string& device, const nlohmann::json& deviceInfo) override;
    void OnDeviceDisconnected(const std::string& device) override;
    void OnCustomEvent(const std::string& event, const std::string& action, const std::string& context,
                       const nlohmann::json& payload, const std::string& device) override;

    // Ends the plug-in's own threads once the host link has closed: first the
    // controller link (its threads and the pipe's), then the element timer.
    // Afterwards nothing redraws a key or touches an element while the
    // process-wide objects (log, image library, telemetry) are torn down.
    // Called once by the entry routine after Run; the object itself lives on.
    void StopThreads();

    // The plug-in has registered with the host: it asks for the global
    // settings, which hold the streamer's telemetry switch.
    void OnRegistered();

    ControlElementsManager& ElementsManager() { return *m_elementsManager; }

private:
    // A host event that reaches OnCustomEvent, by its name.
    using CustomEventHandler = void (MyStreamDeckPlugin::*)(const std::string& action,
                                                            const std::string& context,
                                                            const nlohmann::json& payload);

    // The events the plug-in handles among those that reach OnCustomEvent,
    // each with its handler; any other name is traced and has no effect.
    static const std::map<std::string, CustomEventHandler, std::less<>>& CustomEventHandlers();

    void OnReceivedSettings(const std::string& action, const std::string& context,
                            const nlohmann::json& payload);
    void OnTitleParametersDidChange(const std::string& action, const std::string& context,
                                    const nlohmann::json& payload);
    void OnPropertyInspectorDidAppear(const std::string& action, const std::string& context,
                                      const nlohmann::json& payload);
    void OnPropertyInspectorDidDisappear(const std::string& action, const std::string& context,
                                         const nlohmann::json& payload);
    void OnSystemDidWakeUp(const std::string& action, const std::string& context,
                           const nlohmann::json& payload);
    // {"settings": {"send_usage_statistics": bool}}: the telemetry switch.
    void OnReceivedGlobalSettings(const std::string& action, const std::string& context,
                                  const nlohmann::json& payload);
    // Tells a settings page the switch's state and whether the environment
    // keeps telemetry off: {"telemetry": {"on", "locked", "offBy"}}.
    void SendTelemetrySwitch(const std::string& context);
    void OnControllerEvent(const EventMessage& event);

    std::shared_ptr<ControlElementsManager> m_elementsManager;
    std::shared_ptr<ControllerClient> m_controllerClient;
    std::shared_ptr<TelemetryService> m_telemetry;  // may be null
};
