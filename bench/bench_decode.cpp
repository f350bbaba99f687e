// Decode speed of the bitmap decoder: a 24-bit bitmap from the page cache, row by row, read the
// way both programs read it (a Qt file device).
//   bench_decode [FILE] [SIDE]
// Writes FILE (default /tmp/greyplanes-bench-SIDE.bmp, SIDE default 8192) if it does not exist,
// reads it once to warm the page cache, then decodes it five times and prints each speed.

#include "bitmap/decoder.h"
#include "bitmap/writer.h"
#include "surface/device_source.h"
#include "surface/input_file.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool writePicture(const std::string& path, int side) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    const auto header = bitmap::bmp24Header(side, side);
    std::fwrite(header.data(), 1, header.size(), out);
    std::vector<bitmap::Pixel> row(static_cast<std::size_t>(side));
    std::vector<std::uint8_t> bytes(bitmap::bmp24RowBytes(side));
    std::uint32_t state = 12345;
    for (int y = 0; y < side; ++y) {
        for (auto& p : row) {
            state = state * 1664525u + 1013904223u;
            p = state >> 8;
        }
        bitmap::encodeBmp24Row(row, bytes.data());
        std::fwrite(bytes.data(), 1, bytes.size(), out);
    }
    return std::fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv) {
    const int side = argc > 2 ? std::atoi(argv[2]) : 8192;
    const std::string path =
        argc > 1 ? argv[1] : "/tmp/greyplanes-bench-" + std::to_string(side) + ".bmp";
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
    } else if (!writePicture(path, side)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    for (int run = 0; run < 6; ++run) {
        const auto start = std::chrono::steady_clock::now();
        auto opened = surface::openPictureFile(path);
        if (!std::holds_alternative<std::unique_ptr<QFile>>(opened)) {
            return 1;
        }
        surface::DeviceSource source(*std::get<std::unique_ptr<QFile>>(opened));
        bitmap::Decoder decoder(source);
        if (const auto refusal = decoder.readHeader()) {
            std::fprintf(stderr, "%s\n", refusal->c_str());
            return 1;
        }
        std::vector<bitmap::Pixel> row(static_cast<std::size_t>(decoder.width()));
        std::uint32_t sum = 0;
        for (int y = 0; y < decoder.height(); ++y) {
            if (const auto failed = decoder.readRow(row)) {
                std::fprintf(stderr, "%s\n", failed->c_str());
                return 1;
            }
            sum += row[static_cast<std::size_t>(y) % row.size()];
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double pixels = double(decoder.width()) * decoder.height();
        // The first run only warms the page cache.
        if (run > 0) {
            std::printf("%d x %d: %.3f s, %.0f Mpx/s (%08x)\n", decoder.width(), decoder.height(),
                        seconds, pixels / seconds / 1e6, sum);
        }
    }
    return 0;
}
