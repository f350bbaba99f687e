#!/usr/bin/env python3
"""Writes the sample picture that the README converts: a small 24-bit bitmap with a grey
ramp, colour bars and a ring, so that all four grey levels show up.

    make_sample.py [OUTPUT]     (default: samples/sample.bmp beside this script's folder)
"""

import os
import struct
import sys

WIDTH, HEIGHT = 48, 24


def colour(x, y):
    """(red, green, blue) of the sample at column x, row y (row 0 at the top)."""
    cx, cy = WIDTH * 3 // 4, HEIGHT // 2
    d2 = (x - cx) ** 2 + (y - cy) ** 2
    if 36 <= d2 <= 81:
        return (20, 20, 20)  # a dark ring
    if y < 4:
        return ((255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0))[x * 4 // WIDTH]
    grey = x * 255 // (WIDTH - 1)
    return (grey, (grey + y * 4) % 256, grey)


def bmp_bytes():
    stride = (3 * WIDTH + 3) & ~3
    data = bytearray()
    for y in range(HEIGHT - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(WIDTH):
            r, g, b = colour(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        data += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + bytes(data)


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    out = argv[1] if len(argv) > 1 else os.path.join(here, "..", "samples", "sample.bmp")
    with open(out, "wb") as f:
        f.write(bmp_bytes())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
