#pragma once
// Binary grey and colour PNM pictures (P5 and P6 of 8 bits) read a row at a time: a header and
// raw rows, so that only the planes are held.

#include "bitmap/source.h"
#include "conversion/pipeline.h"

#include <array>
#include <span>
#include <string>
#include <vector>

namespace conversion {

// Whether the bytes start like a PNM picture of any kind.
bool looksLikePnm(std::span<const std::uint8_t> head);

class PnmRows final : public RowSource {
  public:
    // Reads nothing yet; call open() first. Errors are named `name`.
    PnmRows(bitmap::ByteSource& source, std::string name);

    // Reads the header. A kind this reader leaves to another (text forms, one bit, more or
    // fewer than 8 bits a sample) is refused with `unsupported` set, the header then read.
    std::optional<base::Error> open(bool& unsupported);

    int width() const override { return m_width; }
    int height() const override { return m_height; }
    // A grey picture's samples are indices into a palette of the 256 greys.
    RowForm form() const override { return m_grey ? RowForm::Indices : RowForm::Pixels; }
    std::span<const imaging::Pixel> palette() const override;
    std::optional<base::Error> next(SourceRow& row) override;

  private:
    bitmap::ByteSource& m_source;
    std::string m_name;
    bool m_grey = false;
    int m_width = 0;
    int m_height = 0;
    int m_next = 0;
    std::vector<std::uint8_t> m_stored; // a row as the file stores it
    std::vector<std::uint8_t> m_row;    // R, G, B, X
};

} // namespace conversion
