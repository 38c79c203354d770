#include "elements/CatalogueElements.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "catalogue/ActionCatalogue.h"
#include "controller/Messages.h"
#include "diagnostics/TextParsing.h"
#include "elements/ControlElementsManager.h"
#include "elements/SimpleDynamicImageButton.h"
#include "elements/SimpleMultipleStateButton.h"
#include "elements/SimplePumpButton.h"
#include "elements/SimpleSingleStateButton.h"

using json = nlohmann::json;

namespace {

using ClientPtr = std::shared_ptr<ControllerClient>;
using ElementPtr = std::shared_ptr<ControlElementBase>;

// "auto_unmute" as the settings pages show it; one that reads as nothing is
// on, as in the volume actions' defaults.
bool AutoUnmute(const json& settings) {
    return SettingToFlag(SettingOf(settings, "auto_unmute")).value_or(true);
}

int32_t TruncateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

CommandBuilder CommandOf(const ActionDescription& action, const ActionState& state, uint32_t level) {
    switch (action.data) {
        case CommandData::kVolumeStep:
            return MakeVolumeStepCommand(state.command.c_str());
        case CommandData::kVolumeLevel:
            return MakeVolumeLevelCommand(state.command.c_str());
        case CommandData::kPumpLevel:
            return MakePumpLevelCommand(state.command.c_str(), level);
        case CommandData::kNone:
            break;
    }
    return MakeCommand(state.command.c_str());
}

ElementPtr MakeKeyElement(const ClientPtr& client, const ActionDescription& action);

ElementPtr Multi(const ClientPtr& client, const ActionDescription& action) {
    std::vector<std::string> images, states;
    std::vector<CommandBuilder> commands;
    for (const ActionState& state : action.states) {
        states.push_back(state.name);
        images.push_back(state.image);
        commands.push_back(CommandOf(action, state, 0));
    }
    return std::make_shared<SimpleMultipleStateButton>(action.Id(), client, images, states, false, commands,
                                                       HasTwoHostStates(action));
}

// The pump's first state is its idle image; each further one is a level.
ElementPtr Pump(const ClientPtr& client, const ActionDescription& action) {
    std::vector<std::string> titles(action.states.size() - 1, "");
    std::vector<std::string> images;
    std::vector<CommandBuilder> commands;
    for (uint32_t level = 1; level < action.states.size(); ++level) {
        images.push_back(action.states[level].image);
        commands.push_back(CommandOf(action, action.states[level], level));
    }
    return std::make_shared<SimplePumpButton>(action.Id(), client, action.FirstImage(), titles, images,
                                              commands);
}

// The volume actions on a dial: a level action's turns set the level, the
// nudge actions' turns nudge up or down by their direction; a push toggles mute.
DialSetup DialOf(const ClientPtr& client, const ActionDescription& action,
                 const std::shared_ptr<KnownVolume>& volume) {
    DialSetup dial;
    dial.setsLevel = action.data == CommandData::kVolumeLevel;
    dial.levelCommand = CommandOf(action, action.states.front(), 0);
    const ActionDescription& up = *FindAction("media-request-nudge-volume-up");
    const ActionDescription& down = *FindAction("media-request-nudge-volume-down");
    dial.nudgeUp = CommandOf(up, up.states.front(), 0);
    dial.nudgeDown = CommandOf(down, down.states.front(), 0);
    dial.icon = DialIcon(action.shortName) + ".png";
    dial.mutedIcon = DialIcon(kMuteAction) + ".png";
    const ActionDescription& mute = *FindAction(kMuteAction);
    dial.muteFunction = mute.Id();
    for (const ActionState& state : mute.states) {
        dial.muteStates.push_back(state.name);
        dial.muteCommands.push_back(CommandOf(mute, state, 0));
    }
    dial.client = client;
    dial.nudgeSign = &action == &down ? -1 : 1;
    dial.volume = volume;
    return dial;
}

ElementPtr MakeElement(const ClientPtr& client, const ActionDescription& action,
                       const std::shared_ptr<KnownVolume>& volume) {
    ElementPtr element = MakeKeyElement(client, action);
    if (WorksOnDial(action)) element->EnableDial(DialOf(client, action, volume));
    return element;
}

ElementPtr MakeKeyElement(const ClientPtr& client, const ActionDescription& action) {
    switch (action.kind) {
        case ActionKind::kMultipleState:
            return Multi(client, action);
        case ActionKind::kPump:
            return Pump(client, action);
        case ActionKind::kDynamicImage:
            return std::make_shared<SimpleDynamicImageButton>(action.Id(), client, ChooseVolumeLevelImage,
                                                              CommandOf(action, action.states.front(), 0),
                                                              action.defaultSettings);
        case ActionKind::kSingleState:
            break;
    }
    return std::make_shared<SimpleSingleStateButton>(action.Id(), client, action.FirstImage(),
                                                     CommandOf(action, action.states.front(), 0),
                                                     action.defaultSettings);
}

}  // namespace

int32_t SettingToInt(const json& value) {
    switch (value.type()) {
        case json::value_t::string:
            return ParseLeadingInt(value.get_ref<const std::string&>().c_str());
        case json::value_t::boolean:
            return value.get<bool>() ? 1 : 0;
        case json::value_t::number_integer:
            return static_cast<int32_t>(static_cast<uint32_t>(value.get<int64_t>()));
        case json::value_t::number_unsigned:
            return static_cast<int32_t>(static_cast<uint32_t>(value.get<uint64_t>()));
        case json::value_t::number_float:
            return TruncateToInt(value.get<double>());
        default:
            // Null, object, array: the JSON library's own conversion raises
            // type_error 302 "type must be number, but is <type>".
            return value.get<int32_t>();
    }
}

std::optional<bool> SettingToFlag(const json& value) {
    if (value.is_boolean()) return value.get<bool>();
    if (value.is_number() || value.is_string()) return SettingToInt(value) != 0;
    return std::nullopt;
}

std::optional<double> SettingToDecimal(const json& value) {
    if (value.is_number()) {
        const double number = value.get<double>();
        return std::isfinite(number) ? std::optional<double>(number) : std::nullopt;
    }
    if (!value.is_string()) return std::nullopt;
    const std::string& text = value.get_ref<const std::string&>();
    // Blanks as atoi skips them, then [+-]digits[.digits], then blanks only.
    auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    size_t at = 0;
    while (at < text.size() && blank(text[at])) ++at;
    const size_t start = at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    const size_t digits = at;
    while (at < text.size() && digit(text[at])) ++at;
    if (at == digits) return std::nullopt;
    if (at < text.size() && text[at] == '.') {
        const size_t fraction = ++at;
        while (at < text.size() && digit(text[at])) ++at;
        if (at == fraction) return std::nullopt;
    }
    const size_t end = at;
    while (at < text.size() && blank(text[at])) ++at;
    if (at != text.size()) return std::nullopt;
    // The text is plain digits and one point, which strtod reads alike in the "C" locale the plug-in keeps.
    return std::strtod(text.substr(start, end - start).c_str(), nullptr);
}

json SettingOf(const json& settings, const char* key) {
    if (!settings.is_object()) return nullptr;
    auto found = settings.find(key);
    return found == settings.end() ? json() : *found;
}

std::string ChooseVolumeLevelImage(const json& settings) {
    const int32_t value = SettingToInt(SettingOf(settings, "volume_value"));
    const int32_t level = std::clamp(value / 10 * 10, 10, 100);
    return VolumeLevelImage(level);
}

CommandBuilder MakeCommand(const char* name) {
    const std::string command = name;
    return [command](const std::shared_ptr<ElementAddress>& source,
                     const json&) -> std::shared_ptr<MessageBase> {
        return std::make_shared<CommandMessage>(command.c_str(), source, nullptr);
    };
}

CommandBuilder MakeVolumeStepCommand(const char* name) {
    const std::string command = name;
    return [command](const std::shared_ptr<ElementAddress>& source,
                     const json& settings) -> std::shared_ptr<MessageBase> {
        const bool autoUnmute = AutoUnmute(settings);
        const int32_t step = SettingToInt(SettingOf(settings, "volume_step"));
        return std::make_shared<CommandMessage>(command.c_str(), source,
                                                json{{"auto_unmute", autoUnmute}, {"step", step}});
    };
}

CommandBuilder MakeVolumeLevelCommand(const char* name) {
    const std::string command = name;
    return [command](const std::shared_ptr<ElementAddress>& source,
                     const json& settings) -> std::shared_ptr<MessageBase> {
        const bool autoUnmute = AutoUnmute(settings);
        // Negative settings keep their bits: -30 is sent as 4294967266.
        const auto value = static_cast<uint32_t>(SettingToInt(SettingOf(settings, "volume_value")));
        return std::make_shared<CommandMessage>(command.c_str(), source,
                                                json{{"auto_unmute", autoUnmute}, {"value", value}});
    };
}

CommandBuilder MakePumpLevelCommand(const char* name, uint32_t level) {
    const std::string command = name;
    return [command, level](const std::shared_ptr<ElementAddress>& source,
                            const json&) -> std::shared_ptr<MessageBase> {
        return std::make_shared<CommandMessage>(command.c_str(), source, json{{"value", level}});
    };
}

std::vector<std::shared_ptr<ControlElementBase>> BuildActionCatalogue(ControlElementsManager& manager,
                                                                      const ClientPtr& client) {
    std::vector<ElementPtr> elements;
    auto volume = std::make_shared<KnownVolume>();  // what the volume actions learn, they share
    for (const ActionDescription& action : ActionCatalogue()) {
        ElementPtr element = MakeElement(client, action, volume);
        manager.AddControlElement(element);
        elements.push_back(std::move(element));
    }
    return elements;
}
