#pragma once
// The main window: the picture, the row counters, the text pane and the File menu.

#include "imaging/plane_encoder.h"
#include "surface/picture_surface.h"
#include "window/file_dialog.h"

#include <QMainWindow>
#include <chrono>
#include <cstdint>
#include <functional>

class QAction;
class QFrame;
class QLineEdit;
class QMenu;

namespace window {

class PictureView;
class TextPane;

using ErrorReporter =
    std::function<void(QWidget* parent, const QString& title, const QString& text)>;

// Sounds the system beep.
void systemBeep();
// Shows a warning message box.
void showErrorBox(QWidget* parent, const QString& title, const QString& text);

// Everything the window asks of the desktop, replaceable by tests.
struct Seams {
    FileChooser chooseFile = chooseWithFileDialog;
    std::function<void()> beep = systemBeep;
    // Reports a failed command: the title names the command, the text the file and the reason.
    ErrorReporter showError = showErrorBox;
    // A scan lets the window process its events at most this often, so that a picture of many
    // thousands of rows is not slowed down by the event loop; 0 processes them at every row.
    std::chrono::milliseconds yieldInterval{15};
};

class Form1 final : public QMainWindow {
  public:
    explicit Form1(Seams seams = {}, QWidget* parent = nullptr);
    ~Form1() override;

    const surface::PictureSurface& surface() const { return m_surface; }
    // The exact text that Save C Code writes; empty before the first Convert.
    std::string cCodeText() const;
    // Whether the window was closed; a running command stops and the program ends.
    bool closed() const { return m_closed; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    class Progress;
    enum class Stage { Empty, Opened, Converted };

    void createControls();
    void createActions();
    void updateActions();

    void open();
    void convert();
    void savePicture();
    void saveCCode();
    // Asks for a name in the dialog and saves aside; a cancel writes nothing.
    void saveWith(FileDialog& dialog, const QString& command,
                  const std::function<std::optional<surface::Failure>(const QString&)>& save);

    // Runs work on another thread while the window keeps processing its events, for the steps
    // that take seconds on the largest pictures (reading, writing, producing the text).
    void runAside(const std::function<void()>& work);
    void reportFailure(const QString& command, const surface::Failure& failure);

    Seams m_seams;
    surface::PictureSurface m_surface;
    FileDialog m_commonDialog1;
    FileDialog m_commonDialog2;

    QFrame* m_frame2 = nullptr;
    PictureView* m_picture1 = nullptr;
    QLineEdit* m_text4 = nullptr;
    QLineEdit* m_text5 = nullptr;
    TextPane* m_richTextBox1 = nullptr;
    QMenu* m_mFile = nullptr;
    QAction* m_mOpen = nullptr;
    QAction* m_mConvert = nullptr;
    QAction* m_mSaveP = nullptr;
    QAction* m_mSaveC = nullptr;

    Stage m_stage = Stage::Empty;
    bool m_busy = false; // a command is waiting on a scan or on work aside
    bool m_closed = false;
    // Set by Open from the loaded picture, read by Convert.
    std::int16_t m_imageHeight = 0;
    std::int16_t m_imageWidth = 0;
    // What the last Convert made; Save C Code writes its text.
    imaging::Planes m_planes;
};

} // namespace window
