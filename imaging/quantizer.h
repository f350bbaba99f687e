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

// Whether a scan yields once more after its last row (the encoder does, the painting scans
// do not).
enum class LastYield { No, Yes };

// The one row loop of the window's scans: calls `row(y)` for rows 0 to height - 1 from the top,
// reporting the total first and the rows done after each row, yielding before the first row and
// between rows, and after the last one when `last` says so. Returns Flow::Stop if a yield asked
// to stop; no row is visited after that.
template <class Row>
Flow forEachRow(std::int16_t height, RowProgress& progress, LastYield last, Row&& row) {
    progress.reportTotal(height);
    if (progress.yield() == Flow::Stop) {
        return Flow::Stop;
    }
    for (std::int16_t y = 0; y < height; ++y) {
        row(y);
        progress.reportRowsDone(static_cast<std::int16_t>(y + 1));
        if ((y + 1 < height || last == LastYield::Yes) && progress.yield() == Flow::Stop) {
            return Flow::Stop;
        }
    }
    return Flow::Continue;
}

// Paints rows 0 to height - 1 of a canvas from the top with `paint(y, row)`, each row shown once
// painted, with the progress of forEachRow() and no yield after the last row.
template <class Paint>
Flow scanRows(Canvas& canvas, std::int16_t height, RowProgress& progress, Paint&& paint) {
    return forEachRow(height, progress, LastYield::No, [&](std::int16_t y) {
        paint(y, canvas.mutableRow(y));
        canvas.rowPainted(y);
    });
}

} // namespace imaging
