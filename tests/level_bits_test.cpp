// The fused row kernels against the plain path (quantizeRow, then encodeRow) and the ordered
// dithering's path (Ditherer, then encodeRow), for every kernel this processor runs: every
// colour, every row width up to two vector steps, palette lookups, grey averages.

#include "imaging/dither.h"
#include "imaging/level_bits.h"
#include "imaging/quantizer.h"

#include <array>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace imaging;

namespace {

struct Bits {
    std::vector<std::uint8_t> dark;
    std::vector<std::uint8_t> light;
    bool operator==(const Bits&) const = default;
};

Bits plainPath(std::vector<Pixel> row) {
    quantizeRow(row);
    Planes planes = makePlanes(static_cast<int>(row.size()), 1);
    encodeRow(planes, 0, row);
    return {planes.dark, planes.light};
}

Bits bayerPath(std::vector<Pixel> row, int y) {
    Ditherer(Dither::Bayer, static_cast<int>(row.size())).paintRow(y, row);
    Planes planes = makePlanes(static_cast<int>(row.size()), 1);
    encodeRow(planes, 0, row);
    return {planes.dark, planes.light};
}

// Runs a kernel into buffers one byte longer than the row's bits; that byte must stay as it was.
template <typename Kernel> Bits run(std::size_t count, Kernel&& kernel) {
    const std::size_t bytes = (count + 7) / 8;
    Bits out{std::vector<std::uint8_t>(bytes + 1, 0xA5),
             std::vector<std::uint8_t>(bytes + 1, 0x5A)};
    kernel(out.dark.data(), out.light.data());
    EXPECT_EQ(out.dark.back(), 0xA5);
    EXPECT_EQ(out.light.back(), 0x5A);
    out.dark.pop_back();
    out.light.pop_back();
    return out;
}

// The row as a 24-bit bitmap stores it (blue, green, red) and as 32-bit words; both exactly as
// long as the pixels, so a sanitizer sees any read past them.
std::vector<std::uint8_t> bytes3(const std::vector<Pixel>& row) {
    std::vector<std::uint8_t> out;
    for (const Pixel p : row) {
        out.insert(out.end(), {static_cast<std::uint8_t>(p >> 16),
                               static_cast<std::uint8_t>(p >> 8), static_cast<std::uint8_t>(p)});
    }
    return out;
}

Bits viaBytes3(const LevelKernel& kernel, const std::vector<Pixel>& row) {
    const auto in = bytes3(row);
    return run(row.size(), [&](std::uint8_t* d, std::uint8_t* l) {
        kernel.bytes3(in.data(), row.size(), d, l);
    });
}

Bits viaBytes4(const LevelKernel& kernel, const std::vector<Pixel>& row) {
    const std::vector<Pixel> in = row;
    return run(row.size(), [&](std::uint8_t* d, std::uint8_t* l) {
        kernel.bytes4(reinterpret_cast<const std::uint8_t*>(in.data()), row.size(), d, l);
    });
}

Bits viaEdged(const LevelKernel& kernel, const std::vector<Pixel>& row, int y) {
    const auto in3 = bytes3(row);
    const std::vector<Pixel> in4 = row;
    const Bits three = run(row.size(), [&](std::uint8_t* d, std::uint8_t* l) {
        kernel.edged3(in3.data(), row.size(), bayerEdges(y), d, l);
    });
    const Bits four = run(row.size(), [&](std::uint8_t* d, std::uint8_t* l) {
        kernel.edged4(reinterpret_cast<const std::uint8_t*>(in4.data()), row.size(), bayerEdges(y),
                      d, l);
    });
    EXPECT_EQ(three, four);
    return three;
}

// Both grey kernels, which must agree.
std::vector<std::uint8_t> greysOf(const LevelKernel& kernel, const std::vector<Pixel>& row) {
    const auto in3 = bytes3(row);
    std::vector<std::uint8_t> three(row.size());
    std::vector<std::uint8_t> four(row.size());
    kernel.greys3(in3.data(), row.size(), three.data());
    kernel.greys4(reinterpret_cast<const std::uint8_t*>(row.data()), row.size(), four.data());
    EXPECT_EQ(three, four);
    return three;
}

class EveryKernel : public testing::TestWithParam<Isa> {
  protected:
    void SetUp() override {
        if (!isaAvailable(GetParam())) {
            GTEST_SKIP() << "not supported by this processor";
        }
    }
    const LevelKernel& kernel() const { return levelKernel(GetParam()); }
};

TEST_P(EveryKernel, GivesThePlainPathsBitsForEveryColour) {
    constexpr std::size_t kWidth = 4096;
    for (Pixel first = 0; first < 0x1000000; first += kWidth) {
        std::vector<Pixel> row(kWidth);
        for (std::size_t x = 0; x < kWidth; ++x) {
            row[x] = (first + static_cast<Pixel>(x)) | (static_cast<Pixel>(x * 37) << 24);
        }
        const Bits expected = plainPath(row);
        ASSERT_EQ(viaBytes3(kernel(), row), expected) << "colours from " << first;
        ASSERT_EQ(viaBytes4(kernel(), row), expected) << "colours from " << first;
        const int y = static_cast<int>(first / kWidth);
        ASSERT_EQ(viaEdged(kernel(), row, y), bayerPath(row, y)) << "colours from " << first;
        const std::vector<std::uint8_t> greys = greysOf(kernel(), row);
        for (std::size_t x = 0; x < kWidth; ++x) {
            ASSERT_EQ(greys[x], greyAverage(static_cast<Colour>(row[x] & kColourMask)))
                << "colour " << (first + x);
        }
    }
}

// Every 16-bit pixel of both layouts, as the colour it stands for, on rows that start at odd
// places so that each word meets every column of the Bayer edges.
TEST_P(EveryKernel, ReadsEvery16BitPixelAsItsColour) {
    auto widened = [](unsigned v, unsigned bits) {
        const unsigned max = (1u << bits) - 1;
        return (v * 255 + max / 2) / max;
    };
    for (const unsigned green : {5u, 6u}) {
        for (std::size_t width : {std::size_t{65536}, std::size_t{65533}}) {
            std::vector<std::uint8_t> in(2 * width);
            std::vector<Pixel> row(width);
            for (std::size_t x = 0; x < width; ++x) {
                const auto w = static_cast<unsigned>((x * 40503 + (65536 - width)) & 0xFFFF);
                in[2 * x] = static_cast<std::uint8_t>(w);
                in[2 * x + 1] = static_cast<std::uint8_t>(w >> 8);
                const unsigned red = green == 6 ? w >> 11 : (w >> 10) & 31;
                row[x] = widened(red, 5) << 16 |
                         widened((w >> 5) & ((1u << green) - 1), green) << 8 | widened(w & 31, 5);
            }
            for (const int y : {-1, 5}) {
                const BandEdges& edges = y < 0 ? plainEdges() : bayerEdges(y);
                EXPECT_EQ(run(width,
                              [&](std::uint8_t* d, std::uint8_t* l) {
                                  kernel().words16(in.data(), width, green, edges, d, l);
                              }),
                          y < 0 ? plainPath(row) : bayerPath(row, y))
                    << "green bits " << green << ", width " << width << ", row " << y;
            }
        }
    }
}

TEST_P(EveryKernel, GivesThePlainPathsBitsForEveryWidth) {
    std::mt19937 random(16);
    std::vector<Pixel> palette(256);
    for (Pixel& p : palette) {
        p = random() & 0xFFFFFF;
    }
    const LevelTable table = levelTable(palette);
    for (std::size_t width = 1; width <= 64; ++width) {
        std::vector<Pixel> row(width);
        std::vector<std::uint8_t> indices(width);
        for (std::size_t x = 0; x < width; ++x) {
            indices[x] = static_cast<std::uint8_t>(random());
            row[x] = random();
        }
        EXPECT_EQ(viaBytes3(kernel(), row), plainPath(row)) << "width " << width;
        EXPECT_EQ(viaBytes4(kernel(), row), plainPath(row)) << "width " << width;
        EXPECT_EQ(viaEdged(kernel(), row, static_cast<int>(width)),
                  bayerPath(row, static_cast<int>(width)))
            << "width " << width;
        const std::vector<std::uint8_t> greys = greysOf(kernel(), row);
        EXPECT_EQ(greys[width - 1], greyAverage(static_cast<Colour>(row[width - 1] & kColourMask)))
            << "width " << width;
        std::vector<Pixel> looked(width);
        for (std::size_t x = 0; x < width; ++x) {
            looked[x] = palette[indices[x]];
        }
        EXPECT_EQ(run(width,
                      [&](std::uint8_t* d, std::uint8_t* l) {
                          kernel().indexed(indices.data(), width, table, d, l);
                      }),
                  plainPath(looked))
            << "width " << width;
    }
}

// Band codes painted as their level colours are the plain path's pixels of those levels.
TEST(LevelBits, BandCodesGiveTheirLevelsBits) {
    constexpr std::array<Pixel, 4> kLevels{kBlack, kDarkGrey, kLightGrey, kWhite};
    std::mt19937 random(17);
    for (std::size_t width = 1; width <= 64; ++width) {
        std::vector<std::uint8_t> bands(width);
        std::vector<Pixel> row(width);
        for (std::size_t x = 0; x < width; ++x) {
            bands[x] = static_cast<std::uint8_t>(random() % 4);
            row[x] = kLevels[bands[x]];
        }
        EXPECT_EQ(run(width, [&](std::uint8_t* d,
                                 std::uint8_t* l) { bandBits(bands.data(), width, d, l); }),
                  plainPath(row))
            << "width " << width;
    }
}

std::string isaName(const testing::TestParamInfo<Isa>& info) {
    switch (info.param) {
    case Isa::Scalar:
        return "Scalar";
    case Isa::Sse2:
        return "Sse2";
    case Isa::Avx2:
        return "Avx2";
    }
    return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(LevelBits, EveryKernel, testing::Values(Isa::Scalar, Isa::Sse2, Isa::Avx2),
                         isaName);

} // namespace
