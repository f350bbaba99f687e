#pragma once
// The names the C text may give its arrays: C identifiers that are neither a keyword of C nor
// one of C++.

#include <optional>
#include <string>
#include <string_view>

namespace ctext {

// Why `name` cannot name the arrays (not a C identifier, or a keyword of C or C++), or nothing
// when it can.
std::optional<std::string> nameProblem(std::string_view name);

// The identifier a file's stem becomes, by the CMake function's rule: each byte but letters,
// digits and '_' becomes '_', and a leading digit gets a '_' in front. It may still be a keyword.
std::string identifierOf(std::string_view stem);

} // namespace ctext
