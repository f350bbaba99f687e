#include "surface/bmp_writer.h"

#include "bitmap/writer.h"
#include "imaging/plane_encoder.h"

#include <algorithm>
#include <vector>

namespace surface {

bool writeLevelBitmap(const QImage& picture, const platform::ByteSink& sink) {
    const QImage image = picture.format() == QImage::Format_RGBX8888
                             ? picture
                             : picture.convertToFormat(QImage::Format_RGBX8888);
    const int width = image.width();
    const int height = image.height();
    const auto header = bitmap::levelBitmapHeader(width, height, imaging::kLevelPalette);
    if (!sink({reinterpret_cast<const char*>(header.data()), header.size()})) {
        return false;
    }
    // Each row goes through the encoder's own rules into one row of planes, so the picture
    // holds what Convert would read from it. Rows go out bottom-up, about a mebibyte at a time.
    imaging::Planes bits = imaging::makePlanes(width, 1);
    const std::size_t stride = bitmap::levelBitmapRowBytes(width);
    const int rowsPerBatch = static_cast<int>(std::max<std::size_t>(1, (1u << 20) / stride));
    std::vector<std::uint8_t> batch(stride * static_cast<std::size_t>(rowsPerBatch));
    for (int y = height - 1; y >= 0;) {
        const int rows = std::min(rowsPerBatch, y + 1);
        for (int r = 0; r < rows; ++r, --y) {
            const auto* line = reinterpret_cast<const imaging::Pixel*>(image.constScanLine(y));
            std::fill(bits.dark.begin(), bits.dark.end(), 0);
            std::fill(bits.light.begin(), bits.light.end(), 0);
            imaging::encodeRow(bits, 0, {line, static_cast<std::size_t>(width)});
            bitmap::encodeLevelRow(bits.dark.data(), bits.light.data(), width,
                                   batch.data() + stride * static_cast<std::size_t>(r));
        }
        if (!sink({reinterpret_cast<const char*>(batch.data()),
                   stride * static_cast<std::size_t>(rows)})) {
            return false;
        }
    }
    return true;
}

std::optional<base::Error> saveLevelBitmap(const QImage& picture, const std::string& path,
                                           platform::Durability durability) {
    return platform::saveFile(
        path,
        [&picture](const platform::ByteSink& sink) { return writeLevelBitmap(picture, sink); },
        durability);
}

} // namespace surface
