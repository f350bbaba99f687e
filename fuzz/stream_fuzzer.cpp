// libFuzzer target: the streamed decoders of PNG, JPEG and PNM pictures, row by row, as the
// converter reads them.

#include "conversion/jpeg_rows.h"
#include "conversion/png_rows.h"
#include "conversion/pnm_rows.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

// A picture held whole (interlaced PNG, progressive JPEG) may take at most this here, so that
// a few bytes claiming a huge picture stay within the fuzzer's memory.
constexpr std::uint64_t kHeld = std::uint64_t{16} << 20;
// Rows are read only of pictures up to this many pixels, so that each input stays quick.
constexpr std::int64_t kMostPixels = std::int64_t{1} << 22;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    bitmap::MemorySource bytes({data, size});
    std::unique_ptr<conversion::RowSource> source;
    std::optional<base::Error> failure;
    if (conversion::looksLikePng({data, size})) {
        auto png = std::make_unique<conversion::PngRows>(bytes, "fuzz");
        failure = png->open(kHeld);
        source = std::move(png);
    } else if (conversion::looksLikeJpeg({data, size})) {
        auto jpeg = std::make_unique<conversion::JpegRows>(bytes, "fuzz");
        bool unsupported = false;
        failure = jpeg->open(unsupported, kHeld);
        if (unsupported) {
            return 0;
        }
        source = std::move(jpeg);
    } else if (conversion::looksLikePnm({data, size})) {
        auto pnm = std::make_unique<conversion::PnmRows>(bytes, "fuzz");
        bool unsupported = false;
        failure = pnm->open(unsupported);
        if (unsupported) {
            return 0;
        }
        source = std::move(pnm);
    } else {
        return 0;
    }
    // Past the header, the extent is what the rest of the pipeline relies on.
    if (!failure && (source->width() < 1 || source->height() < 1 || source->width() > 32767 ||
                     source->height() > 32767)) {
        std::abort();
    }
    if (!failure && std::int64_t{source->width()} * source->height() > kMostPixels) {
        return 0;
    }
    std::uint32_t sum = 0;
    for (int y = 0; !failure && y < source->height(); ++y) {
        conversion::SourceRow row;
        failure = source->next(row);
        if (!failure) {
            if (row.y != y) {
                std::abort();
            }
            // Touch every byte so that a short row shows up under the address sanitizer.
            const int size = source->form() == conversion::RowForm::Indices ? 1 : 4;
            for (int x = 0; x < size * source->width(); ++x) {
                sum += row.bytes[x];
            }
        }
    }
    // A refusal must always say why.
    if (failure && failure->reason.empty()) {
        std::abort();
    }
    volatile std::uint32_t sink = sum;
    (void)sink;
    return 0;
}
