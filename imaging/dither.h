#pragma once
// The ways a picture's grey averages are brought to the four levels.

#include "imaging/level_bits.h"
#include "imaging/levels.h"
#include "imaging/tone.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace imaging {

namespace diffusion {
struct Passes;
}

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
    // The same with the vector passes built for that instruction set, which must be available:
    // every set gives the same result.
    Ditherer(Dither method, int width, Isa isa);
    // Error diffusion aiming at the greys a panel shows for its four levels instead of the band
    // values 0, 85, 170 and 255: a value goes to the nearest level (one half way between two
    // goes up), and its error is taken from that level's grey.
    Ditherer(Dither method, int width, const Levels& levels);
    // Error diffusion over rows with transparent pixels, which give no error and take none: the
    // rows go to diffuseGreys() with their opaque pixels.
    enum class Holes { No, Yes };
    Ditherer(Dither method, int width, const Levels& levels, Holes holes);

    // Paints row y (0 at the top) in place; the top byte of each pixel is kept. With error
    // diffusion the rows must come in order from the top, each once; the other methods take
    // them in any order.
    void paintRow(int y, std::span<Pixel> row);

    // Error diffusion only: dithers row y of the picture's grey averages, `width` of them, into
    // band codes (0 black, 1 dark grey, 2 light grey, 3 white), the rows in order from the top.
    // The bands may be written over the greys.
    void diffuseGreys(int y, const std::uint8_t* greys, std::uint8_t* bands);
    // The same for a ditherer made with holes: `opaque` is nonzero for each opaque pixel; a
    // transparent one comes out white, and the error that would flow into it is dropped.
    void diffuseGreys(int y, const std::uint8_t* greys, const std::uint8_t* opaque,
                      std::uint8_t* bands);

  private:
    Ditherer(Dither method, int width, const diffusion::Passes* passes);
    void floydSteinberg(bool forward, const std::uint8_t* greys, std::uint8_t* bands);
    void atkinson(const std::uint8_t* greys, std::uint8_t* bands);
    // Row k of what is carried from row to row (Floyd-Steinberg: the error passed down, in the
    // order its row ran; Atkinson: a row's shares, as offsets), with a cell of no error on either
    // side so that error falling off the edges needs no test.
    std::int16_t* row(int k);
    void diffuseAgainstLevels(int y, const std::uint8_t* greys, const std::uint8_t* opaque,
                              std::uint8_t* bands);

    Dither m_method;
    int m_width;
    const diffusion::Passes* m_passes;
    std::vector<std::int16_t> m_rows;
    std::array<std::size_t, 3> m_order{0, 1, 2}; // which of m_rows is row 0, 1 and 2
    // Per pixel of the row being dithered, in the order it runs: where its value starts, as an
    // offset into the method's table, and the offset of the share it passes on.
    std::vector<std::uint16_t> m_entries;
    std::vector<std::uint16_t> m_chain;
    std::vector<std::uint8_t> m_greys; // a row being painted
    std::vector<std::uint8_t> m_bands;
    // With a panel's levels: its greys, and the error carried to the next rows, each row with two
    // cells of no error on either side.
    std::optional<Levels> m_levels;
    std::array<std::vector<int>, 3> m_carried;
};

// The ordered matrix as band edges for the row kernels: row y of the picture (0 at the top),
// its columns from 0.
BandEdges bayerEdges(int y);

// The same as the least grey of each band above black, per column, with the thresholds placed
// between the levels: a grey g is in band k or above when 128 g + (p[k] - p[k - 1]) (2m + 1)
// reaches 128 p[k], m the matrix's entry.
std::array<std::array<int, 3>, 8> bayerGreyEdges(int y, const Levels& levels);

} // namespace imaging
