#pragma once
// The pane that holds the generated C text.

#include "imaging/plane_encoder.h"

#include <QPlainTextEdit>
#include <functional>
#include <string>
#include <string_view>

namespace window {

// Holds the C text of two planes. The text is kept as what it is made from, the planes and the
// width (an eighth of its size), and produced again whenever it is needed, always the same. The
// widget shows the text only up to a bounded size: laying out hundreds of megabytes would
// freeze the window, so a longer text is shown as its start and a note saying what is left out.
class TextPane final : public QPlainTextEdit {
  public:
    // The most bytes of the text that the widget shows.
    static constexpr std::size_t kShownBytes = 64 * 1024;

    explicit TextPane(QWidget* parent = nullptr);

    // Replaces the whole text by the C text of these planes.
    void setArrays(imaging::Planes planes, int width);

    bool empty() const { return m_width == 0; }
    std::size_t size() const;
    // Hands the whole text to `sink` in pieces, in order; false when the sink refused a piece.
    bool write(const std::function<bool(std::string_view)>& sink) const;
    // The whole text at once.
    std::string text() const;

  private:
    imaging::Planes m_planes;
    int m_width = 0;
};

} // namespace window
