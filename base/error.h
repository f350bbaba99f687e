#pragma once
// One way to say what went wrong, from the bitmap codec up to both front ends: the file it
// concerns and the reason, in words a user can act on.

#include <string>
#include <variant>

namespace base {

struct Error {
    std::string file;   // as the user gave it: the bytes the file system knows it by
    std::string reason; // e.g. "Permission denied"
};

// The reason for a write to standard output whose reader went away (a pipe closed by
// `head`): the program ends with a failure, but it is no news to anyone, so it is not shown.
inline constexpr const char* kReaderWentAway = "the reader of standard output went away";

// A value, or the error that stopped it.
template <typename T> using Result = std::variant<T, Error>;

// "FILE: reason", or the reason alone when no file is named.
inline std::string message(const Error& error) {
    return error.file.empty() ? error.reason : error.file + ": " + error.reason;
}

} // namespace base
