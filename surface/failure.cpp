#include "surface/failure.h"

#include <QDir>

namespace surface {

QString Failure::message() const {
    return QDir::toNativeSeparators(file) + QStringLiteral(": ") + reason;
}

} // namespace surface
