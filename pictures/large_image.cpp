#include "pictures/large_image.h"

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace pictures {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

struct Mapping {
    void* data;
    std::size_t size;
};

void unmap(void* info) {
    auto* mapping = static_cast<Mapping*>(info);
    munmap(mapping->data, mapping->size);
    delete mapping;
}

} // namespace

QImage makeLargeImage(int width, int height, QImage::Format format) {
    if (width <= 0 || height <= 0) {
        return {};
    }
#if defined(__SANITIZE_ADDRESS__) || (defined(__has_feature) && __has_feature(address_sanitizer))
    // Sanitizer builds keep Qt's own allocation, which AddressSanitizer watches.
    return QImage(width, height, format);
#endif
    const qsizetype bytesPerLine = qsizetype{width} * 4;
    const std::size_t size =
        static_cast<std::size_t>(bytesPerLine) * static_cast<std::size_t>(height);
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) {
        return {};
    }
    if (size >= kHugePage) {
        madvise(data, size, MADV_HUGEPAGE); // only advice: without it the memory still works
    }
    return QImage(static_cast<uchar*>(data), width, height, bytesPerLine, format, unmap,
                  new Mapping{data, size});
}

void discardPixelsAfter(const QImage& image, std::size_t keep) {
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(image.constBits());
    const std::uintptr_t from = (start + keep + page - 1) / page * page;
    const std::uintptr_t end =
        (start + static_cast<std::uintptr_t>(image.sizeInBytes())) / page * page;
    if (!image.isNull() && end > from) {
        // Only advice: where it is not taken the pages stay, unused.
        madvise(reinterpret_cast<void*>(from), end - from, MADV_DONTNEED);
    }
}

} // namespace pictures
