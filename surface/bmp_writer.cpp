#include "surface/bmp_writer.h"

#include "surface/safe_save.h"

#include <QIODevice>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace surface {
namespace {

void put16(char*& p, std::uint16_t v) {
    *p++ = static_cast<char>(v & 0xFF);
    *p++ = static_cast<char>(v >> 8);
}
void put32(char*& p, std::uint32_t v) {
    put16(p, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(p, static_cast<std::uint16_t>(v >> 16));
}

} // namespace

bool writeBmp24(const QImage& picture, QIODevice& device, QString* reason) {
    const QImage image = picture.format() == QImage::Format_RGBX8888
                             ? picture
                             : picture.convertToFormat(QImage::Format_RGBX8888);
    const int width = image.width();
    const int height = image.height();
    const std::uint64_t stride = (std::uint64_t(width) * 3 + 3) & ~std::uint64_t{3};
    const std::uint64_t dataSize = stride * std::uint64_t(height);
    if (dataSize + 54 > 0xFFFFFFFFu) {
        *reason = QStringLiteral("the picture is too large for a bitmap file");
        return false;
    }

    char header[54];
    char* p = header;
    *p++ = 'B';
    *p++ = 'M';
    put32(p, static_cast<std::uint32_t>(54 + dataSize));
    put32(p, 0);
    put32(p, 54);
    put32(p, 40);
    put32(p, static_cast<std::uint32_t>(width));
    put32(p, static_cast<std::uint32_t>(height));
    put16(p, 1);
    put16(p, 24);
    put32(p, 0); // no compression
    put32(p, static_cast<std::uint32_t>(dataSize));
    put32(p, 3780); // 96 dots per inch
    put32(p, 3780);
    put32(p, 0);
    put32(p, 0);
    if (!writeAll(device, {header, sizeof header}, reason)) {
        return false;
    }

    // Rows go out bottom-up, a batch of about a mebibyte at a time.
    const int rowsPerBatch = static_cast<int>(std::max<std::uint64_t>(1, (1u << 20) / stride));
    std::vector<char> batch(static_cast<std::size_t>(stride) * rowsPerBatch, 0);
    for (int done = 0; done < height;) {
        const int rows = std::min(rowsPerBatch, height - done);
        for (int r = 0; r < rows; ++r) {
            const auto* in =
                reinterpret_cast<const std::uint32_t*>(image.constScanLine(height - 1 - done - r));
            auto* out = reinterpret_cast<unsigned char*>(batch.data() + r * stride);
            for (int x = 0; x < width; ++x, out += 3) {
                const std::uint32_t px = in[x]; // 0xXXBBGGRR
                out[0] = static_cast<unsigned char>(px >> 16);
                out[1] = static_cast<unsigned char>(px >> 8);
                out[2] = static_cast<unsigned char>(px);
            }
        }
        if (!writeAll(device, {batch.data(), static_cast<std::size_t>(stride) * rows}, reason)) {
            return false;
        }
        done += rows;
    }
    return true;
}

std::optional<Failure> saveBmp24(const QImage& picture, const QString& fileName) {
    return saveFile(fileName, [&picture](QIODevice& device, QString* reason) {
        return writeBmp24(picture, device, reason);
    });
}

} // namespace surface
