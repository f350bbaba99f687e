// The C-text reader: every text the writer makes reads back to its planes, hand-written C in
// other dresses reads as C reads it, and hostile text is refused with its line and the reason.

#include "ctext/c_array_reader.h"
#include "ctext/c_array_writer.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>

using namespace ctext;
using namespace imaging;

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::string_literals;

const CText& ok(const base::Result<CText>& r) {
    if (const auto* e = std::get_if<base::Error>(&r)) {
        ADD_FAILURE() << e->reason;
        static const CText none;
        return none;
    }
    return std::get<CText>(r);
}

// The text through a read function that hands it over `chunk` bytes at a time.
base::Result<CText> readInChunks(std::string_view text, std::size_t chunk) {
    return readCText([&text, chunk](std::span<char> room) -> std::ptrdiff_t {
        const std::size_t n = std::min({text.size(), room.size(), chunk});
        std::copy_n(text.data(), n, room.data());
        text.remove_prefix(n);
        return static_cast<std::ptrdiff_t>(n);
    });
}

// Every layout and option the writer has.
std::vector<LayoutOptions> everyLayout() {
    std::vector<LayoutOptions> all;
    for (const RowLayout rows : {RowLayout::Packed, RowLayout::Padded}) {
        for (const int word : {8, 16, 32}) {
            all.push_back({Layout::Planes, rows, word, TileOrder::Rows, false});
        }
    }
    for (const TileOrder order : {TileOrder::Rows, TileOrder::Columns, TileOrder::Tall8x16}) {
        all.push_back({Layout::Gb, RowLayout::Padded, 8, order, false});
    }
    for (const Layout layout : {Layout::Packed2, Layout::Nibble4}) {
        for (const bool invert : {false, true}) {
            all.push_back({layout, RowLayout::Padded, 8, TileOrder::Rows, invert});
        }
    }
    return all;
}

// The text of random planes in every layout and dress, read back (in one piece or a byte at a
// time, so that every buffer boundary falls inside every token), gives the elements the
// layout lays out, with the writer's names and defines.
TEST(CArrayReader, ReadsBackEveryTextTheWriterMakes) {
    std::mt19937 random(5);
    for (const LayoutOptions& layout : everyLayout()) {
        for (const auto& [width, height] : {std::pair{16, 16}, std::pair{9, 5}, std::pair{33, 3}}) {
            if (extentProblem(layout, width, height)) {
                continue;
            }
            Planes planes = makePlanes(width, height, planesRowLayout(layout));
            for (std::size_t k = 0; k < planes.dark.size(); ++k) {
                planes.dark[k] = static_cast<std::uint8_t>(random());
                planes.light[k] = static_cast<std::uint8_t>(random());
            }
            // Fill bits stand for no pixel: the writer writes them as zero.
            planes = [&] {
                Planes clean = makePlanes(width, height, planes.layout);
                for (int y = 0; y < height; ++y) {
                    for (int x = 0; x < width; ++x) {
                        const std::size_t bit = y * planes.rowBits() + x;
                        const auto mask = static_cast<std::uint8_t>(0x80 >> bit % 8);
                        clean.dark[bit / 8] |= planes.dark[bit / 8] & mask;
                        clean.light[bit / 8] |= planes.light[bit / 8] & mask;
                    }
                }
                return clean;
            }();
            const ElementPlan plan = elementPlan(layout, width, height);
            const int arrays = layoutInfo(layout.layout).arrays;
            for (const int dress : {0, 1, 2, 3}) {
                TextStyle style;
                style.layout = layout;
                style.lf = dress & 1;
                style.complete = dress & 2;
                style.art = dress == 3;
                style.name = dress == 3 ? "logo_2" : "Untitled";
                SCOPED_TRACE(testing::Message() << layoutSentence(layout) << " " << width << "x"
                                                << height << " dress " << dress);
                const std::string text = writeArrays(planes, style);
                const auto result = readInChunks(text, dress == 0 ? 1 : 4093);
                const CText& read = ok(result);
                ASSERT_EQ(read.arrays.size(), static_cast<std::size_t>(arrays));
                for (int a = 0; a < arrays; ++a) {
                    const CArray& got = read.arrays[static_cast<std::size_t>(a)];
                    EXPECT_EQ(got.name,
                              arrays == 1 ? style.name : style.name + (a == 0 ? "_d" : "_l"));
                    EXPECT_EQ(got.elementBits, plan.bits);
                    std::vector<std::uint32_t> want;
                    for (std::size_t line = 0; line < plan.lines; ++line) {
                        lineElements(planes, layout, a, line, want);
                    }
                    ASSERT_EQ(got.size(), want.size());
                    for (std::size_t i = 0; i < want.size(); ++i) {
                        ASSERT_EQ(got.at(i), want[i]) << "element " << i;
                    }
                }
                const auto defined = [&](const std::string& name) {
                    return std::count(read.defines.begin(), read.defines.end(),
                                      std::pair<std::string, std::uint64_t>(
                                          name, name.ends_with("_width") ? width : height));
                };
                EXPECT_EQ(defined(style.name + "_width"), style.complete ? 1 : 0);
                EXPECT_EQ(defined(style.name + "_height"), style.complete ? 1 : 0);
                if (style.complete) {
                    EXPECT_NE(read.firstComment.find(layoutSentence(layout)), std::string::npos);
                }
            }
        }
    }
}

// Text cut short anywhere: a complete header is refused from its first array up to its last
// "#endif" (nothing is lost after it); the classic text either is refused or reads whole values
// only, a prefix of each plane.
TEST(CArrayReader, EveryCutOfTheWriterTextIsRefusedOrExact) {
    Planes planes = makePlanes(12, 2, RowLayout::Packed);
    planes.dark = {0xF1, 0x2E, 0x9C};
    planes.light = {0x03, 0xB0, 0x7F};
    for (const bool complete : {false, true}) {
        TextStyle style;
        style.complete = complete;
        const std::string text = writeArrays(planes, style);
        const std::size_t endif = text.rfind("#endif") + 6;
        for (std::size_t cut = 0; cut < text.size(); ++cut) {
            SCOPED_TRACE(text.substr(0, cut));
            const auto r = readCText(std::string_view(text).substr(0, cut));
            if (complete) {
                // Before the first array there is nothing to lose.
                const auto* read = std::get_if<CText>(&r);
                EXPECT_TRUE(cut < endif ? !read || read->arrays.empty() : read != nullptr);
                continue;
            }
            if (const auto* read = std::get_if<CText>(&r)) {
                const std::vector<Bytes> whole = {planes.dark, planes.light};
                ASSERT_LE(read->arrays.size(), 2u);
                for (std::size_t a = 0; a < read->arrays.size(); ++a) {
                    const Bytes& got = read->arrays[a].data;
                    EXPECT_TRUE(std::equal(got.begin(), got.end(), whole[a].begin()));
                }
            }
        }
    }
}

struct Accepted {
    const char* text;
    std::vector<std::pair<std::string, Bytes>> arrays; // name, data
    int bits = 8;
    std::vector<std::pair<std::string, std::uint64_t>> defines = {};
};

class CArrayReaderAccepts : public testing::TestWithParam<Accepted> {};

TEST_P(CArrayReaderAccepts, Text) {
    const auto result = readCText(GetParam().text);
    const CText& read = ok(result);
    ASSERT_EQ(read.arrays.size(), GetParam().arrays.size());
    for (std::size_t k = 0; k < read.arrays.size(); ++k) {
        EXPECT_EQ(read.arrays[k].name, GetParam().arrays[k].first);
        EXPECT_EQ(read.arrays[k].data, GetParam().arrays[k].second);
        EXPECT_EQ(read.arrays[k].elementBits, GetParam().bits);
    }
    EXPECT_EQ(read.defines, GetParam().defines);
}

INSTANTIATE_TEST_SUITE_P(
    Dresses, CArrayReaderAccepts,
    testing::Values(
        Accepted{"a[] = {255, 0xfe, 0X0D, 017, 0b101, 7u, 8UL, 1'0, 0'7, 0xf'f, 9llu, 3LLU, "
                 "4uLL, 5wb};",
                 {{"a", {255, 0xFE, 0x0D, 15, 5, 7, 8, 10, 7, 255, 9, 3, 4, 5}}}},
        Accepted{"const uint8_t pic_l[2] = { 1, 2 };\nstatic const unsigned char pic_d[] = {3};",
                 {{"pic_l", {1, 2}}, {"pic_d", {3}}}},
        Accepted{"x_d[3]={0xFF}; x_l[18]={0};", {{"x_d", {255, 0, 0}}, {"x_l", Bytes(18, 0)}}},
        Accepted{"#define W 010\n#define H 0x1'0u /* rows */\n#define F(x) 1\n#define S \"s\"\n"
                 "#define N 3\nu[N] = {1};\n#undef N\n#define N 2",
                 {{"u", {1, 0, 0}}},
                 8,
                 {{"W", 8}, {"H", 16}, {"N", 2}}},
        Accepted{"/* q[] = {9}; */ // r[] = {9};\n#define S \"[] = {\" \\\n  t[] = {9}\n"
                 "const char *u = \"v[] = {9}\";\nint main(void) { b[i] = 0; f(c[]); }\n"
                 "w[]={1,/*x*/2,}, y[] = {3} ;",
                 {{"w", {1, 2}}, {"y", {3}}}},
        // The classic shape: left open, ending at the next declaration and at the end.
        Accepted{"p_d[] = {\r\n\r\n0x01, 0x02, \r\n\r\nstatic unsigned char p_l[] = {\r\n0x03, ",
                 {{"p_d", {1, 2}}, {"p_l", {3}}}},
        // CR-only line ends: the comment and the directive end at their line.
        Accepted{"// c\r#define a_width 2\rb[] = {1,\r2};", {{"b", {1, 2}}}, 8, {{"a_width", 2}}},
        // The include guard a complete header has.
        Accepted{"/* x */\n#ifndef G\n#define G\nconst unsigned short s[] = {0xBEEF, 1};\n#endif\n",
                 {{"s", {0xBE, 0xEF, 0, 1}}},
                 16},
        // Inside it, a choice of #include lines.
        Accepted{"#ifndef G\n#define G\n#if defined(S)\n#include \"a.h\"\n#else\n#ifdef T\n"
                 "#include \"b.h\"\n#endif\n#endif\nunsigned char m[] = {7};\n#endif\n",
                 {{"m", {7}}}},
        Accepted{"unsigned long l[] = {0x89ABCDEF};", {{"l", {0x89, 0xAB, 0xCD, 0xEF}}}, 32},
        Accepted{"uint32_t l[2] = {4294967295};", {{"l", {255, 255, 255, 255, 0, 0, 0, 0}}}, 32},
        Accepted{"a[] = {}; b[] = {};", {{"a", {}}, {"b", {}}}},
        // Storage words after the brackets, and words in parentheses, which are no element type.
        Accepted{"extern const unsigned char e[] PROGMEM;\n"
                 "const unsigned char a_d[] PROGMEM = {1, 2};\n"
                 "const uint8_t b[2] U8X8_PROGMEM LV_ATTRIBUTE_LARGE_CONST = {3};\n"
                 "alignas(uint32_t) const unsigned char c[] __attribute__((aligned(4), "
                 "section(\".x\"))) = {4};\n"
                 "_Alignas(long) unsigned char d[] alignas(8) = {5};",
                 {{"a_d", {1, 2}}, {"b", {3, 0}}, {"c", {4}}, {"d", {5}}}}),
    [](const testing::TestParamInfo<Accepted>& info) {
        return "Case" + std::to_string(info.index);
    });

struct Refused {
    std::string text;
    const char* reason; // the whole reason, or its start when it ends in "*"
};

class CArrayReaderRefuses : public testing::TestWithParam<Refused> {};

TEST_P(CArrayReaderRefuses, Text) {
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{1} << 20}) {
        const auto r = readInChunks(GetParam().text, chunk);
        ASSERT_TRUE(std::holds_alternative<base::Error>(r));
        const std::string& reason = std::get<base::Error>(r).reason;
        std::string_view want = GetParam().reason;
        if (want.ends_with('*')) {
            want.remove_suffix(1);
            EXPECT_TRUE(reason.starts_with(want)) << reason;
        } else {
            EXPECT_EQ(reason, want);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CArrayReaderRefuses,
    testing::Values(
        Refused{"a[] = {1};\nb[] = {2,\n256};", "line 3: b: '256' is more than a byte holds (255)"},
        Refused{"unsigned short a[] = {0x10000};",
                "line 1: a: '0x10000' is more than 16 bits hold (65535)"},
        Refused{"a[] = {-1};", "line 1: a: '-' is not a value"},
        Refused{"a[] = {1.5};", "line 1: a: '1.5' is not an integer constant C knows"},
        Refused{"a[] = {09};", "line 1: a: '09' is not an integer constant C knows"},
        Refused{"a[] = {0x};", "line 1: a: '0x' is not an integer constant C knows"},
        Refused{"a[] = {1uuuu};", "line 1: a: '1uuuu' is not an integer constant C knows"},
        Refused{"a[] = {2LLLLL};", "line 1: a: '2LLLLL' is not an integer constant C knows"},
        Refused{"a[] = {2lL};", "line 1: a: '2lL' is not an integer constant C knows"},
        Refused{"a[] = {0x'ff};", "line 1: a: '0x'ff' is not an integer constant C knows"},
        Refused{"a[] = {1'u};", "line 1: a: '1'u' is not an integer constant C knows"},
        Refused{"a[] = {0xE+1};", "line 1: a: '0xE+1' is not an integer constant C knows"},
        Refused{"a[] = {18446744073709551616};",
                "line 1: a: '18446744073709551616' is too large for any integer type of C"},
        Refused{"a[] = {1 2};", "line 1: a: a comma is missing before '2'"},
        Refused{"a[] = {1,,2};", "line 1: a: a value is missing before a comma"},
        Refused{"a[] = {{1}};", "line 1: a: '{' is not a value"},
        Refused{"a[] = {'x'};", "line 1: a: ''x'' is not a value"},
        Refused{"a[] = {1,2,N,3};", "line 1: a: 'N' is not a value (only numbers are read)"},
        Refused{"a[2] = {1,2,3};", "line 1: a: more values than its declared size 2"},
        Refused{"a[W*H] = {1};", "line 1: a: its size 'W' is not a number or a #define'd number"},
        Refused{"a[2][2] = {1};", "line 1: a: arrays of arrays are not read"},
        Refused{"a[2000000000] = {0};",
                "line 1: a: a size of 2000000000 elements is more than a picture needs"},
        // Declared sizes are weighed before anything is allocated: one array, and two together.
        Refused{"a[600000000] = {0};",
                "line 1: a: a size of 600000000 elements is more than a picture needs"},
        Refused{"a[300000000] = {0};\nb[300000000] = {0};",
                "line 2: the arrays hold more than 527 MiB, more than a picture needs"},
        Refused{"a[] progmem = {1};", "line 1: a: 'progmem' after its brackets is not read*"},
        Refused{"a[] SECTION(\".x\") = {1};",
                "line 1: a: 'SECTION(...)' after its brackets is not read; PROGMEM, "
                "__attribute__((...)), alignas(...), _Alignas(...) and macros in capitals "
                "without arguments are"},
        Refused{"long long a[] = {1};", "line 1: a: elements of type long long are not read*"},
        Refused{"#define x_height 08\n", "line 1: #define x_height: '08' is not an integer*"},
        Refused{"a[] = {1};\n#if 0\nb[] = {2};\n#else\nb[] = {3};\n#endif",
                "line 2: #if: conditional compilation is not read*"},
        Refused{"a[] = {1,\n#ifdef X\n2,\n#endif\n};", "line 2: #ifdef: conditional*"},
        Refused{"int x;\n#ifndef G\n#define G\n#endif", "line 2: #ifndef: conditional*"},
        Refused{"#ifndef G\nint x;\n#define G\n#endif", "line 2: #ifndef G is not followed*"},
        Refused{"#ifndef G\n#define G\n#endif\nint x;", "line 4: text after the #endif*"},
        Refused{"#if X\n#include \"a.h\"\n",
                "line 1: the text ends inside the #if that starts here"},
        Refused{"#ifndef G\n#define G\na[] = {1};\n",
                "line 1: the text ends inside the include guard #ifndef G: its #endif is missing"},
        // Cut short: inside a value, a comment, a string, an array.
        Refused{"a[] = {\n0x01, 0x0", "line 2: a: the text ends inside a value*"},
        Refused{"a[] = {1};\n/* b[] = {2}; ", "line 2: the text ends inside the comment*"},
        Refused{"a[] = {\"x};", "line 1: a string or character constant is not closed*"},
        Refused{"a[] = {1};\nb[] = {2, ", "line 2: b: its closing '}' is missing*"},
        Refused{"#ifndef G\n#define G\na[] = {1, \n#endif\n",
                "line 4: a: its closing '}' is missing before #endif"},
        Refused{"a[] = {1};\n\r\n\rb[] = {1,\0};"s, "line 4: a NUL byte, which C text never holds"},
        // Quoted tokens are short and escaped.
        Refused{"a[] = {\x1b[2J};", "line 1: a: '\\x1b' is not a value"},
        Refused{"a[] = {0x" + std::string(100, '1') + "\xff};",
                "line 1: a: '0x111111111111111111111111111111...' is too large*"}),
    [](const testing::TestParamInfo<Refused>& info) {
        return "Case" + std::to_string(info.index);
    });

// Inputs the fuzzer keeps (tests/data/fuzz/ctext-*): each is read or refused the same way
// whether it comes in one piece or byte by byte, and a refusal always says why.
TEST(CArrayReader, FuzzInputsReadTheSameInAnyChunks) {
    const char* data = std::getenv("GREYPLANES_TEST_DATA");
    ASSERT_NE(data, nullptr);
    const std::filesystem::path folder = std::filesystem::path(data) / "fuzz";
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.path().filename().string().starts_with("ctext-")) {
            continue;
        }
        ++seen;
        SCOPED_TRACE(entry.path().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        const auto whole = readCText(text);
        const auto bytewise = readInChunks(text, 1);
        if (const auto* e = std::get_if<base::Error>(&whole)) {
            ASSERT_TRUE(std::holds_alternative<base::Error>(bytewise));
            EXPECT_FALSE(e->reason.empty());
            EXPECT_EQ(e->reason, std::get<base::Error>(bytewise).reason);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<CText>(bytewise));
        const CText& a = std::get<CText>(whole);
        const CText& b = std::get<CText>(bytewise);
        ASSERT_EQ(a.arrays.size(), b.arrays.size());
        for (std::size_t k = 0; k < a.arrays.size(); ++k) {
            EXPECT_EQ(a.arrays[k].data, b.arrays[k].data);
        }
        EXPECT_EQ(a.defines, b.defines);
    }
    EXPECT_GT(seen, 0);
}

} // namespace
