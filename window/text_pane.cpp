#include "window/text_pane.h"

#include <QFont>

namespace window {

TextPane::TextPane(QWidget* parent) : QPlainTextEdit(parent) {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::Monospace);
    font.setPointSizeF(8.25);
    setFont(font);
    // The text is generated; what is saved is the kept text, so edits could not be saved.
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
}

void TextPane::setText(std::string text) {
    m_text = std::move(text);
    std::string_view shown = m_text;
    QString note;
    if (shown.size() > kShownBytes) {
        shown = shown.substr(0, kShownBytes);
        // End the shown part on a whole line where there is one.
        if (const auto end = shown.rfind('\n'); end != std::string_view::npos) {
            shown = shown.substr(0, end + 1);
        }
        note = QStringLiteral("\n[Only the first %L1 of %L2 bytes are shown here. "
                              "Save C Code writes the whole text.]")
                   .arg(shown.size())
                   .arg(m_text.size());
    }
    QString display = QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size()));
    display.remove(QLatin1Char('\r'));
    setPlainText(display + note);
}

} // namespace window
