#pragma once
// The four grey levels, the grey average and the row-progress sink shared by both scans.

#include <array>
#include <cstdint>
#include <span>

namespace imaging {

// 0xBBGGRR: red in bits 0-7, green in 8-15, blue in 16-23. -1 means no colour.
using Colour = std::int32_t;

inline constexpr Colour kNoColour = -1;
inline constexpr Colour kBlack = 0x000000;
inline constexpr Colour kDarkGrey = 0x5A595A; // green is 0x59, not 0x5A
inline constexpr Colour kLightGrey = 0xB4B4B4;
inline constexpr Colour kWhite = 0xFFFFFF;

// The palette of every saved picture: black, dark grey, light grey, white.
inline constexpr std::array<std::uint32_t, 4> kLevelPalette = {kBlack, kDarkGrey, kLightGrey,
                                                               kWhite};

// The grey average 0-255 of a colour: the first six hex digits of its text, read as three
// bytes, averaged and rounded. For a valid colour that is (r + g + b + 1) / 3; -1 gives 255.
int greyAverage(Colour colour);

// The band rule, decided here alone: a grey average from kDarkFrom up is dark grey or lighter,
// from kLightFrom up light grey or lighter, from kWhiteFrom up white. So the bands are 0-42
// black, 43-127 dark grey, 128-212 light grey and 213-255 white.
inline constexpr int kDarkFrom = 43;
inline constexpr int kLightFrom = 128;
inline constexpr int kWhiteFrom = 213;

// The band of a grey (any int, also past 0-255 as diffusion makes them): 0 black, 1 dark grey,
// 2 light grey, 3 white; kLevelPalette[band] is its colour.
constexpr int bandOf(int grey) {
    return int{grey >= kDarkFrom} + int{grey >= kLightFrom} + int{grey >= kWhiteFrom};
}

// A band edge on the byte sum r + g + b instead of the grey: since greyAverage() is
// (sum + 1) / 3, the grey reaches `edge` exactly when the sum reaches 3 * edge - 1.
constexpr unsigned sumFrom(int edge) {
    return static_cast<unsigned>(3 * edge - 1);
}

// A channel `c` of a pixel of alpha `a` (0 clear, 255 opaque) as it shows over white: every
// source of alpha takes its pixels through this when no mask is asked for.
constexpr std::uint8_t overWhite(unsigned c, unsigned a) {
    return static_cast<std::uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

// The alpha from which a pixel counts as opaque when a mask is asked for.
inline constexpr unsigned kOpaqueFrom = 128;

// A pixel as a canvas stores it: the colour in the low 24 bits, the top byte the canvas's own.
using Pixel = std::uint32_t;
inline constexpr Pixel kColourMask = 0x00FFFFFF;

// Where the scans read and paint. Rows are handed out whole so a scan costs one call per row.
class Canvas {
  public:
    virtual ~Canvas() = default;
    // Row y (0 at the top) of the stored pixels; y must lie inside the canvas.
    virtual std::span<const Pixel> row(int y) const = 0;
    // The same row for painting; the canvas is told through rowPainted() when it is done.
    virtual std::span<Pixel> mutableRow(int y) = 0;
    virtual void rowPainted(int y) { static_cast<void>(y); }
    // Paints row y in the level colours of its level bits, keeping each pixel's top byte. A
    // canvas that keeps its levels in another shape than pixels does it its own way.
    virtual void paintLevelRow(int y, const std::uint8_t* dark, const std::uint8_t* light);
    // Makes row y's top byte 255 where `opaque` (laid out as level bits) has a bit, 0 elsewhere.
    virtual void maskRow(int y, const std::uint8_t* opaque);
};

// What a scan does next after a yield.
enum class Flow { Continue, Stop };

// The sink that both scans report to.
class RowProgress {
  public:
    virtual ~RowProgress() = default;
    virtual void reportTotal(std::int16_t rows) = 0;
    virtual void reportRowsDone(std::int16_t rows) = 0;
    // Lets the owner process pending events; Stop ends the scan with no further row read.
    virtual Flow yield() = 0;
};

// A sink for work that nobody watches.
class NoProgress final : public RowProgress {
  public:
    void reportTotal(std::int16_t) override {}
    void reportRowsDone(std::int16_t) override {}
    Flow yield() override { return Flow::Continue; }
};

} // namespace imaging
