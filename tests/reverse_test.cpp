// The way back's decisions: what a header settles, what contradicts it, and element counts that
// fit no picture of the layout.

#include "conversion/reverse.h"
#include "ctext/c_array_writer.h"

#include <gtest/gtest.h>

using namespace conversion;
using ctext::Layout;
using imaging::RowLayout;

namespace {

struct ReverseCase {
    const char* what;
    TextArrays text;
    ReverseOptions options;
    int height;           // of the picture, or 0 when refused
    base::ErrorKind kind; // when refused
    const char* because;  // a part of the reason
};

ctext::CArray bytes(const std::string& name, std::size_t count, int bits = 8) {
    return {name, bits, 1, std::nullopt,
            std::vector<std::uint8_t>(count * static_cast<std::size_t>(bits / 8))};
}

TextArrays planes(std::size_t count, std::string comment = {},
                  std::vector<std::pair<std::string, std::uint64_t>> defines = {}) {
    return {{bytes("p_d", count), bytes("p_l", count)}, std::move(defines), std::move(comment)};
}

ReverseOptions asked(int width, std::optional<int> height = std::nullopt,
                     ctext::LayoutOptions layout = {}, ctext::LayoutGiven given = {}) {
    return {"in.h", width, height, layout, given, std::nullopt};
}

ReverseOptions named(ReverseOptions options, std::string name) {
    options.name = std::move(name);
    return options;
}

const std::string kPadded = " * Two planes of one bit per pixel, most significant bit first, rows "
                            "padded to whole bytes.";
const ctext::LayoutOptions kPad{Layout::Planes, RowLayout::Padded};

// A gb map numbering its tiles from `base`.
ctext::LayoutOptions mapOptions(int base) {
    ctext::LayoutOptions map{Layout::Gb};
    map.tileMap = true;
    map.tileBase = base;
    return map;
}
const ctext::LayoutOptions kMap = mapOptions(5);
const ctext::LayoutGiven kMapGiven{.layout = true, .tileMap = true, .tileBase = true};
// Two tiles and a map of two entries of `entry`.
TextArrays mapped(int entry) {
    TextArrays text{{bytes("m", 32), bytes("m_map", 2)}, {}, {}};
    std::fill(text.arrays[1].data.begin(), text.arrays[1].data.end(),
              static_cast<std::uint8_t>(entry));
    return text;
}

class Reverse : public testing::TestWithParam<ReverseCase> {};

TEST_P(Reverse, SettlesOrRefuses) {
    const ReverseCase& c = GetParam();
    const auto result = reverseArrays(c.text, "in.h", c.options);
    if (c.height > 0) {
        ASSERT_TRUE(std::holds_alternative<imaging::Planes>(result))
            << std::get<base::Error>(result).reason;
        EXPECT_EQ(std::get<imaging::Planes>(result).height, c.height);
        return;
    }
    ASSERT_TRUE(std::holds_alternative<base::Error>(result));
    const base::Error& error = std::get<base::Error>(result);
    EXPECT_EQ(error.file, "in.h");
    EXPECT_NE(error.reason.find(c.because), std::string::npos) << error.reason;
    EXPECT_EQ(error.kind, c.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Reverse,
    testing::Values(
        // A map of two tiles (16 x 8 pixels) numbered from 5: a 5 is tile 0, a 0 tile 251.
        ReverseCase{"mapBase", mapped(5), asked(16, {}, kMap, kMapGiven), 8, {}, ""},
        ReverseCase{"mapPastItsTiles", mapped(0), asked(16, {}, kMap, kMapGiven), 0,
                    base::ErrorKind::Input,
                    "m_map[0] is 0: tile 251 counting from 5, but m holds 2"},
        // Pages fill whole pages without a height; an lvgl picture has its palette first.
        ReverseCase{
            "pagesFill", planes(6), asked(3, {}, {Layout::Pages}, {.layout = true}), 16, {}, ""},
        ReverseCase{"lvglPalette",
                    {{bytes("i_map", 10)}, {}, {}},
                    asked(3, {}, {Layout::Lvgl}, {.layout = true}),
                    0,
                    base::ErrorKind::Input,
                    "fewer than the 16 bytes of the palette"},
        // 12 bytes of 20-pixel rows: 4 padded rows of 3 bytes, but no whole packed rows.
        ReverseCase{"onlyPaddedFits", planes(12), asked(20), 0, base::ErrorKind::Input,
                    "4 rows of 20 pixels padded to 3 bytes each"},
        ReverseCase{"paddedAsAsked", planes(12), asked(20, {}, kPad, {false, true}), 4, {}, ""},
        // 10 bytes: 4 packed rows of 20, not whole padded rows.
        ReverseCase{"onlyPackedFits", planes(10), asked(20, {}, kPad, {false, true}), 0,
                    base::ErrorKind::Input, "they fit 4 packed rows"},
        // One byte of 2-pixel packed rows is 4 rows, or 3 when HEIGHT says so.
        ReverseCase{"narrowRowsFill", planes(1), asked(2), 4, {}, ""},
        ReverseCase{"heightSettles", planes(1), asked(2, 3), 3, {}, ""},
        ReverseCase{"heightTooTall", planes(1), asked(2, 5), 0, base::ErrorKind::Input,
                    "take 2 bytes"},
        // A header's comment says padded: its layout holds without --pad-rows.
        ReverseCase{"headerSaysPadded",
                    planes(2, kPadded, {{"p_width", 5}, {"p_height", 2}}),
                    asked(5),
                    2,
                    {},
                    ""},
        ReverseCase{"headerWidthFromIt",
                    planes(2, kPadded, {{"p_width", 5}, {"p_height", 2}}),
                    asked(0),
                    2,
                    {},
                    ""},
        ReverseCase{"headerContradicted", planes(2, kPadded, {{"p_width", 5}, {"p_height", 2}}),
                    asked(5, {}, {Layout::Packed2}, {true}), 0, base::ErrorKind::Usage,
                    "--layout packed2 contradicts it"},
        ReverseCase{"headerWidthContradicted",
                    planes(2, kPadded, {{"p_width", 5}, {"p_height", 2}}), asked(6), 0,
                    base::ErrorKind::Usage, "p_width is 5, not the -r WIDTH 6"},
        ReverseCase{"headerHeightContradicted",
                    planes(2, kPadded, {{"p_width", 5}, {"p_height", 2}}), asked(5, 1), 0,
                    base::ErrorKind::Usage, "p_height is 2, not the -r HEIGHT 1"},
        ReverseCase{"gbBands",
                    TextArrays{{bytes("t", 64)}, {}, {}},
                    asked(16, {}, {Layout::Gb}),
                    16,
                    {},
                    ""},
        ReverseCase{"gbPartialBand", TextArrays{{bytes("t", 48)}, {}, {}},
                    asked(16, {}, {Layout::Gb}), 0, base::ErrorKind::Input,
                    "not a whole number of bands of 2 tiles"},
        ReverseCase{"oneArrayLayoutOfTwo", planes(4), asked(8, {}, {Layout::Nibble4}), 0,
                    base::ErrorKind::Input, "holds 2 arrays; --layout nibble4 has one"},
        ReverseCase{"wordOfBytes", planes(4), asked(8, {}, {Layout::Planes, RowLayout::Padded, 16}),
                    0, base::ErrorKind::Input, "8-bit elements"},
        ReverseCase{"packed2PartRow", TextArrays{{bytes("a", 5)}, {}, {}},
                    asked(5, {}, {Layout::Packed2}), 0, base::ErrorKind::Input,
                    "not a whole number of rows of 5 pixels (2 bytes a row)"},
        // A height no picture has is named as the header gives it.
        ReverseCase{"headerHeightTooLarge",
                    planes(1, {}, {{"p_width", 8}, {"p_height", 18446744073709551615u}}), asked(0),
                    0, base::ErrorKind::Input,
                    "p_height is 18446744073709551615; a picture has at most 32767 rows"},
        // 4096 bytes of 1-pixel packed rows: 32768 rows, or 32761 to 32767 and fill bits.
        ReverseCase{"tooManyRowsSuggestsHeight", planes(4096), asked(1), 0, base::ErrorKind::Input,
                    "its arrays hold 4096 bytes, 32768 rows of 1 pixel; a picture has at most "
                    "32767: give the height, -r 1x32767 (or any from 32761)"},
        ReverseCase{"tooManyRowsOfBytes", planes(32768), asked(8), 0, base::ErrorKind::Input,
                    "its arrays hold 32768 bytes, 32768 rows of 8 pixels; a picture has at most "
                    "32767"},
        // -n picks its arrays among others, in the text's order or not.
        ReverseCase{"namePicks",
                    TextArrays{{bytes("a_d", 2), bytes("a_l", 2), bytes("b_l", 3), bytes("b_d", 3)},
                               {{"b_width", 8}},
                               {}},
                    named(asked(0), "b"),
                    3,
                    {},
                    ""},
        ReverseCase{"nameMissing", planes(2), named(asked(8), "q"), 0, base::ErrorKind::Input,
                    "it holds no array q_d for --layout planes (its arrays: p_d, p_l)"}),
    [](const testing::TestParamInfo<ReverseCase>& info) { return std::string(info.param.what); });

// A picture's name stands in a complete header's first comment; whatever it holds (another
// layout's sentence, the end of a comment, a line end), the way back reads the header's own
// layout, with no options and with the right ones.
TEST(ReverseHeader, NameCannotStateTheLayout) {
    using ctext::LayoutOptions;
    using ctext::TileOrder;
    // Each layout, and one whose sentence its picture is named after.
    const std::pair<LayoutOptions, LayoutOptions> layouts[] = {
        {{Layout::Packed2, RowLayout::Packed, 8, TileOrder::Rows, true}, {Layout::Packed2}},
        {{Layout::Gb, RowLayout::Packed, 8, TileOrder::Columns}, {Layout::Gb}},
        {{Layout::Nibble4, RowLayout::Packed, 8, TileOrder::Rows, true}, {Layout::Planes}},
        {{Layout::Planes, RowLayout::Padded}, {Layout::Nibble4}},
    };
    imaging::Planes picture = imaging::makePlanes(8, 16, RowLayout::Padded);
    picture.dark[0] = 0xC1;
    picture.light[0] = 0xA3;
    picture.dark[9] = 0x0F;
    picture.light[15] = 0x80;
    for (const auto& [layout, other] : layouts) {
        const std::string sentence = ctext::layoutSentence(other);
        for (const std::string& name : {sentence, "x */ " + sentence, "x /* " + sentence,
                                        "x\n * " + sentence, "x\r\n" + sentence + "\r\n"}) {
            SCOPED_TRACE(ctext::layoutSentence(layout) + " named " + name);
            ctext::TextStyle style;
            style.complete = true;
            style.layout = layout;
            style.source = name;
            style.name = "pic";
            const auto read = ctext::readCText(ctext::writeArrays(picture, style));
            ASSERT_TRUE(std::holds_alternative<TextArrays>(read));
            const TextArrays& text = std::get<TextArrays>(read);
            EXPECT_EQ(text.firstComment.find('\n'),
                      text.firstComment.find("\n * " + ctext::layoutSentence(layout)))
                << "the name ended its line or the comment";
            const ctext::LayoutGiven all{true, layout.layout == Layout::Planes,
                                         layout.layout == Layout::Planes,
                                         layout.layout == Layout::Gb, layout.invert};
            for (const ReverseOptions& options : {asked(0), asked(8, {}, layout, all)}) {
                const auto back = reverseArrays(text, "pic.h", options);
                ASSERT_TRUE(std::holds_alternative<imaging::Planes>(back))
                    << std::get<base::Error>(back).reason;
                const imaging::Planes& planes = std::get<imaging::Planes>(back);
                EXPECT_EQ(planes.height, 16);
                EXPECT_EQ(planes.dark, picture.dark);
                EXPECT_EQ(planes.light, picture.light);
            }
        }
    }
}

} // namespace
