#include "conversion/png_rows.h"

#include <algorithm>
#include <cstring>
#include <spng.h>

namespace conversion {
namespace {

constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr int kMaxExtent = 32767;

int readBytes(spng_ctx*, void* user, void* destination, std::size_t length) {
    auto& source = *static_cast<bitmap::ByteSource*>(user);
    const std::size_t got = source.read({static_cast<std::uint8_t*>(destination), length});
    if (got == length) {
        return 0;
    }
    return source.error() ? SPNG_IO_ERROR : SPNG_IO_EOF;
}

} // namespace

bool looksLikePng(std::span<const std::uint8_t> head) {
    return head.size() >= sizeof kSignature &&
           std::equal(std::begin(kSignature), std::end(kSignature), head.begin());
}

PngRows::PngRows(bitmap::ByteSource& source, std::string name)
    : m_source(source), m_name(std::move(name)) {}

PngRows::~PngRows() {
    spng_ctx_free(m_context);
}

std::optional<base::Error> PngRows::failure(int code, int row) const {
    if (code == SPNG_EMEM) {
        return base::noMemory(m_name, "to read the picture");
    }
    if (code == SPNG_IO_ERROR) {
        if (auto why = m_source.error()) {
            return why;
        }
    }
    if (code == SPNG_IO_EOF) {
        return base::Error{m_name, row < 0 ? "the file is truncated: it ends inside the PNG header"
                                           : "the file is truncated: the PNG data ends at row " +
                                                 std::to_string(row) + " of " +
                                                 std::to_string(m_height)};
    }
    return base::Error{m_name, std::string("the PNG picture is damaged (") + spng_strerror(code) +
                                   (row < 0 ? ")" : ", at row " + std::to_string(row) + ")")};
}

std::optional<base::Error> PngRows::open(std::uint64_t wholeBudget) {
    m_context = spng_ctx_new(0);
    if (m_context == nullptr) {
        return base::noMemory(m_name, "to read the picture");
    }
    // Ancillary chunks may be damaged without harm to the pixels, as other readers take them;
    // the pixels' own checksums still count.
    spng_set_crc_action(m_context, SPNG_CRC_ERROR, SPNG_CRC_DISCARD);
    spng_set_image_limits(m_context, kMaxExtent, kMaxExtent);
    spng_set_chunk_limits(m_context, std::size_t{64} << 20, std::size_t{64} << 20);
    spng_set_png_stream(m_context, readBytes, &m_source);
    spng_ihdr header{};
    if (const int code = spng_get_ihdr(m_context, &header)) {
        if (code == SPNG_EWIDTH || code == SPNG_EHEIGHT || code == SPNG_EUSER_WIDTH ||
            code == SPNG_EUSER_HEIGHT) {
            return base::Error{m_name, "the picture is too large (at most 32767 pixels wide and "
                                       "high are supported)"};
        }
        return failure(code, -1);
    }
    m_width = static_cast<int>(header.width);
    m_height = static_cast<int>(header.height);
    m_interlaced = header.interlace_method != 0;
    const std::uint64_t whole = std::uint64_t{header.width} * header.height * 4;
    if (m_interlaced && whole > wholeBudget) {
        return base::Error{m_name, "the picture is too large to decode whole (" +
                                       std::to_string(m_width) + " × " + std::to_string(m_height) +
                                       " pixels, interlaced, take " + std::to_string(whole) +
                                       " bytes; at most " + std::to_string(wholeBudget) +
                                       " bytes are allowed)"};
    }
    m_deep = header.bit_depth == 16;
    m_row.resize(static_cast<std::size_t>(m_width) * 4);
    if (m_deep) {
        m_deepRow.resize(m_row.size());
    }
    const int format = m_deep ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    // Alpha from a channel, or from a tRNS chunk, which the decoder applies only when asked.
    spng_trns transparency{};
    const int trns = spng_get_trns(m_context, &transparency);
    if (trns != 0 && trns != SPNG_ECHUNKAVAIL) {
        return failure(trns, 0); // the header is read: what is missing is the first row
    }
    const bool keyed = trns == 0;
    m_alpha = keyed || header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
              header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    const int flags = SPNG_DECODE_PROGRESSIVE | (keyed ? SPNG_DECODE_TRNS : 0);
    if (const int code = spng_decode_image(m_context, nullptr, 0, format, flags)) {
        return failure(code, 0); // the header is read: what is missing is the first row
    }
    return m_interlaced ? decodeInterlaced() : std::nullopt;
}

std::optional<base::Error> PngRows::decodeInterlaced() {
    const std::size_t stride = m_row.size();
    m_whole.assign(stride * static_cast<std::size_t>(m_height), 0);
    std::vector<std::uint16_t> deep(m_deep ? m_deepRow.size() * m_height : 0);
    for (;;) {
        spng_row_info info{};
        int code = spng_get_row_info(m_context, &info);
        if (code == 0) {
            code = m_deep
                       ? spng_decode_row(m_context, deep.data() + info.row_num * stride, stride * 2)
                       : spng_decode_row(m_context, m_whole.data() + info.row_num * stride, stride);
        }
        if (code != 0 && code != SPNG_EOI) {
            return failure(code, static_cast<int>(info.row_num));
        }
        if (code == SPNG_EOI) {
            if (m_deep) {
                for (int y = 0; y < m_height; ++y) {
                    narrow(deep.data() + y * stride, m_whole.data() + y * stride);
                }
            }
            return std::nullopt;
        }
    }
}

void PngRows::narrow(const std::uint16_t* deep, std::uint8_t* bytes) const {
    for (std::size_t i = 0; i < m_row.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>((deep[i] * 255u + 32767u) / 65535u);
    }
}

std::optional<base::Error> PngRows::next(SourceRow& row) {
    row.y = m_next++;
    if (m_interlaced) {
        row.bytes = m_whole.data() + static_cast<std::size_t>(row.y) * m_row.size();
        return std::nullopt;
    }
    const int code = m_deep ? spng_decode_row(m_context, m_deepRow.data(), m_row.size() * 2)
                            : spng_decode_row(m_context, m_row.data(), m_row.size());
    if (code != 0 && !(code == SPNG_EOI && row.y + 1 == m_height)) {
        return failure(code, row.y);
    }
    if (m_deep) {
        narrow(m_deepRow.data(), m_row.data());
    }
    row.bytes = m_row.data();
    return std::nullopt;
}

} // namespace conversion
