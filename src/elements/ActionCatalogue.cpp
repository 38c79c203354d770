#include "elements/ActionCatalogue.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

int32_t TruncateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

std::string Id(const char* shortName) {
    return std::string(kActionPrefix) + shortName;
}

json VolumeStepDefaults() {
    return {{"volume_step", 10}, {"auto_unmute", "1"}};
}

json VolumeLevelDefaults() {
    return {{"volume_value", 70}, {"auto_unmute", "1"}};
}

ElementPtr Single(const ClientPtr& client, const char* shortName, const char* image, CommandBuilder command,
                  const json& defaults = json::object()) {
    return std::make_shared<SimpleSingleStateButton>(Id(shortName), client, image, std::move(command),
                                                     defaults);
}

// One state of a multi-state action: the name the controller reports, the
// image shown in it, and the command that a press sends in it.
struct StateRow {
    const char* state;
    const char* image;
    const char* command;
};

ElementPtr Multi(const ClientPtr& client, const char* shortName, std::initializer_list<StateRow> rows) {
    std::vector<std::string> images, states;
    std::vector<CommandBuilder> commands;
    for (const StateRow& row : rows) {
        states.push_back(row.state);
        images.push_back(row.image);
        commands.push_back(MakeCommand(row.command));
    }
    return std::make_shared<SimpleMultipleStateButton>(Id(shortName), client, images, states, false,
                                                       commands);
}

ElementPtr EmberfallPump(const ClientPtr& client) {
    std::vector<std::string> titles(4, "");
    std::vector<std::string> images;
    std::vector<CommandBuilder> commands;
    for (uint32_t level = 1; level <= 4; ++level) {
        images.push_back("emberfall_pump" + std::to_string(level) + ".png");
        commands.push_back(MakePumpLevelCommand("emberfall", level));
    }
    return std::make_shared<SimplePumpButton>(Id("emberfall-pump"), client, "emberfall_pump.png", titles,
                                              images, commands);
}

ElementPtr VolumeLevel(const ClientPtr& client) {
    return std::make_shared<SimpleDynamicImageButton>(
        Id("media-request-set-volume-level"), client, ChooseVolumeLevelImage,
        MakeVolumeLevelCommand("media-request-set-volume-level-percent"), VolumeLevelDefaults());
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

json SettingOf(const json& settings, const char* key) {
    if (!settings.is_object()) return nullptr;
    auto found = settings.find(key);
    return found == settings.end() ? json() : *found;
}

std::string ChooseVolumeLevelImage(const json& settings) {
    const int32_t value = SettingToInt(SettingOf(settings, "volume_value"));
    const int32_t level = std::clamp(value / 10 * 10, 10, 100);
    return "media_request_set_volume_level_percent_" + std::to_string(level) + ".png";
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
        const bool autoUnmute = SettingToInt(SettingOf(settings, "auto_unmute")) != 0;
        const int32_t step = SettingToInt(SettingOf(settings, "volume_step"));
        return std::make_shared<CommandMessage>(command.c_str(), source,
                                                json{{"auto_unmute", autoUnmute}, {"step", step}});
    };
}

CommandBuilder MakeVolumeLevelCommand(const char* name) {
    const std::string command = name;
    return [command](const std::shared_ptr<ElementAddress>& source,
                     const json& settings) -> std::shared_ptr<MessageBase> {
        const bool autoUnmute = SettingToInt(SettingOf(settings, "auto_unmute")) != 0;
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
                                                                      const ClientPtr& c) {
    std::vector<ElementPtr> elements;
    auto add = [&](ElementPtr element) {
        manager.AddControlElement(element);
        elements.push_back(std::move(element));
    };
    add(Single(c, "overlays-reload", "overlays_reload.png", MakeCommand("overlays-reload")));
    add(Single(c, "emberfall", "emberfall.png", MakeCommand("emberfall")));
    add(Single(c, "cup-empty", "cup_empty.png", MakeCommand("cup-empty")));
    add(Single(c, "alerts-skip", "alerts_skip.png", MakeCommand("alerts-skip")));
    add(Multi(c, "alerts-mute",
              {{"alerts-mute-off", "alerts_mute_on.png", "alerts-mute-on"},
               {"alerts-mute-on", "alerts_mute_off.png", "alerts-mute-off"}}));
    add(Multi(c, "streaming-state",
              {{"streaming-state-off", "streaming_state_off.png", "streaming-state-on"},
               {"streaming-state-on", "streaming_state_on.png", "streaming-state-off"}}));
    add(Multi(c, "alerts-pause",
              {{"alerts-pause-off", "alerts_pause_on.png", "alerts-pause-on"},
               {"alerts-pause-on", "alerts_pause_off.png", "alerts-pause-off"}}));
    add(Single(c, "alerts-pause-on", "alerts_pause_on_now.png", MakeCommand("alerts-pause-on")));
    add(Single(c, "alerts-pause-off", "alerts_pause_off_now.png", MakeCommand("alerts-pause-off")));
    add(Multi(c, "media-request",
              {{"media-request-on", "media_request_on.png", "media-request-off"},
               {"media-request-off", "media_request_off.png", "media-request-on"}}));
    // The video key sends the command matching the reported state's name, not
    // the opposite one; its third state hides the current video.
    add(Multi(c, "media-request-video",
              {{"media-request-video-off", "media_request_video_on.png", "media-request-video-off"},
               {"media-request-video-on", "media_request_video_off.png", "media-request-video-on"},
               {"media-request-video-single-state", "media_request_hide_this_video.png",
                "media-request-video-off"}}));
    add(EmberfallPump(c));
    add(Multi(c, "media-request-play-pause",
              {{"media-request-pause-on", "media_request_pause_on.png", "media-request-pause-off"},
               {"media-request-pause-off", "media_request_pause_off.png", "media-request-pause-on"}}));
    add(Single(c, "media-request-play", "media_request_pause_on.png",
               MakeCommand("media-request-pause-off")));
    add(Single(c, "media-request-pause", "media_request_pause_off.png",
               MakeCommand("media-request-pause-on")));
    add(Single(c, "media-request-next-item", "media_request_next_item.png",
               MakeCommand("media-request-next-item")));
    add(Single(c, "media-request-prev-item", "media_request_prev_item.png",
               MakeCommand("media-request-prev-item")));
    add(Single(c, "media-request-nudge-volume-up", "media_request_nudge_volume_up.png",
               MakeVolumeStepCommand("media-request-nudge-volume-up"), VolumeStepDefaults()));
    add(Single(c, "media-request-nudge-volume-down", "media_request_nudge_volume_down.png",
               MakeVolumeStepCommand("media-request-nudge-volume-down"), VolumeStepDefaults()));
    add(VolumeLevel(c));
    add(Multi(c, "media-request-mute",
              {{"media-request-mute-off", "media_request_mute_off.png", "media-request-mute-on"},
               {"media-request-mute-on", "media_request_mute_on.png", "media-request-mute-off"}}));
    add(Multi(c, "media-request-show-on-stream",
              {{"media-request-widget-off", "media_request_widget_off.png", "media-request-widget-on"},
               {"media-request-widget-on", "media_request_widget_on.png", "media-request-widget-off"}}));
    return elements;
}
