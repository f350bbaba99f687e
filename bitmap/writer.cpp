#include "bitmap/writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>
#include <vector>

namespace bitmap {
namespace {

static_assert(std::endian::native == std::endian::little, "the four bytes are stored swapped");

void put16(std::uint8_t*& p, std::uint16_t v) {
    *p++ = static_cast<std::uint8_t>(v & 0xFF);
    *p++ = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t*& p, std::uint32_t v) {
    put16(p, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(p, static_cast<std::uint16_t>(v >> 16));
}

// Bit i of a byte moved to bit 4i: eight pixels' bits, each in its own nibble.
constexpr std::array<std::uint32_t, 256> makeSpread() {
    std::array<std::uint32_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        for (unsigned i = 0; i < 8; ++i) {
            table[b] |= ((b >> i) & 1u) << (4 * i);
        }
    }
    return table;
}
constexpr auto kSpread = makeSpread();

// Eight pixels' indices as four stored bytes, first pixel in the first byte's high nibble. The
// index is 2 × (no dark bit) + (no light bit), so black is 0 and white 3; a pixel whose
// `opaque` bit is clear is 4.
inline void storeEight(unsigned dark, unsigned light, std::uint8_t* out, unsigned opaque = 0xFFu) {
    const std::uint32_t clear = kSpread[~opaque & 0xFFu];
    // Each nibble of `clear` is 0 or 1, so times 15 fills it without a carry.
    const std::uint32_t v =
        ((kSpread[~dark & 0xFFu] << 1 | kSpread[~light & 0xFFu]) & ~(clear * 15u)) | clear << 2;
    const std::uint32_t stored = __builtin_bswap32(v);
    std::memcpy(out, &stored, 4);
}

} // namespace

std::size_t levelBitmapRowBytes(int width) {
    return ((static_cast<std::size_t>(width) + 1) / 2 + 3) & ~std::size_t{3};
}

namespace {

// The headers with a palette of `colours` (four or five entries) at `p`.
void putHeader(std::uint8_t* p, int width, int height, std::span<const std::uint32_t> colours) {
    const std::uint64_t dataSize =
        std::uint64_t{levelBitmapRowBytes(width)} * static_cast<std::uint64_t>(height);
    const std::size_t headerSize = 14 + 40 + 4 * colours.size();
    *p++ = 'B';
    *p++ = 'M';
    put32(p, static_cast<std::uint32_t>(headerSize + dataSize));
    put32(p, 0);
    put32(p, static_cast<std::uint32_t>(headerSize));
    put32(p, 40);
    put32(p, static_cast<std::uint32_t>(width));
    put32(p, static_cast<std::uint32_t>(height));
    put16(p, 1);
    put16(p, 4);
    put32(p, 0); // no compression
    put32(p, static_cast<std::uint32_t>(dataSize));
    put32(p, 3780); // 96 dpi, as saved pictures always had
    put32(p, 3780);
    // Colours used: the palette is shorter than 4 bits allow.
    put32(p, static_cast<std::uint32_t>(colours.size()));
    put32(p, static_cast<std::uint32_t>(colours.size()));
    // At most five: the bound tells the compiler the header's room is never passed.
    for (std::size_t i = 0; i < std::min<std::size_t>(colours.size(), 5); ++i) {
        const std::uint32_t c = colours[i];
        put32(p, (c & 0xFFu) << 16 | (c & 0xFF00u) | (c >> 16 & 0xFFu)); // B, G, R, 0
    }
}

} // namespace

std::array<std::uint8_t, kLevelBitmapHeaderSize>
levelBitmapHeader(int width, int height, const std::array<std::uint32_t, 4>& colours) {
    std::array<std::uint8_t, kLevelBitmapHeaderSize> header{};
    putHeader(header.data(), width, height, colours);
    return header;
}

void encodeLevelRow(const std::uint8_t* dark, const std::uint8_t* light, int width,
                    std::uint8_t* out, const std::uint8_t* opaque) {
    const auto n = static_cast<std::size_t>(width);
    const std::size_t whole = n / 8;
    if (opaque == nullptr) {
        for (std::size_t k = 0; k < whole; ++k) {
            storeEight(dark[k], light[k], out + 4 * k);
        }
    } else {
        for (std::size_t k = 0; k < whole; ++k) {
            storeEight(dark[k], light[k], out + 4 * k, opaque[k]);
        }
    }
    std::uint8_t* p = out + 4 * whole;
    if (const std::size_t rest = n % 8; rest > 0) {
        std::uint8_t last[4];
        storeEight(dark[whole], light[whole], last, opaque == nullptr ? 0xFFu : opaque[whole]);
        const std::size_t bytes = (rest + 1) / 2;
        std::memcpy(p, last, bytes);
        if (rest % 2 != 0) {
            p[bytes - 1] &= 0xF0; // the pixel after the row's last is padding
        }
        p += bytes;
    }
    std::memset(p, 0, levelBitmapRowBytes(width) - static_cast<std::size_t>(p - out));
}

bool writeLevelBitmap(int width, int height, const std::array<std::uint32_t, 4>& colours,
                      const LevelRowBits& rowBits, const ByteWriter& write,
                      const Transparency* transparency) {
    std::array<std::uint8_t, kMaskedBitmapHeaderSize> header{};
    const std::array<std::uint32_t, 5> five = {colours[0], colours[1], colours[2], colours[3],
                                               transparency ? transparency->colour : 0u};
    const std::span<const std::uint32_t> palette =
        transparency ? std::span<const std::uint32_t>(five) : std::span(five).first(4);
    putHeader(header.data(), width, height, palette);
    const std::size_t headerSize = 14 + 40 + 4 * palette.size();
    if (!write({reinterpret_cast<const char*>(header.data()), headerSize})) {
        return false;
    }
    const std::size_t stride = levelBitmapRowBytes(width);
    const int rowsPerBatch = static_cast<int>(std::max<std::size_t>(1, (1u << 20) / stride));
    std::vector<std::uint8_t> batch(stride * static_cast<std::size_t>(rowsPerBatch));
    for (int y = height - 1; y >= 0;) {
        const int rows = std::min(rowsPerBatch, y + 1);
        for (int r = 0; r < rows; ++r, --y) {
            const auto [dark, light] = rowBits(y);
            encodeLevelRow(dark, light, width, batch.data() + stride * static_cast<std::size_t>(r),
                           transparency ? transparency->rowBits(y) : nullptr);
        }
        if (!write({reinterpret_cast<const char*>(batch.data()),
                    stride * static_cast<std::size_t>(rows)})) {
            return false;
        }
    }
    return true;
}

} // namespace bitmap
