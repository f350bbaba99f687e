#pragma once
// Pictures other than bitmaps: read whole by Qt's image readers, then reduced row by row.

#include "conversion/stream.h"

#include <QIODevice>
#include <string>

namespace conversion {

// The most memory a picture that is not a bitmap may take decoded (4 bytes a pixel, 16384 x
// 16384 pixels): such a picture is held whole, so a small file could otherwise ask for 4 GiB.
// One larger is refused from its header.
inline constexpr qint64 kWholePictureBudget = qint64{1} << 30;

// Qt's image readers in process: a WholePictureReader for the window, the tests and the
// converter's picture module.
base::Result<imaging::Planes> readWholePicture(QIODevice& file, const std::string& name,
                                               const ConvertOptions& options,
                                               imaging::RowProgress& progress);

} // namespace conversion
