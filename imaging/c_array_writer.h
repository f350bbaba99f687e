#pragma once
// Writes both planes as C array declarations named Untitled_d and Untitled_l.

#include "imaging/plane_encoder.h"

#include <functional>
#include <string>
#include <string_view>

namespace imaging {

// The exact length of the text that writeArrays() produces.
std::size_t arraysTextSize(std::size_t planeBytes, int width);

// The C text of both planes: each header, an empty line, then "0xHH, " per byte, with a CR LF
// before each byte whose first bit starts a pixel row. The arrays are left open (no closing
// brace) and the text has no final line end. Width must be at least 1.
std::string writeArrays(const Planes& planes, int width);

// The same text in pieces of at most about 256 KiB, handed to `sink` in order, so that a
// file can be written without holding the whole text. Stops early when the sink returns
// false, and then returns false.
bool writeArraysTo(const Planes& planes, int width,
                   const std::function<bool(std::string_view)>& sink);

} // namespace imaging
