#pragma once
// The way back: from the C text of two planes to the four-level picture.

#include "cli/converter.h"

#include <cstdio>

namespace cli {

// Reads options.input as C text holding the arrays of the layout (those -n names, if given),
// lays their elements out as rows of options.reverseWidth pixels, and writes the picture as a
// four-colour bitmap to options.textOutput, or to standard output when that is empty and not a
// terminal. Reports failures on `errors`; returns 0, 1 (a file cannot be read, holds no planes
// or cannot be written) or 2 (the picture would go to a terminal, or an option given
// contradicts the text's header or does not apply to its layout).
int reverse(const Options& options, std::FILE* errors);

} // namespace cli
