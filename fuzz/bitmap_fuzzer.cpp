// libFuzzer target: the bitmap decoder alone, over arbitrary bytes in memory.

#include "bitmap/decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

// The real caps allow 32767 × 32767 from a few bytes of run-length data; these keep one input
// within a fraction of a second while still reaching every path (rows over a read chunk too).
constexpr bitmap::Limits kLimits{4096, std::uint64_t{4} << 20};

std::uint64_t fnv(std::uint64_t digest, std::uint64_t v) {
    return (digest ^ v) * 1099511628211ull;
}

// Decodes every row, in file order or from the top where the decoder can; returns a digest of
// the outcome: the refusal, the picture (whatever the order its rows came in) or that a row
// failed, so that two runs over the same bytes can be compared.
std::uint64_t decodeAll(std::span<const std::uint8_t> bytes, bool fromTop) {
    bitmap::MemorySource source(bytes);
    bitmap::Decoder decoder(source, "input");
    std::uint64_t digest = 1469598103934665603ull;
    auto mix = [&digest](std::uint64_t v) { digest = fnv(digest, v); };
    if (const auto refusal = decoder.readHeader(kLimits)) {
        // A refusal must always say why, about the file it was given.
        if (refusal->reason.empty() || refusal->file != "input") {
            std::abort();
        }
        for (char c : refusal->reason) {
            mix(static_cast<unsigned char>(c));
        }
        return digest;
    }
    const int width = decoder.width();
    const int height = decoder.height();
    if (width < 1 || height < 1 || width > kLimits.maxExtent || height > kLimits.maxExtent ||
        std::uint64_t(width) * std::uint64_t(height) > kLimits.maxPixels) {
        std::abort();
    }
    const bool top = decoder.topDown() || (fromTop && decoder.readFromTop());
    std::vector<bitmap::Pixel> row(static_cast<std::size_t>(width));
    std::uint64_t picture = 0; // each row's digest with its y, combined in any order
    for (int i = 0; i < height; ++i) {
        const int y = decoder.nextRowY();
        if (y != (top ? i : height - 1 - i)) {
            std::abort();
        }
        if (const auto failed = decoder.readRow(row)) {
            if (failed->reason.empty() || failed->file != "input") {
                std::abort();
            }
            mix(0xFA11u);
            return digest;
        }
        std::uint64_t rowDigest = fnv(1469598103934665603ull, static_cast<std::uint64_t>(y));
        for (bitmap::Pixel p : row) {
            // Every decoded pixel is opaque.
            if ((p >> 24) != 0xFF) {
                std::abort();
            }
            rowDigest = fnv(rowDigest, p);
        }
        picture ^= rowDigest;
    }
    mix(picture);
    return digest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    // Decoding is deterministic: the same bytes give the same pixels, also with the rows read
    // from the top.
    if (decodeAll(bytes, false) != decodeAll(bytes, true)) {
        std::abort();
    }
    return 0;
}
