#pragma once
// One way to say what went wrong, from the bitmap codec up to both front ends: the file it
// concerns, the reason in words a user can act on, and what kind of failure it is, which is
// all a front end needs to pick its exit status or its way of showing it.

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace base {

enum class ErrorKind {
    Input,  // a file cannot be read, written or understood
    Usage,  // the options contradict each other or what the input says
    Memory, // it ran out of memory before it could finish
    Quiet,  // a write to standard output whose reader went away (a pipe closed by `head`):
            // the run fails, but it is no news to anyone, so nothing is shown
};

struct Error {
    std::string file;   // as the user gave it: the bytes the file system knows it by
    std::string reason; // e.g. "Permission denied"
    ErrorKind kind = ErrorKind::Input;
};

// A value, or the error that stopped it.
template <typename T> using Result = std::variant<T, Error>;

// The one wording of running out of memory, with what could not be done ("to read it"), if
// anything is said.
inline std::string noMemoryReason(std::string_view what = {}) {
    std::string reason = "not enough memory";
    if (!what.empty()) {
        reason.append(" ").append(what);
    }
    return reason;
}

inline Error noMemory(std::string file, std::string_view what = {}) {
    return Error{std::move(file), noMemoryReason(what), ErrorKind::Memory};
}

// "FILE: reason", or the reason alone when no file is named.
inline std::string message(const Error& error) {
    return error.file.empty() ? error.reason : error.file + ": " + error.reason;
}

} // namespace base
