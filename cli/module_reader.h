#pragma once
// The converter's reader of pictures that are not bitmaps, through its picture module.

#include "conversion/stream.h"

namespace cli {

// The converter's reader of pictures that are not bitmaps: loads the module the first time and
// hands the picture to it; refuses the picture, naming why, when the module cannot be loaded.
base::Result<imaging::Planes> readWithModule(QIODevice& file, const std::string& name,
                                             const conversion::ConvertOptions& options,
                                             imaging::RowProgress& progress);

} // namespace cli
