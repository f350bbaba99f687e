#include "pictures/picture_reader.h"

#include "bitmap/decoder.h"
#include "pictures/header_bounds.h"
#include "pictures/large_image.h"
#include "platform/device_source.h"
#include "platform/failure.h"

#include <QIODevice>
#include <QImageReader>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace pictures {
namespace {

static_assert(std::endian::native == std::endian::little,
              "pixels are handed to imaging as little-endian 0xXXBBGGRR words");

QString sizeText(qint64 width, qint64 height) {
    return QStringLiteral("%1 × %2 pixels").arg(width).arg(height);
}

// A header's number as written; a very long one by its first digits and its length.
QString writtenNumber(const QByteArray& digits) {
    constexpr qsizetype kShown = 24;
    if (digits.size() <= kShown) {
        return QString::fromLatin1(digits);
    }
    return QStringLiteral("%1… (%2 digits)")
        .arg(QString::fromLatin1(digits.left(kShown)))
        .arg(digits.size());
}

base::Error notEnoughMemory(const std::string& name, qint64 width, qint64 height) {
    return base::noMemory(name, "for " + sizeText(width, height).toStdString());
}

// Why an extent is refused (it has no pixels or exceeds the limits), or nothing; `shown` is the
// extent as the header wrote it, when that differs from the values.
std::optional<QString> extentProblem(qint64 width, qint64 height, const ReadLimits& limits,
                                     const QString& shown = {}) {
    auto sizeText = [&](qint64 w, qint64 h) {
        return shown.isEmpty() ? pictures::sizeText(w, h) : shown;
    };
    if (width <= 0 || height <= 0) {
        return QStringLiteral("the picture has no pixels (%1)").arg(sizeText(width, height));
    }
    if (width > limits.maxExtent || height > limits.maxExtent) {
        return QStringLiteral("the picture is too large (%1; at most %2 pixels wide and high are "
                              "supported)")
            .arg(sizeText(width, height))
            .arg(limits.maxExtent);
    }
    if (width * height > limits.maxPixels) {
        return QStringLiteral("the picture is too large (%1; at most %2 pixels are supported)")
            .arg(sizeText(width, height))
            .arg(limits.maxPixels);
    }
    return std::nullopt;
}

// Bitmaps are decoded by our own decoder straight into the picture's pixel memory, row by row
// in file order.
base::Result<QImage> readBitmap(QIODevice& device, const std::string& name,
                                const ReadLimits& limits) {
    platform::DeviceSource source(device, name);
    bitmap::Decoder decoder(source, name);
    if (auto refused =
            decoder.readHeader({limits.maxExtent, static_cast<std::uint64_t>(limits.maxPixels)})) {
        return std::move(*refused);
    }
    const int width = decoder.width();
    const int height = decoder.height();
    QImage image = makeLargeImage(width, height, QImage::Format_RGBX8888);
    if (image.isNull()) {
        return notEnoughMemory(name, width, height);
    }
    for (int r = 0; r < height; ++r) {
        const int y = decoder.nextRowY();
        auto* line = reinterpret_cast<bitmap::Pixel*>(image.scanLine(y));
        if (auto failed = decoder.readRow({line, static_cast<std::size_t>(width)})) {
            return std::move(*failed);
        }
    }
    return image;
}

int allocationLimitMiB(const ReadLimits& limits) {
    // Room for the decoded picture at 4 bytes per pixel, plus Qt's own slack; a bound on the
    // decoded bytes holds even for a reader that cannot tell the size before it reads.
    qint64 mib = limits.maxPixels * 4 / (1 << 20) + 64;
    if (limits.maxDecodedBytes > 0) {
        mib = std::min(mib, std::max<qint64>(limits.maxDecodedBytes >> 20, 1));
    }
    return static_cast<int>(std::min<qint64>(mib, 1 << 30));
}

// The formats we take, told by their first bytes; empty for anything else. Choosing the decoder
// ourselves keeps Qt from trying all of its own on a user's file: it also reads XBM, XPM and
// icons, with decoders less wary of hostile files (its XBM reader decodes a whole picture just
// to tell whether it can, and fills a short file up to the size its header claims: 4 GiB from
// 86 bytes).
QByteArray formatOf(QIODevice& device) {
    const QByteArray head = device.peek(8);
    if (head.startsWith("\x89PNG\r\n\x1a\n")) {
        return "png";
    }
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a")) {
        return "gif";
    }
    if (head.startsWith("\xFF\xD8")) {
        return "jpeg";
    }
    if (head.size() >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6') {
        static const char* const kPnm[] = {"pbm", "pgm", "ppm"};
        return kPnm[(head[1] - '1') % 3];
    }
    return {};
}

// Some of Qt's decoders (libpng's) print their complaints straight to standard error. The
// refusal reaches the user once, with the file's name, so standard error is set aside while
// they run.
class QuietStandardError {
  public:
    QuietStandardError() {
        static std::mutex mutex;
        m_lock = std::unique_lock(mutex);
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (m_saved >= 0 && null >= 0) {
            ::dup2(null, STDERR_FILENO);
        }
        if (null >= 0) {
            ::close(null);
        }
    }
    ~QuietStandardError() {
        if (m_saved >= 0) {
            std::fflush(stderr);
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
        }
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

  private:
    std::unique_lock<std::mutex> m_lock;
    int m_saved = -1;
};

base::Result<QImage> readWithQt(QIODevice& device, const std::string& name,
                                const ReadLimits& limits) {
    const auto refuse = [&name](const QString& reason) { return platform::failure(name, reason); };
    const QString notAPicture = QStringLiteral("not a picture in a format that can be read");
    QImageReader::setAllocationLimit(allocationLimitMiB(limits));
    const qint64 start = device.pos();
    const QByteArray format = formatOf(device);
    if (format.isEmpty()) {
        return refuse(notAPicture);
    }
    if (format.startsWith('p')) {
        if (const auto extent = pnmExtent(device)) {
            const auto& [width, height] = *extent;
            const QString shown =
                QStringLiteral("%1 × %2 pixels")
                    .arg(writtenNumber(width.digits), writtenNumber(height.digits));
            if (const auto problem = extentProblem(width.value, height.value, limits, shown)) {
                return refuse(*problem);
            }
        }
    }
    const QuietStandardError quiet;
    QImageReader reader(&device, format);
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (const auto problem =
            size.isValid() ? extentProblem(size.width(), size.height(), limits) : std::nullopt) {
        return refuse(*problem);
    }
    const QImage::Format decodedFormat = reader.imageFormat();
    if (size.isValid() && format == "jpeg" && !device.isSequential()) {
        if (const qint64 need = jpegLeastBytes(device, start, size); device.size() - start < need) {
            return refuse(QStringLiteral("the file is truncated: its header claims %1, which need "
                                         "at least %2 bytes as a JPEG picture, but the file has "
                                         "only %3 bytes")
                              .arg(sizeText(size.width(), size.height()))
                              .arg(need)
                              .arg(device.size() - start));
        }
    }
    const qint64 decodedBytes = qint64{size.width()} * size.height() * 4;
    if (size.isValid() && limits.maxDecodedBytes > 0 && decodedBytes > limits.maxDecodedBytes) {
        return refuse(QStringLiteral("the picture is too large to decode whole (%1 take %2 bytes; "
                                     "at most %3 bytes are allowed for pictures that are not "
                                     "bitmaps)")
                          .arg(sizeText(size.width(), size.height()))
                          .arg(decodedBytes)
                          .arg(limits.maxDecodedBytes));
    }
    QImage image = reader.read();
    if (image.isNull()) {
        if (reader.error() == QImageReader::UnsupportedFormatError) {
            return refuse(notAPicture);
        }
        if (size.isValid() &&
            QImage(size,
                   decodedFormat == QImage::Format_Invalid ? QImage::Format_RGB32 : decodedFormat)
                .isNull()) {
            // Qt's readers say only that they could not read when the picture's memory could
            // not be had; asking for that memory again tells which it was.
            return notEnoughMemory(name, size.width(), size.height());
        }
        return refuse(QStringLiteral("the picture cannot be read (%1)").arg(reader.errorString()));
    }
    if (const auto problem = extentProblem(image.width(), image.height(), limits)) {
        return refuse(*problem);
    }
    // In place where Qt can (32-bit formats), so large pictures are not held twice.
    const QImage::Format wanted = limits.keepAlpha && image.hasAlphaChannel()
                                      ? QImage::Format_RGBA8888
                                      : QImage::Format_RGBX8888;
    image.convertTo(wanted);
    if (image.isNull() || image.format() != wanted) {
        return base::noMemory(name, "to convert the picture");
    }
    return image;
}

} // namespace

base::Result<QImage> readPicture(QIODevice& device, const std::string& name,
                                 const ReadLimits& limits) {
    const QByteArray head = device.peek(2);
    if (bitmap::looksLikeBitmap({reinterpret_cast<const std::uint8_t*>(head.constData()),
                                 static_cast<std::size_t>(head.size())})) {
        return readBitmap(device, name, limits);
    }
    return readWithQt(device, name, limits);
}

} // namespace pictures
