#pragma once
// The main window: the picture, the row counters, the text pane and the File, Edit and View menus.

#include "ctext/c_array_writer.h"
#include "imaging/dither.h"
#include "imaging/plane_encoder.h"
#include "surface/picture_surface.h"
#include "window/file_dialog.h"

#include <QMainWindow>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QFrame;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QLineEdit;
class QMenu;
class QMimeData;

namespace window {

class PictureView;
class TextPane;

using ErrorReporter =
    std::function<void(QWidget* parent, const QString& title, const QString& text)>;
// Asks whether an existing file may be replaced; true for yes.
using ReplaceQuestion =
    std::function<bool(QWidget* parent, const QString& title, const QString& fileName)>;

// Sounds the system beep.
void systemBeep();
// Shows a warning message box.
void showErrorBox(QWidget* parent, const QString& title, const QString& text);
// Asks in a message box whether the file may be replaced; No is the default button.
bool askToReplace(QWidget* parent, const QString& title, const QString& fileName);

// Everything the window asks of the desktop, replaceable by tests.
struct Seams {
    FileChooser chooseFile = chooseWithFileDialog;
    std::function<void()> beep = systemBeep;
    // Reports a failed command: the title names the command, the text the file and the reason.
    ErrorReporter showError = showErrorBox;
    // Asked when a save dialog returns the name of a file that exists; No shows the dialog again.
    ReplaceQuestion confirmReplace = askToReplace;
    // A scan lets the window process its events at most this often, so that a picture of many
    // thousands of rows is not slowed down by the event loop; 0 processes them at every row.
    std::chrono::milliseconds yieldInterval{15};
    // The longest C text that Copy C Code puts on the clipboard; a longer one is refused with a
    // message that points to Save C Code.
    static constexpr std::size_t kClipboardLimit = 16 * 1024 * 1024;
    std::size_t clipboardLimit = kClipboardLimit;
    // Told after each row that Open has read and handed to the view: rows [first, end) of the
    // picture are shown.
    std::function<void(int first, int end)> rowsShown;
};

class Form1 final : public QMainWindow {
  public:
    explicit Form1(Seams seams = {}, QWidget* parent = nullptr);
    ~Form1() override;

    const surface::PictureSurface& surface() const { return m_surface; }
    // The exact text that Save C Code writes; empty before the first Convert.
    std::string cCodeText() const;
    // Runs Open on this file as if it had been chosen in the Open dialog: when Open is not
    // available it does nothing; a file that cannot be read is reported and leaves Open
    // available. True when the picture was opened.
    bool openFile(const QString& fileName);
    // Whether the window was closed; a running command stops and the program ends.
    bool closed() const { return m_closed; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    // One local file may be dropped while Open is available; anything else is refused.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    class Progress;
    enum class Stage { Empty, Opened, Converted };

    void createControls();
    void createActions();
    void updateActions();

    void open();
    // Open, the picture then painted in the dithered levels.
    void openDithered(imaging::Dither method);
    // Open's work after the name is known: load aside, show, quantize. Called while busy.
    bool load(const QString& fileName);
    // The plain Open's scan, which makes the planes too and keeps them. False when it is not the
    // plain Open or there is no memory for the planes; otherwise true, also when closed.
    bool quantizeKeepingPlanes(Progress& progress);
    void convert();
    // Convert's end once m_planes hold the planes: the text into the pane, and the beep.
    void finishConvert();
    void savePicture();
    void saveCCode();
    void copyCCode();
    void exportCCode();
    // Puts the text on the clipboard, or refuses one over the limit.
    void copyText(const QString& command, std::shared_ptr<const imaging::Planes> planes,
                  ctext::TextStyle style);
    void zoomBy(int direction);
    void zoomTo(double zoom);
    // The file a drag carries, if it may be dropped now: one local file while Open is available.
    std::optional<QString> droppableFile(const QMimeData* data) const;
    // Asks for a name in the dialog until the user cancels, names a new file or agrees to
    // replace the one named; empty on cancel.
    QString chooseSaveName(FileDialog& dialog, const QString& command, QWidget* parent);
    // Asks for a name in the dialog and saves aside; a cancel writes nothing. `save` holds what
    // it writes itself: a dialog closed, or planes replaced, during the save take nothing from it.
    void saveWith(FileDialog& dialog, QString command,
                  std::function<std::optional<base::Error>(const QString&)> save,
                  QWidget* parent = nullptr);

    // Runs work on another thread while the window keeps processing its events, for the steps
    // that take seconds on the largest pictures (reading, writing, producing the text). Returns
    // once the work is done.
    void runAside(std::function<void()> work);
    void reportFailure(const QString& command, const base::Error& failure);

    Seams m_seams;
    surface::PictureSurface m_surface;
    FileDialog m_commonDialog1;
    FileDialog m_commonDialog2;
    FileDialog m_exportDialog; // the C header that Export C Code saves

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
    QMenu* m_mOpenDithered = nullptr; // one entry per method, available exactly when Open is
    QAction* m_mExportC = nullptr;
    QAction* m_mQuit = nullptr;
    QMenu* m_mEdit = nullptr;
    QAction* m_mCopyC = nullptr;
    QMenu* m_mView = nullptr;
    QAction* m_mZoomIn = nullptr;
    QAction* m_mZoomOut = nullptr;
    QAction* m_mActualSize = nullptr;
    QAction* m_mZoomToFit = nullptr;

    Stage m_stage = Stage::Empty;
    imaging::Dither m_dither = imaging::Dither::None; // how the Open under way paints
    bool m_busy = false; // a command is waiting on a scan or on work aside
    bool m_closed = false;
    bool m_hasPicture = false; // the surface holds an opened picture (its scan may still run)
    // Set by Open from the loaded picture, read by Convert.
    std::int16_t m_imageHeight = 0;
    std::int16_t m_imageWidth = 0;
    // What the last Convert made; Save C Code writes its text. The plain Open makes the planes
    // in its scan already and keeps them here for Convert.
    // Shared with the saves and copies that write them, which may still run when they change.
    std::shared_ptr<const imaging::Planes> m_planes;
    bool m_planesKept = false; // Open made m_planes: Convert shows them without encoding
    QString m_pictureName;     // the opened picture's file
};

} // namespace window
