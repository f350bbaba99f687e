#include "imaging/quantizer.h"

#include <algorithm>

namespace imaging {

void quantizeRow(std::span<Pixel> row) {
    // greyAverage() is (sum + 1) / 3 for every valid colour, so the level bands are fixed
    // ranges of the byte sum: grey < 43 <=> sum < 128, grey <= 127 <=> sum < 383 and
    // grey <= 212 <=> sum < 638. Branch-free selects let the compiler vectorise the loop.
    for (Pixel& pixel : row) {
        const Pixel sum = (pixel & 0xFF) + ((pixel >> 8) & 0xFF) + ((pixel >> 16) & 0xFF);
        Pixel level = sum < 128 ? Pixel{kBlack} : Pixel{kDarkGrey};
        level = sum < 383 ? level : Pixel{kLightGrey};
        level = sum < 638 ? level : Pixel{kWhite};
        pixel = (pixel & ~kColourMask) | level;
    }
}

Flow quantize(Canvas& canvas, std::int16_t height, std::int16_t width, RowProgress& progress) {
    const auto pixels = static_cast<std::size_t>(std::max<int>(width, 0));
    return scanRows(canvas, height, progress, [&](std::int16_t, std::span<Pixel> row) {
        quantizeRow(row.first(std::min(row.size(), pixels)));
    });
}

} // namespace imaging
