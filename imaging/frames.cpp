#include "imaging/frames.h"

#include <vector>

namespace imaging {
namespace {

// `count` bits of `from` starting at bit `at`, as bytes with the first bit in bit 7.
void gatherBits(const std::vector<std::uint8_t>& from, std::size_t at, std::size_t count,
                std::vector<std::uint8_t>& out) {
    out.assign((count + 7) / 8, 0);
    for (std::size_t k = 0; k < out.size(); ++k) {
        out[k] = static_cast<std::uint8_t>(eightBitsAt(from, at + 8 * k));
    }
    if (count % 8 != 0) {
        out.back() &= static_cast<std::uint8_t>(0xFFu << (8 - count % 8));
    }
}

// ORs `count` bits, laid out as gatherBits() gives them (zero past `count`), into `to` from
// bit `at`.
void scatterBits(std::vector<std::uint8_t>& to, std::size_t at, std::size_t count,
                 const std::vector<std::uint8_t>& bits) {
    const std::size_t first = at / 8;
    const auto shift = static_cast<unsigned>(at % 8);
    for (std::size_t k = 0; k < (count + 7) / 8; ++k) {
        to[first + k] |= static_cast<std::uint8_t>(bits[k] >> shift);
        if (shift != 0 && first + k + 1 < to.size()) {
            to[first + k + 1] |= static_cast<std::uint8_t>(bits[k] << (8 - shift));
        }
    }
}

} // namespace

int frameCount(const FrameGrid& grid, int sheetWidth, int sheetHeight) {
    return grid.any() ? (sheetWidth / grid.width) * (sheetHeight / grid.height) : 1;
}

FrameOrigin frameOrigin(const FrameGrid& grid, int sheetWidth, int sheetHeight, int index) {
    if (!grid.any()) {
        return {};
    }
    const int across = sheetWidth / grid.width;
    const int down = sheetHeight / grid.height;
    const int column = grid.order == FrameOrder::Rows ? index % across : index / down;
    const int row = grid.order == FrameOrder::Rows ? index / across : index % down;
    return {column * grid.width, row * grid.height};
}

Planes cutFrame(const Planes& sheet, const FrameGrid& grid, int index, RowLayout layout) {
    const FrameOrigin origin = frameOrigin(grid, sheet.width, sheet.height, index);
    const int width = grid.any() ? grid.width : sheet.width;
    const int height = grid.any() ? grid.height : sheet.height;
    Planes frame = makePlanes(width, height, layout);
    const bool masked = !sheet.mask.empty();
    if (masked) {
        frame.mask.assign(frame.planeBytes(), 0);
    }
    std::vector<std::uint8_t> bits;
    const auto w = static_cast<std::size_t>(width);
    for (int y = 0; y < height; ++y) {
        const std::size_t from = static_cast<std::size_t>(origin.y + y) * sheet.rowBits() +
                                 static_cast<std::size_t>(origin.x);
        const std::size_t to = static_cast<std::size_t>(y) * frame.rowBits();
        gatherBits(sheet.dark, from, w, bits);
        scatterBits(frame.dark, to, w, bits);
        gatherBits(sheet.light, from, w, bits);
        scatterBits(frame.light, to, w, bits);
        if (masked) {
            gatherBits(sheet.mask, from, w, bits);
            scatterBits(frame.mask, to, w, bits);
        }
    }
    return frame;
}

void pasteFrame(Planes& sheet, const FrameGrid& grid, int index, const Planes& frame) {
    const FrameOrigin origin = frameOrigin(grid, sheet.width, sheet.height, index);
    const bool masked = !sheet.mask.empty() && !frame.mask.empty();
    std::vector<std::uint8_t> bits;
    const auto w = static_cast<std::size_t>(frame.width);
    for (int y = 0; y < frame.height; ++y) {
        const std::size_t from = static_cast<std::size_t>(y) * frame.rowBits();
        const std::size_t to = static_cast<std::size_t>(origin.y + y) * sheet.rowBits() +
                               static_cast<std::size_t>(origin.x);
        gatherBits(frame.dark, from, w, bits);
        scatterBits(sheet.dark, to, w, bits);
        gatherBits(frame.light, from, w, bits);
        scatterBits(sheet.light, to, w, bits);
        if (masked) {
            gatherBits(frame.mask, from, w, bits);
            scatterBits(sheet.mask, to, w, bits);
        }
    }
}

} // namespace imaging
