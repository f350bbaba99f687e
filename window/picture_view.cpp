#include "window/picture_view.h"

#include "imaging/levels.h"
#include "surface/picture_surface.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>

namespace window {
namespace {

// Blue-grey: none of the four levels, and apart from both white and black.
const QColor kBeyondPicture(0x70, 0x80, 0x90);
const QColor kGrid(0x80, 0x80, 0x80, 0x60);
// The checkerboard under transparent pixels, and its squares in screen pixels.
const QColor kCheckLight(0xCC, 0x99, 0xCC);
const QColor kCheckDark(0x99, 0x66, 0x99);
constexpr int kCheckSquare = 8;
// The lines at the edges of frames.
const QColor kFrameEdge(0x00, 0x99, 0xCC);

// Two squares of each tint, tiled by a brush.
QPixmap checkerboard() {
    QPixmap tile(2 * kCheckSquare, 2 * kCheckSquare);
    tile.fill(kCheckLight);
    QPainter painter(&tile);
    painter.fillRect(kCheckSquare, 0, kCheckSquare, kCheckSquare, kCheckDark);
    painter.fillRect(0, kCheckSquare, kCheckSquare, kCheckSquare, kCheckDark);
    return tile;
}
constexpr double kSteps[] = {1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64};

// Zooms are halves or whole numbers, or a fit; a small margin hides rounding.
constexpr double kSame = 1e-9;

QString levelName(imaging::Colour colour) {
    switch (colour) {
    case imaging::kBlack:
        return PictureView::tr("black");
    case imaging::kDarkGrey:
        return PictureView::tr("dark grey");
    case imaging::kLightGrey:
        return PictureView::tr("light grey");
    case imaging::kWhite:
        return PictureView::tr("white");
    default: // not yet quantized
        return QStringLiteral("0x%1").arg(
            QString::number(colour, 16).toUpper().rightJustified(6, QLatin1Char('0')));
    }
}

} // namespace

QString zoomText(double zoom) {
    const double percent = zoom * 100;
    // Whole percentages from 100 % up; below, three digits that matter, never an exponent (the
    // smallest zoom, 1/32768, is 0.00305 %).
    const QString number = percent >= 100 - kSame ? QString::number(std::llround(percent))
                                                  : QString::number(percent, 'g', 3);
    return PictureView::tr("%1%").arg(number);
}

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
    setLevelGreys(std::nullopt);
}

std::vector<double> PictureView::zoomSteps() const {
    const QSize whole = maximumViewportSize();
    std::vector<double> steps;
    // At most 15 halvings for 32767 pixels.
    for (double s = 1;
         m_surface.width() * s > whole.width() || m_surface.height() * s > whole.height();) {
        s /= 2;
        steps.insert(steps.begin(), s);
    }
    steps.insert(steps.end(), std::begin(kSteps), std::end(kSteps));
    return steps;
}

double PictureView::nextStep(int direction) const {
    const std::vector<double> steps = zoomSteps();
    if (direction > 0) {
        const auto above =
            std::find_if(steps.begin(), steps.end(), [&](double s) { return s > m_zoom + kSame; });
        return above == steps.end() ? m_zoom : *above;
    }
    const auto below =
        std::find_if(steps.rbegin(), steps.rend(), [&](double s) { return s < m_zoom - kSame; });
    return below == steps.rend() ? m_zoom : *below;
}

double PictureView::fitZoom() const {
    const QSize whole = maximumViewportSize();
    const double fit = std::min(static_cast<double>(whole.width()) / m_surface.width(),
                                static_cast<double>(whole.height()) / m_surface.height());
    // Enlarged only by whole factors, so that every picture pixel stays a square of equal size.
    return fit < 1 ? fit : std::min(kMaxZoom, std::floor(fit));
}

void PictureView::setZoom(double zoom) {
    zoomAbout(zoom, std::nullopt);
}

void PictureView::setZoom(double zoom, QPointF anchor) {
    zoomAbout(zoom, anchor);
}

void PictureView::zoomAbout(double zoom, std::optional<QPointF> anchor) {
    zoom = std::clamp(zoom, std::min(zoomSteps().front(), fitZoom()), kMaxZoom);
    if (std::abs(zoom - m_zoom) < kSame) {
        return;
    }
    // The picture point under the anchor, in picture pixels (as a fraction).
    const QPoint before = offset();
    const QSize was = viewport()->size();
    const QPointF from = anchor.value_or(QPointF(was.width() / 2.0, was.height() / 2.0));
    const double pointX = (before.x() + from.x()) / m_zoom;
    const double pointY = (before.y() + from.y()) / m_zoom;
    m_zoom = zoom;
    updateScrollBars();
    // The centre of the viewport as it is once the bars have appeared or gone; the pointer
    // stays where it is.
    const QSize now = viewFor(zoomedSize());
    const QPointF to = anchor.value_or(QPointF(now.width() / 2.0, now.height() / 2.0));
    const double anchorX = to.x();
    const double anchorY = to.y();
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(pointX * m_zoom - anchorX)));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(pointY * m_zoom - anchorY)));
    viewport()->update();
    if (m_zoomChanged) {
        m_zoomChanged();
    }
}

void recolourLevels(const QImage& from, QImage& to, int first, int end,
                    const imaging::Levels& greys) {
    const auto width = static_cast<std::size_t>(from.width());
    for (int y = std::max(0, first); y < std::min(end, from.height()); ++y) {
        const auto* in = reinterpret_cast<const imaging::Pixel*>(from.constScanLine(y));
        auto* out = reinterpret_cast<imaging::Pixel*>(to.scanLine(y));
        for (std::size_t x = 0; x < width; ++x) {
            const imaging::Pixel colour = in[x] & imaging::kColourMask;
            imaging::Pixel shown = in[x];
            for (std::size_t level = 0; level < greys.size(); ++level) {
                if (colour == imaging::kLevelPalette[level]) {
                    const auto grey = static_cast<imaging::Pixel>(greys[level]);
                    shown = (in[x] & ~imaging::kColourMask) | grey * 0x010101u;
                }
            }
            out[x] = shown;
        }
    }
}

void PictureView::setLevelGreys(std::optional<imaging::Levels> greys) {
    m_levelGreys = greys;
    std::array<std::uint32_t, 4> colours = imaging::kLevelPalette;
    for (std::size_t level = 0; greys && level < colours.size(); ++level) {
        colours[level] = static_cast<std::uint32_t>((*greys)[level]) * 0x010101u;
    }
    m_levelColours = surface::PictureSurface::levelColours(colours);
    viewport()->update();
}

void PictureView::pictureChanged() {
    setLevelGreys(m_levelGreys);
    m_firstRow = 0;
    m_endRow = -1;
    updateScrollBars();
    viewport()->update();
}

void PictureView::showRows(int first, int end) {
    const int wasFirst = m_firstRow;
    const int wasEnd = m_endRow < 0 ? m_surface.height() : m_endRow;
    m_firstRow = first;
    m_endRow = end;
    // Rows arrive at one end of the band or the other.
    if (first < wasFirst) {
        updateRows(first, wasFirst);
    }
    if (end > wasEnd) {
        updateRows(wasEnd, end);
    }
}

void PictureView::rowChanged(int y) {
    updateRows(y, y + 1);
}

void PictureView::updateRows(int first, int end) {
    const int top = static_cast<int>(std::floor(first * m_zoom));
    const int bottom = static_cast<int>(std::ceil(end * m_zoom));
    const QRect rows(0, top, zoomedSize().width(), std::max(1, bottom - top));
    const QRect shown = rows.translated(-offset()) & viewport()->rect();
    if (!shown.isEmpty()) {
        viewport()->update(shown);
    }
}

void PictureView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect exposed = event->rect();
    const QPoint origin = offset();
    const QRect picture = QRect(QPoint(0, 0), zoomedSize()).translated(-origin);
    // The rows read so far; the rest of the picture's place is white until they arrive.
    const int endRow = m_endRow < 0 ? m_surface.height() : m_endRow;
    const int readTop = static_cast<int>(std::ceil(m_firstRow * m_zoom - kSame));
    const int readBottom = endRow == m_surface.height()
                               ? picture.height()
                               : static_cast<int>(std::floor(endRow * m_zoom + kSame));
    const QRect read =
        QRect(0, readTop, picture.width(), std::max(0, readBottom - readTop)).translated(-origin);
    const QRect part = exposed & picture & read;
    if (!part.isEmpty()) {
        // The picture pixels that the part touches: only they are handed over and scaled, so a
        // huge picture costs no more than a small one.
        const double z = m_zoom;
        const int x0 = static_cast<int>(std::floor((part.left() + origin.x()) / z));
        const int y0 =
            std::max(m_firstRow, static_cast<int>(std::floor((part.top() + origin.y()) / z)));
        const int x1 = std::min(m_surface.width(),
                                static_cast<int>(std::ceil((part.right() + 1 + origin.x()) / z)));
        const int y1 =
            std::min(endRow, static_cast<int>(std::ceil((part.bottom() + 1 + origin.y()) / z)));
        const QRectF target(x0 * z - origin.x(), y0 * z - origin.y(), (x1 - x0) * z, (y1 - y0) * z);
        painter.save();
        painter.setClipRect(part);
        // No smoothing, so every picture pixel is a sharp square.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        if (m_surface.hasAlpha()) {
            static const QPixmap kCheckerboard = checkerboard();
            painter.setBrushOrigin(-origin);
            painter.fillRect(part, QBrush(kCheckerboard));
        }
        drawRows(painter, target, x0, y0, x1, y1);
        if (z >= kGridZoom - kSame) {
            // One screen pixel on the left and top edge of each picture pixel.
            painter.setPen(QPen(kGrid, 0));
            for (int x = x0; x <= x1; ++x) {
                const int at = static_cast<int>(std::lround(x * z)) - origin.x();
                painter.drawLine(at, part.top(), at, part.bottom());
            }
            for (int y = y0; y <= y1; ++y) {
                const int at = static_cast<int>(std::lround(y * z)) - origin.y();
                painter.drawLine(part.left(), at, part.right(), at);
            }
        }
        if (m_frames.any()) {
            painter.setPen(QPen(kFrameEdge, 0));
            for (int x = x0 - x0 % m_frames.width; x <= x1; x += m_frames.width) {
                const int at = static_cast<int>(std::lround(x * z)) - origin.x();
                painter.drawLine(at, part.top(), at, part.bottom());
            }
            for (int y = y0 - y0 % m_frames.height; y <= y1; y += m_frames.height) {
                const int at = static_cast<int>(std::lround(y * z)) - origin.y();
                painter.drawLine(part.left(), at, part.right(), at);
            }
        }
        painter.restore();
    }
    const bool actual = std::abs(m_zoom - 1) < kSame;
    const QRegion pending = (QRegion(exposed) & picture) - part;
    for (const QRect& rect : pending) {
        painter.fillRect(rect, Qt::white);
    }
    const QRegion beyond = QRegion(exposed) - picture;
    for (const QRect& rect : beyond) {
        painter.fillRect(rect, actual ? QColor(Qt::white) : kBeyondPicture);
    }
}

void PictureView::drawRows(QPainter& painter, const QRectF& target, int x0, int y0, int x1,
                           int y1) {
    // Painted rows from their levels, in the colours they are shown in; the others (while a scan
    // paints them) from the pixels. Each is handed over as the whole picture with the rectangle
    // to draw, as Qt scales only what that rectangle takes.
    const int split = std::clamp(m_surface.levelRows(), y0, y1);
    const double z = m_zoom;
    if (split > y0) {
        const QRectF part(target.left(), target.top(), target.width(), (split - y0) * z);
        painter.drawImage(part, m_surface.levels(m_levelColours),
                          QRectF(x0, y0, x1 - x0, split - y0));
    }
    if (split == y1) {
        return;
    }
    const QRectF part(target.left(), target.top() + (split - y0) * z, target.width(),
                      (y1 - split) * z);
    const QRectF source(x0, split, x1 - x0, y1 - split);
    if (!m_levelGreys) {
        painter.drawImage(part, m_surface.pixels(), source);
        return;
    }
    // Pixels that are level colours in their greys: scaled first into a piece of the screen's
    // size, then recoloured, so that no more than what is shown is copied.
    const QRect screen = part.toAlignedRect();
    QImage piece(screen.size(), m_surface.pixels().format());
    piece.fill(Qt::transparent);
    {
        QPainter scaled(&piece);
        scaled.setCompositionMode(QPainter::CompositionMode_Source);
        scaled.drawImage(part.translated(-screen.topLeft()), m_surface.pixels(), source);
    }
    recolourLevels(piece, piece, 0, piece.height(), *m_levelGreys);
    painter.drawImage(screen.topLeft(), piece);
}

void PictureView::setFrameGrid(const imaging::FrameGrid& grid) {
    if (grid != m_frames) {
        m_frames = grid;
        viewport()->update();
    }
}

void PictureView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void PictureView::scrollContentsBy(int, int) {
    viewport()->update();
}

void PictureView::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier) || !m_zoomable) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    // One step per notch (120 eighths of a degree); smaller deltas of touchpads add up.
    m_wheelPending += event->angleDelta().y();
    while (std::abs(m_wheelPending) >= 120) {
        const int direction = m_wheelPending > 0 ? 1 : -1;
        m_wheelPending -= direction * 120;
        setZoom(nextStep(direction), event->position());
    }
    event->accept();
}

bool PictureView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = describe(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, viewport());
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void PictureView::setPen(std::optional<Pen> pen) {
    if (m_drawing && m_pen) {
        m_pen->release();
    }
    m_drawing = false;
    m_pen = std::move(pen);
    viewport()->setCursor(m_pen ? Qt::CrossCursor : Qt::ArrowCursor);
}

QPoint PictureView::pixelAt(QPointF position) const {
    const QPointF at = position + offset();
    return {static_cast<int>(std::floor(at.x() / m_zoom)),
            static_cast<int>(std::floor(at.y() / m_zoom))};
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    if (!m_pen || event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_drawing = true;
    m_pen->press(pixelAt(event->position()));
    event->accept();
}

void PictureView::mouseMoveEvent(QMouseEvent* event) {
    if (!m_pen || !m_drawing) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    m_pen->move(pixelAt(event->position()));
    event->accept();
}

void PictureView::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_pen || !m_drawing || event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_drawing = false;
    m_pen->release();
    event->accept();
}

QString PictureView::describe(QPoint position) const {
    const QPoint at = position + offset();
    const int x = static_cast<int>(std::floor(at.x() / m_zoom));
    const int y = static_cast<int>(std::floor(at.y() / m_zoom));
    const bool read = y >= m_firstRow && (m_endRow < 0 || y < m_endRow);
    const imaging::Colour colour = read ? m_surface.read(x, y) : imaging::kNoColour;
    if (colour == imaging::kNoColour || at.x() < 0 || at.y() < 0) {
        return tr("Zoom %1").arg(zoomText(m_zoom));
    }
    return tr("x %1, y %2: %3\nZoom %4").arg(x).arg(y).arg(levelName(colour), zoomText(m_zoom));
}

QSize PictureView::zoomedSize() const {
    // At most 32767 × 64 per side, well within an int.
    return {static_cast<int>(std::ceil(m_surface.width() * m_zoom - kSame)),
            static_cast<int>(std::ceil(m_surface.height() * m_zoom - kSame))};
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
    const int step = std::max(20, static_cast<int>(m_zoom));
    horizontalScrollBar()->setRange(0, std::max(0, content.width() - view.width()));
    horizontalScrollBar()->setPageStep(view.width());
    horizontalScrollBar()->setSingleStep(step);
    verticalScrollBar()->setRange(0, std::max(0, content.height() - view.height()));
    verticalScrollBar()->setPageStep(view.height());
    verticalScrollBar()->setSingleStep(step);
}

} // namespace window
