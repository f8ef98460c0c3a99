#!/usr/bin/env python3
"""Draws the downloader's icon (a white arrow into a tray on a blue tile) and
writes it as a Windows .ico with 16, 32 and 48 pixel images."""
import struct
import sys


def pixel(x, y, n):
    # Coordinates in a unit square, so every size draws the same picture.
    u = (x + 0.5) / n
    v = (y + 0.5) / n
    margin = 0.06
    if not (margin <= u <= 1 - margin and margin <= v <= 1 - margin):
        return (0, 0, 0, 0)
    blue = (0xC8, 0x6A, 0x1E, 0xFF)  # BGRA
    white = (0xFF, 0xFF, 0xFF, 0xFF)
    shaft = 0.42 <= u <= 0.58 and 0.18 <= v <= 0.52
    head = 0.52 <= v <= 0.70 and abs(u - 0.5) <= (0.70 - v) * 1.25
    tray = (0.20 <= u <= 0.80 and 0.74 <= v <= 0.82) or \
           ((0.20 <= u <= 0.28 or 0.72 <= u <= 0.80) and 0.62 <= v <= 0.82)
    return white if (shaft or head or tray) else blue


def image(n):
    rows = []
    for y in reversed(range(n)):  # bottom-up
        rows.append(b"".join(bytes(pixel(x, y, n)) for x in range(n)))
    xor = b"".join(rows)
    mask_row = ((n + 31) // 32) * 4
    and_mask = b"\0" * (mask_row * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main(path):
    sizes = [16, 32, 48]
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1])
