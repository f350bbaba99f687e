#include "conversion/whole_picture.h"

#include "pictures/picture_reader.h"

#include <QImage>
#include <span>

namespace conversion {

base::Result<imaging::Planes> readWholePicture(QIODevice& file, const std::string& name,
                                               const ConvertOptions& options,
                                               imaging::RowProgress& progress) {
    pictures::ReadLimits limits;
    limits.maxDecodedBytes = kWholePictureBudget;
    auto read = pictures::readPicture(file, name, limits);
    if (auto* error = std::get_if<base::Error>(&read)) {
        return std::move(*error);
    }
    QImage& picture = std::get<QImage>(read);
    imaging::Planes planes = imaging::makePlanes(picture.width(), picture.height(), options.rows);
    imaging::Ditherer ditherer(options.dither, picture.width());
    progress.reportTotal(static_cast<std::int16_t>(picture.height()));
    for (int y = 0; y < picture.height(); ++y) {
        const std::span<imaging::Pixel> row(reinterpret_cast<imaging::Pixel*>(picture.scanLine(y)),
                                            static_cast<std::size_t>(picture.width()));
        ditherer.paintRow(y, row);
        imaging::encodeRow(planes, y, row);
        progress.reportRowsDone(static_cast<std::int16_t>(y + 1));
    }
    return planes;
}

} // namespace conversion
