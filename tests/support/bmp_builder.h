#pragma once
// Builds Windows bitmaps byte by byte, in every variant the tests need.

#include <QByteArray>
#include <cstdint>
#include <vector>

namespace testing_support {

enum class BmpCompression : std::uint32_t { Rgb = 0, Rle8 = 1, Rle4 = 2, BitFields = 3 };

struct BmpLayout {
    int bits = 24;
    BmpCompression compression = BmpCompression::Rgb;
    int headerSize = 40;                // 12 (old OS/2 header), 40, 108 or 124
    bool topDown = false;               // not with the 12-byte header
    std::vector<std::uint32_t> masks;   // red, green, blue, for BitFields
    std::vector<std::uint32_t> palette; // colours 0xBBGGRR, for 1, 4 and 8 bits
};

// values: palette indexes for 1, 4 and 8 bits; colours 0xBBGGRR otherwise (16-bit colours
// keep the top 5 or 6 bits of each channel), row-major from the top-left.
QByteArray makeBmp(int width, int height, const std::vector<std::uint32_t>& values,
                   const BmpLayout& layout);

} // namespace testing_support
