#pragma once
// Frames of one size held as a sheet: a grid of frames in one pair of planes, as a picture cut
// into sprites is, or as frames from several pictures are put side by side.

#include "imaging/plane_encoder.h"

namespace imaging {

enum class FrameOrder {
    Rows,    // left to right, then top to bottom
    Columns, // top to bottom, then left to right
};

// The frames of a sheet; a width of 0 means the sheet is one picture, not frames.
struct FrameGrid {
    int width = 0;
    int height = 0;
    FrameOrder order = FrameOrder::Rows;

    bool any() const { return width > 0; }
    bool operator==(const FrameGrid&) const = default;
};

// Where frame `index` of a sheet of that extent starts, its top left pixel.
struct FrameOrigin {
    int x = 0;
    int y = 0;
};

// The frames of a sheet (which must be a whole number of them across and down).
int frameCount(const FrameGrid& grid, int sheetWidth, int sheetHeight);
FrameOrigin frameOrigin(const FrameGrid& grid, int sheetWidth, int sheetHeight, int index);

// A copy of frame `index` of the sheet as planes of their own (the mask too, if the sheet has
// one), in `layout`.
Planes cutFrame(const Planes& sheet, const FrameGrid& grid, int index, RowLayout layout);

// The inverse: puts the frame's pixels (and its mask, if both have one) into the sheet, whose
// bits there must still be clear.
void pasteFrame(Planes& sheet, const FrameGrid& grid, int index, const Planes& frame);

} // namespace imaging
