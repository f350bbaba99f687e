#pragma once
// Writes both planes as C array declarations named Untitled_d and Untitled_l.

#include "imaging/plane_encoder.h"

#include <string>

namespace imaging {

// The exact length of the text that writeArrays() produces.
std::size_t arraysTextSize(std::size_t planeBytes, int width);

// The C text of both planes: each header, an empty line, then "0xHH, " per byte, with a CR LF
// before each byte whose first bit starts a pixel row. The arrays are left open (no closing
// brace) and the text has no final line end. Width must be at least 1.
std::string writeArrays(const Planes& planes, int width);

} // namespace imaging
