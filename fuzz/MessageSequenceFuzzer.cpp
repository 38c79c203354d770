// One input is a sequence of steps that a deck and a controller server could
// make: keys and dials appearing, pressed, released, turned, tapped, given
// settings, their property inspector opened, keys leaving, presses from
// within a Multi Action, the controller reporting sign-in, support and
// function states, the link dropping and coming back, and timer ticks.
// Each step is a byte choosing the step and a byte choosing the key (one of
// the actions, in one of four contexts); settings steps take a value from a
// table (single settings in every shape a page or a hand-edited profile
// stores, and whole objects as the pages save them) or a length-prefixed
// piece of raw JSON text. The table-driven
// documents are serialised once per process and reused; the others are put
// together as text. Either goes through the
// same entry points as those of the other targets, so state carried from
// message to message (a key pressed while signed out, settings of a key that
// left, a state report for a key not shown) is explored rather than single
// documents. At the end every key leaves and nothing of it may remain.
//
// Throughput is stated in peer messages (host and controller texts handed
// to the plug-in): the target counts them and, as the process ends, prints
// "peer messages: N in C CPU s, M/s" to standard error.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
    std::vector<std::string> settings;      // TableSettings of each choice byte (256)
    std::string signedIn[2];                // SYS$REPORT:STATE, signed out and in
    std::vector<std::string> support[2];    // SYS$SUPPORT:FUNCTIONS of each action, off and on
    std::vector<std::string> stateReports;  // SYS$REPORT:STATE:FUNCTION, 4 per action
};

struct Key {
    size_t action;  // index into FuzzPlugin::kActions
    const std::string* context;
    const std::string& Action() const { return FuzzPlugin::kActions[action]; }
};

// Whole settings objects as the pages save them: every field of the page
// at once, check boxes as "1"/"0" or booleans, numbers as the page reads
// them, and the same objects after a hand edit or an older page.
json PageSettings(uint8_t choice) {
    static const json kHold[] = {json::object(),
                                 {{"hold_to_confirm", true}, {"hold_seconds", 1.5}},
                                 {{"hold_to_confirm", false}, {"hold_seconds", 0.6}},
                                 {{"hold_to_confirm", "1"}, {"hold_seconds", "1.5"}}};
    static const json kPages[] = {
        {{"volume_value", 70}, {"auto_unmute", "1"}, {"dial_step", 5}},
        {{"volume_value", "70"}, {"auto_unmute", "0"}, {"dial_step", "2"}},
        {{"volume_step", 10}},
        {{"volume_step", "10"}, {"auto_unmute", true}},
        {{"own_icons", true}},
        {{"own_icons", "1"}, {"volume_value", 0}},
        {{"volume_value", 100}, {"dial_step", 100}, {"auto_unmute", false}},
        {{"volume_value", 50}, {"dial_step", 1}, {"own_icons", false}},
        {{"volume_value", nullptr}, {"dial_step", nullptr}},
        json::object(),
        {{"volume_step", 1}, {"own_icons", 1}},
        {{"volume_value", 1.5}, {"dial_step", 0.5}},
        {{"volume_value", -1}, {"dial_step", 0}},
        {{"volume_value", 20}, {"auto_unmute", "1"}, {"dial_step", 5}, {"own_icons", "true"}},
        {{"unrelated", "kept"}},
        {{"volume_step", 5}, {"auto_unmute", "1"}}};
    json settings = kPages[choice % 16];
    settings.update(kHold[(choice >> 4) % 4]);
    return settings;
}

// Settings values that the elements read in different ways. Choices 0-63
// are the first table (the seeds were written against it); 64-191 the hold,
// dial and icon settings in every shape they may be stored in; 192-255 whole
// settings objects as the pages save them.
json TableSettings(uint8_t choice) {
    static const json kValues[] = {
        "1",           "0",  10, -5,  2147483648.0, 1e308, nullptr, "abc", json::object(),
        json::array(), true, 55, 100, -1,           "70",  0.5};
    static const char* const kKeys[] = {"volume_step", "volume_value", "auto_unmute", "title"};
    static const json kShapes[] = {true,
                                   false,
                                   1,
                                   0,
                                   "1",
                                   "0",
                                   "true",
                                   "false",
                                   "1.5",
                                   1.5,
                                   0.6,
                                   0.3,
                                   2,
                                   0.29,
                                   2.01,
                                   -0.5,
                                   1e308,
                                   "",
                                   nullptr,
                                   "abc",
                                   "on",
                                   "yes",
                                   7,
                                   "7",
                                   100,
                                   101,
                                   json::object(),
                                   json::array(),
                                   " 1",
                                   2147483648.0,
                                   "0.6",
                                   -1};
    static const char* const kNewKeys[] = {"hold_to_confirm", "hold_seconds", "dial_step", "own_icons"};
    if (choice < 64) return json{{kKeys[choice % 4], kValues[(choice >> 2) % 16]}};
    if (choice < 192) return json{{kNewKeys[(choice - 64) % 4], kShapes[((choice - 64) >> 2) % 32]}};
    return PageSettings(choice - 192);
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
    for (int choice = 0; choice < 256; ++choice) texts.settings.push_back(TableSettings(choice).dump());
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
    return Texts().settings[choice];
}

// The payload members after "settings" of a key, a dial and a key pressed
// from within a Multi Action.
const char kKeyMembers[] = R"("coordinates":{"column":1,"row":2},"state":0,"isInMultiAction":false)";
const char kDialMembers[] = R"("coordinates":{"column":0,"row":0},"controller":"Encoder")";

std::string HostEvent(const char* event, const Key& key, const std::string& settings,
                      const std::string& members = kKeyMembers) {
    std::string text;
    text.reserve(200 + settings.size());
    text.append(R"({"event":")").append(event).append(R"(","action":")").append(key.Action());
    text.append(R"(","context":")").append(*key.context);
    text.append(R"(","device":"DEV1","payload":{"settings":)").append(settings);
    text.append(",").append(members).append("}}");
    return text;
}

// A dial turned by |ticks| (-64 to 63), pressed while turning when the top bit is set.
std::string DialRotateMembers(uint8_t choice) {
    const int ticks = static_cast<int>(choice & 0x7f) - 64;
    return std::string(kDialMembers) + R"(,"ticks":)" + std::to_string(ticks) + R"(,"pressed":)" +
           ((choice & 0x80) ? "true" : "false");
}

// A press from within a Multi Action: the state the Multi Action asks for
// (0, 1, absent, or the string "1") and the key's state as the host reports it.
std::string MultiActionMembers(uint8_t choice) {
    static const char* const kDesired[] = {R"(,"userDesiredState":0)", R"(,"userDesiredState":1)", "",
                                           R"(,"userDesiredState":"1")", R"(,"userDesiredState":2)"};
    return R"("coordinates":{"column":1,"row":2},"isInMultiAction":true,"state":)" +
           std::to_string(choice & 1) + kDesired[(choice >> 1) % 5];
}

// Peer messages handed to the plug-in, and the process's CPU time at the first.
uint64_t g_peerMessages = 0;
std::clock_t g_firstMessageClock = 0;

void ReportPeerMessages() {
    const double seconds = static_cast<double>(std::clock() - g_firstMessageClock) / CLOCKS_PER_SEC;
    std::fprintf(stderr, "peer messages: %llu in %.1f CPU s, %.0f/s\n",
                 static_cast<unsigned long long>(g_peerMessages), seconds,
                 seconds > 0 ? static_cast<double>(g_peerMessages) / seconds : 0.0);
}

void CountPeerMessage() {
    if (g_peerMessages++ == 0) {
        g_firstMessageClock = std::clock();
        std::atexit(ReportPeerMessages);
    }
}

void Host(FuzzPlugin& plugin, const std::string& text) {
    CountPeerMessage();
    plugin.HostMessage(text);
}

void Controller(FuzzPlugin& plugin, const std::string& text) {
    CountPeerMessage();
    plugin.ControllerMessage(text);
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
    switch (step % 24) {
        case 0:
            Host(plugin, HostEvent("willAppear", key, SettingsText(reader.Byte())));
            break;
        case 1:
            Host(plugin, HostEvent("willDisappear", key, "{}"));
            break;
        case 2:
            Host(plugin, HostEvent("keyDown", key, "{}"));
            break;
        case 3:
            Host(plugin, HostEvent("keyUp", key, "{}"));
            break;
        case 4:
            Host(plugin, HostEvent("didReceiveSettings", key, SettingsText(reader.Byte())));
            break;
        case 5:
            Host(plugin, HostEvent("sendToPlugin", key, SettingsText(reader.Byte())));
            break;
        case 6:
            Host(plugin, HostEvent("propertyInspectorDidAppear", key, "{}"));
            break;
        case 7:
            Host(plugin, HostEvent("propertyInspectorDidDisappear", key, "{}"));
            break;
        case 8:
            Host(plugin, HostEvent("didReceiveSettings", key, reader.Text(reader.Byte())));
            break;
        case 9:
            Host(plugin, HostEvent("willAppear", key, reader.Text(reader.Byte())));
            break;
        case 10:
            Controller(plugin, Texts().signedIn[reader.Byte() % 2]);
            break;
        case 11:
            Controller(plugin, Texts().support[reader.Byte() % 2][key.action]);
            break;
        case 12:
            Controller(plugin, Texts().stateReports[key.action * 4 + reader.Byte() % 4]);
            break;
        case 13:
            Controller(plugin, RawStateReport(key, reader.Text(reader.Byte())));
            break;
        case 14:
            plugin.SetLinkUp(reader.Byte() % 2 == 1);
            break;
        case 16:
            Host(plugin, HostEvent("willAppear", key, SettingsText(reader.Byte()), kDialMembers));
            break;
        case 17:
            Host(plugin, HostEvent("dialRotate", key, "{}", DialRotateMembers(reader.Byte())));
            break;
        case 18:
            Host(plugin, HostEvent("dialDown", key, "{}", kDialMembers));
            break;
        case 19:
            Host(plugin, HostEvent("dialUp", key, "{}", kDialMembers));
            break;
        case 20:
            Host(plugin, HostEvent("touchTap", key, "{}",
                                   std::string(kDialMembers) + R"(,"tapPos":[100,50],"hold":)" +
                                       (reader.Byte() % 2 ? "true" : "false")));
            break;
        case 21:
            Host(plugin, HostEvent("keyDown", key, "{}", MultiActionMembers(reader.Byte())));
            break;
        case 22:
            Host(plugin, HostEvent("keyUp", key, "{}", MultiActionMembers(reader.Byte())));
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
