#pragma once
// Writes two-plane pictures as 4-bit palette Windows bitmaps, bottom row first.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

namespace bitmap {

// File header, 40-byte info header and a palette of four entries.
inline constexpr std::size_t kLevelBitmapHeaderSize = 14 + 40 + 4 * 4;
// The same with a fifth entry, the colour of transparent pixels.
inline constexpr std::size_t kMaskedBitmapHeaderSize = kLevelBitmapHeaderSize + 4;

// The bytes of one stored row, padding included.
std::size_t levelBitmapRowBytes(int width);
// The headers of a bottom-up 4-bit bitmap whose palette holds the four colours (0xBBGGRR) for
// black, dark grey, light grey and white, in that order.
std::array<std::uint8_t, kLevelBitmapHeaderSize>
levelBitmapHeader(int width, int height, const std::array<std::uint32_t, 4>& colours);
// One row as stored, from the row's dark and light bits ((width + 7) / 8 bytes each, first
// pixel in the top bit): pixel by pixel the palette index of its level (both bits black, dark
// only dark grey, light only light grey, neither white), two to a byte with the first in the
// high nibble, then zero bytes to a multiple of 4. `out` holds levelBitmapRowBytes(width)
// bytes.
// With `opaque` (the row's mask bits laid out the same way, 1 for an opaque pixel), a
// transparent pixel's index is 4, the fifth entry.
void encodeLevelRow(const std::uint8_t* dark, const std::uint8_t* light, int width,
                    std::uint8_t* out, const std::uint8_t* opaque = nullptr);

// Row y's dark and light bits, laid out as encodeLevelRow() reads them; valid until the next call.
using LevelRowBits = std::function<std::pair<const std::uint8_t*, const std::uint8_t*>(int y)>;
// Takes the next bytes of the file; false stops the writing.
using ByteWriter = std::function<bool(std::string_view bytes)>;

// Row y's mask bits (1: opaque), laid out as the level bits; valid until the next call.
using MaskRowBits = std::function<const std::uint8_t*(int y)>;

// The transparent pixels of a picture that has a mask: the colour they are written in
// (0xBBGGRR, a fifth palette entry) and the mask's rows.
struct Transparency {
    std::uint32_t colour = 0;
    MaskRowBits rowBits;
};

// The one writer of four-level bitmaps: the headers, then the rows bottom-up, about a mebibyte
// at a time. False when `write` refused some bytes. Throws std::bad_alloc for want of memory.
// With `transparency`, the palette has a fifth entry for the pixels the mask leaves out;
// without it, the file is the four-colour one.
bool writeLevelBitmap(int width, int height, const std::array<std::uint32_t, 4>& colours,
                      const LevelRowBits& rowBits, const ByteWriter& write,
                      const Transparency* transparency = nullptr);

} // namespace bitmap
