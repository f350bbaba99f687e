// The one row loop: its progress rule, and the window's scan (levels painted over the picture,
// planes made at once) against the rules of each row.

#include "conversion/pipeline.h"
#include "imaging/quantizer.h"
#include "support/memory_canvas.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

using conversion::LastYield;
using imaging::Dither;
using imaging::Flow;
using testing_support::MemoryCanvas;

// Records every call a run makes, and can ask it to stop at the n-th yield.
class RecordingProgress final : public imaging::RowProgress {
  public:
    explicit RecordingProgress(int stopAtYield = -1) : m_stopAtYield(stopAtYield) {}
    void reportTotal(std::int16_t rows) override {
        events.push_back("total " + std::to_string(rows));
    }
    void reportRowsDone(std::int16_t rows) override {
        events.push_back("done " + std::to_string(rows));
    }
    Flow yield() override {
        events.push_back("yield");
        return ++m_yields == m_stopAtYield ? Flow::Stop : Flow::Continue;
    }
    std::vector<std::string> events;

  private:
    int m_stopAtYield;
    int m_yields = 0;
};

conversion::PixelRows rowsOf(const MemoryCanvas& canvas) {
    return {canvas.width(), canvas.height(), [&canvas](int y) { return canvas.row(y).data(); }};
}

Flow flowOf(const base::Result<Flow>& ran) {
    EXPECT_TRUE(std::holds_alternative<Flow>(ran));
    return std::get<Flow>(ran);
}

TEST(RunRows, ReportsYieldsAndStopsAsTheWindowShowsIt) {
    struct Case {
        int height;
        LastYield last;
        int stopAtYield;
        std::vector<std::string> events;
        int rowsPainted;
    };
    const Case cases[] = {
        {1, LastYield::No, -1, {"total 1", "yield", "done 1"}, 1},
        {3,
         LastYield::No,
         -1,
         {"total 3", "yield", "done 1", "yield", "done 2", "yield", "done 3"},
         3},
        {2, LastYield::Yes, -1, {"total 2", "yield", "done 1", "yield", "done 2", "yield"}, 2},
        {3, LastYield::No, 2, {"total 3", "yield", "done 1", "yield"}, 1},
        {2, LastYield::Yes, 1, {"total 2", "yield"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height * 100 + c.stopAtYield);
        MemoryCanvas canvas(4, c.height, 0x123456);
        conversion::PixelRows rows = rowsOf(canvas);
        conversion::PaintSink paint(canvas);
        conversion::LevelSink* const sinks[] = {&paint};
        RecordingProgress progress(c.stopAtYield);
        const auto ran = conversion::runRows(rows, {}, sinks, {progress, c.last}, "in");
        EXPECT_EQ(flowOf(ran), c.stopAtYield > 0 ? Flow::Stop : Flow::Continue);
        EXPECT_EQ(progress.events, c.events);
        std::vector<int> painted;
        for (int y = 0; y < c.rowsPainted; ++y) {
            painted.push_back(y);
        }
        EXPECT_EQ(canvas.painted, painted);
        // No row is read or painted after a stop.
        for (int y = c.rowsPainted; y < c.height; ++y) {
            EXPECT_EQ(canvas.at(3, y), 0x123456);
        }
    }
}

// Any colours, the top byte too: every method's levels painted over the canvas and its planes
// made in the same run, against painting each row by the method's row rule and encoding it; and
// the planes read back through the loop (as Convert counts them) give themselves again.
TEST(RunRows, PaintedLevelsAndPlanesFollowTheRowRules) {
    std::mt19937 random(11);
    for (const Dither method :
         {Dither::None, Dither::FloydSteinberg, Dither::Atkinson, Dither::Bayer}) {
        for (const auto layout : {imaging::RowLayout::Packed, imaging::RowLayout::Padded}) {
            for (const int width : {71, 64, 5}) {
                SCOPED_TRACE(std::string(imaging::ditherName(method)) + " " +
                             std::to_string(width));
                const int height = 9;
                MemoryCanvas canvas(width, height);
                for (int y = 0; y < height; ++y) {
                    for (imaging::Pixel& p : canvas.mutableRow(y)) {
                        p = static_cast<imaging::Pixel>(random());
                    }
                }
                MemoryCanvas expected = canvas;
                imaging::Planes expectedPlanes = imaging::makePlanes(width, height, layout);
                imaging::Ditherer ditherer(method, width);
                for (int y = 0; y < height; ++y) {
                    ditherer.paintRow(y, expected.mutableRow(y));
                    imaging::encodeRow(expectedPlanes, y, expected.row(y));
                }

                imaging::Planes planes = imaging::reservedPlanes(width, height, layout);
                conversion::PlaneSink planeSink(planes);
                conversion::PaintSink paint(canvas);
                conversion::LevelSink* const sinks[] = {&planeSink, &paint};
                conversion::PixelRows rows = rowsOf(canvas);
                imaging::NoProgress none;
                EXPECT_EQ(flowOf(conversion::runRows(rows, {method}, sinks, {none}, "in")),
                          Flow::Continue);
                EXPECT_EQ(planes.dark, expectedPlanes.dark);
                EXPECT_EQ(planes.light, expectedPlanes.light);
                for (int y = 0; y < height; ++y) {
                    EXPECT_TRUE(std::ranges::equal(canvas.row(y), expected.row(y))) << y;
                }

                imaging::Planes again = imaging::reservedPlanes(width, height, layout);
                conversion::PlaneSink againSink(again);
                conversion::LevelSink* const againSinks[] = {&againSink};
                conversion::PlanesRows levels(planes);
                conversion::runRows(levels, {method}, againSinks, {none}, "in");
                EXPECT_EQ(again.dark, planes.dark);
                EXPECT_EQ(again.light, planes.light);
            }
        }
    }
}

} // namespace
