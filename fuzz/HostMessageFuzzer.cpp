// One input is one or more host messages, one per line, each handed to
// ESDConnectionManager::HandleMessageText exactly as the WebSocket handler
// hands over a text frame. The plug-in answers through a connection manager
// without a socket; every command it sends must be a JSON object naming its
// event, whatever the host sent.

#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "host/ESDConnectionManager.h"
#include "host/MyStreamDeckPlugin.h"

namespace {

void CheckCommand(const std::string& text) {
    nlohmann::json command = nlohmann::json::parse(text, nullptr, false);
    if (!command.is_object() || !command.contains("event") || !command["event"].is_string()) std::abort();
}

struct Rig {
    ESDConnectionManager connection{CheckCommand};
    MyStreamDeckPlugin* plugin = new MyStreamDeckPlugin();  // lives to the end, as in the process

    Rig() {
        connection.SetPlugin(plugin);
        plugin->SetConnectionManager(&connection);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig* rig = new Rig;
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        rig->connection.HandleMessageText(input.substr(start, end - start));
        start = end + 1;
    }
    return 0;
}
