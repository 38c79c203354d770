#pragma once
// Start and stop of the plug-in: construction moves the process into the
// executable's directory, opens the log and announces the start in the log
// and to telemetry; destruction shuts the telemetry service down (at most
// 2 s for what is still queued; a line counts what it dropped), writes the
// stop record (the log's last line), posts the shutdown event in the rest
// of 3 s and closes the log. ProcessLifetime owns the one instance.
//
// Threads: constructed and destroyed on the main thread (static
// initialisation and exit). Other threads may log and send events at any
// time; records after the stop are dropped by the log.

#include <memory>

namespace spdlog {
class logger;
}

class PluginLifetime {
public:
    PluginLifetime();
    ~PluginLifetime();
    PluginLifetime(const PluginLifetime&) = delete;
    PluginLifetime& operator=(const PluginLifetime&) = delete;

private:
    std::shared_ptr<spdlog::logger> m_logger;
};
