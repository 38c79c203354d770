// One input is a sequence of steps that a deck and a controller server could
// make: keys appearing, pressed, released, given settings, their property
// inspector opened, keys leaving, the controller reporting sign-in, support
// and function states, the link dropping and coming back, and timer ticks.
// Each step is a byte choosing the step and a byte choosing the key (one of
// the actions, in one of four contexts); settings steps take a value from a
// small table or a length-prefixed piece of raw JSON text. The table-driven
// documents are serialised once per process and reused; the others are put
// together as text. Either goes through the
// same entry points as those of the other targets, so state carried from
// message to message (a key pressed while signed out, settings of a key that
// left, a state report for a key not shown) is explored rather than single
// documents. At the end every key leaves and nothing of it may remain.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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

// The documents of the table-driven steps, serialised once per process: a
// step then costs the product's parse of a peer's text and nothing more.
struct StepTexts {
    std::vector<std::string> contexts;      // the four contexts a key can have
    std::vector<std::string> settings;      // TableSettings of each choice byte
    std::string signedIn[2];                // SYS$REPORT:STATE, signed out and in
    std::vector<std::string> support[2];    // SYS$SUPPORT:FUNCTIONS of each action, off and on
    std::vector<std::string> stateReports;  // SYS$REPORT:STATE:FUNCTION, 4 per action
};

struct Key {
    size_t action;  // index into FuzzPlugin::kActions
    const std::string* context;
    const std::string& Action() const { return FuzzPlugin::kActions[action]; }
};

// Settings values that the elements read in different ways.
json TableSettings(uint8_t choice) {
    static const json kValues[] = {
        "1",           "0",  10, -5,  2147483648.0, 1e308, nullptr, "abc", json::object(),
        json::array(), true, 55, 100, -1,           "70",  0.5};
    static const char* const kKeys[] = {"volume_step", "volume_value", "auto_unmute", "title"};
    return json{{kKeys[choice % 4], kValues[(choice >> 2) % 16]}};
}

// The state names of multi-state keys are the action's own name with "-on"
// or "-off"; a raw step reaches the others.
std::string StateName(const std::string& action, uint8_t choice) {
    static const char* const kEndings[] = {"-on", "-off", "-single-state", ""};
    const std::string name = action.substr(action.rfind('.') + 1);
    return name + kEndings[choice % 4];
}

StepTexts BuildStepTexts() {
    StepTexts texts;
    for (int i = 0; i < 4; ++i) texts.contexts.push_back("SEQ-" + std::to_string(i));
    // Only the low six bits choose a table entry (TableSettings).
    for (int choice = 0; choice < 64; ++choice) texts.settings.push_back(TableSettings(choice).dump());
    for (int on = 0; on < 2; ++on) {
        texts.signedIn[on] = FuzzPlugin::ControllerEventText("SYS$REPORT:STATE", {{"isSignedIn", on == 1}});
        for (const std::string& action : FuzzPlugin::kActions) {
            texts.support[on].push_back(
                FuzzPlugin::ControllerEventText("SYS$SUPPORT:FUNCTIONS", {{action, on == 1}}));
        }
    }
    for (const std::string& action : FuzzPlugin::kActions) {
        for (uint8_t ending = 0; ending < 4; ++ending) {
            texts.stateReports.push_back(FuzzPlugin::ControllerEventText(
                "SYS$REPORT:STATE:FUNCTION", {{"function", action}, {"state", StateName(action, ending)}}));
        }
    }
    return texts;
}

const StepTexts& Texts() {
    static const StepTexts texts = BuildStepTexts();
    return texts;
}

Key ReadKey(StepReader& reader) {
    const uint8_t choice = reader.Byte();
    return {choice % FuzzPlugin::kActions.size(), &Texts().contexts[(choice >> 5) % 4]};
}

const std::string& SettingsText(uint8_t choice) {
    return Texts().settings[choice % 64];
}

std::string HostEvent(const char* event, const Key& key, const std::string& settings) {
    std::string text;
    text.reserve(200 + settings.size());
    text.append(R"({"event":")").append(event).append(R"(","action":")").append(key.Action());
    text.append(R"(","context":")").append(*key.context);
    text.append(R"(","device":"DEV1","payload":{"settings":)").append(settings);
    text.append(R"(,"coordinates":{"column":1,"row":2},"state":0,"isInMultiAction":false}})");
    return text;
}

// A function state report whose state is |raw| as it stands: the bytes are
// put into the text, so that invalid UTF-8 and stray quotes reach the client.
std::string RawStateReport(const Key& key, const std::string& raw) {
    return R"({"version":1,"source":{"class":"controller ","element":{"class":"server"}},)"
           R"("target":{"scope":"broadcast"},"payload":{"class":"event","event":)"
           R"({"name":"SYS$REPORT:STATE:FUNCTION","data":{"function":")" +
           key.Action() + R"(","state":")" + raw + R"("}}}})";
}

void RunStep(FuzzPlugin& plugin, StepReader& reader) {
    const uint8_t step = reader.Byte();
    const Key key = ReadKey(reader);
    switch (step % 16) {
        case 0:
            plugin.HostMessage(HostEvent("willAppear", key, SettingsText(reader.Byte())));
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
            plugin.HostMessage(HostEvent("didReceiveSettings", key, SettingsText(reader.Byte())));
            break;
        case 5:
            plugin.HostMessage(HostEvent("sendToPlugin", key, SettingsText(reader.Byte())));
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
            plugin.ControllerMessage(Texts().signedIn[reader.Byte() % 2]);
            break;
        case 11:
            plugin.ControllerMessage(Texts().support[reader.Byte() % 2][key.action]);
            break;
        case 12:
            plugin.ControllerMessage(Texts().stateReports[key.action * 4 + reader.Byte() % 4]);
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
