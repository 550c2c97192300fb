#!/usr/bin/env python3
"""Draws the program's icons: the application icon and the three 32 x 32
notification-area images (dark grey, light grey, colour) with the same emblem.

The emblem is a taskbar strip with three icon slots, the middle one lifted
above the strip under an upward chevron: an icon brought out of the overflow.
Pure Python, no randomness: the same script always writes the same bytes.

    python3 tools/make_icons.py resources/
"""
import math
import struct
import sys
import zlib
from pathlib import Path

SUPERSAMPLE = 4


def rounded_rect(x, y, x0, y0, x1, y1, r):
    """Signed-ish coverage test for a rounded rectangle in unit coordinates."""
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and x0 <= x <= x1 and y0 <= y <= y1


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def emblem(x, y):
    """Which part of the emblem covers the point (x, y in 0..1): None, 'strip',
    'slot', 'lifted' or 'chevron'."""
    # Chevron above the lifted icon.
    if min(segment_distance(x, y, 0.34, 0.24, 0.5, 0.10),
           segment_distance(x, y, 0.5, 0.10, 0.66, 0.24)) <= 0.055:
        return "chevron"
    # The lifted icon.
    if rounded_rect(x, y, 0.37, 0.31, 0.63, 0.57, 0.06):
        return "lifted"
    # The strip with two icon slots cut into it.
    if rounded_rect(x, y, 0.04, 0.64, 0.96, 0.94, 0.09):
        for sx in (0.13, 0.69):
            if rounded_rect(x, y, sx, 0.705, sx + 0.18, 0.875, 0.04):
                return "slot"
        return "strip"
    return None


def lerp(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def shade(style, part, y):
    if style == "dark":
        return {"strip": (60, 60, 60), "slot": None, "lifted": (60, 60, 60), "chevron": (60, 60, 60)}[part]
    if style == "light":
        return {"strip": (224, 224, 224), "slot": None, "lifted": (224, 224, 224),
                "chevron": (224, 224, 224)}[part]
    # Colour: blue tones, lighter towards the top.
    blue_top, blue_bottom = (90, 176, 255), (22, 96, 200)
    if part == "strip":
        return lerp((48, 128, 230), blue_bottom, (y - 0.64) / 0.30)
    if part == "slot":
        return (200, 228, 255)
    if part == "lifted":
        return lerp(blue_top, (40, 140, 240), (y - 0.31) / 0.26)
    return (255, 176, 32)  # chevron in a warm accent


def render(size, style):
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
                    part = emblem(x, y)
                    if part is None:
                        continue
                    colour = shade(style, part, y)
                    if colour is None:
                        continue
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


def bmp_image(size, rows):
    """An icon image in the classic DIB form: BGRA bottom-up plus an AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(c for px in row for c in px) for row in reversed(rows))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def png_image(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(c for (b, g, r, a) in row for c in (r, g, b, a)) for row in rows)
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def write_icon(path, style, sizes):
    images = []
    for size in sizes:
        rows = render(size, style)
        images.append((size, png_image(size, rows) if size >= 256 else bmp_image(size, rows)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    Path(path).write_bytes(bytes(out))


def main():
    target = Path(sys.argv[1] if len(sys.argv) > 1 else "resources")
    target.mkdir(parents=True, exist_ok=True)
    write_icon(target / "merovane.ico", "colour", [16, 20, 24, 32, 40, 48, 64, 256])
    write_icon(target / "tray-dark.ico", "dark", [32])
    write_icon(target / "tray-light.ico", "light", [32])
    write_icon(target / "tray-colour.ico", "colour", [32])


if __name__ == "__main__":
    main()
