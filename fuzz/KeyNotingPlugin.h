#pragma once
// Passes every host event on to the real plug-in and notes each key that a
// willAppear shows, exactly as the connection manager read it (escapes and
// all), so that the fuzz targets can take those keys off the deck again
// without reading a message twice.
//
// Threads: the fuzzer's thread alone.

#include <set>
#include <string>
#include <utility>

#include "host/ESDBasePlugin.h"

class KeyNotingPlugin : public ESDBasePlugin {
public:
    using Key = std::pair<std::string, std::string>;  // (action, context)

    explicit KeyNotingPlugin(ESDBasePlugin& plugin) : m_plugin(plugin) {}

    // The keys shown since the last call.
    std::set<Key> TakeAppeared();

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

private:
    ESDBasePlugin& m_plugin;
    std::set<Key> m_appeared;
};
