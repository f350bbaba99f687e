#pragma once
// Working memory of many megabytes, left uninitialised.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

// `size` bytes, aligned to huge pages once there are enough of them and advised to use them
// where the system offers them: faulting in 64 MiB page by page took longer than the work done
// in it. Throws std::bad_alloc when there is no memory.
class LargeBuffer {
  public:
    explicit LargeBuffer(std::size_t size);

    std::uint8_t* data() const { return m_bytes.get(); }
    std::size_t size() const { return m_size; }

  private:
    struct Free {
        void operator()(std::uint8_t* bytes) const;
    };
    std::unique_ptr<std::uint8_t, Free> m_bytes;
    std::size_t m_size;
};

} // namespace platform
