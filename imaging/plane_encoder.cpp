#include "imaging/plane_encoder.h"

#include "imaging/level_bits.h"
#include "imaging/quantizer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>

namespace imaging {
namespace {

static_assert(std::endian::native == std::endian::little, "bytes are gathered little-endian");

// The bits of eight pixels as one byte, first pixel in bit 7. The comparisons yield one byte
// of 0 or 1 per pixel, which a single multiplication gathers into the top byte (pixel k's byte
// moves to bit 63 - k), so the loop has no branches and no shifts per pixel.
inline void packEight(const Pixel* p, std::uint8_t& dark, std::uint8_t& light) {
    std::uint8_t d[8];
    std::uint8_t l[8];
    for (int k = 0; k < 8; ++k) {
        const Pixel c = p[k] & kColourMask;
        const bool black = c == Pixel{kBlack};
        d[k] = static_cast<std::uint8_t>(black | (c == Pixel{kDarkGrey}));
        l[k] = static_cast<std::uint8_t>(black | (c == Pixel{kLightGrey}));
    }
    std::uint64_t dx = 0;
    std::uint64_t lx = 0;
    std::memcpy(&dx, d, 8);
    std::memcpy(&lx, l, 8);
    constexpr std::uint64_t kGather = 0x8040201008040201u;
    dark = static_cast<std::uint8_t>((dx * kGather) >> 56);
    light = static_cast<std::uint8_t>((lx * kGather) >> 56);
}

// The same for the last, partial byte of a row: the missing pixels give zero bits.
inline void packTail(const Pixel* p, std::size_t count, std::uint8_t& dark, std::uint8_t& light) {
    Pixel eight[8];
    for (std::size_t k = 0; k < 8; ++k) {
        eight[k] = k < count ? p[k] : Pixel{kWhite};
    }
    packEight(eight, dark, light);
}

// Eight bytes as one number, the first byte highest, so that a shift moves bits across them
// in row order.
inline std::uint64_t loadHighFirst(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}
inline void storeHighFirst(std::uint8_t* p, std::uint64_t v) {
    v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

// ORs `count` bytes of row bits into a plane that starts `shift` bits into plane[0], the last
// byte masked by `lastMask`. The low bits of a row's last byte are its zero fill; they may fall
// past the plane, which has `planeEnd` bytes from plane[0].
void orShifted(std::uint8_t* plane, const std::uint8_t* bits, std::size_t count, unsigned shift,
               std::size_t planeEnd, std::uint8_t lastMask = 0xFF) {
    if (count == 0) {
        return;
    }
    if (shift == 0) {
        std::size_t k = 0;
        for (; k + 9 <= count; k += 8) {
            std::uint64_t to;
            std::uint64_t from;
            std::memcpy(&to, plane + k, 8);
            std::memcpy(&from, bits + k, 8);
            to |= from;
            std::memcpy(plane + k, &to, 8);
        }
        for (; k + 1 < count; ++k) {
            plane[k] |= bits[k];
        }
        plane[count - 1] |= bits[count - 1] & lastMask;
        return;
    }
    // plane[k] takes the low bits of bits[k - 1] and the high bits of bits[k]: eight bytes at
    // a time up to the last byte, which is masked.
    std::size_t k = 0;
    unsigned before = 0;
    for (; k + 8 < count; k += 8) {
        const std::uint64_t v = loadHighFirst(bits + k) >> shift | std::uint64_t{before}
                                                                       << (64 - shift);
        storeHighFirst(plane + k, loadHighFirst(plane + k) | v);
        before = bits[k + 7];
    }
    for (; k < count; ++k) {
        const unsigned b = k + 1 < count ? bits[k] : bits[k] & lastMask;
        plane[k] |= static_cast<std::uint8_t>(b >> shift | before << (8 - shift));
        before = b;
    }
    if (count < planeEnd) {
        plane[count] |= static_cast<std::uint8_t>(before << (8 - shift));
    }
}

// The row bytes that start `shift` bits into plane[0], the plane having `planeEnd` bytes from
// there; eight at a time while a ninth byte follows.
void gatherShifted(const std::uint8_t* plane, std::size_t planeEnd, unsigned shift,
                   std::uint8_t* out, std::size_t count) {
    std::size_t k = 0;
    for (; k + 8 < planeEnd && k + 8 <= count; k += 8) {
        storeHighFirst(out + k, loadHighFirst(plane + k) << shift | plane[k + 8] >> (8 - shift));
    }
    for (; k < count; ++k) {
        const unsigned low = k + 1 < planeEnd ? plane[k + 1] : 0u;
        out[k] = static_cast<std::uint8_t>((plane[k] << 8 | low) >> (8 - shift));
    }
}

// Room for all the planes' bytes, asked for on huge pages; none of them made yet.
void reserveLarge(Planes& planes, bool masked) {
    const std::size_t bytes = planes.planeBytes();
    for (std::vector<std::uint8_t>* plane : {&planes.dark, &planes.light, &planes.mask}) {
        if (plane == &planes.mask && !masked) {
            break;
        }
        plane->reserve(bytes);
#ifdef MADV_HUGEPAGE
        constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
        const auto start = reinterpret_cast<std::uintptr_t>(plane->data());
        const std::uintptr_t first = (start + kHugePage - 1) / kHugePage * kHugePage;
        const std::uintptr_t end = (start + bytes) / kHugePage * kHugePage;
        if (end > first) {
            madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE); // only advice
        }
#endif
    }
}

} // namespace

std::size_t Planes::rowBits() const {
    const auto w = static_cast<std::size_t>(std::max(width, 0));
    return layout == RowLayout::Padded ? (w + 7) / 8 * 8 : w;
}

std::size_t Planes::planeBytes() const {
    return (rowBits() * static_cast<std::size_t>(std::max(height, 0)) + 7) / 8;
}

Planes makePlanes(int width, int height, RowLayout layout) {
    Planes planes{width, height, layout, {}, {}};
    planes.dark.assign(planes.planeBytes(), 0);
    planes.light.assign(planes.planeBytes(), 0);
    return planes;
}

Planes reservedPlanes(int width, int height, RowLayout layout, bool masked) {
    Planes planes{width, height, layout, {}, {}};
    reserveLarge(planes, masked);
    return planes;
}

void encodeRow(Planes& planes, int y, std::span<const Pixel> row) {
    // Rows are packed whole bytes at a time into a buffer that starts on a byte, then laid
    // into the plane at their bit offset.
    thread_local std::vector<std::uint8_t> dark;
    thread_local std::vector<std::uint8_t> light;
    const std::size_t count = std::min(row.size(), static_cast<std::size_t>(planes.width));
    const std::size_t bytes = (count + 7) / 8;
    dark.resize(bytes);
    light.resize(bytes);
    const std::size_t whole = count / 8;
    for (std::size_t k = 0; k < whole; ++k) {
        packEight(row.data() + 8 * k, dark[k], light[k]);
    }
    if (whole < bytes) {
        packTail(row.data() + 8 * whole, count - 8 * whole, dark[whole], light[whole]);
    }
    const std::size_t offset = static_cast<std::size_t>(y) * planes.rowBits();
    const std::size_t first = offset / 8;
    const std::size_t end = planes.dark.size() - first;
    const auto shift = static_cast<unsigned>(offset % 8);
    orShifted(planes.dark.data() + first, dark.data(), bytes, shift, end);
    orShifted(planes.light.data() + first, light.data(), bytes, shift, end);
}

void rowBytes(const Planes& planes, int y, std::span<std::uint8_t> dark,
              std::span<std::uint8_t> light) {
    const auto width = static_cast<std::size_t>(planes.width);
    const std::size_t bytes = (width + 7) / 8;
    const std::size_t offset = static_cast<std::size_t>(y) * planes.rowBits();
    const std::size_t first = offset / 8;
    if (offset % 8 == 0) {
        std::memcpy(dark.data(), planes.dark.data() + first, bytes);
        std::memcpy(light.data(), planes.light.data() + first, bytes);
    } else {
        const std::size_t end = planes.dark.size() - first;
        const auto shift = static_cast<unsigned>(offset % 8);
        gatherShifted(planes.dark.data() + first, end, shift, dark.data(), bytes);
        gatherShifted(planes.light.data() + first, end, shift, light.data(), bytes);
    }
    // The next row's first bits follow a packed row in its last byte.
    const auto mask = static_cast<std::uint8_t>(0xFFu << ((8 - width % 8) % 8));
    dark[bytes - 1] &= mask;
    light[bytes - 1] &= mask;
}

void setRowBytes(Planes& planes, int y, std::span<const std::uint8_t> dark,
                 std::span<const std::uint8_t> light) {
    const auto width = static_cast<std::size_t>(planes.width);
    const std::size_t bytes = (width + 7) / 8;
    const auto mask = static_cast<std::uint8_t>(0xFFu << ((8 - width % 8) % 8));
    const std::size_t offset = static_cast<std::size_t>(y) * planes.rowBits();
    const std::size_t first = offset / 8;
    const std::size_t end = planes.dark.size() - first;
    const auto shift = static_cast<unsigned>(offset % 8);
    orShifted(planes.dark.data() + first, dark.data(), bytes, shift, end, mask);
    orShifted(planes.light.data() + first, light.data(), bytes, shift, end, mask);
}

void setMaskRowBytes(Planes& planes, int y, std::span<const std::uint8_t> mask) {
    const auto width = static_cast<std::size_t>(planes.width);
    const std::size_t bytes = (width + 7) / 8;
    const auto last = static_cast<std::uint8_t>(0xFFu << ((8 - width % 8) % 8));
    const std::size_t offset = static_cast<std::size_t>(y) * planes.rowBits();
    const std::size_t first = offset / 8;
    orShifted(planes.mask.data() + first, mask.data(), bytes, static_cast<unsigned>(offset % 8),
              planes.mask.size() - first, last);
}

void decodeRow(const Planes& planes, int y, std::span<Pixel> row) {
    constexpr Pixel kByBits[4] = {kWhite, kLightGrey, kDarkGrey, kBlack};
    const std::size_t offset = static_cast<std::size_t>(y) * planes.rowBits();
    const auto width = std::min(row.size(), static_cast<std::size_t>(planes.width));
    for (std::size_t x = 0; x < width; x += 8) {
        const unsigned d = eightBitsAt(planes.dark, offset + x);
        const unsigned l = eightBitsAt(planes.light, offset + x);
        for (std::size_t k = 0; k < 8 && x + k < width; ++k) {
            const unsigned bit = 7 - static_cast<unsigned>(k);
            row[x + k] = kByBits[((d >> bit) & 1u) * 2 + ((l >> bit) & 1u)];
        }
    }
}

} // namespace imaging
