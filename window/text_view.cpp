#include "window/text_view.h"

#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cstring>

namespace window {

IndexedText indexLines(std::string text) {
    IndexedText indexed;
    indexed.lineStarts.push_back(0);
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    for (const char* at = begin; at < end;) {
        const auto* found = static_cast<const char*>(std::memchr(at, '\n', end - at));
        if (found == nullptr) {
            break;
        }
        indexed.lineStarts.push_back(static_cast<std::size_t>(found + 1 - begin));
        at = found + 1;
    }
    indexed.text = std::move(text);
    for (std::size_t i = 0; i < indexed.lineStarts.size(); ++i) {
        const std::size_t start = indexed.lineStarts[i];
        const std::size_t stop =
            i + 1 < indexed.lineStarts.size() ? indexed.lineStarts[i + 1] : indexed.text.size();
        indexed.longestLine = std::max(indexed.longestLine, stop - start);
    }
    return indexed;
}

CTextView::CTextView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
}

void CTextView::setText(std::shared_ptr<const IndexedText> text) {
    m_text = std::move(text);
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

std::size_t CTextView::lineCount() const {
    return m_text ? m_text->lineStarts.size() : 0;
}

std::size_t CTextView::byteCount() const {
    return m_text ? m_text->text.size() : 0;
}

std::string_view CTextView::line(std::size_t i) const {
    if (i >= lineCount()) {
        return {};
    }
    const std::string& text = m_text->text;
    const std::size_t start = m_text->lineStarts[i];
    std::size_t stop = i + 1 < lineCount() ? m_text->lineStarts[i + 1] : text.size();
    if (stop > start && text[stop - 1] == '\n') {
        --stop;
    }
    if (stop > start && text[stop - 1] == '\r') {
        --stop;
    }
    return std::string_view(text).substr(start, stop - start);
}

int CTextView::lineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int CTextView::charWidth() const {
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
}

void CTextView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::Text));
    const QRect exposed = event->rect();
    const int height = lineHeight();
    const int width = charWidth();
    // The vertical bar counts lines, the horizontal one characters.
    const auto firstLine = static_cast<std::size_t>(verticalScrollBar()->value());
    const auto firstColumn = static_cast<std::size_t>(horizontalScrollBar()->value());
    const std::size_t columns = static_cast<std::size_t>(viewport()->width() / width) + 2;
    const int ascent = fontMetrics().ascent();
    for (std::size_t i = firstLine + static_cast<std::size_t>(exposed.top() / height);
         i < lineCount(); ++i) {
        const int top = static_cast<int>(i - firstLine) * height;
        if (top > exposed.bottom()) {
            break;
        }
        const std::string_view shown =
            line(i).substr(std::min(firstColumn, line(i).size()), columns);
        painter.drawText(0, top + ascent,
                         QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size())));
    }
}

void CTextView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void CTextView::scrollContentsBy(int, int) {
    viewport()->update();
}

void CTextView::updateScrollBars() {
    const int rows = std::max(1, viewport()->height() / lineHeight());
    const int columns = std::max(1, viewport()->width() / charWidth());
    // A scroll bar's range is an int: 2^31 lines or columns, far beyond any picture's text.
    const auto lines = static_cast<int>(std::min<std::size_t>(lineCount(), 0x7FFFFFFF));
    const auto longest =
        static_cast<int>(std::min<std::size_t>(m_text ? m_text->longestLine : 0, 0x7FFFFFFF));
    verticalScrollBar()->setRange(0, std::max(0, lines - rows));
    verticalScrollBar()->setPageStep(rows);
    horizontalScrollBar()->setRange(0, std::max(0, longest - columns));
    horizontalScrollBar()->setPageStep(columns);
}

} // namespace window
