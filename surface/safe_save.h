#pragma once
// Writes files so that a failure never leaves a partial file or destroys an existing one.

#include "surface/failure.h"

#include <QString>
#include <functional>
#include <optional>
#include <string_view>

class QIODevice;

namespace surface {

// Writes through `write` into a file beside fileName that replaces it only when complete.
// `write` returns false and sets its reason when it fails. Names of devices and pipes (such
// as /dev/stdout) cannot be replaced, so they are written directly.
std::optional<Failure> saveFile(const QString& fileName,
                                const std::function<bool(QIODevice&, QString*)>& write);

// Writes the bytes exactly as they are.
std::optional<Failure> saveBytes(const QString& fileName, std::string_view bytes);

// Writes all of `bytes` to the device; false and a reason when the device refuses.
bool writeAll(QIODevice& device, std::string_view bytes, QString* reason);

} // namespace surface
