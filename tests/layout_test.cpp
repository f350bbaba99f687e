// The layouts: hand-worked rows in each, the gb tile orders, the option rules, and every layout
// read back to the planes it was written from.

#include "ctext/c_array_writer.h"
#include "ctext/layout.h"
#include "support/memory_canvas.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <random>

using namespace ctext;
using namespace imaging;
using testing_support::MemoryCanvas;

namespace {

constexpr Colour K = kBlack, D = kDarkGrey, L = kLightGrey, W = kWhite;

Planes planesOf(int width, const std::vector<Colour>& pixels, RowLayout rows) {
    const int height = static_cast<int>(pixels.size()) / width;
    MemoryCanvas canvas(width, height);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        canvas.set(static_cast<int>(i) % width, static_cast<int>(i) / width, pixels[i]);
    }
    Planes planes = makePlanes(width, height, rows);
    for (int y = 0; y < height; ++y) {
        encodeRow(planes, y, canvas.row(y));
    }
    return planes;
}

LayoutOptions optionsOf(Layout layout, int word = 8, bool invert = false,
                        RowLayout rows = RowLayout::Packed, TileOrder order = TileOrder::Rows) {
    return {layout, rows, word, order, invert};
}

LayoutOptions turned(LayoutOptions options) {
    options.bitOrder = BitOrder::Lsb;
    return options;
}

LayoutOptions mapped(LayoutOptions options) {
    options.tileMap = true;
    options.tileBase = 250;
    return options;
}

LayoutOptions msbFirst(LayoutOptions options) {
    options.bitOrder = BitOrder::Msb;
    return options;
}

struct Worked {
    const char* what;
    LayoutOptions options;
    int width;
    std::vector<Colour> pixels;
    std::string text; // the classic open text
};

class LayoutText : public testing::TestWithParam<Worked> {};

TEST_P(LayoutText, HandWorkedRows) {
    const Worked& c = GetParam();
    TextStyle style;
    style.layout = c.options;
    const Planes planes = planesOf(c.width, c.pixels, planesRowLayout(c.options));
    const std::string text = writeArrays(planes, style);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(arraysTextSize(planes, style), text.size());
}

// The row [black, dark grey, light grey, white x 5], and a 5 x 2 picture whose rows end inside
// an element: [black, dark, light, white, black], [white, white, white, dark, light].
const std::vector<Colour> kRow = {K, D, L, W, W, W, W, W};
const std::vector<Colour> kFive = {K, D, L, W, K, W, W, W, D, L};
const std::string kOne = "static unsigned char Untitled[] = {\r\n";
std::vector<Colour> tile() {
    std::vector<Colour> pixels = kRow;
    pixels.resize(64, W);
    return pixels;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LayoutText,
    testing::Values(
        Worked{"planes", optionsOf(Layout::Planes), 8, kRow,
               "static unsigned char Untitled_d[] = {\r\n\r\n0xC0, \r\n\r\n"
               "static unsigned char Untitled_l[] = {\r\n\r\n0xA0, "},
        Worked{"planes5", optionsOf(Layout::Planes), 5, kFive,
               "static unsigned char Untitled_d[] = {\r\n\r\n0xC8, 0x80, \r\n\r\n"
               "static unsigned char Untitled_l[] = {\r\n\r\n0xA8, 0x40, "},
        Worked{"planes5padded", optionsOf(Layout::Planes, 8, false, RowLayout::Padded), 5, kFive,
               "static unsigned char Untitled_d[] = {\r\n\r\n0xC8, \r\n0x10, \r\n\r\n"
               "static unsigned char Untitled_l[] = {\r\n\r\n0xA8, \r\n0x08, "},
        Worked{"word16", optionsOf(Layout::Planes, 16), 5, kFive,
               "static unsigned short Untitled_d[] = {\r\n\r\n0xC800, \r\n0x1000, \r\n\r\n"
               "static unsigned short Untitled_l[] = {\r\n\r\n0xA800, \r\n0x0800, "},
        Worked{"word32", optionsOf(Layout::Planes, 32), 8, kRow,
               "static unsigned long Untitled_d[] = {\r\n\r\n0xC0000000, \r\n\r\n"
               "static unsigned long Untitled_l[] = {\r\n\r\n0xA0000000, "},
        Worked{"packed2", optionsOf(Layout::Packed2), 8, kRow, kOne + "\r\n0x1B, 0xFF, "},
        Worked{"packed2inverted", optionsOf(Layout::Packed2, 8, true), 8, kRow,
               kOne + "\r\n0xE4, 0x00, "},
        Worked{"packed2lsb", turned(optionsOf(Layout::Packed2)), 8, kRow,
               kOne + "\r\n0xE4, 0xFF, "},
        Worked{"packed2five", optionsOf(Layout::Packed2), 5, kFive,
               kOne + "\r\n0x1B, 0x00, \r\n0xFD, 0x80, "},
        Worked{"packed2fiveinverted", optionsOf(Layout::Packed2, 8, true), 5, kFive,
               kOne + "\r\n0xE4, 0xC0, \r\n0x02, 0x40, "},
        Worked{"nibble4", optionsOf(Layout::Nibble4), 8, kRow,
               kOne + "\r\n0x05, 0xAF, 0xFF, 0xFF, "},
        Worked{"nibble4inverted", optionsOf(Layout::Nibble4, 8, true), 8, kRow,
               kOne + "\r\n0xFA, 0x50, 0x00, 0x00, "},
        Worked{"nibble4five", optionsOf(Layout::Nibble4), 5, kFive,
               kOne + "\r\n0x05, 0xAF, 0x00, \r\n0xFF, 0xF5, 0xA0, "},
        Worked{"nibble4fiveinverted", optionsOf(Layout::Nibble4, 8, true), 5, kFive,
               kOne + "\r\n0xFA, 0x50, 0xF0, \r\n0x00, 0x0A, 0x50, "},
        Worked{"gb", optionsOf(Layout::Gb), 8, tile(),
               kOne + "\r\n0xA0, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, "
                      "0x00, 0x00, 0x00, 0x00, 0x00, "}),
    [](const testing::TestParamInfo<Worked>& info) { return std::string(info.param.what); });

// The first row of each tile, as (low, high) bytes, of a 16 x 32 picture whose tiles are white
// but for a first pixel: black in tile (0, 0), dark grey in (1, 0), light grey in (0, 1).
TEST(GbTiles, OrdersOfTheTiles) {
    std::vector<Colour> pixels(16 * 32, W);
    pixels[0] = K;
    pixels[8] = D;
    pixels[16 * 8] = L;
    const Planes planes = planesOf(16, pixels, RowLayout::Padded);
    auto firstRows = [&](TileOrder order) {
        const LayoutOptions options = optionsOf(Layout::Gb, 8, false, RowLayout::Packed, order);
        std::vector<std::uint32_t> firsts;
        for (std::size_t t = 0; t < elementPlan(options, 16, 32).lines; ++t) {
            std::vector<std::uint32_t> elements;
            lineElements(planes, options, 0, t, elements);
            firsts.push_back(elements[0] << 8 | elements[1]);
        }
        return firsts;
    };
    using V = std::vector<std::uint32_t>;
    EXPECT_EQ(firstRows(TileOrder::Rows), (V{0x8080, 0x0080, 0x8000, 0, 0, 0, 0, 0}));
    EXPECT_EQ(firstRows(TileOrder::Columns), (V{0x8080, 0x8000, 0, 0, 0x0080, 0, 0, 0}));
    EXPECT_EQ(firstRows(TileOrder::Tall8x16), (V{0x8080, 0x8000, 0x0080, 0, 0, 0, 0, 0}));
}

TEST(LayoutOptionsRules, OptionsThatDoNotApplyAndTileMultiples) {
    EXPECT_FALSE(layoutProblem(optionsOf(Layout::Planes, 32, false, RowLayout::Padded),
                               {.rows = true, .word = true}));
    EXPECT_FALSE(layoutProblem(optionsOf(Layout::Nibble4, 8, true), {.invert = true}));
    EXPECT_TRUE(layoutProblem(optionsOf(Layout::Planes, 12), {.word = true}));
    EXPECT_TRUE(layoutProblem(optionsOf(Layout::Gb, 8, false, RowLayout::Padded), {.rows = true}));
    EXPECT_TRUE(layoutProblem(optionsOf(Layout::Gb, 8, true), {.invert = true}));
    EXPECT_TRUE(layoutProblem(optionsOf(Layout::Packed2, 16), {.word = true}));
    EXPECT_TRUE(
        layoutProblem(optionsOf(Layout::Packed2, 8, false, RowLayout::Packed, TileOrder::Columns),
                      {.tileOrder = true}));
    // Given explicitly, even the default value does not apply.
    EXPECT_TRUE(layoutProblem(optionsOf(Layout::Nibble4), LayoutGiven{true, false, true}));

    const LayoutOptions gb = optionsOf(Layout::Gb);
    const LayoutOptions tall =
        optionsOf(Layout::Gb, 8, false, RowLayout::Packed, TileOrder::Tall8x16);
    EXPECT_FALSE(extentProblem(gb, 16, 8));
    EXPECT_TRUE(extentProblem(gb, 12, 8));
    EXPECT_TRUE(extentProblem(gb, 8, 12));
    EXPECT_TRUE(extentProblem(tall, 8, 8));
    EXPECT_FALSE(extentProblem(tall, 8, 32));
    EXPECT_FALSE(extentProblem(optionsOf(Layout::Packed2), 3, 5));
}

// Each layout option given alone (a word and an order at their defaults, so that being given is
// what counts) against each layout: it applies, or it is refused in the converter's words.
struct OptionOnLayout {
    Layout layout;
    std::string option;  // as the command line spells it
    std::string refusal; // empty: it applies
};

class OptionsOnLayouts : public testing::TestWithParam<OptionOnLayout> {};

TEST_P(OptionsOnLayouts, ApplyOrAreRefused) {
    const OptionOnLayout& row = GetParam();
    LayoutOptions options = optionsOf(row.layout);
    LayoutGiven given{.layout = true};
    if (row.option == "--pad-rows") {
        options.rows = RowLayout::Padded;
        given.rows = true;
    } else if (row.option == "--word 8") {
        given.word = true;
    } else if (row.option == "--tile-order rows") {
        given.tileOrder = true;
    } else if (row.option == "--tile-map") {
        options.tileMap = true;
        given.tileMap = true;
    } else if (row.option == "--bit-order lsb") {
        options.bitOrder = BitOrder::Lsb;
        given.bitOrder = true;
    } else {
        ASSERT_EQ(row.option, "--invert");
        options.invert = true;
        given.invert = true;
    }
    EXPECT_EQ(layoutProblem(options, given).value_or(""), row.refusal);
}

OptionOnLayout refused(Layout layout, const std::string& option, const std::string& name) {
    return {layout, option, option + " does not apply to --layout " + name};
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionsOnLayouts,
    testing::Values(
        OptionOnLayout{Layout::Planes, "--pad-rows", ""},
        OptionOnLayout{Layout::Planes, "--word 8", ""},
        refused(Layout::Planes, "--tile-order rows", "planes"),
        OptionOnLayout{Layout::Planes, "--invert", ""},
        OptionOnLayout{Layout::Planes, "--bit-order lsb", ""},
        refused(Layout::Gb, "--bit-order lsb", "gb"),
        OptionOnLayout{Layout::Packed2, "--bit-order lsb", ""},
        OptionOnLayout{Layout::Nibble4, "--bit-order lsb", ""},
        refused(Layout::Pages, "--pad-rows", "pages"), OptionOnLayout{Layout::Gb, "--tile-map", ""},
        refused(Layout::Lvgl, "--invert", "lvgl"), refused(Layout::Lvgl, "--bit-order lsb", "lvgl"),
        refused(Layout::Nibble4, "--tile-map", "nibble4"),
        OptionOnLayout{Layout::Pages, "--invert", ""},
        OptionOnLayout{Layout::Pages, "--bit-order lsb", ""},
        refused(Layout::Gb, "--pad-rows", "gb"), refused(Layout::Gb, "--word 8", "gb"),
        OptionOnLayout{Layout::Gb, "--tile-order rows", ""}, refused(Layout::Gb, "--invert", "gb"),
        // Their rows are whole bytes anyway.
        OptionOnLayout{Layout::Packed2, "--pad-rows", ""},
        refused(Layout::Packed2, "--word 8", "packed2"),
        refused(Layout::Packed2, "--tile-order rows", "packed2"),
        OptionOnLayout{Layout::Packed2, "--invert", ""},
        OptionOnLayout{Layout::Nibble4, "--pad-rows", ""},
        refused(Layout::Nibble4, "--word 8", "nibble4"),
        refused(Layout::Nibble4, "--tile-order rows", "nibble4"),
        OptionOnLayout{Layout::Nibble4, "--invert", ""}),
    [](const testing::TestParamInfo<OptionOnLayout>& info) {
        std::string name = std::string(layoutInfo(info.param.layout).name) + info.param.option;
        std::replace_if(
            name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
        return name;
    });

// Every layout's elements, set into white planes, give back the planes they came from.
class LayoutRoundTrip : public testing::TestWithParam<LayoutOptions> {};

TEST_P(LayoutRoundTrip, ElementsGiveBackThePlanesOnRandomPictures) {
    const LayoutOptions options = GetParam();
    const bool gb = options.layout == Layout::Gb;
    const int tall = options.tileOrder == TileOrder::Tall8x16 ? 16 : 8;
    std::mt19937 random(7);
    for (int round = 0; round < 60; ++round) {
        const int width =
            gb ? 8 * (1 + static_cast<int>(random() % 4)) : 1 + static_cast<int>(random() % 41);
        const int height =
            gb ? tall * (1 + static_cast<int>(random() % 3)) : 1 + static_cast<int>(random() % 13);
        std::vector<Colour> pixels(static_cast<std::size_t>(width * height));
        for (Colour& p : pixels) {
            p = std::array{K, D, L, W}[random() % 4];
        }
        const Planes planes = planesOf(width, pixels, planesRowLayout(options));
        Planes back = makePlanes(width, height, planesRowLayout(options));
        const ElementPlan plan = elementPlan(options, width, height);
        std::size_t total = 0;
        for (int a = 0; a < layoutInfo(options.layout).arrays; ++a) {
            total += leadElements(options).size();
            for (std::size_t line = 0; line < plan.lines; ++line) {
                std::vector<std::uint32_t> elements;
                lineElements(planes, options, a, line, elements);
                for (const std::uint32_t e : elements) {
                    ASSERT_LT(e, std::uint64_t{1} << plan.bits);
                }
                total += elements.size();
                setLineElements(back, options, a, line, elements);
            }
        }
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        TextStyle style;
        style.layout = options;
        style.complete = round % 2 == 0;
        EXPECT_EQ(arraysTextSize(planes, style), writeArrays(planes, style).size());
        EXPECT_EQ(total, plan.total * static_cast<std::size_t>(layoutInfo(options.layout).arrays));
        EXPECT_EQ(back.dark, planes.dark);
        EXPECT_EQ(back.light, planes.light);
        std::vector<Pixel> row(static_cast<std::size_t>(width));
        for (int y = 0; y < height; ++y) {
            decodeRow(back, y, row);
            for (int x = 0; x < width; ++x) {
                ASSERT_EQ(row[static_cast<std::size_t>(x)],
                          static_cast<Pixel>(pixels[static_cast<std::size_t>(y * width + x)]));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LayoutRoundTrip,
    testing::Values(
        optionsOf(Layout::Planes), optionsOf(Layout::Planes, 8, false, RowLayout::Padded),
        optionsOf(Layout::Planes, 16), optionsOf(Layout::Planes, 32), optionsOf(Layout::Gb),
        optionsOf(Layout::Gb, 8, false, RowLayout::Packed, TileOrder::Columns),
        optionsOf(Layout::Gb, 8, false, RowLayout::Packed, TileOrder::Tall8x16),
        optionsOf(Layout::Packed2), optionsOf(Layout::Packed2, 8, true), optionsOf(Layout::Nibble4),
        optionsOf(Layout::Nibble4, 8, true), turned(optionsOf(Layout::Planes, 8, true)),
        turned(optionsOf(Layout::Planes, 8, true, RowLayout::Padded)),
        turned(optionsOf(Layout::Planes, 32)), turned(optionsOf(Layout::Packed2)),
        turned(optionsOf(Layout::Nibble4, 8, true)), optionsOf(Layout::Pages),
        msbFirst(optionsOf(Layout::Pages, 8, true)), optionsOf(Layout::Lvgl),
        mapped(optionsOf(Layout::Gb))));

} // namespace
