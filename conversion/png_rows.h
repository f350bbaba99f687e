#pragma once
// PNG pictures decoded a row at a time as their bytes arrive, so that only the planes are held
// (an interlaced picture, whose rows come in seven passes, is held whole at 4 bytes a pixel).

#include "bitmap/source.h"
#include "conversion/pipeline.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

struct spng_ctx;

namespace conversion {

// Whether the bytes start like a PNG.
bool looksLikePng(std::span<const std::uint8_t> head);

class PngRows final : public RowSource {
  public:
    // Reads nothing yet; call open() first. Errors are named `name`.
    PngRows(bitmap::ByteSource& source, std::string name);
    ~PngRows() override;
    PngRows(const PngRows&) = delete;
    PngRows& operator=(const PngRows&) = delete;

    // Reads the header and the chunks before the pixels, and refuses a picture with no pixels
    // or more than 32767 on a side, or an interlaced one that would take more than `wholeBudget`
    // bytes held whole.
    std::optional<base::Error> open(std::uint64_t wholeBudget = std::uint64_t{1} << 30);

    int width() const override { return m_width; }
    int height() const override { return m_height; }
    RowForm form() const override { return RowForm::Pixels; }
    // A picture with an alpha channel or a tRNS chunk.
    bool alpha() const override { return m_alpha; }
    std::optional<base::Error> next(SourceRow& row) override;

  private:
    std::optional<base::Error> failure(int code, int row) const;
    std::optional<base::Error> decodeInterlaced();
    void narrow(const std::uint16_t* deep, std::uint8_t* bytes) const;

    bitmap::ByteSource& m_source;
    std::string m_name;
    spng_ctx* m_context = nullptr;
    int m_width = 0;
    int m_height = 0;
    bool m_interlaced = false;
    bool m_deep = false; // 16 bits a channel, made 8 as other readers round them
    bool m_alpha = false;
    std::vector<std::uint16_t> m_deepRow;
    int m_next = 0;
    std::vector<std::uint8_t> m_row;   // one row of R, G, B, A
    std::vector<std::uint8_t> m_whole; // an interlaced picture, every row
};

} // namespace conversion
