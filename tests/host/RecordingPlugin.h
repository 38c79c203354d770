#pragma once
// An ESDBasePlugin that records every call, so tests can see how host
// messages were routed. Calls arrive on the event-loop thread; the test
// thread reads them through WaitForCalls.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "host/ESDBasePlugin.h"

struct RecordedCall {
    std::string operation;
    std::string event;
    std::string action;
    std::string context;
    std::string device;
    nlohmann::json payload;
    int32_t ticks = 0;  // OnDialRotate
    bool flag = false;  // OnDialRotate's pressed, OnTouchTap's hold
};

class RecordingPlugin : public ESDBasePlugin {
public:
    void OnKeyDown(const std::string& action, const std::string& context, const nlohmann::json& payload,
                   const std::string& device) override {
        Record({"OnKeyDown", "", action, context, device, payload});
    }
    void OnKeyUp(const std::string& action, const std::string& context, const nlohmann::json& payload,
                 const std::string& device) override {
        Record({"OnKeyUp", "", action, context, device, payload});
    }
    void OnWillAppear(const std::string& action, const std::string& context, const nlohmann::json& payload,
                      const std::string& device) override {
        Record({"OnWillAppear", "", action, context, device, payload});
    }
    void OnWillDisappear(const std::string& action, const std::string& context, const nlohmann::json& payload,
                         const std::string& device) override {
        Record({"OnWillDisappear", "", action, context, device, payload});
    }
    void OnDialRotate(const std::string& action, const std::string& context, const nlohmann::json& payload,
                      const std::string& device, int32_t ticks, bool pressed) override {
        Record({"OnDialRotate", "", action, context, device, payload, ticks, pressed});
    }
    void OnDialDown(const std::string& action, const std::string& context, const nlohmann::json& payload,
                    const std::string& device) override {
        Record({"OnDialDown", "", action, context, device, payload});
    }
    void OnDialUp(const std::string& action, const std::string& context, const nlohmann::json& payload,
                  const std::string& device) override {
        Record({"OnDialUp", "", action, context, device, payload});
    }
    void OnTouchTap(const std::string& action, const std::string& context, const nlohmann::json& payload,
                    const std::string& device, bool hold) override {
        Record({"OnTouchTap", "", action, context, device, payload, 0, hold});
    }
    void OnDeviceConnected(const std::string& device, const nlohmann::json& deviceInfo) override {
        Record({"OnDeviceConnected", "", "", "", device, deviceInfo});
    }
    void OnDeviceDisconnected(const std::string& device) override {
        Record({"OnDeviceDisconnected", "", "", "", device, nullptr});
    }
    void OnCustomEvent(const std::string& event, const std::string& action, const std::string& context,
                       const nlohmann::json& payload, const std::string& device) override {
        Record({"OnCustomEvent", event, action, context, device, payload});
        if (event == "throw") throw std::runtime_error("plug-in failure");
    }

    // Waits until at least |count| calls were recorded; returns them all.
    std::vector<RecordedCall> WaitForCalls(size_t count,
                                           std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, timeout, [&] { return m_calls.size() >= count; });
        return m_calls;
    }

private:
    void Record(RecordedCall call) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(std::move(call));
        m_changed.notify_all();
    }

    std::mutex m_mutex;  // guards m_calls
    std::condition_variable m_changed;
    std::vector<RecordedCall> m_calls;
};
