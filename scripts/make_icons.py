#!/usr/bin/env python3
"""Draws the PNG sizes of window/icons/greyplanes.svg (four grey squares on a slate tile).

Usage: make_icons.py OUTPUT_FOLDER; writes greyplanes-16.png ... greyplanes-256.png, the sizes of
the desktop's hicolor theme that window/CMakeLists.txt installs.
Plain Python (zlib), so that no renderer is needed; the shapes are those of the SVG, sampled
four times per pixel on each axis.
"""
import os
import struct
import sys
import zlib

# (x, y, width, height, corner radius, colour) on the SVG's 256 x 256 grid, drawn in order.
SHAPES = [
    (8, 8, 240, 240, 28, (0x8A, 0x94, 0xA0)),
    (28, 28, 96, 96, 8, (0x00, 0x00, 0x00)),
    (132, 28, 96, 96, 8, (0x5A, 0x59, 0x5A)),
    (28, 132, 96, 96, 8, (0xB4, 0xB4, 0xB4)),
    (132, 132, 96, 96, 8, (0xFF, 0xFF, 0xFF)),
]

# Keep in step with the list in window/CMakeLists.txt.
SIZES = (16, 24, 32, 48, 64, 128, 256)


def inside(shape, x, y):
    sx, sy, w, h, r, _ = shape
    if not (sx <= x < sx + w and sy <= y < sy + h):
        return False
    cx = min(max(x, sx + r), sx + w - r)
    cy = min(max(y, sy + r), sy + h - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def render(size):
    samples = 4
    rows = []
    for py in range(size):
        row = bytearray([0])  # filter: none
        for px in range(size):
            acc = [0, 0, 0, 0]
            for j in range(samples):
                for i in range(samples):
                    x = (px + (i + 0.5) / samples) * 256 / size
                    y = (py + (j + 0.5) / samples) * 256 / size
                    colour = None
                    for shape in SHAPES:
                        if inside(shape, x, y):
                            colour = shape[5]
                    if colour:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 255
            n = samples * samples
            alpha = acc[3] // n
            if alpha:
                # Straight (not premultiplied) colour.
                row += bytes((round(acc[0] / n * 255 / alpha), round(acc[1] / n * 255 / alpha),
                              round(acc[2] / n * 255 / alpha), alpha))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, size):
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    data = zlib.compress(render(size), 9)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", data) +
                chunk(b"IEND", b""))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    for size in SIZES:
        write_png(os.path.join(argv[1], "greyplanes-%d.png" % size), size)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
