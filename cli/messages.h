#pragma once
// The converter's one way of reporting an error on standard error.

#include "base/error.h"

#include <cstdio>

namespace cli {

// Prints "greyplanes-cli: FILE: reason" (or "greyplanes-cli: reason" when no file is named).
void printError(std::FILE* out, const base::Error& error);

} // namespace cli
