#pragma once
// JPEG pictures decoded a scanline at a time as their bytes arrive, through libjpeg, so that only
// the planes are held.

#include "bitmap/source.h"
#include "conversion/pipeline.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace conversion {

// Whether the bytes start like a JPEG.
bool looksLikeJpeg(std::span<const std::uint8_t> head);

class JpegRows final : public RowSource {
  public:
    // Reads nothing yet; call open() first. Errors are named `name`.
    JpegRows(bitmap::ByteSource& source, std::string name);
    ~JpegRows() override;
    JpegRows(const JpegRows&) = delete;
    JpegRows& operator=(const JpegRows&) = delete;

    // Reads the header and starts the decoder, which may take up to `memory` bytes (a
    // progressive picture holds all its coefficients). A picture in colours this reader does not
    // turn into red, green and blue (CMYK) is refused with `unsupported` set, for another reader.
    std::optional<base::Error> open(bool& unsupported,
                                    std::uint64_t memory = std::uint64_t{1} << 30);

    int width() const override { return m_width; }
    int height() const override { return m_height; }
    RowForm form() const override { return RowForm::Pixels; }
    std::optional<base::Error> next(SourceRow& row) override;

  private:
    struct Decoder;
    std::unique_ptr<Decoder> m_decoder;
    std::string m_name;
    int m_width = 0;
    int m_height = 0;
    int m_next = 0;
    std::vector<std::uint8_t> m_row; // R, G, B, X
};

} // namespace conversion
