#pragma once
// The plug-in interface through which the connection manager delivers host
// events: HostEventTable names the operation of each event, and any other
// event reaches OnCustomEvent. Every operation runs on the WebSocket
// event-loop thread. The dial events arrive with their members already
// checked: a rotation's ticks are a whole number within kMaxDialTicks.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

class ESDConnectionManager;

class ESDBasePlugin {
public:
    // The most ticks one rotation may report in either direction; a dial
    // reports a few per event, so more is not a dial.
    static constexpr int32_t kMaxDialTicks = 1000;

    virtual ~ESDBasePlugin() = default;

    virtual void OnKeyDown(const std::string& action, const std::string& context,
                           const nlohmann::json& payload, const std::string& device) = 0;
    virtual void OnKeyUp(const std::string& action, const std::string& context, const nlohmann::json& payload,
                         const std::string& device) = 0;
    virtual void OnWillAppear(const std::string& action, const std::string& context,
                              const nlohmann::json& payload, const std::string& device) = 0;
    virtual void OnWillDisappear(const std::string& action, const std::string& context,
                                 const nlohmann::json& payload, const std::string& device) = 0;
    // A dial (Stream Deck +) turned by |ticks| (clockwise positive), |pressed|
    // when it was held down while turning.
    virtual void OnDialRotate(const std::string& action, const std::string& context,
                              const nlohmann::json& payload, const std::string& device, int32_t ticks,
                              bool pressed) = 0;
    virtual void OnDialDown(const std::string& action, const std::string& context,
                            const nlohmann::json& payload, const std::string& device) = 0;
    virtual void OnDialUp(const std::string& action, const std::string& context,
                          const nlohmann::json& payload, const std::string& device) = 0;
    // The dial's part of the touch strip was tapped; |hold| for a long touch.
    virtual void OnTouchTap(const std::string& action, const std::string& context,
                            const nlohmann::json& payload, const std::string& device, bool hold) = 0;
    virtual void OnDeviceConnected(const std::string& device, const nlohmann::json& deviceInfo) = 0;
    virtual void OnDeviceDisconnected(const std::string& device) = 0;
    virtual void OnCustomEvent(const std::string& event, const std::string& action,
                               const std::string& context, const nlohmann::json& payload,
                               const std::string& device) = 0;

    // Stores the link used to send commands; written once before the event loop runs.
    void SetConnectionManager(ESDConnectionManager* connectionManager) {
        m_connectionManager = connectionManager;
    }

protected:
    ESDConnectionManager* m_connectionManager = nullptr;
};
