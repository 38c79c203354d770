#include "host/HostEventTable.h"

#include <cstdint>
#include <map>

#include "diagnostics/Log.h"
#include "host/ESDBasePlugin.h"
#include "host/JsonAccessors.h"

using json = nlohmann::json;

namespace {

using KeyOperation = void (ESDBasePlugin::*)(const std::string& action, const std::string& context,
                                             const json& payload, const std::string& device);

// The events of one key or dial, which take its action, context, payload and device.
template <KeyOperation operation>
void KeyEvent(ESDBasePlugin& plugin, const HostEvent& event) {
    (plugin.*operation)(event.action, event.context, event.payload, event.device);
}

// Whether the member |key| of |object| is the boolean true (anything else,
// absent or of another type, is false, as the host leaves out what is not so).
bool TrueMember(const json& object, const char* key) {
    if (!object.is_object()) return false;
    const auto found = object.find(key);
    return found != object.end() && found->is_boolean() && found->get<bool>();
}

// A rotation's ticks, checked; a turn no dial makes costs one warning line and nothing else.
void DialRotate(ESDBasePlugin& plugin, const HostEvent& event) {
    const json& payload = event.payload;
    const auto ticks = payload.is_object() ? payload.find("ticks") : payload.end();
    const bool whole = ticks != payload.end() && (ticks->is_number_integer() || ticks->is_number_unsigned());
    // Compared as a signed 64-bit number: an unsigned one beyond that range reads as negative and huge.
    if (!whole || ticks->get<int64_t>() > ESDBasePlugin::kMaxDialTicks ||
        ticks->get<int64_t>() < -ESDBasePlugin::kMaxDialTicks ||
        (ticks->is_number_unsigned() && ticks->get<uint64_t>() > ESDBasePlugin::kMaxDialTicks)) {
        LogWarning("ESDConnectionManager::OnMessage: dialRotate of '%s' ignored: ticks %s",
                   event.context.c_str(),
                   ticks == payload.end() ? "missing" : "not a whole number within the dial's range");
        return;
    }
    plugin.OnDialRotate(event.action, event.context, payload, event.device,
                        static_cast<int32_t>(ticks->get<int64_t>()), TrueMember(payload, "pressed"));
}

void TouchTap(ESDBasePlugin& plugin, const HostEvent& event) {
    plugin.OnTouchTap(event.action, event.context, event.payload, event.device,
                      TrueMember(event.payload, "hold"));
}

// The device information is a member of the message itself, not of its payload.
void DeviceDidConnect(ESDBasePlugin& plugin, const HostEvent& event) {
    json deviceInfo;
    GetJsonObject(event.message, "deviceInfo", deviceInfo);
    plugin.OnDeviceConnected(event.device, deviceInfo);
}

void DeviceDidDisconnect(ESDBasePlugin& plugin, const HostEvent& event) {
    plugin.OnDeviceDisconnected(event.device);
}

void CustomEvent(ESDBasePlugin& plugin, const HostEvent& event) {
    plugin.OnCustomEvent(event.event, event.action, event.context, event.payload, event.device);
}

const std::map<std::string, HostEventTable::Handler, std::less<>>& Rows() {
    static const std::map<std::string, HostEventTable::Handler, std::less<>> rows = {
        {"keyDown", KeyEvent<&ESDBasePlugin::OnKeyDown>},
        {"keyUp", KeyEvent<&ESDBasePlugin::OnKeyUp>},
        {"willAppear", KeyEvent<&ESDBasePlugin::OnWillAppear>},
        {"willDisappear", KeyEvent<&ESDBasePlugin::OnWillDisappear>},
        {"dialRotate", DialRotate},
        {"dialDown", KeyEvent<&ESDBasePlugin::OnDialDown>},
        {"dialUp", KeyEvent<&ESDBasePlugin::OnDialUp>},
        {"touchTap", TouchTap},
        {"deviceDidConnect", DeviceDidConnect},
        {"deviceDidDisconnect", DeviceDidDisconnect},
    };
    return rows;
}

}  // namespace

HostEvent::HostEvent(const json& parsed)
    : message(parsed),
      event(GetJsonString(parsed, "event")),
      action(GetJsonString(parsed, "action")),
      context(GetJsonString(parsed, "context")),
      device(GetJsonString(parsed, "device")) {
    GetJsonObject(parsed, "payload", payload);
}

std::vector<std::string> HostEventTable::Names() {
    std::vector<std::string> names;
    for (const auto& row : Rows()) names.push_back(row.first);
    return names;
}

void HostEventTable::Dispatch(ESDBasePlugin& plugin, const HostEvent& event) {
    const auto row = Rows().find(event.event);
    (row == Rows().end() ? CustomEvent : row->second)(plugin, event);
}
