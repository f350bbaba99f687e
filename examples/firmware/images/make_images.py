#!/usr/bin/env python3
"""Writes the example's two small pictures as 24-bit bitmaps, in the four grey levels."""
import struct
from pathlib import Path

LEVELS = {"#": (0, 0, 0), "+": (0x5A, 0x59, 0x5A), "-": (0xB4, 0xB4, 0xB4), " ": (255, 255, 255)}

LOGO = [
    "####################",
    "#++++++++++++++++++#",
    "#+---   ####   ---+#",
    "#+---   ####   ---+#",
    "#++++++++++++++++++#",
    "####################",
]
TINY = ["#+-", "-+#"]


def bmp(rows):
    width, height = len(rows[0]), len(rows)
    stride = (width * 3 + 3) & ~3
    data = b""
    for row in reversed(rows):
        line = b"".join(bytes((b, g, r)) for r, g, b in (LEVELS[c] for c in row))
        data += line + b"\0" * (stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + data


here = Path(__file__).parent
(here / "logo.bmp").write_bytes(bmp(LOGO))
(here / "tiny-1.bmp").write_bytes(bmp(TINY))
