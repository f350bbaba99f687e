#include "conversion/jpeg_rows.h"

#include <csetjmp>
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>

namespace conversion {
namespace {

constexpr int kMaxExtent = 32767;

} // namespace

// libjpeg reports errors by a jump out of its calls; the jump lands in the few functions below,
// which hold nothing that needs destroying.
struct JpegRows::Decoder {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    std::jmp_buf jump{};
    bitmap::ByteSource& bytes;
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(std::size_t{1} << 16);
    bool ended = false; // the data ended before the picture did
    char message[JMSG_LENGTH_MAX] = {};

    explicit Decoder(bitmap::ByteSource& from) : bytes(from) {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = [](j_common_ptr common) {
            auto* self = static_cast<Decoder*>(common->client_data);
            (*common->err->format_message)(common, self->message);
            std::longjmp(self->jump, 1);
        };
        errors.output_message = [](j_common_ptr) {}; // warnings stay quiet
        // Data that ends at a marker is filled with grey by libjpeg, with only a warning: here it
        // is the end of the data, as a file cut short is.
        errors.emit_message = [](j_common_ptr common, int level) {
            auto* self = static_cast<Decoder*>(common->client_data);
            if (level < 0 && (common->err->msg_code == JWRN_HIT_MARKER ||
                              common->err->msg_code == JWRN_JPEG_EOF)) {
                self->ended = true;
                std::longjmp(self->jump, 1);
            }
        };
        jpeg_create_decompress(&info);
        info.client_data = this;
        source.init_source = [](j_decompress_ptr) {};
        source.fill_input_buffer = [](j_decompress_ptr d) -> boolean {
            auto* self = static_cast<Decoder*>(d->client_data);
            const std::size_t got = self->bytes.read(self->buffer);
            if (got == 0) {
                self->ended = true;
                std::longjmp(self->jump, 1);
            }
            self->source.next_input_byte = self->buffer.data();
            self->source.bytes_in_buffer = got;
            return TRUE;
        };
        source.skip_input_data = [](j_decompress_ptr d, long count) {
            auto* self = static_cast<Decoder*>(d->client_data);
            while (count > 0) {
                if (self->source.bytes_in_buffer == 0) {
                    (*self->source.fill_input_buffer)(d);
                }
                const auto step = std::min<std::size_t>(static_cast<std::size_t>(count),
                                                        self->source.bytes_in_buffer);
                self->source.next_input_byte += step;
                self->source.bytes_in_buffer -= step;
                count -= static_cast<long>(step);
            }
        };
        source.resync_to_restart = jpeg_resync_to_restart;
        source.term_source = [](j_decompress_ptr) {};
        info.src = &source;
    }
    ~Decoder() { jpeg_destroy_decompress(&info); }

    // Each returns false when libjpeg jumped out.
    bool readHeader() {
        if (setjmp(jump) != 0) {
            return false;
        }
        jpeg_read_header(&info, TRUE);
        return true;
    }
    bool start() {
        if (setjmp(jump) != 0) {
            return false;
        }
        info.out_color_space = JCS_EXT_RGBX;
        jpeg_start_decompress(&info);
        return true;
    }
    bool readRow(std::uint8_t* row) {
        if (setjmp(jump) != 0) {
            return false;
        }
        JSAMPROW rows[] = {row};
        return jpeg_read_scanlines(&info, rows, 1) == 1;
    }
};

bool looksLikeJpeg(std::span<const std::uint8_t> head) {
    return head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

JpegRows::JpegRows(bitmap::ByteSource& source, std::string name)
    : m_decoder(std::make_unique<Decoder>(source)), m_name(std::move(name)) {}

JpegRows::~JpegRows() = default;

std::optional<base::Error> JpegRows::open(bool& unsupported, std::uint64_t memory) {
    unsupported = false;
    Decoder& d = *m_decoder;
    auto failed = [&](int row) -> std::optional<base::Error> {
        if (auto why = d.bytes.error()) {
            return why;
        }
        if (d.ended) {
            return base::Error{m_name,
                               row < 0 ? "the file is truncated: it ends inside the JPEG header"
                                       : "the file is truncated: the JPEG data ends at row 0 of " +
                                             std::to_string(m_height)};
        }
        if (d.errors.msg_code == JERR_OUT_OF_MEMORY) {
            return base::noMemory(m_name, "to read the picture");
        }
        return base::Error{m_name, std::string("the JPEG picture is damaged (") + d.message + ")"};
    };
    d.info.mem->max_memory_to_use = static_cast<long>(memory);
    if (!d.readHeader()) {
        return failed(-1);
    }
    m_width = static_cast<int>(d.info.image_width);
    m_height = static_cast<int>(d.info.image_height);
    if (d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK) {
        unsupported = true;
        return std::nullopt;
    }
    if (m_width > kMaxExtent || m_height > kMaxExtent) {
        return base::Error{m_name,
                           "the picture is too large (" + std::to_string(m_width) + " × " +
                               std::to_string(m_height) +
                               " pixels; at most 32767 pixels wide and high are supported)"};
    }
    if (m_width == 0 || m_height == 0) {
        return base::Error{m_name, "the picture has no pixels"};
    }
    if (!d.start()) {
        return failed(0);
    }
    m_row.resize(static_cast<std::size_t>(m_width) * 4);
    return std::nullopt;
}

std::optional<base::Error> JpegRows::next(SourceRow& row) {
    Decoder& d = *m_decoder;
    row.y = m_next++;
    if (!d.readRow(m_row.data())) {
        if (auto why = d.bytes.error()) {
            return why;
        }
        if (d.ended) {
            return base::Error{m_name, "the file is truncated: the JPEG data ends at row " +
                                           std::to_string(row.y) + " of " +
                                           std::to_string(m_height)};
        }
        if (d.errors.msg_code == JERR_OUT_OF_MEMORY) {
            return base::noMemory(m_name, "to read the picture");
        }
        return base::Error{m_name, "the JPEG picture is damaged (" + std::string(d.message) +
                                       ", at row " + std::to_string(row.y) + ")"};
    }
    row.bytes = m_row.data();
    return std::nullopt;
}

} // namespace conversion
