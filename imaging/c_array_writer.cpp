#include "imaging/c_array_writer.h"

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
std::size_t bytesPerLine(int width)
{
    width = width < 1 ? 1 : width;
    return static_cast<std::size_t>(width / std::gcd(width, 8));
}

std::size_t planeTextSize(std::size_t bytes, std::size_t perLine)
{
    const std::size_t lines = (bytes + perLine - 1) / perLine;
    return 2 * lines + kEntry * bytes;
}

constexpr std::array<std::array<char, kEntry>, 256> makeEntries()
{
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, kEntry>, 256> table{};
    for (std::size_t v = 0; v < 256; ++v) {
        table[v] = {'0', 'x', digits[v >> 4], digits[v & 15], ',', ' '};
    }
    return table;
}
constexpr auto kEntries = makeEntries();

char* put(char* out, std::string_view text)
{
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

char* putPlane(char* out, std::string_view header, const std::vector<std::uint8_t>& plane,
               std::size_t perLine)
{
    out = put(out, header);
    const std::uint8_t* byte = plane.data();
    for (std::size_t left = plane.size(); left > 0;) {
        const std::size_t n = left < perLine ? left : perLine;
        *out++ = '\r';
        *out++ = '\n';
        for (std::size_t k = 0; k < n; ++k) {
            std::memcpy(out, kEntries[*byte++].data(), kEntry);
            out += kEntry;
        }
        left -= n;
    }
    return out;
}

} // namespace

std::size_t arraysTextSize(std::size_t planeBytes, int width)
{
    return kDarkHeader.size() + kLightHeader.size() + kBetween.size() +
           2 * planeTextSize(planeBytes, bytesPerLine(width));
}

std::string writeArrays(const Planes& planes, int width)
{
    const std::size_t perLine = bytesPerLine(width);
    std::string text(arraysTextSize(planes.dark.size(), width), '\0');
    char* out = text.data();
    out = putPlane(out, kDarkHeader, planes.dark, perLine);
    out = put(out, kBetween);
    putPlane(out, kLightHeader, planes.light, perLine);
    return text;
}

} // namespace imaging
