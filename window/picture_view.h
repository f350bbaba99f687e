#pragma once
// Draws the picture surface on screen.

#include <QWidget>

namespace surface {
class PictureSurface;
}

namespace window {

// Shows the surface's pixels at the top-left corner, one pixel per screen pixel, on white.
// It draws straight from the surface and keeps no copy, so painting a row is seen at once.
class PictureView final : public QWidget {
  public:
    explicit PictureView(const surface::PictureSurface& surface, QWidget* parent = nullptr);

    // Schedules a repaint of row y of the picture if it is within view.
    void rowChanged(int y);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const surface::PictureSurface& m_surface;
};

} // namespace window
