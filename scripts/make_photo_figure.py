#!/usr/bin/python3
"""Makes the README's picture of a photo prepared for a four-grey panel: draws a photo-like
colour picture larger than the panel and of another shape, converts it with the converter at the
panel's size plainly, with the tone adjusted, and dithered at the panel's own greys, and puts the
pictures side by side, labelled, in one PNG; the last also as the panel shows its greys.

    make_photo_figure.py CLI [OUTPUT]   (default: docs/photo.png beside this script's folder)
"""

import math
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw, ImageOps

PHOTO = (300, 225)  # the photo, 4:3
PANEL = (128, 80)  # the panel, 8:5: the photo's centre is cropped to it
SIZE = ["--size", "%dx%d" % PANEL, "--fit", "cover"]
TONE = ["--grey", "luma", "--contrast", "15", "--gamma", "1.5"]
LEVELS = [0, 92, 122, 255]  # greys measured on a panel: 0x5D6058 and 0x7B7E75
DITHER = ["--levels", ",".join(map(str, LEVELS)), "--dither", "floyd-steinberg"]
LEVEL_COLOURS = [(0x00, 0x00, 0x00), (0x5A, 0x59, 0x5A), (0xB4, 0xB4, 0xB4), (0xFF, 0xFF, 0xFF)]
SCALE = 2


def colour(x, y):
    """The photo's colour at column x, row y: a sky, a sun, hills, a red-roofed house, a lake."""
    w, h = PHOTO
    u, v = x / w, y / h
    # Sky: deep blue above, hazy towards the horizon, a bright sun upper right.
    r, g, b = 70 + 120 * v, 120 + 100 * v, 210 + 30 * v
    sun = math.hypot(u - 0.78, v - 0.2)
    glow = 120 * math.exp(-(sun / 0.08) ** 2)
    r, g, b = r + glow, g + glow, b + glow * 0.5
    # Two hills, the far one bluish, the near one green and shaded on its right.
    far = 0.55 - 0.12 * math.exp(-((u - 0.3) / 0.25) ** 2)
    near = 0.7 - 0.18 * math.exp(-((u - 0.65) / 0.3) ** 2)
    if v > far:
        r, g, b = 90, 120, 140
    if v > near:
        shade = 1 - 0.5 * max(0.0, u - 0.65)
        r, g, b = 50 * shade, (110 + 60 * (1 - v)) * shade, 40 * shade
    # A house: white walls, a red roof, a dark door.
    if 0.2 < u < 0.38 and 0.62 < v < 0.78:
        r, g, b = 235, 230, 215
        if 0.27 < u < 0.31 and v > 0.7:
            r, g, b = 60, 40, 30
    if 0.18 < u < 0.4 and 0.52 < v <= 0.62 and abs(u - 0.29) < (v - 0.52) * 1.1:
        r, g, b = 200, 40, 30
    # A lake along the bottom, the sky mirrored darker with ripples.
    if v > 0.86:
        ripple = 12 * math.sin(x * 0.5 + y * 1.7)
        r, g, b = 40 + ripple, 80 + ripple, 130 + ripple
    return tuple(max(0, min(255, round(c))) for c in (r, g, b))


def main(argv):
    if len(argv) not in (2, 3):
        sys.exit(__doc__)
    cli = argv[1]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = argv[2] if len(argv) == 3 else os.path.join(root, "docs", "photo.png")
    photo = Image.new("RGB", PHOTO)
    photo.putdata([colour(x, y) for y in range(PHOTO[1]) for x in range(PHOTO[0])])
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "photo.bmp")
        photo.save(source)
        panels = [("before", ImageOps.fit(photo, PANEL, Image.BOX))]
        for name, options in [("plain", SIZE), ("tone", SIZE + TONE),
                              ("dithered", SIZE + TONE + DITHER)]:
            picture = os.path.join(work, name + ".bmp")
            subprocess.run([cli, "-q"] + options + ["-o", os.devnull, "-p", picture, source],
                           check=True)
            panels.append((name, Image.open(picture).convert("RGB")))
        # The last as the panel shows it: each level colour as the panel's grey.
        shown = {c: (g, g, g) for c, g in zip(LEVEL_COLOURS, LEVELS)}
        on_panel = panels[-1][1].copy()
        on_panel.putdata([shown.get(p, p) for p in on_panel.getdata()])
        panels.append(("on the panel", on_panel))
    label = 12
    width, height = PANEL[0] * SCALE, PANEL[1] * SCALE
    sheet = Image.new("RGB", ((width + 4) * len(panels), height + label), "white")
    draw = ImageDraw.Draw(sheet)
    for i, (name, panel) in enumerate(panels):
        left = i * (width + 4)
        sheet.paste(panel.resize((width, height), Image.NEAREST), (left, label))
        draw.text((left + 2, 0), name, fill="black")
    sheet.save(output, optimize=True)


if __name__ == "__main__":
    main(sys.argv)
