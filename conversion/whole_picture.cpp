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
    PixelRows rows(picture.width(), picture.height(), [&](int y) {
        return reinterpret_cast<const imaging::Pixel*>(picture.constScanLine(y));
    });
    auto stages = Stages::around(rows, options.geometry, ByteOrder::RedFirst, name);
    if (auto* failed = std::get_if<base::Error>(&stages)) {
        return std::move(*failed);
    }
    RowSource& prepared = std::get<std::unique_ptr<Stages>>(stages)->outer();
    imaging::Planes planes = imaging::makePlanes(prepared.width(), prepared.height(), options.rows);
    PlaneSink sink(planes);
    LevelSink* const sinks[] = {&sink};
    auto ran = runRows(prepared, options.dither, sinks, {progress}, name);
    if (auto* failed = std::get_if<base::Error>(&ran)) {
        return std::move(*failed);
    }
    return planes;
}

} // namespace conversion
