#pragma once
// Splits a four-level canvas into the dark and the light bit plane.

#include "imaging/levels.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace imaging {

// How pixel rows sit in a plane: run on into each other (only the end of the plane is filled
// with zero bits), or each starting on a new byte, its last byte filled with zero bits.
enum class RowLayout { Packed, Padded };

// Two planes of one bit per pixel, row-major, most significant bit first, with their extent.
struct Planes {
    int width = 0;
    int height = 0;
    RowLayout layout = RowLayout::Packed;
    std::vector<std::uint8_t> dark;  // black and dark grey pixels
    std::vector<std::uint8_t> light; // black and light grey pixels
    // Opaque pixels (1) in the same shape, when transparency was asked for; empty otherwise.
    // A transparent pixel is white in the other two.
    std::vector<std::uint8_t> mask{};

    // Bits from the start of one row to the start of the next.
    std::size_t rowBits() const;
    // The bytes of each whole plane.
    std::size_t planeBytes() const;
};

// Planes of that extent with every bit clear (an all-white picture).
Planes makePlanes(int width, int height, RowLayout layout = RowLayout::Packed);

// Planes of that extent with no bytes yet, their whole room reserved in huge pages where the
// system offers them (on some virtual machines each first touch of a small page costs
// microseconds, and 8192 x 8192 pixels need 4096 of them), to be filled a row at a time.
// With `masked`, the mask's room too.
Planes reservedPlanes(int width, int height, RowLayout layout = RowLayout::Packed,
                      bool masked = false);

// Sets the bits of row y (0 at the top) from its pixels, which must be planes.width long; only
// exact level colours set bits. The row's bits must still be clear, so rows can come in any
// order.
void encodeRow(Planes& planes, int y, std::span<const Pixel> row);

// The eight bits of a plane that start at bit `bit` (counting from the first byte's top bit),
// the first of them in bit 7; bits past the plane's end are zero.
inline unsigned eightBitsAt(const std::vector<std::uint8_t>& plane, std::size_t bit) {
    const std::size_t k = bit / 8;
    const auto shift = static_cast<unsigned>(bit % 8);
    const unsigned high = plane[k];
    const unsigned low = shift != 0 && k + 1 < plane.size() ? plane[k + 1] : 0u;
    return ((high << 8 | low) >> (8 - shift)) & 0xFFu;
}

// The bits of row y, starting at the top bit of dark[0] and light[0]: (width + 7) / 8 bytes of
// each, bits past the row's last pixel zero.
void rowBytes(const Planes& planes, int y, std::span<std::uint8_t> dark,
              std::span<std::uint8_t> light);

// The inverse: ORs the row's bits, laid out as rowBytes() gives them, into row y, ignoring
// bits past its last pixel. The row's bits must still be clear.
void setRowBytes(Planes& planes, int y, std::span<const std::uint8_t> dark,
                 std::span<const std::uint8_t> light);

// The same for row y of the mask alone.
void setMaskRowBytes(Planes& planes, int y, std::span<const std::uint8_t> mask);

// The inverse of encodeRow(): the level colours of row y, planes.width of them.
void decodeRow(const Planes& planes, int y, std::span<Pixel> row);

} // namespace imaging
