#pragma once
// Writes 24-bit Windows bitmaps, bottom row first.

#include "bitmap/decoder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace bitmap {

inline constexpr std::size_t kBmp24HeaderSize = 54;

// The bytes of one stored row, padding included.
std::size_t bmp24RowBytes(int width);
// The whole file's size.
std::uint64_t bmp24FileSize(int width, int height);
// The file header and the 40-byte info header of a bottom-up 24-bit bitmap.
std::array<std::uint8_t, kBmp24HeaderSize> bmp24Header(int width, int height);
// One row as stored: B, G, R per pixel, then zero bytes to a multiple of 4. `out` holds
// bmp24RowBytes(pixels.size()) bytes.
void encodeBmp24Row(std::span<const Pixel> pixels, std::uint8_t* out);

} // namespace bitmap
