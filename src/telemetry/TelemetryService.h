#pragma once
// Usage events posted to the telemetry collector: one process-wide service
// that stamps each event with the plug-in version, the time since start and
// since the previous event, a session identifier and the machine identifier,
// and posts it either on the caller's thread or from its worker threads.
//
// Threads: SendEvent may be called from any thread. Four worker threads sleep
// on the lock-free queue's semaphore and take queued posts; ShutDown (for the
// process-wide service) and destruction queue one end mark per worker, join
// them, then post whatever is still queued on their own thread. The
// previous-event time is one
// 64-bit atomic value; everything else is fixed after construction.

#include <memory>
#include <nlohmann/json.hpp>

#include "telemetry/TelemetrySettings.h"

class TelemetryService {
public:
    // The one service of the process, created on first use with the settings
    // read from the environment at that moment.
    static std::shared_ptr<TelemetryService> Instance();

    // Ends the process-wide service at exit: every event queued so far is
    // posted, then the workers end. The service itself is never destroyed:
    // threads that still run during exit may go on calling Instance() and
    // SendEvent; their queued events are dropped, synchronous ones still posted.
    static void ShutDown();

    // A separate service with the given settings (the process-wide one is
    // made by Instance); tests point it at their own collector.
    static std::shared_ptr<TelemetryService> Create(const TelemetrySettings& settings);

    // Posts the event |name| with the caller's extra |properties| (an object;
    // pass an empty one when there are none). A null name does nothing.
    // Synchronous posts block the caller; others are queued for the workers.
    void SendEvent(const char* name, bool synchronous, const nlohmann::json& properties);

    ~TelemetryService();
    TelemetryService(const TelemetryService&) = delete;
    TelemetryService& operator=(const TelemetryService&) = delete;

private:
    explicit TelemetryService(const TelemetrySettings& settings);
    std::string BuildBody(const char* name, const nlohmann::json& properties);
    void WorkerThreadProc();
    void Stop();  // drains the queue and joins the workers; called once

    struct State;
    std::unique_ptr<State> m_state;
};
