#include "platform/large_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace platform {

void LargeBuffer::Free::operator()(std::uint8_t* bytes) const {
    std::free(bytes);
}

LargeBuffer::LargeBuffer(std::size_t size) : m_size(size) {
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const std::size_t alignment = size >= kHugePage ? kHugePage : alignof(std::max_align_t);
    const std::size_t rounded =
        (std::max<std::size_t>(size, 1) + alignment - 1) / alignment * alignment;
    m_bytes.reset(static_cast<std::uint8_t*>(std::aligned_alloc(alignment, rounded)));
    if (!m_bytes) {
        throw std::bad_alloc();
    }
#ifdef MADV_HUGEPAGE
    if (alignment == kHugePage) {
        madvise(m_bytes.get(), rounded, MADV_HUGEPAGE); // only advice: ignored where refused
    }
#endif
}

} // namespace platform
