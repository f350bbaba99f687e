#include "conversion/whole_picture.h"

#include "conversion/pipeline.h"
#include "pictures/picture_reader.h"

#include <QImage>

namespace conversion {

base::Result<imaging::Planes> readWholePicture(QIODevice& file, const std::string& name,
                                               const ConvertOptions& options,
                                               imaging::RowProgress& progress) {
    pictures::ReadLimits limits;
    limits.maxDecodedBytes = kWholePictureBudget;
    limits.keepAlpha = true;
    auto read = pictures::readPicture(file, name, limits);
    if (auto* error = std::get_if<base::Error>(&read)) {
        return std::move(*error);
    }
    const QImage& picture = std::get<QImage>(read);
    PixelRows rows(
        picture.width(), picture.height(),
        [&](int y) { return reinterpret_cast<const imaging::Pixel*>(picture.constScanLine(y)); },
        picture.format() == QImage::Format_RGBA8888);
    return convertRows(rows, name, options, progress);
}

} // namespace conversion
