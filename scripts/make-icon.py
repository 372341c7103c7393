#!/usr/bin/env python3
"""Draws the helper's file icon and writes it as quorvane/process/quorvane.ico: a 32x32 and a
16x16 image of 16 colours, a printer whose printed sheet carries a power mark. Rerun after changing the
drawing; the .ico it writes is what the build uses.

    scripts/make-icon.py
"""

import os
import struct

# The 16 colours of the standard Windows palette, as (blue, green, red, 0).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128),
    (128, 128, 0), (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255),
    (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
BLACK, DARK_GREY, GREY, WHITE, GREEN, DARK_GREEN = 0, 8, 7, 15, 10, 2


def draw(size):
    """The picture at one size: pixels[y][x] is a palette index or None for transparent."""
    s = size / 32.0
    pixels = [[None] * size for _ in range(size)]

    def box(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y1 * s), int(y0 * s) + 1)):
            for x in range(int(x0 * s), max(int(x1 * s), int(x0 * s) + 1)):
                if 0 <= x < size and 0 <= y < size:
                    pixels[y][x] = colour

    box(8, 2, 24, 13, WHITE)         # the sheet waiting at the top
    box(8, 2, 24, 3, DARK_GREY)
    box(2, 12, 30, 26, GREY)         # the printer's body
    box(2, 12, 30, 13, DARK_GREY)
    box(2, 25, 30, 26, DARK_GREY)
    box(7, 18, 25, 20, BLACK)        # the paper slot
    box(25, 14, 28, 16, GREEN)       # the power light
    box(8, 22, 24, 30, WHITE)        # the printed sheet coming out
    box(15, 23, 17, 27, DARK_GREEN)  # a power mark on it
    box(12, 25, 13, 29, DARK_GREEN)
    box(19, 25, 20, 29, DARK_GREEN)
    box(12, 28, 20, 29, DARK_GREEN)
    return pixels


def bitmap(pixels):
    """A 4-bit icon image: the header, the palette, the colour rows, the transparency mask."""
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    colour_row_bytes = (size * 4 + 31) // 32 * 4
    mask_row_bytes = (size + 31) // 32 * 4
    colour, mask = b"", b""
    for row in reversed(pixels):  # bitmaps are stored bottom-up
        nibbles = [0 if p is None else p for p in row]
        packed = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        colour += packed.ljust(colour_row_bytes, b"\0")
        bits = 0
        for x, p in enumerate(row):
            if p is None:
                bits |= 1 << (mask_row_bytes * 8 - 1 - x)
        mask += bits.to_bytes(mask_row_bytes, "big")
    return header + palette + colour + mask


def main():
    images = [bitmap(draw(32)), bitmap(draw(16))]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, image in zip((32, 16), images):
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    path = os.path.join(os.path.dirname(__file__), "..", "quorvane", "process", "quorvane.ico")
    with open(path, "wb") as icon:
        icon.write(directory + entries + b"".join(images))


if __name__ == "__main__":
    main()
