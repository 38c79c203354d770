// One input is one or more host messages, one per line, each handed to
// ESDConnectionManager::HandleMessageText exactly as the WebSocket handler
// hands over a text frame, into a fully built plug-in (FuzzPlugin). Keys that
// the input made appear are taken off the deck afterwards.

#include <cstdint>
#include <string>

#include "FuzzPlugin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzPlugin& plugin = FuzzPlugin::Instance();
    ForEachLine(data, size, [&](const std::string& line) { plugin.HostMessage(line); });
    plugin.RemoveAppearedKeys();
    return 0;
}
