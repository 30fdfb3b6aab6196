#!/usr/bin/env python3
"""Draws the setup's icon and writes it as a Windows .ico file.

The icon is a teal rounded square with a white "T", at 16, 32 and 48 pixels as 32-bit DIBs and
at 256 pixels as PNG, as Windows expects for large icons. Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)
TEAL = (0x0F, 0x6E, 0x8C)
WHITE = (0xFF, 0xFF, 0xFF)


def coverage(size, x, y):
    """Returns (colour, alpha) of pixel (x, y) with 4x4 supersampling."""
    radius = size * 0.22
    bar = size * 0.16  # thickness of the letter's strokes
    inside = letter = 0
    for sy in range(4):
        for sx in range(4):
            px = x + (sx + 0.5) / 4
            py = y + (sy + 0.5) / 4
            cx = min(max(px, radius), size - radius)
            cy = min(max(py, radius), size - radius)
            if (px - cx) ** 2 + (py - cy) ** 2 > radius ** 2:
                continue
            inside += 1
            top = size * 0.22 <= py <= size * 0.22 + bar and size * 0.22 <= px <= size * 0.78
            stem = size * 0.22 <= py <= size * 0.80 and abs(px - size / 2) <= bar / 2
            if top or stem:
                letter += 1
    if inside == 0:
        return TEAL, 0
    t = letter / inside
    colour = tuple(round(a + (b - a) * t) for a, b in zip(TEAL, WHITE))
    return colour, round(255 * inside / 16)


def pixels(size):
    return [[coverage(size, x, y) for x in range(size)] for y in range(size)]


def dib(size):
    rows = pixels(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    body = b"".join(bytes((c[2], c[1], c[0], a)) for row in reversed(rows) for c, a in row)
    mask_row = ((size + 31) // 32) * 4
    return header + body + bytes(mask_row * size)


def png(size):
    rows = pixels(size)
    raw = b"".join(b"\0" + b"".join(bytes((*c, a)) for c, a in row) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main():
    images = [png(s) if s >= 256 else dib(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
