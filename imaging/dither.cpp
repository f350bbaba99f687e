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

// Everything Floyd-Steinberg does with a value, looked up by the value: one load is the
// shortest path from one pixel's value to the next, and the shares need no division. Values
// stay within about 50 of 0-255 (each pixel receives at most its neighbours' errors, each
// under 48); the table covers -512 to 511, indexed by the value's low ten bits, so no index can
// leave it.
constexpr unsigned kTableMask = 1023;
struct FloydSteinbergStep {
    std::int16_t ahead;  // 7/16 of the error, truncated, for the next pixel of the row
    std::int16_t behind; // 3/16 below the pixel before
    std::int16_t under;  // 5/16 below this one
    std::int8_t rest;    // what truncation left, below the next pixel: the whole error goes on
    std::uint8_t band;
};
struct FloydSteinbergTable {
    std::array<FloydSteinbergStep, kTableMask + 1> steps{};
    constexpr FloydSteinbergTable() {
        for (int v = -512; v < 512; ++v) {
            const int band = (v >= 43) + (v >= 128) + (v >= 213);
            const int error = v - band * 85;
            const int ahead = error * 7 / 16;
            const int behind = error * 3 / 16;
            const int under = error * 5 / 16;
            steps[static_cast<unsigned>(v) & kTableMask] = {
                static_cast<std::int16_t>(ahead), static_cast<std::int16_t>(behind),
                static_cast<std::int16_t>(under),
                static_cast<std::int8_t>(error - ahead - behind - under),
                static_cast<std::uint8_t>(band)};
        }
    }
    const FloydSteinbergStep& operator[](int value) const {
        return steps[static_cast<unsigned>(value) & kTableMask];
    }
};
constexpr FloydSteinbergTable kFloydSteinberg;

// Atkinson's eighth of the error by value, in sixteenths of a grey step. The table covers every
// value its own shares can make (checked below), so no index needs a mask: six shares of at
// most an eighth of an error each cannot push a value as far as the error they came from.
constexpr int kAtkinsonScale = 16;
constexpr int kAtkinsonLowest = -2048;
constexpr int kAtkinsonHighest = 6143;
struct AtkinsonTable {
    std::array<std::int16_t, kAtkinsonHighest - kAtkinsonLowest + 1> shares{};
    int most = 0; // the largest share in size
    constexpr AtkinsonTable() {
        for (int v = kAtkinsonLowest; v <= kAtkinsonHighest; ++v) {
            // The edges 42.5, 127.5 and 212.5 in sixteenths; a value on one goes to the band
            // above.
            const int band = (v >= 680) + (v >= 2040) + (v >= 3400);
            const int share = (v - band * 85 * kAtkinsonScale) / 8;
            shares[static_cast<std::size_t>(v - kAtkinsonLowest)] =
                static_cast<std::int16_t>(share);
            most = std::max(most, share < 0 ? -share : share);
        }
    }
    int operator[](int value) const {
        return shares[static_cast<std::size_t>(value - kAtkinsonLowest)];
    }
};
constexpr AtkinsonTable kAtkinson;
// A value is a grey and six shares: two from this row, three from the row above, one from the
// row above that.
static_assert(-6 * kAtkinson.most >= kAtkinsonLowest);
static_assert(255 * kAtkinsonScale + 6 * kAtkinson.most <= kAtkinsonHighest);

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
// loop has nothing to decide). `grey(x)` gives a pixel's grey, `put(x, band)` takes its band.
template <int Step, typename Grey, typename Put>
void floydSteinbergRow(int n, Grey grey, Put put, const std::int32_t* here, std::int32_t* below) {
    int ahead = 0;     // for the next pixel of this row
    int belowLast = 0; // below the pixel before, waiting for this pixel's share
    int belowHere = 0; // below this pixel, from the pixel before
    int x = Step > 0 ? 0 : n - 1;
    for (int i = 0; i < n; ++i, x += Step) {
        const int value = grey(x) + here[x] + ahead;
        const FloydSteinbergStep& step = kFloydSteinberg[value];
        ahead = step.ahead;
        put(x, step.band);
        below[x - Step] = belowLast + step.behind; // the row below has no other source
        belowLast = belowHere + step.under;
        belowHere = step.rest;
    }
    below[x - Step] = belowLast;
}

// One row of Atkinson, left to right on every row; an eighth of the error to each of six
// neighbours, the other quarter is dropped, which keeps contrast but pulls greys towards the
// band values.
template <typename Grey, typename Put>
void atkinsonRow(int n, Grey grey, Put put, const std::int32_t* here, std::int32_t* below,
                 std::int32_t* twoBelow) {
    // Error is kept in sixteenths of a grey step: an eighth of an error in whole steps, truncated,
    // would drop every error below 8 and hold greys up to 39 off a band value in that band.
    int share = 0;     // of the pixel before, for this one
    int afterNext = 0; // of the pixel two before, for this one
    int belowLast = 0; // below the pixel before, waiting for this pixel's share
    int belowHere = 0; // below this pixel, from the pixel before
    for (int x = 0; x < n; ++x) {
        // The share of the pixel before comes last: it alone is on the chain from pixel to
        // pixel.
        const int value = (kAtkinsonScale * grey(x) + here[x] + afterNext) + share;
        afterNext = share;
        share = kAtkinson[value];
        put(x, static_cast<int>(value >= 680) + static_cast<int>(value >= 2040) +
                   static_cast<int>(value >= 3400));
        below[x - 1] += belowLast + share;
        belowLast = belowHere + share;
        belowHere = share;
        twoBelow[x] += share;
    }
    below[n - 1] += belowLast;
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
    case Dither::Atkinson:
        diffuse(
            y, static_cast<int>(row.size()),
            [row](int x) { return greyOf(row[static_cast<std::size_t>(x)]); },
            [row](int x, int band) { paint(row[static_cast<std::size_t>(x)], band); });
        return;
    }
}

// Both diffusions keep the error bound for the next pixels of the same row in registers, so
// that only the grey, the band and the error lie on the chain from one pixel to the next.
template <typename Grey, typename Put> void Ditherer::diffuse(int y, int n, Grey grey, Put put) {
    if (m_method == Dither::Atkinson) {
        atkinsonRow(n, grey, put, errorRow(y), errorRow(y + 1), errorRow(y + 2));
    } else if ((y & 1) == 0) {
        // Even rows run left to right, odd rows right to left, the weights mirrored with them.
        floydSteinbergRow<1>(n, grey, put, errorRow(y), errorRow(y + 1));
    } else {
        floydSteinbergRow<-1>(n, grey, put, errorRow(y), errorRow(y + 1));
    }
    // This row's buffer next collects the error for the row three below.
    std::int32_t* used = errorRow(y) - kMargin;
    std::fill(used, used + m_width + 2 * kMargin, 0);
}

void Ditherer::diffuseGreys(int y, const std::uint8_t* greys, std::uint8_t* bands) {
    diffuse(
        y, m_width, [greys](int x) { return static_cast<int>(greys[x]); },
        [bands](int x, int band) { bands[x] = static_cast<std::uint8_t>(band); });
}

BandEdges bayerEdges(int y) {
    // A pixel is in band k or above when 128 * grey + 85 * (2m + 1) >= 128 * 85 * k, that is when
    // its grey is at least the ceiling of (10880 k - 85 (2m + 1)) / 128, and a grey g is reached
    // by the sums from 3g - 1 up.
    const auto& thresholds = kBayer[static_cast<std::size_t>(y & 7)];
    BandEdges edges{};
    for (std::size_t x = 0; x < 8; ++x) {
        const int offset = kBandStep * (2 * thresholds[x] + 1);
        auto from = [&](int band) {
            const int grey = (128 * kBandStep * band - offset + 127) / 128;
            return static_cast<std::uint16_t>(3 * grey - 1);
        };
        edges.black[x] = from(1);
        edges.dark[x] = from(2);
        edges.light[x] = from(3);
    }
    return edges;
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
