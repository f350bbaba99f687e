#include "imaging/dither.h"

#include "imaging/quantizer.h"

#include <algorithm>
#include <array>

namespace imaging {
namespace {

constexpr std::array<Pixel, 4> kLevels{kBlack, kDarkGrey, kLightGrey, kWhite};
constexpr int kBandStep = 85; // between the band values 0, 85, 170 and 255

int greyOf(Pixel pixel) {
    return static_cast<int>(((pixel & 0xFF) + ((pixel >> 8) & 0xFF) + ((pixel >> 16) & 0xFF) + 1) /
                            3);
}

// The band of a value that error may have pushed outside 0-255: nearest band value, with the
// edges 42.5, 127.5 and 212.5 (a value never equals an edge, so no tie arises).
// Counted rather than branched: over noisy pictures a chain of branches mispredicts half the
// time, and error diffusion cannot hide that latency.
int bandOf(int value) {
    return static_cast<int>(value >= 43) + static_cast<int>(value >= 128) +
           static_cast<int>(value >= 213);
}

// Floyd-Steinberg's share for the next pixel of the row, 7/16 of the error truncated, by value:
// a table look-up is the shortest path from one pixel's value to the next. Values stay within
// about 50 of 0-255 (each pixel receives at most its neighbours' errors, each under 48); the
// table covers -512 to 511, indexed by the value's low ten bits, so no index can leave it.
constexpr unsigned kTableMask = 1023;
struct AheadTable {
    std::array<std::int16_t, kTableMask + 1> share{};
    constexpr AheadTable() {
        for (int v = -512; v < 512; ++v) {
            const int band = (v >= 43) + (v >= 128) + (v >= 213);
            share[static_cast<unsigned>(v) & kTableMask] =
                static_cast<std::int16_t>((v - band * 85) * 7 / 16);
        }
    }
};
constexpr AheadTable kAhead;

void paint(Pixel& pixel, int band) {
    pixel = (pixel & ~kColourMask) | kLevels[static_cast<std::size_t>(band)];
}

// The classic recursive 8 x 8 threshold matrix, 0-63.
constexpr std::array<std::array<std::uint8_t, 8>, 8> kBayer{{
    {0, 32, 8, 40, 2, 34, 10, 42},
    {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},
    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},
    {63, 31, 55, 23, 61, 29, 53, 21},
}};

void bayerRow(int y, std::span<Pixel> row) {
    // The grey plus a threshold offset of (2m + 1) / 128 of a band step, rounded down to a band:
    // band = floor(grey / 85 + (2m + 1) / 128). The band values themselves never move, since
    // the offset stays below one step.
    const auto& thresholds = kBayer[static_cast<std::size_t>(y & 7)];
    for (std::size_t x = 0; x < row.size(); ++x) {
        const int offset = kBandStep * (2 * thresholds[x & 7] + 1);
        const int band = (128 * greyOf(row[x]) + offset) / (128 * kBandStep);
        paint(row[x], std::min(band, 3));
    }
}

// One row of Floyd-Steinberg in the direction Step (the direction a constant, so that the
// loop has nothing to decide).
template <int Step>
void floydSteinbergRow(std::span<Pixel> row, const std::int32_t* here, std::int32_t* below) {
    const int n = static_cast<int>(row.size());
    int ahead = 0;     // for the next pixel of this row
    int belowLast = 0; // below the pixel before, waiting for this pixel's share
    int belowHere = 0; // below this pixel, from the pixel before
    int x = Step > 0 ? 0 : n - 1;
    for (int i = 0; i < n; ++i, x += Step) {
        Pixel& pixel = row[static_cast<std::size_t>(x)];
        const int value = greyOf(pixel) + here[x] + ahead;
        const int band = bandOf(value);
        paint(pixel, band);
        // 7, 3, 5 and 1 sixteenths, truncated; the last share takes what truncation left, so
        // the whole error goes on.
        const int error = value - band * kBandStep;
        ahead = kAhead.share[static_cast<unsigned>(value) & kTableMask];
        const int behind = error * 3 / 16;
        const int under = error * 5 / 16;
        below[x - Step] = belowLast + behind; // the row below has no other source
        belowLast = belowHere + under;
        belowHere = error - ahead - behind - under;
    }
    below[x - Step] = belowLast;
}

} // namespace

std::string_view ditherName(Dither method) {
    switch (method) {
    case Dither::FloydSteinberg:
        return "floyd-steinberg";
    case Dither::Atkinson:
        return "atkinson";
    case Dither::Bayer:
        return "bayer";
    case Dither::None:
        break;
    }
    return "none";
}

std::optional<Dither> ditherNamed(std::string_view name) {
    for (const Dither method :
         {Dither::None, Dither::FloydSteinberg, Dither::Atkinson, Dither::Bayer}) {
        if (name == ditherName(method)) {
            return method;
        }
    }
    return std::nullopt;
}

bool diffusesError(Dither method) {
    return method == Dither::FloydSteinberg || method == Dither::Atkinson;
}

Ditherer::Ditherer(Dither method, int width) : m_method(method), m_width(std::max(width, 0)) {
    if (diffusesError(method)) {
        m_errors.assign(3 * (static_cast<std::size_t>(m_width) + 2 * kMargin), 0);
    }
}

std::int32_t* Ditherer::errorRow(int y) {
    const std::size_t stride = static_cast<std::size_t>(m_width) + 2 * kMargin;
    return m_errors.data() + static_cast<std::size_t>(y % 3) * stride + kMargin;
}

void Ditherer::paintRow(int y, std::span<Pixel> row) {
    row = row.first(std::min<std::size_t>(row.size(), static_cast<std::size_t>(m_width)));
    switch (m_method) {
    case Dither::None:
        quantizeRow(row);
        return;
    case Dither::Bayer:
        bayerRow(y, row);
        return;
    case Dither::FloydSteinberg:
        diffuseFloydSteinberg(y, row);
        break;
    case Dither::Atkinson:
        diffuseAtkinson(y, row);
        break;
    }
    // This row's buffer next collects the error for the row three below.
    std::int32_t* used = errorRow(y) - kMargin;
    std::fill(used, used + m_width + 2 * kMargin, 0);
}

// Both diffusions keep the error bound for the next pixels of the same row in registers, so
// that only the grey, the band and the error lie on the chain from one pixel to the next.
void Ditherer::diffuseFloydSteinberg(int y, std::span<Pixel> row) {
    // Even rows run left to right, odd rows right to left, the weights mirrored with them.
    if ((y & 1) == 0) {
        floydSteinbergRow<1>(row, errorRow(y), errorRow(y + 1));
    } else {
        floydSteinbergRow<-1>(row, errorRow(y), errorRow(y + 1));
    }
}

void Ditherer::diffuseAtkinson(int y, std::span<Pixel> row) {
    // Error is kept in sixteenths of a grey step: an eighth of an error in whole steps, truncated,
    // would drop every error below 8 and hold greys up to 39 off a band value in that band.
    constexpr int kScale = 16;
    const std::int32_t* here = errorRow(y);
    std::int32_t* below = errorRow(y + 1);
    std::int32_t* twoBelow = errorRow(y + 2);
    // Left to right on every row; an eighth of the error to each of six neighbours, the other
    // quarter is dropped, which keeps contrast but pulls greys towards the band values.
    const int n = static_cast<int>(row.size());
    int next = 0;      // for the next pixel of this row
    int afterNext = 0; // for the one after it
    int belowLast = 0; // below the pixel before, waiting for this pixel's share
    int belowHere = 0; // below this pixel, from the pixel before
    for (int x = 0; x < n; ++x) {
        Pixel& pixel = row[static_cast<std::size_t>(x)];
        const int value = kScale * greyOf(pixel) + here[x] + next;
        // The edges 42.5, 127.5 and 212.5 in sixteenths; a value on one goes to the band above.
        const int band = static_cast<int>(value >= 680) + static_cast<int>(value >= 2040) +
                         static_cast<int>(value >= 3400);
        paint(pixel, band);
        const int share = (value - band * kBandStep * kScale) / 8;
        next = afterNext + share;
        afterNext = share;
        below[x - 1] += belowLast + share;
        belowLast = belowHere + share;
        belowHere = share;
        twoBelow[x] += share;
    }
    below[n - 1] += belowLast;
}

Flow dither(Canvas& canvas, std::int16_t height, std::int16_t width, Dither method,
            RowProgress& progress) {
    if (method == Dither::None) {
        return quantize(canvas, height, width, progress);
    }
    Ditherer ditherer(method, width);
    return scanRows(canvas, height, progress,
                    [&](std::int16_t y, std::span<Pixel> row) { ditherer.paintRow(y, row); });
}

} // namespace imaging
