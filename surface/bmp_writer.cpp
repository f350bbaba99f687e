#include "surface/bmp_writer.h"

#include "bitmap/writer.h"

#include <algorithm>
#include <vector>

namespace surface {

bool writeLevelBitmap(int width, int height, const LevelRowsOf& levels,
                      const platform::ByteSink& sink) {
    imaging::Planes bits = imaging::makePlanes(width, 1);
    return bitmap::writeLevelBitmap(
        width, height, imaging::kLevelPalette,
        [&](int y) {
            std::fill(bits.dark.begin(), bits.dark.end(), 0);
            std::fill(bits.light.begin(), bits.light.end(), 0);
            levels(y, bits);
            return std::pair<const std::uint8_t*, const std::uint8_t*>{bits.dark.data(),
                                                                       bits.light.data()};
        },
        sink);
}

std::optional<base::Error> saveLevelBitmap(int width, int height, const LevelRowsOf& levels,
                                           const std::string& path,
                                           platform::Durability durability) {
    return platform::saveFile(
        path,
        [&](const platform::ByteSink& sink) {
            // A piece the sink refused is the save's to report.
            writeLevelBitmap(width, height, levels, sink);
            return std::optional<base::Error>();
        },
        durability);
}

} // namespace surface
