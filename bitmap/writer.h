#pragma once
// Writes two-plane pictures as 4-bit palette Windows bitmaps, bottom row first.

#include <array>
#include <cstddef>
#include <cstdint>

namespace bitmap {

// File header, 40-byte info header and a palette of four entries.
inline constexpr std::size_t kLevelBitmapHeaderSize = 14 + 40 + 4 * 4;

// The bytes of one stored row, padding included.
std::size_t levelBitmapRowBytes(int width);
// The whole file's size.
std::uint64_t levelBitmapFileSize(int width, int height);
// The headers of a bottom-up 4-bit bitmap whose palette holds the four colours (0xBBGGRR) for
// black, dark grey, light grey and white, in that order.
std::array<std::uint8_t, kLevelBitmapHeaderSize>
levelBitmapHeader(int width, int height, const std::array<std::uint32_t, 4>& colours);
// One row as stored, from the row's dark and light bits ((width + 7) / 8 bytes each, first
// pixel in the top bit): pixel by pixel the palette index of its level (both bits black, dark
// only dark grey, light only light grey, neither white), two to a byte with the first in the
// high nibble, then zero bytes to a multiple of 4. `out` holds levelBitmapRowBytes(width)
// bytes.
void encodeLevelRow(const std::uint8_t* dark, const std::uint8_t* light, int width,
                    std::uint8_t* out);

} // namespace bitmap
