#pragma once
// The way back: from the C text of a layout to the planes of the picture it stands for.

#include "base/error.h"
#include "ctext/c_array_reader.h"
#include "ctext/layout.h"
#include "imaging/frames.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace conversion {

// What the way back is asked for.
struct ReverseOptions {
    std::string input;         // the C text's file, "-" for standard input
    int width = 0;             // pixels a row; 0: a complete header's NAME_width
    std::optional<int> height; // settles packed rows narrower than a byte
    ctext::LayoutOptions layout;
    ctext::LayoutGiven given; // which of `layout` the command line gave
    // The arrays to read, named as -n names them (NAME_d and NAME_l, or NAME); none: the
    // text's only arrays, whatever their names.
    std::optional<std::string> name;
    // The text holds frames of this size, read into a sheet of width x height (the frames in
    // the grid's order); none: a complete header's frames, if it states them, else one picture.
    imaging::FrameGrid frames{};
};

// What the way back reads from C text: its arrays, its integer #defines and its first comment.
using TextArrays = ctext::CText;

// Lays the arrays out as the picture. A complete header (its first comment says the layout and
// any mask, NAME_width and NAME_height the extent, NAME_frames its frames, put in one row
// without options.frames) gives what the options leave out; NAME_m, when the header or
// layout.mask says there is a mask, is read into the planes' mask. An option that
// contradicts it is an error of kind Usage; a text that cannot be read or does not fit, of kind
// Input. Element counts that fit no whole picture of the layout are
// reported with the numbers (and with the row padding that would fit, if one does).
base::Result<imaging::Planes> reverseArrays(TextArrays text, const std::string& name,
                                            const ReverseOptions& options);

// The same for the text in options.input.
base::Result<imaging::Planes> reverseFile(const ReverseOptions& options);

} // namespace conversion
