#include "window/picture_view.h"

#include "surface/picture_surface.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace window {

PictureView::PictureView(const surface::PictureSurface& surface, QWidget* parent)
    : QAbstractScrollArea(parent), m_surface(surface) {
    // No frame, and no scroll bars while the picture fits: at 1× a picture that fits looks
    // exactly as it did before the view could zoom.
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    // The scroll ranges are set when the view gets its size (resizeEvent): set now, for the
    // default size, they would show bars that a moment later are hidden again.
}

void PictureView::setZoom(int zoom) {
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    if (zoom == m_zoom) {
        return;
    }
    // The picture point under the centre of the view, in picture pixels (as a fraction).
    const QSize view = viewport()->size();
    const QPoint before = offset();
    const double centreX = (before.x() + view.width() / 2.0) / m_zoom;
    const double centreY = (before.y() + view.height() / 2.0) / m_zoom;
    m_zoom = zoom;
    updateScrollBars();
    // The size the viewport gets once the bars have appeared or gone.
    const QSize now = viewFor(zoomedSize());
    horizontalScrollBar()->setValue(static_cast<int>(centreX * m_zoom - now.width() / 2.0));
    verticalScrollBar()->setValue(static_cast<int>(centreY * m_zoom - now.height() / 2.0));
    viewport()->update();
}

void PictureView::pictureChanged() {
    updateScrollBars();
    viewport()->update();
}

void PictureView::rowChanged(int y) {
    const QRect row(0, y * m_zoom, m_surface.width() * m_zoom, m_zoom);
    const QRect shown = row.translated(-offset()) & viewport()->rect();
    if (!shown.isEmpty()) {
        viewport()->update(shown);
    }
}

void PictureView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect exposed = event->rect();
    const QPoint origin = offset();
    // The exposed part in zoomed picture coordinates, then the picture pixels it touches.
    const QRect zoomedPart = exposed.translated(origin) & QRect(QPoint(0, 0), zoomedSize());
    QRect drawn; // in viewport coordinates
    if (!zoomedPart.isEmpty()) {
        const QRect source(QPoint(zoomedPart.left() / m_zoom, zoomedPart.top() / m_zoom),
                           QPoint(zoomedPart.right() / m_zoom, zoomedPart.bottom() / m_zoom));
        const QRect target(source.x() * m_zoom - origin.x(), source.y() * m_zoom - origin.y(),
                           source.width() * m_zoom, source.height() * m_zoom);
        // Only the source rectangle is handed over and scaled, so a huge picture costs no more
        // than a small one; no smoothing, so every picture pixel is a sharp square.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(target, m_surface.image(), source);
        drawn = target;
    }
    const QRegion background = QRegion(exposed) - drawn;
    for (const QRect& rect : background) {
        painter.fillRect(rect, Qt::white);
    }
}

void PictureView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void PictureView::scrollContentsBy(int, int) {
    viewport()->update();
}

QSize PictureView::zoomedSize() const {
    // At most 32767 × 16 per side, well within an int.
    return {m_surface.width() * m_zoom, m_surface.height() * m_zoom};
}

QPoint PictureView::offset() const {
    return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

QSize PictureView::viewFor(QSize content) const {
    // A bar is needed where the content is larger than the whole area, or larger than what the
    // other bar leaves of it. QAbstractScrollArea shows a bar exactly when its range is not empty
    // and takes the bar's size hint from the area, as here.
    const QSize whole = maximumViewportSize();
    const int barHeight = horizontalScrollBar()->sizeHint().height();
    const int barWidth = verticalScrollBar()->sizeHint().width();
    bool horizontal = content.width() > whole.width();
    bool vertical = content.height() > whole.height();
    if (horizontal && !vertical) {
        vertical = content.height() > whole.height() - barHeight;
    }
    if (vertical && !horizontal) {
        horizontal = content.width() > whole.width() - barWidth;
    }
    return {whole.width() - (vertical ? barWidth : 0),
            whole.height() - (horizontal ? barHeight : 0)};
}

void PictureView::updateScrollBars() {
    // The ranges are worked out for the viewport as it will be, not as it is: the bars are shown
    // or hidden a moment later (QAbstractScrollArea queues that), and a zoom must scroll within
    // the final ranges at once.
    const QSize content = zoomedSize();
    const QSize view = viewFor(content);
    horizontalScrollBar()->setRange(0, std::max(0, content.width() - view.width()));
    horizontalScrollBar()->setPageStep(view.width());
    horizontalScrollBar()->setSingleStep(std::max(20, m_zoom));
    verticalScrollBar()->setRange(0, std::max(0, content.height() - view.height()));
    verticalScrollBar()->setPageStep(view.height());
    verticalScrollBar()->setSingleStep(std::max(20, m_zoom));
}

} // namespace window
