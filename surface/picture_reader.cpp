#include "surface/picture_reader.h"

#include "bitmap/decoder.h"
#include "surface/device_source.h"
#include "surface/large_image.h"

#include <QIODevice>
#include <QImageReader>
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace surface {
namespace {

static_assert(std::endian::native == std::endian::little,
              "pixels are handed to imaging as little-endian 0xXXBBGGRR words");

QString sizeText(qint64 width, qint64 height) {
    return QStringLiteral("%1 × %2 pixels").arg(width).arg(height);
}

// Refuses an extent that has no pixels or exceeds the limits.
bool checkExtent(qint64 width, qint64 height, const ReadLimits& limits, QString* reason) {
    if (width <= 0 || height <= 0) {
        *reason = QStringLiteral("the picture has no pixels (%1)").arg(sizeText(width, height));
        return false;
    }
    if (width > limits.maxExtent || height > limits.maxExtent) {
        *reason = QStringLiteral("the picture is too large (%1; at most %2 pixels wide and high "
                                 "are supported)")
                      .arg(sizeText(width, height))
                      .arg(limits.maxExtent);
        return false;
    }
    if (width * height > limits.maxPixels) {
        *reason = QStringLiteral("the picture is too large (%1; at most %2 pixels are supported)")
                      .arg(sizeText(width, height))
                      .arg(limits.maxPixels);
        return false;
    }
    return true;
}

// Bitmaps are decoded by our own decoder straight into the picture's pixel memory, row by row
// in file order.
QImage readBitmap(QIODevice& device, const ReadLimits& limits, QString* reason) {
    DeviceSource source(device);
    bitmap::Decoder decoder(source);
    if (const auto refused =
            decoder.readHeader({limits.maxExtent, static_cast<std::uint64_t>(limits.maxPixels)})) {
        *reason = QString::fromStdString(*refused);
        return {};
    }
    const int width = decoder.width();
    const int height = decoder.height();
    QImage image = makeLargeImage(width, height, QImage::Format_RGBX8888);
    if (image.isNull()) {
        *reason = QStringLiteral("not enough memory for %1").arg(sizeText(width, height));
        return {};
    }
    for (int r = 0; r < height; ++r) {
        const int y = decoder.nextRowY();
        auto* line = reinterpret_cast<bitmap::Pixel*>(image.scanLine(y));
        if (const auto failed = decoder.readRow({line, static_cast<std::size_t>(width)})) {
            *reason = QString::fromStdString(*failed);
            return {};
        }
    }
    return image;
}

int allocationLimitMiB(const ReadLimits& limits) {
    // Room for the decoded picture at 4 bytes per pixel, plus Qt's own slack.
    const qint64 mib = limits.maxPixels * 4 / (1 << 20) + 64;
    return static_cast<int>(std::min<qint64>(mib, 1 << 30));
}

// libjpeg fills whatever a truncated JPEG lacks with grey, so Qt's reader would turn a few
// hundred bytes claiming 32767 x 32767 pixels into a 4 GiB picture. A Huffman-coded frame holds
// at least one bit for each 8 x 8 block of its full-size component (its first scan codes every
// block's DC difference), so a shorter file is refused. Arithmetic-coded frames can be smaller
// and are left to the decoder.
bool checkJpegData(QIODevice& device, qint64 start, const QSize& size, QString* reason) {
    // Qt's reader has moved on while reading the size; it continues from where it stopped.
    const qint64 resume = device.pos();
    if (!device.seek(start)) {
        return true;
    }
    const QByteArray head = device.peek(1 << 20);
    device.seek(resume);
    const auto* b = reinterpret_cast<const unsigned char*>(head.constData());
    const qsizetype n = head.size();
    if (n < 4 || b[0] != 0xFF || b[1] != 0xD8) {
        return true;
    }
    for (qsizetype p = 2; p + 4 <= n;) {
        if (b[p] != 0xFF) {
            return true; // not a marker: the decoder reports it
        }
        const unsigned char marker = b[p + 1];
        if (marker == 0xFF) {
            ++p; // fill byte
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            p += 2; // markers without a segment
            continue;
        }
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            const qint64 blocks =
                (qint64{size.width()} + 7) / 8 * ((qint64{size.height()} + 7) / 8);
            const qint64 need = blocks / 8;
            const qint64 have = device.size() - start;
            if (have < need) {
                *reason = QStringLiteral("the file is truncated: its header claims %1, which "
                                         "need at least %2 bytes as a JPEG picture, but the file "
                                         "has only %3 bytes")
                              .arg(sizeText(size.width(), size.height()))
                              .arg(need)
                              .arg(have);
                return false;
            }
            return true;
        }
        if (marker == 0xDA || marker == 0xD9) {
            return true; // a scan or the end before a frame the bound applies to
        }
        p += 2 + ((b[p + 2] << 8) | b[p + 3]);
    }
    return true;
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

QImage readWithQt(QIODevice& device, const ReadLimits& limits, QString* reason) {
    QImageReader::setAllocationLimit(allocationLimitMiB(limits));
    const qint64 start = device.pos();
    const QByteArray format = formatOf(device);
    if (format.isEmpty()) {
        *reason = QStringLiteral("not a picture in a format that can be read");
        return {};
    }
    QImageReader reader(&device, format);
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (size.isValid() && !checkExtent(size.width(), size.height(), limits, reason)) {
        return {};
    }
    if (size.isValid() && format == "jpeg" && !device.isSequential() &&
        !checkJpegData(device, start, size, reason)) {
        return {};
    }
    QImage image = reader.read();
    if (image.isNull()) {
        *reason = reader.error() == QImageReader::UnsupportedFormatError
                      ? QStringLiteral("not a picture in a format that can be read")
                      : QStringLiteral("the picture cannot be read (%1)").arg(reader.errorString());
        return {};
    }
    if (!checkExtent(image.width(), image.height(), limits, reason)) {
        return {};
    }
    // In place where Qt can (32-bit formats), so large pictures are not held twice.
    image.convertTo(QImage::Format_RGBX8888);
    if (image.isNull() || image.format() != QImage::Format_RGBX8888) {
        *reason = QStringLiteral("not enough memory to convert the picture");
        return {};
    }
    return image;
}

} // namespace

QImage readPicture(QIODevice& device, QString* reason, const ReadLimits& limits) {
    const QByteArray head = device.peek(2);
    if (bitmap::looksLikeBitmap({reinterpret_cast<const std::uint8_t*>(head.constData()),
                                 static_cast<std::size_t>(head.size())})) {
        return readBitmap(device, limits, reason);
    }
    return readWithQt(device, limits, reason);
}

} // namespace surface
