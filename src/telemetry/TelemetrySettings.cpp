#include "telemetry/TelemetrySettings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#ifndef KESTREL_TELEMETRY_DEFAULT_URL
#define KESTREL_TELEMETRY_DEFAULT_URL ""
#endif

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The variable that opts out, or "".
std::string OptedOutBy() {
    std::string telemetry = Lower(Environment("KESTREL_TELEMETRY"));
    if (telemetry == "off" || telemetry == "0" || telemetry == "false" || telemetry == "no")
        return "KESTREL_TELEMETRY";
    std::string doNotTrack = Environment("DO_NOT_TRACK");
    return !doNotTrack.empty() && doNotTrack != "0" ? "DO_NOT_TRACK" : "";
}

}  // namespace

TelemetrySettings ReadTelemetrySettings() {
    TelemetrySettings settings;
    settings.collectorUrl = Environment("KESTREL_TELEMETRY_URL");
    if (settings.collectorUrl.empty()) settings.collectorUrl = KESTREL_TELEMETRY_DEFAULT_URL;
    settings.offBy = OptedOutBy();
    settings.enabled = !settings.collectorUrl.empty() && settings.offBy.empty();
    return settings;
}
