// The C array reader: every text the writer makes reads back to its planes, hand-written C in
// other dresses reads too, and text without two arrays of bytes is refused with the reason.

#include "imaging/c_array_reader.h"
#include "imaging/c_array_writer.h"

#include <gtest/gtest.h>
#include <random>

using namespace imaging;

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(CArrayReader, ReadsBackEveryTextTheWriterMakes) {
    std::mt19937 random(5);
    for (const RowLayout layout : {RowLayout::Packed, RowLayout::Padded}) {
        for (const int width : {1, 7, 8, 9, 30}) {
            Planes planes = makePlanes(width, 5, layout);
            for (std::size_t k = 0; k < planes.dark.size(); ++k) {
                planes.dark[k] = static_cast<std::uint8_t>(random());
                planes.light[k] = static_cast<std::uint8_t>(random());
            }
            for (const int dress : {0, 1, 2, 3}) {
                TextStyle style;
                style.lf = dress & 1;
                style.complete = dress & 2;
                style.name = dress == 3 ? "logo_2" : "Untitled";
                SCOPED_TRACE(testing::Message()
                             << width << (layout == RowLayout::Padded ? " padded" : "") << " dress "
                             << dress);
                const CArraysRead read = readCArrays(writeArrays(planes, style));
                ASSERT_EQ(read.error, "");
                EXPECT_EQ(read.arrays.darkName, style.name + "_d");
                EXPECT_EQ(read.arrays.lightName, style.name + "_l");
                EXPECT_EQ(read.arrays.dark, planes.dark);
                EXPECT_EQ(read.arrays.light, planes.light);
                EXPECT_EQ(read.arrays.width, style.complete ? width : 0);
                EXPECT_EQ(read.arrays.height, style.complete ? 5 : 0);
            }
        }
    }
}

struct Accepted {
    const char* what;
    const char* text;
    Bytes dark;
    Bytes light;
};

class CArrayReaderAccepts : public testing::TestWithParam<Accepted> {};

TEST_P(CArrayReaderAccepts, Text) {
    const CArraysRead read = readCArrays(GetParam().text);
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(read.arrays.dark, GetParam().dark);
    EXPECT_EQ(read.arrays.light, GetParam().light);
}

INSTANTIATE_TEST_SUITE_P(
    Dresses, CArrayReaderAccepts,
    testing::Values(
        Accepted{"every base and suffix",
                 "a[] = {255, 0xfe, 0X0D, 017, 0b101, 7u, 8UL, 1'0};\n"
                 "b[8] = {0,0,0,0,0,0,0,0};",
                 {255, 0xFE, 0x0D, 017, 5, 7, 8, 10},
                 {0, 0, 0, 0, 0, 0, 0, 0}},
        Accepted{"light first by its suffix",
                 "const uint8_t pic_l[2] = { 1, 2 };\nconst uint8_t pic_d[2] = { 3, 4 };",
                 {3, 4},
                 {1, 2}},
        Accepted{"any other names keep their order", "x_light[] = {1}; x_dark[] = {2};", {1}, {2}},
        Accepted{"comments, directives and braces in strings",
                 "/* q[] = {9}; */ // r[] = {9};\n#define S \"[] = {\" \\\n  t[] = {9}\n"
                 "const char *u = \"v[] = {9}\";\nw[]={1,/*x*/2,}; y[] = {3, 4} ;",
                 {1, 2},
                 {3, 4}},
        Accepted{"left open, CR LF",
                 "p_d[] = {\r\n\r\n0x01, 0x02, \r\n\r\np_l[] = {\r\n0x03, 0x04, ",
                 {1, 2},
                 {3, 4}},
        Accepted{"empty arrays", "a[] = {}; b[] = {};", {}, {}}),
    [](const testing::TestParamInfo<Accepted>& info) {
        return "Case" + std::to_string(info.index);
    });

struct Refused {
    const char* text;
    const char* reason;
};

class CArrayReaderRefuses : public testing::TestWithParam<Refused> {};

TEST_P(CArrayReaderRefuses, Text) {
    EXPECT_EQ(readCArrays(GetParam().text).error, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CArrayReaderRefuses,
    testing::Values(
        Refused{"", "no array of bytes in it"},
        Refused{"int main(void) { return 0; }", "no array of bytes in it"},
        Refused{"/* a[] = {1}; b[] = {2}; */", "no array of bytes in it"},
        Refused{"a[] = {1, 2};", "only one array (a) in it, not two"},
        Refused{"a[] = {1}; b[] = {2}; c[] = {3};", "3 arrays in it, not two"},
        Refused{"a[] = {1};\nb[] = {2,\n256};", "line 3: b: 256 is more than a byte holds (255)"},
        Refused{"a[] = {0x100}; b[] = {1};", "line 1: a: 0x100 is more than a byte holds (255)"},
        Refused{"a[] = {-1}; b[] = {1};", "line 1: a: '-' is not a byte value"},
        Refused{"a[] = {1.5}; b[] = {1};", "line 1: a: 1.5 is not a number C knows"},
        Refused{"a[] = {09}; b[] = {1};", "line 1: a: 09 is not a number C knows"},
        Refused{"a[] = {0x}; b[] = {1};", "line 1: a: 0x is not a number C knows"},
        Refused{"a[] = {1 2}; b[] = {1};", "line 1: a: a comma is missing before 2"},
        Refused{"a[] = {1,,2}; b[] = {1};", "line 1: a: a value is missing before a comma"},
        Refused{"a[] = {{1}}; b[] = {1};", "line 1: a: '{' is not a byte value"},
        Refused{"a[] = {'x'}; b[] = {1};", "line 1: a: ''x'' is not a byte value"},
        Refused{"p_d[] = {1, 2}; p_l[] = {3};",
                "p_d holds 2 bytes and p_l 1: the planes must be as long"}),
    [](const testing::TestParamInfo<Refused>& info) {
        return "Case" + std::to_string(info.index);
    });

} // namespace
