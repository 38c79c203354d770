#include "KeyNotingPlugin.h"

using json = nlohmann::json;

std::set<KeyNotingPlugin::Key> KeyNotingPlugin::TakeAppeared() {
    std::set<Key> appeared;
    appeared.swap(m_appeared);
    return appeared;
}

void KeyNotingPlugin::OnWillAppear(const std::string& action, const std::string& context, const json& payload,
                                   const std::string& device) {
    // Noted first: a key the plug-in half-adds before it raises must leave too.
    m_appeared.emplace(action, context);
    m_plugin.OnWillAppear(action, context, payload, device);
}

void KeyNotingPlugin::OnKeyDown(const std::string& action, const std::string& context, const json& payload,
                                const std::string& device) {
    m_plugin.OnKeyDown(action, context, payload, device);
}

void KeyNotingPlugin::OnKeyUp(const std::string& action, const std::string& context, const json& payload,
                              const std::string& device) {
    m_plugin.OnKeyUp(action, context, payload, device);
}

void KeyNotingPlugin::OnWillDisappear(const std::string& action, const std::string& context,
                                      const json& payload, const std::string& device) {
    m_plugin.OnWillDisappear(action, context, payload, device);
}

void KeyNotingPlugin::OnDialRotate(const std::string& action, const std::string& context, const json& payload,
                                   const std::string& device, int32_t ticks, bool pressed) {
    m_plugin.OnDialRotate(action, context, payload, device, ticks, pressed);
}

void KeyNotingPlugin::OnDialDown(const std::string& action, const std::string& context, const json& payload,
                                 const std::string& device) {
    m_plugin.OnDialDown(action, context, payload, device);
}

void KeyNotingPlugin::OnDialUp(const std::string& action, const std::string& context, const json& payload,
                               const std::string& device) {
    m_plugin.OnDialUp(action, context, payload, device);
}

void KeyNotingPlugin::OnTouchTap(const std::string& action, const std::string& context, const json& payload,
                                 const std::string& device, bool hold) {
    m_plugin.OnTouchTap(action, context, payload, device, hold);
}

void KeyNotingPlugin::OnDeviceConnected(const std::string& device, const json& deviceInfo) {
    m_plugin.OnDeviceConnected(device, deviceInfo);
}

void KeyNotingPlugin::OnDeviceDisconnected(const std::string& device) {
    m_plugin.OnDeviceDisconnected(device);
}

void KeyNotingPlugin::OnCustomEvent(const std::string& event, const std::string& action,
                                    const std::string& context, const json& payload,
                                    const std::string& device) {
    m_plugin.OnCustomEvent(event, action, context, payload, device);
}
