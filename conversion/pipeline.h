#pragma once
// The one row pipeline of both programs: a row source, a reducer (plain, ordered or error
// diffusion) that makes each row's level bits, and the sinks that take them.

#include "base/error.h"
#include "imaging/dither.h"
#include "imaging/frames.h"
#include "imaging/levels.h"
#include "imaging/plane_encoder.h"
#include "imaging/tone.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bitmap {
class Decoder;
}

namespace conversion {

// The forms in which a source hands out its rows; the reducers read each directly.
enum class RowForm {
    Bytes3,  // three bytes a pixel: blue, green, red (24-bit bitmap rows)
    Bytes4,  // four bytes a pixel: blue, green, red and one ignored (32-bit bitmap rows)
    Pixels,  // imaging::Pixel: red, green, blue and one ignored (decoded pixels, canvases)
    Indices, // one palette index a byte, its colour a Pixel
    Words16, // two bytes a pixel, low byte first: an index into a palette of 65536 colours
    Greys,   // one grey a byte, by the grey rule and the tone already
    Levels,  // rows that are level bits already: `bytes` the dark bits, `light` the light ones
};

struct SourceRow {
    int y = 0; // 0 at the top
    const std::uint8_t* bytes = nullptr;
    const std::uint8_t* light = nullptr; // Levels only
    // A masked source's opaque pixels, (width + 7) / 8 bytes of bits laid out as level bits.
    const std::uint8_t* opaque = nullptr;
};

class RowSource {
  public:
    virtual ~RowSource() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual RowForm form() const = 0;
    // The colours of the indices of an Indices or Words16 source.
    virtual std::span<const imaging::Pixel> palette() const { return {}; }
    // Makes the rows come from the top from now on, before the first row is read; false when
    // the source cannot (then they come in the order it stores them).
    virtual bool turnFromTop() { return true; }
    // Pixels rows whose fourth byte is the pixel's alpha (0 clear, 255 opaque), not ignored.
    virtual bool alpha() const { return false; }
    // Whether each row comes with its opaque pixels (SourceRow::opaque).
    virtual bool masked() const { return false; }
    // The next row, valid until the next call. Errors name the source's file.
    virtual std::optional<base::Error> next(SourceRow& row) = 0;
};

// Where the level bits of each row go: (width + 7) / 8 bytes of dark and of light bits, the
// first pixel in bit 7, bits past the last pixel zero.
class LevelSink {
  public:
    virtual ~LevelSink() = default;
    struct Place {
        std::uint8_t* dark = nullptr;
        std::uint8_t* light = nullptr;
    };
    // Where row y's bits may be written directly, if the sink keeps them in that shape.
    virtual Place place(int y) {
        static_cast<void>(y);
        return {};
    }
    // Row y's bits; they are in place() if it gave a place.
    virtual void take(int y, const std::uint8_t* dark, const std::uint8_t* light) = 0;
    // Row y's opaque pixels, after take(), from a masked source.
    virtual void takeMask(int y, const std::uint8_t* opaque) {
        static_cast<void>(y);
        static_cast<void>(opaque);
    }
};

// The planes' rows. The planes may be made with their room only reserved: they grow a row at a
// time, so that the cost of fresh pages is spread over the rows (the window yields between them).
class PlaneSink final : public LevelSink {
  public:
    // With `masked`, the planes' mask is filled from the rows' opaque pixels too.
    explicit PlaneSink(imaging::Planes& planes, bool masked = false);
    Place place(int y) override;
    void take(int y, const std::uint8_t* dark, const std::uint8_t* light) override;
    void takeMask(int y, const std::uint8_t* opaque) override;
    // Brings the planes to their full size, for a run that stopped early or had no rows.
    void finish();

  private:
    void grow(int y);
    imaging::Planes& m_planes;
    bool m_inPlace;
    bool m_masked;
};

// Paints each row of a canvas in the level colours of its bits, keeping each pixel's top byte,
// and tells the canvas the row is painted. From a masked source, the top byte becomes the
// pixel's alpha: 255 where it is opaque, 0 where it is transparent.
class PaintSink final : public LevelSink {
  public:
    explicit PaintSink(imaging::Canvas& canvas) : m_canvas(canvas) {}
    void take(int y, const std::uint8_t* dark, const std::uint8_t* light) override;
    void takeMask(int y, const std::uint8_t* opaque) override;

  private:
    imaging::Canvas& m_canvas;
};

// Sources: a bitmap's rows as its decoder stores them; rows of pixels held by the caller (a
// canvas, a picture decoded whole); the rows of planes already made.
class BitmapRows final : public RowSource {
  public:
    // With `alpha`, the decoder keeps its pixels' alpha (Decoder::keepAlpha()).
    explicit BitmapRows(bitmap::Decoder& decoder, bool alpha = false);
    // Hands 16-bit rows out as they are stored (Words16) instead of decoded; for a reducer
    // that reads them directly, not for the stages before it.
    void keepWords() { m_keepWords = true; }
    int width() const override;
    int height() const override;
    RowForm form() const override;
    std::span<const imaging::Pixel> palette() const override;
    bool turnFromTop() override;
    bool alpha() const override;
    std::optional<base::Error> next(SourceRow& row) override;

  private:
    bitmap::Decoder& m_decoder;
    bool m_alpha;
    std::vector<imaging::Pixel> m_row;
    bool m_keepWords = false;
};

class PixelRows final : public RowSource {
  public:
    // `row(y)` gives row y's width pixels; rows are read from the top. With `alpha`, the top
    // byte of each pixel is its alpha.
    PixelRows(int width, int height, std::function<const imaging::Pixel*(int)> row,
              bool alpha = false)
        : m_width(width), m_height(height), m_row(std::move(row)), m_alpha(alpha) {}
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    RowForm form() const override { return RowForm::Pixels; }
    bool alpha() const override { return m_alpha; }
    std::optional<base::Error> next(SourceRow& row) override;

  private:
    int m_width;
    int m_height;
    std::function<const imaging::Pixel*(int)> m_row;
    bool m_alpha;
    int m_next = 0;
};

// Rows of palette indices held by the caller (the window's painted canvas).
class IndexRows final : public RowSource {
  public:
    // `row(y)` gives row y's width indices into `palette`, which outlives the rows; rows are
    // read from the top. With `alpha`, the top byte of each colour is its alpha.
    IndexRows(int width, int height, std::function<const std::uint8_t*(int)> row,
              std::span<const imaging::Pixel> palette, bool alpha = false)
        : m_width(width), m_height(height), m_row(std::move(row)), m_palette(palette),
          m_alpha(alpha) {}
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    RowForm form() const override { return RowForm::Indices; }
    std::span<const imaging::Pixel> palette() const override { return m_palette; }
    bool alpha() const override { return m_alpha; }
    std::optional<base::Error> next(SourceRow& row) override;

  private:
    int m_width;
    int m_height;
    std::function<const std::uint8_t*(int)> m_row;
    std::span<const imaging::Pixel> m_palette;
    bool m_alpha;
    int m_next = 0;
};

class PlanesRows final : public RowSource {
  public:
    explicit PlanesRows(const imaging::Planes& planes);
    int width() const override { return m_planes.width; }
    int height() const override { return m_planes.height; }
    RowForm form() const override { return RowForm::Levels; }
    std::optional<base::Error> next(SourceRow& row) override;

  private:
    const imaging::Planes& m_planes;
    std::vector<std::uint8_t> m_dark;
    std::vector<std::uint8_t> m_light;
    int m_next = 0;
};

// Whether a run yields once more after its last row.
enum class LastYield { No, Yes };

// How a run reports and paces itself.
struct Pacing {
    imaging::RowProgress& progress;
    LastYield lastYield = LastYield::No;
    // Whether error diffusion may make its greys and take its sinks on a second thread, a few
    // rows ahead of the diffusion (the sinks are then called on that thread).
    bool threads = false;
};

// How rows are brought to their levels: the method, and the grey rule, tone and edges before it.
struct Reduction {
    imaging::Dither method = imaging::Dither::None;
    imaging::Tone tone{};
    // Frames of this size (none: 0): dithering treats each as a picture of its own, its matrix
    // and its error starting at the frame's top left pixel. The rows are whole frames across.
    int frameWidth = 0;
    int frameHeight = 0;
};

// Runs the rows of `source` through the reducer of `how` into the sinks, in order. Progress:
// the total first, a yield before the first row and between rows (and after the last one when
// the pacing says so), the rows done after each row. Returns Flow::Stop when a yield asked to
// stop (no row is read after it), or the first error of the source, or running out of memory
// as an error named `name`. Error diffusion takes rows from the top: a source that cannot turn
// is read whole first, as one byte of grey a pixel.
base::Result<imaging::Flow> runRows(RowSource& source, const Reduction& how,
                                    std::span<LevelSink* const> sinks, const Pacing& pacing,
                                    const std::string& name);

// The greys the reducer takes of the rows of `source`, one byte a pixel, for a stage that holds a
// picture as its greys (as error diffusion does with rows that cannot come from the top).
std::function<void(const SourceRow&, std::uint8_t*)> greyMaker(const RowSource& source,
                                                               const Reduction& how);

} // namespace conversion
