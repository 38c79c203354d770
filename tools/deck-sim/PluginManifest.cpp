#include "deck-sim/PluginManifest.h"

#include <fstream>
#include <sstream>

using nlohmann::json;

namespace {

std::optional<json> ReadObject(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::stringstream text;
    text << file.rdbuf();
    json document = json::parse(text.str(), nullptr, false);
    if (!document.is_object()) return std::nullopt;
    return document;
}

}  // namespace

std::optional<json> PluginManifest::Read(const std::string& folder, const HostFlavour& host,
                                         std::string& note) {
    auto manifest = ReadObject(folder + "/manifest.json");
    if (!manifest || !host.IsOpenDeck()) return manifest;
    const std::string overlay = folder + "/manifest.linux.json";
    if (!std::ifstream(overlay)) return manifest;
    auto patch = ReadObject(overlay);
    if (!patch) {
        note = overlay + " is not a JSON object; left out";
        return manifest;
    }
    manifest->merge_patch(*patch);
    return manifest;
}

std::string PluginManifest::CodePath(const json& manifest, const HostFlavour& host) {
    for (const char* key : {host.IsOpenDeck() ? "CodePathLin" : "CodePathWin", "CodePath"}) {
        auto found = manifest.find(key);
        if (found != manifest.end() && found->is_string() && !found->get<std::string>().empty())
            return found->get<std::string>();
    }
    return "";
}
