"""The file names of the key images and status overlays that the plug-in loads
from its folder, when each key image is on a key, and the icons that only the
host reads through the manifest.

generate.py, render, check and scripts/contact-sheet all read these lists.
"""

import os
import re

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


# The 22 actions the plug-in declares, in catalogue order: the short name (the
# part of the identifier after "com.vantora.kestrel.") and the key image the
# key shows first, which is also the action's picture in the host's key list.
ACTIONS = [
    ("overlays-reload", "overlays_reload.png"),
    ("emberfall", "emberfall.png"),
    ("cup-empty", "cup_empty.png"),
    ("alerts-skip", "alerts_skip.png"),
    ("alerts-mute", "alerts_mute_on.png"),
    ("streaming-state", "streaming_state_off.png"),
    ("alerts-pause", "alerts_pause_on.png"),
    ("alerts-pause-on", "alerts_pause_on_now.png"),
    ("alerts-pause-off", "alerts_pause_off_now.png"),
    ("media-request", "media_request_on.png"),
    ("media-request-video", "media_request_video_on.png"),
    ("emberfall-pump", "emberfall_pump.png"),
    ("media-request-play-pause", "media_request_pause_on.png"),
    ("media-request-play", "media_request_pause_on.png"),
    ("media-request-pause", "media_request_pause_off.png"),
    ("media-request-next-item", "media_request_next_item.png"),
    ("media-request-prev-item", "media_request_prev_item.png"),
    ("media-request-nudge-volume-up", "media_request_nudge_volume_up.png"),
    ("media-request-nudge-volume-down", "media_request_nudge_volume_down.png"),
    ("media-request-set-volume-level", "media_request_set_volume_level_percent_70.png"),
    ("media-request-mute", "media_request_mute_off.png"),
    ("media-request-show-on-stream", "media_request_widget_off.png"),
]

# Images that only the host reads (through manifest.json), under images/ of
# the plug-in folder: path without extension -> size in px. Each is rendered
# at that size and at twice it as "<path>@2x.png".
# The actions that also work on a dial (Stream Deck +), and the mute action
# whose icon a dial's touch strip shows while muted.
DIAL_ICONS = [
    "media-request-nudge-volume-up",
    "media-request-nudge-volume-down",
    "media-request-set-volume-level",
    "media-request-mute",
]

# The toggle actions whose two states the host knows as well (a Multi Action
# step brings one about, and the user may give each state an icon of their
# own): the key image of the second state; the first is the one in ACTIONS.
SECOND_STATES = {
    "alerts-mute": "alerts_mute_off.png",
    "streaming-state": "streaming_state_on.png",
    "alerts-pause": "alerts_pause_off.png",
    "media-request": "media_request_off.png",
    "media-request-play-pause": "media_request_pause_off.png",
    "media-request-mute": "media_request_mute_on.png",
    "media-request-show-on-stream": "media_request_widget_on.png",
}

# The plug-in icon in the host's preferences is 256 px (the store listing's
# 288 px product image is not part of the folder).
ICONS = {"images/plugin-icon": 256, "images/category-icon": 28}
ICONS.update({f"images/actions/{short}": 20 for short, _ in ACTIONS})
ICONS.update({f"images/keys/{key[:-4]}": 72 for key in sorted({k for _, k in ACTIONS} | set(SECOND_STATES.values()))})
# A dial's icon in the host's list and on its touch strip (the manifest's Encoder "Icon").
ICONS.update({f"images/encoders/{short}": 72 for short in DIAL_ICONS})


# The off face of each toggle key, and the face of the same key when on: an
# off face keeps its family's colour and is never crossed out (art/check).
OFF_FACES = {
    "alerts_mute_off.png": "alerts_mute_on.png",
    "streaming_state_off.png": "streaming_state_on.png",
    "alerts_pause_off.png": "alerts_pause_on.png",
    "media_request_off.png": "media_request_on.png",
    "media_request_video_on.png": "media_request_video_off.png",
    "media_request_mute_on.png": "media_request_mute_off.png",
    "media_request_widget_off.png": "media_request_widget_on.png",
}

# Where a face's label sits, in px of the 144 px image (left, top, right,
# bottom): the glyph stays above it, and no overlay or mark draws inside it.
LABEL_BOX = (8, 104, 136, 134)
GLYPH_BOX = (8, 8, 136, 100)

# Faces in other languages than English lie in FACES/<language>/ of the plug-in
# folder, each only where its label differs from the English one.
FACES = "faces"

_TEXTS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                      "src", "elements", "KeyFaceTexts.inc")


def face_texts(path=_TEXTS):
    """(languages, {name: {language: label}}) from the table the plug-in
    compiles in as well."""
    with open(path, encoding="utf-8") as f:
        source = f.read()
    strings = lambda args: re.findall(r'"([^"\\]*)"', args)
    languages = strings(re.search(r"^KEY_FACE_LANGUAGES\((.*)\)\s*$", source, re.M).group(1))
    texts = {}
    for name, args in re.findall(r"^KEY_FACE_TEXT\((\w+),(.*)\)\s*$", source, re.M):
        words = strings(args)
        if len(words) != len(languages):
            raise ValueError(f"{path}: {name} has {len(words)} labels for {len(languages)} languages")
        texts[name] = dict(zip(languages, words))
    return languages, texts


def key_names():
    return list(KEYS)


def all_names():
    return KEYS + OVERLAYS
