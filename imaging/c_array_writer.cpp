#include "imaging/c_array_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <string_view>

namespace imaging {
namespace {

constexpr std::string_view kDarkHeader = "static unsigned char Untitled_d[] = {\r\n";
constexpr std::string_view kLightHeader = "static unsigned char Untitled_l[] = {\r\n";
constexpr std::string_view kBetween = "\r\n\r\n";
constexpr std::size_t kEntry = 6; // "0xHH, "

// Bytes per line: a line break comes before byte k exactly when 8k is a multiple of the
// width, that is every width / gcd(width, 8) bytes.
std::size_t bytesPerLine(int width) {
    width = width < 1 ? 1 : width;
    return static_cast<std::size_t>(width / std::gcd(width, 8));
}

std::size_t planeTextSize(std::size_t bytes, std::size_t perLine) {
    const std::size_t lines = (bytes + perLine - 1) / perLine;
    return 2 * lines + kEntry * bytes;
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

char* put(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// The entries of bytes [first, last) of a plane, each preceded by a line break where a line
// starts.
char* putBytes(char* out, const std::vector<std::uint8_t>& plane, std::size_t first,
               std::size_t last, std::size_t perLine) {
    std::size_t untilBreak = (perLine - first % perLine) % perLine;
    for (std::size_t k = first; k < last; ++k) {
        if (untilBreak == 0) {
            *out++ = '\r';
            *out++ = '\n';
            untilBreak = perLine;
        }
        --untilBreak;
        std::memcpy(out, kEntries[plane[k]].data(), kEntry);
        out += kEntry;
    }
    return out;
}

} // namespace

std::size_t arraysTextSize(std::size_t planeBytes, int width) {
    return kDarkHeader.size() + kLightHeader.size() + kBetween.size() +
           2 * planeTextSize(planeBytes, bytesPerLine(width));
}

std::string writeArrays(const Planes& planes, int width) {
    const std::size_t perLine = bytesPerLine(width);
    std::string text(arraysTextSize(planes.dark.size(), width), '\0');
    char* out = put(text.data(), kDarkHeader);
    out = putBytes(out, planes.dark, 0, planes.dark.size(), perLine);
    out = put(out, kBetween);
    out = put(out, kLightHeader);
    putBytes(out, planes.light, 0, planes.light.size(), perLine);
    return text;
}

bool writeArraysTo(const Planes& planes, int width,
                   const std::function<bool(std::string_view)>& sink) {
    constexpr std::size_t kBytesPerPiece = std::size_t{1} << 15;
    // Room for the piece's entries and a line break before each of them, at worst.
    std::vector<char> piece((kEntry + 2) * kBytesPerPiece);
    const std::size_t perLine = bytesPerLine(width);
    auto plane = [&](std::string_view header, const std::vector<std::uint8_t>& bytes) {
        if (!sink(header)) {
            return false;
        }
        for (std::size_t first = 0; first < bytes.size(); first += kBytesPerPiece) {
            const std::size_t last = std::min(bytes.size(), first + kBytesPerPiece);
            const char* end = putBytes(piece.data(), bytes, first, last, perLine);
            if (!sink({piece.data(), static_cast<std::size_t>(end - piece.data())})) {
                return false;
            }
        }
        return true;
    };
    return plane(kDarkHeader, planes.dark) && sink(kBetween) && plane(kLightHeader, planes.light);
}

} // namespace imaging
