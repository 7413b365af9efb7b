#!/usr/bin/env python3
"""Draws Calyx's icon (a sine over a round face, 16 colours, 32x32 and
16x16) and writes it as an .ico file: make_icon.py OUTPUT."""
import math
import struct
import sys

# The standard 16-colour palette as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
TEAL, LIGHT_GREY, NAVY, WHITE, DARK_GREY = 6, 7, 4, 15, 8


def draw(size):
    """Rows from the top: (colour index, opaque) per pixel."""
    centre = (size - 1) / 2.0
    radius = size / 2.0 - 0.5
    thickness = max(1.0, size / 16.0)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            d = math.hypot(x - centre, y - centre)
            if d > radius:
                row.append((0, False))
                continue
            wave = centre - (size * 0.3) * math.sin(2.0 * math.pi * x / (size - 1))
            if abs(y - wave) <= thickness:
                colour = NAVY
            elif d > radius - max(1.0, size / 16.0):
                colour = TEAL
            elif abs(y - centre) < 0.6:
                colour = DARK_GREY
            else:
                colour = WHITE if y < centre else LIGHT_GREY
            row.append((colour, True))
        rows.append(row)
    return rows


def image(size):
    rows = draw(size)
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, (colour, opaque) in enumerate(row):
            line[x // 2] |= colour << (4 if x % 2 == 0 else 0)
            if not opaque:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def main():
    images = [(32, image(32)), (16, image(16))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
