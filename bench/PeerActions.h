#pragma once
// The action catalogue as the Node SDK peer (bench/peer) reads it at start:
// the probe writes this file for every run, so the peer registers exactly the
// actions, images, commands and default settings of the native plug-in.

#include <nlohmann/json.hpp>
#include <string>

// One object per action in catalogue order: "shortName", "kind" ("single",
// "multi", "pump", "dynamic"), "data" ("none", "volumeStep", "volumeLevel",
// "pumpLevel"), "defaults", and "states" of {"name", "image", "command"}.
nlohmann::json PeerActions();

// Writes PeerActions() to |path|; false when the file cannot be written.
bool WritePeerActions(const std::string& path);
