// libFuzzer target: the streamed GIF decoder, its first frame row by row as the converter reads
// it, then every frame composed on the canvas, in order and once more from the start.

#include "conversion/gif_rows.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// What the decoder may hold here (an interlaced frame's indices, the canvas), so that a few
// bytes claiming a huge picture stay within the fuzzer's memory.
constexpr std::uint64_t kHeld = std::uint64_t{16} << 20;
// Rows are read only of pictures up to this many pixels, and only so many frames composed, so
// that each input stays quick.
constexpr std::int64_t kMostPixels = std::int64_t{1} << 20;
constexpr int kMostFrames = 8;

std::uint32_t sum = 0;

// Reads every row; a refusal must say why.
std::optional<base::Error> readRows(conversion::GifRows& gif) {
    for (int y = 0; y < gif.height(); ++y) {
        conversion::SourceRow row;
        if (auto failure = gif.next(row)) {
            return failure;
        }
        if (row.y != y) {
            std::abort();
        }
        // Touch every byte so that a short row shows up under the address sanitizer; indices
        // come with a colour for each of them.
        if (gif.form() == conversion::RowForm::Indices) {
            for (int x = 0; x < gif.width(); ++x) {
                sum += gif.palette()[row.bytes[x]];
            }
        } else {
            for (int x = 0; x < 4 * gif.width(); ++x) {
                sum += row.bytes[x];
            }
        }
    }
    return std::nullopt;
}

void check(const std::optional<base::Error>& failure) {
    if (failure && failure->reason.empty()) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!conversion::looksLikeGif({data, size})) {
        return 0;
    }
    bitmap::MemorySource bytes({data, size});
    conversion::GifRows gif(bytes, "fuzz");
    auto failure = gif.open(kHeld);
    check(failure);
    if (failure) {
        return 0;
    }
    // Past the header, the extent is what the rest of the pipeline relies on.
    if (gif.width() < 1 || gif.height() < 1 || gif.width() > 32767 || gif.height() > 32767) {
        std::abort();
    }
    if (std::int64_t{gif.width()} * gif.height() > kMostPixels) {
        return 0;
    }
    failure = readRows(gif);
    check(failure);
    const auto frames = gif.frames();
    if (const auto* refused = std::get_if<base::Error>(&frames)) {
        check(*refused);
        return 0;
    }
    const int count = std::get<int>(frames);
    if (count < 1) {
        std::abort();
    }
    for (const int k : {0, 1, count - 1, 0}) {
        if (k >= kMostFrames || k >= count) {
            continue;
        }
        failure = gif.selectFrame(k);
        check(failure);
        if (!failure) {
            check(readRows(gif));
        }
    }
    volatile std::uint32_t sink = sum;
    (void)sink;
    return 0;
}
