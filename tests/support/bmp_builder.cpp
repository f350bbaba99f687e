#include "support/bmp_builder.h"

#include <cstddef>

namespace testing_support {
namespace {

void put(Bytes& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF));
    }
}

std::uint32_t channel(std::uint32_t colour, int shift) {
    return (colour >> shift) & 0xFF;
}

bool windowsHeader(int size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

} // namespace

Bytes buildBmp(const BmpFile& f) {
    const bool core = f.headerSize == 12;
    Bytes info;
    put(info, static_cast<std::uint32_t>(f.headerSize), 4);
    if (core) {
        put(info, static_cast<std::uint32_t>(f.width), 2);
        put(info, static_cast<std::uint32_t>(f.height), 2);
        put(info, static_cast<std::uint32_t>(f.planes), 2);
        put(info, static_cast<std::uint32_t>(f.bits), 2);
    } else {
        put(info, static_cast<std::uint32_t>(f.width), 4);
        put(info, static_cast<std::uint32_t>(f.topDown ? -f.height : f.height), 4);
        put(info, static_cast<std::uint32_t>(f.planes), 2);
        put(info, static_cast<std::uint32_t>(f.bits), 2);
        put(info, f.compression, 4);
        put(info, static_cast<std::uint32_t>(f.pixels.size()), 4);
        put(info, 2835, 4);
        put(info, 2835, 4);
        put(info, f.colourCount, 4);
        put(info, 0, 4);
        if (windowsHeader(f.headerSize) && f.headerSize > 40) {
            for (std::size_t k = 0; k < 4; ++k) {
                put(info, k < f.masks.size() ? f.masks[k] : 0, 4);
            }
            put(info, 0x73524742, 4); // 'sRGB'
        }
        info.resize(static_cast<std::size_t>(f.headerSize), 0);
    }
    Bytes extra;
    if (!(windowsHeader(f.headerSize) && f.headerSize > 40)) {
        for (std::uint32_t mask : f.masks) {
            put(extra, mask, 4);
        }
    }
    for (std::uint32_t c : f.palette) {
        put(extra, channel(c, 16), 1);
        put(extra, channel(c, 8), 1);
        put(extra, channel(c, 0), 1);
        if (!core) {
            put(extra, 0, 1);
        }
    }
    extra.resize(extra.size() + f.gap, 0);

    const auto offset = static_cast<std::uint32_t>(14 + info.size() + extra.size());
    Bytes file{'B', 'M'};
    put(file, offset + static_cast<std::uint32_t>(f.pixels.size()), 4);
    put(file, 0, 4);
    put(file, f.dataOffset.value_or(offset), 4);
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), extra.begin(), extra.end());
    file.insert(file.end(), f.pixels.begin(), f.pixels.end());
    return file;
}

Bytes packRows(int width, int height, int bits, const std::vector<std::uint32_t>& values,
               bool topDown) {
    Bytes out;
    for (int i = 0; i < height; ++i) {
        const int y = topDown ? i : height - 1 - i;
        const std::uint32_t* row = values.data() + static_cast<std::size_t>(y) * width;
        const std::size_t start = out.size();
        if (bits <= 8) {
            std::uint32_t acc = 0;
            int used = 0;
            for (int x = 0; x < width; ++x) {
                acc = (acc << bits) | row[x];
                used += bits;
                if (used == 8) {
                    put(out, acc, 1);
                    acc = 0;
                    used = 0;
                }
            }
            if (used > 0) {
                put(out, acc << (8 - used), 1);
            }
        } else {
            for (int x = 0; x < width; ++x) {
                if (bits == 24) {
                    put(out, channel(row[x], 16), 1);
                    put(out, channel(row[x], 8), 1);
                    put(out, channel(row[x], 0), 1);
                } else {
                    put(out, row[x], bits / 8);
                }
            }
        }
        while ((out.size() - start) % 4 != 0) {
            out.push_back(0);
        }
    }
    return out;
}

Bytes makeBmpBytes(int width, int height, const std::vector<std::uint32_t>& values,
                   const BmpLayout& layout) {
    BmpFile f;
    f.width = width;
    f.height = height;
    f.topDown = layout.topDown;
    f.headerSize = layout.headerSize;
    f.bits = layout.bits;
    f.compression = static_cast<std::uint32_t>(layout.compression);
    f.masks = layout.masks;
    if (layout.bits <= 8) {
        f.palette = layout.palette;
        f.palette.resize(std::size_t{1} << layout.bits, 0);
    }
    const bool rle8 = layout.compression == BmpCompression::Rle8;
    if (rle8 || layout.compression == BmpCompression::Rle4) {
        // One run of one pixel each, then the end of the line; the end of the picture at last.
        for (int i = 0; i < height; ++i) {
            const int y = layout.topDown ? i : height - 1 - i;
            for (int x = 0; x < width; ++x) {
                const std::uint32_t v = values[static_cast<std::size_t>(y) * width + x];
                put(f.pixels, 1, 1);
                put(f.pixels, rle8 ? v : v << 4, 1);
            }
            put(f.pixels, 0, 2);
        }
        put(f.pixels, 0x0100, 2);
        return buildBmp(f);
    }
    std::vector<std::uint32_t> raw(values);
    if (layout.bits == 16 ||
        (layout.bits == 32 && layout.compression == BmpCompression::BitFields)) {
        for (std::uint32_t& v : raw) {
            const std::uint32_t r = channel(v, 0);
            const std::uint32_t g = channel(v, 8);
            const std::uint32_t b = channel(v, 16);
            if (layout.bits == 16 && layout.compression == BmpCompression::BitFields) {
                v = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3); // 5-6-5
            } else if (layout.bits == 16) {
                v = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3); // 5-5-5
            } else {
                const std::uint32_t parts[] = {r, g, b};
                std::uint32_t w = 0;
                for (std::size_t k = 0; k < 3; ++k) {
                    const std::uint32_t mask = layout.masks[k];
                    int shift = 0;
                    while (((mask >> shift) & 1) == 0) {
                        ++shift;
                    }
                    w |= parts[k] << shift;
                }
                v = w;
            }
        }
    } else if (layout.bits == 32) {
        for (std::uint32_t& v : raw) {
            v = (channel(v, 0) << 16) | (channel(v, 8) << 8) | channel(v, 16); // B, G, R, 0
        }
    }
    f.pixels = packRows(width, height, layout.bits, raw, layout.topDown);
    return buildBmp(f);
}

} // namespace testing_support
