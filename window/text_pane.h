#pragma once
// The pane that holds the generated C text.

#include <QPlainTextEdit>
#include <string>

namespace window {

// Keeps the exact text, which is what gets saved. The widget shows the text itself only up to a
// bounded size: laying out a text of hundreds of megabytes would freeze the window, so a longer
// text is shown as its start followed by a note saying how much is left out.
class TextPane final : public QPlainTextEdit {
  public:
    // The most bytes of the text that the widget shows.
    static constexpr std::size_t kShownBytes = 64 * 1024;

    explicit TextPane(QWidget* parent = nullptr);

    // Replaces the whole text.
    void setText(std::string text);
    const std::string& text() const { return m_text; }

  private:
    std::string m_text;
};

} // namespace window
