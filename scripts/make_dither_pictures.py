#!/usr/bin/python3
"""Makes the README's picture of the dithering methods: draws a photo-like test picture (a
shaded head against a sky, a soft shadow, a grey ramp), converts it with the converter in every
--dither method and puts the four pictures it writes side by side, labelled, in one PNG.

    make_dither_pictures.py CLI [OUTPUT]   (default: docs/dither.png beside this script's folder)
"""

import math
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

WIDTH, HEIGHT = 120, 120
METHODS = ["none", "floyd-steinberg", "atkinson", "bayer"]
SCALE = 2


def grey(x, y):
    """A smooth grey 0-255 at column x, row y (row 0 at the top)."""
    # Sky: lighter towards the top, with a soft sun at the upper right.
    value = 200 - 90 * y / HEIGHT
    sun = math.hypot(x - 95, y - 18)
    value += 55 * math.exp(-(sun / 14) ** 2)
    # The ground's soft shadow under the head.
    if y > 92:
        value = 70 + 40 * (y - 92) / 28 - 35 * math.exp(-((x - 52) / 26) ** 2)
    # A head lit from the upper left: Lambert shading of a sphere, the eyes and mouth darker.
    cx, cy, r = 52, 56, 34
    dx, dy = (x - cx) / r, (y - cy) / (r * 1.15)
    d2 = dx * dx + dy * dy
    if d2 < 1:
        dz = math.sqrt(1 - d2)
        light = max(0.0, -0.5 * dx - 0.55 * dy + 0.67 * dz)
        value = 30 + 215 * light
        for ex in (-0.38, 0.3):
            if (dx - ex) ** 2 + ((dy + 0.2) * 1.6) ** 2 < 0.02:
                value *= 0.25
        if abs(dx) < 0.35 and 0.45 < dy < 0.55:
            value *= 0.45
    # A ramp along the bottom edge, black to white.
    if y >= HEIGHT - 8:
        value = 255 * x / (WIDTH - 1)
    return max(0, min(255, round(value)))


def main(argv):
    if len(argv) not in (2, 3):
        sys.exit(__doc__)
    cli = argv[1]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = argv[2] if len(argv) == 3 else os.path.join(root, "docs", "dither.png")
    photo = Image.new("RGB", (WIDTH, HEIGHT))
    photo.putdata([(g, g, g) for y in range(HEIGHT) for x in range(WIDTH) for g in [grey(x, y)]])
    label = 12
    sheet = Image.new("RGB", ((WIDTH * SCALE + 4) * (len(METHODS) + 1), HEIGHT * SCALE + label),
                      "white")
    draw = ImageDraw.Draw(sheet)
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "photo.bmp")
        photo.save(source)
        panels = [("original", photo)]
        for method in METHODS:
            picture = os.path.join(work, method + ".bmp")
            subprocess.run([cli, "-q", "--dither", method, "-o", os.devnull, "-p", picture,
                            source], check=True)
            panels.append((method, Image.open(picture).convert("RGB")))
        for i, (name, panel) in enumerate(panels):
            left = i * (WIDTH * SCALE + 4)
            sheet.paste(panel.resize((WIDTH * SCALE, HEIGHT * SCALE), Image.NEAREST), (left, label))
            draw.text((left + 2, 0), name, fill="black")
    sheet.save(output, optimize=True)


if __name__ == "__main__":
    main(sys.argv)
