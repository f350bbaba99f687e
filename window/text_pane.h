#pragma once
// The pane that shows the generated C text.

#include "imaging/plane_encoder.h"

#include <QCoreApplication>
#include <QPlainTextEdit>

namespace window {

// Shows the C text of two planes. The widget shows the text only up to a bounded size: laying
// out hundreds of megabytes would freeze the window, so a longer text is shown as its start and
// a note saying what is left out. What is saved is made from the planes, not from the widget.
class TextPane final : public QPlainTextEdit {
    Q_DECLARE_TR_FUNCTIONS(TextPane)

  public:
    // The most bytes of the text that the widget shows.
    static constexpr std::size_t kShownBytes = 64 * 1024;

    explicit TextPane(QWidget* parent = nullptr);

    // Replaces what is shown by the C text of these planes.
    void showArrays(const imaging::Planes& planes);
    // Replaces what is shown by this C text (CR LF or LF line ends), shown only up to
    // kShownBytes of `total`.
    void showText(std::string shown, std::size_t total);

  protected:
    // A copied selection has the line ends of the text that is saved.
    QMimeData* createMimeDataFromSelection() const override;

  private:
    bool m_crlf = true;
};

} // namespace window
