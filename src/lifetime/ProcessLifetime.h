#pragma once
// The order in which the process sets itself up before the entry routine and
// takes itself down after it, in one place. The executable holds exactly one
// ProcessLifetime as its static object:
//
//   start: heap arenas capped (before any thread) -> posts held until the
//          registration (see HttpHoldPostsForStart) -> graphics session
//          (GDI+ on Windows) -> PluginLifetime (working directory, log,
//          start record, start event, which creates the telemetry
//          service) -> crash reporter
//   exit:  posts no longer held -> crash reporter (its upload under way cut off) -> PluginLifetime
//          (telemetry service shut down: its workers post what is still
//          queued for at most 2 s and are joined, a line counts what was
//          dropped; stop record; shutdown event posted within the rest of
//          3 s; log closed) -> graphics session
//
// Each step of the exit is bounded, so the process ends within about 5 s
// of the host closing the link whatever the collectors do.
//
// The HTTP library is not part of the start: on POSIX systems each post runs
// in a helper process that loads it (see HttpPost.h), and posts wait until
// the plug-in has registered. The telemetry service is shut down, not
// destroyed, so threads still running during exit may go on using it.
//
// Threads: the main thread constructs and destroys it.

#include <memory>

class GraphicsSession;
class PluginLifetime;
class CrashReporter;

class ProcessLifetime {
public:
    ProcessLifetime();
    ~ProcessLifetime();
    ProcessLifetime(const ProcessLifetime&) = delete;
    ProcessLifetime& operator=(const ProcessLifetime&) = delete;

private:
    std::unique_ptr<GraphicsSession> m_graphics;
    std::unique_ptr<PluginLifetime> m_plugin;
    std::unique_ptr<CrashReporter> m_crashReporter;
};
