#pragma once
// GIF pictures decoded a row at a time through giflib, composed as a viewer shows them: each
// frame placed at its offset on the logical screen over what the frames before it left there.
//
// The first frame of a picture that is not interlaced streams: only a row of indices and the
// palette are held (when the frame covers the screen, its rows are those indices). An interlaced
// first frame holds its indices, one byte a pixel (its rows come in four passes). Any later frame
// is composed on a canvas held as pixels, four bytes a pixel: each frame may bring its own palette,
// so indices alone cannot say what the screen shows.
//
// Pixels are red, green, blue and alpha bytes: alpha 0 where a transparent index left the screen
// clear. The colour bytes are those Qt's reader gives, so that conversions stay as they were
// (a transparent pixel of the first frame keeps its palette colour; the screen before any frame
// is black; a rectangle cleared to the background is white when the frame had a transparent
// index).

#include "bitmap/source.h"
#include "conversion/pipeline.h"

#include <array>
#include <functional>
#include <span>
#include <string>
#include <vector>

struct GifFileType;

namespace conversion {

// Whether the bytes start like a GIF.
bool looksLikeGif(std::span<const std::uint8_t> head);

class GifRows final : public RowSource {
  public:
    // Reads nothing yet; call open() first. Errors are named `name`.
    GifRows(bitmap::ByteSource& source, std::string name);
    ~GifRows() override;
    GifRows(const GifRows&) = delete;
    GifRows& operator=(const GifRows&) = delete;

    // Reads the screen and the first frame's header, and refuses a picture with no frame or no
    // pixels, more than 32767 on a side, or one that would hold more than `heldBudget` bytes (an
    // interlaced first frame's indices, or the canvas of a later frame). The rows are then the
    // first frame's.
    std::optional<base::Error> open(std::uint64_t heldBudget = std::uint64_t{1} << 30);

    // The number of frames. Reads the whole file the first time, so the source must be able to
    // go back to its start (one that cannot, a pipe, is refused: read it into memory first);
    // afterwards the rows start again at the first row of the frame selected.
    base::Result<int> frames();
    // Makes the rows from now on those of frame `index` (0 the first) from its first row. A
    // later frame than the one selected carries on from it; an earlier one reads the file again
    // from its start, as frames() does.
    std::optional<base::Error> selectFrame(int index);

    int width() const override { return m_width; }
    int height() const override { return m_height; }
    // The first frame on the whole screen comes as indices; anything else as pixels.
    RowForm form() const override {
        return !m_onCanvas && m_firstWhole ? RowForm::Indices : RowForm::Pixels;
    }
    std::span<const imaging::Pixel> palette() const override {
        return form() == RowForm::Indices ? std::span<const imaging::Pixel>(m_lookup)
                                          : std::span<const imaging::Pixel>();
    }
    // Pixels carry their alpha; indices carry it in their colours where an index is clear.
    bool alpha() const override;
    std::optional<base::Error> next(SourceRow& row) override;

  private:
    struct Palette {
        std::array<imaging::Pixel, 256> colours{};
        int count = 0; // the entries the file declares, whether or not it gives them
        bool given = false;
        imaging::Pixel colour(int index, int transparent) const;
    };
    struct Rect {
        int left = 0;
        int top = 0;
        int width = 0;
        int height = 0;
    };

    static int readBytes(GifFileType* file, std::uint8_t* bytes, int length);
    std::optional<base::Error> failure(int code, const std::string& where) const;
    std::optional<base::Error> openFirst();
    std::optional<base::Error> select(int index);
    std::optional<base::Error> start();
    std::optional<base::Error> nextImage(bool& found);
    std::optional<base::Error> skipImage();
    std::optional<base::Error>
    readFrameLines(const std::function<void(int frameRow, const std::uint8_t* indices)>& take);
    std::optional<base::Error> drawFrame();
    std::optional<base::Error> composeTo(int index);
    std::optional<base::Error> holdCanvas();
    void dispose();
    void fill(int left, int top, int width, int height, imaging::Pixel colour);
    std::string rowPlace(int row) const;

    std::optional<base::Error> settle(std::optional<base::Error> outcome);

    bitmap::ByteSource& m_source;
    std::string m_name;
    std::optional<base::Error> m_broken; // why the rows cannot come, after a failed call
    std::uint64_t m_budget = 0;
    GifFileType* m_file = nullptr;
    bool m_started = false;
    bool m_ended = false; // the data ended before the picture did
    std::uint64_t m_consumed = 0;
    std::uint8_t m_screenFlags = 0;
    int m_width = 0;
    int m_height = 0;
    int m_frameCount = -1; // once counted

    // What the frames so far left, as the composition needs it.
    Palette m_global;
    Palette m_palette; // of the frame last read
    int m_background = -1;
    int m_transparent = -1; // stays from one control block to the next frame that has one
    int m_disposal = 0;
    bool m_disposed = true;
    int m_frame = -1; // the frame last read
    Rect m_rect;      // of the frame last read, as the file gives it
    bool m_interlaced = false;
    std::array<imaging::Pixel, 256> m_lookup{}; // the frame's colours, transparency applied
    bool m_firstWhole = false;                  // the first frame covers the screen
    imaging::Pixel m_firstFill = 0;             // the screen under the first frame

    // Streaming the first frame; or the canvas of the frame selected.
    bool m_onCanvas = false;
    int m_selected = 0;
    int m_next = 0;
    int m_frameRowsRead = 0;
    std::vector<std::uint8_t> m_line;    // one row of the frame's indices, as read
    std::vector<std::uint8_t> m_indices; // an interlaced first frame's visible indices
    std::vector<imaging::Pixel> m_row;
    std::vector<imaging::Pixel> m_canvas;
    std::vector<imaging::Pixel> m_saved; // what a frame to be undone covered
};

} // namespace conversion
