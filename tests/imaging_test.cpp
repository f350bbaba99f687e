// The imaging core: grey averages and levels, the quantizing scan, the plane encoder and the
// C text, checked against hand-worked examples and against a literal, unoptimised rendition of
// the rules.

#include "ctext/c_array_writer.h"
#include "imaging/levels.h"
#include "imaging/plane_encoder.h"
#include "imaging/quantizer.h"
#include "imaging/tone.h"
#include "support/memory_canvas.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using namespace ctext;
using namespace imaging;
using testing_support::bitString;
using testing_support::levelOf;
using testing_support::MemoryCanvas;

namespace {

// The grey average as the rules describe it, through the colour's hexadecimal text.
int greyAverageByText(Colour colour) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(colour));
    std::string text = hex;
    for (int pass = 0; pass < 9; ++pass) {
        if (text.size() < 6) {
            text = "0" + text;
        }
    }
    const int sum = std::stoi(text.substr(0, 2), nullptr, 16) +
                    std::stoi(text.substr(2, 2), nullptr, 16) +
                    std::stoi(text.substr(4, 2), nullptr, 16);
    return static_cast<int>(std::lround(sum / 3.0));
}

// The C text built the long way: '0'/'1' strings, groups of eight characters, nibbles, and
// chunks flushed every 500 bytes.
std::string referenceText(const std::string& dark, const std::string& light, int width) {
    const char* digits = "0123456789ABCDEF";
    std::string darkText = "static unsigned char Untitled_d[] = {\r\n";
    std::string lightText = "static unsigned char Untitled_l[] = {\r\n";
    std::string darkChunk;
    std::string lightChunk;
    auto entry = [&](const std::string& group) {
        const int high =
            8 * (group[0] - '0') + 4 * (group[1] - '0') + 2 * (group[2] - '0') + (group[3] - '0');
        const int low =
            8 * (group[4] - '0') + 4 * (group[5] - '0') + 2 * (group[6] - '0') + (group[7] - '0');
        return std::string("0x") + digits[high] + digits[low] + ", ";
    };
    for (std::size_t i = 1; i <= dark.size(); i += 8) {
        if ((i - 1) % static_cast<std::size_t>(width) == 0) {
            darkChunk += "\r\n";
            lightChunk += "\r\n";
        }
        darkChunk += entry(dark.substr(i - 1, 8));
        lightChunk += entry(light.substr(i - 1, 8));
        if (((i - 1) / 8) % 500 == 0) {
            darkText += darkChunk;
            lightText += lightChunk;
            darkChunk.clear();
            lightChunk.clear();
        }
    }
    return darkText + darkChunk + "\r\n\r\n" + lightText + lightChunk;
}

// Planes from '0'/'1' text; the writer reads only the width and the bytes.
Planes planesOf(const std::string& dark, const std::string& light, int width) {
    auto pack = [](const std::string& bits) {
        std::vector<std::uint8_t> bytes(bits.size() / 8);
        for (std::size_t i = 0; i < bits.size(); ++i) {
            bytes[i / 8] =
                static_cast<std::uint8_t>(bytes[i / 8] | ((bits[i] - '0') << (7 - i % 8)));
        }
        return bytes;
    };
    const auto height = static_cast<int>(dark.size() / static_cast<std::size_t>(width));
    return Planes{width, height, RowLayout::Packed, pack(dark), pack(light)};
}

MemoryCanvas canvasOf(int width, const std::vector<Colour>& colours) {
    const int height = static_cast<int>(colours.size()) / width;
    MemoryCanvas canvas(width, height);
    for (int i = 0; i < static_cast<int>(colours.size()); ++i) {
        canvas.set(i % width, i / width, colours[static_cast<std::size_t>(i)]);
    }
    return canvas;
}

Planes encode(const MemoryCanvas& canvas, RowLayout layout = RowLayout::Packed) {
    Planes planes = makePlanes(canvas.width(), canvas.height(), layout);
    for (int y = 0; y < canvas.height(); ++y) {
        encodeRow(planes, y, canvas.row(y));
    }
    return planes;
}

} // namespace

TEST(GreyLevels, AveragesAndLevelsOfNamedColours) {
    struct Case {
        Colour colour;
        int average;
        Colour level;
    };
    const Case cases[] = {
        {0x2A2A2A, 42, kBlack},      {0x2B2B2B, 43, kDarkGrey},   {0x7E7E7E, 126, kDarkGrey},
        {0x7F7F7F, 127, kDarkGrey},  {0x808080, 128, kLightGrey}, {0x818181, 129, kLightGrey},
        {0xD4D4D4, 212, kLightGrey}, {0xD5D5D5, 213, kWhite},     {0x0000FF, 85, kDarkGrey},
        {0x00FF00, 85, kDarkGrey},   {0xFF0000, 85, kDarkGrey},   {0x0A0B0C, 11, kBlack},
        {kNoColour, 255, kWhite},    {kDarkGrey, 90, kDarkGrey},  {kLightGrey, 180, kLightGrey},
        {kBlack, 0, kBlack},         {kWhite, 255, kWhite},       {0x000001, 0, kBlack},
        {0x000002, 1, kBlack},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.colour);
        EXPECT_EQ(greyAverage(c.colour), c.average);
        EXPECT_EQ(levelOf(greyAverage(c.colour)), c.level);
    }
}

TEST(GreyLevels, AverageFollowsTheHexTextForOddValues) {
    // Values with bits above 24 lose their lowest digits in the six-character reading.
    for (Colour c : {0x01000000, 0x12345678, static_cast<Colour>(0x80000000u), -2, 0x0FFFFFFF,
                     0x10000000, 0x00FFFFFF, 0x00ABCDEF}) {
        SCOPED_TRACE(c);
        EXPECT_EQ(greyAverage(c), greyAverageByText(c));
    }
}

TEST(GreyLevels, RowKernelAgreesWithTheRulesForEveryColour) {
    std::vector<Pixel> row(1 << 24);
    for (std::size_t c = 0; c < row.size(); ++c) {
        row[c] = static_cast<Pixel>(c) | (static_cast<Pixel>(c & 0xFF) << 24);
    }
    quantizeRow(row);
    for (std::size_t c = 0; c < row.size(); ++c) {
        const Pixel expected = static_cast<Pixel>(levelOf(greyAverage(static_cast<Colour>(c)))) |
                               (static_cast<Pixel>(c & 0xFF) << 24);
        if (row[c] != expected) {
            FAIL() << std::hex << "colour 0x" << c << " gave 0x" << row[c] << " instead of 0x"
                   << expected;
        }
    }
}

TEST(Quantizer, LevelPicturesAreLeftUnchanged) {
    const std::vector<Colour> levels = {kBlack, kDarkGrey,  kLightGrey, kWhite,
                                        kWhite, kLightGrey, kDarkGrey,  kBlack};
    MemoryCanvas canvas = canvasOf(4, levels);
    for (int y = 0; y < 2; ++y) {
        quantizeRow(canvas.mutableRow(y));
    }
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(canvas.at(i % 4, i / 4), levels[static_cast<std::size_t>(i)]);
    }
}

TEST(PlaneEncoder, WorkedExamples) {
    EXPECT_EQ(bitString(encode(canvasOf(1, {kBlack})).dark), "10000000");
    EXPECT_EQ(bitString(encode(canvasOf(1, {kBlack})).light), "10000000");
    EXPECT_EQ(bitString(encode(canvasOf(1, {kWhite})).dark), "00000000");

    std::vector<Colour> rows(8, kBlack);
    for (Colour c :
         {kDarkGrey, kWhite, kLightGrey, kWhite, kDarkGrey, kWhite, kLightGrey, kWhite}) {
        rows.push_back(c);
    }
    const Planes eight = encode(canvasOf(8, rows));
    EXPECT_EQ(bitString(eight.dark), "1111111110001000");
    EXPECT_EQ(bitString(eight.light), "1111111100100010");

    // Twelve wide: the second byte holds the end of row 0 and the start of row 1.
    std::vector<Colour> twelve(12, kBlack);
    twelve.insert(twelve.end(), 4, kLightGrey);
    twelve.insert(twelve.end(), 8, kWhite);
    const Planes t = encode(canvasOf(12, twelve));
    EXPECT_EQ(bitString(t.dark), "111111111111000000000000");
    EXPECT_EQ(bitString(t.light), "111111111111111100000000");
}

TEST(PlaneEncoder, OnlyExactLevelColoursSetBits) {
    // Near misses of the level colours, and unquantized pixels, encode as white.
    const Planes p = encode(canvasOf(
        8, {0x5A5A5A, 0x000001, 0xB4B4B5, 0x123456, kDarkGrey, kLightGrey, kBlack, kWhite}));
    EXPECT_EQ(bitString(p.dark), "00001010");
    EXPECT_EQ(bitString(p.light), "00000110");
}

// Both layouts against bits laid down one by one; rows encoded bottom-up give the same planes
// as from the top.
TEST(PlaneEncoder, AgreesWithPixelByPixelBitsOnRandomPictures) {
    std::mt19937 random(7);
    const Colour palette[] = {kBlack, kDarkGrey, kLightGrey, kWhite, 0x5A5A5A};
    for (const RowLayout layout : {RowLayout::Packed, RowLayout::Padded}) {
        for (int width : {1, 3, 7, 8, 9, 15, 16, 17, 33, 71, 100, 137}) {
            for (int height : {1, 2, 5, 17}) {
                std::vector<Colour> colours(static_cast<std::size_t>(width * height));
                std::string dark;
                std::string light;
                for (std::size_t i = 0; i < colours.size(); ++i) {
                    Colour& c = colours[i];
                    c = palette[random() % 5];
                    dark += (c == kBlack || c == kDarkGrey) ? '1' : '0';
                    light += (c == kBlack || c == kLightGrey) ? '1' : '0';
                    if (layout == RowLayout::Padded && (i + 1) % width == 0) {
                        dark.append((8 - dark.size() % 8) % 8, '0');
                        light.append((8 - light.size() % 8) % 8, '0');
                    }
                }
                dark.append((8 - dark.size() % 8) % 8, '0');
                light.append((8 - light.size() % 8) % 8, '0');
                const MemoryCanvas canvas = canvasOf(width, colours);
                const Planes planes = encode(canvas, layout);
                SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
                EXPECT_EQ(bitString(planes.dark), dark);
                EXPECT_EQ(bitString(planes.light), light);

                Planes upwards = makePlanes(width, height, layout);
                for (int y = height - 1; y >= 0; --y) {
                    encodeRow(upwards, y, canvas.row(y));
                }
                EXPECT_EQ(upwards.dark, planes.dark);
                EXPECT_EQ(upwards.light, planes.light);

                // Each row's bytes, taken out and laid into clear planes, give them back.
                Planes copied = makePlanes(width, height, layout);
                std::vector<std::uint8_t> d((static_cast<std::size_t>(width) + 7) / 8);
                std::vector<std::uint8_t> l(d.size());
                for (int y = 0; y < height; ++y) {
                    rowBytes(planes, y, d, l);
                    setRowBytes(copied, y, d, l);
                }
                EXPECT_EQ(copied.dark, planes.dark);
                EXPECT_EQ(copied.light, planes.light);
            }
        }
    }
}

TEST(CArrayWriter, WorkedExamplesByteForByte) {
    EXPECT_EQ(writeArrays(planesOf("1111111110001000", "1111111100100010", 8)),
              "static unsigned char Untitled_d[] = {\r\n\r\n0xFF, \r\n0x88, \r\n\r\n"
              "static unsigned char Untitled_l[] = {\r\n\r\n0xFF, \r\n0x22, ");
    EXPECT_EQ(writeArrays(planesOf("10000000", "10000000", 1)),
              "static unsigned char Untitled_d[] = {\r\n\r\n0x80, \r\n\r\n"
              "static unsigned char Untitled_l[] = {\r\n\r\n0x80, ");
    // Width 12, three rows: 36 bits filled to 40, a line of three bytes and one of two.
    const std::string ones(40, '1');
    EXPECT_EQ(writeArrays(planesOf(ones, std::string(40, '0'), 12)),
              "static unsigned char Untitled_d[] = {\r\n\r\n0xFF, 0xFF, 0xFF, \r\n0xFF, 0xFF, "
              "\r\n\r\nstatic unsigned char Untitled_l[] = {\r\n\r\n0x00, 0x00, 0x00, \r\n0x00, "
              "0x00, ");
}

TEST(CArrayWriter, LineLayoutOfCommonWidths) {
    const std::string bits(64, '0');
    const std::string widthOne = writeArrays(planesOf(bits, bits, 1));
    EXPECT_NE(widthOne.find("{\r\n\r\n0x00, \r\n0x00, \r\n"), std::string::npos);
    const std::string widthSixteen = writeArrays(planesOf(bits, bits, 16));
    EXPECT_NE(widthSixteen.find("{\r\n\r\n0x00, 0x00, \r\n0x00, 0x00, \r\n"), std::string::npos);
    // All black but a filled last byte: 0xE0 for three remaining pixels.
    const Planes black = encode(MemoryCanvas(11, 1, kBlack));
    EXPECT_EQ(writeArrays(black).substr(39, 14), "\r\n0xFF, 0xE0, ");
}

TEST(CArrayWriter, LargePlanesEqualTheLiteralConstruction) {
    std::mt19937 random(11);
    for (int width : {1, 5, 8, 12, 24, 40, 333, 1000}) {
        // More than 500 bytes, and more than one piece of the streamed output.
        const std::size_t bytes = width == 1000 ? 70000 : 4001;
        std::string dark(bytes * 8, '0');
        std::string light(bytes * 8, '0');
        for (std::size_t i = 0; i < dark.size(); ++i) {
            dark[i] = static_cast<char>('0' + (random() & 1));
            light[i] = static_cast<char>('0' + (random() & 1));
        }
        const Planes planes = planesOf(dark, light, width);
        const std::string expected = referenceText(dark, light, width);
        SCOPED_TRACE(width);
        const std::string text = writeArrays(planes);
        EXPECT_EQ(text, expected);
        EXPECT_EQ(arraysTextSize(planes), expected.size());

        std::string streamed;
        int pieces = 0;
        EXPECT_TRUE(writeArraysTo(planes, [&](std::string_view piece) {
            streamed += piece;
            ++pieces;
            return true;
        }));
        EXPECT_EQ(streamed, expected);
        EXPECT_GT(pieces, 3);
    }
}

TEST(CArrayWriter, StreamStopsWhenTheSinkFails) {
    const std::string bits(8 * 100000, '1');
    const Planes planes = planesOf(bits, bits, 8);
    int calls = 0;
    EXPECT_FALSE(writeArraysTo(planes, [&](std::string_view) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
}

// The text written while the planes are being made, rows awaited as the writer needs them, in
// order and placed side by side: the rows not yet made hold noise, so reading one early shows.
TEST(CArrayWriter, PlanesBeingMadeGiveTheWholeText) {
    std::mt19937 random(17);
    const auto randomPlanes = [&](int width, int height, RowLayout rows, bool mask) {
        Planes planes = makePlanes(width, height, rows);
        for (auto* plane : {&planes.dark, &planes.light}) {
            std::generate(plane->begin(), plane->end(), [&] { return random() & 0xFF; });
        }
        if (mask) {
            planes.mask.resize(planes.dark.size());
            std::generate(planes.mask.begin(), planes.mask.end(), [&] { return random() & 0xFF; });
        }
        // Clear past the last row, as planes are.
        for (std::size_t bit = planes.rowBits() * static_cast<std::size_t>(height);
             bit < 8 * planes.dark.size(); ++bit) {
            for (auto* plane : {&planes.dark, &planes.light, &planes.mask}) {
                if (!plane->empty()) {
                    (*plane)[bit / 8] =
                        static_cast<std::uint8_t>((*plane)[bit / 8] & ~(0x80u >> bit % 8));
                }
            }
        }
        return planes;
    };
    TextStyle complete;
    complete.complete = true;
    complete.lf = true;
    TextStyle masked;
    masked.layout.mask = Mask::Ones;
    TextStyle tiles;
    tiles.layout.layout = Layout::Gb;
    tiles.layout.tileMap = true;
    TextStyle drawn = complete;
    drawn.art = true;
    // 263 x 1100 is two pieces of a plane's text; rows packed share their bytes.
    const struct {
        Planes planes;
        TextStyle style;
    } cases[] = {{randomPlanes(263, 1100, RowLayout::Packed, false), {}},
                 {randomPlanes(263, 1100, RowLayout::Padded, false), complete},
                 {randomPlanes(263, 1100, RowLayout::Packed, true), masked},
                 {randomPlanes(64, 48, RowLayout::Packed, false), tiles},
                 {randomPlanes(37, 20, RowLayout::Packed, false), drawn}};
    for (const auto& c : cases) {
        const Planes& truth = c.planes;
        const std::string expected = writeArrays(truth, c.style);
        for (const bool placed : {false, true}) {
            SCOPED_TRACE(testing::Message() << truth.width << (placed ? " placed" : " in order"));
            Planes making = randomPlanes(truth.width, truth.height, truth.layout, false);
            making.mask = truth.mask; // read only once every row is made
            int made = 0;
            const AwaitRows await = [&](int rows) {
                EXPECT_GT(rows, made);
                EXPECT_LE(rows, truth.height);
                const std::size_t from = static_cast<std::size_t>(made) * truth.rowBits();
                const std::size_t to = static_cast<std::size_t>(rows) * truth.rowBits();
                for (std::size_t bit = from; bit < std::min(to, 8 * truth.dark.size()); ++bit) {
                    const auto m = static_cast<std::uint8_t>(0x80u >> bit % 8);
                    for (auto [into, from] : {std::pair{&making.dark, &truth.dark},
                                              std::pair{&making.light, &truth.light}}) {
                        (*into)[bit / 8] = static_cast<std::uint8_t>(((*into)[bit / 8] & ~m) |
                                                                     ((*from)[bit / 8] & m));
                    }
                }
                made = rows;
                return true;
            };
            std::string text(expected.size(), '?');
            std::size_t handed = 0;
            const bool whole = placed ? writeArraysAt(
                                            making,
                                            [&](std::size_t at, std::string_view piece) {
                                                EXPECT_LE(at + piece.size(), text.size());
                                                text.replace(at, piece.size(), piece);
                                                handed += piece.size();
                                                return true;
                                            },
                                            c.style, await)
                                      : writeArraysTo(
                                            making,
                                            [&](std::string_view piece) {
                                                text.replace(handed, piece.size(), piece);
                                                handed += piece.size();
                                                return true;
                                            },
                                            c.style, await);
            EXPECT_TRUE(whole);
            EXPECT_EQ(handed, expected.size());
            EXPECT_TRUE(text == expected);
        }
        // Rows that will never be made stop the text.
        EXPECT_FALSE(writeArraysAt(
            truth, [](std::size_t, std::string_view) { return true; }, c.style,
            [](int) { return false; }));
    }
}

TEST(CArrayWriter, StylesDressTheSameBytesAndLines) {
    // 12 x 2, padded: two bytes a row, one row a line.
    const Planes planes{12, 2, RowLayout::Padded, {0xFF, 0xF0, 0x80, 0x00}, {0, 0, 0x80, 0x10}};
    const std::string classic = writeArrays(planes);
    EXPECT_EQ(classic, "static unsigned char Untitled_d[] = {\r\n\r\n0xFF, 0xF0, \r\n0x80, 0x00, "
                       "\r\n\r\nstatic unsigned char Untitled_l[] = {\r\n\r\n0x00, 0x00, \r\n"
                       "0x80, 0x10, ");

    TextStyle style;
    style.name = "logo";
    style.lf = true;
    std::string expected = classic;
    for (std::size_t at; (at = expected.find("\r\n")) != std::string::npos;) {
        expected.erase(at, 1);
    }
    for (std::size_t at; (at = expected.find("Untitled")) != std::string::npos;) {
        expected.replace(at, 8, "logo");
    }
    EXPECT_EQ(writeArrays(planes, style), expected);

    style.complete = true;
    style.source = "in*/x.bmp";
    const std::string complete = writeArrays(planes, style);
    EXPECT_EQ(complete.size(), arraysTextSize(planes, style));
    EXPECT_EQ(complete.rfind("/* in* /x.bmp: 12 x 2 pixels", 0), 0u) << complete;
    EXPECT_NE(complete.find("rows padded to whole bytes"), std::string::npos);
    EXPECT_NE(complete.find("\n#define logo_width 12\n#define logo_height 2\n"), std::string::npos);
    EXPECT_NE(complete.find("static const unsigned char logo_d[] = {\n\n0xFF, 0xF0, \n0x80, 0x00, "
                            "\n};\n\nstatic const unsigned char logo_l[] = {\n\n0x00, 0x00, \n"
                            "0x80, 0x10, \n};\n\n#endif\n"),
              std::string::npos);
}

// The tone table at the ends of each control's range, worked out from its formula by hand.
TEST(Tone, TableAtTheEndsOfEachRange) {
    struct Case {
        int brightness;
        int contrast;
        double gamma;
        int grey;
        int toned;
    };
    const Case cases[] = {
        {0, 0, 1.0, 77, 77},     {255, 0, 1.0, 0, 255},    {-255, 0, 1.0, 255, 0},
        {0, -100, 1.0, 3, 128},  {0, -100, 1.0, 250, 128}, {0, 100, 1.0, 64, 0},
        {0, 100, 1.0, 191, 254}, {0, 100, 1.0, 192, 255},  {0, 0, 2.0, 64, 128},
        {0, 0, 10.0, 1, 147},    {0, 0, 0.1, 254, 245},    {0, 0, 0.1, 1, 0},
        {-20, 50, 1.0, 85, 34}, // -94.5 + 128 = 33.5 rounds up
    };
    for (const Case& c : cases) {
        Tone tone;
        tone.brightness = c.brightness;
        tone.contrast = c.contrast;
        tone.gamma = c.gamma;
        EXPECT_EQ(toneTable(tone)[static_cast<std::size_t>(c.grey)], c.toned)
            << c.brightness << " " << c.contrast << " " << c.gamma << " at " << c.grey;
    }
}
