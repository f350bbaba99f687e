#include "surface/picture_loader.h"

#include "bitmap/decoder.h"
#include "pictures/large_image.h"
#include "pictures/picture_reader.h"
#include "platform/device_source.h"
#include "platform/input_file.h"

#include <QFile>

namespace surface {

PictureLoader::PictureLoader(RowStreamer streamer) : m_streamer(std::move(streamer)) {}
PictureLoader::~PictureLoader() = default;

std::optional<base::Error> PictureLoader::open(const QString& fileName) {
    m_name = QFile::encodeName(fileName).toStdString();
    auto opened = platform::openPictureFile(m_name);
    if (auto* error = std::get_if<base::Error>(&opened)) {
        return *error;
    }
    m_file = std::move(std::get<std::unique_ptr<QFile>>(opened));
    const QByteArray head = m_file->peek(2);
    if (bitmap::looksLikeBitmap({reinterpret_cast<const std::uint8_t*>(head.constData()),
                                 static_cast<std::size_t>(head.size())})) {
        m_source = std::make_unique<platform::DeviceSource>(*m_file, m_name);
        m_decoder = std::make_unique<bitmap::Decoder>(*m_source, m_name);
        const pictures::ReadLimits limits;
        if (auto refused = m_decoder->readHeader(
                {limits.maxExtent, static_cast<std::uint64_t>(limits.maxPixels)})) {
            return refused;
        }
        // A bitmap's alpha is ignored, as the converter ignores it without a mask: many writers
        // leave it 0 in pictures meant to be opaque.
        if (auto refused = makeImage(m_decoder->width(), m_decoder->height(), false)) {
            return refused;
        }
        // The top first, so that a picture larger than the view shows from its first moments.
        const bool fromTop = m_decoder->readFromTop();
        m_firstRow = m_endRow = fromTop ? 0 : m_image.height();
        return std::nullopt;
    }
    if (m_streamer) {
        auto streamed = m_streamer(*m_file, m_name);
        if (auto* error = std::get_if<base::Error>(&streamed)) {
            return std::move(*error);
        }
        m_rows = std::move(std::get<std::unique_ptr<StreamedRows>>(streamed));
        if (m_rows) {
            return makeImage(m_rows->width(), m_rows->height(), m_rows->alpha());
        }
        m_file->seek(0); // for Qt's readers, from the start
    }
    pictures::ReadLimits limits;
    limits.keepAlpha = true;
    auto read = pictures::readPicture(*m_file, m_name, limits);
    m_file.reset();
    if (auto* error = std::get_if<base::Error>(&read)) {
        return std::move(*error);
    }
    m_image = std::move(std::get<QImage>(read));
    m_endRow = m_image.height();
    return std::nullopt;
}

std::optional<base::Error> PictureLoader::makeImage(int width, int height, bool alpha) {
    QImage image = pictures::makeLargeImage(
        width, height, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    if (image.isNull()) {
        return base::noMemory(
            m_name, QStringLiteral("for %1 × %2 pixels").arg(width).arg(height).toStdString());
    }
    m_pixels = image.bits(); // the only reference yet: no copy is made
    m_image = std::move(image);
    return std::nullopt;
}

bool PictureLoader::finished() const {
    return !m_image.isNull() && m_firstRow == 0 && m_endRow == m_image.height();
}

std::optional<base::Error> PictureLoader::readRow() {
    if (m_failure) {
        return m_failure;
    }
    if ((m_decoder == nullptr && m_rows == nullptr) || finished()) {
        return platform::failure(m_name, QStringLiteral("all rows of the picture have been read"));
    }
    const int y = m_rows ? m_endRow : m_decoder->nextRowY();
    auto* line = reinterpret_cast<bitmap::Pixel*>(m_pixels + qsizetype{y} * m_image.bytesPerLine());
    auto failed = m_rows ? m_rows->readRow(line)
                         : m_decoder->readRow({line, static_cast<std::size_t>(m_image.width())});
    if (failed) {
        m_failure = std::move(failed);
        return m_failure;
    }
    if (y == m_endRow) {
        ++m_endRow;
    } else {
        m_firstRow = y;
    }
    if (finished()) {
        m_rows.reset();
        m_decoder.reset();
        m_source.reset();
        m_file.reset();
    }
    return std::nullopt;
}

} // namespace surface
