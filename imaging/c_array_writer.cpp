#include "imaging/c_array_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <string_view>

namespace imaging {
namespace {

constexpr std::size_t kEntry = 6; // "0xHH, "

// Bytes per line: a line break comes before each byte that starts a pixel row. Packed rows
// start on a byte every width / gcd(width, 8) bytes; padded rows every row.
std::size_t bytesPerLine(const Planes& planes) {
    const int width = std::max(planes.width, 1);
    if (planes.layout == RowLayout::Padded) {
        return static_cast<std::size_t>(width + 7) / 8;
    }
    return static_cast<std::size_t>(width / std::gcd(width, 8));
}

constexpr std::array<std::array<char, kEntry>, 256> makeEntries() {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, kEntry>, 256> table{};
    for (std::size_t v = 0; v < 256; ++v) {
        table[v] = {'0', 'x', digits[v >> 4], digits[v & 15], ',', ' '};
    }
    return table;
}
constexpr auto kEntries = makeEntries();

// A file name as it may stand inside a C comment on one line.
std::string commentSafe(std::string_view name) {
    std::string safe;
    for (const char c : name) {
        const bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        safe += control ? '?' : c;
        if (safe.size() >= 2 && safe.compare(safe.size() - 2, 2, "*/") == 0) {
            safe.insert(safe.size() - 1, 1, ' ');
        }
    }
    return safe;
}

// The text around the bytes, line ends already in place.
struct Frame {
    std::string head;   // up to the dark array's first byte
    std::string middle; // from after the dark array's last byte to the light one's first
    std::string tail;   // after the light array's last byte
    std::string_view eol;
};

Frame frameOf(const Planes& planes, const TextStyle& style) {
    Frame f;
    f.eol = style.lf ? std::string_view("\n") : std::string_view("\r\n");
    const std::string eol(f.eol);
    const std::string& name = style.name;
    if (!style.complete) {
        f.head = "static unsigned char " + name + "_d[] = {" + eol;
        f.middle = eol + eol + "static unsigned char " + name + "_l[] = {" + eol;
        return f;
    }
    // The name as it is: Logo2 and LOGO2 are two headers and need two guards.
    const std::string guard = "GREYPLANES_" + name + "_H";
    const std::string extent = std::to_string(planes.width) + " x " + std::to_string(planes.height);
    f.head = "/* " + commentSafe(style.source) + ": " + extent + " pixels in four grey levels." +
             eol + " * Two planes of one bit per pixel, most significant bit first, rows " +
             (planes.layout == RowLayout::Padded ? "padded to whole bytes" : "not padded") + "." +
             eol + " * " + name + "_d: black and dark grey pixels; " + name +
             "_l: black and light grey pixels. */" + eol + "#ifndef " + guard + eol + "#define " +
             guard + eol + eol + "#define " + name + "_width " + std::to_string(planes.width) +
             eol + "#define " + name + "_height " + std::to_string(planes.height) + eol + eol +
             "static const unsigned char " + name + "_d[] = {" + eol;
    f.middle = eol + "};" + eol + eol + "static const unsigned char " + name + "_l[] = {" + eol;
    f.tail = eol + "};" + eol + eol + "#endif" + eol;
    return f;
}

std::size_t planeTextSize(std::size_t bytes, std::size_t perLine, std::size_t eol) {
    const std::size_t lines = (bytes + perLine - 1) / perLine;
    return eol * lines + kEntry * bytes;
}

// The entries of bytes [first, last) of a plane, each preceded by a line break where a line
// starts.
char* putBytes(char* out, const std::vector<std::uint8_t>& plane, std::size_t first,
               std::size_t last, std::size_t perLine, std::string_view eol) {
    std::size_t untilBreak = (perLine - first % perLine) % perLine;
    for (std::size_t k = first; k < last; ++k) {
        if (untilBreak == 0) {
            std::memcpy(out, eol.data(), eol.size());
            out += eol.size();
            untilBreak = perLine;
        }
        --untilBreak;
        std::memcpy(out, kEntries[plane[k]].data(), kEntry);
        out += kEntry;
    }
    return out;
}

} // namespace

std::size_t arraysTextSize(const Planes& planes, const TextStyle& style) {
    const Frame f = frameOf(planes, style);
    return f.head.size() + f.middle.size() + f.tail.size() +
           2 * planeTextSize(planes.dark.size(), bytesPerLine(planes), f.eol.size());
}

std::string writeArrays(const Planes& planes, const TextStyle& style) {
    std::string text;
    text.reserve(arraysTextSize(planes, style));
    writeArraysTo(
        planes,
        [&](std::string_view piece) {
            text.append(piece);
            return true;
        },
        style);
    return text;
}

bool writeArraysTo(const Planes& planes, const std::function<bool(std::string_view)>& sink,
                   const TextStyle& style) {
    constexpr std::size_t kBytesPerPiece = std::size_t{1} << 15;
    const Frame f = frameOf(planes, style);
    // Room for the piece's entries and a line break before each of them, at worst.
    std::vector<char> piece((kEntry + 2) * kBytesPerPiece);
    const std::size_t perLine = bytesPerLine(planes);
    auto plane = [&](const std::vector<std::uint8_t>& bytes) {
        for (std::size_t first = 0; first < bytes.size(); first += kBytesPerPiece) {
            const std::size_t last = std::min(bytes.size(), first + kBytesPerPiece);
            const char* end = putBytes(piece.data(), bytes, first, last, perLine, f.eol);
            if (!sink({piece.data(), static_cast<std::size_t>(end - piece.data())})) {
                return false;
            }
        }
        return true;
    };
    return sink(f.head) && plane(planes.dark) && sink(f.middle) && plane(planes.light) &&
           (f.tail.empty() || sink(f.tail));
}

} // namespace imaging
