#pragma once
// Errors of the Qt layers: made from Qt's words, shown with the platform's separators.

#include "base/error.h"

#include <QString>
#include <string>

namespace platform {

// An error about the file `path` (its bytes) for a reason in Qt's words.
base::Error failure(const std::string& path, const QString& reason);

// "FILE: reason" for a message box: the name decoded from its bytes, with the platform's
// separators.
QString messageText(const base::Error& error);

} // namespace platform
