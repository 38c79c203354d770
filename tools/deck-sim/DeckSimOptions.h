#pragma once
// Command line of deck-sim.
//
//   deck-sim [--plugin PATH] [--plugin-folder DIR] [--controller-sim PATH]
//            [--port N] [--http-port N] [--web DIR]
//
// --plugin          the plug-in executable (default: kestrel-sdplugin beside deck-sim)
// --plugin-folder   where manifest.json and the inspector pages are (default: the
//                   plug-in executable's folder, else the source tree's plug-in folder)
// --controller-sim  also start this controller-sim on a private pipe name
// --port            the host's WebSocket port (default 0: a free one)
// --http-port       the page's HTTP port (default 0: a free one)
// --web             the page's files (default: tools/deck-sim/web of the source tree)

#include <optional>
#include <string>

struct DeckSimOptions {
    std::string pluginPath;
    std::string pluginFolder;
    std::string controllerSimPath;  // empty: no controller simulator
    std::string webFolder;
    int hostPort = 0;
    int httpPort = 0;

    // Nothing (and a message in |error|) for unusable arguments; |selfPath| is
    // deck-sim's own path, used for the defaults.
    static std::optional<DeckSimOptions> Parse(int argc, const char* const argv[],
                                               const std::string& selfPath, std::string& error);
    static const char* Usage();
};
