#include "catalogue/ActionCatalogue.h"

using json = nlohmann::json;

namespace {

constexpr char kStatusPage[] = "pi/status.html";

const std::vector<std::string>& Keypad() {
    static const std::vector<std::string> controllers = {"Keypad"};
    return controllers;
}

// The volume actions work on a dial too.
const std::vector<std::string>& KeypadAndDial() {
    static const std::vector<std::string> controllers = {"Keypad", "Encoder"};
    return controllers;
}

ActionDescription Single(const char* shortName, const char* image, const char* command) {
    return {shortName,
            ActionKind::kSingleState,
            {{"", image, command}},
            CommandData::kNone,
            json::object(),
            kStatusPage,
            Keypad()};
}

ActionDescription VolumeStep(const char* shortName, const char* image) {
    return {shortName,
            ActionKind::kSingleState,
            {{"", image, shortName}},
            CommandData::kVolumeStep,
            {{"volume_step", 10}, {"auto_unmute", "1"}},
            "pi/volume-nudge.html",
            KeypadAndDial()};
}

// |states| as the controller reports them: (state, image shown, command sent).
ActionDescription Multi(const char* shortName, std::vector<ActionState> states) {
    return {shortName,         ActionKind::kMultipleState,
            std::move(states), CommandData::kNone,
            json::object(),    kStatusPage,
            Keypad()};
}

ActionDescription EmberfallPump() {
    std::vector<ActionState> states = {{"", "emberfall_pump.png", ""}};
    for (int level = 1; level <= 4; ++level)
        states.push_back({"", "emberfall_pump" + std::to_string(level) + ".png", "emberfall"});
    return {"emberfall-pump", ActionKind::kPump, std::move(states), CommandData::kPumpLevel,
            json::object(),   "pi/pump.html",    Keypad()};
}

ActionDescription VolumeLevel() {
    return {"media-request-set-volume-level",
            ActionKind::kDynamicImage,
            {{"", VolumeLevelImage(70), "media-request-set-volume-level-percent"}},
            CommandData::kVolumeLevel,
            {{"volume_value", 70}, {"auto_unmute", "1"}},
            "pi/volume-level.html",
            KeypadAndDial()};
}

std::vector<ActionDescription> BuildTable() {
    return {
        Single("overlays-reload", "overlays_reload.png", "overlays-reload"),
        Single("emberfall", "emberfall.png", "emberfall"),
        Single("cup-empty", "cup_empty.png", "cup-empty"),
        Single("alerts-skip", "alerts_skip.png", "alerts-skip"),
        Multi("alerts-mute", {{"alerts-mute-off", "alerts_mute_on.png", "alerts-mute-on"},
                              {"alerts-mute-on", "alerts_mute_off.png", "alerts-mute-off"}}),
        Multi("streaming-state", {{"streaming-state-off", "streaming_state_off.png", "streaming-state-on"},
                                  {"streaming-state-on", "streaming_state_on.png", "streaming-state-off"}}),
        Multi("alerts-pause", {{"alerts-pause-off", "alerts_pause_on.png", "alerts-pause-on"},
                               {"alerts-pause-on", "alerts_pause_off.png", "alerts-pause-off"}}),
        Single("alerts-pause-on", "alerts_pause_on_now.png", "alerts-pause-on"),
        Single("alerts-pause-off", "alerts_pause_off_now.png", "alerts-pause-off"),
        Multi("media-request", {{"media-request-on", "media_request_on.png", "media-request-off"},
                                {"media-request-off", "media_request_off.png", "media-request-on"}}),
        // The video key sends the command matching the reported state's name,
        // not the opposite one; its third state hides the current video.
        Multi("media-request-video",
              {{"media-request-video-off", "media_request_video_on.png", "media-request-video-off"},
               {"media-request-video-on", "media_request_video_off.png", "media-request-video-on"},
               {"media-request-video-single-state", "media_request_hide_this_video.png",
                "media-request-video-off"}}),
        EmberfallPump(),
        Multi("media-request-play-pause",
              {{"media-request-pause-on", "media_request_pause_on.png", "media-request-pause-off"},
               {"media-request-pause-off", "media_request_pause_off.png", "media-request-pause-on"}}),
        Single("media-request-play", "media_request_pause_on.png", "media-request-pause-off"),
        Single("media-request-pause", "media_request_pause_off.png", "media-request-pause-on"),
        Single("media-request-next-item", "media_request_next_item.png", "media-request-next-item"),
        Single("media-request-prev-item", "media_request_prev_item.png", "media-request-prev-item"),
        VolumeStep("media-request-nudge-volume-up", "media_request_nudge_volume_up.png"),
        VolumeStep("media-request-nudge-volume-down", "media_request_nudge_volume_down.png"),
        VolumeLevel(),
        Multi("media-request-mute",
              {{"media-request-mute-off", "media_request_mute_off.png", "media-request-mute-on"},
               {"media-request-mute-on", "media_request_mute_on.png", "media-request-mute-off"}}),
        Multi("media-request-show-on-stream",
              {{"media-request-widget-off", "media_request_widget_off.png", "media-request-widget-on"},
               {"media-request-widget-on", "media_request_widget_on.png", "media-request-widget-off"}}),
    };
}

}  // namespace

std::vector<std::string> ActionDescription::Images() const {
    std::vector<std::string> images;
    if (kind == ActionKind::kDynamicImage) {
        for (int level = 10; level <= 100; level += 10) images.push_back(VolumeLevelImage(level));
        return images;
    }
    for (const ActionState& state : states) images.push_back(state.image);
    return images;
}

const std::vector<ActionDescription>& ActionCatalogue() {
    static const std::vector<ActionDescription> table = BuildTable();
    return table;
}

const ActionDescription* FindAction(const std::string& idOrShortName) {
    for (const ActionDescription& action : ActionCatalogue()) {
        if (idOrShortName == action.shortName || idOrShortName == action.Id()) return &action;
    }
    return nullptr;
}

bool WorksOnDial(const ActionDescription& action) {
    for (const std::string& controller : action.controllers)
        if (controller == "Encoder") return true;
    return false;
}

bool HasTwoHostStates(const ActionDescription& action) {
    // The video key's three states stay the plug-in's own.
    return action.kind == ActionKind::kMultipleState && action.states.size() == 2;
}

std::string DialIcon(const std::string& shortName) {
    return "images/encoders/" + shortName;
}

std::string VolumeLevelImage(int level) {
    return "media_request_set_volume_level_percent_" + std::to_string(level) + ".png";
}
