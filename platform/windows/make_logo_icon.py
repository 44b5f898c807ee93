#!/usr/bin/env python3
"""Writes the launcher's LOGO icon: a multi-size .ico (16, 32, 48, 64, 128
and 256 pixels, 32 bits per pixel with alpha). The artwork is drawn here:
a blue rounded square with a white arrow going down into a tray.

Usage: make_logo_icon.py OUTPUT.ico
"""
import struct
import sys
import zlib

SIZES = (16, 32, 48, 64, 128, 256)
PNG_FROM = 128  # larger images are stored as PNG, smaller ones as DIB


def rounded_square(u, v, margin=0.04, radius=0.2):
    lo, hi = margin + radius, 1.0 - margin - radius
    du = max(lo - u, 0.0, u - hi)
    dv = max(lo - v, 0.0, v - hi)
    return du * du + dv * dv <= radius * radius and margin <= u <= 1 - margin and margin <= v <= 1 - margin


def mark(u, v):
    shaft = 0.43 <= u <= 0.57 and 0.16 <= v <= 0.48
    head = 0.44 <= v <= 0.68 and abs(u - 0.5) <= (0.68 - v) * 0.95
    tray_bottom = 0.22 <= u <= 0.78 and 0.74 <= v <= 0.82
    tray_sides = (0.22 <= u <= 0.30 or 0.70 <= u <= 0.78) and 0.58 <= v <= 0.82
    return shaft or head or tray_bottom or tray_sides


def pixel(x, y, size):
    """RGBA of one pixel, anti-aliased by sampling a small grid."""
    n = 4 if size <= 64 else 2
    cover = white = 0
    for i in range(n):
        for j in range(n):
            u = (x + (i + 0.5) / n) / size
            v = (y + (j + 0.5) / n) / size
            if rounded_square(u, v):
                cover += 1
                if mark(u, v):
                    white += 1
    if cover == 0:
        return (0, 0, 0, 0)
    t = y / max(size - 1, 1)
    blue = (int(40 - 20 * t), int(110 - 50 * t), int(200 - 70 * t))
    w = white / cover
    rgb = tuple(int(c + (255 - c) * w) for c in blue)
    return rgb + (int(255 * cover / (n * n)),)


def image_rows(size):
    return [[pixel(x, y, size) for x in range(size)] for y in range(size)]


def dib(size):
    rows = image_rows(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up, BGRA
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    return header + bytes(pixels) + bytes(mask_row * size)


def png(size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    for row in image_rows(size):
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_logo_icon.py OUTPUT.ico")
    images = [png(s) if s >= PNG_FROM else dib(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(SIZES))
    offset = 6 + 16 * len(SIZES)
    for size, data in zip(SIZES, images):
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
