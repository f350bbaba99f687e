#pragma once
// The ways a picture's grey averages are brought to the four levels.

#include "imaging/level_bits.h"
#include "imaging/levels.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace imaging {

enum class Dither {
    None,           // each pixel by its own grey average into the four bands
    FloydSteinberg, // error diffusion, serpentine rows
    Atkinson,       // error diffusion of three quarters of the error
    Bayer,          // the 8 x 8 ordered matrix
};

// The method's name on command lines and in menus: none, floyd-steinberg, atkinson, bayer.
std::string_view ditherName(Dither method);
// The method of that name, if any.
std::optional<Dither> ditherNamed(std::string_view name);

// Whether the method carries error from row to row, so that rows must come from the top.
bool diffusesError(Dither method);

// Paints rows of one picture with the level colours chosen by a method, aiming the grey
// average of each pixel at the band values 0, 85, 170 and 255. All arithmetic is on integers.
class Ditherer {
  public:
    // For rows of `width` pixels; may throw std::bad_alloc.
    Ditherer(Dither method, int width);

    // Paints row y (0 at the top) in place; the top byte of each pixel is kept. With error
    // diffusion the rows must come in order from the top, each once; the other methods take
    // them in any order.
    void paintRow(int y, std::span<Pixel> row);

    // Error diffusion only: dithers row y of the picture's grey averages, `width` of them, into
    // band codes (0 black, 1 dark grey, 2 light grey, 3 white), the rows in order from the top.
    void diffuseGreys(int y, const std::uint8_t* greys, std::uint8_t* bands);

  private:
    // The error carried into row y, indexed by x + kMargin.
    std::int32_t* errorRow(int y);
    template <typename Grey, typename Put> void diffuse(int y, int n, Grey grey, Put put);

    static constexpr int kMargin = 2;

    Dither m_method;
    int m_width;
    // The error carried into this row and the two below it, in grey units, three rows in
    // turn, with spare cells on either side so that error falling off the edges needs no test.
    std::vector<std::int32_t> m_errors;
};

// The ordered matrix as band edges for the row kernels: row y of the picture (0 at the top),
// its columns from 0.
BandEdges bayerEdges(int y);

// Dithers height x width pixels of a canvas row by row from the top, with the progress and
// yields of the plain quantizer's scan; Dither::None is that scan. Returns Flow::Stop if a
// yield asked to stop.
Flow dither(Canvas& canvas, std::int16_t height, std::int16_t width, Dither method,
            RowProgress& progress);

} // namespace imaging
