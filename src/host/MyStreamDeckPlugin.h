#pragma once
// The plug-in object: receives the host's events from the connection manager.

#include "host/ESDBasePlugin.h"

class MyStreamDeckPlugin : public ESDBasePlugin {
public:
    MyStreamDeckPlugin();
    ~MyStreamDeckPlugin() override;

    void OnKeyDown(const std::string& action, const std::string& context, const nlohmann::json& payload,
                   const std::string& device) override;
    void OnKeyUp(const std::string& action, const std::string& context, const nlohmann::json& payload,
                 const std::string& device) override;
    void OnWillAppear(const std::string& action, const std::string& context, const nlohmann::json& payload,
                      const std::string& device) override;
    void OnWillDisappear(const std::string& action, const std::string& context, const nlohmann::json& payload,
                         const std::string& device) override;
    void OnDeviceConnected(const std::string& device, const nlohmann::json& deviceInfo) override;
    void OnDeviceDisconnected(const std::string& device) override;
    void OnCustomEvent(const std::string& event, const std::string& action, const std::string& context,
                       const nlohmann::json& payload, const std::string& device) override;
};
