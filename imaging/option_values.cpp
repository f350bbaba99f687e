#include "imaging/option_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace imaging {
namespace {

bool allDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// N whole numbers from 0 to 255, separated by commas, each above the one before.
template <std::size_t N> std::optional<std::array<int, N>> risingValues(std::string_view text) {
    std::array<int, N> values{};
    for (std::size_t i = 0; i < N; ++i) {
        const std::size_t comma = i + 1 < N ? text.find(',') : std::string_view::npos;
        if (i + 1 < N && comma == std::string_view::npos) {
            return std::nullopt;
        }
        const auto value = wholeValue(text.substr(0, comma), 0, 255);
        if (!value || text.starts_with('-') || (i > 0 && *value <= values[i - 1])) {
            return std::nullopt;
        }
        values[i] = *value;
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    }
    return values;
}

constexpr std::array<std::pair<std::string_view, Fit>, 3> kFits{{
    {"contain", Fit::Contain},
    {"cover", Fit::Cover},
    {"stretch", Fit::Stretch},
}};

} // namespace

std::optional<GreyRule> greyRuleNamed(std::string_view text) {
    if (text == "average") {
        return GreyRule::Average;
    }
    if (text == "luma") {
        return GreyRule::Luma;
    }
    return std::nullopt;
}

std::string_view greyRuleName(GreyRule rule) {
    return rule == GreyRule::Luma ? "luma" : "average";
}

std::optional<int> wholeValue(std::string_view text, int low, int high) {
    const std::string_view digits = text.starts_with('-') ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 4 || !allDigits(digits)) {
        return std::nullopt;
    }
    const int value = std::stoi(std::string(text));
    return value >= low && value <= high ? std::optional<int>(value) : std::nullopt;
}

std::optional<int> brightnessValue(std::string_view text) {
    return wholeValue(text, -255, 255);
}

std::optional<int> contrastValue(std::string_view text) {
    return wholeValue(text, -100, 100);
}

std::optional<double> gammaValue(std::string_view text) {
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view("0") : text.substr(point + 1);
    auto digits = [](std::string_view part) { return part.size() <= 6 && allDigits(part); };
    if ((whole.empty() && fraction.empty()) || fraction.empty() || !digits(whole) ||
        !digits(fraction)) {
        return std::nullopt;
    }
    // Read in no locale's words: the window runs in the user's.
    std::string digitsText("0");
    digitsText.append(whole).append(".").append(fraction);
    double value = 0;
    std::from_chars(digitsText.data(), digitsText.data() + digitsText.size(), value);
    return value >= 0.1 && value <= 10 ? std::optional<double>(value) : std::nullopt;
}

std::string gammaText(double gamma) {
    char text[32];
    const auto end =
        std::to_chars(text, text + sizeof text, gamma, std::chars_format::fixed, 6).ptr;
    std::string shown(text, end);
    while (shown.back() == '0') {
        shown.pop_back();
    }
    if (shown.back() == '.') {
        shown.pop_back();
    }
    return shown;
}

std::optional<std::array<int, 3>> thresholdsValue(std::string_view text) {
    const auto edges = risingValues<3>(text);
    return edges && (*edges)[0] >= 1 ? edges : std::nullopt;
}

std::optional<Levels> levelsValue(std::string_view text) {
    return risingValues<4>(text);
}

std::optional<int> quarterTurnsNamed(std::string_view text) {
    for (const auto& [angle, turns] :
         {std::pair<std::string_view, int>{"90", 1}, std::pair<std::string_view, int>{"180", 2},
          std::pair<std::string_view, int>{"270", 3}}) {
        if (text == angle) {
            return turns;
        }
    }
    return std::nullopt;
}

std::optional<int> extentValue(std::string_view text) {
    if (text.empty() || text.size() > 5 || !allDigits(text)) {
        return std::nullopt;
    }
    const int value = std::stoi(std::string(text));
    return value >= 1 && value <= 32767 ? std::optional<int>(value) : std::nullopt;
}

std::optional<std::pair<int, int>> sizeValue(std::string_view text) {
    const std::size_t by = text.find('x');
    const auto side = [](std::string_view part) {
        return part.empty() ? std::optional<int>(0) : extentValue(part);
    };
    const auto width = side(text.substr(0, by));
    const auto height = by == std::string_view::npos ? std::nullopt : side(text.substr(by + 1));
    if (!width || !height || (*width == 0 && *height == 0)) {
        return std::nullopt;
    }
    return std::pair{*width, *height};
}

std::string sizeText(int width, int height) {
    return (width > 0 ? std::to_string(width) : "") + "x" +
           (height > 0 ? std::to_string(height) : "");
}

std::optional<Fit> fitNamed(std::string_view text) {
    for (const auto& [word, fit] : kFits) {
        if (text == word) {
            return fit;
        }
    }
    return std::nullopt;
}

std::string_view fitName(Fit fit) {
    for (const auto& [word, value] : kFits) {
        if (value == fit) {
            return word;
        }
    }
    return {};
}

std::optional<Colour> colourValue(std::string_view text) {
    if (text.size() != 6 || !std::all_of(text.begin(), text.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        })) {
        return std::nullopt;
    }
    const auto rgb = static_cast<Colour>(std::stoi(std::string(text), nullptr, 16));
    return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
}

std::string colourText(Colour colour) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", static_cast<unsigned>(colour & 0xFF),
                  static_cast<unsigned>((colour >> 8) & 0xFF),
                  static_cast<unsigned>((colour >> 16) & 0xFF));
    return text;
}

bool fitApplies(const Geometry& geometry) {
    return geometry.width > 0 && geometry.height > 0;
}

bool backgroundApplies(const Geometry& geometry) {
    return fitApplies(geometry) && geometry.fit == Fit::Contain;
}

} // namespace imaging
