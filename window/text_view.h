#pragma once
// A readable view of the whole C text, however long: only the lines and columns in sight are
// drawn, from the text held in memory.

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace window {

// A text and where its lines start, made aside: finding the lines of hundreds of megabytes
// takes a moment.
struct IndexedText {
    std::string text;
    std::vector<std::size_t> lineStarts; // the first line starts at 0; at least one line
    std::size_t longestLine = 0;         // in characters, line ends left out
};

// Finds the lines of `text`, which ends them with LF or CR LF.
IndexedText indexLines(std::string text);

// Monospaced and read-only. Drawing costs only what is in sight, so a text of any length is
// scrolled as smoothly as a short one.
class CTextView final : public QAbstractScrollArea {
    Q_DECLARE_TR_FUNCTIONS(CTextView)

  public:
    explicit CTextView(QWidget* parent = nullptr);

    // Shows this text from its start; null shows nothing.
    void setText(std::shared_ptr<const IndexedText> text);
    std::size_t lineCount() const;
    std::size_t byteCount() const;
    // Line i as drawn, its line end left out.
    std::string_view line(std::size_t i) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    void updateScrollBars();
    int lineHeight() const;
    int charWidth() const;

    std::shared_ptr<const IndexedText> m_text;
};

} // namespace window
