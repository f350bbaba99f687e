#include "support/bmp_builder.h"

namespace testing_support {
namespace {

void put(QByteArray& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

std::uint32_t channel(std::uint32_t colour, int shift) {
    return (colour >> shift) & 0xFF;
}

QByteArray rowBytes(const BmpLayout& layout, const std::uint32_t* row, int width) {
    QByteArray out;
    if (layout.compression == BmpCompression::Rle8) {
        for (int x = 0; x < width; ++x) {
            put(out, 1, 1);
            put(out, row[x], 1);
        }
        put(out, 0, 2); // end of line
        return out;
    }
    if (layout.compression == BmpCompression::Rle4) {
        for (int x = 0; x < width; ++x) {
            put(out, 1, 1);
            put(out, row[x] << 4, 1);
        }
        put(out, 0, 2);
        return out;
    }
    if (layout.bits <= 8) {
        std::uint32_t acc = 0;
        int used = 0;
        for (int x = 0; x < width; ++x) {
            acc = (acc << layout.bits) | row[x];
            used += layout.bits;
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
            const std::uint32_t c = row[x];
            const std::uint32_t r = channel(c, 0);
            const std::uint32_t g = channel(c, 8);
            const std::uint32_t b = channel(c, 16);
            if (layout.bits == 16 && layout.compression == BmpCompression::BitFields) {
                put(out, ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3), 2); // 5-6-5
            } else if (layout.bits == 16) {
                put(out, ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3), 2); // 5-5-5
            } else if (layout.bits == 32 && layout.compression == BmpCompression::BitFields) {
                std::uint32_t v = 0;
                const std::uint32_t parts[] = {r, g, b};
                for (int k = 0; k < 3; ++k) {
                    const std::uint32_t mask = layout.masks[static_cast<std::size_t>(k)];
                    int shift = 0;
                    while (((mask >> shift) & 1) == 0) {
                        ++shift;
                    }
                    v |= parts[k] << shift;
                }
                put(out, v, 4);
            } else {
                put(out, b, 1);
                put(out, g, 1);
                put(out, r, 1);
                if (layout.bits == 32) {
                    put(out, 0, 1);
                }
            }
        }
    }
    while (out.size() % 4 != 0) {
        out.append('\0');
    }
    return out;
}

} // namespace

QByteArray makeBmp(int width, int height, const std::vector<std::uint32_t>& values,
                   const BmpLayout& layout) {
    QByteArray data;
    for (int i = 0; i < height; ++i) {
        const int y = layout.topDown ? i : height - 1 - i;
        data += rowBytes(layout, values.data() + static_cast<std::size_t>(y) * width, width);
    }
    if (layout.compression == BmpCompression::Rle8 || layout.compression == BmpCompression::Rle4) {
        data.append('\0');
        data.append('\1'); // end of bitmap
    }

    const bool core = layout.headerSize == 12;
    QByteArray info;
    put(info, static_cast<std::uint32_t>(layout.headerSize), 4);
    if (core) {
        put(info, static_cast<std::uint32_t>(width), 2);
        put(info, static_cast<std::uint32_t>(height), 2);
        put(info, 1, 2);
        put(info, static_cast<std::uint32_t>(layout.bits), 2);
    } else {
        put(info, static_cast<std::uint32_t>(width), 4);
        put(info, static_cast<std::uint32_t>(layout.topDown ? -height : height), 4);
        put(info, 1, 2);
        put(info, static_cast<std::uint32_t>(layout.bits), 2);
        put(info, static_cast<std::uint32_t>(layout.compression), 4);
        put(info, static_cast<std::uint32_t>(data.size()), 4);
        put(info, 2835, 4);
        put(info, 2835, 4);
        put(info, 0, 4); // all palette entries
        put(info, 0, 4);
        if (layout.headerSize > 40) {
            for (std::size_t k = 0; k < 4; ++k) {
                put(info, k < layout.masks.size() ? layout.masks[k] : 0, 4);
            }
            put(info, 0x73524742, 4); // 'sRGB'
            while (info.size() < layout.headerSize) {
                info.append('\0');
            }
        }
    }
    QByteArray extra;
    if (layout.compression == BmpCompression::BitFields && layout.headerSize == 40) {
        for (std::uint32_t mask : layout.masks) {
            put(extra, mask, 4);
        }
    }
    if (layout.bits <= 8) {
        for (std::size_t i = 0; i < (std::size_t{1} << layout.bits); ++i) {
            const std::uint32_t c = i < layout.palette.size() ? layout.palette[i] : 0;
            put(extra, channel(c, 16), 1);
            put(extra, channel(c, 8), 1);
            put(extra, channel(c, 0), 1);
            if (!core) {
                put(extra, 0, 1);
            }
        }
    }

    QByteArray file("BM");
    const auto offset = static_cast<std::uint32_t>(14 + info.size() + extra.size());
    put(file, offset + static_cast<std::uint32_t>(data.size()), 4);
    put(file, 0, 4);
    put(file, offset, 4);
    return file + info + extra + data;
}

} // namespace testing_support
