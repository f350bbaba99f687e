#pragma once
// The ways the four levels are laid out in C arrays, one for each kind of display routine.

#include "imaging/plane_encoder.h"

namespace imaging {

enum class Layout {
    Planes,  // two arrays, NAME_d and NAME_l, of one bit a pixel
    Gb,      // one array of 8 x 8 tiles of 2 bits a pixel, 16 bytes a tile
    Packed2, // one array, 2 bits a pixel, four pixels a byte
    Nibble4, // one array, 4 bits a pixel, two pixels a byte
};

// The order of the tiles of the Gb layout.
enum class TileOrder {
    Rows,     // left to right, then top to bottom
    Columns,  // top to bottom, then left to right
    Tall8x16, // for each band of 16 rows, each column of 8 gives its top tile, then the one below
};

struct LayoutOptions {
    Layout layout = Layout::Planes;
    RowLayout rows = RowLayout::Packed;    // Planes: rows run on, or start on a new element
    int word = 8;                          // Planes: bits an element, 8, 16 or 32
    TileOrder tileOrder = TileOrder::Rows; // Gb
    bool invert = false;                   // Packed2 and Nibble4: white is 0
};

} // namespace imaging
