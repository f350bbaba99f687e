// Times each phase of the converter's work on one picture file, as the converter runs them:
// the streamed conversion (decode, quantize and encode, row by row), writing the text, and
// writing the picture.
// Usage: bench_phases INPUT OUTDIR

#include "conversion/output.h"
#include "conversion/stream.h"
#include "conversion/whole_picture.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int fail(const base::Error& failure) {
    std::fprintf(stderr, "%s\n", base::message(failure).c_str());
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_phases INPUT OUTDIR\n");
        return 2;
    }
    const std::string outDir = argv[2];
    imaging::NoProgress none;
    auto t = std::chrono::steady_clock::now();
    auto converted = conversion::convertFile(argv[1], {imaging::RowLayout::Packed}, none,
                                             conversion::readWholePicture);
    if (const auto* failure = std::get_if<base::Error>(&converted)) {
        return fail(*failure);
    }
    const imaging::Planes& planes = std::get<imaging::Planes>(converted);
    double s = secondsSince(t);
    const double pixels = double(planes.width) * planes.height;
    std::printf("convert   %7.3f s  %6.0f Mpx/s\n", s, pixels / s / 1e6);

    t = std::chrono::steady_clock::now();
    if (const auto failure = conversion::writeText(planes, {}, {outDir + "/phases.txt"})) {
        return fail(*failure);
    }
    s = secondsSince(t);
    std::printf("text      %7.3f s  %6.0f Mpx/s\n", s, pixels / s / 1e6);

    t = std::chrono::steady_clock::now();
    if (const auto failure = conversion::writePicture(planes, {outDir + "/phases.bmp"})) {
        return fail(*failure);
    }
    s = secondsSince(t);
    std::printf("picture   %7.3f s  %6.0f Mpx/s\n", s, pixels / s / 1e6);
    return 0;
}
