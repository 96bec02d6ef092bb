#!/usr/bin/env python3
"""Draws the program's icon and writes it as a Windows .ico file.

The icon is a white "V" on a teal rounded square with a lighter wave across
its foot, at 16, 32 and 48 pixels, each stored as a 32-bit BMP image with an
alpha channel (the form every Windows since XP reads).

    make_icon.py OUTPUT.ico
"""

import struct
import sys

SIZES = (16, 32, 48)
TEAL = (0x1F, 0x7A, 0x8C)
WAVE = (0x6F, 0xC2, 0xC9)
WHITE = (0xFF, 0xFF, 0xFF)


def inside_rounded_square(x, y, size):
    radius = size * 0.2
    edge = size - 1
    cx = min(max(x, radius), edge - radius)
    cy = min(max(y, radius), edge - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def on_v(x, y, size):
    """The two strokes of the V, from the top corners to the middle of the foot."""
    top, foot = size * 0.2, size * 0.78
    if not top <= y <= foot:
        return False
    half_width = size * 0.09
    t = (y - top) / (foot - top)
    left = size * 0.2 + t * (size * 0.3)
    right = size * 0.8 - t * (size * 0.3)
    return abs(x - left) <= half_width or abs(x - right) <= half_width


def on_wave(x, y, size):
    import math
    base = size * 0.84 + math.sin(x / size * 2 * math.pi) * size * 0.05
    return y >= base


def pixel(x, y, size):
    """BGRA of one pixel; y counts from the top."""
    px, py = x + 0.5, y + 0.5
    if not inside_rounded_square(px, py, size):
        return (0, 0, 0, 0)
    colour = TEAL
    if on_wave(px, py, size):
        colour = WAVE
    if on_v(px, py, size):
        colour = WHITE
    r, g, b = colour
    return (b, g, r, 0xFF)


def bmp_image(size):
    """One icon image: a BITMAPINFOHEADER of double height, the pixels bottom
    row first, then the 1-bit AND mask (all zero: the alpha channel rules)."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            rows += bytes(pixel(x, y, size))
    mask_row = ((size + 31) // 32) * 4
    return header + bytes(rows) + bytes(mask_row * size)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    images = [bmp_image(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
