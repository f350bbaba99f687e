#pragma once
// The batch converter's work, apart from parsing its command line.

#include "ctext/c_array_writer.h"
#include "imaging/dither.h"
#include "imaging/frames.h"
#include "imaging/geometry.h"
#include "imaging/plane_encoder.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// File names are kept as the bytes given on the command line, so that every name reaches the
// file system exactly as it was typed.
// "-" stands for standard input or output; a file of that name is reached as "./-".
struct Options {
    std::string input;              // "-": standard input
    std::string textOutput;         // empty: standard output
    std::string pictureOutput;      // empty: no picture; "-": standard output
    ctext::TextStyle style;         // its source is filled in from the input's name; its layout's
                                    // rows also lay out the planes of a conversion and of -r
    ctext::LayoutGiven layoutGiven; // the layout options the command line gave
    bool nameGiven = false;         // -n: with -r, the arrays to read
    imaging::Dither dither = imaging::Dither::None;
    imaging::Tone tone;         // what comes between a pixel and its band
    int reverseWidth = 0;       // above 0: INPUT is C text, and the picture is written
    int reverseHeight = 0;      // with -r WIDTHxHEIGHT: the picture's height
    imaging::Geometry geometry; // turning and sizing before the levels
    bool progress = false;
    // Frames: several INPUTs (the ones after `input`), or a sheet cut by --frames.
    std::vector<std::string> moreInputs;
    imaging::FrameGrid frames; // --frames and --frame-order
    // --transparent: with a mask, pixels of this colour are transparent, and the picture shows
    // transparent pixels in it.
    std::optional<imaging::Colour> transparent;
};

// The name that stands for standard input (INPUT) or standard output (-o, -p).
inline constexpr std::string_view kStandardStream = "-";

// Converts one picture; reports failures on `errors` as "greyplanes-cli: FILE: reason".
// Returns the exit status: 0 when everything was written, 1 when a file failed.
int convert(const Options& options, std::FILE* errors);

} // namespace cli
