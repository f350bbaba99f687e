#pragma once
// Reads the initialised integer arrays and the #define'd integers of C text: the way back from
// text to planes. The text is read as C reads it, or refused with its line and the reason.

#include "base/error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ctext {

// One array `TYPE NAME[SIZE] = { ... }` (or the classic open shape, without its closing brace).
struct CArray {
    std::string name;
    int elementBits = 8;    // 8, 16 or 32, from the element type
    std::uint64_t line = 0; // where it is declared, for messages
    std::optional<std::uint64_t> declaredSize;
    // The elements, elementBits / 8 bytes each, most significant first; a declared size is
    // honoured (the missing elements are zero).
    std::vector<std::uint8_t> data;

    // The number of elements.
    std::size_t size() const { return data.size() / static_cast<std::size_t>(elementBits / 8); }
    // Element i (below size()).
    std::uint32_t at(std::size_t i) const;
};

// What the reader takes from a text, in the order of the text.
struct CText {
    std::vector<CArray> arrays;
    std::vector<std::pair<std::string, std::uint64_t>> defines; // #define NAME integer
    std::string firstComment; // the text of the first comment, so a header can state its layout
};

// Fills the span with the next bytes of the text and returns how many, 0 at the end, or -1 on
// an error with errno set.
using ReadFunction = std::function<std::ptrdiff_t(std::span<char>)>;

// The arrays of the largest picture, 32767 x 32767, in its largest layout: nibble4, 16384
// bytes a row.
inline constexpr std::uint64_t kLargestPictureBytes = std::uint64_t{16384} * 32767;
// What the arrays, their names and the defines may take together by default: the largest
// picture's arrays and room for names.
inline constexpr std::uint64_t kCTextBudget = kLargestPictureBytes + (std::uint64_t{16} << 20);

// Reads the text from `read` in a buffer of fixed size, so that only the arrays grow, up to
// `budget` bytes. Errors carry an empty file and a reason of the form "line N: ..."; running
// out of memory is base::noMemory's reason.
base::Result<CText> readCText(const ReadFunction& read, std::uint64_t budget = kCTextBudget);
// The same over a text in memory.
base::Result<CText> readCText(std::string_view text, std::uint64_t budget = kCTextBudget);

// At most `limit` bytes of `bytes` as they may stand in a message: control bytes, NUL, the
// backslash and bytes over 0x7E escaped, and "..." where it was cut.
std::string excerpt(std::string_view bytes, std::size_t limit = 32);

} // namespace ctext
