#pragma once
// Finding and loading the converter's picture module: only from where the program itself lies,
// and only a module built for this converter's interface.

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace cli {

// Where the module named `name` may lie, for the program at `program` (the target of
// /proc/self/exe): beside it (a build tree), then in `installedFolder` relative to its folder.
// None when `program` is not an absolute path: a relative one would be looked up from the
// working folder, where anyone may have put a file of that name.
std::vector<std::string> moduleCandidates(const std::string& program, std::string_view name,
                                          std::string_view installedFolder);

// The path of the running program, links resolved; empty, with the reason in `why`, when it
// cannot be told.
std::string ownProgram(std::string& why);

// Loads the first candidate that exists and checks that its function `versionSymbol` returns
// `version`. Returns the module's handle, or why it cannot be used: the module's path and the
// loader's reason, or the places looked at when there is none.
std::variant<void*, std::string> loadModule(const std::vector<std::string>& candidates,
                                            const char* versionSymbol, int version);

} // namespace cli
