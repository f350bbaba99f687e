#pragma once
// Finds the two byte arrays of a plane text in C source: the way back from text to planes.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace imaging {

// The two arrays, dark first, with the names they had in the text.
struct CArrays {
    std::string darkName;
    std::string lightName;
    std::vector<std::uint8_t> dark;
    std::vector<std::uint8_t> light;
    // The extent that a complete text gives as `#define NAME_width W` and `NAME_height H`
    // (NAME being the arrays' names without _d and _l), or 0 where it gives none.
    int width = 0;
    int height = 0;
};

// Either the arrays or, when the text does not hold exactly two arrays of bytes of the same
// length, the reason (with its line where there is one).
struct CArraysRead {
    CArrays arrays;
    std::string error; // empty on success
};

// Reads C text holding two initialised arrays (`NAME[...] = { ... }`, closed or left open before
// the next declaration or the end), with any names, line ends, comments and preprocessor lines,
// and values written in decimal, hexadecimal, octal or binary from 0 to 255. The first array is
// the dark one, unless the names end in _l and _d: then they say which is which.
CArraysRead readCArrays(std::string_view text);

} // namespace imaging
