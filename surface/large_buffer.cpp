#include "surface/large_buffer.h"

#include <sys/mman.h>
#include <utility>

namespace surface {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

struct ImageMemory {
    char* data;
    std::size_t size;
};

void releaseImageMemory(void* info) {
    auto* memory = static_cast<ImageMemory*>(info);
    LargeBuffer::release(memory->data, memory->size);
    delete memory;
}

} // namespace

LargeBuffer::LargeBuffer(std::size_t size) {
    if (size == 0) {
        return;
    }
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        return;
    }
    if (size >= kHugePage) {
        madvise(p, size, MADV_HUGEPAGE); // only advice: without it the memory still works
    }
    m_data = static_cast<char*>(p);
    m_size = size;
}

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)) {}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
    if (this != &other) {
        release(m_data, m_size);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

LargeBuffer::~LargeBuffer() {
    release(m_data, m_size);
}

char* LargeBuffer::take() {
    m_size = 0;
    return std::exchange(m_data, nullptr);
}

void LargeBuffer::release(char* data, std::size_t size) {
    if (data != nullptr) {
        munmap(data, size);
    }
}

QImage makeLargeImage(int width, int height, QImage::Format format) {
    if (width <= 0 || height <= 0) {
        return {};
    }
#if defined(__SANITIZE_ADDRESS__) || (defined(__has_feature) && __has_feature(address_sanitizer))
    // Sanitizer builds keep Qt's own allocation, which AddressSanitizer watches.
    return QImage(width, height, format);
#endif
    const qsizetype bytesPerLine = qsizetype{width} * 4;
    LargeBuffer buffer(static_cast<std::size_t>(bytesPerLine) * static_cast<std::size_t>(height));
    if (buffer.data() == nullptr) {
        return {};
    }
    const std::size_t size = buffer.size();
    auto* memory = new ImageMemory{buffer.take(), size};
    return QImage(reinterpret_cast<uchar*>(memory->data), width, height, bytesPerLine, format,
                  releaseImageMemory, memory);
}

} // namespace surface
