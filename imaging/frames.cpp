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

namespace {

// ORs a rectangle of `width` x `height` pixels of `from`, its top left at `at`, into `to` with its
// top left at `place`: the dark and light planes, and the masks where both have one.
void copyRect(const Planes& from, FrameOrigin at, Planes& to, FrameOrigin place, int width,
              int height) {
    const bool masked = !from.mask.empty() && !to.mask.empty();
    std::vector<std::uint8_t> bits;
    const auto w = static_cast<std::size_t>(width);
    for (int y = 0; y < height; ++y) {
        const std::size_t source =
            static_cast<std::size_t>(at.y + y) * from.rowBits() + static_cast<std::size_t>(at.x);
        const std::size_t target = static_cast<std::size_t>(place.y + y) * to.rowBits() +
                                   static_cast<std::size_t>(place.x);
        gatherBits(from.dark, source, w, bits);
        scatterBits(to.dark, target, w, bits);
        gatherBits(from.light, source, w, bits);
        scatterBits(to.light, target, w, bits);
        if (masked) {
            gatherBits(from.mask, source, w, bits);
            scatterBits(to.mask, target, w, bits);
        }
    }
}

} // namespace

Planes cutFrame(const Planes& sheet, const FrameGrid& grid, int index, RowLayout layout) {
    const int width = grid.any() ? grid.width : sheet.width;
    const int height = grid.any() ? grid.height : sheet.height;
    Planes frame = makePlanes(width, height, layout);
    if (!sheet.mask.empty()) {
        frame.mask.assign(frame.planeBytes(), 0);
    }
    copyRect(sheet, frameOrigin(grid, sheet.width, sheet.height, index), frame, {}, width, height);
    return frame;
}

void pasteFrame(Planes& sheet, const FrameGrid& grid, int index, const Planes& frame) {
    copyRect(frame, {}, sheet, frameOrigin(grid, sheet.width, sheet.height, index), frame.width,
             frame.height);
}

} // namespace imaging
