#include "imaging/tone.h"

#include <algorithm>
#include <cmath>

namespace imaging {

Levels levelsOf(const Tone& tone) {
    return tone.levels.value_or(kBandValues);
}

std::array<int, 3> plainEdgesOf(const Tone& tone) {
    if (tone.thresholds) {
        return *tone.thresholds;
    }
    const Levels levels = levelsOf(tone);
    std::array<int, 3> edges{};
    for (std::size_t k = 0; k < 3; ++k) {
        edges[k] = (levels[k] + levels[k + 1]) / 2 + 1;
    }
    return edges;
}

std::array<std::uint8_t, 256> toneTable(const Tone& tone) {
    std::array<std::uint8_t, 256> table{};
    for (int g = 0; g < 256; ++g) {
        double x = g + tone.brightness;
        x = (x - 128) * (100 + tone.contrast) / 100 + 128;
        x = std::clamp(x, 0.0, 255.0);
        x = 255 * std::pow(x / 255, 1 / tone.gamma);
        table[static_cast<std::size_t>(g)] =
            static_cast<std::uint8_t>(std::clamp(std::floor(x + 0.5), 0.0, 255.0));
    }
    return table;
}

} // namespace imaging
