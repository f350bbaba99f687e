#pragma once
// The main window: the picture, the row counters, the text pane and the File, Edit and View menus.

#include "conversion/pipeline.h"
#include "conversion/stream.h"
#include "ctext/c_array_writer.h"
#include "imaging/dither.h"
#include "imaging/plane_encoder.h"
#include "surface/picture_surface.h"
#include "window/export_dialog.h"
#include "window/file_dialog.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QDockWidget;
class QFrame;
class QLabel;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QLineEdit;
class QMenu;
class QMimeData;

namespace surface {
class PictureLoader;
}

namespace window {

class CTextView;
class PictureView;
class TextPane;

using ErrorReporter =
    std::function<void(QWidget* parent, const QString& title, const QString& text)>;
// Asks whether an existing file may be replaced; true for yes.
using ReplaceQuestion =
    std::function<bool(QWidget* parent, const QString& title, const QString& fileName)>;

// Sounds the system beep.
void systemBeep();
// Starts another window of the program, in a process of its own; false if it could not start.
bool startWindowProcess();
// Shows a warning message box.
void showErrorBox(QWidget* parent, const QString& title, const QString& text);
// Asks in a message box whether the file may be replaced; No is the default button.
bool askToReplace(QWidget* parent, const QString& title, const QString& fileName);

// Everything the window asks of the desktop, replaceable by tests.
struct Seams {
    FileChooser chooseFile = chooseWithFileDialog;
    std::function<void()> beep = systemBeep;
    std::function<bool()> startWindow = startWindowProcess;
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
    Q_DECLARE_TR_FUNCTIONS(Form1)

  public:
    explicit Form1(Seams seams = {}, QWidget* parent = nullptr);
    ~Form1() override;

    const surface::PictureSurface& surface() const { return m_surface; }
    // The exact text that Save C Code writes; empty before the first Convert.
    std::string cCodeText() const;
    // Starts Open on this file as if it had been chosen in the Open dialog: when Open is not
    // available it does nothing and returns false. Open goes on from the event loop; once it
    // has ended (busy() is false), Convert is available if the picture was opened, while a file
    // that cannot be read has been reported and has left Open available.
    bool openFile(const QString& fileName);
    // Whether a command is under way (waiting on a dialog, a scan or work aside).
    bool busy() const { return m_busy; }
    // Whether the window was closed; a running command stops and the program ends.
    bool closed() const { return m_closed; }
    // The C text view of View > C Text (made when first shown), or null.
    const CTextView* cTextView() const { return m_cTextView; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // One local file may be dropped while Open is available; anything else is refused.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    class Progress;
    class Command;
    enum class Stage { Empty, Opened, Converted };
    // What a command needs of the window to start.
    enum class Needs { Nothing, Empty, Picture, Planes };
    // A pixel a stroke changed, with its colours before and after.
    struct PixelChange {
        int x;
        int y;
        // As stored: a clear pixel of a picture with alpha comes back clear.
        imaging::Pixel before;
        imaging::Pixel after;
    };
    using Stroke = std::vector<PixelChange>;

    void createControls();
    // Places the controls: as laid out, or with the frame taking all the room (Fill Window).
    void placeControls();
    void createActions();
    void updateActions();

    // Whether a command that needs this may start now: none is under way, the window is open
    // and the stage allows it.
    bool mayStart(Needs needs) const;
    // The command, if it may start; the window is busy for as long as it lives.
    std::optional<Command> begin(Needs needs);
    // Ends the command, then reports why it failed; the window is as it was before it.
    void fail(Command command, const QString& title, const QString& text);
    void fail(Command command, const QString& title, const base::Error& failure);
    // Starts `work` aside; `then` goes on with the command and the work's result once it is
    // done, unless the window is closed first.
    template <typename Work, typename Then> void aside(Command command, Work work, Then then);

    void open();
    // Open, the picture then painted in the dithered levels.
    void openDithered(imaging::Dither method);
    // Open, then the dialog of the converter's choices for a display; its OK reads the picture
    // through them.
    void openForDisplay();
    // Open's work once the name is known: opens the file aside, then reads its rows.
    void load(Command command, const QString& fileName);
    // Open's rows read one by one and shown, then the scan that paints the levels.
    void readRows(Command command, std::unique_ptr<surface::PictureLoader> loader,
                  const QString& fileName);
    // Open's scan of `rows` into the levels painted on the surface (of the rows' extent) and the
    // planes kept for Convert.
    void scanLevels(Command command, const QString& fileName, conversion::RowSource& rows,
                    const conversion::Reduction& how);
    // Open for a Display once the picture is read: its dialog, then the scan of the picture
    // through the choices; a cancel puts `before` back, and Open is available again.
    void chooseForDisplay(Command command, const QString& fileName,
                          const surface::PictureSurface& before);
    void scanForDisplay(Command command, const QString& fileName,
                        const surface::PictureSurface& before);
    // Back to the surface as it was before Open (`before`): Open is available again.
    void putBack(const surface::PictureSurface& before);
    // Shows the levels as the panel's greys, or in their own colours.
    void showAsPanel(bool shown);
    void convert();
    // Convert's end once m_planes hold the planes: the text into the pane, and the beep.
    void finishConvert(Command command);
    void savePicture();
    void saveCCode();
    void copyCCode();
    void exportCCode();
    // Puts the text on the clipboard, or refuses one over the limit.
    void copyText(Needs needs, const QString& command,
                  std::shared_ptr<const imaging::Planes> planes, ctext::TextStyle style);
    void newWindow();
    // Shows or hides the C text view; shown, it is made from the planes of the last Convert.
    void showCText(bool shown);
    // Makes the C text view's text aside, if it is shown and does not hold the last Convert's.
    void renderCText();
    // Whether pixels may be drawn now: a picture is open, its scan done, no command under way.
    bool mayDraw() const;
    // Takes the pencil with this level, or puts it down.
    void takePencil(std::optional<imaging::Colour> level);
    void strokeBegin(QPoint pixel);
    void strokeTo(QPoint pixel);
    void strokeEnd();
    // Paints one pixel of the stroke under way, noting what it was.
    void paintPixel(int x, int y);
    // Sets the pixels of a stroke to their colours before (undo) or after (redo).
    void applyStroke(const Stroke& stroke, bool after);
    void undo();
    void redo();
    void zoomBy(int direction);
    void zoomTo(double zoom);
    // The file a drag carries, if it may be dropped now: one local file while Open is available.
    std::optional<QString> droppableFile(const QMimeData* data) const;
    // Asks for a name in the dialog until the user cancels, names a new file or agrees to
    // replace the one named; empty on cancel.
    QString chooseSaveName(FileDialog& dialog, const QString& command, QWidget* parent);
    // Asks for a name in the dialog and saves aside; a cancel writes nothing. `save` holds what
    // it writes itself: a dialog closed, planes replaced or the window closed during the save
    // take nothing from it.
    void saveWith(FileDialog& dialog, Needs needs, QString command,
                  std::function<std::optional<base::Error>(const QString&)> save,
                  QWidget* parent = nullptr);

    Seams m_seams;
    surface::PictureSurface m_surface;
    FileDialog m_pictureDialog; // Open and Save Picture
    FileDialog m_textDialog;    // Save C Code
    FileDialog m_exportDialog;  // the C header that Export C Code saves
    // The export dialog's choices, kept for the rest of the run.
    std::shared_ptr<ExportDialog::Choices> m_exportChoices =
        std::make_shared<ExportDialog::Choices>();

    QFrame* m_pictureFrame = nullptr;
    PictureView* m_pictureView = nullptr;
    QLineEdit* m_rowsDone = nullptr;
    QLineEdit* m_rowsTotal = nullptr;
    TextPane* m_textPane = nullptr;
    QMenu* m_fileMenu = nullptr;
    QAction* m_open = nullptr;
    QAction* m_convert = nullptr;
    QAction* m_savePicture = nullptr;
    QAction* m_saveCCode = nullptr;
    QMenu* m_openDithered = nullptr; // one entry per method, available exactly when Open is
    QAction* m_openForDisplay = nullptr;
    QAction* m_exportCCode = nullptr;
    QAction* m_quit = nullptr;
    QMenu* m_editMenu = nullptr;
    QAction* m_copyCCode = nullptr;
    QMenu* m_viewMenu = nullptr;
    QAction* m_zoomIn = nullptr;
    QAction* m_zoomOut = nullptr;
    QAction* m_actualSize = nullptr;
    QAction* m_zoomToFit = nullptr;
    QAction* m_fillWindow = nullptr;
    QAction* m_showCText = nullptr;
    QAction* m_asPanel = nullptr;
    QAction* m_newWindow = nullptr;
    QMenu* m_pencilMenu = nullptr;
    std::vector<QAction*> m_pencilLevels; // black, dark grey, light grey, white
    QAction* m_putDownPencil = nullptr;
    QAction* m_undo = nullptr;
    QAction* m_redo = nullptr;
    QDockWidget* m_cTextDock = nullptr;
    CTextView* m_cTextView = nullptr;
    QLabel* m_cTextCount = nullptr;
    // The planes whose text the view holds, or is being made.
    std::shared_ptr<const imaging::Planes> m_cTextPlanes;

    Stage m_stage = Stage::Empty;
    imaging::Dither m_dither = imaging::Dither::None; // how the Open under way paints
    bool m_forDisplay = false; // the Open under way asks for the display's choices
    // The choices of Open for a Display, kept for the rest of the run.
    std::shared_ptr<conversion::ConvertOptions> m_displayChoices =
        std::make_shared<conversion::ConvertOptions>();
    // The greys the panel shows for the levels: those of the last Open for a Display.
    imaging::Levels m_panelLevels = imaging::kBandValues;
    bool m_busy = false;         // a Command lives
    QPointer<QObject> m_waiting; // the command's work aside, while the command waits on it
    bool m_closed = false;
    bool m_hasPicture = false; // the surface holds an opened picture (its scan may still run)
    // Set by Open from the loaded picture, read by Convert.
    std::int16_t m_imageHeight = 0;
    std::int16_t m_imageWidth = 0;
    // What the last Convert made; Save C Code writes its text. The plain Open makes the planes
    // in its scan already and keeps them here for Convert.
    // Shared with the saves and copies that write them, which may still run when they change.
    std::shared_ptr<const imaging::Planes> m_planes;
    // The planes of the surface as it is now, made by Open's scan or a Convert; dropped when a
    // stroke, an undo or a redo changes the surface, so that Convert reads it again.
    std::shared_ptr<const imaging::Planes> m_surfacePlanes;
    QString m_pictureName; // the opened picture's file

    std::optional<imaging::Colour> m_pencil; // the level the pencil paints, while it is held
    std::optional<Stroke> m_stroke;          // the stroke under way
    QPoint m_strokeAt;                       // its last pixel
    std::vector<Stroke> m_undoStrokes;
    std::vector<Stroke> m_redoStrokes;
};

} // namespace window
