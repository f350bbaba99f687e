#include "window/text_pane.h"

#include "ctext/c_array_writer.h"

#include <QFont>
#include <QMimeData>
#include <QTextCursor>
#include <QTextDocumentFragment>

namespace window {

TextPane::TextPane(QWidget* parent) : QPlainTextEdit(parent) {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::Monospace);
    font.setPointSizeF(8.25);
    setFont(font);
    // What is saved is the generated text, so edits made here could not be saved.
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    // At its laid-out size of 33 x 17 pixels, scroll bars would cover all of the text; the
    // wheel and the keys still scroll it.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void TextPane::showArrays(const imaging::Planes& planes) {
    std::string shown;
    ctext::writeArraysTo(planes, [&](std::string_view piece) {
        shown.append(piece.substr(0, kShownBytes - shown.size()));
        return shown.size() < kShownBytes;
    });
    showText(std::move(shown), ctext::arraysTextSize(planes));
}

void TextPane::showText(std::string shown, std::size_t total) {
    m_crlf = shown.find("\r\n") != std::string::npos;
    QString note;
    if (shown.size() < total) {
        // End the shown part on a whole line.
        if (const auto end = shown.rfind('\n'); end != std::string::npos) {
            shown.resize(end + 1);
        }
        note = tr("\n[Only the first %L1 of %L2 bytes are shown here. "
                  "Save C Code writes the whole text.]")
                   .arg(shown.size())
                   .arg(total);
    }
    QString display = QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size()));
    display.remove(QLatin1Char('\r'));
    setPlainText(display + note);
}

QMimeData* TextPane::createMimeDataFromSelection() const {
    QString text = textCursor().selection().toPlainText();
    if (m_crlf) {
        text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    }
    auto* data = new QMimeData;
    data->setText(text);
    return data;
}

} // namespace window
