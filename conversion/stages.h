#pragma once
// Stages before the bands: turning (rotation and flips) and resizing, each a row source that
// wraps another.

#include "base/error.h"
#include "conversion/pipeline.h"
#include "imaging/geometry.h"
#include "imaging/levels.h"
#include "platform/large_buffer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace conversion {

using imaging::Fit;
using imaging::Geometry;

// Where the picture lands in the sized result: the result's extent, and the scaled picture's
// extent and top left corner in it (negative where `Cover` crops).
struct Placement {
    int width = 0;
    int height = 0;
    int scaledWidth = 0;
    int scaledHeight = 0;
    int left = 0;
    int top = 0;
};

// The placement of a `width` x `height` picture sized as `geometry` asks, or why it cannot be
// (a side that would pass 32767 pixels).
base::Result<Placement> placementOf(int width, int height, const Geometry& geometry,
                                    const std::string& name);

// Turns the rows of `inner`. A flip of left and right, a half turn and a flip of top and bottom
// stream (the last two hand the rows out bottom first when they come top first); a quarter turn
// holds the whole picture, one byte a pixel, and hands it out from the top: palette indices as
// they are, colours as the greys `greys` makes of them (the reducer's, so nothing after the turn
// may need the colours). Rows keep the inner form, except that colours turned a quarter become
// Greys. Errors name `name`.
class TurnRows final : public RowSource {
  public:
    using GreyMaker = std::function<void(const SourceRow&, std::uint8_t*)>;
    TurnRows(RowSource& inner, const Geometry& geometry, GreyMaker greys, std::string name);
    int width() const override;
    int height() const override;
    RowForm form() const override;
    std::span<const imaging::Pixel> palette() const override { return m_inner.palette(); }
    bool turnFromTop() override;
    bool alpha() const override { return !m_across && m_inner.alpha(); }
    std::optional<base::Error> next(SourceRow& row) override;
    // Whether the turn counts a result pixel's column, and row, from the other end.
    bool mirrorsColumns() const { return m_mirrorX; }
    bool mirrorsRows() const { return m_mirrorY; }

  private:
    std::optional<base::Error> hold();

    RowSource& m_inner;
    std::string m_name;
    bool m_across;     // a quarter turn: rows become columns
    bool m_mirrorX;    // a pixel's place in its result row counts from the right
    bool m_mirrorY;    // a row's (or, across, a column's) place counts from the bottom
    std::size_t m_in;  // bytes a pixel of the inner rows
    std::size_t m_out; // bytes a pixel of the rows handed out
    GreyMaker m_greys;
    std::optional<platform::LargeBuffer> m_held;
    std::vector<std::uint8_t> m_row;
    int m_next = 0;
};

// Resizes the rows of `inner` as `placement` says, a row at a time: along each side, shrinking
// averages the exact area each result pixel covers, growing repeats the nearest pixel. Rows
// come out as Pixels (red first), in the order the inner rows come (from the top or the bottom).
class ResizeRows final : public RowSource {
  public:
    ResizeRows(RowSource& inner, const Placement& placement, imaging::Colour background,
               std::string name);
    struct Axis;
    // Resized along the given sides (as axis() makes them), to their sizes.
    ResizeRows(RowSource& inner, Axis columns, Axis rows, imaging::Colour background,
               std::string name);
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    RowForm form() const override { return RowForm::Pixels; }
    bool turnFromTop() override { return m_inner.turnFromTop(); }
    std::optional<base::Error> next(SourceRow& row) override;

    // The source pixels of each result pixel along one side and their weights.
    struct Axis {
        std::vector<int> first;  // the first source pixel, for each result pixel
        std::vector<int> count;  // how many; 0 where the result shows the background
        std::vector<int> offset; // where their weights start in `weights`
        std::vector<std::uint32_t> weights;
        std::uint32_t total = 1; // the weights of every result pixel add up to this
    };
    // `source` pixels scaled to `scaled`, shown from `start` (negative: cropped) over `size`.
    static Axis axis(int source, int scaled, int start, int size);
    // The same side counted from the other end, of the result and of the `source` pixels.
    static Axis mirrored(const Axis& axis, int source);

  private:
    base::Result<const std::uint8_t*> reach(int y);

    RowSource& m_inner;
    std::string m_name;
    int m_width;
    int m_height;
    Axis m_columns;
    Axis m_rows;
    bool m_swap;                            // the inner colour bytes come blue first
    std::vector<std::uint8_t> m_background; // a whole result row of it
    std::vector<std::uint8_t> m_expanded;   // an Indices or Greys row as three bytes a pixel
    std::vector<std::uint8_t> m_colours;    // three bytes for each index or grey
    std::size_t m_step = 3;                 // bytes a pixel of the rows summed down
    std::vector<std::uint32_t> m_down;      // the weighted sum of a result row's source rows
    std::vector<std::uint8_t> m_keep;       // source row `m_have`, which ended the last result row
    std::vector<std::uint8_t> m_out;
    int m_have = -1;
    int m_read = 0;
    bool m_fromTop = true;
    bool m_started = false;
    bool m_peeked = false;
    SourceRow m_peek;
    int m_done = 0;
};

// Transparency before the bands. Pixels with alpha are shown over white (imaging::overWhite());
// with a mask, each row also comes with its opaque pixels: those of alpha from half up
// (imaging::kOpaqueFrom) and not exactly the key colour. A source without alpha and without a
// key keeps its rows as they are, every pixel opaque. Rows of greys or levels cannot be keyed.
class TransparencyRows final : public RowSource {
  public:
    TransparencyRows(RowSource& inner, bool mask, std::optional<imaging::Colour> key);
    int width() const override { return m_inner.width(); }
    int height() const override { return m_inner.height(); }
    RowForm form() const override { return m_inner.form(); }
    std::span<const imaging::Pixel> palette() const override {
        return m_palette.empty() ? m_inner.palette() : std::span<const imaging::Pixel>(m_palette);
    }
    bool turnFromTop() override { return m_inner.turnFromTop(); }
    bool masked() const override { return m_mask; }
    std::optional<base::Error> next(SourceRow& row) override;

  private:
    RowSource& m_inner;
    bool m_mask;
    bool m_alpha;
    // Indices whose colours carry alpha: the colours over white, and whether each is opaque.
    std::vector<imaging::Pixel> m_palette;
    std::vector<bool> m_clearIndex;
    std::optional<imaging::Colour> m_key;
    std::vector<std::uint8_t> m_pixels; // a row with alpha, over white
    std::vector<std::uint8_t> m_opaque; // the row's opaque pixels, as bits
};

// The stages `geometry` asks for around `inner`; `outer()` is the source to run, `inner`
// itself when no stage is asked for.
class Stages {
  public:
    static base::Result<std::unique_ptr<Stages>> around(RowSource& inner, const Geometry& geometry,
                                                        const Reduction& how,
                                                        const std::string& name);
    RowSource& outer() { return *m_outer; }

  private:
    RowSource* m_outer = nullptr;
    std::unique_ptr<TurnRows> m_turn;
    std::unique_ptr<ResizeRows> m_resize;
};

} // namespace conversion
