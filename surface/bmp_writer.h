#pragma once
// Writes pictures as 24-bit Windows bitmaps.

#include "surface/failure.h"
#include "surface/safe_save.h"

#include <QImage>
#include <optional>

namespace surface {

// Writes a Format_RGBX8888 picture as a bottom-up 24-bit bitmap to the sink; false when the
// sink refused a piece.
bool writeBmp24(const QImage& picture, const ByteSink& sink);

// The same into a file, replaced only when the new one is complete.
std::optional<base::Error> saveBmp24(const QImage& picture, const std::string& path,
                                     Durability durability = Durability::Cached);

} // namespace surface
