#pragma once
// Writes pictures as 24-bit Windows bitmaps.

#include "surface/failure.h"

#include <QImage>
#include <optional>

class QIODevice;

namespace surface {

// Writes a Format_RGBX8888 picture as a bottom-up 24-bit bitmap to the device.
bool writeBmp24(const QImage& picture, QIODevice& device, QString* reason);

// The same into a file, replaced only when the new one is complete.
std::optional<Failure> saveBmp24(const QImage& picture, const QString& fileName);

} // namespace surface
