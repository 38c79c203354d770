// One input is the settings object of one key: the first byte picks the
// action, the rest is the JSON text of "settings". It goes, as the host sends
// it, through "willAppear", "didReceiveSettings" and "keyDown" of that key
// (the volume builders and the level image chooser included), then a timer
// tick runs and the key leaves the deck again, keeping nothing.

#include <cstdint>
#include <string>

#include "FuzzPlugin.h"

namespace {
std::string KeyMessage(const char* event, const char* action, const std::string& settings) {
    return std::string(R"({"event":")") + event + R"(","action":")" + action +
           R"(","context":"FUZZ-KEY","device":"DEV1","payload":{"settings":)" + settings +
           R"(,"coordinates":{"column":1,"row":1},"state":0,"isInMultiAction":false}})";
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FuzzPlugin& plugin = FuzzPlugin::Instance();
    const char* action = FuzzPlugin::kActions[data[0] % FuzzPlugin::kActions.size()].c_str();
    const std::string settings(reinterpret_cast<const char*>(data + 1), size - 1);
    for (const char* event : {"willAppear", "didReceiveSettings", "keyDown", "keyUp"}) {
        plugin.HostMessage(KeyMessage(event, action, settings));
    }
    plugin.FinishInput();
    return 0;
}
