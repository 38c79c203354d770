// One input is one or more host messages, one per line, each handed to
// ESDConnectionManager::HandleMessageText exactly as the WebSocket handler
// hands over a text frame, into a fully built plug-in (FuzzPlugin). Then one
// timer tick runs, the keys that the input made appear are taken off the
// deck, and no element may keep anything of them.

#include <cstdint>
#include <string>

#include "FuzzPlugin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzPlugin& plugin = FuzzPlugin::Instance();
    ForEachLine(data, size, [&](const std::string& line) { plugin.HostMessage(line); });
    plugin.FinishInput();
    return 0;
}
