#!/usr/bin/python3
"""Write a W x H bitmap of another kind than 24-bit, for the converter's figures per kind.

    gen_kinds.py KIND W H out.bmp       KIND: palette | 565 | rle8 | tiles

palette: 8 bits with a 3-3-2 palette; 565: 16-bit bit fields 5-6-5. Both carry the gradients and
noise of the shared gen_bmp.py (red and green along x + y, blue along x, noise -40..40), so all
four levels occur and the data does not compress. rle8: runs of 255 pixels whose grey changes
along the row and down the picture, a few bytes a row. tiles: 8-bit, 8 x 8 tiles of the four
level colours, each one of 64 random tiles, for tile maps. Written in bands; bottom-up.
"""
import struct
import sys

import numpy as np


def header(w, h, bits, data_size, compression, extra):
    offset = 14 + 40 + len(extra)
    colours = (1 << bits) if bits <= 8 else 0
    return (struct.pack("<2sIHHI", b"BM", offset + data_size, 0, 0, offset) +
            struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, compression, data_size, 2835, 2835,
                        colours, 0) + extra)


def channels(rng, w, h, rows):
    """Red, green, blue of picture rows `rows` (top-down numbers), as int16 arrays."""
    span = max(1, w + h - 2)
    xs = np.arange(w, dtype=np.int32)
    diag = ((xs[None, :] + rows[:, None]) * 255 // span).astype(np.int16)
    ramp = np.broadcast_to((xs * 255 // max(1, w - 1)).astype(np.int16), diag.shape)
    noise = lambda: rng.integers(-40, 41, size=diag.shape, dtype=np.int16)
    clip = lambda a: np.clip(a, 0, 255)
    return [clip(c).astype(np.int32) for c in (diag + noise(), diag + noise(), ramp + noise())]


def main(argv):
    if len(argv) != 5 or argv[1] not in ("palette", "565", "rle8", "tiles"):
        sys.stderr.write(__doc__)
        return 2
    kind, w, h, out = argv[1], int(argv[2]), int(argv[3]), argv[4]
    rng = np.random.default_rng(1)
    with open(out, "wb") as f:
        if kind == "rle8":
            palette = b"".join(struct.pack("<BBBB", v, v, v, 0) for v in range(256))
            rows = []
            f.write(header(w, h, 8, 0, 1, palette))  # size patched below
            size = 0
            for y in range(h):  # file order: bottom row first
                runs = bytearray()
                x = 0
                while x < w:
                    n = min(255, w - x)
                    runs += bytes((n, (x // 255 * 7 + y) & 0xFF))
                    x += n
                runs += b"\x00\x00" if y + 1 < h else b"\x00\x01"
                f.write(runs)
                size += len(runs)
            f.seek(2)
            f.write(struct.pack("<I", 14 + 40 + len(palette) + size))
            f.seek(34)
            f.write(struct.pack("<I", size))
            return 0
        if kind == "tiles":
            levels = [(0, 0, 0), (0x5A, 0x59, 0x5A), (0xB4, 0xB4, 0xB4), (0xFF, 0xFF, 0xFF)]
            palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in levels)
            palette += bytes(4 * 252)
            stride = (w + 3) & ~3
            f.write(header(w, h, 8, stride * h, 0, palette))
            shapes = rng.integers(0, 4, size=(64, 8, 8), dtype=np.uint8)
            pick = rng.integers(0, 64, size=((h + 7) // 8, (w + 7) // 8))
            for y in range(h - 1, -1, -1):
                row = shapes[pick[y // 8], y % 8].reshape(-1)[:w]
                f.write(row.tobytes() + bytes(stride - w))
            return 0
        bits = 8 if kind == "palette" else 16
        stride = (w * bits // 8 + 3) & ~3
        if kind == "palette":
            extra = b"".join(struct.pack("<BBBB", (i & 3) * 85, ((i >> 2) & 7) * 255 // 7,
                                         (i >> 5) * 255 // 7, 0) for i in range(256))
            compression = 0
        else:
            extra = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
            compression = 3
        f.write(header(w, h, bits, stride * h, compression, extra))
        band = max(1, (8 << 20) // stride)
        for start in range(0, h, band):
            # file rows start..start+band-1 are picture rows h-1-start downwards
            rows = h - 1 - np.arange(start, min(h, start + band), dtype=np.int32)
            r, g, b = channels(rng, w, h, rows)
            if kind == "palette":
                px = ((r >> 5) << 5 | (g >> 5) << 2 | (b >> 6)).astype(np.uint8)
            else:
                px = ((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3)).astype(np.uint16)
            buf = np.zeros((len(rows), stride), dtype=np.uint8)
            buf[:, :w * bits // 8] = px.view(np.uint8).reshape(len(rows), -1)
            f.write(buf.tobytes())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
