#pragma once
// Builds Windows bitmaps byte by byte, in every variant the tests need (plain C++; the
// QByteArray form for Qt tests is in bmp_builder_qt.h).

#include <cstdint>
#include <optional>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

enum class BmpCompression : std::uint32_t {
    Rgb = 0,
    Rle8 = 1,
    Rle4 = 2,
    BitFields = 3,
    Jpeg = 4,
    Png = 5,
    AlphaBitFields = 6,
};

// Every field of a bitmap file, written as given: nothing is checked, so that malformed files
// can be built as easily as good ones.
struct BmpFile {
    int width = 1;
    int height = 1; // stored as -height when topDown
    bool topDown = false;
    int headerSize = 40; // 12 (OS/2 1.x), 16-64 (OS/2 2.x), 40, 52, 56, 108, 124
    int planes = 1;
    int bits = 24;
    std::uint32_t compression = 0;
    std::uint32_t colourCount = 0; // biClrUsed
    // Red, green, blue (and alpha) masks: inside a header of 52 bytes or more, else after it.
    std::vector<std::uint32_t> masks;
    std::vector<std::uint32_t> palette;      // colours 0xBBGGRR, any number of entries
    std::size_t gap = 0;                     // zero bytes between the palette and the pixel data
    std::optional<std::uint32_t> dataOffset; // default: where the pixel data starts
    Bytes pixels;                            // the stored rows, or the run-length stream
};

Bytes buildBmp(const BmpFile& file);

// Packs raw values into stored rows, padded to 4 bytes, in file order: for 1-8 bits palette
// indexes, for 16 and 32 bits the pixel words, for 24 bits colours 0xBBGGRR (stored B, G, R).
// `values` are row-major from the top-left.
Bytes packRows(int width, int height, int bits, const std::vector<std::uint32_t>& values,
               bool topDown = false);

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
Bytes makeBmpBytes(int width, int height, const std::vector<std::uint32_t>& values,
                   const BmpLayout& layout);

} // namespace testing_support
