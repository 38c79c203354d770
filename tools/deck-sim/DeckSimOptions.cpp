#include "deck-sim/DeckSimOptions.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(text);
    return port <= 65535;
}

// The plug-in folder is where the host finds manifest.json; in a build that is
// the executable's own folder (the build copies the folder's files there).
std::string DefaultPluginFolder(const std::string& pluginPath) {
    fs::path beside = fs::path(pluginPath).parent_path();
    if (fs::exists(beside / "manifest.json")) return beside.string();
    return KESTREL_SOURCE_PLUGIN_DIR;
}

}  // namespace

const char* DeckSimOptions::Usage() {
    return "usage: deck-sim [--host streamdeck|opendeck] [--device xl|plus] [--plugin PATH]\n"
           "                [--plugin-folder DIR] [--controller-sim PATH] [--port N] [--http-port N]\n"
           "                [--web DIR]\n";
}

std::optional<DeckSimOptions> DeckSimOptions::Parse(int argc, const char* const argv[],
                                                    const std::string& selfPath, std::string& error) {
    DeckSimOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            error.clear();
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            error = "missing value of " + name;
            return std::nullopt;
        }
        std::string value = argv[++i];
        if (name == "--host") {
            auto host = HostFlavour::Named(value);
            if (!host) {
                error = "not a host (streamdeck or opendeck): " + value;
                return std::nullopt;
            }
            options.host = *host;
        } else if (name == "--device") {
            auto device = DeviceModel::Named(value);
            if (!device) {
                error = "not a device (xl or plus): " + value;
                return std::nullopt;
            }
            options.device = *device;
        } else if (name == "--plugin") {
            options.pluginPath = value;
            options.pluginPathGiven = true;
        } else if (name == "--plugin-folder") {
            options.pluginFolder = value;
        } else if (name == "--controller-sim") {
            options.controllerSimPath = value;
        } else if (name == "--web") {
            options.webFolder = value;
        } else if (name == "--port" || name == "--http-port") {
            if (!ParsePort(value, name == "--port" ? options.hostPort : options.httpPort)) {
                error = "not a port: " + value;
                return std::nullopt;
            }
        } else {
            error = "unknown option " + name;
            return std::nullopt;
        }
    }
    if (options.pluginPath.empty())
        options.pluginPath = (fs::path(selfPath).parent_path() / "kestrel-sdplugin").string();
    if (options.pluginFolder.empty()) options.pluginFolder = DefaultPluginFolder(options.pluginPath);
    if (options.webFolder.empty()) options.webFolder = KESTREL_DECK_SIM_WEB_DIR;
    return options;
}
