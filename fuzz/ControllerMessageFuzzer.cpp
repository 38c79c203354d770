// One input is one or more received controller messages, one per line, each
// delivered through the transport's onDataReceived callback as the pipe
// client delivers it: into ControllerClient::OnDataReceived, the plug-in's
// listener and every element. One key of each action is on the deck, so
// state reports redraw real keys at the timer tick that follows the input.
// The controller's reports of sign-in and support are restored after an
// input that changed them, and a second tick draws the keys as they were.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "FuzzPlugin.h"

namespace {
void ShowOneKeyOfEachAction(FuzzPlugin& plugin) {
    int row = 0;
    for (const std::string& action : FuzzPlugin::kActions) {
        plugin.HostMessage(nlohmann::json{{"event", "willAppear"},
                                          {"action", action},
                                          {"context", std::string("KEY-") + action},
                                          {"payload", {{"coordinates", {{"column", 0}, {"row", row++}}}}}}
                               .dump());
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzPlugin& plugin = []() -> FuzzPlugin& {
        FuzzPlugin& instance = FuzzPlugin::Instance();
        ShowOneKeyOfEachAction(instance);
        return instance;
    }();
    ForEachLine(data, size, [&](const std::string& line) { plugin.ControllerMessage(line); });
    plugin.Tick();
    plugin.RestoreControllerStateIfChanged();
    return 0;
}
