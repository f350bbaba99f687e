// Times each phase of a conversion on one picture file: load, quantize, encode, write the
// text, save the text, save the picture.
// Usage: bench_phases INPUT.bmp OUTDIR

#include "imaging/c_array_writer.h"
#include "imaging/plane_encoder.h"
#include "imaging/quantizer.h"
#include "surface/picture_surface.h"
#include "surface/safe_save.h"

#include <chrono>
#include <cstdio>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_phases INPUT.bmp OUTDIR\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    auto t = std::chrono::steady_clock::now();
    surface::PictureSurface surface(1, 1);
    if (const auto failure = surface.load(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "%s\n", failure->message().toLocal8Bit().constData());
        return 1;
    }
    const auto height = static_cast<std::int16_t>(surface.height());
    const auto width = static_cast<std::int16_t>(surface.width());
    const double pixels = double(height) * width;
    std::printf("load      %7.3f s\n", secondsSince(t));

    imaging::NoProgress none;
    t = std::chrono::steady_clock::now();
    imaging::quantize(surface, height, width, none);
    double s = secondsSince(t);
    std::printf("quantize  %7.3f s  %6.0f Mpx/s\n", s, pixels / s / 1e6);

    t = std::chrono::steady_clock::now();
    const auto planes = imaging::encodePlanes(surface, height, width, none);
    s = secondsSince(t);
    std::printf("encode    %7.3f s  %6.0f Mpx/s\n", s, pixels / s / 1e6);

    t = std::chrono::steady_clock::now();
    const std::string text = imaging::writeArrays(*planes);
    s = secondsSince(t);
    std::printf("write     %7.3f s  %6.0f Mpx/s  %.0f MB/s\n", s, pixels / s / 1e6,
                double(text.size()) / s / 1e6);

    t = std::chrono::steady_clock::now();
    if (const auto failure = surface::saveBytes(outDir + QStringLiteral("/phases.txt"), text)) {
        std::fprintf(stderr, "%s\n", failure->message().toLocal8Bit().constData());
        return 1;
    }
    std::printf("save text %7.3f s\n", secondsSince(t));

    t = std::chrono::steady_clock::now();
    if (const auto failure = surface.save(outDir + QStringLiteral("/phases.bmp"))) {
        std::fprintf(stderr, "%s\n", failure->message().toLocal8Bit().constData());
        return 1;
    }
    std::printf("save bmp  %7.3f s\n", secondsSince(t));
    return 0;
}
