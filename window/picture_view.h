#pragma once
// Draws the picture surface on screen at a zoom, with scroll bars when it is larger than the view.

#include "imaging/frames.h"
#include "imaging/tone.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QImage>
#include <QList>
#include <functional>
#include <optional>
#include <vector>

namespace surface {
class PictureSurface;
}
class QPainter;

namespace window {

// Shows the surface's pixels from the top-left corner, each as a square of zoom × zoom screen
// pixels. It draws straight from the surface and keeps no copy, so painting a row is seen at
// once. Scroll bars appear only while the zoomed picture is larger than the view. At 1× the
// frame beyond the picture is white; at any other zoom it is a neutral colour that is none of
// the four levels, so where a white picture ends can be seen. From 8× a faint grid parts the
// pixels. Where the picture has alpha, a checkerboard of two tints that are none of the levels
// shows through its transparent pixels. Ctrl + wheel zooms about the pointer; a tooltip names the
// pixel under the pointer.
class PictureView final : public QAbstractScrollArea {
    Q_DECLARE_TR_FUNCTIONS(PictureView)

  public:
    static constexpr double kMaxZoom = 64;
    // The zoom from which a grid parts the pixels.
    static constexpr double kGridZoom = 8;

    explicit PictureView(const surface::PictureSurface& surface, QWidget* parent = nullptr);

    double zoom() const { return m_zoom; }
    // Sets the zoom, clamped to the smallest step and kMaxZoom, keeping the picture point under
    // `anchor` (a viewport position; the centre by default) where it is as far as the scroll
    // ranges allow.
    void setZoom(double zoom);
    void setZoom(double zoom, QPointF anchor);
    // The zoom steps for this picture in this view: halves of 1× down to the first at which the
    // whole picture fits, then 1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48 and 64.
    std::vector<double> zoomSteps() const;
    // The next step above (or below) the zoom in use; the zoom itself where there is none.
    double nextStep(int direction) const;
    // The largest zoom at which the whole picture fits the view: below 1× any, above it the
    // largest whole factor up to kMaxZoom.
    double fitZoom() const;
    // Whether Ctrl + wheel zooms (not before a picture is open).
    void setZoomable(bool zoomable) { m_zoomable = zoomable; }
    // Called after every change of the zoom.
    void setZoomChangedHandler(std::function<void()> handler) {
        m_zoomChanged = std::move(handler);
    }

    // While a pen is held, a press of the left button, the moves while it is down and its
    // release are handed on as picture pixels (which may lie outside the picture); the cursor
    // is a cross. Without one the view only shows.
    struct Pen {
        std::function<void(QPoint)> press;
        std::function<void(QPoint)> move;
        std::function<void()> release;
    };
    void setPen(std::optional<Pen> pen);

    // To be called when the surface holds another picture (another extent); every row of it is
    // shown.
    void pictureChanged();
    // Only rows [first, end) of the picture hold it yet, as while it is read; the others are
    // drawn white. Repaints the rows that this changes.
    void showRows(int first, int end);
    // Schedules a repaint of row y of the picture if it is within view.
    void rowChanged(int y);
    // Draws the four level colours as these greys (what a panel shows for them), or as they are
    // without; only what is drawn changes, never the surface.
    void setLevelGreys(std::optional<imaging::Levels> greys);
    // Draws thin lines at the edges of these frames over the picture (none: no lines).
    void setFrameGrid(const imaging::FrameGrid& grid);
    const imaging::FrameGrid& frameGrid() const { return m_frames; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    // The picture's extent on screen at the current zoom.
    QSize zoomedSize() const;
    // The view's top-left corner in zoomed picture coordinates.
    QPoint offset() const;
    // The viewport's size once the scroll bars that this content needs are shown.
    QSize viewFor(QSize content) const;
    void updateScrollBars();
    // Schedules a repaint of rows [first, end) of the picture where they are within view.
    void updateRows(int first, int end);
    // Draws picture rows [y0, y1) of columns [x0, x1) into `target`.
    void drawRows(QPainter& painter, const QRectF& target, int x0, int y0, int x1, int y1);
    void zoomAbout(double zoom, std::optional<QPointF> anchor);
    // The picture pixel under this viewport position.
    QPoint pixelAt(QPointF position) const;
    // What the tooltip says about the picture point under this viewport position.
    QString describe(QPoint position) const;

    const surface::PictureSurface& m_surface;
    std::optional<imaging::Levels> m_levelGreys;
    imaging::FrameGrid m_frames;
    QList<QRgb> m_levelColours; // the colours in which painted rows are drawn
    double m_zoom = 1;
    std::function<void()> m_zoomChanged;
    bool m_zoomable = false;
    int m_wheelPending = 0; // eighths of a degree not yet zoomed by
    int m_firstRow = 0;     // the rows that are shown; the others are not read yet
    int m_endRow = -1;      // -1: up to the last
    std::optional<Pen> m_pen;
    bool m_drawing = false; // the left button went down with the pen
};

// Rows [first, end) of `from` into `to` (both of the surface's format and size), each level
// colour as its grey in `greys`, any other colour as it is.
void recolourLevels(const QImage& from, QImage& to, int first, int end,
                    const imaging::Levels& greys);

// The zoom as people read it: "400%", "1200%", "12.5%", "6.25%".
QString zoomText(double zoom);

} // namespace window
