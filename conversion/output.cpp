#include "conversion/output.h"

#include "bitmap/writer.h"

#include <algorithm>
#include <new>
#include <vector>

namespace conversion {
namespace {

const QString kNoMemory = QStringLiteral("not enough memory to write it");

} // namespace

std::optional<surface::Failure> writeText(const imaging::Planes& planes,
                                          const imaging::TextStyle& style, const Target& target,
                                          surface::Durability durability) {
    bool outOfMemory = false;
    return surface::saveFile(
        target.path,
        [&](const surface::ByteSink& sink) {
            try {
                return imaging::writeArraysTo(planes, sink, style);
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
                return false;
            }
        },
        durability, [&] { return outOfMemory ? kNoMemory : QString(); });
}

std::optional<surface::Failure> writePicture(const imaging::Planes& planes, const Target& target,
                                             surface::Durability durability) {
    bool outOfMemory = false;
    auto produce = [&](const surface::ByteSink& sink) {
        const auto header = bitmap::bmp24Header(planes.width, planes.height);
        if (!sink({reinterpret_cast<const char*>(header.data()), header.size()})) {
            return false;
        }
        // Bottom row first, a batch of about a mebibyte at a time.
        const std::size_t stride = bitmap::bmp24RowBytes(planes.width);
        const int rowsPerBatch = static_cast<int>(std::max<std::size_t>(1, (1u << 20) / stride));
        std::vector<std::uint8_t> batch(stride * static_cast<std::size_t>(rowsPerBatch));
        std::vector<imaging::Pixel> row(static_cast<std::size_t>(planes.width));
        for (int y = planes.height - 1; y >= 0;) {
            const int rows = std::min(rowsPerBatch, y + 1);
            for (int r = 0; r < rows; ++r, --y) {
                imaging::decodeRow(planes, y, row);
                bitmap::encodeBmp24Row(row, batch.data() + stride * static_cast<std::size_t>(r));
            }
            if (!sink({reinterpret_cast<const char*>(batch.data()),
                       stride * static_cast<std::size_t>(rows)})) {
                return false;
            }
        }
        return true;
    };
    return surface::saveFile(
        target.path,
        [&](const surface::ByteSink& sink) {
            try {
                return produce(sink);
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
                return false;
            }
        },
        durability, [&] { return outOfMemory ? kNoMemory : QString(); });
}

} // namespace conversion
