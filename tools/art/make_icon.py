#!/usr/bin/env python3
"""Draws the plug-in's icon, a white molar on a blue rounded square, at 16, 32 and 48 pixels,
and writes it as a Windows .ico (32-bit BMP images with an AND mask). Run it to regenerate
src/resources/nyra.ico after changing the drawing."""
import math
import struct
import sys


def pixel(x, y, n):
    # Coordinates in a unit square, pixel centres.
    u, v = (x + 0.5) / n, (y + 0.5) / n
    # Rounded square background with a vertical blue gradient.
    r = 0.18
    dx, dy = max(abs(u - 0.5) - (0.5 - r), 0), max(abs(v - 0.5) - (0.5 - r), 0)
    if dx * dx + dy * dy > r * r:
        return (0, 0, 0, 0)
    bg = (int(25 + 20 * v), int(60 + 90 * v), int(140 + 60 * v), 255)
    # Molar: crown ellipse with two tapering roots.
    crown = ((u - 0.5) / 0.30) ** 2 + ((v - 0.38) / 0.20) ** 2 <= 1.0
    root = False
    if 0.38 <= v <= 0.86:
        t = (v - 0.38) / 0.48
        half = 0.085 * (1 - t) + 0.02
        for rx, lean in ((0.36, 0.06), (0.64, -0.06)):
            root |= abs(u - (rx + lean * t)) <= half
    if crown or root:
        s = 225 + int(30 * math.cos((u - 0.5) * 4.0))
        return (min(255, s), min(255, s), min(255, s), 255)
    return bg


def image(n):
    rows = []
    for y in range(n - 1, -1, -1):  # bottom-up rows
        for x in range(n):
            r, g, b, a = pixel(x, y, n)
            rows.append(struct.pack("<BBBB", b, g, r, a))
    xor = b"".join(rows)
    mask_stride = ((n + 31) // 32) * 4
    mask = bytearray()
    for y in range(n - 1, -1, -1):
        bits = bytearray(mask_stride)
        for x in range(n):
            if pixel(x, y, n)[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + bytes(mask)


def main(path):
    sizes = (16, 32, 48)
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "src/resources/nyra.ico")
