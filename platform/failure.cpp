#include "platform/failure.h"

#include <QDir>
#include <QFile>

namespace platform {

base::Error failure(const std::string& path, const QString& reason) {
    return base::Error{path, reason.toStdString()};
}

QString messageText(const base::Error& error) {
    const QString reason = QString::fromStdString(error.reason);
    if (error.file.empty()) {
        return reason;
    }
    return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(error.file))) +
           QStringLiteral(": ") + reason;
}

} // namespace platform
