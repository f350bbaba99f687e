#pragma once
// Draws the picture surface on screen, at a whole-number zoom, with scroll bars when it is larger
// than the view.

#include <QAbstractScrollArea>

namespace surface {
class PictureSurface;
}

namespace window {

// Shows the surface's pixels from the top-left corner, each as a square of zoom × zoom screen
// pixels, on white. It draws straight from the surface and keeps no copy, so painting a row is
// seen at once. Scroll bars appear only while the zoomed picture is larger than the view.
class PictureView final : public QAbstractScrollArea {
  public:
    static constexpr int kMinZoom = 1;
    static constexpr int kMaxZoom = 16;

    explicit PictureView(const surface::PictureSurface& surface, QWidget* parent = nullptr);

    int zoom() const { return m_zoom; }
    // Sets the zoom, clamped to kMinZoom..kMaxZoom, keeping the picture point at the centre of
    // the view where it is as far as the scroll ranges allow.
    void setZoom(int zoom);

    // To be called when the surface holds another picture (another extent).
    void pictureChanged();
    // Schedules a repaint of row y of the picture if it is within view.
    void rowChanged(int y);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    // The picture's extent on screen at the current zoom.
    QSize zoomedSize() const;
    // The view's top-left corner in zoomed picture coordinates.
    QPoint offset() const;
    // The viewport's size once the scroll bars that this content needs are shown.
    QSize viewFor(QSize content) const;
    void updateScrollBars();

    const surface::PictureSurface& m_surface;
    int m_zoom = kMinZoom;
};

} // namespace window
