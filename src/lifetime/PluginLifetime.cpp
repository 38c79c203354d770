#include "lifetime/PluginLifetime.h"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "diagnostics/Log.h"
#include "diagnostics/ModuleDirectory.h"
#include "telemetry/TelemetryService.h"

PluginLifetime::PluginLifetime() {
    std::error_code ignored;  // a directory that cannot be entered leaves the process where it is
    std::filesystem::current_path(GetModuleDirectory(), ignored);
    m_logger = StartLogging();
    LogInfo("StreamDeck Kestrel plug-in started");
    // The first event creates the telemetry service (session, machine identifier, workers).
    TelemetryService::Instance()->SendEvent(kStartEvent, false, nlohmann::json::object());
}

PluginLifetime::~PluginLifetime() {
    // The workers post what is queued for a bounded time and count in the log
    // what they dropped; then the stop record, the log's last line; then the
    // shutdown event, posted after it in the rest of the time.
    TelemetryService::ShutDown();
    LogInfo("StreamDeck Kestrel plug-in stopped");
    TelemetryService::SendLastEvent("streamdeck_kestrel_plugin_shutdown");
    StopLogging();
    m_logger.reset();
}
