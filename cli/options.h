#pragma once
// The converter's command line: parsed from the bytes of argv, so that file names stay exactly
// as given.

#include "base/error.h"
#include "cli/converter.h"

#include <span>
#include <string>

namespace cli {

// What the command line asks for.
enum class Request { Run, Help, Version, UsageError };

struct ParsedCommandLine {
    Request request = Request::UsageError;
    Options options;   // for Run
    base::Error error; // for UsageError: why, in one line, of kind Usage and naming no file
};

// Parses the arguments after the program name as getopt_long does (grouped short options,
// attached values, --option=VALUE, unique prefixes of long options, "--"). Does not touch the
// file system.
ParsedCommandLine parseCommandLine(std::span<const std::string> arguments);

// The text of --help, made from the same table of options as the parser.
std::string usageText();

} // namespace cli
