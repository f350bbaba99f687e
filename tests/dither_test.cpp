// The dithering methods: each against the rules it shares with the plain quantizer, the tone it
// keeps over flat patches, and one hand-worked picture each.

#include "imaging/dither.h"
#include "imaging/quantizer.h"
#include "support/memory_canvas.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace imaging;
using testing_support::levelOf;

namespace {

constexpr std::array kMethods{Dither::None, Dither::FloydSteinberg, Dither::Atkinson,
                              Dither::Bayer};

int bandIndex(Pixel pixel) {
    switch (pixel & kColourMask) {
    case kBlack:
        return 0;
    case kDarkGrey:
        return 1;
    case kLightGrey:
        return 2;
    case kWhite:
        return 3;
    }
    return -1;
}

Pixel grey(int value) {
    return static_cast<Pixel>(value) * 0x010101u;
}

// Dithers a picture given row by row, from the top, and returns its band indexes.
std::vector<std::vector<int>> bands(Dither method, std::vector<std::vector<Pixel>> rows) {
    Ditherer ditherer(method, static_cast<int>(rows.front().size()));
    std::vector<std::vector<int>> result;
    for (std::size_t y = 0; y < rows.size(); ++y) {
        ditherer.paintRow(static_cast<int>(y), rows[y]);
        result.emplace_back();
        for (const Pixel pixel : rows[y]) {
            result.back().push_back(bandIndex(pixel));
        }
    }
    return result;
}

} // namespace

// Every colour, in rows of 4096, against a picture of the colours' grey averages: every method
// must see only (r + g + b + 1) / 3, and None must be the plain level of it.
TEST(Dither, EveryColourActsAsItsGreyAverage) {
    constexpr int kWidth = 4096;
    for (const Dither method : kMethods) {
        Ditherer colours(method, kWidth);
        Ditherer greys(method, kWidth);
        std::vector<Pixel> row(kWidth);
        std::vector<Pixel> greyRow(kWidth);
        for (int y = 0; y < (1 << 24) / kWidth; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const auto colour = static_cast<Colour>(y * kWidth + x);
                row[x] = 0xAB000000u | static_cast<Pixel>(colour);
                greyRow[x] = grey(greyAverage(colour));
            }
            colours.paintRow(y, row);
            greys.paintRow(y, greyRow);
            for (int x = 0; x < kWidth; ++x) {
                ASSERT_EQ(row[x] & kColourMask, greyRow[x] & kColourMask) << "row " << y;
                ASSERT_EQ(row[x] >> 24, 0xABu);
                if (method == Dither::None) {
                    ASSERT_EQ(static_cast<Colour>(row[x] & kColourMask),
                              levelOf(greyAverage(y * kWidth + x)));
                }
            }
        }
    }
}

TEST(Dither, BandValuesSurviveEveryMethod) {
    std::mt19937 random(13);
    constexpr std::array<Pixel, 4> kBandColours{0x000000, 0x555555, 0xAAAAAA, 0xFFFFFF};
    std::vector<std::vector<Pixel>> picture(37, std::vector<Pixel>(53));
    std::vector<std::vector<int>> expected(picture.size(), std::vector<int>(picture[0].size()));
    for (std::size_t y = 0; y < picture.size(); ++y) {
        for (std::size_t x = 0; x < picture[y].size(); ++x) {
            const auto band = static_cast<int>(random() % 4);
            picture[y][x] = kBandColours[static_cast<std::size_t>(band)];
            expected[y][x] = band;
        }
    }
    for (const Dither method : kMethods) {
        EXPECT_EQ(bands(method, picture), expected) << static_cast<int>(method);
    }
}

// The mean of the band values painted over a flat 64 x 64 patch, against the patch's grey.
// Floyd-Steinberg loses only what falls off the patch's edges and Bayer rounds to 64ths of a
// band step; Atkinson drops a quarter of every error by design, so its mean lags behind greys
// between the bands by up to 10.
struct Tolerance {
    Dither method;
    double allowed;
};

class FlatPatch : public testing::TestWithParam<Tolerance> {};

TEST_P(FlatPatch, KeepsItsMeanGrey) {
    const auto [method, allowed] = GetParam();
    double worst = 0;
    for (int value = 0; value < 256; ++value) {
        const auto painted = bands(method, std::vector(64, std::vector<Pixel>(64, grey(value))));
        double sum = 0;
        for (const auto& row : painted) {
            for (const int band : row) {
                sum += 85 * band;
            }
        }
        const double off = std::abs(sum / (64 * 64) - value);
        worst = std::max(worst, off);
        EXPECT_LE(off, allowed) << "grey " << value;
    }
    RecordProperty("worst", std::to_string(worst));
}

INSTANTIATE_TEST_SUITE_P(Dither, FlatPatch,
                         testing::Values(Tolerance{Dither::None, 42.5},
                                         Tolerance{Dither::FloydSteinberg, 0.5},
                                         Tolerance{Dither::Atkinson, 10.0},
                                         Tolerance{Dither::Bayer, 85.0 / 128}));

// Worked by hand from each method's rule (grey values; bands 0-3 for black to white).
TEST(Dither, HandWorkedPictures) {
    const std::vector<std::vector<Pixel>> small{
        {grey(100), grey(30), grey(200), grey(60)},
        {grey(10), grey(120), grey(250), grey(140)},
        {grey(90), grey(40), grey(160), grey(220)},
    };
    // Row 0 leaves 43 at its end (dark grey, just); row 1 runs right to left, so 120 gets 6 of
    // error and stays dark grey (left to right it would get 15 and turn light grey).
    EXPECT_EQ(bands(Dither::FloydSteinberg, {small[0], small[1]}),
              (std::vector<std::vector<int>>{{1, 0, 3, 1}, {0, 1, 3, 1}}));
    // In sixteenths of a grey: row 0 sends 30, 63, 71 and -33 on; 120 in row 1 gets 195
    // sixteenths and turns light grey; 40 in row 2 ends at 665, just under the edge 680.
    EXPECT_EQ(bands(Dither::Atkinson, small),
              (std::vector<std::vector<int>>{{1, 0, 2, 1}, {0, 2, 3, 2}, {1, 0, 2, 3}}));
    // band = (128 grey + 85 (2m + 1)) / 10880 with m from the matrix's first two rows.
    const std::vector<Pixel> wide{grey(42),  grey(42),  grey(200), grey(100),
                                  grey(128), grey(254), grey(1),   grey(170)};
    EXPECT_EQ(bands(Dither::Bayer, {wide, wide}),
              (std::vector<std::vector<int>>{{0, 1, 2, 1, 1, 3, 0, 2}, {1, 0, 3, 1, 2, 3, 0, 2}}));
}

// The window's scan: the rows of the canvas as the row painter makes them; a stop at a yield
// leaves the rows below untouched.
namespace {

// Error diffusion as its rule reads, over a whole picture of greys: the error of each pixel,
// truncated into its shares, added straight into the cells it goes to.
std::vector<std::vector<int>>
diffusedByTheRule(Dither method, const std::vector<std::vector<std::uint8_t>>& greys) {
    const int height = static_cast<int>(greys.size());
    const int width = static_cast<int>(greys.front().size());
    std::vector<std::vector<int>> error(height + 2, std::vector<int>(width + 4, 0));
    auto add = [&](int y, int x, int share) {
        if (x >= 0 && x < width) {
            error[y][x + 2] += share;
        }
    };
    std::vector<std::vector<int>> result(height, std::vector<int>(width));
    for (int y = 0; y < height; ++y) {
        const bool atkinson = method == Dither::Atkinson;
        const int step = atkinson || y % 2 == 0 ? 1 : -1;
        for (int i = 0; i < width; ++i) {
            const int x = step > 0 ? i : width - 1 - i;
            if (atkinson) {
                const int value = 16 * greys[y][x] + error[y][x + 2];
                const int band = (value >= 680) + (value >= 2040) + (value >= 3400);
                const int share = (value - band * 1360) / 8;
                for (const auto& [dy, dx] :
                     {std::pair{0, 1}, {0, 2}, {1, -1}, {1, 0}, {1, 1}, {2, 0}}) {
                    add(y + dy, x + dx, share);
                }
                result[y][x] = band;
            } else {
                const int value = greys[y][x] + error[y][x + 2];
                const int band = (value >= 43) + (value >= 128) + (value >= 213);
                const int e = value - band * 85;
                add(y, x + step, e * 7 / 16);
                add(y + 1, x - step, e * 3 / 16);
                add(y + 1, x, e * 5 / 16);
                add(y + 1, x + step, e - e * 7 / 16 - e * 3 / 16 - e * 5 / 16);
                result[y][x] = band;
            }
        }
    }
    return result;
}

} // namespace

// The row-at-a-time diffusion against the rule, on widths around every way a row is cut up
// (short rows, vector tails, rows run in pieces side by side, pieces a page apart) and on
// pictures that push the error to its extremes: noise of black and white, mid greys, flat
// areas, and grey noise.
// The vector passes are built for each instruction set, and rows are cut into segments for the
// chain: the widths straddle each vector width and the shortest row that is cut, and include rows
// whose segments lie a whole number of pages apart.
class EveryPasses : public testing::TestWithParam<Isa> {
  protected:
    void SetUp() override {
        if (!isaAvailable(GetParam())) {
            GTEST_SKIP() << "not on this processor";
        }
    }
};
INSTANTIATE_TEST_SUITE_P(Dither, EveryPasses, testing::Values(Isa::Sse2, Isa::Avx2));

TEST_P(EveryPasses, DiffusionFollowsTheRuleOnEveryWidth) {
    std::mt19937 random(11);
    for (const int width :
         {1, 2, 3, 15, 16, 17, 31, 32, 33, 767, 768, 769, 1279, 1280, 1281, 6144, 10240, 10245}) {
        for (int kind = 0; kind < 4; ++kind) {
            std::vector<std::vector<std::uint8_t>> greys(9, std::vector<std::uint8_t>(width));
            for (auto& row : greys) {
                for (auto& g : row) {
                    const unsigned r = random();
                    g = static_cast<std::uint8_t>(kind == 0   ? (r & 1) * 255
                                                  : kind == 1 ? 128 + r % 2 - (r >> 8) % 2
                                                  : kind == 2 ? ((r >> 12) % 64 == 0 ? r : 85)
                                                              : r);
                }
            }
            for (const Dither method : {Dither::FloydSteinberg, Dither::Atkinson}) {
                Ditherer ditherer(method, width, GetParam());
                // The path that takes transparent pixels, given none, follows the same rule.
                Ditherer holes(method, width, kBandValues, Ditherer::Holes::Yes);
                const std::vector<std::uint8_t> opaque(width, 1);
                std::vector<std::uint8_t> bands(width);
                std::vector<std::uint8_t> holeBands(width);
                const auto expected = diffusedByTheRule(method, greys);
                for (int y = 0; y < 9; ++y) {
                    ditherer.diffuseGreys(y, greys[y].data(), bands.data());
                    ASSERT_EQ(std::vector<int>(bands.begin(), bands.end()), expected[y])
                        << ditherName(method) << ", width " << width << ", kind " << kind
                        << ", row " << y;
                    holes.diffuseGreys(y, greys[y].data(), opaque.data(), holeBands.data());
                    ASSERT_EQ(holeBands, bands) << ditherName(method) << ", width " << width;
                }
            }
        }
    }
}

// A transparent pixel between two opaque ones, worked by hand for Floyd-Steinberg: it comes out
// white, the 7/16 that would flow into it along the row and what the row above left it are
// dropped, and it passes nothing on.
//   row 0, left to right, greys 120 _ 125: 120 is dark grey (85), error 35: 15 ahead (dropped),
//     10 under, 4 under ahead; 125 (nothing came) is dark grey, error 40: 7 under behind, 12
//     under. So row 1 holds 10, 4 + 7 = 11 (dropped), 12.
//   row 1, right to left, greys 110 _ 125: 125 + 12 = 137 is light grey (170), error -33: -14
//     ahead (dropped); 110 + 10 = 120 is dark grey. Had the hole taken and passed on its error
//     (125 + 11 - 14 = 122, dark grey, error 37, 16 ahead), the left pixel would be 136.
TEST(Dither, TransparentPixelsGiveAndTakeNoError) {
    Ditherer ditherer(Dither::FloydSteinberg, 3, kBandValues, Ditherer::Holes::Yes);
    const std::uint8_t opaque[] = {1, 0, 1};
    const std::uint8_t greys[2][3] = {{120, 0, 125}, {110, 125, 125}};
    const std::uint8_t expected[2][3] = {{1, 3, 1}, {1, 3, 2}};
    for (int y = 0; y < 2; ++y) {
        std::uint8_t bands[3] = {};
        ditherer.diffuseGreys(y, greys[y], opaque, bands);
        EXPECT_EQ(std::vector<int>(bands, bands + 3),
                  std::vector<int>(expected[y], expected[y] + 3))
            << "row " << y;
    }
}
