#pragma once
// The converter's command line: parsed from the bytes of argv, so that file names stay exactly
// as given.

#include "cli/converter.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace cli {

// What the command line asks for.
enum class Request { Run, Help, Version, UsageError };

struct ParsedCommandLine {
    Request request = Request::UsageError;
    Options options;   // for Run
    std::string error; // for UsageError: why, in one line
};

// Parses the arguments after the program name. Does not touch the file system.
ParsedCommandLine parseCommandLine(std::span<const std::string> arguments);

// The text of --help.
std::string_view usageText();

// Why `name` cannot name the arrays (not a C identifier, or a keyword of C or C++), or nothing
// when it can.
std::optional<std::string> nameProblem(std::string_view name);

} // namespace cli
