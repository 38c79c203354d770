#include "diagnostics/PluginLifetime.h"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "diagnostics/Log.h"
#include "diagnostics/ModuleDirectory.h"
#include "telemetry/TelemetryService.h"

PluginLifetime::PluginLifetime() {
    std::error_code ignored;  // a directory that cannot be entered leaves the process where it is
    std::filesystem::current_path(GetModuleDirectoryPath(), ignored);
    m_logger = StartLogging();
    LogInfo("StreamDeck Kestrel plug-in started");
    // The first event creates the telemetry service (session, machine identifier, workers).
    TelemetryService::Instance()->SendEvent("streamdeck_kestrel_plugin_initialized", false,
                                            nlohmann::json::object());
}

PluginLifetime::~PluginLifetime() {
    // The stop record first: an idle telemetry worker takes a queued event at
    // once, so queueing before the record could post the shutdown before it.
    LogInfo("StreamDeck Kestrel plug-in stopped");
    TelemetryService::Instance()->SendEvent("streamdeck_kestrel_plugin_shutdown", false,
                                            nlohmann::json::object());
    // The workers post what is queued, the shutdown event among it, for a
    // bounded time; the log stays open for their count of dropped events.
    TelemetryService::ShutDown();
    StopLogging();
    m_logger.reset();
}
