#pragma once
// Where usage events go and whether they are sent at all.
//
// The collector URL is fixed at build time (the CMake cache variable
// KESTREL_TELEMETRY_URL) and replaced at run time by a non-empty environment
// variable of the same name. KESTREL_TELEMETRY=off (also "0", "false", "no")
// or DO_NOT_TRACK set to anything but "" or "0" turns telemetry off: events
// are then neither queued nor sent, and no machine identifier is made: not
// for events, and not for crash reports either (no collector configured
// counts as off too). Within what the environment allows, the streamer's
// switch on the settings pages decides (TelemetryService::SetUserChoice).

#include <chrono>
#include <string>

struct TelemetrySettings {
    std::string collectorUrl;
    bool enabled = false;
    // The environment variable that turns telemetry off ("KESTREL_TELEMETRY"
    // or "DO_NOT_TRACK"), or empty; not enabled with it empty: no collector.
    std::string offBy;
    // How long queued events wait for the streamer's choice before the
    // default (on) applies; 0: they do not wait.
    std::chrono::milliseconds choiceWait{0};
};

// Reads the environment now; the build-time URL when no override is set.
TelemetrySettings ReadTelemetrySettings();
