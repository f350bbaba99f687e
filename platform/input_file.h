#pragma once
// Opens picture files for reading.

#include "platform/failure.h"

#include <QFile>
#include <memory>
#include <string>
#include <variant>

namespace platform {

// Opens the file by the bytes of its name. Missing, unreadable and empty files, folders, pipes
// and devices are refused with the reason: a pipe or a device has no size to check a header
// against, and opening a pipe with no writer waits forever.
base::Result<std::unique_ptr<QFile>> openPictureFile(const std::string& path);

} // namespace platform
