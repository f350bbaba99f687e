#include "bitmap/source.h"

#include <algorithm>
#include <cstring>

namespace bitmap {

std::size_t MemorySource::read(std::span<std::uint8_t> data) {
    const std::size_t n = std::min(data.size(), m_bytes.size() - m_pos);
    if (n > 0) {
        std::memcpy(data.data(), m_bytes.data() + m_pos, n);
        m_pos += n;
    }
    return n;
}

std::span<const std::uint8_t> MemorySource::lend(std::size_t most) {
    const std::size_t n = std::min(most, m_bytes.size() - m_pos);
    m_pos += n;
    return m_bytes.subspan(m_pos - n, n);
}

bool MemorySource::seek(std::uint64_t offset) {
    if (offset > m_bytes.size()) {
        return false;
    }
    m_pos = static_cast<std::size_t>(offset);
    return true;
}

} // namespace bitmap
