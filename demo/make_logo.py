#!/usr/bin/env python3
"""Writes the demo bundle's 48x48 logo (an RGB gradient PNG) to the path
given as the only argument; the image is made at demo time, not stored."""
import struct
import sys
import zlib

SIZE = 48


def chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body
            + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def logo_png():
    rows = b"".join(
        b"\0" + b"".join(bytes((40 + x * 4, 90 + y * 3, 200 - x * 2)) for x in range(SIZE))
        for y in range(SIZE))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(logo_png())
