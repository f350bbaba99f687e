#pragma once
// Splits a four-level canvas into the dark and the light bit plane.

#include "imaging/levels.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace imaging {

// Two planes of one bit per pixel, row-major, most significant bit first. Rows run on into
// each other without padding; only the end of the plane is filled with zero bits.
struct Planes {
    std::vector<std::uint8_t> dark;  // black and dark grey pixels
    std::vector<std::uint8_t> light; // black and light grey pixels
    std::size_t pixels = 0;
};

// Encodes height x width pixels. Only exact level colours set bits; anything else counts as
// white. Reports the total, yields before the first row, between rows and once after the
// last, and reports the rows done after each row. Returns nothing if a yield asked to stop.
std::optional<Planes> encodePlanes(const Canvas& canvas, std::int16_t height, std::int16_t width,
                                   RowProgress& progress);

} // namespace imaging
