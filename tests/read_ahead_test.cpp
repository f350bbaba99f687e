// Reading ahead on a second thread: the bytes arrive whole and in order, whatever the pieces
// asked for, and the inner source's failures arrive after the bytes read before them.

#include "bitmap/decoder.h"
#include "conversion/read_ahead.h"
#include "support/bmp_builder.h"

#include <gtest/gtest.h>
#include <new>
#include <random>
#include <vector>

namespace {

// Bytes in memory that are read, never lent, and fail at byte `failAt`: cut short with a reason, or
// by throwing from the read that would reach past it.
class FailingSource final : public bitmap::ByteSource {
  public:
    FailingSource(std::vector<std::uint8_t> bytes, std::size_t failAt, bool throws)
        : m_bytes(std::move(bytes)), m_failAt(failAt), m_throws(throws) {}
    std::size_t read(std::span<std::uint8_t> data) override {
        if (m_throws && m_pos + data.size() > m_failAt) {
            throw std::bad_alloc();
        }
        const std::size_t n = std::min(data.size(), std::min(m_failAt, m_bytes.size()) - m_pos);
        std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(m_pos), n, data.begin());
        m_pos += n;
        if (m_pos == m_failAt) {
            m_error = base::Error{"in.bmp", "the disk went away"};
        }
        return n;
    }
    std::optional<std::uint64_t> remaining() const override { return m_bytes.size() - m_pos; }
    std::optional<base::Error> error() const override { return m_error; }

  private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
    std::size_t m_failAt;
    bool m_throws;
    std::optional<base::Error> m_error;
};

std::vector<std::uint8_t> noise(std::size_t size) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

// Reads everything in pieces of the given sizes, in turn.
std::vector<std::uint8_t> readInPieces(bitmap::ByteSource& source,
                                       const std::vector<std::size_t>& pieces) {
    std::vector<std::uint8_t> out;
    for (std::size_t k = 0;; ++k) {
        std::vector<std::uint8_t> piece(pieces[k % pieces.size()]);
        const std::size_t got = source.read(piece);
        out.insert(out.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
        if (got < piece.size()) {
            return out;
        }
    }
}

TEST(ReadAhead, DeliversEveryByteInOrder) {
    const auto bytes = noise(100'003);
    bitmap::MemorySource memory(bytes);
    conversion::ReadAhead ahead(memory, 1000, 3); // the ring goes round a hundred times
    EXPECT_EQ(ahead.remaining(), bytes.size());
    std::vector<std::uint8_t> first(1500);
    ASSERT_EQ(ahead.read(first), first.size());
    EXPECT_EQ(ahead.remaining(), bytes.size() - 1500);
    auto rest = readInPieces(ahead, {1, 999, 1000, 4096, 7});
    first.insert(first.end(), rest.begin(), rest.end());
    EXPECT_EQ(first, bytes);
    EXPECT_EQ(ahead.remaining(), 0u);
    EXPECT_EQ(ahead.error(), std::nullopt);

    // Left unread, it stops its thread when it goes.
    bitmap::MemorySource again(bytes);
    conversion::ReadAhead unread(again, 1000, 2);
}

TEST(ReadAhead, PassesOnTheInnerFailureAfterTheBytesBeforeIt) {
    const auto bytes = noise(10'000);
    FailingSource failing(bytes, 4321, false);
    conversion::ReadAhead ahead(failing, 1000, 2);
    const auto got = readInPieces(ahead, {777});
    EXPECT_EQ(got, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4321));
    ASSERT_TRUE(ahead.error());
    EXPECT_EQ(ahead.error()->reason, "the disk went away");

    // The decoder gives a failed read as a failure of its file, in its own words.
    testing_support::BmpFile picture;
    picture.width = 100;
    picture.height = 50;
    picture.pixels = noise(300 * 50);
    FailingSource cut(testing_support::buildBmp(picture), 5000, false);
    bitmap::Decoder decoder(cut, "in.bmp");
    ASSERT_EQ(decoder.readHeader(), std::nullopt);
    std::vector<bitmap::Pixel> row(100);
    std::optional<base::Error> failed;
    for (int y = 0; y < 50 && !failed; ++y) {
        failed = decoder.readRow(row);
    }
    ASSERT_TRUE(failed);
    EXPECT_EQ(base::message(*failed), "in.bmp: the file cannot be read (the disk went away)");

    FailingSource throwing(bytes, 2500, true); // on reading the third chunk
    conversion::ReadAhead thrown(throwing, 1000, 2);
    std::vector<std::uint8_t> piece(2000);
    ASSERT_EQ(thrown.read(piece), piece.size());
    EXPECT_THROW(thrown.read(piece), std::bad_alloc);
}

// Rows lent whole, split between two chunks, or begun in the decoder's buffer decode as rows
// read from a source that only copies.
TEST(ReadAhead, LentRowsDecodeAsReadOnes) {
    testing_support::BmpFile file;
    file.width = 1001; // 3004 bytes a row, padding included, so rows fall across chunk ends
    file.height = 400; // more than the decoder's first mebibyte
    file.pixels = noise(3004 * 400);
    file.pixels.resize(file.pixels.size() - 1); // the last row without its padding
    const auto bytes = testing_support::buildBmp(file);
    bitmap::MemorySource memory(bytes);
    conversion::ReadAhead ahead(memory, 7001, 3);
    FailingSource copying(bytes, bytes.size() + 1, false);
    bitmap::Decoder lent(ahead, "in.bmp");
    bitmap::Decoder read(copying, "in.bmp");
    ASSERT_EQ(lent.readHeader(), std::nullopt);
    ASSERT_EQ(read.readHeader(), std::nullopt);
    std::vector<bitmap::Pixel> row(1001);
    for (int y = 0; y < 400; ++y) {
        const std::uint8_t* a = nullptr;
        const std::uint8_t* b = nullptr;
        ASSERT_EQ(lent.readStoredRow(row, a), std::nullopt);
        const std::vector<std::uint8_t> fromLent(a, a + 3003);
        ASSERT_EQ(read.readStoredRow(row, b), std::nullopt);
        ASSERT_EQ(fromLent, std::vector<std::uint8_t>(b, b + 3003)) << "row " << y;
    }
}

} // namespace
