// The stages before the bands against hand-worked pictures, each read from the top as decoded
// pixels and from the bottom as a bitmap stores its rows (blue first).

#include "conversion/stages.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using conversion::RowForm;
using imaging::Pixel;
using Picture = std::vector<std::vector<Pixel>>; // rows from the top, 0xBBGGRR

// A picture's rows as a bitmap stored bottom-up hands them out: blue, green, red, from the
// bottom.
class StoredRows final : public conversion::RowSource {
  public:
    explicit StoredRows(const Picture& picture) : m_picture(picture) {}
    int width() const override { return static_cast<int>(m_picture.front().size()); }
    int height() const override { return static_cast<int>(m_picture.size()); }
    RowForm form() const override { return RowForm::Bytes3; }
    bool turnFromTop() override { return false; }
    std::optional<base::Error> next(conversion::SourceRow& row) override {
        row.y = height() - 1 - m_read++;
        m_bytes.clear();
        for (const Pixel p : m_picture[static_cast<std::size_t>(row.y)]) {
            m_bytes.insert(m_bytes.end(),
                           {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                            static_cast<std::uint8_t>(p)});
        }
        row.bytes = m_bytes.data();
        return std::nullopt;
    }

  private:
    const Picture& m_picture;
    std::vector<std::uint8_t> m_bytes;
    int m_read = 0;
};

// Every row of the source, placed by its y, as 0xBBGGRR.
Picture collect(conversion::RowSource& source) {
    Picture rows(static_cast<std::size_t>(source.height()));
    const std::size_t step = source.form() == RowForm::Greys    ? 1
                             : source.form() == RowForm::Bytes3 ? 3
                                                                : 4;
    // Bitmap rows store blue first, pixels red first.
    const bool blueFirst = source.form() == RowForm::Bytes3 || source.form() == RowForm::Bytes4;
    for (int i = 0; i < source.height(); ++i) {
        conversion::SourceRow row;
        EXPECT_FALSE(source.next(row));
        auto& out = rows.at(static_cast<std::size_t>(row.y));
        for (int x = 0; x < source.width(); ++x) {
            const std::uint8_t* p = row.bytes + static_cast<std::size_t>(x) * step;
            out.push_back(step == 1   ? Pixel{p[0]} * 0x010101u
                          : blueFirst ? Pixel{p[2]} | Pixel{p[1]} << 8 | Pixel{p[0]} << 16
                                      : Pixel{p[0]} | Pixel{p[1]} << 8 | Pixel{p[2]} << 16);
        }
    }
    return rows;
}

// The picture through the stages, read both ways.
void expectStaged(const Picture& picture, const imaging::Geometry& geometry,
                  const Picture& expected) {
    std::vector<Pixel> held;
    for (const auto& row : picture) {
        held.insert(held.end(), row.begin(), row.end());
    }
    const int width = static_cast<int>(picture.front().size());
    conversion::PixelRows fromTop(width, static_cast<int>(picture.size()), [&](int y) {
        return held.data() + static_cast<std::size_t>(y * width);
    });
    StoredRows fromBottom(picture);
    for (conversion::RowSource* source : {static_cast<conversion::RowSource*>(&fromTop),
                                          static_cast<conversion::RowSource*>(&fromBottom)}) {
        SCOPED_TRACE(source == &fromTop ? "from the top" : "from the bottom");
        auto stages = conversion::Stages::around(*source, geometry, {}, "in");
        ASSERT_TRUE(std::holds_alternative<std::unique_ptr<conversion::Stages>>(stages));
        EXPECT_EQ(collect(std::get<0>(stages)->outer()), expected);
    }
}

imaging::Geometry sized(int width, int height, imaging::Fit fit = imaging::Fit::Stretch,
                        imaging::Colour background = imaging::kWhite) {
    imaging::Geometry geometry;
    geometry.width = width;
    geometry.height = height;
    geometry.fit = fit;
    geometry.background = background;
    return geometry;
}

TEST(ResizeRows, AveragesAreasAndRepeatsPixelsAsWorkedByHand) {
    // (R, G, B) = (10, 20, 31) and (200, 100, 0): a 2 x 2 square averages (105, 60, 15.5).
    const Pixel a = 0x1F140A;
    const Pixel b = 0x0064C8;
    expectStaged({{a, b, a, b}, {b, a, b, a}}, sized(2, 1), {{0x103C69, 0x103C69}});
    // 3 -> 2: thirds of 2, 1 | 1, 2. Red 30 90 240, green 0 10 101, blue 255 0 0.
    expectStaged({{0xFF001E, 0x000A5A, 0x0065F0}}, sized(2, 1), {{0xAA0332, 0x0047BE}});
    // 3 x 3 -> 2 x 2 in red alone: weights 2, 1 | 1, 2 along both sides, over 9.
    expectStaged({{0, 30, 90}, {60, 120, 180}, {255, 15, 3}}, sized(2, 2), {{33, 100}, {143, 58}});
    // 2 -> 5 grows: x takes floor((x + 0.5) * 2 / 5), so 0 0 1 1 1.
    expectStaged({{1, 2}}, sized(5, 1), {{1, 1, 2, 2, 2}});
    // Contain: 2 x 1 in 2 x 3 keeps its size, one row down, on the background (red 0x12).
    expectStaged({{1, 2}}, sized(2, 3, imaging::Fit::Contain, 0x563412),
                 {{0x563412, 0x563412}, {1, 2}, {0x563412, 0x563412}});
    // Cover: 4 x 2 over 2 x 2 keeps its size, cropped from x 1.
    expectStaged({{1, 2, 3, 4}, {5, 6, 7, 8}}, sized(2, 2, imaging::Fit::Cover), {{2, 3}, {6, 7}});
}

// Greys as pixels, so that a turn may hand out the picture as its greys.
Picture greys(const Picture& values) {
    Picture picture = values;
    for (auto& row : picture) {
        for (Pixel& p : row) {
            p *= 0x010101u;
        }
    }
    return picture;
}

TEST(TurnRows, RotatesClockwiseThenFlips) {
    struct Case {
        int turns;
        bool flipLeftRight;
        bool flipTopBottom;
        Picture expected;
    };
    const Case cases[] = {
        {1, false, false, {{4, 1}, {5, 2}, {6, 3}}}, {2, false, false, {{6, 5, 4}, {3, 2, 1}}},
        {3, false, false, {{3, 6}, {2, 5}, {1, 4}}}, {0, true, false, {{3, 2, 1}, {6, 5, 4}}},
        {0, false, true, {{4, 5, 6}, {1, 2, 3}}},    {1, true, false, {{1, 4}, {2, 5}, {3, 6}}},
        {1, false, true, {{6, 3}, {5, 2}, {4, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.turns) + (c.flipLeftRight ? " h" : "") +
                     (c.flipTopBottom ? " v" : ""));
        imaging::Geometry geometry;
        geometry.quarterTurns = c.turns;
        geometry.flipLeftRight = c.flipLeftRight;
        geometry.flipTopBottom = c.flipTopBottom;
        expectStaged(greys({{1, 2, 3}, {4, 5, 6}}), geometry, greys(c.expected));
        // Sized too, to the turned picture's own size: sized first, then turned.
        geometry.width = static_cast<int>(c.expected.front().size());
        geometry.height = static_cast<int>(c.expected.size());
        expectStaged(greys({{1, 2, 3}, {4, 5, 6}}), geometry, greys(c.expected));
    }
    // Turned, then sized: the place left over goes below, as the turned picture has it.
    imaging::Geometry geometry = sized(2, 4, imaging::Fit::Contain);
    geometry.quarterTurns = 1;
    geometry.flipTopBottom = true;
    expectStaged(greys({{1, 2, 3}, {4, 5, 6}}), geometry,
                 greys({{6, 3}, {5, 2}, {4, 1}, {255, 255}}));
    // Turned 2 x 4, then rows shrunk in pairs: 10 and 21 give 15.5, rounded up.
    geometry = sized(2, 2);
    geometry.quarterTurns = 1;
    expectStaged(greys({{10, 21, 30, 40}, {50, 60, 70, 81}}), geometry,
                 greys({{55, 16}, {76, 35}}));
}

// A picture larger than the blocks a quarter turn moves at once, against the turn's definition.
TEST(TurnRows, QuarterTurnsMoveEveryPixelOfALargerPicture) {
    const int width = 45;
    const int height = 70;
    std::mt19937 random(5);
    Picture picture(height, std::vector<Pixel>(width));
    for (auto& row : picture) {
        for (Pixel& p : row) {
            p = static_cast<Pixel>(random() & 0xFF) * 0x010101u;
        }
    }
    for (const int turns : {1, 3}) {
        for (const int flip : {0, 1, 2}) {
            SCOPED_TRACE(std::to_string(turns) + " " + std::to_string(flip));
            Picture expected(width, std::vector<Pixel>(height));
            for (int y = 0; y < width; ++y) {
                for (int x = 0; x < height; ++x) {
                    // Clockwise, result (x, y) shows (y, height - 1 - x); three turns the
                    // other way.
                    const int tx = flip == 1 ? height - 1 - x : x;
                    const int ty = flip == 2 ? width - 1 - y : y;
                    const auto& from = turns == 1
                                           ? picture[static_cast<std::size_t>(height - 1 - tx)]
                                           : picture[static_cast<std::size_t>(tx)];
                    expected[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] =
                        from[static_cast<std::size_t>(turns == 1 ? ty : width - 1 - ty)];
                }
            }
            imaging::Geometry geometry;
            geometry.quarterTurns = turns;
            geometry.flipLeftRight = flip == 1;
            geometry.flipTopBottom = flip == 2;
            expectStaged(picture, geometry, expected);
        }
    }
}

} // namespace
