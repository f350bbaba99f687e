#include "imaging/plane_encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace imaging {
namespace {

static_assert(std::endian::native == std::endian::little, "bytes are gathered little-endian");

// Accumulates bits into whole bytes across row ends.
class BitPacker {
  public:
    explicit BitPacker(std::uint8_t* out) : m_out(out) {}

    void push(unsigned bit) {
        m_acc = (m_acc << 1) | bit;
        if (++m_count == 8) {
            *m_out++ = static_cast<std::uint8_t>(m_acc);
            m_acc = 0;
            m_count = 0;
        }
    }
    bool aligned() const { return m_count == 0; }
    void pushByte(std::uint8_t byte) { *m_out++ = byte; }
    void finish() {
        if (m_count > 0) {
            *m_out++ = static_cast<std::uint8_t>(m_acc << (8 - m_count));
        }
    }

  private:
    std::uint8_t* m_out;
    unsigned m_acc = 0;
    unsigned m_count = 0;
};

// Dark bit for black and dark grey, light bit for black and light grey; exact matches only.
inline unsigned darkBit(Pixel p) {
    const Pixel c = p & kColourMask;
    return static_cast<unsigned>(c == Pixel{kBlack} || c == Pixel{kDarkGrey});
}
inline unsigned lightBit(Pixel p) {
    const Pixel c = p & kColourMask;
    return static_cast<unsigned>(c == Pixel{kBlack} || c == Pixel{kLightGrey});
}

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

} // namespace

std::optional<Planes> encodePlanes(const Canvas& canvas, std::int16_t height, std::int16_t width,
                                   RowProgress& progress) {
    Planes planes;
    const std::size_t rows = static_cast<std::size_t>(std::max<int>(height, 0));
    const std::size_t columns = static_cast<std::size_t>(std::max<int>(width, 0));
    planes.pixels = rows * columns;
    // Room for the whole planes now, so that they never move; they grow a row at a time, so
    // the cost of their fresh pages is spread over the rows instead of coming before the first
    // yield (on a huge picture that is a noticeable pause).
    const std::size_t bytes = (planes.pixels + 7) / 8;
    planes.dark.reserve(bytes);
    planes.light.reserve(bytes);
    auto growTo = [&](std::size_t pixelsDone) {
        planes.dark.resize(pixelsDone / 8);
        planes.light.resize(pixelsDone / 8);
    };
    BitPacker dark(planes.dark.data());
    BitPacker light(planes.light.data());

    progress.reportTotal(height);
    if (progress.yield() == Flow::Stop) {
        return std::nullopt;
    }
    for (std::int16_t y = 0; y < height; ++y) {
        growTo((static_cast<std::size_t>(y) + 1) * columns);
        const std::span<const Pixel> row = canvas.row(y);
        const Pixel* p = row.data();
        const Pixel* end = p + std::min(row.size(), columns);
        // Bit by bit until both packers sit on a byte boundary, then whole bytes at a time.
        while (p != end && !dark.aligned()) {
            dark.push(darkBit(*p));
            light.push(lightBit(*p));
            ++p;
        }
        for (; end - p >= 8; p += 8) {
            std::uint8_t d = 0;
            std::uint8_t l = 0;
            packEight(p, d, l);
            dark.pushByte(d);
            light.pushByte(l);
        }
        for (; p != end; ++p) {
            dark.push(darkBit(*p));
            light.push(lightBit(*p));
        }
        // Columns past the canvas's own row read as no colour, which encodes as white.
        for (std::size_t x = row.size(); x < columns; ++x) {
            dark.push(0);
            light.push(0);
        }
        progress.reportRowsDone(static_cast<std::int16_t>(y + 1));
        if (progress.yield() == Flow::Stop) {
            return std::nullopt;
        }
    }
    growTo(bytes * 8);
    dark.finish();
    light.finish();
    return planes;
}

} // namespace imaging
