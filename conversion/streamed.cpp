#include "conversion/streamed.h"

#include "conversion/gif_rows.h"
#include "conversion/jpeg_rows.h"
#include "conversion/png_rows.h"
#include "conversion/pnm_rows.h"
#include "platform/device_source.h"

#include <QIODevice>

namespace conversion {
namespace {

// A decoder's rows together with the device source they are read from.
template <class Rows> class Owned final : public RowSource {
  public:
    Owned(QIODevice& file, const std::string& name)
        : m_device(file, name), m_rows(m_device, name) {}
    Rows& rows() { return m_rows; }
    int width() const override { return m_rows.width(); }
    int height() const override { return m_rows.height(); }
    RowForm form() const override { return m_rows.form(); }
    std::span<const imaging::Pixel> palette() const override { return m_rows.palette(); }
    bool turnFromTop() override { return m_rows.turnFromTop(); }
    bool alpha() const override { return m_rows.alpha(); }
    bool masked() const override { return m_rows.masked(); }
    std::optional<base::Error> next(SourceRow& row) override { return m_rows.next(row); }

  private:
    platform::DeviceSource m_device;
    Rows m_rows;
};

} // namespace

base::Result<std::unique_ptr<RowSource>> openStreamedRows(QIODevice& file,
                                                          const std::string& name) {
    const QByteArray peeked = file.peek(8);
    const std::span<const std::uint8_t> head(
        reinterpret_cast<const std::uint8_t*>(peeked.constData()),
        static_cast<std::size_t>(peeked.size()));
    if (looksLikePng(head)) {
        auto png = std::make_unique<Owned<PngRows>>(file, name);
        if (auto refused = png->rows().open()) {
            return std::move(*refused);
        }
        return std::unique_ptr<RowSource>(std::move(png));
    }
    if (looksLikeGif(head)) {
        auto gif = std::make_unique<Owned<GifRows>>(file, name);
        if (auto refused = gif->rows().open()) {
            return std::move(*refused);
        }
        return std::unique_ptr<RowSource>(std::move(gif));
    }
    if (looksLikeJpeg(head)) {
        auto jpeg = std::make_unique<Owned<JpegRows>>(file, name);
        bool unsupported = false;
        if (auto refused = jpeg->rows().open(unsupported)) {
            return std::move(*refused);
        }
        if (!unsupported) {
            return std::unique_ptr<RowSource>(std::move(jpeg));
        }
    }
    if (looksLikePnm(head)) {
        auto pnm = std::make_unique<Owned<PnmRows>>(file, name);
        bool unsupported = false;
        if (auto refused = pnm->rows().open(unsupported)) {
            return std::move(*refused);
        }
        if (!unsupported) {
            return std::unique_ptr<RowSource>(std::move(pnm));
        }
    }
    return std::unique_ptr<RowSource>();
}

} // namespace conversion
