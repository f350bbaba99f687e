#pragma once
// Drives Form1 through its seams: answers its file dialogs, counts beeps, records errors.

#include "window/form1.h"

#include <QAction>
#include <QImage>
#include <QLineEdit>
#include <QString>
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace window {
class PictureView;
}

namespace window_test {

struct ShownError {
    QString title;
    QString text;
};

// Which of Open, Convert, Save Picture and Save C Code can be chosen.
using MenuState = std::array<bool, 4>;
inline constexpr MenuState kAtStart{true, false, false, false};
inline constexpr MenuState kNone{false, false, false, false};
inline constexpr MenuState kOpened{false, true, true, false};
inline constexpr MenuState kConverted{false, true, true, true};

class Harness {
  public:
    explicit Harness(std::chrono::milliseconds yieldInterval = std::chrono::milliseconds(15),
                     std::size_t clipboardLimit = window::Seams::kClipboardLimit);

    window::Form1& form() { return *m_form; }
    QAction* action(const char* name) const;
    QLineEdit* field(const char* name) const;
    MenuState menu() const;
    std::string paneText() const;
    // What Picture1 shows, as rendered on screen.
    QImage shown() const;
    window::PictureView& view() const;

    // The next file dialogs return these names in turn ("" is a cancel).
    void answer(const QString& name) { m_answers.push_back(name); }
    // The next questions whether to replace a file get these answers in turn (yes once they
    // run out).
    void answerReplace(bool yes) { m_replaceAnswers.push_back(yes); }
    // The files that the window asked to replace, in order.
    const std::vector<QString>& replaceQuestions() const { return m_replaceQuestions; }
    // Chooses a menu entry, answering its dialog with `name`; returns once the command ended.
    void choose(const char* action, const QString& name);
    void choose(const char* action);
    // Form1::openFile, returning once Open ended: true when the picture was opened.
    bool openFile(const QString& name);
    // Processes events until no command is under way: a command goes on from the event loop
    // once its work aside is done.
    void settle();

    const std::vector<window::DialogRequest>& requests() const { return m_requests; }
    // The menu state seen while each dialog was shown.
    const std::vector<MenuState>& menuInDialogs() const { return m_menuInDialogs; }
    int beeps() const { return m_beeps; }
    // How often the window started another one, and whether the next start succeeds.
    int windowsStarted() const { return m_windowsStarted; }
    void failWindowStarts() { m_windowStartFails = true; }
    const std::vector<ShownError>& errors() const { return m_errors; }
    // Called after each row that Open reads and shows: rows [first, end) are shown.
    void onRowsShown(std::function<void(int first, int end)> handler) {
        m_rowsShown = std::move(handler);
    }

  private:
    std::unique_ptr<window::Form1> m_form;
    std::deque<QString> m_answers;
    std::deque<bool> m_replaceAnswers;
    std::vector<QString> m_replaceQuestions;
    std::vector<window::DialogRequest> m_requests;
    std::vector<MenuState> m_menuInDialogs;
    std::vector<ShownError> m_errors;
    int m_beeps = 0;
    int m_windowsStarted = 0;
    bool m_windowStartFails = false;
    std::function<void(int, int)> m_rowsShown;
};

// An RGB picture from rows of 0xBBGGRR colours.
QImage pictureOf(const std::vector<std::vector<std::uint32_t>>& rows);
// Writes a picture as a bitmap; fails the test if it cannot.
void writeBitmap(const QImage& picture, const QString& fileName);
// The colour at (x, y) of an image as 0xBBGGRR.
std::uint32_t colourAt(const QImage& image, int x, int y);
QByteArray readAll(const QString& fileName);

} // namespace window_test
