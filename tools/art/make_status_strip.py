#!/usr/bin/env python3
"""Draws bitmap 200, the 37 x 230 strip beside the capture status window: a tooth outline
over a blue gradient, written as a 24-bit bottom-up BMP. Run it to regenerate
src/resources/status_strip.bmp after changing the drawing."""
import math
import struct
import sys

W, H = 37, 230


def pixel(x, y):
    # Background: deep blue at the top fading to teal at the bottom.
    t = y / (H - 1)
    r, g, b = int(20 + 10 * t), int(40 + 90 * t), int(110 + 60 * t)
    # A molar silhouette centred at (18, 70): crown ellipse plus two roots.
    cx, cy = 18.0, 62.0
    crown = ((x - cx) / 13.0) ** 2 + ((y - cy) / 11.0) ** 2 <= 1.0
    root = False
    for rx in (11.5, 24.5):
        if 62 <= y <= 100:
            half = 4.5 * (1 - (y - 62) / 44.0)
            root |= abs(x - (rx + (0.06 if rx < cx else -0.06) * (y - 62))) <= half
    if crown or root:
        shade = 215 + int(30 * math.cos((x - cx) / 9.0))
        r = g = b = min(255, shade)
    # Three thin scan lines under the tooth hint at an X-ray sensor.
    if y in (130, 134, 138) and 6 <= x <= 30:
        r, g, b = 170, 220, 240
    return r, g, b


def main(path):
    stride = (W * 3 + 3) & ~3
    rows = bytearray()
    for y in range(H - 1, -1, -1):
        row = bytearray()
        for x in range(W):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        rows += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + rows)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "src/resources/status_strip.bmp")
