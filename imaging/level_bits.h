#pragma once
// Turns rows of stored pixels straight into their dark and light plane bits, without painting
// level colours first: the fast path of the plain (undithered) conversion.

#include "imaging/levels.h"
#include "imaging/plane_encoder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace imaging {

// The instruction sets a row kernel may be built for.
enum class Isa { Scalar, Sse2, Avx2 };

// Per column (x % 8), the sums r + g + b below which a pixel lies below each band: under `black`
// it is black, under `dark` dark grey or darker, under `light` light grey or darker.
struct BandEdges {
    std::array<std::uint16_t, 8> black;
    std::array<std::uint16_t, 8> dark;
    std::array<std::uint16_t, 8> light;
};

// The plain quantizer's edges, the same in every column.
const BandEdges& plainEdges();

// The green bits (6 for 5-6-5, 5 for x-5-5-5) of the layout whose words16 kernel gives each of
// the 65536 colours of a 16-bit bitmap exactly its sum r + g + b, or 0 when neither does.
unsigned wordLayout(std::span<const Pixel> colours);

// The level bits of each palette entry: `codes` has bit 0 dark, bit 1 light; `dark` and `light`
// hold the same bits as two bitmaps of 256 entries (entry i in bit i % 8 of byte i / 8), which a
// vector kernel looks up 32 entries at a time.
struct LevelTable {
    std::array<std::uint8_t, 256> codes;
    std::array<std::uint8_t, 32> dark;
    std::array<std::uint8_t, 32> light;
};
LevelTable levelTable(std::span<const Pixel> palette);
// The table of those codes.
LevelTable levelTable(const std::array<std::uint8_t, 256>& codes);

// Row kernels: each reads `count` pixels and writes (count + 7) / 8 bytes to `dark` and to
// `light`, the first pixel in bit 7, bits past the last pixel zero. A pixel's bits are those of
// the level of its grey average (black sets both, dark grey the dark one, light grey the light
// one, white neither), as quantizeRow() and encodeRow() together give them.
struct LevelKernel {
    // Three bytes a pixel (24-bit bitmap rows); only their sum counts, so any channel order.
    void (*bytes3)(const std::uint8_t* in, std::size_t count, std::uint8_t* dark,
                   std::uint8_t* light);
    // Four bytes a pixel, the fourth ignored: 32-bit bitmap rows and decoded Pixels alike.
    void (*bytes4)(const std::uint8_t* in, std::size_t count, std::uint8_t* dark,
                   std::uint8_t* light);
    // The same with edges that change from column to column, repeating every eight pixels; the
    // first pixel is in column 0.
    void (*edged3)(const std::uint8_t* in, std::size_t count, const BandEdges& edges,
                   std::uint8_t* dark, std::uint8_t* light);
    void (*edged4)(const std::uint8_t* in, std::size_t count, const BandEdges& edges,
                   std::uint8_t* dark, std::uint8_t* light);
    // The grey average (r + g + b + 1) / 3 of each of `count` pixels of three or four bytes.
    void (*greys3)(const std::uint8_t* in, std::size_t count, std::uint8_t* greys);
    void (*greys4)(const std::uint8_t* in, std::size_t count, std::uint8_t* greys);
    // Two bytes a pixel, little-endian, 5-6-5 (`green` 6) or x-5-5-5 (`green` 5) from the top
    // bit down, each channel widened to round(v * 255 / (2^n - 1)), against edges as `edged3`.
    void (*words16)(const std::uint8_t* in, std::size_t count, unsigned green,
                    const BandEdges& edges, std::uint8_t* dark, std::uint8_t* light);
    // Palette indices, one byte each, looked up in the table.
    void (*indexed)(const std::uint8_t* indices, std::size_t count, const LevelTable& table,
                    std::uint8_t* dark, std::uint8_t* light);
};

// Whether this processor runs the kernel of that instruction set.
bool isaAvailable(Isa isa);

// The kernel of that instruction set; it must be available.
const LevelKernel& levelKernel(Isa isa);

// The fastest kernel this processor runs, chosen once.
const LevelKernel& levelKernel();

// Band codes (0 black, 1 dark grey, 2 light grey, 3 white), one byte each, to plane bits as the
// kernels write them.
void bandBits(const std::uint8_t* bands, std::size_t count, std::uint8_t* dark,
              std::uint8_t* light);

// The inverse for a row of a canvas: paints each of row.size() pixels in the level colour of its
// bits, keeping the pixel's top byte.
void paintLevels(const std::uint8_t* dark, const std::uint8_t* light, std::span<Pixel> row);

// The same as indices into kLevelPalette, one byte a pixel.
void levelIndices(const std::uint8_t* dark, const std::uint8_t* light, std::span<std::uint8_t> row);

} // namespace imaging
