"""The file names of the key images and status overlays that the plug-in loads
from its folder, and when each key image is on a key.

generate.py, check and scripts/contact-sheet all read this one list.
"""

# Keys of one image, the images of the toggle keys, the pump, the volume keys.
KEYS = [
    "overlays_reload.png",
    "emberfall.png",
    "cup_empty.png",
    "alerts_skip.png",
    "alerts_mute_on.png",
    "alerts_mute_off.png",
    "streaming_state_off.png",
    "streaming_state_on.png",
    "alerts_pause_on.png",
    "alerts_pause_off.png",
    "alerts_pause_on_now.png",
    "alerts_pause_off_now.png",
    "media_request_on.png",
    "media_request_off.png",
    "media_request_video_on.png",
    "media_request_video_off.png",
    "media_request_hide_this_video.png",
    "emberfall_pump.png",
    "emberfall_pump1.png",
    "emberfall_pump2.png",
    "emberfall_pump3.png",
    "emberfall_pump4.png",
    "media_request_pause_on.png",
    "media_request_pause_off.png",
    "media_request_next_item.png",
    "media_request_prev_item.png",
    "media_request_nudge_volume_up.png",
    "media_request_nudge_volume_down.png",
] + [f"media_request_set_volume_level_percent_{v}.png" for v in range(10, 101, 10)] + [
    "media_request_mute_off.png",
    "media_request_mute_on.png",
    "media_request_widget_off.png",
    "media_request_widget_on.png",
]

OVERLAYS = [
    "state_error.png",
    "state_alert.png",
    "state_success.png",
    "state_offline.png",
    "state_logged_out.png",
    "state_not_supported.png",
]

# For images of toggle keys (and images shared by two keys): the state, as the
# controller reports it, in which the key shows the image.
SHOWN_WHEN = {
    "alerts_mute_on.png": "alerts-mute-off (sounding)",
    "alerts_mute_off.png": "alerts-mute-on (muted)",
    "streaming_state_off.png": "streaming-state-off",
    "streaming_state_on.png": "streaming-state-on",
    "alerts_pause_on.png": "alerts-pause-off (running)",
    "alerts_pause_off.png": "alerts-pause-on (paused)",
    "media_request_on.png": "media-request-on",
    "media_request_off.png": "media-request-off",
    "media_request_video_on.png": "media-request-video-off",
    "media_request_video_off.png": "media-request-video-on",
    "media_request_hide_this_video.png": "video-single-state",
    "media_request_pause_on.png": "paused; the play key",
    "media_request_pause_off.png": "playing; the pause key",
    "media_request_mute_off.png": "media-request-mute-off",
    "media_request_mute_on.png": "media-request-mute-on",
    "media_request_widget_off.png": "media-request-widget-off",
    "media_request_widget_on.png": "media-request-widget-on",
    "emberfall_pump.png": "pump idle",
    "emberfall_pump1.png": "pump level 1",
    "emberfall_pump2.png": "pump level 2",
    "emberfall_pump3.png": "pump level 3",
    "emberfall_pump4.png": "pump level 4",
}


def key_names():
    return list(KEYS)


def all_names():
    return KEYS + OVERLAYS
