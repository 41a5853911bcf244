#!/usr/bin/env python3
"""Draws the program's icon: a small television with a red recording dot.

Writes one 32x32 image with 16 colours (4 bits per pixel) in the .ico
format, the only image the resource "ICON" carries. Run it from anywhere:

    python3 scripts/make-icon.py            # writes resources/icon.ico
    python3 scripts/make-icon.py OUT.ico
"""

import os
import struct
import sys

SIZE = 32

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 dark red
    (0x00, 0x80, 0x00),  # 2 dark green
    (0x80, 0x80, 0x00),  # 3 olive
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0xC0, 0xC0, 0xC0),  # 7 silver
    (0x80, 0x80, 0x80),  # 8 grey
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 lime
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 magenta
    (0x00, 0xFF, 0xFF),  # 14 cyan
    (0xFF, 0xFF, 0xFF),  # 15 white
]

BLACK, DARK_RED, NAVY, SILVER, GREY, RED, BLUE, CYAN, WHITE = 0, 1, 4, 7, 8, 9, 12, 14, 15

TRANSPARENT = None


def draw():
    """Returns rows top to bottom of palette indices, None where transparent."""
    img = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                img[y][x] = colour

    def line(x0, y0, x1, y1, colour):
        steps = max(abs(x1 - x0), abs(y1 - y0))
        for i in range(steps + 1):
            img[round(y0 + (y1 - y0) * i / steps)][round(x0 + (x1 - x0) * i / steps)] = colour

    # Antenna.
    line(10, 1, 15, 6, BLACK)
    line(21, 1, 16, 6, BLACK)
    # Cabinet with a dark outline.
    rect(2, 6, 29, 26, BLACK)
    rect(3, 7, 28, 25, GREY)
    rect(3, 7, 28, 7, SILVER)
    rect(3, 7, 3, 25, SILVER)
    # Screen: a blue picture with a lighter sky.
    rect(5, 9, 22, 23, BLACK)
    rect(6, 10, 21, 22, NAVY)
    rect(6, 10, 21, 14, BLUE)
    rect(8, 11, 10, 12, CYAN)
    # Control panel: two knobs.
    rect(24, 10, 26, 12, SILVER)
    rect(24, 15, 26, 17, SILVER)
    # Feet.
    rect(5, 27, 8, 28, BLACK)
    rect(23, 27, 26, 28, BLACK)

    # Recording dot in the lower right corner, over the cabinet.
    cx, cy, r = 25.0, 25.0, 6.5
    for y in range(SIZE):
        for x in range(SIZE):
            d = ((x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2) ** 0.5
            if d <= r - 1.0:
                img[y][x] = RED
            elif d <= r:
                img[y][x] = DARK_RED
    rect(22, 22, 23, 23, WHITE)  # highlight
    return img


def encode(img):
    """The .ico file bytes for one 32x32 4-bpp image."""
    xor_stride = SIZE // 2  # two pixels a byte; 16 bytes is already 4-aligned
    and_stride = SIZE // 8  # one bit a pixel; 4 bytes is already 4-aligned
    xor = bytearray()
    mask = bytearray()
    for row in reversed(img):  # bitmaps are stored bottom-up
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            xor.append((hi << 4) | lo)
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        mask += bits.to_bytes(and_stride, "big")
    assert len(xor) == xor_stride * SIZE and len(mask) == and_stride * SIZE

    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    # The image's height counts the colour bitmap and the mask together.
    header = struct.pack(
        "<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0
    )
    image = header + palette + bytes(xor) + bytes(mask)

    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "icon.ico")
    data = encode(draw())
    with open(out, "wb") as f:
        f.write(data)
    print(f"wrote {os.path.normpath(out)} ({len(data)} bytes)")


if __name__ == "__main__":
    main()
