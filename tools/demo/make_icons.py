#!/usr/bin/env python3
"""Draws the icons of the demonstration programs that scripts/run.sh installs:
a coloured rounded tile with a white emblem each, so every row of the list
shows a different picture. Same drawing helpers, and the same reproducible
output, as tools/make_icons.py.

    python3 tools/demo/make_icons.py tools/demo/icons
    python3 tools/demo/make_icons.py --snapshots

The second form prints the IconSnapshot values of notify-icons.reg: the
pictures the notification area last drew for two entries, as 32 x 32 PNGs in
.reg syntax.
"""
import math
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
from make_icons import bmp_image, png_image, rounded_rect, segment_distance  # noqa: E402

SUPERSAMPLE = 4
SIZES = [16, 24, 32, 48]


def circle(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(x, y, cx, cy, r0, r1):
    d = math.hypot(x - cx, y - cy)
    return r0 <= d <= r1


def cloud(x, y):
    return (circle(x, y, 0.38, 0.52, 0.16) or circle(x, y, 0.56, 0.44, 0.2) or
            circle(x, y, 0.72, 0.56, 0.12) or rounded_rect(x, y, 0.24, 0.52, 0.82, 0.68, 0.08))


def speech_bubble(x, y):
    if rounded_rect(x, y, 0.2, 0.24, 0.8, 0.64, 0.1):
        return True
    # The tail: a triangle below the left half.
    return 0.62 <= y <= 0.8 and 0.3 <= x <= 0.3 + (0.8 - y) * 0.9


def speaker(x, y):
    if rounded_rect(x, y, 0.2, 0.4, 0.34, 0.6, 0.02):
        return True
    if 0.32 <= x <= 0.5 and abs(y - 0.5) <= 0.1 + (x - 0.32) * 0.9:
        return True
    # Two sound waves to the right.
    angle = math.atan2(y - 0.5, x - 0.5)
    if abs(angle) < 0.8:
        return ring(x, y, 0.5, 0.5, 0.12, 0.17) or ring(x, y, 0.5, 0.5, 0.24, 0.29)
    return False


def padlock(x, y):
    if rounded_rect(x, y, 0.26, 0.46, 0.74, 0.8, 0.06):
        return not (circle(x, y, 0.5, 0.6, 0.05) or rounded_rect(x, y, 0.47, 0.6, 0.53, 0.7, 0.01))
    return y <= 0.48 and ring(x, y, 0.5, 0.44, 0.11, 0.17)


def note_page(x, y):
    if not rounded_rect(x, y, 0.26, 0.18, 0.74, 0.82, 0.05):
        return False
    # Ruled lines cut out of the page.
    for line_y in (0.36, 0.5, 0.64):
        if abs(y - line_y) <= 0.025 and 0.34 <= x <= 0.66:
            return False
    return True


def backup_arrow(x, y):
    # A circular arrow: most of a ring, with an arrow head at its open end.
    angle = math.atan2(y - 0.52, x - 0.5)
    if ring(x, y, 0.5, 0.52, 0.17, 0.25) and not (-2.0 < angle < -1.1):
        return True
    head = (0.3, 0.2), (0.46, 0.32), (0.28, 0.42)
    return min(segment_distance(x, y, *head[0], *head[1]),
               segment_distance(x, y, *head[1], *head[2])) <= 0.05


def sun(x, y):
    if circle(x, y, 0.5, 0.5, 0.15):
        return True
    for i in range(8):
        a = i * math.pi / 4
        if segment_distance(x, y, 0.5 + 0.22 * math.cos(a), 0.5 + 0.22 * math.sin(a),
                            0.5 + 0.32 * math.cos(a), 0.5 + 0.32 * math.sin(a)) <= 0.035:
            return True
    return False


def diamond(x, y):
    return abs(x - 0.5) + abs(y - 0.5) <= 0.24


# File name: (tile colour at the top, tile colour at the bottom, emblem).
ICONS = {
    "cloud-sync.ico": ((96, 170, 255), (30, 100, 210), cloud),
    "chat.ico": ((120, 110, 240), (70, 50, 190), speech_bubble),
    "audio.ico": ((255, 150, 80), (220, 80, 30), speaker),
    "vpn.ico": ((70, 200, 140), (20, 130, 80), padlock),
    "notes.ico": ((255, 205, 70), (225, 150, 10), note_page),
    "backup.ico": ((90, 200, 210), (20, 120, 140), backup_arrow),
    "weather.ico": ((110, 190, 255), (60, 120, 220), sun),
    "helper.ico": ((150, 150, 160), (90, 90, 100), diamond),
}


def with_badge(emblem, colour):
    """The emblem with a status dot in the lower right corner: the picture a
    running program puts in the notification area, not the one in its file."""
    def draw(x, y):
        if circle(x, y, 0.76, 0.76, 0.2):
            return colour if circle(x, y, 0.76, 0.76, 0.15) else (255, 255, 255)
        return emblem(x, y)
    return draw


# Entry name in notify-icons.reg: (tile top, tile bottom, emblem).
SNAPSHOTS = {
    "Adatum VPN, connected": ((70, 200, 140), (20, 130, 80), with_badge(padlock, (40, 220, 60))),
    "Tailspin Game Launcher, uninstalled": ((240, 110, 150), (170, 30, 90), diamond),
}


def render(size, top, bottom, emblem):
    """Returns rows of BGRA pixels, top row first."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            covered = 0
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    if not rounded_rect(x, y, 0.04, 0.04, 0.96, 0.96, 0.2):
                        continue
                    drawn = emblem(x, y)
                    if drawn:
                        colour = drawn if isinstance(drawn, tuple) else (255, 255, 255)
                    else:
                        colour = tuple(round(top[i] + (bottom[i] - top[i]) * y) for i in range(3))
                    covered += 1
                    for i in range(3):
                        acc[i] += colour[i]
            if covered:
                r, g, b = (round(c / covered) for c in acc)
                a = round(255 * covered / (n * n))
            else:
                r = g = b = a = 0
            row.append((b, g, r, a))
        rows.append(row)
    return rows


def write_icon(path, top, bottom, emblem):
    images = [(size, bmp_image(size, render(size, top, bottom, emblem))) for size in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    Path(path).write_bytes(bytes(out))


def reg_binary(name, data):
    """A REG_BINARY value line as regedit writes it, wrapped below 80 columns."""
    text = '"%s"=hex:' % name
    lines = []
    for i, byte in enumerate(data):
        piece = "%02x" % byte + ("," if i + 1 < len(data) else "")
        if len(text) + len(piece) > 77:
            lines.append(text + "\\")
            text = "  "
        text += piece
    lines.append(text)
    return "\n".join(lines)


def main():
    if sys.argv[1:] == ["--snapshots"]:
        for entry, (top, bottom, emblem) in SNAPSHOTS.items():
            print("; " + entry)
            print(reg_binary("IconSnapshot", png_image(32, render(32, top, bottom, emblem))))
        return
    target = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent / "icons")
    target.mkdir(parents=True, exist_ok=True)
    for name, (top, bottom, emblem) in ICONS.items():
        write_icon(target / name, top, bottom, emblem)


if __name__ == "__main__":
    main()
