#pragma once
// Where a bitmap's bytes come from: memory, or whatever a caller wraps (a file device).

#include "base/error.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace bitmap {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Reads up to data.size() bytes; returns how many were read. Fewer only at the end of the
    // data or on a read error, which error() then names.
    virtual std::size_t read(std::span<std::uint8_t> data) = 0;
    // The number of bytes from the current position to the end, when it is known (a regular
    // file); headers are checked against it before any pixel memory is taken.
    virtual std::optional<std::uint64_t> remaining() const = 0;
    // Why the last read stopped early, if that was an error rather than the end of the data.
    virtual std::optional<base::Error> error() const { return std::nullopt; }
    // Moves to this offset from the start of the data, where the source can; false where it
    // cannot (a pipe), and then the position is unchanged.
    virtual bool seek(std::uint64_t) { return false; }
    // A hint that these bytes will be read soon, so that a file can fetch them ahead.
    virtual void willRead(std::uint64_t /*offset*/, std::uint64_t /*length*/) {}
    // Up to `most` of the next bytes, consumed as a read would, lent from the source's own
    // memory so that they need not be copied; valid until the next call on this source. Fewer
    // where that memory ends first; none where the source has no such memory, at the end of
    // the data, or on an error (then read() tells which).
    virtual std::span<const std::uint8_t> lend(std::size_t /*most*/) { return {}; }
    // Whether lend() lends at all.
    virtual bool lends() const { return false; }
};

// Bytes in memory (tests and fuzzing).
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::size_t read(std::span<std::uint8_t> data) override;
    std::optional<std::uint64_t> remaining() const override { return m_bytes.size() - m_pos; }
    bool seek(std::uint64_t offset) override;
    std::span<const std::uint8_t> lend(std::size_t most) override;
    bool lends() const override { return true; }

  private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
};

} // namespace bitmap
