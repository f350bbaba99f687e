#include "platform/safe_save.h"

#include <QFile>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The temporary files being written, so that a signal that ends the program removes them
// first. Only atomics and fixed arrays: the handler may run at any moment, on any thread.
struct TemporarySlot {
    std::atomic<bool> taken{false};
    std::atomic<int> folder{-1}; // set last: a folder at or above 0 means the name is complete
    char name[NAME_MAX + 1] = {};
};
std::array<TemporarySlot, 8> g_temporaries;

extern "C" void removeTemporariesAndDie(int signal) {
    for (TemporarySlot& slot : g_temporaries) {
        const int folder = slot.folder.load(std::memory_order_acquire);
        if (folder >= 0) {
            ::unlinkat(folder, slot.name, 0);
        }
    }
    // The handler was reset to the default on entry, and the signal is not blocked in it: this
    // ends the program with the signal's usual status.
    ::raise(signal);
}

// Installed once, for the signals that would end the program; one the program was told to
// ignore (nohup) stays ignored.
void catchEndingSignals() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction current {};
            if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) {
                continue;
            }
            struct sigaction handler {};
            handler.sa_handler = removeTemporariesAndDie;
            sigemptyset(&handler.sa_mask);
            handler.sa_flags = SA_RESETHAND | SA_NODEFER;
            ::sigaction(signal, &handler, nullptr);
        }
    });
}

// A temporary file's place in the registry, from before it is created until it is renamed or
// removed. Without a free place the file is still written, only not removed by a signal.
class RegisteredName {
  public:
    RegisteredName(int folder, const std::string& name) {
        catchEndingSignals();
        for (TemporarySlot& slot : g_temporaries) {
            if (!slot.taken.exchange(true, std::memory_order_acquire)) {
                std::memcpy(slot.name, name.c_str(), name.size() + 1);
                slot.folder.store(folder, std::memory_order_release);
                m_slot = &slot;
                break;
            }
        }
    }
    ~RegisteredName() {
        if (m_slot != nullptr) {
            m_slot->folder.store(-1, std::memory_order_release);
            m_slot->taken.store(false, std::memory_order_release);
        }
    }
    RegisteredName(const RegisteredName&) = delete;
    RegisteredName& operator=(const RegisteredName&) = delete;

  private:
    TemporarySlot* m_slot = nullptr;
};

// A descriptor written through a buffer, so that a text of millions of small pieces costs few
// system calls. The first error is kept.
class BufferedOutput {
  public:
    explicit BufferedOutput(int fd) : m_fd(fd) { m_buffer.reserve(kBufferSize); }

    bool write(std::string_view bytes) {
        if (m_error != 0) {
            return false;
        }
        // Large pieces go out as they are, without a copy: the text writer's run to about
        // 200 KiB, and copying 100 MB of text cost more than the extra system calls.
        if (bytes.size() >= kLargePiece) {
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
    static constexpr std::size_t kLargePiece = std::size_t{1} << 16;

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

struct Produced {
    int error = 0;  // errno of the first failed write
    QString reason; // empty when everything was written
    base::ErrorKind kind = base::ErrorKind::Input;
};

// Runs `produce` into the descriptor.
Produced produceInto(int fd, const Producer& produce) {
    BufferedOutput out(fd);
    const std::optional<base::Error> failed =
        produce([&out](std::string_view piece) { return out.write(piece); });
    if (out.error() == 0 && !failed) {
        out.flush();
    }
    if (out.error() != 0) {
        return {out.error(), systemReason(out.error())};
    }
    if (failed) {
        return {0, QString::fromStdString(failed->reason), failed->kind};
    }
    return {};
}

// Runs a placed producer into the descriptor, each piece at its offset.
Produced placeInto(int fd, const PlacedProducer& produce) {
    int error = 0;
    const std::optional<base::Error> failed =
        produce([fd, &error](std::uint64_t offset, std::string_view piece) {
            while (!piece.empty() && error == 0) {
                const ssize_t n =
                    ::pwrite(fd, piece.data(), piece.size(), static_cast<off_t>(offset));
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    error = n < 0 ? errno : EIO;
                    break;
                }
                piece.remove_prefix(static_cast<std::size_t>(n));
                offset += static_cast<std::uint64_t>(n);
            }
            return error == 0;
        });
    if (error != 0) {
        return {error, systemReason(error)};
    }
    if (failed) {
        return {0, QString::fromStdString(failed->reason), failed->kind};
    }
    return {};
}

// What a save writes into the descriptor it opened.
using Body = std::function<Produced(int fd)>;

// The failure of a save of `name`.
base::Error saveFailure(const std::string& name, const Produced& result) {
    base::Error error = failure(name, result.reason);
    error.kind = result.kind;
    return error;
}

// Standard output as the program was given it: its append mode and its position are kept.
std::optional<base::Error> writeStandardOutput(const std::string& path, const Body& produce) {
    const Produced result = produce(STDOUT_FILENO);
    const std::string name = path.empty() ? std::string("standard output") : path;
    if (result.error == EPIPE) {
        return base::Error{name, "the reader of standard output went away", base::ErrorKind::Quiet};
    }
    if (!result.reason.isEmpty()) {
        return saveFailure(name, result);
    }
    return std::nullopt;
}

// Devices and pipes cannot be replaced by a rename; a regular file that has no name left to
// rename onto (one reached through /proc/self/fd after it was removed) is truncated.
std::optional<base::Error> writeInPlace(const std::string& path, const Body& produce,
                                        bool truncate) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (truncate ? O_TRUNC : 0));
    if (fd < 0) {
        return failure(path, systemReason(errno));
    }
    Produced result = produce(fd);
    if (::close(fd) != 0 && result.reason.isEmpty()) {
        result.reason = systemReason(errno);
    }
    if (!result.reason.isEmpty()) {
        return saveFailure(path, result);
    }
    return std::nullopt;
}

// The name a link stands for, followed link by link to what is at the end (which need not
// exist: a dangling link is written through to its target). Nothing for a loop.
std::optional<fs::path> followLinks(const std::string& path) {
    fs::path current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return current;
        }
        std::error_code error;
        const fs::path target = fs::read_symlink(current, error);
        if (error) {
            return current;
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return std::nullopt;
}

QString absoluteFolder(const fs::path& folder) {
    std::error_code error;
    fs::path shown = fs::canonical(folder, error);
    if (error) {
        shown = fs::absolute(folder, error).lexically_normal();
    }
    std::string text = (error ? folder : shown).string();
    if (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return displayName(text);
}

// Why a file that exists may not be replaced, or nothing. The effective user decides, as it
// would for writing the file itself.
std::optional<QString> refusalToReplace(const std::string& path, const struct stat& info) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 || errno != EACCES) {
        return std::nullopt;
    }
    const QString mode =
        QStringLiteral("mode %1").arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
    if (info.st_uid != ::geteuid()) {
        return QStringLiteral("the file belongs to another user and may not be written (%1); "
                              "nothing was written")
            .arg(mode);
    }
    return QStringLiteral("the file is read-only (%1); nothing was written").arg(mode);
}

// A name for a new file beside `name` that the file system takes: the name with a suffix
// where it fits, a short name of its own where it does not.
std::string temporaryName(const std::string& name, long nameMax, std::mt19937_64& random) {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix = ".";
    for (int i = 0; i < 6; ++i) {
        suffix += kLetters[random() % (sizeof kLetters - 1)];
    }
    if (static_cast<long>(name.size() + suffix.size()) <= nameMax) {
        return name + suffix;
    }
    return ".greyplanes" + suffix;
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return m_fd; }

  private:
    int m_fd;
};

std::optional<base::Error> replaceFile(const std::string& path, const fs::path& target,
                                       const struct stat* existing, const Body& produce,
                                       Durability durability) {
    const fs::path folderPath = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    const std::string name = target.filename().string();
    const Descriptor folder(::open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd() < 0) {
        const int error = errno;
        if (error == ENOENT) {
            return failure(
                path,
                QStringLiteral("the folder %1 does not exist").arg(absoluteFolder(folderPath)));
        }
        if (error == ENOTDIR) {
            return failure(path, QStringLiteral("%1 is not a folder").arg(displayName(folderPath)));
        }
        return failure(path, systemReason(error));
    }
    if (existing != nullptr) {
        // The name found must still be this file; one removed since it was opened has none.
        struct stat there {};
        if (::fstatat(folder.fd(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
            there.st_dev != existing->st_dev || there.st_ino != existing->st_ino) {
            return writeInPlace(path, produce, true);
        }
    }

    long nameMax = ::fpathconf(folder.fd(), _PC_NAME_MAX);
    if (nameMax <= 0 || nameMax > NAME_MAX) {
        nameMax = NAME_MAX;
    }
    std::mt19937_64 random(std::random_device{}());
    std::string temporary;
    std::optional<RegisteredName> registered;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = temporaryName(name, nameMax, random);
        // Registered before it exists, so that no moment is left when a signal would miss it.
        registered.emplace(folder.fd(), temporary);
        // A new file gets the usual permissions (0666 less the umask) from the kernel.
        fd = ::openat(folder.fd(), temporary.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0) {
            registered.reset();
            if (errno != EEXIST) {
                break;
            }
        }
    }
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EROFS || error == EPERM) {
            return failure(path, QStringLiteral("the folder %1 cannot be written to (%2)")
                                     .arg(absoluteFolder(folderPath), systemReason(error)));
        }
        return failure(path, systemReason(error));
    }
    if (existing != nullptr) {
        // A replaced file keeps its owner where that is allowed, and its permissions.
        [[maybe_unused]] const int owned = ::fchown(fd, existing->st_uid, existing->st_gid);
        ::fchmod(fd, existing->st_mode & 07777);
    }

    Produced result = produce(fd);
    if (result.reason.isEmpty() && durability == Durability::Synced && ::fdatasync(fd) != 0) {
        result.reason = systemReason(errno);
    }
    if (::close(fd) != 0 && result.reason.isEmpty()) {
        result.reason = systemReason(errno);
    }
    if (result.reason.isEmpty() &&
        ::renameat(folder.fd(), temporary.c_str(), folder.fd(), name.c_str()) != 0) {
        result.reason = systemReason(errno);
    }
    if (!result.reason.isEmpty()) {
        ::unlinkat(folder.fd(), temporary.c_str(), 0);
        return saveFailure(path, result);
    }
    return std::nullopt;
}

} // namespace

QString displayName(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

bool namesStandardOutput(const std::string& path) {
    if (path.empty()) {
        return true;
    }
    struct stat named {};
    struct stat out {};
    return ::stat(path.c_str(), &named) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 &&
           named.st_dev == out.st_dev && named.st_ino == out.st_ino;
}

namespace {

// Saves as saveFile() says, `produce` writing into the descriptor.
std::optional<base::Error> save(const std::string& path, const Body& produce,
                                Durability durability) {
    if (namesStandardOutput(path)) {
        return writeStandardOutput(path, produce);
    }
    // What the name stands for decides, never how it is spelt.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            return failure(path, QStringLiteral("is a folder"));
        }
        if (!S_ISREG(existing.st_mode)) {
            return writeInPlace(path, produce, false);
        }
        if (const auto refusal = refusalToReplace(path, existing)) {
            return failure(path, *refusal);
        }
    } else if (errno == ELOOP) {
        return failure(path, QStringLiteral("its symbolic links lead round in a loop"));
    }
    const auto target = followLinks(path);
    if (!target) {
        return failure(path, QStringLiteral("its symbolic links lead round in a loop"));
    }
    const bool exists = S_ISREG(existing.st_mode);
    return replaceFile(path, *target, exists ? &existing : nullptr, produce, durability);
}

} // namespace

std::optional<base::Error> saveFile(const std::string& path, const Producer& produce,
                                    Durability durability) {
    return save(
        path, [&](int fd) { return produceInto(fd, produce); }, durability);
}

std::optional<base::Error> saveFileAt(const std::string& path, const PlacedProducer& produce,
                                      Durability durability) {
    return save(
        path, [&](int fd) { return placeInto(fd, produce); }, durability);
}

} // namespace platform
