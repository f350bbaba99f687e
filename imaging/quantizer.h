#pragma once
// Paints a row of a canvas in the four level colours.

#include "imaging/levels.h"

namespace imaging {

// Paints every pixel of one row with the level colour of its grey average; the top byte of
// each pixel is kept.
void quantizeRow(std::span<Pixel> row);

} // namespace imaging
