#pragma once
// The pixel canvas that holds the picture, takes what the scans paint and saves itself.

#include "imaging/levels.h"
#include "platform/failure.h"

#include <QImage>
#include <QList>
#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace surface {

// The picture as opened is held as pixels, four bytes each. A scan paints it from the top in
// the level colours, and each painted row is kept as one byte a pixel instead: an index into the
// level colours (0 black to 3 white), 4 more for a clear pixel of a surface with alpha. Painted
// rows are written into the front of the pixels' own memory, whose rows a scan reading this
// surface from the top has already read, and once every row is painted the rest of that memory
// is given back. So a painted picture takes a quarter of the memory of its pixels.
class PictureSurface final : public imaging::Canvas {
  public:
    // A white surface of the given size.
    explicit PictureSurface(int width = 417, int height = 337);

    // Replaces the picture by an image of any format: one with alpha (Format_RGBA8888, not
    // premultiplied) keeps it in each pixel's top byte, any other becomes Format_RGBX8888.
    void setPicture(const QImage& picture);
    // Replaces the picture by another surface's (sharing its memory until either is painted).
    void setPicture(const PictureSurface& other);
    // Replaces the picture by white level rows of this size, for a scan to paint; false (and
    // the picture unchanged) when there is no memory for them.
    bool setLevels(int width, int height);
    // Whether the pixels' top byte is their alpha (0 clear, 255 opaque), not an ignored X.
    bool hasAlpha() const { return m_alpha; }

    int width() const { return m_width; }
    int height() const { return m_height; }

    // The colour at (x, y) as 0xBBGGRR, or -1 outside the surface.
    imaging::Colour read(int x, int y) const;
    // Sets exactly that pixel to exactly that colour (the pencil); outside the surface nothing
    // happens. A painted row takes only the level colours.
    void paint(int x, int y, imaging::Colour colour);
    // The pixel at (x, y) as the rows of pixels hold it, its alpha too where the surface has it;
    // none outside.
    std::optional<imaging::Pixel> pixel(int x, int y) const;
    // Puts back a pixel as pixel() gave it.
    void restore(int x, int y, imaging::Pixel pixel);

    // Writes the picture as a four-colour bitmap of the level colours (any other colour as
    // white); an existing file is replaced only when the new one is complete.
    std::optional<base::Error> save(const QString& fileName) const;

    // For drawing on screen: rows [0, levelRows()) are painted, held as levels(); the others are
    // pixels(), Format_RGBX8888 or Format_RGBA8888 with alpha.
    int levelRows() const { return m_levelRows; }
    // Painted row y's indices, width() of them; y must be below levelRows().
    const std::uint8_t* levelRow(int y) const;
    // The colours of the indices as the rows of pixels hold them, alpha in the top byte.
    static std::span<const imaging::Pixel> levelPixels();
    const QImage& pixels() const { return m_pixels; }
    // The painted rows as an 8-bit image of the whole extent over the surface's own memory,
    // valid until the surface changes; only its rows below levelRows() hold the picture. Its
    // colours are those of levelColours().
    QImage levels(const QList<QRgb>& colours) const;
    // The colour table of levels() that shows each level in the given colour (0xBBGGRR), a
    // clear pixel clear.
    static QList<QRgb> levelColours(const std::array<std::uint32_t, 4>& colours);

    // The whole picture as pixels (Format_RGBX8888, or Format_RGBA8888 with alpha): shared
    // while no row is painted, else a copy made here.
    QImage image() const;

    // Called after a scan has painted row y, e.g. to repaint it on screen.
    void setRowPaintedHandler(std::function<void(int)> handler) {
        m_rowPainted = std::move(handler);
    }

    // A painted row is handed out as pixels made for the call, valid until the next one.
    std::span<const imaging::Pixel> row(int y) const override;
    // Rows of pixels only: rows not yet painted.
    std::span<imaging::Pixel> mutableRow(int y) override;
    void rowPainted(int y) override;
    void paintLevelRow(int y, const std::uint8_t* dark, const std::uint8_t* light) override;
    void maskRow(int y, const std::uint8_t* opaque) override;

  private:
    std::uint8_t* levelLine(int y);
    const std::uint8_t* levelLine(int y) const;
    // The painted rows are all there: the pixels' memory is given up.
    void levelsDone();

    int m_width = 0;
    int m_height = 0;
    bool m_alpha = false;
    QImage m_pixels;     // rows from m_levelRows down; null once every row is painted
    QImage m_levels;     // Format_Indexed8, its rows up to m_levelRows
    int m_levelRows = 0; // rows [0, m_levelRows) are painted, held in m_levels
    mutable std::vector<imaging::Pixel> m_row; // a painted row as pixels, for row()
    std::vector<std::uint8_t> m_indices;       // a row being painted
    std::function<void(int)> m_rowPainted;
};

} // namespace surface
