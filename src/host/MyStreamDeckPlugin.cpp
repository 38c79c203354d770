#include "host/MyStreamDeckPlugin.h"

#include "diagnostics/Log.h"

MyStreamDeckPlugin::MyStreamDeckPlugin() = default;
MyStreamDeckPlugin::~MyStreamDeckPlugin() = default;

void MyStreamDeckPlugin::OnKeyDown(const std::string& action, const std::string& context,
                                   const nlohmann::json& payload, const std::string&) {
    LogTrace("MyStreamDeckPlugin::OnKeyDown: '%s' ('%s'): %s", context.c_str(), action.c_str(),
             payload.dump().c_str());
}

void MyStreamDeckPlugin::OnKeyUp(const std::string& action, const std::string& context,
                                 const nlohmann::json& payload, const std::string&) {
    LogTrace("MyStreamDeckPlugin::OnKeyUp: '%s' ('%s'): %s", context.c_str(), action.c_str(),
             payload.dump().c_str());
}

void MyStreamDeckPlugin::OnWillAppear(const std::string& action, const std::string& context,
                                      const nlohmann::json& payload, const std::string&) {
    LogTrace("MyStreamDeckPlugin::OnWillAppear: '%s' ('%s'): %s", context.c_str(), action.c_str(),
             payload.dump().c_str());
}

void MyStreamDeckPlugin::OnWillDisappear(const std::string& action, const std::string& context,
                                         const nlohmann::json& payload, const std::string&) {
    LogTrace("MyStreamDeckPlugin::OnWillDisappear: '%s' ('%s')", context.c_str(), action.c_str());
}

void MyStreamDeckPlugin::OnDeviceConnected(const std::string&, const nlohmann::json&) {}

void MyStreamDeckPlugin::OnDeviceDisconnected(const std::string&) {}

void MyStreamDeckPlugin::OnCustomEvent(const std::string& event, const std::string& action,
                                       const std::string& context, const nlohmann::json& payload,
                                       const std::string&) {
    LogTrace("CUSTOM EVENT '%s': %s (%s): %s", event.c_str(), action.c_str(), context.c_str(),
             payload.dump().c_str());
}
