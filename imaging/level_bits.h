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
};

// Whether this processor runs the kernel of that instruction set.
bool isaAvailable(Isa isa);

// The kernel of that instruction set; it must be available.
const LevelKernel& levelKernel(Isa isa);

// The fastest kernel this processor runs, chosen once.
const LevelKernel& levelKernel();

// The level bits of each palette entry: bit 0 dark, bit 1 light.
using LevelTable = std::array<std::uint8_t, 256>;
LevelTable levelTable(std::span<const Pixel> palette);

// The row kernel for palette indices, one byte each, looked up in the table.
void indexedLevelBits(const std::uint8_t* indices, std::size_t count, const LevelTable& table,
                      std::uint8_t* dark, std::uint8_t* light);

} // namespace imaging
