#pragma once
// The plug-in interface through which the connection manager delivers host
// events. Every operation runs on the WebSocket event-loop thread.

#include <nlohmann/json.hpp>
#include <string>

class ESDConnectionManager;

class ESDBasePlugin {
public:
    virtual ~ESDBasePlugin() = default;

    virtual void OnKeyDown(const std::string& action, const std::string& context, const nlohmann::json& payload,
                           const std::string& device) = 0;
    virtual void OnKeyUp(const std::string& action, const std::string& context, const nlohmann::json& payload,
                         const std::string& device) = 0;
    virtual void OnWillAppear(const std::string& action, const std::string& context, const nlohmann::json& payload,
                              const std::string& device) = 0;
    virtual void OnWillDisappear(const std::string& action, const std::string& context,
                                 const nlohmann::json& payload, const std::string& device) = 0;
    virtual void OnDeviceConnected(const std::string& device, const nlohmann::json& deviceInfo) = 0;
    virtual void OnDeviceDisconnected(const std::string& device) = 0;
    virtual void OnCustomEvent(const std::string& event, const std::string& action, const std::string& context,
                               const nlohmann::json& payload, const std::string& device) = 0;

    // Stores the link used to send commands; written once before the event loop runs.
    void SetConnectionManager(ESDConnectionManager* connectionManager) { m_connectionManager = connectionManager; }

protected:
    ESDConnectionManager* m_connectionManager = nullptr;
};
