#pragma once
// A canvas in plain memory, and helpers that show planes the way people read them.

#include "imaging/levels.h"
#include "imaging/plane_encoder.h"

#include <string>
#include <vector>

namespace testing_support {

class MemoryCanvas final : public imaging::Canvas {
  public:
    MemoryCanvas(int width, int height, imaging::Colour fill = imaging::kWhite)
        : m_width(width), m_height(height),
          m_pixels(static_cast<std::size_t>(width) * height, 0xFF000000u | fill) {}
    int width() const { return m_width; }
    int height() const { return m_height; }
    imaging::Colour at(int x, int y) const {
        return static_cast<imaging::Colour>(m_pixels[index(x, y)] & imaging::kColourMask);
    }
    void set(int x, int y, imaging::Colour c) { m_pixels[index(x, y)] = 0xFF000000u | c; }

    std::span<const imaging::Pixel> row(int y) const override {
        return {m_pixels.data() + index(0, y), static_cast<std::size_t>(m_width)};
    }
    std::span<imaging::Pixel> mutableRow(int y) override {
        return {m_pixels.data() + index(0, y), static_cast<std::size_t>(m_width)};
    }
    void rowPainted(int y) override { painted.push_back(y); }

    std::vector<int> painted;

  private:
    std::size_t index(int x, int y) const { return static_cast<std::size_t>(y) * m_width + x; }
    int m_width;
    int m_height;
    std::vector<imaging::Pixel> m_pixels;
};

// Sets exactly that pixel of a canvas to exactly that colour, as a scan paints it.
inline void paint(imaging::Canvas& canvas, int x, int y, imaging::Colour colour) {
    canvas.mutableRow(y)[static_cast<std::size_t>(x)] =
        0xFF000000u | (static_cast<imaging::Pixel>(colour) & imaging::kColourMask);
}

// The level colour of a grey average, by the band rule.
inline imaging::Colour levelOf(int grey) {
    return static_cast<imaging::Colour>(
        imaging::kLevelPalette[static_cast<std::size_t>(imaging::bandOf(grey))]);
}

// A plane as its string of '0' and '1', one per bit.
inline std::string bitString(const std::vector<std::uint8_t>& plane) {
    std::string bits;
    for (std::uint8_t byte : plane) {
        for (int k = 7; k >= 0; --k) {
            bits += ((byte >> k) & 1) ? '1' : '0';
        }
    }
    return bits;
}

} // namespace testing_support
