#include "surface/picture_reader.h"

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

constexpr int kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;

enum class Compression : std::uint32_t {
    Rgb = 0,
    Rle8 = 1,
    Rle4 = 2,
    BitFields = 3,
    Jpeg = 4,
    Png = 5,
    AlphaBitFields = 6,
};

// What the headers of a Windows bitmap say, before any pixel is read.
struct BmpHeader {
    qint64 dataOffset = 0;
    std::uint32_t infoSize = 0;
    qint64 width = 0;
    qint64 height = 0; // negative: rows stored top-down
    int bitsPerPixel = 0;
    int planes = 0;
    Compression compression = Compression::Rgb;
};

std::uint16_t u16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}
std::uint32_t u32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) |
           (std::uint32_t{b[3]} << 24);
}

// Parses the headers if the device starts like a bitmap; false for anything else.
bool peekBmpHeader(QIODevice& device, BmpHeader* header) {
    std::array<char, kFileHeaderSize + 24> bytes{};
    const qint64 got = device.peek(bytes.data(), bytes.size());
    if (got < kFileHeaderSize + 4 || bytes[0] != 'B' || bytes[1] != 'M') {
        return false;
    }
    const char* info = bytes.data() + kFileHeaderSize;
    header->dataOffset = u32(bytes.data() + 10);
    header->infoSize = u32(info);
    if (header->infoSize == kCoreHeaderSize && got >= kFileHeaderSize + 12) {
        header->width = u16(info + 4);
        header->height = u16(info + 6);
        header->planes = u16(info + 8);
        header->bitsPerPixel = u16(info + 10);
        return true;
    }
    if (header->infoSize >= 16 && got >= kFileHeaderSize + 16) {
        header->width = static_cast<std::int32_t>(u32(info + 4));
        header->height = static_cast<std::int32_t>(u32(info + 8));
        header->planes = u16(info + 12);
        header->bitsPerPixel = u16(info + 14);
        if (header->infoSize >= 20 && got >= kFileHeaderSize + 20) {
            header->compression = static_cast<Compression>(u32(info + 16));
        }
        return true;
    }
    return false; // left to Qt's reader, which reports it
}

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

qint64 bmpRowBytes(const BmpHeader& h) {
    return (h.width * h.bitsPerPixel + 31) / 32 * 4;
}

// A bitmap whose uncompressed pixel data would run past the end of the file is refused here,
// so that a 30-byte file cannot make us allocate gigabytes. Run-length encoded data can
// legitimately describe far more pixels than it has bytes, so only its start is checked.
bool checkBmpData(const BmpHeader& h, qint64 fileSize, QString* reason) {
    const qint64 rows = h.height < 0 ? -h.height : h.height;
    const bool uncompressed = h.infoSize == kCoreHeaderSize || h.compression == Compression::Rgb ||
                              h.compression == Compression::BitFields ||
                              h.compression == Compression::AlphaBitFields;
    if (h.dataOffset > fileSize) {
        *reason = QStringLiteral("the file is truncated: its pixel data should start at byte %1, "
                                 "but the file has only %2 bytes")
                      .arg(h.dataOffset)
                      .arg(fileSize);
        return false;
    }
    if (!uncompressed || h.bitsPerPixel <= 0 || h.bitsPerPixel > 32) {
        return true;
    }
    // The last row need not carry its padding.
    const qint64 need =
        h.dataOffset + bmpRowBytes(h) * (rows - 1) + (h.width * h.bitsPerPixel + 7) / 8;
    if (need > fileSize) {
        *reason = QStringLiteral("the file is truncated: its header claims %1 at %2 bits per "
                                 "pixel, which need %3 bytes, but the file has only %4 bytes")
                      .arg(sizeText(h.width, rows))
                      .arg(h.bitsPerPixel)
                      .arg(need)
                      .arg(fileSize);
        return false;
    }
    return true;
}

// 24-bit uncompressed bitmaps, the common case for large pictures, are decoded straight into
// the final pixel format: no intermediate image, no conversion pass.
QImage readBmp24(QIODevice& device, const BmpHeader& h, QString* reason) {
    const int width = static_cast<int>(h.width);
    const int height = static_cast<int>(h.height < 0 ? -h.height : h.height);
    const bool topDown = h.height < 0;
    QImage image = makeLargeImage(width, height, QImage::Format_RGBX8888);
    if (image.isNull()) {
        *reason = QStringLiteral("not enough memory for %1").arg(sizeText(width, height));
        return {};
    }
    if (!device.seek(device.pos() + h.dataOffset)) {
        *reason = QStringLiteral("cannot seek to the pixel data");
        return {};
    }
    const qint64 stride = bmpRowBytes(h);
    const qint64 rowsPerChunk = std::max<qint64>(1, (1 << 20) / stride);
    std::vector<char> chunk(static_cast<std::size_t>(stride * rowsPerChunk));
    for (int done = 0; done < height;) {
        const int rows = static_cast<int>(std::min<qint64>(rowsPerChunk, height - done));
        const qint64 want = stride * rows;
        qint64 got = 0;
        while (got < want) {
            const qint64 n = device.read(chunk.data() + got, want - got);
            if (n <= 0) {
                break;
            }
            got += n;
        }
        // The last row may lack its padding; anything shorter is a truncated file.
        const qint64 lastRowShort = done + rows == height ? stride - 3 * qint64{width} : 0;
        if (got < want - lastRowShort) {
            *reason = QStringLiteral("the file is truncated: pixel data ends at row %1 of %2")
                          .arg(done + got / stride)
                          .arg(height);
            return {};
        }
        for (int r = 0; r < rows; ++r) {
            const int fileRow = done + r;
            const int y = topDown ? fileRow : height - 1 - fileRow;
            const auto* in = reinterpret_cast<const unsigned char*>(chunk.data() + r * stride);
            auto* out = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
            for (int x = 0; x < width; ++x, in += 3) {
                out[x] = 0xFF000000u | (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) |
                         in[2];
            }
        }
        done += rows;
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
    if (head.startsWith("BM")) {
        return "bmp";
    }
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
    BmpHeader bmp;
    if (peekBmpHeader(device, &bmp)) {
        const qint64 rows = bmp.height < 0 ? -bmp.height : bmp.height;
        if (!checkExtent(bmp.width, rows, limits, reason)) {
            return {};
        }
        if (!device.isSequential() && !checkBmpData(bmp, device.size() - device.pos(), reason)) {
            return {};
        }
        // The old core header stores 24-bit pixels the same way.
        if ((bmp.infoSize >= 40 || bmp.infoSize == kCoreHeaderSize) &&
            bmp.compression == Compression::Rgb && bmp.bitsPerPixel == 24 && bmp.planes == 1 &&
            !device.isSequential() && bmp.dataOffset >= kFileHeaderSize + bmp.infoSize) {
            return readBmp24(device, bmp, reason);
        }
        // Qt's bitmap reader gives up past 16384 x 16384 pixels, saying only that it cannot
        // read the data; only the plain 24-bit bitmaps decoded above go beyond that.
        constexpr qint64 kQtBmpMaxPixels = qint64{16384} * 16384;
        if (bmp.width * rows > kQtBmpMaxPixels) {
            *reason = QStringLiteral("the picture is too large for its kind of bitmap (%1 at %2 "
                                     "bits per pixel%3): bitmaps over %4 pixels can be read only "
                                     "as uncompressed 24-bit bitmaps")
                          .arg(sizeText(bmp.width, rows))
                          .arg(bmp.bitsPerPixel)
                          .arg(bmp.compression == Compression::Rgb ? QString()
                                                                   : QStringLiteral(", compressed"))
                          .arg(kQtBmpMaxPixels);
            return {};
        }
    }
    return readWithQt(device, limits, reason);
}

} // namespace surface
