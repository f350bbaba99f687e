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

// Paints rows 0 to height - 1 of a canvas from the top with `paint(y, row)`, reporting each row
// and yielding before the first and between rows, as every scan of the window does. Returns
// Flow::Stop if a yield asked to stop.
template <class Paint>
Flow scanRows(Canvas& canvas, std::int16_t height, RowProgress& progress, Paint&& paint) {
    progress.reportTotal(height);
    if (progress.yield() == Flow::Stop) {
        return Flow::Stop;
    }
    for (std::int16_t y = 0; y < height; ++y) {
        paint(y, canvas.mutableRow(y));
        canvas.rowPainted(y);
        progress.reportRowsDone(static_cast<std::int16_t>(y + 1));
        if (y + 1 < height && progress.yield() == Flow::Stop) {
            return Flow::Stop;
        }
    }
    return Flow::Continue;
}

} // namespace imaging
