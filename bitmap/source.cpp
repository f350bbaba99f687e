#include "bitmap/source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>

namespace bitmap {

std::size_t MemorySource::read(std::span<std::uint8_t> data) {
    const std::size_t n = std::min(data.size(), m_bytes.size() - m_pos);
    if (n > 0) {
        std::memcpy(data.data(), m_bytes.data() + m_pos, n);
        m_pos += n;
    }
    return n;
}

FileSource::FileSource(std::FILE* file) : m_file(file) {
    // Only a regular file has a size worth trusting; a pipe or a device reports 0 or nonsense.
    struct stat info {};
    if (::fstat(::fileno(file), &info) == 0 && S_ISREG(info.st_mode)) {
        const off_t pos = ::ftello(file);
        if (pos >= 0 && info.st_size >= pos) {
            m_remaining = static_cast<std::uint64_t>(info.st_size - pos);
        }
    }
}

std::size_t FileSource::read(std::span<std::uint8_t> data) {
    if (data.empty()) {
        return 0;
    }
    const std::size_t got = std::fread(data.data(), 1, data.size(), m_file);
    if (got < data.size() && std::ferror(m_file)) {
        const int code = errno;
        m_error = std::strerror(code != 0 ? code : EIO);
    }
    if (m_remaining) {
        *m_remaining -= std::min<std::uint64_t>(*m_remaining, got);
    }
    return got;
}

std::optional<std::uint64_t> FileSource::remaining() const {
    return m_remaining;
}

} // namespace bitmap
