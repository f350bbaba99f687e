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
    auto read = pictures::readPicture(file, name, limits);
    if (auto* error = std::get_if<base::Error>(&read)) {
        return std::move(*error);
    }
    const QImage& picture = std::get<QImage>(read);
    imaging::Planes planes = imaging::makePlanes(picture.width(), picture.height(), options.rows);
    PlaneSink sink(planes);
    LevelSink* const sinks[] = {&sink};
    PixelRows rows(picture.width(), picture.height(), [&](int y) {
        return reinterpret_cast<const imaging::Pixel*>(picture.constScanLine(y));
    });
    auto ran = runRows(rows, {options.dither, options.tone}, sinks, {progress}, name);
    if (auto* failed = std::get_if<base::Error>(&ran)) {
        return std::move(*failed);
    }
    return planes;
}

} // namespace conversion
