#include "surface/bmp_writer.h"

#include "bitmap/writer.h"
#include "imaging/plane_encoder.h"

#include <algorithm>
#include <vector>

namespace surface {

bool writeLevelBitmap(int width, int height, const PixelRowsOf& row,
                      const platform::ByteSink& sink) {
    // Each row goes through the encoder's own rules into one row of planes, so the picture
    // holds what Convert would read from it.
    imaging::Planes bits = imaging::makePlanes(width, 1);
    return bitmap::writeLevelBitmap(
        width, height, imaging::kLevelPalette,
        [&](int y) {
            const imaging::Pixel* line = row(y);
            std::fill(bits.dark.begin(), bits.dark.end(), 0);
            std::fill(bits.light.begin(), bits.light.end(), 0);
            imaging::encodeRow(bits, 0, {line, static_cast<std::size_t>(width)});
            return std::pair<const std::uint8_t*, const std::uint8_t*>{bits.dark.data(),
                                                                       bits.light.data()};
        },
        sink);
}

std::optional<base::Error> saveLevelBitmap(int width, int height, const PixelRowsOf& row,
                                           const std::string& path,
                                           platform::Durability durability) {
    return platform::saveFile(
        path,
        [&](const platform::ByteSink& sink) {
            // A piece the sink refused is the save's to report.
            writeLevelBitmap(width, height, row, sink);
            return std::optional<base::Error>();
        },
        durability);
}

} // namespace surface
