#pragma once
// The passes before and after each error diffusion's chain: they work on many pixels at a time,
// and are built once for each width of vector the processor may have.

#include "imaging/level_bits.h"

#include <cstdint>

namespace imaging::diffusion {

constexpr int kBandStep = 85; // between the band values 0, 85, 170 and 255

// Floyd-Steinberg's values are offsets into a table that starts at this value; the share carried
// ahead is kept as 4 * (share + kAheadBias), never negative.
constexpr int kFloydSteinbergLowest = -128;
constexpr int kAheadBias = 64;
// Atkinson's values are in sixteenths of a grey step, from kAtkinsonLowest; a share is kept as
// 4 * (share + kShareBias).
constexpr int kAtkinsonScale = 16;
constexpr int kAtkinsonLowest = -704;
constexpr int kShareBias = 96;

struct Passes {
    // Where each value of a Floyd-Steinberg row starts, in the order the row runs, as an offset
    // into the table: its grey and the error passed down by the row above, which ran the other
    // way.
    void (*floydSteinbergStarts)(bool forward, int n, const std::uint8_t* greys,
                                 const std::int16_t* above, std::uint16_t* entries);
    // The band of each pixel of a Floyd-Steinberg row from its start and the chain's offsets,
    // and the error it passes down, in the order the row ran: each pixel's share under it, the
    // share behind of the pixel after and the rest of the pixel before.
    void (*floydSteinbergEnds)(bool forward, int n, const std::uint16_t* entries,
                               const std::uint16_t* chain, std::uint8_t* bands,
                               std::int16_t* below);
    // Where each value of an Atkinson row starts: its grey and the shares, kept as offsets, from
    // the row above (with a cell on either side) and the row above that.
    void (*atkinsonStarts)(int n, const std::uint8_t* greys, const std::uint16_t* above,
                           const std::uint16_t* twoAbove, std::uint16_t* entries);
    // The band of each pixel of an Atkinson row from its start and the chain's offsets.
    void (*atkinsonBands)(int n, const std::uint16_t* entries, const std::uint16_t* chain,
                          std::uint8_t* bands);
};

// The passes built for that instruction set, or for the nearest narrower one built; every set
// gives the same results.
const Passes& passes(Isa isa);

// The fastest passes this processor runs, chosen once.
const Passes& passes();

} // namespace imaging::diffusion
