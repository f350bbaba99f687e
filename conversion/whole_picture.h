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

// Reads a picture that is not a bitmap from the device and returns the planes of its four
// levels, dithered as the options ask; a failure is named by `name`. Each program links one
// definition: this library's, or the converter's own, which loads the image library only when
// such a picture comes, so that converting a bitmap never loads it.
base::Result<imaging::Planes> convertWholePicture(QIODevice& file, const std::string& name,
                                                  const ConvertOptions& options,
                                                  imaging::RowProgress& progress);

} // namespace conversion
