#pragma once
// The plug-in folder's manifest as a host application reads it. OpenDeck
// merges manifest.linux.json over manifest.json (JSON merge patch) and starts
// the program named by CodePathLin; the Stream Deck application reads
// manifest.json alone.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "support/HostFlavour.h"

class PluginManifest {
public:
    // Nothing when |folder| has no manifest.json that is a JSON object. A
    // merge file that is not a JSON object is left out, and |note| says so.
    static std::optional<nlohmann::json> Read(const std::string& folder, const HostFlavour& host,
                                              std::string& note);
    // The program the host starts, relative to the plug-in folder: for
    // OpenDeck CodePathLin, else CodePath; empty when the manifest names none.
    static std::string CodePath(const nlohmann::json& manifest, const HostFlavour& host);
};
