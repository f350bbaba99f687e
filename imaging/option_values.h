#pragma once
// The values of the options before the bands as text: the converter reads them from its command
// line and the window from its dialog through these same readers, so that both take exactly the
// same values; the writers give the text back that reads as the value.

#include "imaging/geometry.h"
#include "imaging/levels.h"
#include "imaging/tone.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace imaging {

// What each option takes, in words that follow "it is".
inline constexpr std::string_view kGreyRuleTakes = "average or luma";
inline constexpr std::string_view kBrightnessTakes = "a whole number from -255 to 255";
inline constexpr std::string_view kContrastTakes = "a whole number from -100 to 100";
inline constexpr std::string_view kGammaTakes = "a number from 0.1 to 10, such as 1.5";
inline constexpr std::string_view kThresholdsTakes =
    "three whole numbers A,B,C with 1 <= A < B < C <= 255";
inline constexpr std::string_view kLevelsTakes =
    "four whole numbers K,D,L,W from 0 to 255, each above the one before";
inline constexpr std::string_view kRotationTakes = "90, 180 or 270";
inline constexpr std::string_view kSizeTakes =
    "WxH, Wx or xH, each a whole number of pixels from 1 to 32767";
inline constexpr std::string_view kFitTakes = "contain, cover or stretch";
inline constexpr std::string_view kColourTakes = "six hex digits RRGGBB, as ffffff for white";

std::optional<GreyRule> greyRuleNamed(std::string_view text);
std::string_view greyRuleName(GreyRule rule);
// A whole number from `low` to `high`: an optional minus sign, then digits.
std::optional<int> wholeValue(std::string_view text, int low, int high);
std::optional<int> brightnessValue(std::string_view text);
std::optional<int> contrastValue(std::string_view text);
// A decimal number from 0.1 to 10: digits, and a point with digits after it.
std::optional<double> gammaValue(std::string_view text);
// The shortest text with at most six decimals that gammaValue reads as `gamma`, near enough.
std::string gammaText(double gamma);
std::optional<std::array<int, 3>> thresholdsValue(std::string_view text);
std::optional<Levels> levelsValue(std::string_view text);
// Numbers joined by commas, as the two above read them.
template <std::size_t N> std::string valuesText(const std::array<int, N>& values) {
    std::string text;
    for (std::size_t i = 0; i < N; ++i) {
        if (i > 0) {
            text += ',';
        }
        text += std::to_string(values[i]);
    }
    return text;
}
// Clockwise quarter turns, 1 to 3, from the angle in degrees.
std::optional<int> quarterTurnsNamed(std::string_view text);
// 1 to 32767, digits only.
std::optional<int> extentValue(std::string_view text);
// Width and height, 0 for a side not given (not both).
std::optional<std::pair<int, int>> sizeValue(std::string_view text);
std::string sizeText(int width, int height);
std::optional<Fit> fitNamed(std::string_view text);
std::string_view fitName(Fit fit);
// Six hex digits RRGGBB as a colour (0xBBGGRR), and back in lower case.
std::optional<Colour> colourValue(std::string_view text);
std::string colourText(Colour colour);

// Whether the fit, and the background, mean anything for the size: only with both sides given,
// and the background only where the fit leaves room around the picture.
bool fitApplies(const Geometry& geometry);
bool backgroundApplies(const Geometry& geometry);

} // namespace imaging
