// The bitmap codec: every variant decodes to the colours its rules give, every malformed file
// is refused with a reason, and the writer writes what the decoder reads back.

#include "bitmap/decoder.h"
#include "bitmap/writer.h"
#include "support/bmp_builder.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>

using namespace testing_support;
using bitmap::Pixel;

namespace {

constexpr Pixel kBlack = 0xFF000000u;
constexpr Pixel kWhite = bitmap::kWhite;

Pixel opaque(std::uint32_t bbggrr) {
    return kBlack | (bbggrr & 0xFFFFFF);
}

// A distinct colour for each palette index.
std::uint32_t paletteColour(std::uint32_t i) {
    return ((i * 37 + 11) & 0xFF) | (((i * 101 + 7) & 0xFF) << 8) | (((255 - i) & 0xFF) << 16);
}

std::vector<std::uint32_t> fullPalette(int entries) {
    std::vector<std::uint32_t> p;
    for (int i = 0; i < entries; ++i) {
        p.push_back(paletteColour(static_cast<std::uint32_t>(i)));
    }
    return p;
}

// The rule for a channel of n bits: round(v * 255 / (2^n - 1)).
std::uint32_t scaled(std::uint64_t v, int bits) {
    const std::uint64_t max = (std::uint64_t{1} << bits) - 1;
    return static_cast<std::uint32_t>((v * 255 + max / 2) / max);
}

Pixel fromMasks(std::uint32_t word, const std::vector<std::uint32_t>& masks) {
    Pixel p = kBlack;
    for (std::size_t c = 0; c < 3; ++c) {
        const std::uint32_t m = masks[c];
        if (m != 0) {
            p |= scaled((word & m) >> std::countr_zero(m), std::popcount(m)) << (8 * c);
        }
    }
    return p;
}

// Cases show by their names in test listings, not as bytes.
template <class Case>
requires requires(const Case& c) {
    c.name;
}
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

struct Decoded {
    std::optional<std::string> refusal;
    std::optional<std::string> rowFailure;
    int failedAtRow = -1; // in file order
    int width = 0;
    int height = 0;
    bool topDown = false;
    bool fromTop = false;      // the rows came from the top
    std::vector<Pixel> pixels; // from the top-left
};

// The reason of an error, which names the file the decoder was told of as one that cannot be
// read.
std::optional<std::string> reasonOf(const std::optional<base::Error>& error) {
    if (!error) {
        return std::nullopt;
    }
    EXPECT_EQ(error->file, "in.bmp");
    EXPECT_EQ(error->kind, base::ErrorKind::Input);
    return error->reason;
}

// Decodes in file order, or from the top where the decoder can.
Decoded decodeFrom(bitmap::ByteSource& source, const bitmap::Limits& limits = {},
                   bool fromTop = false) {
    Decoded d;
    bitmap::Decoder decoder(source, "in.bmp");
    d.refusal = reasonOf(decoder.readHeader(limits));
    if (d.refusal) {
        EXPECT_FALSE(decoder.readFromTop());
        return d;
    }
    d.width = decoder.width();
    d.height = decoder.height();
    d.topDown = decoder.topDown();
    d.fromTop = d.topDown || (fromTop && decoder.readFromTop());
    d.pixels.assign(static_cast<std::size_t>(d.width) * d.height, 0);
    std::vector<Pixel> row(static_cast<std::size_t>(d.width));
    for (int i = 0; i < d.height; ++i) {
        const int y = decoder.nextRowY();
        EXPECT_EQ(y, d.fromTop ? i : d.height - 1 - i);
        if (auto failed = reasonOf(decoder.readRow(row))) {
            d.rowFailure = failed;
            d.failedAtRow = i;
            break;
        }
        std::copy(row.begin(), row.end(),
                  d.pixels.begin() + static_cast<std::ptrdiff_t>(y) * d.width);
    }
    return d;
}

// Decodes in file order, and checks that reading the rows from the top gives the same.
Decoded decode(const Bytes& bytes, const bitmap::Limits& limits = {}) {
    bitmap::MemorySource source(bytes);
    Decoded inOrder = decodeFrom(source, limits);
    bitmap::MemorySource again(bytes);
    const Decoded fromTop = decodeFrom(again, limits, true);
    EXPECT_EQ(fromTop.refusal, inOrder.refusal);
    if (!inOrder.rowFailure && !fromTop.rowFailure) {
        EXPECT_EQ(fromTop.pixels, inOrder.pixels);
    } else {
        EXPECT_EQ(fromTop.rowFailure.has_value(), inOrder.rowFailure.has_value());
    }
    return inOrder;
}

// A source that says it holds more than it does, as a file does that shrinks while it is read.
class ShrinkingSource final : public bitmap::ByteSource {
  public:
    explicit ShrinkingSource(const Bytes& bytes) : m_inner(bytes) {}
    std::size_t read(std::span<std::uint8_t> data) override { return m_inner.read(data); }
    std::optional<std::uint64_t> remaining() const override {
        return m_inner.remaining().value() + 1'000'000;
    }

  private:
    bitmap::MemorySource m_inner;
};

std::vector<std::uint32_t> randomWords(std::size_t n, std::uint32_t mask, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint32_t> v(n);
    for (auto& w : v) {
        w = random() & mask;
    }
    // The extremes of every channel come first.
    if (n >= 2) {
        v[0] = 0;
        v[1] = mask;
    }
    return v;
}

// ---------------------------------------------------------------------------------------------
// Palette pictures: every header, depth and row order.

struct IndexedCase {
    int headerSize;
    int bits;
    bool topDown;
};

void PrintTo(const IndexedCase& c, std::ostream* out) {
    *out << c.bits << " bits, " << c.headerSize << "-byte header";
}

class IndexedTest : public ::testing::TestWithParam<IndexedCase> {};

TEST_P(IndexedTest, DecodesEveryIndex) {
    const IndexedCase& c = GetParam();
    const int colours = 1 << c.bits;
    const int width = 19;
    const int height = 5;
    std::vector<std::uint32_t> indexes;
    std::vector<Pixel> expected;
    for (int i = 0; i < width * height; ++i) {
        const auto index = static_cast<std::uint32_t>((i * 7 + i / width) % colours);
        indexes.push_back(index);
        expected.push_back(opaque(paletteColour(index)));
    }
    BmpFile f;
    f.width = width;
    f.height = height;
    f.topDown = c.topDown;
    f.headerSize = c.headerSize;
    f.bits = c.bits;
    f.palette = fullPalette(colours);
    f.pixels = packRows(width, height, c.bits, indexes, c.topDown);
    const Decoded d = decode(buildBmp(f));
    ASSERT_FALSE(d.refusal) << *d.refusal;
    ASSERT_FALSE(d.rowFailure) << *d.rowFailure;
    EXPECT_EQ(d.topDown, c.topDown);
    EXPECT_EQ(d.pixels, expected);
}

std::vector<IndexedCase> indexedCases() {
    std::vector<IndexedCase> cases;
    for (int header : {12, 16, 40, 52, 64, 108, 124}) {
        for (int bits : {1, 2, 4, 8}) {
            cases.push_back({header, bits, false});
            if (header != 12) {
                cases.push_back({header, bits, true});
            }
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Bitmap, IndexedTest, ::testing::ValuesIn(indexedCases()),
                         [](const auto& info) {
                             return "header" + std::to_string(info.param.headerSize) + "_" +
                                    std::to_string(info.param.bits) + "bit" +
                                    (info.param.topDown ? "_topdown" : "");
                         });

// Palettes shorter than the depth allows; indexes past their end read as black.
struct ShortPaletteCase {
    const char* name;
    int headerSize;
    int bits;
    int entries; // palette entries written
    std::uint32_t colourCount;
    std::size_t gap;
    int expectedEntries; // how many the decoder should use
};

class ShortPaletteTest : public ::testing::TestWithParam<ShortPaletteCase> {};

TEST_P(ShortPaletteTest, IndexesPastThePaletteAreBlack) {
    const ShortPaletteCase& c = GetParam();
    const int colours = 1 << c.bits;
    const int width = colours;
    std::vector<std::uint32_t> indexes;
    std::vector<Pixel> expected;
    for (int i = 0; i < width; ++i) {
        indexes.push_back(static_cast<std::uint32_t>(i));
        expected.push_back(
            i < c.expectedEntries ? opaque(paletteColour(static_cast<std::uint32_t>(i))) : kBlack);
    }
    BmpFile f;
    f.width = width;
    f.headerSize = c.headerSize;
    f.bits = c.bits;
    f.colourCount = c.colourCount;
    f.palette = fullPalette(c.entries);
    f.gap = c.gap;
    f.pixels = packRows(width, 1, c.bits, indexes);
    const Decoded d = decode(buildBmp(f));
    ASSERT_FALSE(d.refusal) << *d.refusal;
    EXPECT_EQ(d.pixels, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bitmap, ShortPaletteTest,
    ::testing::Values(ShortPaletteCase{"colour_count_8bit", 40, 8, 6, 6, 0, 6},
                      ShortPaletteCase{"colour_count_4bit", 40, 4, 3, 3, 0, 3},
                      ShortPaletteCase{"colour_count_1bit", 40, 1, 1, 1, 0, 1},
                      ShortPaletteCase{"colour_count_then_gap", 40, 8, 4, 4, 64, 4},
                      ShortPaletteCase{"colour_count_v5", 124, 8, 9, 9, 0, 9},
                      ShortPaletteCase{"colour_count_over_depth", 40, 4, 16, 300, 0, 16},
                      ShortPaletteCase{"trimmed_by_data_offset", 40, 8, 10, 0, 0, 10},
                      ShortPaletteCase{"core_by_room", 12, 8, 5, 0, 0, 5},
                      ShortPaletteCase{"core_2bit_by_room", 12, 2, 3, 0, 0, 3},
                      ShortPaletteCase{"os2_16_by_room", 16, 4, 7, 0, 0, 7},
                      ShortPaletteCase{"os2_64_colour_count", 64, 8, 12, 12, 0, 12}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Direct colours: 24 bits, the default 16- and 32-bit layouts and bit fields of any masks.

struct DirectCase {
    std::string name;
    int headerSize;
    int bits;
    std::uint32_t compression;
    std::vector<std::uint32_t> masks; // as stored in the file
    std::vector<std::uint32_t> rule;  // the masks the colours follow
    bool topDown = false;
};

class DirectTest : public ::testing::TestWithParam<DirectCase> {};

TEST_P(DirectTest, DecodesByTheRule) {
    const DirectCase& c = GetParam();
    // 16 bits: every word once; otherwise random words with the extremes.
    const int width = c.bits == 16 ? 256 : 37;
    const int height = c.bits == 16 ? 256 : 9;
    const std::size_t n = static_cast<std::size_t>(width) * height;
    std::vector<std::uint32_t> words;
    if (c.bits == 16) {
        for (std::uint32_t w = 0; w < n; ++w) {
            words.push_back(w);
        }
    } else {
        words = randomWords(n, c.bits == 24 ? 0xFFFFFF : 0xFFFFFFFF, 7);
    }
    std::vector<Pixel> expected;
    for (std::uint32_t w : words) {
        expected.push_back(c.bits == 24 ? opaque(w) : fromMasks(w, c.rule));
    }
    BmpFile f;
    f.width = width;
    f.height = height;
    f.topDown = c.topDown;
    f.headerSize = c.headerSize;
    f.bits = c.bits;
    f.compression = c.compression;
    f.masks = c.masks;
    f.pixels = packRows(width, height, c.bits, words, c.topDown);
    const Decoded d = decode(buildBmp(f));
    ASSERT_FALSE(d.refusal) << *d.refusal;
    ASSERT_FALSE(d.rowFailure) << *d.rowFailure;
    EXPECT_EQ(d.pixels, expected);
}

std::uint32_t low(int bits) {
    return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
}

std::vector<DirectCase> directCases() {
    const std::vector<std::uint32_t> m555{0x7C00, 0x03E0, 0x001F};
    const std::vector<std::uint32_t> m888{0xFF0000, 0xFF00, 0xFF};
    std::vector<DirectCase> cases;
    for (int header : {12, 16, 40, 64, 108, 124}) {
        for (bool topDown : {false, true}) {
            if (header == 12 && topDown) {
                continue;
            }
            const std::string suffix =
                "_header" + std::to_string(header) + (topDown ? "_topdown" : "");
            cases.push_back({"rgb24" + suffix, header, 24, 0, {}, {}, topDown});
            cases.push_back({"default16" + suffix, header, 16, 0, {}, m555, topDown});
            cases.push_back({"default32" + suffix, header, 32, 0, {}, m888, topDown});
        }
    }
    // Masks in each place a file can hold them: after a 40-byte header (12 bytes, or 16 for
    // alpha bit fields) or inside a 52, 56, 108 or 124-byte header.
    const std::vector<std::uint32_t> m565{0xF800, 0x07E0, 0x001F};
    for (int header : {40, 52, 56, 108, 124}) {
        const std::string h = "_header" + std::to_string(header);
        cases.push_back({"fields565" + h, header, 16, 3, m565, m565});
        cases.push_back({"alpha_fields4444" + h,
                         header,
                         16,
                         6,
                         {0x0F00, 0x00F0, 0x000F, 0xF000},
                         {0x0F00, 0x00F0, 0x000F}});
        cases.push_back({"fields_10bit" + h,
                         header,
                         32,
                         3,
                         {0x3FF00000, 0x000FFC00, 0x000003FF},
                         {0x3FF00000, 0x000FFC00, 0x000003FF}});
    }
    cases.push_back({"fields_10bit_topdown",
                     40,
                     32,
                     3,
                     {0x3FF00000, 0x000FFC00, 0x000003FF},
                     {0x3FF00000, 0x000FFC00, 0x000003FF},
                     true});
    // A channel of every width from 1 to 16 bits in 16-bit pixels, beside the rest of the word
    // and a zero mask (channel 0).
    for (int n = 1; n <= 16; ++n) {
        const std::uint32_t red = low(n);
        const std::uint32_t green = n < 16 ? (low(16 - n) << n) & 0xFFFF : 0;
        cases.push_back(
            {"fields16_red" + std::to_string(n), 40, 16, 3, {red, green, 0}, {red, green, 0}});
        cases.push_back(
            {"fields16_blue" + std::to_string(n), 40, 16, 3, {0, green, red}, {0, green, red}});
    }
    // Wide channels in 32-bit pixels are narrowed by the same rule.
    for (int n : {12, 16, 17, 24, 31, 32}) {
        const std::uint32_t top = low(n) << (32 - n);
        cases.push_back({"fields32_wide" + std::to_string(n),
                         124,
                         32,
                         3,
                         {top, 0, low(32 - n)},
                         {top, 0, low(32 - n)}});
    }
    cases.push_back(
        {"fields32_swapped", 40, 32, 3, {0xFF, 0xFF00, 0xFF0000}, {0xFF, 0xFF00, 0xFF0000}});
    cases.push_back({"fields32_default_masks", 108, 32, 3, m888, m888});
    // Without bit-field compression the masks in a large header do not apply.
    cases.push_back({"rgb32_ignores_header_masks", 124, 32, 0, {0xFF, 0xFF00, 0xFF0000}, m888});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Bitmap, DirectTest, ::testing::ValuesIn(directCases()),
                         [](const auto& info) { return info.param.name; });

TEST(BitmapDecoder, FullIntensityIsWhiteAtEveryChannelWidth) {
    for (int n = 1; n <= 16; ++n) {
        EXPECT_EQ(fromMasks(low(n), {low(n), low(n), low(n)}), kWhite) << n;
    }
    // A full 5-bit red is 255, not 0xF8 as by shifting.
    BmpFile f;
    f.bits = 16;
    f.pixels = packRows(1, 1, 16, {0x7C00});
    EXPECT_EQ(decode(buildBmp(f)).pixels, std::vector<Pixel>{0xFF0000FFu});
}

// The widest picture, over several read chunks, with row padding.
TEST(BitmapDecoder, WidestPictureAcrossChunks) {
    const int width = bitmap::kMaxExtent;
    const int height = 12;
    const auto colours = randomWords(static_cast<std::size_t>(width) * height, 0xFFFFFF, 3);
    BmpFile f;
    f.width = width;
    f.height = height;
    f.pixels = packRows(width, height, 24, colours);
    const Decoded d = decode(buildBmp(f));
    ASSERT_FALSE(d.refusal) << *d.refusal;
    ASSERT_FALSE(d.rowFailure) << *d.rowFailure;
    for (std::size_t i = 0; i < colours.size(); ++i) {
        ASSERT_EQ(d.pixels[i], opaque(colours[i])) << i;
    }
}

// Only uncompressed rows on a source that can seek come from the top; the others keep file order.
TEST(BitmapDecoder, ReadsFromTheTopWhereItCan) {
    BmpFile f;
    f.width = 3;
    f.height = 2;
    f.pixels = packRows(3, 2, 24, {1, 2, 3, 4, 5, 6});
    const Bytes file = buildBmp(f);
    bitmap::MemorySource seekable(file);
    EXPECT_TRUE(decodeFrom(seekable, {}, true).fromTop);
    ShrinkingSource stream(file);
    const Decoded streamed = decodeFrom(stream, {}, true);
    EXPECT_FALSE(streamed.fromTop);
    EXPECT_EQ(streamed.pixels, (std::vector<Pixel>{opaque(1), opaque(2), opaque(3), opaque(4),
                                                   opaque(5), opaque(6)}));

    f.bits = 8;
    f.compression = 1;
    f.palette = fullPalette(4);
    f.pixels = {3, 1, 0, 0, 0, 1};
    const Bytes rleFile = buildBmp(f);
    bitmap::MemorySource rle(rleFile);
    EXPECT_FALSE(decodeFrom(rle, {}, true).fromTop);
}

TEST(BitmapDecoder, SkipsTheGapBeforeThePixelData) {
    BmpFile f;
    f.width = 3;
    f.height = 2;
    f.gap = 37;
    f.pixels = packRows(3, 2, 24, {1, 2, 3, 4, 5, 6});
    const Decoded d = decode(buildBmp(f));
    ASSERT_FALSE(d.refusal) << *d.refusal;
    EXPECT_EQ(d.pixels, (std::vector<Pixel>{opaque(1), opaque(2), opaque(3), opaque(4), opaque(5),
                                            opaque(6)}));
}

// ---------------------------------------------------------------------------------------------
// Run-length encoding. Expected rows from the top: a hex digit is that palette index, '.' white,
// 'K' black (an index past the 16-colour palette), 'x' a row not decoded.

struct RleCase {
    const char* name;
    int bits;
    Bytes stream;
    std::vector<std::string> rows; // top first; 6 wide
    const char* cutAt = nullptr;   // where a stream cut short is refused: "row R of H"
};

class RleTest : public ::testing::TestWithParam<RleCase> {};

TEST_P(RleTest, DecodesTheStream) {
    const RleCase& c = GetParam();
    const int width = 6;
    const int height = static_cast<int>(c.rows.size());
    std::vector<Pixel> expected;
    for (const std::string& row : c.rows) {
        ASSERT_EQ(row.size(), std::size_t{width});
        for (char ch : row) {
            expected.push_back(ch == '.'   ? kWhite
                               : ch == 'K' ? kBlack
                               : ch == 'x' ? 0
                                           : opaque(paletteColour(static_cast<std::uint32_t>(
                                                 std::stoi(std::string(1, ch), nullptr, 16)))));
        }
    }
    BmpFile f;
    f.width = width;
    f.height = height;
    f.bits = c.bits;
    f.compression = c.bits == 8 ? 1 : 2;
    f.colourCount = 16;
    f.palette = fullPalette(16);
    f.pixels = c.stream;
    const Decoded d = decode(buildBmp(f));
    ASSERT_FALSE(d.refusal) << *d.refusal;
    EXPECT_EQ(d.rowFailure.value_or(""),
              c.cutAt ? std::string("the file is truncated: run-length data ends at ") + c.cutAt +
                            ", before its end-of-picture code"
                      : "");
    EXPECT_EQ(d.pixels, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bitmap, RleTest,
    ::testing::Values(
        // The stream starts with the bottom row.
        RleCase{"runs_end_of_line_end_of_picture",
                8,
                {3, 1, 3, 2, 0, 0, 6, 3, 0, 0, 2, 4, 4, 5, 0, 0, 0, 1},
                {"445555", "333333", "111222"}},
        RleCase{"end_of_line_leaves_the_rest_white",
                8,
                {2, 7, 0, 0, 1, 8, 0, 0, 0, 1},
                {"8.....", "77...."}},
        RleCase{"end_of_picture_leaves_the_rest_white",
                8,
                {6, 1, 0, 0, 1, 2, 0, 1},
                {"......", "2.....", "111111"}},
        RleCase{"no_end_of_picture", 8, {6, 1, 0, 0}, {"xxxxxx", "111111"}, "row 1 of 2"},
        RleCase{"last_row_full_without_end_codes", 8, {6, 1, 0, 0, 6, 2}, {"222222", "111111"}},
        RleCase{"last_row_short_without_end_codes",
                8,
                {6, 1, 0, 0, 5, 2},
                {"xxxxxx", "111111"},
                "row 1 of 2"},
        RleCase{"empty_stream", 8, {}, {"xxxxxx", "xxxxxx"}, "row 0 of 2"},
        RleCase{"delta_right", 8, {1, 1, 0, 2, 2, 0, 1, 2, 0, 0, 0, 1}, {"1..2.."}},
        RleCase{"delta_down_finishes_the_row",
                8,
                {1, 1, 0, 2, 2, 1, 2, 3, 0, 1},
                {"......", "...33.", "1....."}},
        RleCase{"delta_down_skips_whole_rows",
                8,
                {1, 1, 0, 2, 0, 2, 1, 4, 0, 0, 1, 5, 0, 1},
                {"5.....", ".4....", "......", "1....."}},
        RleCase{"delta_past_the_picture",
                8,
                {1, 1, 0, 2, 200, 0, 1, 6, 0, 2, 0, 50, 1, 7},
                {"......", "......", "1....."}},
        RleCase{"absolute_odd_is_padded", 8, {0, 3, 1, 2, 3, 0, 2, 4, 0, 1}, {"12344."}},
        RleCase{"absolute_even", 8, {0, 4, 5, 6, 7, 8, 1, 9, 0, 1}, {"56789."}},
        RleCase{"run_past_the_right_edge", 8, {9, 1, 3, 2, 0, 0, 2, 3, 0, 1}, {"33....", "111111"}},
        RleCase{
            "absolute_past_the_right_edge", 8, {4, 1, 0, 4, 2, 3, 4, 5, 0, 0, 0, 1}, {"111123"}},
        RleCase{"no_end_of_line_keeps_clipping",
                8,
                {6, 1, 2, 2, 0, 0, 1, 3, 0, 1},
                {"3.....", "111111"}},
        RleCase{
            "index_past_the_palette_is_black", 8, {2, 200, 0, 3, 1, 255, 2, 0, 0, 1}, {"KK1K2."}},
        RleCase{"cut_short_in_a_run", 8, {2, 1, 3}, {"xxxxxx", "xxxxxx"}, "row 0 of 2"},
        RleCase{"cut_short_in_an_absolute_run", 8, {0, 5, 1, 2}, {"xxxxxx"}, "row 0 of 1"},
        RleCase{"cut_short_in_absolute_padding", 8, {0, 3, 1, 2, 3}, {"xxxxxx"}, "row 0 of 1"},
        RleCase{"cut_short_in_a_delta",
                8,
                {1, 1, 0, 0, 1, 1, 0, 2, 1},
                {"xxxxxx", "xxxxxx", "1....."},
                "row 1 of 3"},
        RleCase{"rle4_run_alternates", 4, {5, 0x12, 0, 0, 6, 0x33, 0, 1}, {"333333", "12121."}},
        RleCase{"rle4_absolute_odd",
                4,
                {0, 3, 0x45, 0x60, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 0, 1},
                {"12345.", "456..."}},
        RleCase{"rle4_absolute_clipped", 4, {4, 0xAB, 0, 4, 0xCD, 0xEF, 0, 1}, {"ABABCD"}},
        RleCase{"rle4_delta", 4, {2, 0x77, 0, 2, 1, 1, 1, 0x88, 0, 1}, {"...8..", "77...."}},
        RleCase{"rle4_cut_short", 4, {0, 4, 0x12}, {"xxxxxx"}, "row 0 of 1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BitmapDecoder, RunLengthDataAfterAGap) {
    BmpFile f;
    f.width = 2;
    f.bits = 8;
    f.compression = 1;
    f.palette = fullPalette(4);
    f.colourCount = 4;
    f.gap = 10;
    f.pixels = {2, 3, 0, 1};
    EXPECT_EQ(decode(buildBmp(f)).pixels,
              (std::vector<Pixel>{opaque(paletteColour(3)), opaque(paletteColour(3))}));
}

// ---------------------------------------------------------------------------------------------
// Refusals, each with a reason that names what is wrong.

struct RefusalCase {
    const char* name;
    Bytes file;
    std::string reason;
};

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, RefusesFromTheHeader) {
    const Decoded d = decode(GetParam().file);
    ASSERT_TRUE(d.refusal.has_value());
    EXPECT_NE(d.refusal->find(GetParam().reason), std::string::npos) << *d.refusal;
}

BmpFile small24() {
    BmpFile f;
    f.width = 2;
    f.height = 2;
    f.pixels = packRows(2, 2, 24, {1, 2, 3, 4});
    return f;
}

template <typename Change> Bytes with(Change change) {
    BmpFile f = small24();
    change(f);
    return buildBmp(f);
}

Bytes cut(Bytes b, std::size_t size) {
    b.resize(size);
    return b;
}

std::vector<RefusalCase> refusalCases() {
    const Bytes good = buildBmp(small24());
    return {
        {"empty", {}, "not a bitmap"},
        {"not_bm", Bytes{'P', '6', '\n', '1', ' ', '1'},
         "not a bitmap (it does not start with \"BM\")"},
        {"file_header_cut", cut(good, 12), "the header is cut short"},
        {"info_header_cut", cut(good, 30), "the header is cut short"},
        {"core_header_cut", cut(with([](BmpFile& f) { f.headerSize = 12; }), 20),
         "the header is cut short"},
        {"masks_cut",
         cut(with([](BmpFile& f) {
                 f.bits = 16;
                 f.compression = 3;
                 f.masks = {0xF800, 0x07E0, 0x001F};
                 f.pixels.clear();
             }),
             60),
         "the header is cut short"},
        {"palette_past_the_file",
         cut(with([](BmpFile& f) {
                 f.bits = 8;
                 f.palette = fullPalette(256);
                 f.pixels.clear();
             }),
             200),
         "its pixel data should start at byte 1078, but the file has only 200 bytes"},
        {"unknown_header_size", with([](BmpFile& f) { f.headerSize = 200; }),
         "unknown size (200 bytes)"},
        {"header_size_8", with([](BmpFile& f) { f.headerSize = 8; }), "unknown size (8 bytes)"},
        {"jpeg", with([](BmpFile& f) { f.compression = 4; }),
         "compression 4 (embedded JPEG) is not supported"},
        {"png", with([](BmpFile& f) { f.compression = 5; }),
         "compression 5 (embedded PNG) is not supported"},
        {"os2_huffman", with([](BmpFile& f) {
             f.headerSize = 64;
             f.bits = 1;
             f.compression = 3;
         }),
         "compression 3 (OS/2 Huffman 1D) is not supported"},
        {"os2_rle24", with([](BmpFile& f) {
             f.headerSize = 64;
             f.compression = 4;
         }),
         "compression 4 (OS/2 RLE24) is not supported"},
        {"os2_alpha_fields", with([](BmpFile& f) {
             f.headerSize = 64;
             f.compression = 6;
         }),
         "compression 6 is not supported"},
        {"compression_7", with([](BmpFile& f) { f.compression = 7; }),
         "compression 7 is not supported"},
        {"compression_11", with([](BmpFile& f) { f.compression = 11; }),
         "compression 11 is not supported"},
        {"bits_0", with([](BmpFile& f) { f.bits = 0; }), "0 bits per pixel are not supported"},
        {"bits_3", with([](BmpFile& f) { f.bits = 3; }), "3 bits per pixel are not supported"},
        {"bits_64", with([](BmpFile& f) { f.bits = 64; }), "64 bits per pixel are not supported"},
        {"planes_0", with([](BmpFile& f) { f.planes = 0; }), "has 0 planes (it must have 1)"},
        {"planes_3", with([](BmpFile& f) { f.planes = 3; }), "has 3 planes"},
        {"rle8_at_4_bits", with([](BmpFile& f) {
             f.bits = 4;
             f.compression = 1;
         }),
         "compression 1 (RLE8) needs 8 bits per pixel, not 4"},
        {"rle4_at_8_bits", with([](BmpFile& f) {
             f.bits = 8;
             f.compression = 2;
         }),
         "compression 2 (RLE4) needs 4 bits per pixel, not 8"},
        {"fields_at_24_bits", with([](BmpFile& f) {
             f.compression = 3;
             f.masks = {0xFF, 0xFF00, 0xFF0000};
         }),
         "needs 16 or 32 bits per pixel, not 24"},
        {"rle_top_down", with([](BmpFile& f) {
             f.bits = 8;
             f.compression = 1;
             f.topDown = true;
         }),
         "stored top-down"},
        {"no_width", with([](BmpFile& f) { f.width = 0; }),
         "the picture has no pixels (0 × 2 pixels)"},
        {"no_height", with([](BmpFile& f) { f.height = 0; }),
         "the picture has no pixels (2 × 0 pixels)"},
        {"negative_width", with([](BmpFile& f) { f.width = -5; }),
         "the picture has no pixels (-5 × 2 pixels)"},
        {"core_no_height", with([](BmpFile& f) {
             f.headerSize = 12;
             f.height = 0;
         }),
         "the picture has no pixels (2 × 0 pixels)"},
        {"too_wide", with([](BmpFile& f) {
             f.width = 40000;
             f.height = 10;
         }),
         "the picture is too large (40000 × 10 pixels; at most 32767 pixels wide and high are "
         "supported)"},
        {"too_high_top_down", with([](BmpFile& f) {
             f.height = 32768;
             f.topDown = true;
         }),
         "the picture is too large (2 × 32768 pixels"},
        {"core_too_wide", with([](BmpFile& f) {
             f.headerSize = 12;
             f.width = 65535;
         }),
         "the picture is too large (65535 × 2 pixels"},
        {"masks_all_zero", with([](BmpFile& f) {
             f.bits = 32;
             f.compression = 3;
             f.masks = {0, 0, 0};
             f.pixels = packRows(2, 2, 32, {1, 2, 3, 4});
         }),
         "bit field masks are all zero"},
        {"masks_all_zero_v5", with([](BmpFile& f) {
             f.headerSize = 124;
             f.bits = 16;
             f.compression = 3;
             f.pixels = packRows(2, 2, 16, {1, 2, 3, 4});
         }),
         "bit field masks are all zero"},
        {"mask_not_contiguous", with([](BmpFile& f) {
             f.bits = 16;
             f.compression = 3;
             f.masks = {0xF800, 0x0760, 0x001F};
             f.pixels = packRows(2, 2, 16, {1, 2, 3, 4});
         }),
         "the green bit field mask 0x00000760 is not contiguous"},
        {"data_offset_in_headers", with([](BmpFile& f) { f.dataOffset = 40; }),
         "pixel data offset (40) points into its headers, which end at byte 54"},
        {"data_offset_before_masks", with([](BmpFile& f) {
             f.bits = 16;
             f.compression = 3;
             f.masks = {0xF800, 0x07E0, 0x001F};
             f.dataOffset = 60;
         }),
         "which end at byte 66"},
        {"data_offset_past_the_file", with([](BmpFile& f) { f.dataOffset = 1000; }),
         "its pixel data should start at byte 1000, but the file has only 70 bytes"},
        {"pixel_data_short", cut(good, 63),
         "the file is truncated: its header claims 2 × 2 pixels at 24 bits per pixel, which need "
         "68 bytes, but the file has only 63 bytes"},
        {"core_pixel_data_short", cut(with([](BmpFile& f) { f.headerSize = 12; }), 39),
         "the file is truncated"},
    };
}

INSTANTIATE_TEST_SUITE_P(Bitmap, RefusalTest, ::testing::ValuesIn(refusalCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BitmapDecoder, LimitsAreTheCallers) {
    const bitmap::Limits limits{4096, std::uint64_t{4} << 20};
    BmpFile f;
    f.width = 4097;
    EXPECT_EQ(decode(buildBmp(f), limits).refusal.value_or(""),
              "the picture is too large (4097 × 1 pixels; at most 4096 pixels wide and high are "
              "supported)");
    f.width = 4096;
    f.height = 1025;
    f.bits = 8;
    f.compression = 1;
    EXPECT_EQ(decode(buildBmp(f), limits).refusal.value_or(""),
              "the picture is too large (4096 × 1025 pixels; at most 4194304 pixels are "
              "supported)");
    f.height = 1024;
    EXPECT_FALSE(decode(buildBmp(f), limits).refusal);
}

TEST(BitmapDecoder, LastRowMayLackItsPadding) {
    Bytes file = buildBmp(small24());
    file.resize(file.size() - 2);
    const Decoded d = decode(file);
    ASSERT_FALSE(d.refusal) << *d.refusal;
    ASSERT_FALSE(d.rowFailure) << *d.rowFailure;
    EXPECT_EQ(d.pixels, (std::vector<Pixel>{opaque(1), opaque(2), opaque(3), opaque(4)}));
}

// A file that shrinks while it is read: the header check passes, the row where it ends fails.
TEST(BitmapDecoder, TruncatedWhileReading) {
    BmpFile f;
    f.width = 5;
    f.height = 4;
    f.pixels = packRows(5, 4, 24, std::vector<std::uint32_t>(20, 0x123456));
    Bytes file = buildBmp(f);
    file.resize(file.size() - 16 - 10); // one row and a half short
    ShrinkingSource source(file);
    const Decoded d = decodeFrom(source);
    ASSERT_FALSE(d.refusal) << *d.refusal;
    EXPECT_EQ(d.rowFailure.value_or(""), "the file is truncated: pixel data ends at row 2 of 4");
    EXPECT_EQ(d.failedAtRow, 2);

    // A palette that ends early, where the file's size is not known in advance.
    f = {};
    f.bits = 8;
    f.palette = fullPalette(256);
    f.pixels = {0, 0, 0, 0};
    file = buildBmp(f);
    file.resize(200);
    ShrinkingSource shortPalette(file);
    EXPECT_EQ(decodeFrom(shortPalette).refusal.value_or(""), "the palette is cut short");
}

TEST(BitmapDecoder, RowsBeforeTheHeaderOrAfterTheLastAreRefused) {
    const Bytes file = buildBmp(small24());
    bitmap::MemorySource source(file);
    bitmap::Decoder decoder(source, "in.bmp");
    std::vector<Pixel> row(2);
    EXPECT_TRUE(decoder.readRow(row).has_value());
    ASSERT_FALSE(decoder.readHeader());
    EXPECT_FALSE(decoder.readRow(row));
    EXPECT_FALSE(decoder.readRow(row));
    EXPECT_TRUE(decoder.readRow(row).has_value());
}

// ---------------------------------------------------------------------------------------------
// The writer.

// A palette whose entries are not the same read either way, so swapped channels show.
// (0xBBGGRR: 0x112233 is blue 0x11, green 0x22, red 0x33).
const std::array<std::uint32_t, 4> kTestPalette = {0x112233, 0x445566, 0x778899, 0xAABBCC};

TEST(BitmapWriter, WritesTheHandWorkedFourColourFile) {
    // 9 x 2, indices 0 black, 1 dark grey, 2 light grey, 3 white. Top row B W D L W L D B W,
    // bottom row W W L B D D B L D. The bits after a row's ninth are not the row's and must not
    // show.
    const std::uint8_t dark[2][2] = {{0xA3, 0x7F}, {0x1E, 0x80}};
    const std::uint8_t light[2][2] = {{0x95, 0x55}, {0x33, 0x00}};
    const Bytes expected = {'B',  'M',  86,   0,    0,    0,    0,    0,
                            0,    0,    70,   0,    0,    0, // size 70 + 2 x 8, pixels at 70
                            40,   0,    0,    0,    9,    0,    0,    0,
                            2,    0,    0,    0,    1,    0,    4,    0, // 9 x 2, one plane, 4 bits
                            0,    0,    0,    0,    16,   0,    0,    0,
                            0xC4, 0x0E, 0,    0,    0xC4, 0x0E, 0,    0, // 3780 pixels per metre
                            4,    0,    0,    0,    4,    0,    0,    0, // four colours
                            0x11, 0x22, 0x33, 0,    0x44, 0x55, 0x66, 0,
                            0x77, 0x88, 0x99, 0,    0xAA, 0xBB, 0xCC, 0, // B, G, R
                            0x33, 0x20, 0x11, 0x02, 0x10, 0,    0,    0, // bottom row first
                            0x03, 0x12, 0x32, 0x10, 0x30, 0,    0,    0};
    Bytes file(bitmap::kLevelBitmapHeaderSize);
    const auto header = bitmap::levelBitmapHeader(9, 2, kTestPalette);
    std::copy(header.begin(), header.end(), file.begin());
    for (int y = 1; y >= 0; --y) {
        Bytes row(bitmap::levelBitmapRowBytes(9), 0xAA);
        bitmap::encodeLevelRow(dark[y], light[y], 9, row.data());
        file.insert(file.end(), row.begin(), row.end());
    }
    EXPECT_EQ(file, expected);
}

// With a mask, a fifth palette entry for the pixels it leaves out. 9 x 2, T transparent: top
// row K T L W D T W W L, bottom row T T T D K W L T T; the bits after the ninth pixel are not
// the row's, in the mask as in the levels.
TEST(BitmapWriter, WritesTransparentPixelsInAFifthColour) {
    const std::uint8_t dark[2][2] = {{0x88, 0x7F}, {0x18, 0x7F}};
    const std::uint8_t light[2][2] = {{0xA0, 0xBF}, {0x0A, 0x3F}};
    const std::uint8_t opaque[2][2] = {{0xBB, 0xBF}, {0x1E, 0x15}};
    // Size 74 + 2 x 8, pixels at 74; 9 x 2, one plane, 4 bits; 16 bytes of pixels; five colours.
    Bytes expected = {'B', 'M', 90,   0,    0, 0, 0,    0,    0, 0, 74, 0, 0, 0, 40, 0, 0,  0,
                      9,   0,   0,    0,    2, 0, 0,    0,    1, 0, 4,  0, 0, 0, 0,  0, 16, 0,
                      0,   0,   0xC4, 0x0E, 0, 0, 0xC4, 0x0E, 0, 0, 5,  0, 0, 0, 5,  0, 0,  0};
    // B, G, R, 0 each, the transparent pixels' 0x123456 last.
    const Bytes palette = {0x11, 0x22, 0x33, 0,    0x44, 0x55, 0x66, 0,    0x77, 0x88,
                           0x99, 0,    0xAA, 0xBB, 0xCC, 0,    0x12, 0x34, 0x56, 0};
    // The bottom row first.
    const Bytes rows = {0x44, 0x41, 0x03, 0x24, 0x40, 0, 0, 0,
                        0x04, 0x23, 0x14, 0x33, 0x20, 0, 0, 0};
    expected.insert(expected.end(), palette.begin(), palette.end());
    expected.insert(expected.end(), rows.begin(), rows.end());
    Bytes file;
    const bitmap::Transparency transparency{0x123456, [&](int y) { return opaque[y]; }};
    ASSERT_TRUE(bitmap::writeLevelBitmap(
        9, 2, kTestPalette,
        [&](int y) {
            return std::pair{dark[y], light[y]};
        },
        [&](std::string_view bytes) {
            file.insert(file.end(), bytes.begin(), bytes.end());
            return true;
        },
        &transparency));
    EXPECT_EQ(file, expected);
}

TEST(BitmapWriter, RowsOfEveryWidthRoundTripThroughTheDecoder) {
    std::mt19937 random(5);
    for (int width = 1; width <= 19; ++width) {
        const int height = 3;
        const std::size_t bytes = (static_cast<std::size_t>(width) + 7) / 8;
        Bytes file(bitmap::kLevelBitmapHeaderSize);
        const auto header = bitmap::levelBitmapHeader(width, height, kTestPalette);
        std::copy(header.begin(), header.end(), file.begin());
        std::vector<Bytes> dark(height, Bytes(bytes));
        std::vector<Bytes> light(height, Bytes(bytes));
        for (int y = height - 1; y >= 0; --y) {
            for (std::size_t k = 0; k < bytes; ++k) {
                dark[y][k] = static_cast<std::uint8_t>(random());
                light[y][k] = static_cast<std::uint8_t>(random());
            }
            // Guard bytes after the row must stay untouched.
            Bytes row(bitmap::levelBitmapRowBytes(width) + 4, 0xAA);
            bitmap::encodeLevelRow(dark[y].data(), light[y].data(), width, row.data());
            EXPECT_EQ(row[bitmap::levelBitmapRowBytes(width)], 0xAA) << width;
            file.insert(file.end(), row.begin(), row.end() - 4);
        }
        // The header's file size is the file's.
        ASSERT_EQ(file.size(), std::size_t{file[2]} | (std::size_t{file[3]} << 8) |
                                   (std::size_t{file[4]} << 16));
        const Decoded d = decode(file);
        ASSERT_FALSE(d.refusal) << *d.refusal;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned bit = 7 - static_cast<unsigned>(x % 8);
                const unsigned index = ((dark[y][x / 8] >> bit) & 1u ? 0u : 2u) +
                                       ((light[y][x / 8] >> bit) & 1u ? 0u : 1u);
                EXPECT_EQ(d.pixels[static_cast<std::size_t>(y * width + x)],
                          opaque(kTestPalette[index]))
                    << width << " x " << height << " at " << x << ", " << y;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Inputs the fuzzer found: each decodes to the end without a crash, the same way twice.

TEST(BitmapFuzzFindings, ReplayDeterministically) {
    const char* data = std::getenv("GREYPLANES_TEST_DATA");
    const std::filesystem::path folder = std::filesystem::path(data ? data : "") / "fuzz";
    std::vector<std::filesystem::path> files;
    if (data != nullptr && std::filesystem::is_directory(folder)) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
    }
    if (files.empty()) {
        GTEST_SKIP() << "no fuzz findings in " << folder;
    }
    const bitmap::Limits limits{4096, std::uint64_t{4} << 20};
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        std::ifstream in(path, std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const Decoded first = decode(bytes, limits);
        const Decoded second = decode(bytes, limits);
        EXPECT_EQ(first.refusal, second.refusal);
        EXPECT_EQ(first.rowFailure, second.rowFailure);
        EXPECT_EQ(first.pixels, second.pixels);
    }
}

} // namespace
