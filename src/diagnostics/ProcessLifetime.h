#pragma once
// The order in which the process sets itself up before the entry routine and
// takes itself down after it, in one place. The executable holds exactly one
// ProcessLifetime as its static object:
//
//   start: graphics session (GDI+ on Windows) -> PluginLifetime (working
//          directory, log, start record, start event, which creates the
//          telemetry service) -> crash reporter
//   exit:  crash reporter -> PluginLifetime (shutdown event queued, stop
//          record, log closed) -> graphics session -> telemetry service
//
// The telemetry service is held by its own process-wide holder, a static
// created by the first event, inside this constructor; it is therefore
// destroyed after this object, and its workers post what is still queued
// (the shutdown event among it) before they are joined.
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
