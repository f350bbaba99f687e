#include "conversion/pnm_rows.h"

#include <cstdint>

namespace conversion {
namespace {

constexpr int kMaxExtent = 32767;

const std::array<imaging::Pixel, 256> kGreys = [] {
    std::array<imaging::Pixel, 256> greys{};
    for (std::uint32_t g = 0; g < greys.size(); ++g) {
        greys[g] = 0xFF000000u | g * 0x010101u;
    }
    return greys;
}();

// The header's bytes, one at a time: it is short, and no byte of the rows must be taken with it.
class HeaderReader {
  public:
    explicit HeaderReader(bitmap::ByteSource& source) : m_source(source) {}

    // The next byte, or -1 at the end of the data.
    int get() {
        std::uint8_t byte = 0;
        return m_source.read({&byte, 1}) == 1 ? byte : -1;
    }

    // A decimal number after white space and comments; -1 where there is none, or past
    // `most`. `after` is the byte that ended it, read already.
    long number(long most, int& after) {
        int c = get();
        while (c == '#' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' ||
               c == '\f') {
            if (c == '#') {
                while (c != '\n' && c != '\r' && c != -1) {
                    c = get();
                }
            }
            c = get();
        }
        if (c < '0' || c > '9') {
            after = c;
            return -1;
        }
        long value = 0;
        for (; c >= '0' && c <= '9'; c = get()) {
            value = value * 10 + (c - '0');
            if (value > most) {
                after = c;
                return -1;
            }
        }
        after = c;
        return value;
    }

  private:
    bitmap::ByteSource& m_source;
};

bool isSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

bool looksLikePnm(std::span<const std::uint8_t> head) {
    return head.size() >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6';
}

PnmRows::PnmRows(bitmap::ByteSource& source, std::string name)
    : m_source(source), m_name(std::move(name)) {}

std::span<const imaging::Pixel> PnmRows::palette() const {
    return m_grey ? std::span<const imaging::Pixel>(kGreys) : std::span<const imaging::Pixel>();
}

std::optional<base::Error> PnmRows::open(bool& unsupported) {
    unsupported = false;
    HeaderReader header(m_source);
    const int p = header.get();
    const int kind = header.get();
    if (p != 'P' || (kind != '5' && kind != '6')) {
        unsupported = true;
        return std::nullopt;
    }
    m_grey = kind == '5';
    // Past the largest extent, a number is only read far enough to name it too large.
    constexpr long kTooLarge = 1L << 30;
    int after = 0;
    const long width = header.number(kTooLarge, after);
    const long height = width < 0 || !isSpace(after) ? -1 : header.number(kTooLarge, after);
    const long maximum = height < 0 || !isSpace(after) ? -1 : header.number(65535, after);
    if (maximum < 0 || !isSpace(after)) {
        if (auto why = m_source.error()) {
            return why;
        }
        if (after == -1) {
            return base::Error{m_name, "the file is truncated: it ends inside the PNM header"};
        }
        return base::Error{m_name, "the PNM header is damaged"};
    }
    if (maximum != 255) {
        unsupported = true;
        return std::nullopt;
    }
    if (width > kMaxExtent || height > kMaxExtent) {
        return base::Error{m_name,
                           "the picture is too large (" + std::to_string(width) + " × " +
                               std::to_string(height) +
                               " pixels; at most 32767 pixels wide and high are supported)"};
    }
    if (width == 0 || height == 0) {
        return base::Error{m_name, "the picture has no pixels"};
    }
    m_width = static_cast<int>(width);
    m_height = static_cast<int>(height);
    const std::uint64_t rowBytes = static_cast<std::uint64_t>(m_width) * (m_grey ? 1 : 3);
    // A file that cannot hold its rows is refused before any row is read.
    const std::uint64_t need = rowBytes * static_cast<std::uint64_t>(m_height);
    if (const auto left = m_source.remaining(); left && *left < need) {
        return base::Error{m_name, "the file is truncated: its header claims " +
                                       std::to_string(m_width) + " × " + std::to_string(m_height) +
                                       " pixels, which need " + std::to_string(need) +
                                       " bytes, but only " + std::to_string(*left) + " follow it"};
    }
    m_stored.resize(rowBytes);
    m_row.resize(m_grey ? 0 : static_cast<std::size_t>(m_width) * 4);
    return std::nullopt;
}

std::optional<base::Error> PnmRows::next(SourceRow& row) {
    row.y = m_next++;
    if (m_source.read(m_stored) != m_stored.size()) {
        if (auto why = m_source.error()) {
            return why;
        }
        return base::Error{m_name, "the file is truncated: the PNM data ends at row " +
                                       std::to_string(row.y) + " of " + std::to_string(m_height)};
    }
    if (m_grey) {
        row.bytes = m_stored.data();
        return std::nullopt;
    }
    const std::uint8_t* in = m_stored.data();
    std::uint8_t* out = m_row.data();
    for (int x = 0; x < m_width; ++x, in += 3, out += 4) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        out[3] = 0xFF;
    }
    row.bytes = m_row.data();
    return std::nullopt;
}

} // namespace conversion
