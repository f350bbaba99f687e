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

// The level colour of a grey average: 0-42 black, 43-127 dark grey, 128-212 light grey,
// 213-255 white.
Colour levelOf(int greyAverage);

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
