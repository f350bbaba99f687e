#include "window/picture_view.h"

#include "surface/picture_surface.h"

#include <QPaintEvent>
#include <QPainter>

namespace window {

PictureView::PictureView(const surface::PictureSurface& surface, QWidget* parent)
    : QWidget(parent), m_surface(surface) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::rowChanged(int y) {
    if (y < height()) {
        update(0, y, std::min(width(), m_surface.width()), 1);
    }
}

void PictureView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect exposed = event->rect();
    const QRect picture = exposed & QRect(0, 0, m_surface.width(), m_surface.height());
    if (!picture.isEmpty()) {
        // Only the exposed part is handed over, so a huge picture costs no more than a small one.
        painter.drawImage(picture.topLeft(), m_surface.image(), picture);
    }
    const QRegion background = QRegion(exposed) - picture;
    for (const QRect& rect : background) {
        painter.fillRect(rect, Qt::white);
    }
}

} // namespace window
