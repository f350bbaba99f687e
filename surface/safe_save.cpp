#include "surface/safe_save.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace surface {
namespace {

namespace fs = std::filesystem;

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A descriptor written through a buffer, so that a text of millions of small pieces costs few
// system calls. The first error is kept.
class BufferedOutput {
  public:
    explicit BufferedOutput(int fd) : m_fd(fd) { m_buffer.reserve(kBufferSize); }

    bool write(std::string_view bytes) {
        if (m_error != 0) {
            return false;
        }
        // Large pieces go out as they are, without a copy.
        if (bytes.size() >= kBufferSize / 4) {
            return flush() && writeOut(bytes);
        }
        if (m_buffer.size() + bytes.size() > kBufferSize && !flush()) {
            return false;
        }
        m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
        return true;
    }
    bool flush() {
        const bool ok = writeOut({m_buffer.data(), m_buffer.size()});
        m_buffer.clear();
        return ok;
    }
    int error() const { return m_error; }

  private:
    static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

    bool writeOut(std::string_view bytes) {
        while (!bytes.empty() && m_error == 0) {
            const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                m_error = n < 0 ? errno : EIO;
                break;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return m_error == 0;
    }

    int m_fd;
    std::vector<char> m_buffer;
    int m_error = 0;
};

// Runs `produce` into the descriptor; the reason when anything failed.
std::optional<QString> produceInto(int fd, const std::function<bool(const ByteSink&)>& produce,
                                   const std::function<QString()>& whyNot) {
    BufferedOutput out(fd);
    const bool produced = produce([&out](std::string_view piece) { return out.write(piece); });
    if (out.error() == 0 && produced) {
        out.flush();
    }
    if (out.error() != 0) {
        return systemReason(out.error());
    }
    if (!produced) {
        return whyNot ? whyNot() : QStringLiteral("the output could not be produced");
    }
    return std::nullopt;
}

// Devices, pipes and the names of open descriptors (/dev/stdout, /proc/self/fd/1) cannot be
// replaced by a rename, and nothing may be created beside them; they are written in place.
bool writtenInPlace(const std::string& path) {
    if (path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0) {
        return true;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

// What a rename must replace: the file a link points to, not the link.
std::string linkTarget(const std::string& path) {
    std::error_code error;
    const fs::path real = fs::weakly_canonical(path, error);
    return error || real.empty() ? path : real.string();
}

std::optional<base::Error> writeInPlace(const std::string& path,
                                        const std::function<bool(const ByteSink&)>& produce,
                                        const std::function<QString()>& whyNot) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return failure(path, systemReason(errno));
    }
    auto reason = produceInto(fd, produce, whyNot);
    if (::close(fd) != 0 && !reason) {
        reason = systemReason(errno);
    }
    if (reason) {
        return failure(path, *reason);
    }
    return std::nullopt;
}

// The folder a new file goes into, as the user would name it.
std::string folderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

QString absoluteFolder(const std::string& folder) {
    std::error_code error;
    const fs::path absolute = fs::absolute(folder, error);
    return displayName(error ? folder : absolute.lexically_normal().string());
}

} // namespace

QString displayName(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::optional<base::Error> saveFile(const std::string& path,
                                    const std::function<bool(const ByteSink&)>& produce,
                                    Durability durability, const std::function<QString()>& whyNot) {
    if (path.empty()) {
        if (auto reason = produceInto(STDOUT_FILENO, produce, whyNot)) {
            return base::Error{"standard output", reason->toStdString()};
        }
        return std::nullopt;
    }
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        return failure(path, QStringLiteral("is a folder"));
    }
    if (writtenInPlace(path)) {
        return writeInPlace(path, produce, whyNot);
    }

    const std::string target = linkTarget(path);
    const std::string folder = folderOf(path);
    struct stat folderInfo {};
    if (::stat(folder.c_str(), &folderInfo) != 0) {
        const int error = errno;
        if (error == ENOENT) {
            return failure(
                path, QStringLiteral("the folder %1 does not exist").arg(absoluteFolder(folder)));
        }
        if (error == ENOTDIR) {
            return failure(path, QStringLiteral("%1 is not a folder").arg(displayName(folder)));
        }
        return failure(path, systemReason(error));
    }
    if (!S_ISDIR(folderInfo.st_mode)) {
        return failure(path, QStringLiteral("%1 is not a folder").arg(displayName(folder)));
    }

    // The new file is made beside the old one, so that the rename stays on one file system.
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EROFS || error == EPERM) {
            return failure(path, QStringLiteral("the folder %1 cannot be written to (%2)")
                                     .arg(absoluteFolder(folder), systemReason(error)));
        }
        return failure(path, systemReason(error));
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    // A replaced file keeps its permissions; a new one gets the usual ones.
    mode_t mode = 0;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);

    auto reason = produceInto(fd, produce, whyNot);
    if (!reason && durability == Durability::Synced && ::fdatasync(fd) != 0) {
        reason = systemReason(errno);
    }
    if (::close(fd) != 0 && !reason) {
        reason = systemReason(errno);
    }
    if (!reason && ::rename(temporary.c_str(), target.c_str()) != 0) {
        reason = systemReason(errno);
    }
    if (reason) {
        ::unlink(temporary.c_str());
        return failure(path, *reason);
    }
    return std::nullopt;
}

std::optional<base::Error> saveBytes(const std::string& path, std::string_view bytes,
                                     Durability durability) {
    return saveFile(
        path, [bytes](const ByteSink& sink) { return sink(bytes); }, durability);
}

} // namespace surface
