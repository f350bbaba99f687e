// Decode speed of the bitmap decoder: a bitmap from the page cache, row by row, read the way
// both programs read it (a Qt file device).
//   bench_decode FILE      (e.g. made by gen_bmp.py)
// Reads it once to warm the page cache, then decodes it five times and prints each speed.

#include "bitmap/decoder.h"
#include "platform/device_source.h"
#include "platform/input_file.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_decode FILE\n");
        return 2;
    }
    const std::string path = argv[1];
    for (int run = 0; run < 6; ++run) {
        const auto start = std::chrono::steady_clock::now();
        auto opened = platform::openPictureFile(path);
        if (!std::holds_alternative<std::unique_ptr<QFile>>(opened)) {
            return 1;
        }
        platform::DeviceSource source(*std::get<std::unique_ptr<QFile>>(opened), path);
        bitmap::Decoder decoder(source, path);
        if (const auto refusal = decoder.readHeader()) {
            std::fprintf(stderr, "%s\n", refusal->reason.c_str());
            return 1;
        }
        std::vector<bitmap::Pixel> row(static_cast<std::size_t>(decoder.width()));
        std::uint32_t sum = 0;
        for (int y = 0; y < decoder.height(); ++y) {
            if (const auto failed = decoder.readRow(row)) {
                std::fprintf(stderr, "%s\n", failed->reason.c_str());
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
