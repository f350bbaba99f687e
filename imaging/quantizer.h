#pragma once
// Reduces a canvas in place to the four level colours.

#include "imaging/levels.h"

namespace imaging {

// Paints every pixel of one row with the level colour of its grey average; the top byte of
// each pixel is kept.
void quantizeRow(std::span<Pixel> row);

// Quantizes height x width pixels row by row from the top. Reports the total, yields before
// the first row and between rows (not after the last), and reports the rows done after each
// row. Returns Flow::Stop if a yield asked to stop; no row is read after that.
Flow quantize(Canvas& canvas, std::int16_t height, std::int16_t width, RowProgress& progress);

} // namespace imaging
