#include "bitmap/writer.h"

#include <bit>
#include <cstring>

namespace bitmap {
namespace {

void put16(std::uint8_t*& p, std::uint16_t v) {
    *p++ = static_cast<std::uint8_t>(v & 0xFF);
    *p++ = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t*& p, std::uint32_t v) {
    put16(p, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(p, static_cast<std::uint16_t>(v >> 16));
}

} // namespace

std::size_t bmp24RowBytes(int width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

std::uint64_t bmp24FileSize(int width, int height) {
    return kBmp24HeaderSize +
           std::uint64_t{bmp24RowBytes(width)} * static_cast<std::uint64_t>(height);
}

std::array<std::uint8_t, kBmp24HeaderSize> bmp24Header(int width, int height) {
    // Byte for byte what surface::writeBmp24 has always written (3780 pixels per metre, 96 dpi),
    // so that saved pictures do not change.
    const std::uint64_t dataSize =
        std::uint64_t{bmp24RowBytes(width)} * static_cast<std::uint64_t>(height);
    std::array<std::uint8_t, kBmp24HeaderSize> header{};
    std::uint8_t* p = header.data();
    *p++ = 'B';
    *p++ = 'M';
    put32(p, static_cast<std::uint32_t>(kBmp24HeaderSize + dataSize));
    put32(p, 0);
    put32(p, static_cast<std::uint32_t>(kBmp24HeaderSize));
    put32(p, 40);
    put32(p, static_cast<std::uint32_t>(width));
    put32(p, static_cast<std::uint32_t>(height));
    put16(p, 1);
    put16(p, 24);
    put32(p, 0); // no compression
    put32(p, static_cast<std::uint32_t>(dataSize));
    put32(p, 3780);
    put32(p, 3780);
    put32(p, 0);
    put32(p, 0);
    return header;
}

void encodeBmp24Row(std::span<const Pixel> pixels, std::uint8_t* out) {
    static_assert(std::endian::native == std::endian::little);
    const std::size_t n = pixels.size();
    // Each pixel 0xXXBBGGRR stored as four bytes B, G, R, 0 that the next pixel overwrites in
    // part; the last one is written byte by byte so that nothing lands past the row.
    std::size_t x = 0;
    for (; x + 1 < n; ++x, out += 3) {
        const std::uint32_t v = __builtin_bswap32(pixels[x]) >> 8;
        std::memcpy(out, &v, 4);
    }
    if (n > 0) {
        const Pixel px = pixels[n - 1];
        out[0] = static_cast<std::uint8_t>(px >> 16);
        out[1] = static_cast<std::uint8_t>(px >> 8);
        out[2] = static_cast<std::uint8_t>(px);
        out += 3;
    }
    for (std::size_t pad = (4 - (n * 3) % 4) % 4; pad > 0; --pad) {
        *out++ = 0;
    }
}

} // namespace bitmap
