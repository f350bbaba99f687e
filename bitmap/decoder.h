#pragma once
// Decodes Windows bitmaps of every common variant, row by row, without holding the picture.

#include "base/error.h"
#include "bitmap/source.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace bitmap {

// A decoded pixel: red in bits 0-7, green 8-15, blue 16-23, and 0xFF in the top byte (the
// bytes R, G, B, X in memory on a little-endian machine).
using Pixel = std::uint32_t;
inline constexpr Pixel kWhite = 0xFFFFFFFFu;

// The largest width and height accepted.
inline constexpr int kMaxExtent = 32767;

struct Limits {
    int maxExtent = kMaxExtent;
    std::uint64_t maxPixels = std::uint64_t{kMaxExtent} * kMaxExtent;
};

// Whether the bytes start like a bitmap ("BM").
bool looksLikeBitmap(std::span<const std::uint8_t> head);

class Decoder {
  public:
    // Reads nothing yet; call readHeader() first. `file` is the name the user knows the source
    // by, which every error names.
    Decoder(ByteSource& source, std::string file);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Reads the file header, the info header, the masks and the palette, and checks them: an
    // extent that is empty or over the limits, a kind that cannot be decoded, or (when the
    // source knows its size) uncompressed pixel data longer than the file is refused here,
    // before any pixel memory is needed. Returns the refusal, with a reason in words for a user
    // ("the header is cut short", "compression 4 (embedded JPEG) is not supported", ...).
    std::optional<base::Error> readHeader(const Limits& limits = {});

    int width() const;
    int height() const;
    // Rows are stored from the top (true) or, as usual, from the bottom (false).
    bool topDown() const;

    // Decodes the next row in file order into `row` (width() pixels): the bottom row first
    // unless topDown(). Returns the error when the file fails or ends before the row is
    // complete; run-length data counts as complete once its end-of-picture code has come (the
    // rows it leaves out are white).
    std::optional<base::Error> readRow(std::span<Pixel> row);
    // The picture row (0 at the top) that the next readRow() fills.
    int nextRowY() const;
    // Makes the rows come from the top (nextRowY() 0, 1, ...) for an uncompressed bitmap stored
    // from the bottom on a source that can seek: its rows are then read backwards, a chunk at a
    // time. Call after readHeader() and before the first row. True when the rows now come from
    // the top, as they always do for a bitmap stored top-down.
    bool readFromTop();

    // Whether the pixels carry alpha: a 16- or 32-bit bitmap with an alpha mask (in a V3, V4 or
    // V5 header, or alpha bit fields).
    bool hasAlpha() const;
    // Makes the rows carry each pixel's alpha in its top byte (0 clear, 255 opaque) instead of
    // 0xFF, for a bitmap that has it; call after readHeader() and before the first row. The rows
    // are then decoded pixels.
    void keepAlpha();

    // The form in which readStoredRow() hands out rows.
    enum class RowForm {
        Bytes3,  // a 24-bit row as stored: B, G, R
        Bytes4,  // a 32-bit row in the default layout: B, G, R, X
        Indices, // an uncompressed palette row of any depth, one index a byte
        Words16, // a 16-bit row as stored: two bytes a pixel, low byte first (wordColours())
        Pixels,  // any other kind, decoded as readRow() decodes it
    };
    RowForm rowForm() const;
    // The colour of each 16-bit value, as decoded pixels (Words16 rows only; empty otherwise).
    std::span<const Pixel> wordColours() const;
    // The palette's colours as decoded pixels; entries past the file's palette are black.
    std::span<const Pixel, 256> palette() const;
    // Reads the next row as readRow() does but leaves it in the form rowForm() names: `bytes`
    // points into the decoder's own buffer (valid until the next read) or, for Pixels, at `row`.
    std::optional<base::Error> readStoredRow(std::span<Pixel> row, const std::uint8_t*& bytes);

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace bitmap
