// The way back's decisions: what a header settles, what contradicts it, and element counts that
// fit no picture of the layout.

#include "conversion/output.h"
#include "conversion/reverse.h"
#include "ctext/c_array_writer.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>

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

ReverseOptions framed(ReverseOptions options, int width, int height) {
    options.frames = {width, height};
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
                    "it holds no array q_d for --layout planes (its arrays: p_d, p_l)"},
        // Frames of 5 x 2 take 2 bytes each: 6 bytes are 3 of them, which no sheet 10 wide
        // holds; a header's count must be the arrays'.
        ReverseCase{"framesInRows", planes(6), framed(asked(15), 5, 2), 2, {}, ""},
        ReverseCase{"framesNotInRows", planes(6), framed(asked(10), 5, 2), 0,
                    base::ErrorKind::Input, "hold 3 frames of 5 x 2 pixels"},
        ReverseCase{"framesCountedOtherwise",
                    planes(6, {}, {{"p_width", 5}, {"p_height", 2}, {"p_frames", 2}}), asked(5), 0,
                    base::ErrorKind::Input, "but the header says 2"},
        ReverseCase{"framesOfLvgl",
                    {{bytes("i_map", 20)}, {}, {}},
                    framed(asked(4, {}, {Layout::Lvgl}, {.layout = true}), 2, 2),
                    0,
                    base::ErrorKind::Usage,
                    "--frames 2x2 does not apply to --layout lvgl"},
        // A mask needs its polarity: from a header or --mask.
        ReverseCase{"maskWithoutPolarity",
                    {{bytes("p_d", 2), bytes("p_l", 2), bytes("p_m", 2)}, {}, {}},
                    asked(8),
                    0,
                    base::ErrorKind::Usage,
                    "it holds a mask, p_m, but no header says"},
        ReverseCase{"maskMissing", planes(2),
                    asked(8, {}, {.mask = ctext::Mask::Ones}, {.mask = true}), 0,
                    base::ErrorKind::Input, "it holds no mask array NAME_m for --mask ones"}),
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

// ---------------------------------------------------------------------------------------------
// Frames and masks.

// Sets pixel (x, y) of the planes to a level (0 black ... 3 white) or, with a mask, transparent
// (4: white and no mask bit).
void setPixel(imaging::Planes& planes, int x, int y, int level) {
    const std::size_t bit =
        static_cast<std::size_t>(y) * planes.rowBits() + static_cast<std::size_t>(x);
    const auto one = static_cast<std::uint8_t>(0x80u >> bit % 8);
    if (level == 0 || level == 1) {
        planes.dark[bit / 8] |= one;
    }
    if (level == 0 || level == 2) {
        planes.light[bit / 8] |= one;
    }
    if (!planes.mask.empty() && level != 4) {
        planes.mask[bit / 8] |= one;
    }
}

// A picture drawn in K, D, L, W and T (transparent), a string a row.
imaging::Planes drawn(const std::vector<std::string>& rows, RowLayout layout) {
    imaging::Planes planes = imaging::makePlanes(static_cast<int>(rows[0].size()),
                                                 static_cast<int>(rows.size()), layout);
    planes.mask.assign(planes.planeBytes(), 0);
    for (std::size_t y = 0; y < rows.size(); ++y) {
        for (std::size_t x = 0; x < rows[y].size(); ++x) {
            setPixel(planes, static_cast<int>(x), static_cast<int>(y),
                     static_cast<int>(std::string_view("KDLWT").find(rows[y][x])));
        }
    }
    return planes;
}

// Two frames of 10 x 2 with transparent pixels in both, in 16-bit elements and a mask whose 0
// bits are the opaque pixels, worked out by hand: a row is one element, the six bits after
// its pixels zero in the mask too.
TEST(FramesAndMask, HandWorkedWord16Zeros) {
    const imaging::Planes sheet =
        drawn({"KDLWKWWDLKTKDWWWLLKT", "WWKLWTTWDWTTWWKDWWWT"}, RowLayout::Padded);
    ctext::TextStyle style;
    style.name = "spr";
    style.source = "sheet.bmp";
    style.complete = true;
    style.lf = true;
    style.layout.word = 16;
    style.layout.mask = ctext::Mask::Zeros;
    style.frames = {10, 2};
    const std::string expected =
        "/* sheet.bmp: 2 frames of 10 x 2 pixels in four grey levels.\n"
        " * Two planes of one bit per pixel in 16-bit elements, most significant bit first, rows "
        "padded to whole elements. A mask follows, one bit per pixel as in the planes: 0 marks an "
        "opaque pixel.\n"
        " * spr_d: black and dark grey pixels; spr_l: black and light grey pixels. */\n"
        "#ifndef GREYPLANES_spr_H\n#define GREYPLANES_spr_H\n\n"
        "#define spr_width 10\n#define spr_height 2\n#define spr_frames 2\n"
        "#define spr_frame_size 2\n#define spr_m_frame_size 2\n\n"
        "static const unsigned short spr_d[] = {\n\n0xC940, \n0x2080, \n0x6080, \n0x0C00, \n};\n\n"
        "static const unsigned short spr_l[] = {\n\n0xA8C0, \n0x3000, \n0x4380, \n0x0800, \n};\n\n"
        "static const unsigned short spr_m[] = {\n\n0x0000, \n0x0600, \n0x8040, \n0xC040, \n};\n\n"
        "#endif\n";
    EXPECT_EQ(ctext::writeArrays(sheet, style), expected);
    EXPECT_EQ(ctext::arraysTextSize(sheet, style), expected.size());
    // The header alone gives the frames back, as one row: the sheet they came from.
    const auto read = ctext::readCText(expected);
    ASSERT_TRUE(std::holds_alternative<TextArrays>(read));
    const auto back = reverseArrays(std::get<TextArrays>(read), "spr.h", asked(0));
    ASSERT_TRUE(std::holds_alternative<imaging::Planes>(back))
        << std::get<base::Error>(back).reason;
    const imaging::Planes& planes = std::get<imaging::Planes>(back);
    EXPECT_EQ(planes.width, 20);
    EXPECT_EQ(planes.dark, sheet.dark);
    EXPECT_EQ(planes.light, sheet.light);
    EXPECT_EQ(planes.mask, sheet.mask);
}

// The picture of planes with a mask shows transparent pixels in a fifth colour, also where a
// row does not start on a byte.
TEST(FramesAndMask, PictureShowsTransparentPixelsInAFifthColour) {
    const std::vector<std::string> rows = {"KDLWKWWDLKTKDWWWLLKT", "WWKLWTTWDWTTWWKDWWWT"};
    const std::string path = testing::TempDir() + "masked.bmp";
    ASSERT_FALSE(writePicture(drawn(rows, RowLayout::Packed), {path}, 0x123456));
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    ASSERT_EQ(file.size(), 74u + 2 * 12);
    EXPECT_EQ(file[10], 74);
    EXPECT_EQ(file[46], 5); // colours used
    EXPECT_EQ(std::vector<unsigned char>(file.begin() + 70, file.begin() + 74),
              (std::vector<unsigned char>{0x12, 0x34, 0x56, 0}));
    for (std::size_t y = 0; y < rows.size(); ++y) {
        const std::size_t stored = 74 + 12 * (rows.size() - 1 - y);
        for (std::size_t x = 0; x < rows[y].size(); ++x) {
            const unsigned byte = file[stored + x / 2];
            EXPECT_EQ(x % 2 == 0 ? byte >> 4 : byte & 15u,
                      std::string_view("KDLWT").find(rows[y][x]))
                << x << ", " << y;
        }
    }
}

// Every layout that takes frames, with and without a mask of each polarity, frames in either
// order: the text read back with -r SHEET --frames FRAME (and from a complete header alone)
// gives the sheet, its mask among it; one frame is the picture's own text and the frame
// defines.
class FramesRoundTrip : public testing::TestWithParam<ctext::LayoutOptions> {};

TEST_P(FramesRoundTrip, TextGivesBackTheSheet) {
    const ctext::LayoutOptions layout = GetParam();
    const bool gb = layout.layout == Layout::Gb;
    const bool masks = layout.layout == Layout::Planes || layout.layout == Layout::Packed2 ||
                       layout.layout == Layout::Nibble4;
    const int tall = layout.tileOrder == ctext::TileOrder::Tall8x16 ? 16 : 8;
    std::mt19937 random(11);
    for (int round = 0; round < 24; ++round) {
        // Every fourth a frame of whole bytes.
        const int frameWidth = gb || round % 4 == 3 ? 8 * (1 + static_cast<int>(random() % 2))
                                                    : 1 + static_cast<int>(random() % 13);
        const int frameHeight = gb ? tall : 1 + static_cast<int>(random() % 5);
        // Every sixth a single frame.
        const int across = round % 6 == 5 ? 1 : 1 + static_cast<int>(random() % 3);
        const int down = round % 6 == 5 ? 1 : 1 + static_cast<int>(random() % 3);
        const ctext::Mask mask =
            masks ? std::array{ctext::Mask::None, ctext::Mask::Ones, ctext::Mask::Zeros}[round % 3]
                  : ctext::Mask::None;
        const imaging::FrameGrid grid{frameWidth, frameHeight,
                                      round % 2 == 0 ? imaging::FrameOrder::Rows
                                                     : imaging::FrameOrder::Columns};
        imaging::Planes sheet = imaging::makePlanes(across * frameWidth, down * frameHeight,
                                                    ctext::planesRowLayout(layout));
        if (mask != ctext::Mask::None) {
            sheet.mask.assign(sheet.planeBytes(), 0);
        }
        for (int y = 0; y < sheet.height; ++y) {
            for (int x = 0; x < sheet.width; ++x) {
                setPixel(sheet, x, y, static_cast<int>(random() % (sheet.mask.empty() ? 4 : 5)));
            }
        }
        ctext::TextStyle style;
        style.layout = layout;
        style.layout.mask = mask;
        style.frames = grid;
        style.complete = round % 4 < 2;
        style.name = "s";
        const std::string sheetSize =
            std::to_string(sheet.width) + " x " + std::to_string(sheet.height) + " in frames of " +
            std::to_string(frameWidth) + " x " + std::to_string(frameHeight);
        SCOPED_TRACE(ctext::layoutSentence(style.layout) + " " + sheetSize);
        const std::string text = ctext::writeArrays(sheet, style);
        EXPECT_EQ(ctext::arraysTextSize(sheet, style), text.size());
        const auto read = ctext::readCText(text);
        ASSERT_TRUE(std::holds_alternative<TextArrays>(read));
        ctext::LayoutGiven given{.layout = true};
        given.mask = mask != ctext::Mask::None;
        ReverseOptions options = asked(sheet.width, sheet.height, style.layout, given);
        options.frames = grid;
        const auto back = reverseArrays(std::get<TextArrays>(read), "s.h", options);
        ASSERT_TRUE(std::holds_alternative<imaging::Planes>(back))
            << std::get<base::Error>(back).reason;
        const imaging::Planes& planes = std::get<imaging::Planes>(back);
        EXPECT_EQ(planes.width, sheet.width);
        EXPECT_EQ(planes.dark, sheet.dark);
        EXPECT_EQ(planes.light, sheet.light);
        EXPECT_EQ(planes.mask, sheet.mask);
        if (style.complete) {
            // The header's frames, one row of them, frame after frame.
            const auto row = reverseArrays(std::get<TextArrays>(read), "s.h", asked(0));
            ASSERT_TRUE(std::holds_alternative<imaging::Planes>(row))
                << std::get<base::Error>(row).reason;
            const imaging::Planes& inRow = std::get<imaging::Planes>(row);
            ASSERT_EQ(inRow.width, frameWidth * across * down);
            const imaging::FrameGrid oneRow{frameWidth, frameHeight};
            for (int f = 0; f < across * down; ++f) {
                const auto got = imaging::cutFrame(inRow, oneRow, f, RowLayout::Padded);
                const auto want = imaging::cutFrame(sheet, grid, f, RowLayout::Padded);
                EXPECT_EQ(got.dark, want.dark) << "frame " << f;
                EXPECT_EQ(got.light, want.light) << "frame " << f;
                EXPECT_EQ(got.mask, want.mask) << "frame " << f;
            }
        }
        if (across * down == 1) {
            ctext::TextStyle picture = style;
            picture.frames = {};
            std::string alone = ctext::writeArrays(sheet, picture);
            if (style.complete) {
                const std::string defines = "#define s_frames 1\r\n#define s_frame_size ";
                std::string framed = text;
                const std::size_t at = framed.find(defines);
                ASSERT_NE(at, std::string::npos);
                framed.erase(at, framed.find("\r\n", at + defines.size()) + 2 - at);
                const std::size_t m = framed.find("#define s_m_frame_size ");
                if (m != std::string::npos) {
                    framed.erase(m, framed.find("\r\n", m) + 2 - m);
                }
                EXPECT_EQ(framed, alone);
            } else {
                EXPECT_EQ(text, alone);
            }
        }
    }
}

ctext::LayoutOptions with(ctext::LayoutOptions options, ctext::BitOrder order, bool invert,
                          RowLayout rows = RowLayout::Packed) {
    options.bitOrder = order;
    options.invert = invert;
    options.rows = rows;
    return options;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FramesRoundTrip,
    testing::Values(ctext::LayoutOptions{Layout::Planes},
                    ctext::LayoutOptions{Layout::Planes, RowLayout::Padded},
                    with({Layout::Planes}, ctext::BitOrder::Lsb, true),
                    ctext::LayoutOptions{Layout::Planes, RowLayout::Padded, 16},
                    with({Layout::Planes, RowLayout::Padded, 32}, ctext::BitOrder::Lsb, false),
                    ctext::LayoutOptions{Layout::Gb},
                    ctext::LayoutOptions{Layout::Gb, RowLayout::Packed, 8,
                                         ctext::TileOrder::Tall8x16},
                    ctext::LayoutOptions{Layout::Packed2},
                    with({Layout::Packed2}, ctext::BitOrder::Lsb, true, RowLayout::Padded),
                    ctext::LayoutOptions{Layout::Nibble4},
                    with({Layout::Nibble4}, ctext::BitOrder::Lsb, false, RowLayout::Padded),
                    with({Layout::Pages}, ctext::BitOrder::Msb, true)));

} // namespace
