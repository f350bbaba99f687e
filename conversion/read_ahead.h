#pragma once
// Reads a byte source ahead on a thread of its own, so that reading a file (mostly the system
// copying it) overlaps with decoding and converting what was read before.

#include "bitmap/source.h"
#include "platform/large_buffer.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace conversion {

class ReadAhead final : public bitmap::ByteSource {
  public:
    // Starts reading `inner`, whose size must be known, in chunks of `chunkBytes`, at most
    // `chunks` of them ahead of the reader; `inner` is used by that thread only, until this is
    // destroyed. Reads no further than the size `inner` gave.
    ReadAhead(bitmap::ByteSource& inner, std::size_t chunkBytes = std::size_t{1} << 20,
              std::size_t chunks = 4);
    ~ReadAhead() override;
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // As the inner source would; anything the reading thread threw is thrown here.
    std::size_t read(std::span<std::uint8_t> data) override;
    // Lends from the chunk being read, so that nothing is copied twice.
    std::span<const std::uint8_t> lend(std::size_t most) override;
    bool lends() const override { return true; }
    std::optional<std::uint64_t> remaining() const override { return m_total - m_delivered; }
    std::optional<base::Error> error() const override;

  private:
    struct Chunk {
        std::uint8_t* bytes = nullptr; // `capacity` bytes of m_memory
        std::size_t size = 0;
    };
    void readAll();
    // Hands the first chunk back to the reading thread once it is used up and no longer lent.
    void releaseUsed();

    bitmap::ByteSource& m_inner;
    const std::uint64_t m_total;
    std::uint64_t m_delivered = 0;
    std::size_t m_capacity = 0; // of each chunk
    std::optional<platform::LargeBuffer> m_memory;
    std::vector<Chunk> m_chunks; // a ring: m_filled chunks from m_first are ready to be read
    std::size_t m_first = 0;
    std::size_t m_offset = 0; // already read of the first chunk
    bool m_usedUp = false;    // the first chunk is read to its end, but may still be lent
    std::size_t m_filled = 0;
    bool m_ended = false;   // the thread read its last chunk
    bool m_stopped = false; // the reader went away
    std::optional<base::Error> m_error;
    std::exception_ptr m_thrown;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::jthread m_thread;
};

} // namespace conversion
