#pragma once
// The pixel canvas that holds the picture, takes what the scans paint and saves itself.

#include "imaging/levels.h"
#include "platform/failure.h"

#include <QImage>
#include <functional>
#include <optional>

namespace surface {

class PictureSurface final : public imaging::Canvas {
  public:
    // A white surface of the given size.
    explicit PictureSurface(int width = 417, int height = 337);

    // Replaces the picture by an image of any format: one with alpha (Format_RGBA8888, not
    // premultiplied) keeps it in each pixel's top byte, any other becomes Format_RGBX8888.
    void setPicture(const QImage& picture);
    // Whether the pixels' top byte is their alpha (0 clear, 255 opaque), not an ignored X.
    bool hasAlpha() const { return m_image.format() == QImage::Format_RGBA8888; }

    int width() const { return m_image.width(); }
    int height() const { return m_image.height(); }

    // The colour at (x, y) as 0xBBGGRR, or -1 outside the surface.
    imaging::Colour read(int x, int y) const;
    // Sets exactly that pixel to exactly that colour (the pencil); outside the surface nothing
    // happens.
    void paint(int x, int y, imaging::Colour colour);
    // The pixel at (x, y) as stored, its alpha too where the surface has it; none outside.
    std::optional<imaging::Pixel> pixel(int x, int y) const;
    // Puts back a pixel as pixel() gave it.
    void restore(int x, int y, imaging::Pixel pixel);

    // Writes the picture as a four-colour bitmap of the level colours (any other colour as
    // white); an existing file is replaced only when the new one is complete.
    std::optional<base::Error> save(const QString& fileName) const;

    // The pixels, for drawing on screen. Format_RGBX8888, or Format_RGBA8888 with alpha.
    const QImage& image() const { return m_image; }

    // Called after a scan has painted row y, e.g. to repaint it on screen.
    void setRowPaintedHandler(std::function<void(int)> handler) {
        m_rowPainted = std::move(handler);
    }

    std::span<const imaging::Pixel> row(int y) const override;
    std::span<imaging::Pixel> mutableRow(int y) override;
    void rowPainted(int y) override;

  private:
    QImage m_image;
    std::function<void(int)> m_rowPainted;
};

} // namespace surface
