#pragma once
// Usage events posted to the telemetry collector: one process-wide service
// that stamps each event with the plug-in version, the time since start and
// since the previous event, a session identifier and the machine identifier,
// and posts it either on the caller's thread or from its worker threads.

#include <memory>
#include <nlohmann/json.hpp>

class TelemetryService {
public:
    // The one service of the process, created on first use.
    static std::shared_ptr<TelemetryService> Instance();

    // Posts the event |name| with the caller's extra |properties| (an object;
    // pass an empty one when there are none). A null name does nothing.
    // Synchronous posts block the caller; others are queued for the workers.
    void SendEvent(const char* name, bool synchronous, const nlohmann::json& properties);

    ~TelemetryService();
    TelemetryService(const TelemetryService&) = delete;
    TelemetryService& operator=(const TelemetryService&) = delete;

private:
    TelemetryService();
    struct State;
    std::unique_ptr<State> m_state;
};
