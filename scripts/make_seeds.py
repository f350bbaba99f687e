#!/usr/bin/env python3
"""Writes small pictures of every bitmap variant (and a few other formats) into a folder.

They are the fuzzer's seed corpus: each one exercises a different decoding path. Standard
library only, so that it runs anywhere the build does.

    make_seeds.py [--bitmaps-only] OUTPUT_FOLDER
"""

import os
import struct
import sys
import zlib

W, H = 7, 5  # odd sizes, so that rows need padding


def colour(x, y):
    """A pattern of colours across all four grey bands."""
    return ((x * 37 + y * 11) & 0xFF, (x * 53 + y * 97) & 0xFF, (x * 7 + y * 151) & 0xFF)


def index(x, y, colours):
    return (x + 3 * y) % colours


def palette(colours):
    return [((i * 255) // max(1, colours - 1), (i * 97) & 0xFF, 255 - (i * 255) // max(1, colours - 1))
            for i in range(colours)]


def pad4(row):
    return row + b"\0" * (-len(row) % 4)


def pack_indices(indices, bits):
    out = bytearray()
    acc, n = 0, 0
    for v in indices:
        acc = (acc << bits) | v
        n += bits
        if n == 8:
            out.append(acc)
            acc, n = 0, 0
    if n:
        out.append(acc << (8 - n))
    return bytes(out)


def rows_bottom_up(top_down):
    return range(H) if top_down else range(H - 1, -1, -1)


def indexed_rows(bits, top_down=False):
    colours = 1 << bits
    return b"".join(pad4(pack_indices([index(x, y, colours) for x in range(W)], bits))
                    for y in rows_bottom_up(top_down))


def rgb24_rows(top_down=False):
    return b"".join(pad4(b"".join(bytes((b, g, r)) for r, g, b in (colour(x, y) for x in range(W))))
                    for y in rows_bottom_up(top_down))


def masked_rows(bits, masks, top_down=False):
    """Pixels packed by bit masks (red, green, blue, alpha) into 16- or 32-bit words."""
    def put(value, mask):
        if not mask:
            return 0
        shift = (mask & -mask).bit_length() - 1
        width = bin(mask).count("1")
        return ((value * ((1 << width) - 1) // 255) << shift) & mask

    fmt = "<H" if bits == 16 else "<I"
    out = b""
    for y in rows_bottom_up(top_down):
        row = b""
        for x in range(W):
            r, g, b = colour(x, y)
            a = 255 if (x + y) % 3 else 128
            row += struct.pack(fmt, put(r, masks[0]) | put(g, masks[1]) | put(b, masks[2]) |
                               put(a, masks[3]))
        out += pad4(row)
    return out


def rle8(top_down=False):
    out = bytearray()
    for y in rows_bottom_up(top_down):
        idx = [index(x, y, 256) % 6 for x in range(W)]
        if y % 3 == 0:
            out += bytes((W, idx[0]))                     # one run for the row
        elif y % 3 == 1:
            out += bytes((0, W)) + bytes(idx) + b"\0"     # absolute mode, padded to a word
        else:
            out += bytes((2, idx[0], 0, 2, 1, 0, 4, idx[1]))  # a run, a delta, a run
        out += b"\0\0"                                    # end of line
    out += b"\0\1"                                        # end of bitmap
    return bytes(out)


def rle4():
    out = bytearray()
    for y in range(H):
        if y % 2:
            out += bytes((W, 0x1E))                       # alternating nibbles
        else:
            nibbles = [(x + y) % 16 for x in range(W)]
            packed = pack_indices(nibbles, 4)
            out += bytes((0, W)) + packed + b"\0" * (-len(packed) % 2)
        out += b"\0\0"
    out += b"\0\1"
    return bytes(out)


def rle4_deltas():
    """RLE4 with a delta down, an odd absolute run and a run past the right edge."""
    out = bytearray()
    out += bytes((3, 0x12, 0, 2, 1, 1))                   # a run, then a delta one row up
    out += bytes((0, 5, 0x34, 0x56, 0x70, 0))             # absolute, padded to a word
    out += bytes((20, 0x9A, 0, 0))                        # past the right edge, end of line
    out += bytes((0, 2, 3, 1, 2, 0xBC, 0, 1))             # a delta, a run, the end
    return bytes(out)


def rle8_odd():
    """RLE8 with indexes past a short palette, a delta down two rows, and an early end."""
    return bytes((3, 200, 0, 3, 1, 250, 2, 0, 0, 2, 1, 2, 2, 5, 0, 0, 1, 3, 0, 1))


def bmp(info, pal, pixels, pal_entry=4, gap=0):
    """A whole file: file header, info header, palette (4 or 3 bytes per entry), pixel data."""
    pal_bytes = b"".join(bytes((b, g, r)) + (b"\0" if pal_entry == 4 else b"") for r, g, b in pal)
    pal_bytes += b"\0" * gap
    offset = 14 + len(info) + len(pal_bytes)
    size = offset + len(pixels)
    return b"BM" + struct.pack("<IHHI", size, 0, 0, offset) + info + pal_bytes + pixels


def info_header(bits, compression=0, colours=0, size=40, height=H, image_size=0, masks=None):
    """BITMAPINFOHEADER and its V2..V5 extensions (bit masks, colour space, intent)."""
    h = struct.pack("<IiiHHIIiiII", size, W, height, 1, bits, compression, image_size, 2835, 2835,
                    colours, 0)
    if size > 40:
        m = masks or (0, 0, 0, 0)
        h += struct.pack("<IIII", *m)
        if size >= 108:
            h += b"sRGB" + b"\0" * 36 + struct.pack("<III", 0, 0, 0)
        if size >= 124:
            h += struct.pack("<IIII", 4, 0, 0, 0)
        h = h[:size] + b"\0" * (size - len(h))
    return h


def core_header(bits):
    return struct.pack("<IHHHH", 12, W, H, 1, bits)


def os2_header(bits, size, compression=0, colours=0, height=H):
    """An OS/2 2.x header of 16 to 64 bytes: the Windows fields it has room for, then zeros."""
    h = struct.pack("<IiiHHIIiiII", size, W, height, 1, bits, compression, 0, 0, 0, colours, 0)
    return (h + b"\0" * 24)[:size]


def bitmaps():
    seeds = {}
    for bits in (1, 4, 8):
        pal = palette(1 << bits)
        seeds[f"bmp_{bits}bit.bmp"] = bmp(info_header(bits), pal, indexed_rows(bits))
        seeds[f"bmp_core_{bits}bit.bmp"] = bmp(core_header(bits), pal, indexed_rows(bits), 3)
    # A palette shorter than the depth allows (colours used), with indices past its end.
    seeds["bmp_8bit_short_palette.bmp"] = bmp(info_header(8, colours=6), palette(6), indexed_rows(8))
    seeds["bmp_8bit_topdown.bmp"] = bmp(info_header(8, height=-H), palette(256),
                                        indexed_rows(8, top_down=True))
    seeds["bmp_rle8.bmp"] = bmp(info_header(8, compression=1, image_size=len(rle8()), colours=6),
                                palette(6), rle8())
    seeds["bmp_rle4.bmp"] = bmp(info_header(4, compression=2, image_size=len(rle4())), palette(16),
                                rle4())
    seeds["bmp_16bit_555.bmp"] = bmp(info_header(16), [],
                                     masked_rows(16, (0x7C00, 0x03E0, 0x001F, 0)))
    m565 = (0xF800, 0x07E0, 0x001F, 0)
    seeds["bmp_16bit_565.bmp"] = bmp(info_header(16, compression=3) + struct.pack("<III", *m565[:3]),
                                     [], masked_rows(16, m565))
    seeds["bmp_24bit.bmp"] = bmp(info_header(24), [], rgb24_rows())
    seeds["bmp_24bit_topdown.bmp"] = bmp(info_header(24, height=-H), [], rgb24_rows(top_down=True))
    seeds["bmp_core_24bit.bmp"] = bmp(core_header(24), [], rgb24_rows())
    seeds["bmp_32bit.bmp"] = bmp(info_header(32), [],
                                 masked_rows(32, (0xFF0000, 0xFF00, 0xFF, 0)))
    m32 = (0x0000FF00, 0x00FF0000, 0xFF000000, 0)
    seeds["bmp_32bit_bitfields.bmp"] = bmp(info_header(32, compression=3) + struct.pack("<III", *m32[:3]),
                                           [], masked_rows(32, m32))
    m32a = (0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)
    seeds["bmp_v4_32bit_alpha.bmp"] = bmp(info_header(32, compression=3, size=108, masks=m32a), [],
                                          masked_rows(32, m32a))
    seeds["bmp_v5_32bit_alpha_topdown.bmp"] = bmp(
        info_header(32, compression=3, size=124, masks=m32a, height=-H), [],
        masked_rows(32, m32a, top_down=True))
    m444 = (0x0F00, 0x00F0, 0x000F, 0xF000)
    seeds["bmp_v5_16bit_4444.bmp"] = bmp(info_header(16, compression=3, size=124, masks=m444), [],
                                         masked_rows(16, m444))
    seeds["bmp_v4_24bit.bmp"] = bmp(info_header(24, size=108), [], rgb24_rows())
    # Qt refuses this one (alpha bit fields); it seeds the refusal path.
    seeds["bmp_v3_alpha_bitfields.bmp"] = bmp(info_header(32, compression=6, size=56, masks=m32a),
                                              [], masked_rows(32, m32a))
    # Bitmap-decoder variants: every depth, header and mask placement, and the odd corners.
    seeds["bmp_2bit.bmp"] = bmp(info_header(2), palette(4), indexed_rows(2))
    seeds["bmp_1bit_topdown.bmp"] = bmp(info_header(1, height=-H), palette(2),
                                        indexed_rows(1, top_down=True))
    seeds["bmp_4bit_short_palette.bmp"] = bmp(info_header(4, colours=3), palette(3), indexed_rows(4))
    seeds["bmp_core_8bit_short_palette.bmp"] = bmp(core_header(8), palette(5), indexed_rows(8), 3)
    seeds["bmp_8bit_gap.bmp"] = bmp(info_header(8, colours=16), palette(16), indexed_rows(8), gap=9)
    for size in (16, 20, 36, 64):
        seeds[f"bmp_os2_{size}_8bit.bmp"] = bmp(os2_header(8, size, colours=0), palette(256),
                                               indexed_rows(8))
    seeds["bmp_os2_64_24bit_topdown.bmp"] = bmp(os2_header(24, 64, height=-H), [],
                                                rgb24_rows(top_down=True))
    seeds["bmp_os2_64_rle4.bmp"] = bmp(os2_header(4, 64, compression=2), palette(16), rle4_deltas())
    seeds["bmp_os2_64_huffman.bmp"] = bmp(os2_header(1, 64, compression=3), palette(2), b"\0" * 8)
    seeds["bmp_rle4_deltas.bmp"] = bmp(info_header(4, compression=2), palette(16), rle4_deltas())
    seeds["bmp_rle8_odd.bmp"] = bmp(info_header(8, compression=1, colours=6), palette(6), rle8_odd())
    seeds["bmp_rle8_topdown.bmp"] = bmp(info_header(8, compression=1, height=-H), palette(6), rle8())
    seeds["bmp_16bit_topdown.bmp"] = bmp(info_header(16, height=-H), [],
                                         masked_rows(16, (0x7C00, 0x03E0, 0x001F, 0), True))
    m4444 = (0x0F00, 0x00F0, 0x000F, 0xF000)
    seeds["bmp_16bit_alpha_bitfields.bmp"] = bmp(
        info_header(16, compression=6) + struct.pack("<IIII", *m4444), [], masked_rows(16, m4444))
    m565 = (0xF800, 0x07E0, 0x001F, 0)
    seeds["bmp_v2_16bit_565.bmp"] = bmp(info_header(16, compression=3, size=52, masks=m565), [],
                                        masked_rows(16, m565))
    m1010 = (0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000)
    seeds["bmp_v5_32bit_10bit.bmp"] = bmp(info_header(32, compression=3, size=124, masks=m1010),
                                          [], masked_rows(32, m1010))
    mwide = (0xFFFFFF00, 0x000000F0, 0, 0)
    seeds["bmp_v4_32bit_wide_channel.bmp"] = bmp(
        info_header(32, compression=3, size=108, masks=mwide), [], masked_rows(32, mwide))
    seeds["bmp_32bit_topdown.bmp"] = bmp(info_header(32, height=-H), [],
                                         masked_rows(32, (0xFF0000, 0xFF00, 0xFF, 0), True))
    seeds["bmp_jpeg.bmp"] = bmp(info_header(24, compression=4), [], b"\xFF\xD8\xFF\xD9")
    seeds["bmp_png.bmp"] = bmp(info_header(24, compression=5), [], b"\x89PNG\r\n\x1a\n")
    return seeds


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(colour_type, depth, rows, plte=b"", trns=b""):
    ihdr = struct.pack(">IIBBBBB", W, H, depth, colour_type, 0, 0, 0)
    raw = b"".join(b"\0" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) +
            (png_chunk(b"PLTE", plte) if plte else b"") + (png_chunk(b"tRNS", trns) if trns else b"") +
            png_chunk(b"IDAT", zlib.compress(raw)) + png_chunk(b"IEND", b""))


def pngs():
    rgb = [b"".join(bytes(colour(x, y)) for x in range(W)) for y in range(H)]
    rgba = [b"".join(bytes(colour(x, y)) + bytes((x * 40,)) for x in range(W)) for y in range(H)]
    grey = [bytes(sum(colour(x, y)) // 3 for x in range(W)) for y in range(H)]
    grey1 = [pack_indices([(x + y) % 2 for x in range(W)], 1) for y in range(H)]
    pal = palette(16)
    idx4 = [pack_indices([index(x, y, 16) for x in range(W)], 4) for y in range(H)]
    rgb16 = [b"".join(struct.pack(">HHH", *(c * 257 for c in colour(x, y))) for x in range(W))
             for y in range(H)]
    return {
        "png_rgb.png": png(2, 8, rgb),
        "png_rgba.png": png(6, 8, rgba),
        "png_grey.png": png(0, 8, grey),
        "png_grey1.png": png(0, 1, grey1),
        "png_palette4.png": png(3, 4, idx4, b"".join(bytes(c) for c in pal), bytes(range(0, 256, 16))),
        "png_rgb16.png": png(2, 16, rgb16),
    }


def gif():
    """A 4-colour GIF; a clear code after every two pixels keeps the LZW codes 3 bits wide."""
    pal = palette(4)
    codes = []
    pixels = [index(x, y, 4) for y in range(H) for x in range(W)]
    for i in range(0, len(pixels), 2):
        codes += [4] + pixels[i:i + 2]
    codes.append(5)
    acc, n, data = 0, 0, bytearray()
    for c in codes:
        acc |= c << n
        n += 3
        while n >= 8:
            data.append(acc & 0xFF)
            acc >>= 8
            n -= 8
    if n:
        data.append(acc)
    blocks = b"".join(bytes((len(data[i:i + 255]),)) + bytes(data[i:i + 255])
                      for i in range(0, len(data), 255)) + b"\0"
    return (b"GIF89a" + struct.pack("<HHBBB", W, H, 0x81, 0, 0) + b"".join(bytes(c) for c in pal) +
            b"\x2C" + struct.pack("<HHHHB", 0, 0, W, H, 0) + b"\x02" + blocks + b"\x3B")


def jpeg(sof=0xC0):
    """A greyscale JPEG, every block mid-grey, with one-bit Huffman codes (two bits a block)."""
    def segment(marker, body):
        return bytes((0xFF, marker)) + struct.pack(">H", len(body) + 2) + body

    one_code = b"\x01" + b"\0" * 15 + b"\0"
    blocks = ((W + 7) // 8) * ((H + 7) // 8)
    bits = blocks * 2
    data = b"\0" * (bits // 8) + (bytes((0xFF >> (bits % 8),)) if bits % 8 else b"")
    return (b"\xFF\xD8" + segment(0xDB, b"\0" + b"\x01" * 64) +
            segment(sof, struct.pack(">BHHB", 8, H, W, 1) + b"\x01\x11\x00") +
            segment(0xC4, b"\x00" + one_code) + segment(0xC4, b"\x10" + one_code) +
            segment(0xDA, b"\x01\x01\x00\x00\x3F\x00") + data + b"\xFF\xD9")


def pnms():
    rgb = b"".join(bytes(colour(x, y)) for y in range(H) for x in range(W))
    grey = bytes(sum(colour(x, y)) // 3 for y in range(H) for x in range(W))
    bits = b"".join(pack_indices([(x + y) % 2 for x in range(W)], 1) for y in range(H))
    head = f"{W} {H}\n".encode()
    return {
        "pnm_p6.ppm": b"P6\n" + head + b"255\n" + rgb,
        "pnm_p5.pgm": b"P5\n# grey\n" + head + b"255\n" + grey,
        "pnm_p4.pbm": b"P4\n" + head + bits,
        "pnm_p3.ppm": b"P3\n" + head + b"255\n" + " ".join(str(v) for v in rgb).encode() + b"\n",
        "pnm_p2.pgm": b"P2\n" + head + b"255\n" + " ".join(str(v) for v in grey).encode() + b"\n",
        "pnm_p1.pbm": b"P1\n" + head + " ".join(str((i + i // W) % 2) for i in range(W * H)).encode(),
    }


def main():
    args = sys.argv[1:]
    bitmaps_only = "--bitmaps-only" in args
    args = [a for a in args if a != "--bitmaps-only"]
    if len(args) != 1:
        sys.exit(__doc__)
    folder = args[0]
    os.makedirs(folder, exist_ok=True)
    seeds = bitmaps() if bitmaps_only else {
        **bitmaps(), **pngs(), "gif_4colour.gif": gif(), **pnms(), "jpeg_grey.jpg": jpeg(),
        # A progressive frame with baseline data: refused, but it reaches the size check.
        "jpeg_grey_progressive_header.jpg": jpeg(0xC2)}
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    print(f"{len(seeds)} seeds in {folder}")


if __name__ == "__main__":
    main()
