#pragma once
// Pictures other than bitmaps: read whole by Qt's image readers, then reduced row by row.

#include "conversion/stream.h"

#include <QIODevice>
#include <string>

namespace conversion {

// Reads a picture that is not a bitmap from the device and returns the planes of its four
// levels, dithered as the options ask; a failure is named by `name`. Each program links one
// definition: this library's, or the converter's own, which loads the image library only when
// such a picture comes, so that converting a bitmap never loads it.
base::Result<imaging::Planes> convertWholePicture(QIODevice& file, const std::string& name,
                                                  const ConvertOptions& options,
                                                  imaging::RowProgress& progress);

} // namespace conversion
