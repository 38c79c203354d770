#include "deck-sim/VirtualDeck.h"

#include <algorithm>
#include <utility>

using nlohmann::json;

namespace {

std::string StringMember(const json& object, const char* key) {
    if (!object.is_object()) return "";
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

bool IsImageDataUrl(const std::string& image) {
    return image.rfind("data:image/", 0) == 0;
}

// What one dial keeps of the plug-in's feedback: enough for any layout, not
// without end.
constexpr size_t kFeedbackItems = 32;
constexpr size_t kItemMembers = 32;
constexpr size_t kItemKeyLength = 64;
constexpr size_t kFeedbackText = 1 << 20;  // a data URL of a large picture
constexpr int kStripWidth = 200;           // of one dial
constexpr int kStripHeight = 100;
constexpr const char* kTriggers[] = {"rotate", "push", "touch", "longTouch"};
constexpr size_t kOwnIconText = 1 << 20;  // a large picture as a data URL

// A whole number in a JSON value, or nothing.
std::optional<int> IntegerMember(const json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer()) return std::nullopt;
    return static_cast<int>(std::clamp<int64_t>(found->get<int64_t>(), -1000, 1000));
}

// A built-in layout, or a layout file's path inside the plug-in folder.
bool IsLayoutName(const std::string& layout) {
    for (const char* builtIn : {"$A0", "$X1", "$A1", "$B1", "$B2", "$C1"}) {
        if (layout == builtIn) return true;
    }
    bool json = layout.size() > 5 && layout.compare(layout.size() - 5, 5, ".json") == 0;
    return json && layout.size() <= 256 && layout.front() != '/' && layout.find("..") == std::string::npos &&
           layout.find('\\') == std::string::npos;
}

bool FitsFeedback(const json& value) {
    if (value.is_string()) return value.get_ref<const std::string&>().size() <= kFeedbackText;
    return value.is_number() || value.is_boolean();
}

}  // namespace

VirtualDeck::VirtualDeck(const std::vector<ActionEntry>& actions, const std::vector<std::string>& contexts,
                         std::string pluginUUID, std::string pluginVersion, HostFlavour host,
                         DeviceModel device)
    : m_actions(actions),
      m_dials(static_cast<size_t>(device.dials)),
      m_device(std::move(device)),
      m_pluginUUID(std::move(pluginUUID)),
      m_pluginVersion(std::move(pluginVersion)),
      m_host(host),
      m_multiActions(actions, host, m_device.columns) {
    for (size_t i = 0; i < actions.size() && i < contexts.size() && i < size_t(m_device.Keys()); ++i) {
        DeckKey key;
        key.action = actions[i];
        key.context = contexts[i];
        key.column = static_cast<int>(i) % m_device.columns;
        key.row = static_cast<int>(i) / m_device.columns;
        m_keys.push_back(std::move(key));
    }
}

json VirtualDeck::DeviceInfo() const {
    return {{"name", m_device.name},
            {"size", {{"columns", m_device.columns}, {"rows", m_device.rows}}},
            {"type", m_device.type}};
}

json VirtualDeck::InfoDocument() const {
    json device = DeviceInfo();
    device["id"] = kDeviceId;
    return m_host.InfoDocument(m_pluginVersion, json::array({device}), m_language);
}

bool VirtualDeck::SetLanguage(const std::string& language) {
    if (!HostFlavour::OffersLanguage(language)) return false;
    m_language = language;
    return true;
}

Outbox VirtualDeck::RegisterPlugin(const json& message, bool& accepted) {
    accepted =
        StringMember(message, "event") == "registerPlugin" && StringMember(message, "uuid") == m_pluginUUID;
    Outbox out;
    if (!accepted) {
        out.toPage.push_back(Outbox::PageLog("host", "refused a registration: " + message.dump()));
        return out;
    }
    out.toPlugin.push_back(
        {{"event", "deviceDidConnect"}, {"device", kDeviceId}, {"deviceInfo", DeviceInfo()}});
    std::vector<const DeckKey*> appearing;
    for (const DeckKey& key : m_keys) appearing.push_back(&key);
    for (const DeckDial& dial : m_dials) {
        if (dial.occupied) appearing.push_back(&dial.placed);
    }
    for (const DeckComposite& composite : Composites()) {
        for (const DeckKey& step : composite.steps) appearing.push_back(&step);
    }
    for (const DeckKey* key : appearing) {
        out.toPlugin.push_back(KeyEvent("willAppear", *key));
        if (m_host.AnnouncesTitleParameters())
            out.toPlugin.push_back(HostFlavour::TitleParameters(out.toPlugin.back(), key->title));
    }
    out.toPage.push_back({{"type", "plugin"}, {"connected", true}});
    out.toPage.push_back(
        Outbox::PageLog("host", "plug-in registered; " + std::to_string(m_keys.size()) + " keys appear",
                        {{"id", "registered"}, {"keys", m_keys.size()}}));
    return out;
}

Outbox VirtualDeck::FromPlugin(const json& message) {
    Outbox out;
    std::string event = StringMember(message, "event");
    std::string context = StringMember(message, "context");
    const json payload = message.is_object() && message.contains("payload") ? message["payload"] : json();

    if (event == "setGlobalSettings" || event == "getGlobalSettings") {
        if (event == "setGlobalSettings" && payload.is_object()) m_globalSettings = payload;
        if (event == "getGlobalSettings") {
            out.toPlugin.push_back(
                {{"event", "didReceiveGlobalSettings"}, {"payload", {{"settings", m_globalSettings}}}});
        }
        return out;
    }
    if (event == "logMessage" || event == "openUrl") {
        out.toPage.push_back(Outbox::PageLog("plugin", event + " " + payload.dump()));
        return out;
    }

    if (DeckDial* dial = FindDial(context)) return FromPluginForDial(*dial, event, payload);
    Instance found = FindInstance(context);
    if (!found.key) {
        out.toPage.push_back(Outbox::PageLog("host", "ignored '" + event + "' for an unknown context"));
        return out;
    }
    DeckKey& key = *found.key;
    bool inspectorOpen = InspectorShows(key);

    if (event == "setImage") {
        if (SetImage(key, payload, out)) out.toPage.push_back(InstanceView(found));
    } else if (event == "setTitle") {
        key.title = StringMember(payload, "title");
        out.toPage.push_back(InstanceView(found));
    } else if (event == "setState") {
        if (SetState(key, payload, out)) out.toPage.push_back(InstanceView(found));
    } else if (event == "setSettings") {
        if (!payload.is_object()) {
            out.toPage.push_back(
                Outbox::PageLog("host", "ignored settings that are not an object for " + key.action.name));
            return out;
        }
        // The plug-in stores every key's settings when it appears: list changes only.
        if (payload != key.settings) {
            out.toPage.push_back(
                Outbox::PageLog("plugin", "stored settings of " + key.action.name + ": " + payload.dump()));
        }
        key.settings = payload;
        if (inspectorOpen) out.toInspector.push_back(SettingsEvent(key));
    } else if (event == "getSettings") {
        out.toPlugin.push_back(SettingsEvent(key));
    } else if (event == "sendToPropertyInspector") {
        RelayToInspector(key, payload, out);
    } else if (event == "showOk" || event == "showAlert") {
        // A step's mark shows on its composite key.
        json flash = {{"type", "flash"}, {"kind", event == "showOk" ? "ok" : "alert"}};
        if (found.composite)
            flash["composite"] = *found.composite;
        else
            flash["index"] = *found.keyIndex;
        out.toPage.push_back(std::move(flash));
    } else {
        out.toPage.push_back(Outbox::PageLog("plugin", "unknown command '" + event + "'"));
    }
    return out;
}

// setImage: for one state when the payload names one, else for every state;
// no image gives the state back to the host's own picture.
bool VirtualDeck::SetImage(DeckKey& key, const json& payload, Outbox& out) const {
    std::string image = StringMember(payload, "image");
    if (!image.empty() && !IsImageDataUrl(image)) {
        out.toPage.push_back(
            Outbox::PageLog("host", "ignored an image that is not a data URL for " + key.action.name));
        return false;
    }
    size_t count = key.action.StateCount();
    key.images.resize(count);
    if (payload.is_object() && payload.contains("state")) {
        std::optional<int> state = IntegerMember(payload, "state");
        if (!state || *state < 0 || size_t(*state) >= count) {
            out.toPage.push_back(Outbox::PageLog(
                "host", "ignored an image for state " + payload["state"].dump() + " of " + key.action.name));
            return false;
        }
        key.images[size_t(*state)] = image;
    } else {
        key.images.assign(count, image);
    }
    return true;
}

// setState: a state the action declares; false (and a log line) for anything else.
bool VirtualDeck::SetState(DeckKey& key, const json& payload, Outbox& out) const {
    std::optional<int> state = IntegerMember(payload, "state");
    if (!state || *state < 0 || size_t(*state) >= key.action.StateCount()) {
        std::string given =
            payload.is_object() && payload.contains("state") ? payload["state"].dump() : "none";
        out.toPage.push_back(
            Outbox::PageLog("host", "ignored state " + given + " for " + key.action.name + ": it has " +
                                        std::to_string(key.action.StateCount()) + " state(s)"));
        return false;
    }
    key.state = *state;
    return true;
}

Outbox VirtualDeck::FromPluginForDial(DeckDial& dial, const std::string& event, const json& payload) {
    Outbox out;
    size_t index = static_cast<size_t>(&dial - m_dials.data());
    DeckKey& placed = dial.placed;
    if (event == "setFeedback") {
        if (!MergeFeedback(dial, payload, out)) return out;
    } else if (event == "setFeedbackLayout") {
        if (!SetLayout(dial, payload, out)) return out;
    } else if (event == "setTriggerDescription") {
        if (!SetTriggers(dial, payload, out)) return out;
    } else if (event == "setTitle") {
        placed.title = StringMember(payload, "title");
    } else if (event == "setImage") {
        std::string image = StringMember(payload, "image");
        if (!image.empty() && !IsImageDataUrl(image)) {
            out.toPage.push_back(
                Outbox::PageLog("host", "ignored an image that is not a data URL for " + placed.action.name));
            return out;
        }
        placed.images.assign(1, image);
    } else if (event == "setSettings") {
        if (!payload.is_object()) {
            out.toPage.push_back(
                Outbox::PageLog("host", "ignored settings that are not an object for " + placed.action.name));
        } else {
            placed.settings = payload;
            if (InspectorShows(placed)) out.toInspector.push_back(SettingsEvent(placed));
        }
        return out;
    } else if (event == "getSettings") {
        out.toPlugin.push_back(SettingsEvent(placed));
        return out;
    } else if (event == "showOk" || event == "showAlert") {
        out.toPage.push_back(
            {{"type", "flash"}, {"dial", index}, {"kind", event == "showOk" ? "ok" : "alert"}});
        return out;
    } else if (event == "setState") {
        return out;  // a dial has no states
    } else if (event == "sendToPropertyInspector") {
        RelayToInspector(placed, payload, out);
        return out;
    } else {
        out.toPage.push_back(Outbox::PageLog("plugin", "unknown command '" + event + "'"));
        return out;
    }
    out.toPage.push_back({{"type", "dial"}, {"dial", DialView(index)}});
    return out;
}

bool VirtualDeck::SetLayout(DeckDial& dial, const json& payload, Outbox& out) const {
    std::string layout = StringMember(payload, "layout");
    if (!IsLayoutName(layout)) {
        out.toPage.push_back(
            Outbox::PageLog("host", "ignored a layout that is neither built in nor a layout file for " +
                                        dial.placed.action.name + ": " + payload.dump().substr(0, 200)));
        return false;
    }
    // The items of the layout before go with it.
    dial.layout = layout;
    dial.feedback = json::object();
    return true;
}

bool VirtualDeck::SetTriggers(DeckDial& dial, const json& payload, Outbox& out) const {
    if (!payload.is_object()) {
        out.toPage.push_back(Outbox::PageLog(
            "host", "ignored trigger descriptions that are not an object for " + dial.placed.action.name));
        return false;
    }
    // Each one left out is not shown.
    dial.triggers = json::object();
    for (const char* trigger : kTriggers) {
        std::string text = StringMember(payload, trigger);
        if (!text.empty()) dial.triggers[trigger] = text;
    }
    return true;
}

// Merges as the host does: a plain value sets the item's "value", an object
// sets the members it names; the item's other members stay.
bool VirtualDeck::MergeFeedback(DeckDial& dial, const json& payload, Outbox& out) const {
    if (!payload.is_object()) {
        out.toPage.push_back(
            Outbox::PageLog("host", "ignored feedback that is not an object for " + dial.placed.action.name));
        return false;
    }
    std::vector<std::string> ignored;
    for (const auto& [key, value] : payload.items()) {
        bool known = dial.feedback.contains(key);
        bool room = known || dial.feedback.size() < kFeedbackItems;
        if (key.empty() || key.size() > kItemKeyLength || !room ||
            !(FitsFeedback(value) || value.is_object())) {
            ignored.push_back(key.substr(0, kItemKeyLength));
            continue;
        }
        json& item = dial.feedback[key];
        if (!known) item = json::object();
        if (!value.is_object()) {
            item["value"] = value;
            continue;
        }
        for (const auto& [member, memberValue] : value.items()) {
            bool fits =
                FitsFeedback(memberValue) || (memberValue.is_object() && memberValue.dump().size() < 256);
            if (fits && (item.contains(member) || item.size() < kItemMembers)) {
                item[member] = memberValue;
            } else {
                ignored.push_back(key + "." + member.substr(0, kItemKeyLength));
            }
        }
    }
    if (ignored.empty()) return true;
    std::string names;
    for (size_t i = 0; i < ignored.size() && i < 8; ++i) names += (i ? ", " : "") + ignored[i];
    if (ignored.size() > 8) names += " and " + std::to_string(ignored.size() - 8) + " more";
    out.toPage.push_back(
        Outbox::PageLog("host", "ignored feedback items of " + dial.placed.action.name + ": " + names));
    return true;
}

Outbox VirtualDeck::PlaceOnDial(size_t dial, const std::string& actionUuid, const std::string& context) {
    Outbox out;
    if (dial >= m_dials.size()) return out;
    const ActionEntry* action = nullptr;
    for (const ActionEntry& entry : m_actions) {
        if (!actionUuid.empty() && entry.uuid == actionUuid) action = &entry;
    }
    if (!actionUuid.empty() && (!action || !action->encoder)) {
        out.toPage.push_back(Outbox::PageLog("host", "cannot place " + actionUuid + " on a dial"));
        return out;
    }
    DeckDial& slot = m_dials[dial];
    // The page of the action that goes closes first, as on the real deck.
    if (slot.occupied && Inspected() == &slot.placed) out.Append(OpenInspector(std::nullopt));
    if (slot.occupied) out.toPlugin.push_back(KeyEvent("willDisappear", slot.placed));
    slot = DeckDial();
    if (action) {
        slot.occupied = true;
        slot.placed.action = *action;
        slot.placed.context = context;
        slot.placed.column = static_cast<int>(dial);
        slot.placed.controller = "Encoder";
        slot.layout = action->encoderLayout;
        slot.triggers = action->triggerDescription;
        out.toPlugin.push_back(KeyEvent("willAppear", slot.placed));
        if (m_host.AnnouncesTitleParameters())
            out.toPlugin.push_back(HostFlavour::TitleParameters(out.toPlugin.back(), ""));
    }
    out.toPage.push_back(
        Outbox::PageLog("host", action ? "placed " + action->name + " on dial " + std::to_string(dial + 1)
                                       : "cleared dial " + std::to_string(dial + 1)));
    out.toPage.push_back({{"type", "dial"}, {"dial", DialView(dial)}});
    return out;
}

DeckDial* VirtualDeck::OccupiedDial(size_t dial) {
    return dial < m_dials.size() && m_dials[dial].occupied ? &m_dials[dial] : nullptr;
}

Outbox VirtualDeck::DialRotate(size_t dial, int ticks, bool pressed) {
    Outbox out;
    DeckDial* slot = OccupiedDial(dial);
    if (!slot || ticks == 0) return out;
    json event = DialEvent("dialRotate", slot->placed);
    event["payload"]["ticks"] = ticks;
    event["payload"]["pressed"] = pressed;
    out.toPlugin.push_back(std::move(event));
    out.toPage.push_back(
        Outbox::PageLog("host", "turned " + slot->placed.action.name + " by " + std::to_string(ticks)));
    return out;
}

Outbox VirtualDeck::DialPush(size_t dial, bool down) {
    Outbox out;
    DeckDial* slot = OccupiedDial(dial);
    if (!slot) return out;
    out.toPlugin.push_back(DialEvent(down ? "dialDown" : "dialUp", slot->placed));
    if (down) out.toPage.push_back(Outbox::PageLog("host", "pushed " + slot->placed.action.name));
    return out;
}

Outbox VirtualDeck::TouchTap(size_t dial, int x, int y, bool hold) {
    Outbox out;
    DeckDial* slot = OccupiedDial(dial);
    if (!slot) return out;
    json event = DialEvent("touchTap", slot->placed);
    event["payload"]["tapPos"] = {std::clamp(x, 0, kStripWidth - 1), std::clamp(y, 0, kStripHeight - 1)};
    event["payload"]["hold"] = hold;
    out.toPlugin.push_back(std::move(event));
    out.toPage.push_back(
        Outbox::PageLog("host", (hold ? "long-touched " : "touched ") + slot->placed.action.name));
    return out;
}

Outbox VirtualDeck::KeyDown(size_t index) {
    Outbox out;
    if (index >= m_keys.size()) return out;
    out.toPlugin.push_back(KeyEvent("keyDown", m_keys[index]));
    const ActionEntry& action = m_keys[index].action;
    out.toPage.push_back(
        Outbox::PageLog("host", "pressed " + action.name,
                        {{"id", "pressed"}, {"name", action.name}, {"action", action.uuid}}));
    return out;
}

Outbox VirtualDeck::KeyUp(size_t index) {
    Outbox out;
    if (index >= m_keys.size()) return out;
    out.toPlugin.push_back(KeyEvent("keyUp", m_keys[index]));
    int before = m_keys[index].state;
    ReleasedByHost(m_keys[index], false);
    if (m_keys[index].state != before) out.toPage.push_back({{"type", "key"}, {"key", KeyView(index)}});
    return out;
}

// A two-state action that leaves its states to the host flips at each
// release of a key; OpenDeck's multi action flips such children after a run.
// The Stream Deck application's Multi Action leaves its steps' states alone.
void VirtualDeck::ReleasedByHost(DeckKey& key, bool openDeckMulti) {
    if (key.action.StateCount() != 2 || !key.action.automaticStates) return;
    if (key.inMultiAction && !openDeckMulti) return;
    key.state = 1 - key.state;
}

Outbox VirtualDeck::SystemWokeUp() {
    Outbox out;
    out.toPlugin.push_back({{"event", "systemDidWakeUp"}});
    out.toPage.push_back(Outbox::PageLog("host", "the computer woke up", {{"id", "wokeUp"}}));
    return out;
}

Outbox VirtualDeck::SelectInspector(std::optional<size_t> index) {
    if (!index) return OpenInspector(std::nullopt);
    return OpenInspector(InspectorTarget{InspectorTarget::Where::Key, *index});
}

Outbox VirtualDeck::SelectDialInspector(size_t dial) {
    return OpenInspector(InspectorTarget{InspectorTarget::Where::Dial, dial});
}

Outbox VirtualDeck::SelectStepInspector(size_t composite, size_t step) {
    return OpenInspector(InspectorTarget{InspectorTarget::Where::Step, composite, step});
}

const DeckKey* VirtualDeck::Inspected() const {
    if (!m_inspector) return nullptr;
    size_t index = m_inspector->index;
    if (m_inspector->where == InspectorTarget::Where::Key)
        return index < m_keys.size() ? &m_keys[index] : nullptr;
    if (m_inspector->where == InspectorTarget::Where::Step) {
        if (!m_multiActions.HasStep(index, m_inspector->step)) return nullptr;
        return &Composites()[index].steps[m_inspector->step];
    }
    return index < m_dials.size() && m_dials[index].occupied ? &m_dials[index].placed : nullptr;
}

DeckKey* VirtualDeck::Inspected() {
    return const_cast<DeckKey*>(std::as_const(*this).Inspected());
}

bool VirtualDeck::InspectorShows(const DeckKey& key) const {
    return m_inspectorRegistered && Inspected() == &key;
}

// Closes the open inspector and selects |target|'s, when it has a page.
Outbox VirtualDeck::OpenInspector(std::optional<InspectorTarget> target) {
    Outbox out = InspectorGone();
    m_inspector = target;
    const DeckKey* key = Inspected();
    if (key && key->action.propertyInspectorPath.empty()) key = nullptr;
    if (!key) m_inspector.reset();
    json view = {{"type", "inspector"}, {"index", nullptr}, {"dial", nullptr}};
    if (key) {
        json actionInfo = {{"action", key->action.uuid},
                           {"context", key->context},
                           {"device", kDeviceId},
                           {"payload", InstancePayload(*key)}};
        switch (m_inspector->where) {
            case InspectorTarget::Where::Key:
                view["index"] = m_inspector->index;
                break;
            case InspectorTarget::Where::Dial:
                view["dial"] = m_inspector->index;
                break;
            case InspectorTarget::Where::Step:
                view["composite"] = m_inspector->index;
                view["step"] = m_inspector->step;
                break;
        }
        view["name"] = key->action.name;
        view["url"] = "/plugin/" + key->action.propertyInspectorPath;
        view["uuid"] = key->context;
        view["registerEvent"] = "registerPropertyInspector";
        view["info"] = InfoDocument().dump();
        view["actionInfo"] = actionInfo.dump();
    }
    out.toPage.push_back(std::move(view));
    return out;
}

bool VirtualDeck::RegisterInspector(const json& message) {
    const DeckKey* key = Inspected();
    if (!key || StringMember(message, "event") != "registerPropertyInspector") return false;
    return StringMember(message, "uuid") == key->context;
}

Outbox VirtualDeck::InspectorAppeared() {
    Outbox out;
    const DeckKey* key = Inspected();
    if (!key) return out;
    m_inspectorRegistered = true;
    out.toPlugin.push_back({{"action", key->action.uuid},
                            {"context", key->context},
                            {"device", kDeviceId},
                            {"event", "propertyInspectorDidAppear"}});
    std::string on = m_inspector->where == InspectorTarget::Where::Dial
                         ? " on dial " + std::to_string(m_inspector->index + 1)
                     : m_inspector->where == InspectorTarget::Where::Step
                         ? " in " + Composites()[m_inspector->index].name
                         : "";
    out.toPage.push_back(Outbox::PageLog("host", "settings of " + key->action.name + on + " opened"));
    return out;
}

Outbox VirtualDeck::InspectorGone() {
    Outbox out;
    const DeckKey* key = Inspected();
    if (!key || !m_inspectorRegistered) return out;
    m_inspectorRegistered = false;
    out.toPlugin.push_back({{"action", key->action.uuid},
                            {"context", key->context},
                            {"device", kDeviceId},
                            {"event", "propertyInspectorDidDisappear"}});
    return out;
}

void VirtualDeck::RelayToInspector(const DeckKey& key, const json& payload, Outbox& out) const {
    if (InspectorShows(key)) {
        out.toInspector.push_back({{"action", key.action.uuid},
                                   {"context", key.context},
                                   {"event", "sendToPropertyInspector"},
                                   {"payload", payload}});
        return;
    }
    // The host drops it; listed so that a plug-in that keeps talking to
    // closed settings pages is seen.
    out.toPage.push_back(
        Outbox::PageLog("host", "dropped settings-page data of " + key.action.name + ": its page is closed"));
}

Outbox VirtualDeck::FromInspector(const json& message) {
    Outbox out;
    DeckKey* inspected = Inspected();
    if (!inspected || !m_inspectorRegistered) return out;
    DeckKey& key = *inspected;
    std::string event = StringMember(message, "event");
    // An inspector speaks for its own key or dial only.
    if (StringMember(message, "context") != key.context) return out;
    const json payload = message.contains("payload") ? message["payload"] : json();

    if (event == "setSettings") {
        if (!payload.is_object()) return out;
        key.settings = payload;
        out.toPage.push_back(
            Outbox::PageLog("inspector", "stored settings of " + key.action.name + ": " + payload.dump()));
        out.toPlugin.push_back(SettingsEvent(key));
    } else if (event == "getSettings") {
        out.toInspector.push_back(SettingsEvent(key));
    } else if (event == "sendToPlugin") {
        out.toPlugin.push_back({{"action", key.action.uuid},
                                {"context", key.context},
                                {"event", "sendToPlugin"},
                                {"payload", payload}});
    } else if (event == "setGlobalSettings" && payload.is_object()) {
        m_globalSettings = payload;
        out.toPlugin.push_back(
            {{"event", "didReceiveGlobalSettings"}, {"payload", {{"settings", m_globalSettings}}}});
    } else if (event == "getGlobalSettings") {
        out.toInspector.push_back(
            {{"event", "didReceiveGlobalSettings"}, {"payload", {{"settings", m_globalSettings}}}});
    } else {
        out.toPage.push_back(Outbox::PageLog("inspector", event + " " + payload.dump()));
    }
    return out;
}

json VirtualDeck::Snapshot(bool pluginConnected) const {
    json keys = json::array();
    for (size_t i = 0; i < m_keys.size(); ++i) keys.push_back(KeyView(i));
    json dials = json::array();
    for (size_t i = 0; i < m_dials.size(); ++i) dials.push_back(DialView(i));
    json dialActions = json::array();
    json stepActions = json::array();
    for (const ActionEntry& action : m_actions) {
        if (action.encoder) dialActions.push_back({{"action", action.uuid}, {"name", action.name}});
        if (action.inMultiActions) stepActions.push_back({{"action", action.uuid}, {"name", action.name}});
    }
    json composites = json::array();
    for (size_t i = 0; i < Composites().size(); ++i) composites.push_back(m_multiActions.View(i));
    return {{"type", "snapshot"},
            {"host", m_host.ProductName()},
            {"language", m_language},
            {"device",
             {{"id", kDeviceId},
              {"name", m_device.name},
              {"model", m_device.option},
              {"columns", m_device.columns},
              {"rows", m_device.rows},
              {"dials", m_device.dials}}},
            {"keys", keys},
            {"dials", dials},
            {"dialActions", dialActions},
            {"composites", composites},
            {"stepActions", stepActions},
            {"plugin", {{"connected", pluginConnected}}}};
}

DeckDial* VirtualDeck::FindDial(const std::string& context) {
    for (DeckDial& dial : m_dials) {
        if (dial.occupied && dial.placed.context == context) return &dial;
    }
    return nullptr;
}

VirtualDeck::Instance VirtualDeck::FindInstance(const std::string& context) {
    for (size_t i = 0; i < m_keys.size(); ++i) {
        if (m_keys[i].context == context) return {&m_keys[i], i, std::nullopt};
    }
    size_t composite = 0;
    if (DeckKey* step = m_multiActions.FindStep(context, composite)) return {step, std::nullopt, composite};
    return {};
}

json VirtualDeck::InstanceView(const Instance& found) const {
    if (found.composite) return {{"type", "composite"}, {"composite", m_multiActions.View(*found.composite)}};
    return {{"type", "key"}, {"key", KeyView(*found.keyIndex)}};
}

// The payload the host gives with an instance's events. A step of the
// Stream Deck application's Multi Action has no coordinates; OpenDeck gives
// its children the coordinates of the key they sit on.
json VirtualDeck::InstancePayload(const DeckKey& key) const {
    json payload = {{"controller", key.controller},
                    {"isInMultiAction", key.inMultiAction},
                    {"settings", key.settings},
                    {"state", key.state}};
    if (!key.inMultiAction || m_host.IsOpenDeck())
        payload["coordinates"] = {{"column", key.column}, {"row", key.row}};
    return payload;
}

json VirtualDeck::KeyEvent(const char* event, const DeckKey& key) const {
    return {{"action", key.action.uuid},
            {"context", key.context},
            {"device", kDeviceId},
            {"event", event},
            {"payload", InstancePayload(key)}};
}

json VirtualDeck::DialEvent(const char* event, const DeckKey& placed) const {
    return {{"action", placed.action.uuid},
            {"context", placed.context},
            {"device", kDeviceId},
            {"event", event},
            {"payload",
             {{"controller", "Encoder"},
              {"coordinates", {{"column", placed.column}, {"row", placed.row}}},
              {"settings", placed.settings}}}};
}

json VirtualDeck::SettingsEvent(const DeckKey& key) const {
    json payload = InstancePayload(key);
    payload.erase("controller");
    payload.erase("state");
    return {{"action", key.action.uuid},
            {"context", key.context},
            {"device", kDeviceId},
            {"event", "didReceiveSettings"},
            {"payload", payload}};
}

json VirtualDeck::KeyView(size_t index) const {
    const DeckKey& key = m_keys[index];
    json states = json::array();
    for (size_t state = 0; state < key.action.StateCount(); ++state) {
        std::string picture = key.action.StateImage(state);
        states.push_back({{"name", key.StateName(state)},
                          {"ownIcon", key.OwnIcon(int(state))},
                          {"picture", picture.empty() ? "" : "/plugin/" + picture + "@2x.png"}});
    }
    return {{"index", index},
            {"action", key.action.uuid},
            {"name", key.action.name},
            {"context", key.context},
            {"column", key.column},
            {"row", key.row},
            {"image", key.ShownImage()},
            {"defaultImage", key.HostImage()},
            {"ownIcon", key.ShowsOwnIcon()},
            {"state", key.state},
            {"states", states},
            {"title", key.title},
            {"hasInspector", !key.action.propertyInspectorPath.empty()}};
}

json VirtualDeck::DialView(size_t index) const {
    const DeckDial& dial = m_dials[index];
    json view = {{"index", index}, {"occupied", dial.occupied}};
    if (!dial.occupied) return view;
    const ActionEntry& action = dial.placed.action;
    std::string picture = !action.encoderIcon.empty()    ? "/plugin/" + action.encoderIcon + ".png"
                          : !action.StateImage().empty() ? "/plugin/" + action.StateImage() + "@2x.png"
                                                         : "";
    view.update({{"action", action.uuid},
                 {"name", action.name},
                 {"context", dial.placed.context},
                 {"layout", dial.layout},
                 {"feedback", dial.feedback},
                 {"triggers", dial.triggers},
                 {"title", dial.placed.title},
                 {"image", dial.placed.ShownImage()},
                 {"defaultImage", picture},
                 {"hasInspector", !action.propertyInspectorPath.empty()}});
    return view;
}

// ---- composite keys

bool VirtualDeck::KeyFree(int column, int row) const {
    for (const DeckKey& key : m_keys) {
        if (key.column == column && key.row == row) return false;
    }
    return !m_multiActions.Occupies(column, row);
}

std::optional<size_t> VirtualDeck::AddComposite(DeckComposite::Kind kind, const std::string& name) {
    for (int position = 0; position < m_device.Keys(); ++position) {
        int column = position % m_device.columns;
        int row = position / m_device.columns;
        if (KeyFree(column, row)) return m_multiActions.Add(kind, name, column, row);
    }
    return std::nullopt;
}

Outbox VirtualDeck::AddStep(size_t index, const std::string& actionUuid, const std::string& randomHex,
                            std::optional<int> desiredState) {
    Outbox out;
    const DeckKey* step = m_multiActions.AddStep(index, actionUuid, randomHex, desiredState, out);
    if (!step) return out;
    out.toPlugin.push_back(KeyEvent("willAppear", *step));
    if (m_host.AnnouncesTitleParameters())
        out.toPlugin.push_back(HostFlavour::TitleParameters(out.toPlugin.back(), ""));
    return out;
}

Outbox VirtualDeck::RemoveStep(size_t index, size_t step) {
    Outbox out;
    if (!m_multiActions.HasStep(index, step)) return out;
    // The step's page closes first; a later step's page moves up with it.
    bool sameComposite =
        m_inspector && m_inspector->where == InspectorTarget::Where::Step && m_inspector->index == index;
    if (sameComposite && m_inspector->step == step)
        out.Append(OpenInspector(std::nullopt));
    else if (sameComposite && m_inspector->step > step)
        --m_inspector->step;
    out.toPlugin.push_back(KeyEvent("willDisappear", Composites()[index].steps[step]));
    out.Append(m_multiActions.RemoveStep(index, step));
    return out;
}

Outbox VirtualDeck::PickStepState(size_t index, size_t step, int state) {
    return m_multiActions.PickStepState(index, step, state);
}

Outbox VirtualDeck::PressComposite(size_t index) {
    return m_multiActions.Press(index);
}

Outbox VirtualDeck::StepEvent(const std::string& context, bool down) {
    Outbox out;
    Instance found = FindInstance(context);
    if (!found.key || !found.composite) return out;
    DeckKey& step = *found.key;
    json event = KeyEvent(down ? "keyDown" : "keyUp", step);
    if (step.desiredState) event["payload"]["userDesiredState"] = *step.desiredState;
    out.toPlugin.push_back(std::move(event));
    if (down) return out;
    int before = step.state;
    ReleasedByHost(step, m_host.IsOpenDeck());
    if (step.state != before) out.toPage.push_back(InstanceView(found));
    return out;
}

Outbox VirtualDeck::SetOwnIcon(size_t index, int state, const std::string& image) {
    Outbox out;
    if (index >= m_keys.size()) return out;
    DeckKey& key = m_keys[index];
    if (state < 0 || size_t(state) >= key.action.StateCount()) {
        out.toPage.push_back(
            Outbox::PageLog("host", key.action.name + " has no state " + std::to_string(state)));
        return out;
    }
    if (!image.empty() && (!IsImageDataUrl(image) || image.size() > kOwnIconText)) {
        out.toPage.push_back(Outbox::PageLog("host", "ignored an icon that is no picture of at most 1 MiB"));
        return out;
    }
    key.ownIcons.resize(key.action.StateCount());
    key.ownIcons[size_t(state)] = image;
    // The host shows the user's choice at once, over what the plug-in drew.
    key.images.resize(key.action.StateCount());
    key.images[size_t(state)].clear();
    out.toPage.push_back(
        Outbox::PageLog("host", (image.empty() ? "took away the own icon of " : "set an own icon on ") +
                                    key.action.name + ", " + key.StateName(size_t(state))));
    out.toPage.push_back({{"type", "key"}, {"key", KeyView(index)}});
    return out;
}
