#pragma once
// The converter's one way of reporting an error: on standard error, with the exit status that
// goes with its kind.

#include "base/error.h"

#include <cstdio>

namespace cli {

// The exit status of a run that failed this way: 2 for a usage error, 1 for any other.
int exitStatus(base::ErrorKind kind);

// Prints "greyplanes-cli: FILE: reason" (or "greyplanes-cli: reason" when no file is named) on
// `out`, and nothing for a quiet error; a usage error that names no file is about the command
// line, and is followed by where to find help. Returns exitStatus(error.kind).
int report(std::FILE* out, const base::Error& error);

} // namespace cli
