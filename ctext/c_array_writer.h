#pragma once
// Writes the planes as C array declarations, in any of the layouts.

#include "ctext/layout.h"
#include "imaging/frames.h"
#include "imaging/plane_encoder.h"

#include <functional>
#include <string>
#include <string_view>

namespace ctext {

// How the text is dressed. The default is the classic text: arrays Untitled_d and Untitled_l
// left open after their last byte, CR LF line ends, no final line end.
struct TextStyle {
    std::string name = "Untitled"; // planes: arrays NAME_d and NAME_l; other layouts: NAME
    // A C source that compiles as it stands: a first comment naming `source`, a guard against
    // double inclusion, NAME_width and NAME_height, const arrays closed with "};", and a final
    // line end.
    bool complete = false;
    bool lf = false;      // LF line ends instead of CR LF
    std::string source;   // the input file, named in a complete text's first comment
    LayoutOptions layout; // how the levels are laid out in the arrays
    bool art = false;     // a complete text draws the picture in a comment above each array
    // The planes are a sheet of frames, written one after another in the grid's order, each
    // laid out as a picture of the frame's size and starting on a new line; a complete text
    // then gives the frame's extent, NAME_frames and NAME_frame_size. None: one picture. An
    // lvgl descriptor and a tile map hold one picture (ctext::framesProblem) and ignore it.
    imaging::FrameGrid frames{};
};

// The exact length of the text that writeArrays() produces.
std::size_t arraysTextSize(const imaging::Planes& planes, const TextStyle& style = {});

// The C text of the planes in the style's layout: each array's header, an empty line, then its
// elements ("0xHH, ", "0xHHHH, " or "0xHHHHHHHH, "), with a line break where the layout's lines
// start (elementPlan). With layout.mask (planes, packed2 and nibble4), NAME_m follows, laid out
// as maskLayout() says, from the planes' mask (all opaque when they have none). The planes'
// width must be at least 1, and a sheet of frames a whole number of them.
std::string writeArrays(const imaging::Planes& planes, const TextStyle& style = {});

// Waits until the first `rows` rows of the planes are made; false when they never will be.
using AwaitRows = std::function<bool(int rows)>;

// The same text in pieces of at most about 256 KiB, handed to `sink` in order, so that a
// file can be written without holding the whole text. Stops early when the sink returns
// false, and then returns false. With `awaitRows`, the planes may still be being made, at
// their full size: each row is read only once awaitRows() has said it is made (a false from
// it stops the text as the sink's would).
bool writeArraysTo(const imaging::Planes& planes, const std::function<bool(std::string_view)>& sink,
                   const TextStyle& style = {}, const AwaitRows& awaitRows = {});

// Takes a piece of the text at its offset from the text's start.
using PlacedText = std::function<bool(std::size_t offset, std::string_view piece)>;

// The same text as writeArraysTo(), each piece handed with its offset, so that a file that can
// seek may be written in any order. The two arrays of bytes of the planes layout (one picture,
// no drawing, no mask) are written side by side, as their rows are made; any other text in
// order.
bool writeArraysAt(const imaging::Planes& planes, const PlacedText& sink,
                   const TextStyle& style = {}, const AwaitRows& awaitRows = {});

} // namespace ctext
