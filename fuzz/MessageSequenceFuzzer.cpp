// One input is a sequence of steps that a deck and a controller server could
// make: keys appearing, pressed, released, given settings, their property
// inspector opened, keys leaving, the controller reporting sign-in, support
// and function states, the link dropping and coming back, and timer ticks.
// Each step is a byte choosing the step and a byte choosing the key (one of
// the actions, in one of four contexts); settings steps take a value from a
// small table or a length-prefixed piece of raw JSON text. The steps are
// built into the host's and the controller's documents and go through the
// same entry points as those of the other targets, so state carried from
// message to message (a key pressed while signed out, settings of a key that
// left, a state report for a key not shown) is explored rather than single
// documents. At the end every key leaves and nothing of it may remain.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "FuzzPlugin.h"

using json = nlohmann::json;

namespace {

// Reads the input a byte at a time; past its end every byte is zero.
class StepReader {
public:
    StepReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool AtEnd() const { return m_at >= m_size; }
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::string Text(size_t length) {
        const size_t taken = std::min(length, m_size - std::min(m_at, m_size));
        std::string text(reinterpret_cast<const char*>(m_data + m_at), taken);
        m_at += taken;
        return text;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

struct Key {
    std::string action;
    std::string context;
};

Key ReadKey(StepReader& reader) {
    const uint8_t choice = reader.Byte();
    return {FuzzPlugin::kActions[choice % FuzzPlugin::kActions.size()],
            "SEQ-" + std::to_string((choice >> 5) % 4)};
}

// Settings values that the elements read in different ways.
json TableSettings(uint8_t choice) {
    static const json kValues[] = {
        "1",           "0",  10, -5,  2147483648.0, 1e308, nullptr, "abc", json::object(),
        json::array(), true, 55, 100, -1,           "70",  0.5};
    static const char* const kKeys[] = {"volume_step", "volume_value", "auto_unmute", "title"};
    return json{{kKeys[choice % 4], kValues[(choice >> 2) % 16]}};
}

std::string HostEvent(const char* event, const Key& key, const std::string& settings) {
    return std::string(R"({"event":")") + event + R"(","action":")" + key.action + R"(","context":")" +
           key.context + R"(","device":"DEV1","payload":{"settings":)" + settings +
           R"(,"coordinates":{"column":1,"row":2},"state":0,"isInMultiAction":false}})";
}

// The state names of multi-state keys are the action's own name with "-on"
// or "-off"; a raw step reaches the others.
std::string StateName(const Key& key, uint8_t choice) {
    static const char* const kEndings[] = {"-on", "-off", "-single-state", ""};
    const std::string name = key.action.substr(key.action.rfind('.') + 1);
    return name + kEndings[choice % 4];
}

// A function state report whose state is |raw| as it stands: the bytes are
// put into the text, so that invalid UTF-8 and stray quotes reach the client.
std::string RawStateReport(const Key& key, const std::string& raw) {
    return R"({"version":1,"source":{"class":"controller ","element":{"class":"server"}},)"
           R"("target":{"scope":"broadcast"},"payload":{"class":"event","event":)"
           R"({"name":"SYS$REPORT:STATE:FUNCTION","data":{"function":")" +
           key.action + R"(","state":")" + raw + R"("}}}})";
}

void RunStep(FuzzPlugin& plugin, StepReader& reader) {
    const uint8_t step = reader.Byte();
    const Key key = ReadKey(reader);
    switch (step % 16) {
        case 0:
            plugin.HostMessage(HostEvent("willAppear", key, TableSettings(reader.Byte()).dump()));
            break;
        case 1:
            plugin.HostMessage(HostEvent("willDisappear", key, "{}"));
            break;
        case 2:
            plugin.HostMessage(HostEvent("keyDown", key, "{}"));
            break;
        case 3:
            plugin.HostMessage(HostEvent("keyUp", key, "{}"));
            break;
        case 4:
            plugin.HostMessage(HostEvent("didReceiveSettings", key, TableSettings(reader.Byte()).dump()));
            break;
        case 5:
            plugin.HostMessage(HostEvent("sendToPlugin", key, TableSettings(reader.Byte()).dump()));
            break;
        case 6:
            plugin.HostMessage(HostEvent("propertyInspectorDidAppear", key, "{}"));
            break;
        case 7:
            plugin.HostMessage(HostEvent("propertyInspectorDidDisappear", key, "{}"));
            break;
        case 8:
            plugin.HostMessage(HostEvent("didReceiveSettings", key, reader.Text(reader.Byte())));
            break;
        case 9:
            plugin.HostMessage(HostEvent("willAppear", key, reader.Text(reader.Byte())));
            break;
        case 10:
            plugin.ControllerMessage(FuzzPlugin::ControllerEventText(
                "SYS$REPORT:STATE", {{"isSignedIn", reader.Byte() % 2 == 1}}));
            break;
        case 11:
            plugin.ControllerMessage(FuzzPlugin::ControllerEventText("SYS$SUPPORT:FUNCTIONS",
                                                                     {{key.action, reader.Byte() % 2 == 1}}));
            break;
        case 12:
            plugin.ControllerMessage(FuzzPlugin::ControllerEventText(
                "SYS$REPORT:STATE:FUNCTION",
                {{"function", key.action}, {"state", StateName(key, reader.Byte())}}));
            break;
        case 13:
            plugin.ControllerMessage(RawStateReport(key, reader.Text(reader.Byte())));
            break;
        case 14:
            plugin.SetLinkUp(reader.Byte() % 2 == 1);
            break;
        default:
            plugin.Tick();
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzPlugin& plugin = FuzzPlugin::Instance();
    StepReader reader(data, size);
    while (!reader.AtEnd()) RunStep(plugin, reader);
    plugin.FinishInput();
    plugin.RestoreControllerStateIfChanged();
    return 0;
}
