#include "conversion/read_ahead.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace conversion {

ReadAhead::ReadAhead(bitmap::ByteSource& inner, std::size_t chunkBytes, std::size_t chunks)
    : m_inner(inner), m_total(inner.remaining().value_or(0)),
      m_chunks(std::max<std::size_t>(chunks, 1)) {
    // A small file needs no mebibyte chunks. The memory is left uninitialised and, where the
    // system offers them, on huge pages: its first touch is the reading thread's, and costs a
    // few faults rather than one for every 4 KiB.
    m_capacity = static_cast<std::size_t>(
        std::clamp<std::uint64_t>(m_total, 1, std::max<std::size_t>(chunkBytes, 1)));
    m_memory.emplace(m_capacity * m_chunks.size());
    for (std::size_t k = 0; k < m_chunks.size(); ++k) {
        m_chunks[k].bytes = m_memory->data() + k * m_capacity;
    }
    m_thread = std::jthread([this] { readAll(); });
}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ReadAhead::readAll() {
    std::uint64_t left = m_total;
    try {
        while (left > 0) {
            Chunk* chunk = nullptr;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return m_stopped || m_filled < m_chunks.size(); });
                if (m_stopped) {
                    return;
                }
                chunk = &m_chunks[(m_first + m_filled) % m_chunks.size()];
            }
            // The chunk is this thread's until it is counted as filled.
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, m_capacity));
            chunk->size = m_inner.read({chunk->bytes, want});
            left -= chunk->size;
            const bool cutShort = chunk->size < want;
            {
                const std::lock_guard lock(m_mutex);
                ++m_filled;
                if (cutShort) {
                    m_error = m_inner.error();
                    m_ended = true;
                }
            }
            m_changed.notify_all();
            if (cutShort) {
                return;
            }
        }
    } catch (...) {
        const std::lock_guard lock(m_mutex);
        m_thrown = std::current_exception();
    }
    {
        const std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
}

void ReadAhead::releaseUsed() {
    if (m_usedUp) {
        m_usedUp = false;
        m_offset = 0;
        m_first = (m_first + 1) % m_chunks.size();
        --m_filled;
        m_changed.notify_all();
    }
}

std::span<const std::uint8_t> ReadAhead::lend(std::size_t most) {
    std::unique_lock lock(m_mutex);
    releaseUsed();
    m_changed.wait(lock, [&] { return m_filled > 0 || m_ended; });
    if (m_filled == 0) {
        if (m_thrown) {
            std::rethrow_exception(m_thrown);
        }
        return {};
    }
    const Chunk& chunk = m_chunks[m_first];
    const std::size_t n = std::min(chunk.size - m_offset, most);
    const std::span<const std::uint8_t> lent(chunk.bytes + m_offset, n);
    m_offset += n;
    m_usedUp = m_offset == chunk.size;
    m_delivered += n;
    return lent;
}

std::size_t ReadAhead::read(std::span<std::uint8_t> data) {
    std::size_t got = 0;
    std::unique_lock lock(m_mutex);
    releaseUsed();
    while (got < data.size()) {
        m_changed.wait(lock, [&] { return m_filled > 0 || m_ended; });
        if (m_filled == 0) {
            if (m_thrown) {
                std::rethrow_exception(m_thrown);
            }
            break;
        }
        const Chunk& chunk = m_chunks[m_first];
        const std::size_t n = std::min(chunk.size - m_offset, data.size() - got);
        lock.unlock(); // a filled chunk is left alone by the reading thread
        std::memcpy(data.data() + got, chunk.bytes + m_offset, n);
        lock.lock();
        got += n;
        m_offset += n;
        if (m_offset == chunk.size) {
            m_offset = 0;
            m_first = (m_first + 1) % m_chunks.size();
            --m_filled;
            m_changed.notify_all();
        }
    }
    m_delivered += got;
    return got;
}

std::optional<base::Error> ReadAhead::error() const {
    const std::lock_guard lock(m_mutex);
    return m_ended && m_filled == 0 ? m_error : std::nullopt;
}

} // namespace conversion
