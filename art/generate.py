#!/usr/bin/env python3
"""Writes the SVG source of every key image and status overlay into art/svg/.

One script keeps the set consistent: one palette, one stroke weight, one key
background, one label style, and the ten volume levels computed rather than
drawn by hand. The host's icons (plug-in, category, action list) reuse the same
glyphs. art/render turns the SVGs into the PNGs of the plug-in folder.

Picture rules (what a streamer sees on the key):
- A toggle key shows the state the feature is in now, always in its family's
  colour: the on face bright and filled, the off face outlined or emptied and
  saying what it is ("NOT LIVE", "MUTED", "HIDDEN"). Off is never greyed nor
  crossed out: only a key that cannot act is dimmed, by a status overlay.
- Play and pause follow media players: the key shows the glyph of the press
  (a play triangle while paused, pause bars while playing), because the play
  key and the pause key use the same two images.
- Single-press keys show the thing the press does ("SKIP", "RELOAD").
- Every label lies in one box at the bottom (images_list.LABEL_BOX), in the
  host's language (one set of faces per language, from the key face texts);
  nothing else is drawn there.
- Overlays are transparent and keep clear of the label box: status overlays
  (offline, logged out, not supported) dim the whole key evenly and put a badge in
  the top-right corner; flashes after a command (alert, success, error) draw a
  thin frame along the edge and a badge in the top-left corner, so both kinds
  can be seen together.
"""

import math
import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import images_list  # noqa: E402

SIZE = 144
STROKE = 10  # the one stroke weight of every glyph (5 px on a 72 px key)
CORNER = 18  # rounded key corners, transparent outside like the device key caps

# One palette. Each family of actions has one colour.
BG_TOP = "#262a33"
BG_BOTTOM = "#15171c"
WHITE = "#f4f5f7"
DARK = "#3a3f4b"          # unlit meter segments
ALERTS = "#facc15"        # alerts: gold
EMBER = "#fb7a1e"         # emberfall: orange
EMBER_HOT = "#ffd23f"
LIVE = "#ef3b3b"          # streaming: red
MEDIA = "#22d3ee"         # media requests: cyan
RELOAD = "#a78bfa"        # overlays reload: violet
CUP = "#f5a524"
OK_GREEN = "#22c55e"
ALERT_AMBER = "#ffb020"
ERROR_RED = "#ef4444"
LOGIN_BLUE = "#3b82f6"
OFFLINE_SLATE = "#64748b"

FONT = "DejaVu Sans, Verdana, Arial, sans-serif"
# The CJK faces use the Noto CJK font of their own script (Debian fonts-noto-cjk).
CJK_FONTS = {"ja": "Noto Sans CJK JP", "ko": "Noto Sans CJK KR",
             "zh_CN": "Noto Sans CJK SC", "zh_TW": "Noto Sans CJK TC"}

GLYPH_CY = 54  # centre of the glyph area; the label sits below it
LABEL_LEFT, LABEL_TOP, LABEL_RIGHT, LABEL_BOTTOM = images_list.LABEL_BOX
GLYPH_BOX_BOTTOM = images_list.GLYPH_BOX[3]
LABEL_SIZE = 22  # px at 144 px, 11 px on the device; long words get smaller
LABEL_BASELINE = 127

LANGUAGES, TEXTS = images_list.face_texts()
language = "en"  # the language of the faces being drawn (see images())


def words(name):
    return TEXTS[name][language]


def font():
    return f"{CJK_FONTS[language]}, {FONT}" if language in CJK_FONTS else FONT


def text_width(text, size):
    """A generous estimate of the width of bold text: art/check measures the
    rendered faces and fails any label that does not fit."""
    em = 0.0
    for ch in text:
        if ord(ch) >= 0x2E80:
            em += 1.0  # CJK ideographs, kana, hangul: square
        elif ch == " ":
            em += 0.32
        elif ch in "MWÀ":
            em += 0.92
        elif ch in "IJ'":
            em += 0.4
        elif ch in "RNHUDCOGQÑÓÉ":
            em += 0.8
        else:
            em += 0.72
    return em * size


# ---------------------------------------------------------------- primitives

def svg(body, background=True):
    bg = ""
    if background:
        bg = (
            '<defs><linearGradient id="bg" x1="0" y1="0" x2="0" y2="1">'
            f'<stop offset="0" stop-color="{BG_TOP}"/>'
            f'<stop offset="1" stop-color="{BG_BOTTOM}"/></linearGradient></defs>'
            f'<rect width="{SIZE}" height="{SIZE}" rx="{CORNER}" fill="url(#bg)"/>'
        )
    return (
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{SIZE}" height="{SIZE}" '
        f'viewBox="0 0 {SIZE} {SIZE}">{bg}{body}</svg>\n'
    )


def group(body, dx=0, dy=0, scale=1.0, rotate=0):
    return (
        f'<g transform="translate({dx} {dy}) rotate({rotate}) scale({scale})">'
        f"{body}</g>"
    )


def stroke_attrs(color, width=STROKE):
    return (
        f'fill="none" stroke="{color}" stroke-width="{width}" '
        'stroke-linecap="round" stroke-linejoin="round"'
    )


def label(text, color=WHITE, pill=None):
    """The label in its box; shrinks long words so that every label fits."""
    room = LABEL_RIGHT - LABEL_LEFT - (26 if pill else 6)
    size = min(LABEL_SIZE, int(room / max(text_width(text, 1), 0.01)))
    out = ""
    if pill:
        width = min(LABEL_RIGHT - LABEL_LEFT, text_width(text, size) + 24)
        out += (
            f'<rect x="{(SIZE - width) / 2:.1f}" y="{LABEL_TOP + 1}" width="{width:.1f}" '
            f'height="{LABEL_BOTTOM - LABEL_TOP - 2}" rx="14" fill="{pill}"/>'
        )
    out += (
        f'<text x="72" y="{LABEL_BASELINE - (LABEL_SIZE - size) // 2}" font-family="{font()}" '
        f'font-weight="bold" font-size="{size}" fill="{color}" '
        f'text-anchor="middle">{text}</text>'
    )
    return out


def badge(cx, cy, r, fill, inner, ring=BG_BOTTOM):
    return (
        f'<circle cx="{cx}" cy="{cy}" r="{r + 5}" fill="{ring}"/>'
        f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="{fill}"/>' + inner
    )


# ---------------------------------------------------------------- glyphs
# Each glyph is drawn around (0, 0) in a box of about 90 x 90 and placed with
# group().

def bell(color):
    body = (
        "M -34 22 C -26 14 -24 6 -24 -6 C -24 -24 -13 -34 0 -34 "
        "C 13 -34 24 -24 24 -6 C 24 6 26 14 34 22 Z"
    )
    return (
        f'<path d="{body}" fill="{color}"/>'
        f'<rect x="-38" y="20" width="76" height="9" rx="4.5" fill="{color}"/>'
        f'<circle cx="0" cy="35" r="8" fill="{color}"/>'
        f'<circle cx="0" cy="-37" r="5" fill="{color}"/>'
    )


def sound_waves(color, x0, scale=1.0, both=True):
    out = ""
    for r in (16, 30):
        r *= scale
        a = math.radians(40)
        x1, y1 = x0 + r * math.cos(a), -r * math.sin(a)
        x2, y2 = x0 + r * math.cos(a), r * math.sin(a)
        out += f'<path d="M {x1:.1f} {y1:.1f} A {r} {r} 0 0 1 {x2:.1f} {y2:.1f}" {stroke_attrs(color, 8)}/>'
        if both:
            out += (
                f'<path d="M {2 * 0 - x1:.1f} {y1:.1f} A {r} {r} 0 0 0 {-x2:.1f} {y2:.1f}" '
                f'{stroke_attrs(color, 8)}/>'
            )
    return out


def speaker(color):
    return f'<path d="M -36 -13 H -20 L 2 -32 V 32 L -20 13 H -36 Z" fill="{color}" stroke="{color}" stroke-width="4" stroke-linejoin="round"/>'


def play_triangle(color, s=1.0):
    return f'<path d="M {-11 * s} {-16 * s} L {17 * s} 0 L {-11 * s} {16 * s} Z" fill="{color}" stroke="{color}" stroke-width="{4 * s}" stroke-linejoin="round"/>'


def pause_bars(color, s=1.0):
    return (
        f'<rect x="{-14 * s}" y="{-16 * s}" width="{10 * s}" height="{32 * s}" rx="{2 * s}" fill="{color}"/>'
        f'<rect x="{4 * s}" y="{-16 * s}" width="{10 * s}" height="{32 * s}" rx="{2 * s}" fill="{color}"/>'
    )


def skip_glyph(color, s=1.0, forward=True):
    body = (
        f'<path d="M {-18 * s} {-16 * s} L {6 * s} 0 L {-18 * s} {16 * s} Z" fill="{color}" stroke="{color}" stroke-width="{4 * s}" stroke-linejoin="round"/>'
        f'<rect x="{9 * s}" y="{-17 * s}" width="{8 * s}" height="{34 * s}" rx="{2 * s}" fill="{color}"/>'
    )
    return body if forward else f'<g transform="scale(-1 1)">{body}</g>'


def flame(color, inner=EMBER_HOT):
    outer = (
        "M 2 -44 C 10 -26 32 -14 32 12 C 32 32 17 44 0 44 "
        "C -17 44 -32 32 -32 12 C -32 -4 -22 -12 -17 -26 "
        "C -11 -16 -9 -12 -4 -10 C -2 -22 -6 -32 2 -44 Z"
    )
    core = (
        "M 2 -2 C 8 8 16 14 16 26 C 16 36 9 42 0 42 "
        "C -9 42 -16 36 -16 26 C -16 16 -8 12 2 -2 Z"
    )
    return f'<path d="{outer}" fill="{color}"/><path d="{core}" fill="{inner}"/>'


def reload_arrows(color):
    r = 36
    out = ""
    for start in (200, 20):
        a0, a1 = math.radians(start), math.radians(start + 130)
        x0, y0 = r * math.cos(a0), r * math.sin(a0)
        x1, y1 = r * math.cos(a1), r * math.sin(a1)
        out += f'<path d="M {x0:.1f} {y0:.1f} A {r} {r} 0 0 1 {x1:.1f} {y1:.1f}" {stroke_attrs(color)}/>'
        # arrow head at the end of the arc, pointing along the direction of travel
        t = a1 + math.pi / 2
        tip = (x1 + 10 * math.cos(t), y1 + 10 * math.sin(t))
        n = a1
        b1 = (x1 + 13 * math.cos(n) - 5 * math.cos(t), y1 + 13 * math.sin(n) - 5 * math.sin(t))
        b2 = (x1 - 13 * math.cos(n) - 5 * math.cos(t), y1 - 13 * math.sin(n) - 5 * math.sin(t))
        out += (
            f'<path d="M {tip[0]:.1f} {tip[1]:.1f} L {b1[0]:.1f} {b1[1]:.1f} L {b2[0]:.1f} {b2[1]:.1f} Z" '
            f'fill="{color}" stroke="{color}" stroke-width="4" stroke-linejoin="round"/>'
        )
    return out


def layers(color):
    """Two stacked sheets: the overlays of the streaming scene."""
    sheet = "M 0 -12 L 18 -3 L 0 6 L -18 -3 Z"
    return (
        f'<path d="{sheet}" transform="translate(0 8)" fill="none" stroke="{color}" stroke-width="5" stroke-linejoin="round"/>'
        f'<path d="{sheet}" fill="{color}" stroke="{color}" stroke-width="5" stroke-linejoin="round"/>'
    )


def cup(color):
    body = "M -28 -22 H 22 L 16 28 C 15 34 11 36 6 36 H -12 C -17 36 -21 34 -22 28 Z"
    handle = "M 21 -12 C 38 -12 40 12 18 16"
    return (
        f'<path d="{body}" {stroke_attrs(color)}/>'
        f'<path d="{handle}" {stroke_attrs(color, 8)}/>'
    )


def drop(color, x, y, s=1.0):
    return f'<path d="M {x} {y - 9 * s} C {x + 7 * s} {y} {x + 7 * s} {y + 8 * s} {x} {y + 8 * s} C {x - 7 * s} {y + 8 * s} {x - 7 * s} {y} {x} {y - 9 * s} Z" fill="{color}"/>'


def mast(color):
    """The broadcast mast, hollow and without its waves: off air."""
    return (
        f'<circle cx="0" cy="-16" r="13" {stroke_attrs(color, 7)}/>'
        f'<path d="M 0 -3 V 38 M -18 38 H 18 M -14 38 L 0 8 L 14 38" {stroke_attrs(color, 7)}/>'
    )


def broadcast(color):
    out = f'<circle cx="0" cy="0" r="12" fill="{color}"/>'
    for r in (26, 42):
        for side in (1, -1):
            a = math.radians(38)
            x1, y1 = side * r * math.cos(a), -r * math.sin(a)
            x2, y2 = side * r * math.cos(a), r * math.sin(a)
            sweep = 1 if side == 1 else 0
            out += f'<path d="M {x1:.1f} {y1:.1f} A {r} {r} 0 0 {sweep} {x2:.1f} {y2:.1f}" {stroke_attrs(color)}/>'
    return out


def music_note(color, s=1.0):
    return (
        f'<g transform="scale({s})">'
        f'<path d="M -10 18 V -24 L 22 -32 V 10" {stroke_attrs(color, 7)}/>'
        f'<path d="M -10 -24 L 22 -32 V -20 L -10 -12 Z" fill="{color}" stroke="{color}" stroke-width="5" stroke-linejoin="round"/>'
        f'<ellipse cx="-18" cy="19" rx="10" ry="8" transform="rotate(-20 -18 19)" fill="{color}"/>'
        f'<ellipse cx="14" cy="11" rx="10" ry="8" transform="rotate(-20 14 11)" fill="{color}"/>'
        "</g>"
    )


BUBBLE = (
    "M -34 -34 H 34 C 40 -34 42 -32 42 -26 V 18 C 42 24 40 26 34 26 "
    "H -6 L -22 40 V 26 H -34 C -40 26 -42 24 -42 18 V -26 C -42 -32 -40 -34 -34 -34 Z"
)


def request_bubble(color):
    """A chat bubble holding a note: a song requested by the audience."""
    return (
        f'<path d="{BUBBLE}" {stroke_attrs(color, 8)}/>'
        + group(music_note(color, 0.72), 0, -4)
    )


def request_bubble_empty(color):
    """The bubble alone: no songs are taken."""
    return f'<path d="{BUBBLE}" {stroke_attrs(color, 8)}/>'


def camera_outline(color):
    """The camera drawn hollow: no video is shown."""
    return (
        f'<rect x="-40" y="-22" width="54" height="44" rx="9" {stroke_attrs(color, 7)}/>'
        f'<path d="M 18 -4 L 40 -18 V 18 L 18 4 Z" {stroke_attrs(color, 7)}/>'
    )


def camera(color):
    return (
        f'<rect x="-40" y="-22" width="54" height="44" rx="9" fill="{color}"/>'
        f'<path d="M 18 -4 L 40 -18 V 18 L 18 4 Z" fill="{color}" stroke="{color}" stroke-width="5" stroke-linejoin="round"/>'
    )


def eye_slash(color, bg):
    eye = "M -16 0 C -8 -11 8 -11 16 0 C 8 11 -8 11 -16 0 Z"
    return (
        f'<path d="{eye}" fill="none" stroke="{color}" stroke-width="4.5" stroke-linejoin="round"/>'
        f'<circle r="4.5" fill="{color}"/>'
        f'<line x1="-13" y1="-13" x2="13" y2="13" stroke="{bg}" stroke-width="9" stroke-linecap="round"/>'
        f'<line x1="-13" y1="-13" x2="13" y2="13" stroke="{color}" stroke-width="4.5" stroke-linecap="round"/>'
    )


def monitor(color, widget=True):
    out = (
        f'<rect x="-42" y="-32" width="84" height="56" rx="7" {stroke_attrs(color, 8)}/>'
        f'<path d="M -16 40 H 16 M 0 26 V 40" {stroke_attrs(color, 8)}/>'
    )
    if widget:
        out += (
            f'<rect x="4" y="-6" width="28" height="22" rx="4" fill="{color}"/>'
            + group(play_triangle(BG_BOTTOM, 0.42), 18, 5)
        )
    return out


def volume_ramp(level, lit=MEDIA):
    """Ten bars of rising height; the first level/10 of them are lit."""
    out = ""
    count = level // 10
    for i in range(10):
        x = 30 + i * 9.2
        h = 10 + i * 4.6
        color = lit if i < count else DARK
        out += f'<rect x="{x:.1f}" y="{78 - h:.1f}" width="6.5" height="{h:.1f}" rx="2" fill="{color}"/>'
    return out


def cloud(color):
    return (
        f'<path d="M -20 14 H 20 C 30 14 36 7 36 -1 C 36 -10 29 -16 21 -15 '
        "C 19 -27 9 -33 -1 -33 C -13 -33 -22 -24 -22 -13 C -31 -13 -36 -6 -36 1 "
        f'C -36 8 -30 14 -20 14 Z" fill="{color}"/>'
    )


def person(color):
    return (
        f'<circle cx="0" cy="-14" r="12" fill="{color}"/>'
        f'<path d="M -24 24 C -24 6 -12 0 0 0 C 12 0 24 6 24 24 Z" fill="{color}"/>'
    )


def padlock(color, bg):
    return (
        f'<path d="M -7 -2 V -8 C -7 -17 7 -17 7 -8 V -2" fill="none" stroke="{color}" stroke-width="4.5"/>'
        f'<rect x="-12" y="-3" width="24" height="18" rx="3" fill="{color}" stroke="{bg}" stroke-width="0"/>'
        f'<circle cx="0" cy="5" r="3" fill="{bg}"/>'
    )


# ---------------------------------------------------------------- key faces

def key(glyph, text, text_color=WHITE, pill=None, extra=""):
    return svg(group(glyph, 72, GLYPH_CY) + extra + label(text, text_color, pill))


def bell_with_badge(bell_color, badge_fill, inner):
    g = bell(bell_color)
    extra = badge(104, 76, 18, badge_fill, group(inner, 104, 76))
    return group(g, 62, GLYPH_CY - 2, 0.95) + extra


def key_raw(body, text, text_color=WHITE, pill=None):
    return svg(body + label(text, text_color, pill))


def pump_key(level):
    """Idle (level 0) or one of the four levels: the flame grows and heats up,
    and the meter below it fills one segment per level."""
    heat = [EMBER, "#ffb347", EMBER, "#ff6a1a", "#ff3d1f"][level]
    scale = [0.74, 0.58, 0.68, 0.78, 0.88][level]
    out = group(flame(heat), 72, 46, scale)
    seg_colors = ["#ffd23f", "#ffa62b", "#ff6a1a", "#ff2d2d"]
    for i in range(4):
        x = 18 + i * 28
        color = seg_colors[i] if i < level else DARK
        out += f'<rect x="{x}" y="{GLYPH_BOX_BOTTOM - 12}" width="24" height="11" rx="3" fill="{color}"/>'
    if level >= 3:  # sparks leave the bigger flames
        for (x, y, r) in [(30, 30, 4), (112, 24, 4), (118, 52, 3), (24, 60, 3)][: level - 1]:
            out += f'<circle cx="{x}" cy="{y}" r="{r}" fill="{EMBER_HOT}"/>'
    return key_raw(out, f"×{level}" if level else words("Pump"))


def emberfall_key():
    out = group(flame(EMBER), 72, 50, 0.9)
    for (x, y, r) in [(30, 38, 5), (114, 30, 5), (120, 72, 4), (22, 76, 4), (40, 98, 3.5), (104, 98, 3.5)]:
        out += f'<path d="M {x} {y - r * 1.6} L {x + r} {y} L {x} {y + r * 1.6} L {x - r} {y} Z" fill="{EMBER_HOT}"/>'
    return key_raw(out, words("Embers"))


def cup_empty_key():
    # the cup tipped over, its last drops falling from the rim
    out = group(cup(CUP), 68, 46, 0.88, 112)
    out += drop(CUP, 90, 84, 0.7) + drop(CUP, 102, 94, 0.55)
    return key_raw(out, words("Empty"))


def reload_key():
    return key(reload_arrows(RELOAD) + layers(WHITE), words("Reload"))


def volume_level_key(level):
    out = group(speaker(MEDIA), 38, 34, 0.5) + group(volume_ramp(level), 0, 14)
    return key_raw(out, f"{level}%")


def nudge_key(up):
    sign = '<path d="M 22 0 H 46 M 34 -12 V 12"' if up else '<path d="M 22 0 H 46"'
    g = speaker(MEDIA) + f'{sign} {stroke_attrs(WHITE)}/>'
    return key(group(g, -6, 0), words("VolumeUp" if up else "VolumeDown"))


# ---------------------------------------------------------------- overlays

def veil(opacity):
    return f'<rect width="{SIZE}" height="{SIZE}" rx="{CORNER}" fill="#000" fill-opacity="{opacity}"/>'


def status_overlay(fill, inner, opacity=0.5):
    # top-right badge, on a dimming veil: the key cannot work right now
    return svg(veil(opacity) + badge(108, 36, 28, fill, group(inner, 108, 36)), background=False)


def flash_overlay(color, inner, badge_fill=None):
    # The frame runs along the edge, below the label box's bottom.
    frame = f'<rect x="3.5" y="3.5" width="137" height="137" rx="11" fill="none" stroke="{color}" stroke-width="6"/>'
    return svg(frame + badge(38, 38, 26, badge_fill or color, group(inner, 38, 38)), background=False)


def overlays():
    check = f'<path d="M -13 1 L -4 10 L 14 -10" {stroke_attrs(WHITE, 8)}/>'
    cross = f'<path d="M -10 -10 L 10 10 M 10 -10 L -10 10" {stroke_attrs(WHITE, 8)}/>'
    warn = (
        f'<path d="M 0 -20 L 21 16 H -21 Z" fill="{ALERT_AMBER}" stroke="{ALERT_AMBER}" stroke-width="6" stroke-linejoin="round"/>'
        f'<path d="M 0 -8 V 4" {stroke_attrs("#1a1a1a", 6)}/><circle cx="0" cy="12" r="3.5" fill="#1a1a1a"/>'
    )
    cloud_off = (
        group(cloud(WHITE), 0, 4, 0.58)
        + f'<line x1="-17" y1="-17" x2="17" y2="17" stroke="{OFFLINE_SLATE}" stroke-width="10" stroke-linecap="round"/>'
        + f'<line x1="-17" y1="-17" x2="17" y2="17" stroke="{WHITE}" stroke-width="5" stroke-linecap="round"/>'
    )
    login = group(person(WHITE), -5, 0, 0.62) + group(padlock(WHITE, LOGIN_BLUE), 11, 8, 0.75)
    prohibit = (
        f'<circle r="19" fill="none" stroke="{ERROR_RED}" stroke-width="7"/>'
        f'<line x1="-13" y1="-13" x2="13" y2="13" stroke="{ERROR_RED}" stroke-width="7" stroke-linecap="round"/>'
    )
    return {
        "state_error.png": flash_overlay(ERROR_RED, cross),
        "state_alert.png": flash_overlay(ALERT_AMBER, warn, "#2a1d05"),
        "state_success.png": flash_overlay(OK_GREEN, check),
        "state_offline.png": status_overlay(OFFLINE_SLATE, cloud_off, 0.55),
        "state_logged_out.png": status_overlay(LOGIN_BLUE, login, 0.45),
        "state_not_supported.png": status_overlay(WHITE, prohibit, 0.45),
    }


# ---------------------------------------------------------------- host icons
# Icons that only the host shows: the plug-in icon, the category icon beside
# the action list, and one small icon per action in that list. The action list
# is drawn by the host in its own light-on-dark style, so these icons are one
# light colour on transparent ground, with the key glyphs at a bolder scale;
# cut-outs (the "off" slash) are masks, since there is no key background to
# paint them with.

ICON = "#ffffff"  # the store asks for white action and category icons


def icon_svg(body, view=100):
    half = view / 2
    return (
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{view}" height="{view}" '
        f'viewBox="{-half} {-half} {view} {view}">{body}</svg>\n'
    )


def knocked(body, cut, name):
    """body with the shapes of cut removed (they are drawn in black in a mask)."""
    return (
        f'<defs><mask id="{name}" maskUnits="userSpaceOnUse" x="-60" y="-60" width="120" height="120">'
        f'<rect x="-60" y="-60" width="120" height="120" fill="#fff"/>{cut}</mask></defs>'
        f'<g mask="url(#{name})">{body}</g>'
    )


def icon_slash(body):
    line = 'x1="-34" y1="-34" x2="34" y2="34" stroke-linecap="round"'
    return knocked(body, f'<line {line} stroke="#000" stroke-width="{STROKE + 12}"/>', "off") + (
        f'<line {line} stroke="{ICON}" stroke-width="{STROKE}"/>'
    )


def kestrel(color):
    """A kestrel seen from below in flight: swept, pointed wings, long tail."""
    bird = (
        "M 0 -34 C 5 -34 7 -30 7 -25 L 7 -18 C 20 -23 38 -19 52 -3 "
        "C 36 -7 20 -5 8 4 L 6 10 L 11 40 C 4 43 -4 43 -11 40 L -6 10 L -8 4 "
        "C -20 -5 -36 -7 -52 -3 C -38 -19 -20 -23 -7 -18 L -7 -25 C -7 -30 -5 -34 0 -34 Z"
    )
    return f'<path d="{bird}" fill="{color}" stroke="{color}" stroke-width="3" stroke-linejoin="round"/>'


def plugin_icon():
    """The plug-in's picture in the host: a key of the set with the bird on it."""
    body = group(kestrel(EMBER), 72, 58, 1.2)
    for i, color in enumerate((MEDIA, ALERTS, LIVE)):  # the families the keys cover
        body += f'<rect x="{36 + i * 26}" y="116" width="20" height="8" rx="4" fill="{color}"/>'
    return svg(body)


def circled(inner):
    return f'<circle r="42" {stroke_attrs(ICON, 9)}/>' + inner


def action_icons():
    bell_s = lambda dx=-12: group(bell(ICON), dx, 0, 0.85)
    speaker_at = group(speaker(ICON), -8, 0, 1.0)
    ramp = "".join(
        f'<rect x="{-6 + i * 11}" y="{26 - (14 + i * 9)}" width="8" height="{14 + i * 9}" rx="2" fill="{ICON}"/>'
        for i in range(5)
    )
    pump_meter = "".join(f'<rect x="{-34 + i * 18}" y="34" width="14" height="10" rx="3" fill="{ICON}"/>' for i in range(4))
    glyphs = {
        "overlays-reload": reload_arrows(ICON) + layers(ICON),
        "emberfall": group(flame(ICON, "none"), 0, 0, 0.95),
        "cup-empty": group(cup(ICON), -4, -6, 0.92, 112) + drop(ICON, 24, 32, 0.9) + drop(ICON, 36, 44, 0.7),
        "alerts-skip": bell_s() + group(skip_glyph(ICON, 0.75), 34, 26),
        "alerts-mute": icon_slash(bell(ICON)),
        "streaming-state": broadcast(ICON),
        "alerts-pause": bell_s() + group(pause_bars(ICON, 0.7) + play_triangle(ICON, 0.4), 34, 26),
        "alerts-pause-on": bell_s() + group(pause_bars(ICON, 0.75), 34, 26),
        "alerts-pause-off": bell_s() + group(play_triangle(ICON, 0.75), 34, 26),
        "media-request": request_bubble(ICON),
        "media-request-video": camera(ICON),
        "emberfall-pump": group(flame(ICON, "none"), 0, -10, 0.72) + pump_meter,
        "media-request-play-pause": group(play_triangle(ICON, 1.1), -18, 0) + group(pause_bars(ICON, 1.1), 22, 0),
        "media-request-play": circled(group(play_triangle(ICON, 1.2), 4, 0)),
        "media-request-pause": circled(pause_bars(ICON, 1.2)),
        "media-request-next-item": circled(skip_glyph(ICON, 1.05, True)),
        "media-request-prev-item": circled(skip_glyph(ICON, 1.05, False)),
        "media-request-nudge-volume-up": group(speaker_at + f'<path d="M 24 0 H 48 M 36 -12 V 12" {stroke_attrs(ICON)}/>', -4, 0),
        "media-request-nudge-volume-down": group(speaker_at + f'<path d="M 24 0 H 48" {stroke_attrs(ICON)}/>', -4, 0),
        "media-request-set-volume-level": group(speaker(ICON), -18, 0, 0.8) + group(ramp, 4, 0),
        "media-request-mute": group(speaker(ICON) + f'<path d="M 16 -14 L 40 10 M 40 -14 L 16 10" {stroke_attrs(ICON)}/>', -2, 2),
        "media-request-show-on-stream": monitor(ICON, widget=False) + f'<rect x="4" y="-6" width="28" height="22" rx="4" fill="{ICON}"/>',
    }
    return {f"images/actions/{short}": icon_svg(g) for short, g in glyphs.items()}


def icons():
    """Sources of every host icon drawn here, by path without extension. The key
    list pictures (images/keys/) are the key images themselves, so render
    takes them from the key sources."""
    out = {
        "images/plugin-icon": plugin_icon(),
        "images/category-icon": icon_svg(group(kestrel(ICON), 0, 0, 0.95)),
    }
    actions = action_icons()
    out.update(actions)
    # A dial shows the glyph of its action, larger: the host draws it in the dial's circle.
    out.update({f"images/encoders/{short}": actions[f"images/actions/{short}"] for short in images_list.DIAL_ICONS})
    return out


# ---------------------------------------------------------------- the set

def faces():
    """The key faces in the current language."""
    media_circle = lambda inner: f'<circle r="40" {stroke_attrs(MEDIA, 8)}/>' + inner
    # An off face: the family colour, outlined or emptied, never crossed out.
    cross = lambda color: f'<path d="M 16 -14 L 40 10 M 40 -14 L 16 10" {stroke_attrs(color)}/>'
    out = {
        "overlays_reload.png": reload_key(),
        "emberfall.png": emberfall_key(),
        "cup_empty.png": cup_empty_key(),
        "alerts_skip.png": key_raw(bell_with_badge(ALERTS, WHITE, skip_glyph(BG_BOTTOM, 0.62)), words("Skip")),
        # alerts-mute: shown while alerts sound / while they are muted
        "alerts_mute_on.png": key(bell(ALERTS) + sound_waves(ALERTS, 0, 1.55), words("Sound")),
        "alerts_mute_off.png": key(group(bell(ALERTS), -12, 0, 0.9) + cross(ALERTS), words("Muted"), ALERTS),
        # streaming-state: off air (the mast without its waves) / live
        "streaming_state_off.png": key(mast(LIVE), words("NotLive")),
        "streaming_state_on.png": key(broadcast(LIVE), words("Live"), WHITE, LIVE),
        # alerts-pause: shown while alerts run / while they are paused
        "alerts_pause_on.png": key_raw(bell_with_badge(ALERTS, OK_GREEN, play_triangle(WHITE, 0.62)), words("Active")),
        "alerts_pause_off.png": key_raw(bell_with_badge(ALERTS, ALERTS, pause_bars(BG_BOTTOM, 0.62)),
                                        words("Paused"), ALERTS),
        "alerts_pause_on_now.png": key_raw(bell_with_badge(ALERTS, WHITE, pause_bars(BG_BOTTOM, 0.62)), words("Pause")),
        "alerts_pause_off_now.png": key_raw(bell_with_badge(ALERTS, OK_GREEN, play_triangle(WHITE, 0.62)),
                                            words("Resume")),
        # media requests on / off (the bubble empty: no song is taken)
        "media_request_on.png": key(request_bubble(MEDIA), words("RequestsOn")),
        "media_request_off.png": key(request_bubble_empty(MEDIA), words("RequestsOff"), MEDIA),
        # media-request-video: its first state is video off, its second video on
        "media_request_video_on.png": key(camera_outline(MEDIA), words("NoVideo"), MEDIA),
        "media_request_video_off.png": key(camera(MEDIA), words("Video")),
        "media_request_hide_this_video.png": key_raw(
            group(camera(MEDIA), 64, GLYPH_CY - 6) + badge(104, 76, 18, WHITE, group(eye_slash(BG_BOTTOM, WHITE), 104, 76)),
            words("Hide")),
        # play / pause: the glyph of the press, as media players show it
        "media_request_pause_on.png": key(media_circle(group(play_triangle(MEDIA, 1.15), 4, 0)), words("Play")),
        "media_request_pause_off.png": key(media_circle(pause_bars(MEDIA, 1.15)), words("Pause")),
        "media_request_next_item.png": key(media_circle(skip_glyph(MEDIA, 1.0, True)), words("Next")),
        "media_request_prev_item.png": key(media_circle(skip_glyph(MEDIA, 1.0, False)), words("Previous")),
        "media_request_nudge_volume_up.png": nudge_key(True),
        "media_request_nudge_volume_down.png": nudge_key(False),
        # media-request-mute: shown while the media sounds / while it is muted
        "media_request_mute_off.png": key(group(speaker(MEDIA) + sound_waves(MEDIA, 2, 1.1, False), 0, 0), words("Sound")),
        "media_request_mute_on.png": key(speaker(MEDIA) + cross(MEDIA), words("Muted"), MEDIA),
        # show-on-stream: widget hidden (an empty screen) / shown
        "media_request_widget_off.png": key(monitor(MEDIA, widget=False), words("Hidden"), MEDIA),
        "media_request_widget_on.png": key(monitor(MEDIA), words("OnStream")),
        "emberfall_pump.png": pump_key(0),
    }
    for level in range(1, 5):
        out[f"emberfall_pump{level}.png"] = pump_key(level)
    for level in range(10, 101, 10):
        out[f"media_request_set_volume_level_percent_{level}.png"] = volume_level_key(level)
    return out


def images():
    """Every key face in English and the overlays."""
    global language
    language = "en"
    out = faces()
    out.update(overlays())
    return out


def localized_faces():
    """{language: {name: svg}}: the faces whose label differs from the English
    one, for every other language."""
    global language
    language = "en"
    english = {name: label_of(text) for name, text in faces().items()}
    out = {}
    for language in LANGUAGES[1:]:
        out[language] = {name: text for name, text in faces().items() if label_of(text) != english[name]}
    language = "en"
    return out


def label_of(source):
    """The words of a face's label (the last text of its source)."""
    return source[source.rindex("<text"):].split(">", 1)[1].split("<", 1)[0]


def write_sources(target, made):
    """Replaces the SVG files of target (not its subfolders) with made."""
    os.makedirs(target, exist_ok=True)
    for stale in os.listdir(target):
        if stale.endswith(".svg"):
            os.remove(os.path.join(target, stale))
    for name, text in sorted(made.items()):
        with open(os.path.join(target, name + ".svg"), "w", encoding="utf-8") as f:
            f.write(text)


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "svg")
    made = images()
    expected = set(images_list.all_names())
    if set(made) != expected:
        sys.exit(f"generate: images differ from images_list: {sorted(set(made) ^ expected)}")
    write_sources(target, {name[:-4]: text for name, text in made.items()})
    drawn = icons()
    wanted = {p for p in images_list.ICONS if not p.startswith("images/keys/")}
    if set(drawn) != wanted:
        sys.exit(f"generate: icons differ from images_list: {sorted(set(drawn) ^ wanted)}")
    for folder in sorted({os.path.dirname(p) for p in drawn}):
        write_sources(os.path.join(target, folder),
                      {os.path.basename(p): t for p, t in drawn.items() if os.path.dirname(p) == folder})
    localized = localized_faces()
    faces_folder = os.path.join(target, images_list.FACES)
    if os.path.isdir(faces_folder):  # a language no longer drawn leaves no folder behind
        for stale in set(os.listdir(faces_folder)) - set(localized):
            write_sources(os.path.join(faces_folder, stale), {})
            os.rmdir(os.path.join(faces_folder, stale))
    for lang, sources in localized.items():
        write_sources(os.path.join(faces_folder, lang), {name[:-4]: text for name, text in sources.items()})
    count = sum(len(sources) for sources in localized.values())
    print(f"generate: {len(made)} key sources, {len(drawn)} icon sources and {count} faces in "
          f"{len(localized)} more languages in {target}")


if __name__ == "__main__":
    main()
