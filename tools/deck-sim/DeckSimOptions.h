#pragma once
// Command line of deck-sim.
//
//   deck-sim [--host streamdeck|opendeck] [--device xl|plus] [--plugin PATH]
//            [--plugin-folder DIR] [--controller-sim PATH] [--port N] [--http-port N]
//            [--web DIR]
//
// --host            which host application to behave as (default: streamdeck)
// --device          the Stream Deck it plays: xl (32 keys, default) or plus
//                   (8 keys, 4 dials and the touch strip)
// --plugin          the plug-in executable (default: kestrel-sdplugin beside deck-sim;
//                   with --host opendeck the manifest's CodePathLin in the plug-in folder)
// --plugin-folder   where manifest.json and the inspector pages are (default: the
//                   plug-in executable's folder, else the source tree's plug-in folder)
// --controller-sim  also start this controller-sim on a private pipe name
// --port            the host's WebSocket port (default 0: a free one; with
//                   --host opendeck the first free one from 57116 on)
// --http-port       the page's HTTP port (default 0: a free one)
// --web             the page's files (default: tools/deck-sim/web of the source tree)

#include <optional>
#include <string>

#include "deck-sim/DeviceModel.h"
#include "support/HostFlavour.h"

struct DeckSimOptions {
    HostFlavour host;
    DeviceModel device = DeviceModel::XL();
    std::string pluginPath;
    bool pluginPathGiven = false;  // --plugin was on the command line
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
