#pragma once
// Memory for whole pictures and texts.
//
// The first touch of a fresh page is expensive on the machines we run on (a fault per 4 KiB
// page), so large blocks are mapped on their own and advised to use huge pages where the
// system offers them.

#include <QImage>
#include <cstddef>

namespace surface {

class LargeBuffer {
  public:
    LargeBuffer() = default;
    // size bytes, uninitialised; data() is null when the memory cannot be had.
    explicit LargeBuffer(std::size_t size);
    LargeBuffer(LargeBuffer&& other) noexcept;
    LargeBuffer& operator=(LargeBuffer&& other) noexcept;
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;
    ~LargeBuffer();

    char* data() const { return m_data; }
    std::size_t size() const { return m_size; }

    // Gives up ownership: the caller must pass the pointer and size() to release().
    char* take();
    static void release(char* data, std::size_t size);

  private:
    char* m_data = nullptr;
    std::size_t m_size = 0;
};

// A width x height image in the given 32-bit format whose pixels live in a LargeBuffer;
// null when the memory cannot be had.
QImage makeLargeImage(int width, int height, QImage::Format format);

} // namespace surface
