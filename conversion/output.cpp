#include "conversion/output.h"

#include "bitmap/writer.h"
#include "imaging/layout.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace conversion {
namespace {

const QString kNoMemory = QStringLiteral("not enough memory to write it");

// Four pixels as a 24-bit bitmap stores them (blue, green, red each), for every pair of a dark
// and a light nibble: 16 bytes an entry, of which 12 count.
using FourPixels = std::array<std::uint8_t, 16>;
constexpr std::array<FourPixels, 256> makeFourPixels() {
    // White, light grey, dark grey and black by (dark bit, light bit).
    constexpr std::uint8_t kBgr[4][3] = {
        {0xFF, 0xFF, 0xFF}, {0xB4, 0xB4, 0xB4}, {0x5A, 0x59, 0x5A}, {0x00, 0x00, 0x00}};
    std::array<FourPixels, 256> table{};
    for (unsigned dark = 0; dark < 16; ++dark) {
        for (unsigned light = 0; light < 16; ++light) {
            for (unsigned i = 0; i < 4; ++i) {
                const unsigned bit = 3 - i;
                const unsigned level = ((dark >> bit) & 1u) * 2 + ((light >> bit) & 1u);
                for (unsigned c = 0; c < 3; ++c) {
                    table[dark * 16 + light][i * 3 + c] = kBgr[level][2 - c];
                }
            }
        }
    }
    return table;
}
constexpr auto kFourPixels = makeFourPixels();

// Row y of the picture that the planes stand for, as a 24-bit bitmap stores it, straight from
// the bits. `out` has `stride` bytes and 16 to spare after them.
void storedRow(const imaging::Planes& planes, int y, std::uint8_t* out, std::size_t stride) {
    const std::size_t offset = static_cast<std::size_t>(y) * planes.rowBits();
    const auto width = static_cast<std::size_t>(planes.width);
    std::uint8_t* p = out;
    // Whole groups of eight pixels write 24 bytes; the last group may write past the row's
    // pixels into its padding and the spare bytes, which are set right after.
    for (std::size_t x = 0; x < width; x += 8, p += 24) {
        const unsigned d = imaging::eightBitsAt(planes.dark, offset + x);
        const unsigned l = imaging::eightBitsAt(planes.light, offset + x);
        std::memcpy(p, kFourPixels[(d >> 4) * 16 + (l >> 4)].data(), 16);
        std::memcpy(p + 12, kFourPixels[(d & 15u) * 16 + (l & 15u)].data(), 16);
    }
    std::memset(out + 3 * width, 0, stride - 3 * width);
}

} // namespace

std::optional<base::Error> writeText(const imaging::Planes& planes, const imaging::TextStyle& style,
                                     const Target& target, surface::Durability durability) {
    // Nothing is written for a picture that the layout cannot hold.
    if (const auto refused = imaging::extentProblem(style.layout, planes.width, planes.height)) {
        return base::Error{style.source, *refused};
    }
    bool outOfMemory = false;
    return surface::saveFile(
        target.path,
        [&](const surface::ByteSink& sink) {
            try {
                return imaging::writeArraysTo(planes, sink, style);
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
                return false;
            }
        },
        durability, [&] { return outOfMemory ? kNoMemory : QString(); });
}

std::optional<base::Error> writePicture(const imaging::Planes& planes, const Target& target,
                                        surface::Durability durability) {
    bool outOfMemory = false;
    auto produce = [&](const surface::ByteSink& sink) {
        const auto header = bitmap::bmp24Header(planes.width, planes.height);
        if (!sink({reinterpret_cast<const char*>(header.data()), header.size()})) {
            return false;
        }
        // Bottom row first, a batch of about a mebibyte at a time.
        const std::size_t stride = bitmap::bmp24RowBytes(planes.width);
        const int rowsPerBatch = static_cast<int>(std::max<std::size_t>(1, (1u << 20) / stride));
        std::vector<std::uint8_t> batch(stride * static_cast<std::size_t>(rowsPerBatch) + 32);
        for (int y = planes.height - 1; y >= 0;) {
            const int rows = std::min(rowsPerBatch, y + 1);
            for (int r = 0; r < rows; ++r, --y) {
                storedRow(planes, y, batch.data() + stride * static_cast<std::size_t>(r), stride);
            }
            if (!sink({reinterpret_cast<const char*>(batch.data()),
                       stride * static_cast<std::size_t>(rows)})) {
                return false;
            }
        }
        return true;
    };
    return surface::saveFile(
        target.path,
        [&](const surface::ByteSink& sink) {
            try {
                return produce(sink);
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
                return false;
            }
        },
        durability, [&] { return outOfMemory ? kNoMemory : QString(); });
}

} // namespace conversion
