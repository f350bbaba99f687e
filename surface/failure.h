#pragma once
// What went wrong with a file, in words a user can act on.

#include <QString>

namespace surface {

struct Failure {
    QString file;   // as the user gave it
    QString reason; // e.g. "Permission denied"

    // "FILE: reason", with the platform's separators.
    QString message() const;
};

} // namespace surface
