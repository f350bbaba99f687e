#pragma once
// What comes between a pixel and its band: the grey rule, the tone table, the band edges and
// the greys the panel shows for its four levels.

#include "imaging/levels.h"

#include <array>
#include <cstdint>
#include <optional>

namespace imaging {

enum class GreyRule {
    Average, // (r + g + b + 1) / 3
    Luma,    // (299 r + 587 g + 114 b + 500) / 1000
};

struct Tone {
    GreyRule grey = GreyRule::Average;
    int brightness = 0; // -255..255, added to the grey
    int contrast = 0;   // -100..100, percent more or less spread around 128
    double gamma = 1.0; // 0.1..10, above 1 lightens the middle greys
    // The plain bands' edges: a grey below the first is black, below the second dark grey,
    // below the third light grey. Without them, half way between the levels.
    std::optional<std::array<int, 3>> thresholds;
    // The greys the panel shows for black, dark grey, light grey and white (increasing); the
    // dithering aims at them.
    std::optional<std::array<int, 4>> levels;

    // Whether the tone table is the identity.
    bool flat() const { return brightness == 0 && contrast == 0 && gamma == 1.0; }
};

using Levels = std::array<int, 4>;
inline constexpr Levels kBandValues = {0, 85, 170, 255};

// The levels the tone aims at: the panel's, or the band values.
Levels levelsOf(const Tone& tone);

// The plain bands' edges on the toned grey: the thresholds, or half way between the levels
// (the edge between p and q is (p + q) / 2 rounded down, plus one).
std::array<int, 3> plainEdgesOf(const Tone& tone);

// The toned grey of each grey 0-255: brightness, then contrast, clamped, then gamma, computed
// in double precision and rounded to the nearest.
std::array<std::uint8_t, 256> toneTable(const Tone& tone);

// The grey of the luma rule, from the bytes of red, green and blue.
constexpr int lumaOf(unsigned red, unsigned green, unsigned blue) {
    return static_cast<int>((299 * red + 587 * green + 114 * blue + 500) / 1000);
}

} // namespace imaging
