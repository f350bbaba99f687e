#pragma once
// The batch converter's work, apart from parsing its command line.

#include "imaging/c_array_writer.h"
#include "imaging/dither.h"
#include "imaging/plane_encoder.h"

#include <cstdio>
#include <string>

namespace cli {

// File names are kept as the bytes given on the command line, so that every name reaches the
// file system exactly as it was typed.
struct Options {
    std::string input;
    std::string textOutput;    // empty: standard output
    std::string pictureOutput; // empty: no picture
    imaging::TextStyle style;  // its source is filled in from the input's name
    imaging::RowLayout layout = imaging::RowLayout::Packed;
    imaging::Dither dither = imaging::Dither::None;
    int reverseWidth = 0; // above 0: INPUT is C text, and the picture is written
    bool progress = false;
};

// Converts one picture; reports failures on `errors` as "greyplanes-cli: FILE: reason".
// Returns the exit status: 0 when everything was written, 1 when a file failed.
int convert(const Options& options, std::FILE* errors);

} // namespace cli
