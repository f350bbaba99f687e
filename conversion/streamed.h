#pragma once
// The formats other than bitmaps whose rows stream as their bytes arrive, opened by their first
// bytes.

#include "base/error.h"
#include "conversion/pipeline.h"

#include <memory>
#include <string>

class QIODevice;

namespace conversion {

// The rows of the picture on `file` if its format streams (PNG, GIF's first frame, JPEG in
// colours its reader turns into red, green and blue, and binary PNM of 8 bits), read from the
// device as they are needed, as pixels or palette indices; null for any other format, with the
// device's position then no longer where it was. Errors are named `name`.
base::Result<std::unique_ptr<RowSource>> openStreamedRows(QIODevice& file, const std::string& name);

} // namespace conversion
