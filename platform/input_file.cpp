#include "platform/input_file.h"

#include "platform/safe_save.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

base::Result<std::unique_ptr<QFile>> openPictureFile(const std::string& path) {
    if (path.empty()) {
        return failure(path, QStringLiteral("no file name was given"));
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return failure(path, QStringLiteral("is a folder, not a picture file"));
        }
        if (!S_ISREG(info.st_mode)) {
            return failure(path, QStringLiteral("is not a regular file (a pipe or a device); "
                                                "pictures are read from files"));
        }
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return failure(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failure(path, file->errorString());
    }
    if (file->size() == 0) {
        return failure(path, QStringLiteral("the file is empty"));
    }
    return file;
}

} // namespace platform
