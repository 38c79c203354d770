#pragma once
// Usage events posted to the telemetry collector: one process-wide service
// that stamps each event with the plug-in version, the time since start and
// since the previous event, a session identifier and the machine identifier,
// and posts it either on the caller's thread or from its worker threads.
//
// Threads: SendEvent may be called from any thread; it queues the body under
// the queue mutex (at most 64 waiting; when full the oldest is pushed out,
// the start event last of all). Four
// workers wait on the mutex's condition variable and post one body at a
// time outside it. Stop (ShutDown, destruction) gives the workers a bounded
// time for what is still queued: it sets that end under the mutex, brings
// the posts' shared deadline forward to it, joins the workers and counts
// what was left. SendLastEvent posts on the caller's thread (the exit
// sequence's) after that. The previous-event time is one 64-bit atomic
// value; the settings and identifiers are fixed after construction.
// SetUserChoice comes from the host link's thread: it sets the choice (an
// atomic, written under the queue mutex so that waiting workers see it),
// empties the queue when off, and wakes the workers. Until the choice is
// known, workers leave queued events alone for settings.choiceWait.

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>

#include "telemetry/TelemetrySettings.h"

// The event that announces a session; the full queue pushes it out last.
inline constexpr char kStartEvent[] = "streamdeck_kestrel_plugin_initialized";

class TelemetryService {
public:
    // The one service of the process, created on first use with the settings
    // read from the environment at that moment.
    static std::shared_ptr<TelemetryService> Instance();

    // Ends the process-wide service at exit: the events queued so far are
    // posted for at most 2 seconds, posts under way included, then the
    // workers end; what could not be posted is dropped and, with the events
    // a full queue pushed out, counted in one log line. The service itself is
    // never destroyed: threads that still run during exit may go on calling
    // Instance() and SendEvent; their queued events are dropped, synchronous
    // ones still posted.
    static void ShutDown();

    // After ShutDown: posts the event |name| (no extra properties) on the
    // caller's thread, by 3 seconds after ShutDown began; nothing when that
    // has passed or ShutDown was not called. The exit sequence writes its
    // last log record between the two, so that the count of dropped events
    // comes before it and the shutdown event after it.
    static void SendLastEvent(const char* name);

    // A separate service with the given settings (the process-wide one is
    // made by Instance); tests point it at their own collector.
    static std::shared_ptr<TelemetryService> Create(const TelemetrySettings& settings);

    // Posts the event |name| with the caller's extra |properties| (an object;
    // pass an empty one when there are none). A null name does nothing.
    // Synchronous posts block the caller (at most the 10 s limit of one post);
    // others are queued for the workers.
    void SendEvent(const char* name, bool synchronous, const nlohmann::json& properties);

    // The streamer's switch ("Send anonymous usage statistics"), which the
    // plug-in learns from the host's global settings shortly after start and
    // whenever it changes. Off: queued events are dropped and none are sent
    // (nor a machine identifier put into a crash report) until it is on again.
    // Within what the environment allows: it cannot turn on what is off there.
    void SetUserChoice(bool allowed);
    // False only while the streamer's switch is off.
    bool UserAllows() const;
    const TelemetrySettings& Settings() const;

    ~TelemetryService();
    TelemetryService(const TelemetryService&) = delete;
    TelemetryService& operator=(const TelemetryService&) = delete;

private:
    explicit TelemetryService(const TelemetrySettings& settings);
    std::string BuildBody(const char* name, const nlohmann::json& properties);
    void Enqueue(std::string body, bool start);
    void WorkerThreadProc();
    // Drains the queue for |drain| and joins the workers.
    void Stop(std::chrono::milliseconds drain);

    struct State;
    std::unique_ptr<State> m_state;
};
