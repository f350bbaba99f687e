// Throughput of the imaging core in memory, on one core: quantizer, encoder, the fused row
// kernels (pixels straight to plane bits) and the C text writer in pixels per second, on a picture
// of gradients and noise like the benchmark bitmaps. Usage: bench_core [SIZE [REPEATS]]   (default
// 4096 and 8192, 5 repeats; medians)

#include "conversion/pipeline.h"
#include "ctext/c_array_writer.h"
#include "imaging/dither.h"
#include "imaging/level_bits.h"
#include "imaging/plane_encoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

namespace {

class MemoryCanvas final : public imaging::Canvas {
  public:
    MemoryCanvas(int width, int height)
        : m_width(width), m_pixels(static_cast<std::size_t>(width) * height) {}
    std::span<const imaging::Pixel> row(int y) const override {
        return {m_pixels.data() + static_cast<std::size_t>(y) * m_width,
                static_cast<std::size_t>(m_width)};
    }
    std::span<imaging::Pixel> mutableRow(int y) override {
        return {m_pixels.data() + static_cast<std::size_t>(y) * m_width,
                static_cast<std::size_t>(m_width)};
    }
    std::vector<imaging::Pixel>& pixels() { return m_pixels; }

  private:
    int m_width;
    std::vector<imaging::Pixel> m_pixels;
};

// Diagonal ramps with noise, so that all four levels occur and branches cannot be predicted.
void fill(MemoryCanvas& canvas, int size) {
    std::mt19937 random(1);
    std::uniform_int_distribution<int> noise(-40, 40);
    auto clip = [](int v) { return static_cast<imaging::Pixel>(std::clamp(v, 0, 255)); };
    auto& pixels = canvas.pixels();
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int diag = (x + y) * 255 / (2 * size - 2);
            const int ramp = x * 255 / (size - 1);
            pixels[static_cast<std::size_t>(y) * size + x] =
                0xFF000000u | clip(diag + noise(random)) | (clip(diag + noise(random)) << 8) |
                (clip(ramp + noise(random)) << 16);
        }
    }
}

template <typename F> double medianSeconds(int repeats, F&& run) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void benchSize(int size, int repeats) {
    MemoryCanvas original(size, size);
    fill(original, size);
    MemoryCanvas canvas = original;
    imaging::NoProgress none;
    const double pixels = double(size) * size;

    // The window's scans through the row pipeline. Each painting run starts from the
    // unquantized picture; the copy is not timed.
    std::optional<imaging::Planes> planes;
    auto run = [&](bool paint, bool encode) {
        std::vector<double> times;
        for (int i = 0; i < repeats; ++i) {
            canvas.pixels() = original.pixels();
            const auto start = std::chrono::steady_clock::now();
            planes = imaging::reservedPlanes(size, size);
            conversion::PlaneSink planeSink(*planes);
            conversion::PaintSink painter(canvas);
            std::vector<conversion::LevelSink*> sinks;
            if (encode) {
                sinks.push_back(&planeSink);
            }
            if (paint) {
                sinks.push_back(&painter);
            }
            conversion::PixelRows rows(size, size, [&](int y) { return canvas.row(y).data(); });
            conversion::runRows(rows, {}, sinks, {none}, "bench");
            times.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    const double quantize = run(true, false);
    // The window's plain Open: the levels painted and the planes made in one run.
    const double quantizePlanes = run(true, true);
    const double encode = run(false, true);
    // The fused kernels over the unquantized picture, as 32-bit words and as 24-bit rows, into
    // planes of byte-aligned rows (as the conversion lays them when it can).
    const std::size_t rowBytes = (static_cast<std::size_t>(size) + 7) / 8;
    std::vector<std::uint8_t> dark(rowBytes * size);
    std::vector<std::uint8_t> light(rowBytes * size);
    const imaging::LevelKernel& kernel = imaging::levelKernel();
    const double fused4 = medianSeconds(repeats, [&] {
        for (int y = 0; y < size; ++y) {
            const auto offset = rowBytes * static_cast<std::size_t>(y);
            kernel.bytes4(reinterpret_cast<const std::uint8_t*>(original.row(y).data()),
                          static_cast<std::size_t>(size), dark.data() + offset,
                          light.data() + offset);
        }
    });
    std::vector<std::uint8_t> packed;
    packed.reserve(static_cast<std::size_t>(pixels) * 3);
    for (const imaging::Pixel p : original.pixels()) {
        packed.insert(packed.end(),
                      {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                       static_cast<std::uint8_t>(p)});
    }
    const double fused3 = medianSeconds(repeats, [&] {
        for (int y = 0; y < size; ++y) {
            const auto offset = rowBytes * static_cast<std::size_t>(y);
            kernel.bytes3(packed.data() + 3 * static_cast<std::size_t>(size) * y,
                          static_cast<std::size_t>(size), dark.data() + offset,
                          light.data() + offset);
        }
    });
    std::size_t textSize = 0;
    const double write = medianSeconds(repeats, [&] {
        // As the programs write it: in pieces, to a sink (here one that only counts).
        textSize = 0;
        ctext::writeArraysTo(*planes, [&](std::string_view piece) {
            textSize += piece.size();
            return true;
        });
    });
    // Error diffusion alone, on the picture's greys, as the converter runs it: a row of greys in,
    // a row of band codes out.
    std::vector<std::uint8_t> greys(static_cast<std::size_t>(pixels));
    for (std::size_t i = 0; i < greys.size(); ++i) {
        greys[i] = static_cast<std::uint8_t>(
            imaging::greyAverage(static_cast<imaging::Colour>(original.pixels()[i] & 0xFFFFFF)));
    }
    std::vector<std::uint8_t> bands(static_cast<std::size_t>(size));
    auto diffusion = [&](imaging::Dither method) {
        return medianSeconds(repeats, [&] {
            imaging::Ditherer ditherer(method, size);
            for (int y = 0; y < size; ++y) {
                ditherer.diffuseGreys(y, greys.data() + static_cast<std::size_t>(y) * size,
                                      bands.data());
            }
        });
    };
    const double floydSteinberg = diffusion(imaging::Dither::FloydSteinberg);
    const double atkinson = diffusion(imaging::Dither::Atkinson);
    std::printf("%5d x %-5d quantize %7.1f Mpx/s   encode %7.1f Mpx/s   write %7.1f Mpx/s "
                "(%.0f MB/s of text)\n",
                size, size, pixels / quantize / 1e6, pixels / encode / 1e6, pixels / write / 1e6,
                double(textSize) / write / 1e6);
    std::printf("%5d x %-5d fused kernel: 32-bit %7.1f Mpx/s   24-bit %7.1f Mpx/s   "
                "quantize making the planes %7.1f Mpx/s\n",
                size, size, pixels / fused4 / 1e6, pixels / fused3 / 1e6,
                pixels / quantizePlanes / 1e6);
    std::printf("%5d x %-5d diffusing greys: floyd-steinberg %.2f ns/px   atkinson %.2f ns/px\n",
                size, size, floydSteinberg / pixels * 1e9, atkinson / pixels * 1e9);
}

} // namespace

int main(int argc, char* argv[]) {
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    if (argc > 1) {
        benchSize(std::atoi(argv[1]), repeats);
    } else {
        benchSize(4096, repeats);
        benchSize(8192, repeats);
    }
    return 0;
}
