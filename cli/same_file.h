#pragma once
// The rule that INPUT, -o and -p name different files.

#include "base/error.h"
#include "cli/converter.h"

#include <optional>
#include <string>

namespace cli {

// When two of INPUT, -o (standard output without it) and -p are the same file (through links,
// bind mounts or other spellings: by device and inode for files that exist, by their folder's
// device and inode and their name for those that do not), the usage error that says so.
// Devices and pipes may be named twice, but standard output is never -p while the text goes
// there too. "-" names standard input or output, not a file. The error is of kind Usage and names
// no file of its own: its reason names them all.
std::optional<base::Error> sameFileProblem(const Options& options);

} // namespace cli
