#include "surface/safe_save.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace surface {
namespace {

std::optional<Failure> writeDirectly(const QString& fileName,
                                     const std::function<bool(QIODevice&, QString*)>& write) {
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return Failure{fileName, file.errorString()};
    }
    QString reason;
    if (!write(file, &reason)) {
        return Failure{fileName, reason};
    }
    if (!file.flush() || file.error() != QFileDevice::NoError) {
        return Failure{fileName, file.errorString()};
    }
    return std::nullopt;
}

} // namespace

bool writeAll(QIODevice& device, std::string_view bytes, QString* reason) {
    // Large texts go out in pieces: QIODevice takes qint64 sizes, and a short write is retried.
    constexpr qint64 kPiece = qint64{1} << 26;
    const char* p = bytes.data();
    qint64 left = static_cast<qint64>(bytes.size());
    while (left > 0) {
        const qint64 n = device.write(p, std::min(left, kPiece));
        if (n <= 0) {
            *reason = device.errorString();
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

std::optional<Failure> saveFile(const QString& fileName,
                                const std::function<bool(QIODevice&, QString*)>& write) {
    if (fileName.isEmpty()) {
        return Failure{fileName, QStringLiteral("no file name was given")};
    }
    const QFileInfo info(fileName);
    if (info.isDir()) {
        return Failure{fileName, QStringLiteral("is a folder")};
    }
    if (info.exists() && !info.isFile()) {
        return writeDirectly(fileName, write);
    }
    if (!info.absoluteDir().exists()) {
        return Failure{fileName,
                       QStringLiteral("the folder %1 does not exist").arg(info.absolutePath())};
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        // QSaveFile's own text for an existing file it may not replace names the file again
        // and hides why (a read-only file system, a read-only file); the system says why.
        if (info.exists() && ::access(QFile::encodeName(fileName).constData(), W_OK) != 0) {
            return Failure{fileName, QString::fromLocal8Bit(std::strerror(errno))};
        }
        return Failure{fileName, file.errorString()};
    }
    QString reason;
    if (!write(file, &reason)) {
        file.cancelWriting();
        return Failure{fileName, reason};
    }
    // QSaveFile::commit() does not notice when writing out its own buffer fails (a full disk
    // then gives an empty file), so the buffer is written out and checked first.
    if (!file.flush()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return Failure{fileName, why};
    }
    if (!file.commit()) {
        return Failure{fileName, file.errorString()};
    }
    return std::nullopt;
}

std::optional<Failure> saveBytes(const QString& fileName, std::string_view bytes) {
    return saveFile(fileName, [bytes](QIODevice& device, QString* reason) {
        return writeAll(device, bytes, reason);
    });
}

} // namespace surface
