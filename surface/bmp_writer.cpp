#include "surface/bmp_writer.h"

#include "bitmap/writer.h"

#include <algorithm>
#include <vector>

namespace surface {

bool writeBmp24(const QImage& picture, const ByteSink& sink) {
    const QImage image = picture.format() == QImage::Format_RGBX8888
                             ? picture
                             : picture.convertToFormat(QImage::Format_RGBX8888);
    const int width = image.width();
    const int height = image.height();
    const auto header = bitmap::bmp24Header(width, height);
    if (!sink({reinterpret_cast<const char*>(header.data()), header.size()})) {
        return false;
    }
    // Rows go out bottom-up, a batch of about a mebibyte at a time.
    const std::size_t stride = bitmap::bmp24RowBytes(width);
    const int rowsPerBatch = static_cast<int>(std::max<std::size_t>(1, (1u << 20) / stride));
    std::vector<std::uint8_t> batch(stride * static_cast<std::size_t>(rowsPerBatch));
    for (int y = height - 1; y >= 0;) {
        const int rows = std::min(rowsPerBatch, y + 1);
        for (int r = 0; r < rows; ++r, --y) {
            const auto* line = reinterpret_cast<const bitmap::Pixel*>(image.constScanLine(y));
            bitmap::encodeBmp24Row({line, static_cast<std::size_t>(width)},
                                   batch.data() + stride * static_cast<std::size_t>(r));
        }
        if (!sink({reinterpret_cast<const char*>(batch.data()),
                   stride * static_cast<std::size_t>(rows)})) {
            return false;
        }
    }
    return true;
}

std::optional<base::Error> saveBmp24(const QImage& picture, const std::string& path,
                                     Durability durability) {
    return saveFile(
        path, [&picture](const ByteSink& sink) { return writeBmp24(picture, sink); }, durability);
}

} // namespace surface
