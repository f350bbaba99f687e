#include "window/form1.h"

#include "conversion/output.h"
#include "conversion/pipeline.h"
#include "conversion/stages.h"
#include "conversion/streamed.h"
#include "ctext/c_array_writer.h"
#include "imaging/plane_encoder.h"
#include "surface/picture_loader.h"
#include "window/aside.h"
#include "window/display_dialog.h"
#include "window/export_dialog.h"
#include "window/picture_view.h"
#include "window/text_pane.h"
#include "window/text_view.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <tuple>
#include <utility>

namespace window {
namespace {

// A streamed decoder's rows as the loader takes them: red first, alpha kept in the top byte
// of a picture that has it.
class StreamedPicture final : public surface::StreamedRows {
  public:
    explicit StreamedPicture(std::unique_ptr<conversion::RowSource> rows)
        : m_rows(std::move(rows)) {}
    int width() const override { return m_rows->width(); }
    int height() const override { return m_rows->height(); }
    // A GIF's clear index carries its alpha in its colour.
    bool alpha() const override { return m_rows->alpha(); }
    std::optional<base::Error> readRow(std::uint32_t* row) override {
        conversion::SourceRow read;
        if (auto failed = m_rows->next(read)) {
            return failed;
        }
        const auto width = static_cast<std::size_t>(m_rows->width());
        if (m_rows->form() == conversion::RowForm::Indices) {
            const auto palette = m_rows->palette();
            for (std::size_t x = 0; x < width; ++x) {
                row[x] = palette[read.bytes[x]];
            }
            return std::nullopt;
        }
        std::memcpy(row, read.bytes, width * sizeof(std::uint32_t));
        if (!m_rows->alpha()) {
            for (std::size_t x = 0; x < width; ++x) {
                row[x] |= 0xFF000000u;
            }
        }
        return std::nullopt;
    }

  private:
    std::unique_ptr<conversion::RowSource> m_rows;
};

// PNG, GIF and JPEG pictures stream into the window as bitmaps do, shown row by row as they
// arrive.
base::Result<std::unique_ptr<surface::StreamedRows>> streamedRows(QFile& file,
                                                                  const std::string& name) {
    auto opened = conversion::openStreamedRows(file, name);
    if (auto* failure = std::get_if<base::Error>(&opened)) {
        return std::move(*failure);
    }
    auto rows = std::move(std::get<std::unique_ptr<conversion::RowSource>>(opened));
    if (!rows) {
        return std::unique_ptr<surface::StreamedRows>();
    }
    return std::unique_ptr<surface::StreamedRows>(
        std::make_unique<StreamedPicture>(std::move(rows)));
}

// The laid-out client area and controls, in pixels.
constexpr QSize kClientSize(420, 364);
constexpr QRect kFrame2(0, 0, 417, 337);
constexpr QRect kText4(0, 344, 49, 19);
constexpr QRect kText5(56, 344, 49, 19);
constexpr QRect kRichTextBox1(120, 344, 33, 17);
// What the laid-out frame leaves of the client area on the right and below, kept when the frame
// fills the window.
constexpr int kRightOfFrame = kClientSize.width() - kFrame2.width();
constexpr int kBelowFrame = kClientSize.height() - kFrame2.height();

// Takes a drag or drop as a copy, or as a link where the source offers no copy. Never as a
// move: the source would then delete the file it thinks we took.
bool acceptAsCopy(QDropEvent* event) {
    for (const Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction}) {
        if (event->possibleActions() & action) {
            event->setDropAction(action);
            event->accept();
            return true;
        }
    }
    event->ignore();
    return false;
}

// The rows of a surface as the pipeline reads them: a painted one as its level indices, one
// still (partly) in pixels as pixels.
std::unique_ptr<conversion::RowSource> rowsOf(const surface::PictureSurface& picture) {
    if (picture.levelRows() == picture.height()) {
        return std::make_unique<conversion::IndexRows>(
            picture.width(), picture.height(), [&picture](int y) { return picture.levelRow(y); },
            surface::PictureSurface::levelPixels(), picture.hasAlpha());
    }
    return std::make_unique<conversion::PixelRows>(
        picture.width(), picture.height(), [&picture](int y) { return picture.row(y).data(); },
        picture.hasAlpha());
}

// Rows through the transparency stage where they carry alpha: with `mask`, each row comes with
// its opaque pixels, as the converter's --mask reads them (the window has no key colour);
// without, pixels with alpha are shown over white. Rows without alpha are as they are.
class ClearRows {
  public:
    ClearRows(std::unique_ptr<conversion::RowSource> rows, bool mask) : m_rows(std::move(rows)) {
        if (m_rows->alpha()) {
            m_clear.emplace(*m_rows, mask, std::nullopt);
        }
    }
    ClearRows(const ClearRows&) = delete;
    ClearRows& operator=(const ClearRows&) = delete;
    conversion::RowSource& rows() {
        return m_clear ? static_cast<conversion::RowSource&>(*m_clear) : *m_rows;
    }

  private:
    std::unique_ptr<conversion::RowSource> m_rows;
    std::optional<conversion::TransparencyRows> m_clear;
};

// The planes of a surface with alpha, its mask too, as Convert makes them.
base::Result<imaging::Planes> maskedPlanes(const surface::PictureSurface& picture,
                                           const std::string& name) {
    ClearRows rows(rowsOf(picture), true);
    imaging::Planes planes = imaging::makePlanes(picture.width(), picture.height());
    conversion::PlaneSink sink(planes, true);
    conversion::LevelSink* const sinks[] = {&sink};
    imaging::NoProgress silent;
    const auto ran = conversion::runRows(rows.rows(), {}, sinks, {silent}, name);
    if (const auto* failure = std::get_if<base::Error>(&ran)) {
        return *failure;
    }
    sink.finish();
    return planes;
}

// Open's work aside: the loader, and why the file could not be opened.
struct Opened {
    std::unique_ptr<surface::PictureLoader> loader;
    std::optional<base::Error> failure;
};

} // namespace

void systemBeep() {
    QApplication::beep();
}

bool startWindowProcess() {
    return QProcess::startDetached(QCoreApplication::applicationFilePath(), {});
}

void showErrorBox(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::warning(parent, title, text);
}

bool askToReplace(QWidget* parent, const QString& title, const QString& fileName) {
    const QString text = Form1::tr("%1 already exists.\nDo you want to replace it?")
                             .arg(QDir::toNativeSeparators(fileName));
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

// A command under way. While one lives the window is busy and no other command starts; its end,
// by whatever path (done, failed, the window closed), makes the menus match the window's stage
// again and restores the cursor.
class Form1::Command {
  public:
    explicit Command(Form1& form) : m_form(&form) {
        m_form->m_busy = true;
        m_form->updateActions();
    }
    Command(Command&& other) noexcept
        : m_form(std::exchange(other.m_form, nullptr)),
          m_cursorShown(std::exchange(other.m_cursorShown, false)) {}
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;
    Command& operator=(Command&&) = delete;
    ~Command() { end(); }

    void showBusyCursor() {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        m_cursorShown = true;
    }
    void hideBusyCursor() {
        if (std::exchange(m_cursorShown, false)) {
            QApplication::restoreOverrideCursor();
        }
    }
    // Ends the command now, before what it still does as an idle window (a beep, a message).
    void end() {
        hideBusyCursor();
        if (Form1* form = std::exchange(m_form, nullptr)) {
            form->m_busy = false;
            form->updateActions();
        }
    }

  private:
    Form1* m_form;
    bool m_cursorShown = false;
};

// Shows the scans' progress in Text5 (total) and Text4 (rows done), and lets the window
// process its events between rows.
class Form1::Progress final : public imaging::RowProgress {
  public:
    explicit Progress(Form1& form) : m_form(form) {}

    void reportTotal(std::int16_t rows) override {
        m_form.m_rowsTotal->setText(QString::number(rows));
    }
    void reportRowsDone(std::int16_t rows) override {
        m_form.m_rowsDone->setText(QString::number(rows));
    }
    imaging::Flow yield() override {
        if (!m_form.m_closed) {
            const auto now = std::chrono::steady_clock::now();
            if (!m_yielded || now - m_last >= m_form.m_seams.yieldInterval) {
                QCoreApplication::processEvents();
                m_last = std::chrono::steady_clock::now();
                m_yielded = true;
            }
        }
        return m_form.m_closed ? imaging::Flow::Stop : imaging::Flow::Continue;
    }

  private:
    Form1& m_form;
    bool m_yielded = false;
    std::chrono::steady_clock::time_point m_last;
};

Form1::Form1(Seams seams, QWidget* parent)
    : QMainWindow(parent), m_seams(std::move(seams)),
      m_pictureDialog(tr("Bitmap Files (*.bmp)|*.bmp"), m_seams.chooseFile,
                      {tr("All Pictures|*.bmp;*.png;*.gif;*.jpg;*.jpeg;*.pbm;*.pgm;*.ppm;*.pnm")}),
      m_textDialog(tr("Text Files (*.txt)|*.txt"), m_seams.chooseFile),
      m_exportDialog(tr("C Headers (*.h)|*.h"), m_seams.chooseFile) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(tr("Form1"));
    setAcceptDrops(true);
    createControls();
    createActions();
    updateActions();
    resize(kClientSize.width(), kClientSize.height() + menuBar()->sizeHint().height());
}

Form1::~Form1() {
    // A command waiting on work aside ends while the window is whole; the work goes on unseen.
    m_closed = true;
    delete m_waiting.data();
    // The view draws from the surface; it goes first.
    m_surface.setRowPaintedHandler({});
    delete centralWidget();
}

void Form1::createControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);

    // Fixed places, as laid out: the controls stay where they are when the window is resized.
    m_pictureFrame = new QFrame(client);
    m_pictureFrame->setObjectName(QStringLiteral("Frame2"));
    m_pictureFrame->setGeometry(kFrame2);

    m_pictureView = new PictureView(m_surface, m_pictureFrame);
    m_pictureView->setObjectName(QStringLiteral("Picture1"));
    m_pictureView->setGeometry(0, 0, kFrame2.width(), kFrame2.height());
    m_pictureView->setFocusPolicy(Qt::StrongFocus);
    m_surface.setRowPaintedHandler([this](int y) { m_pictureView->rowChanged(y); });

    m_rowsDone = new QLineEdit(QStringLiteral("1"), client);
    m_rowsDone->setObjectName(QStringLiteral("Text4"));
    m_rowsDone->setGeometry(kText4);
    m_rowsDone->setReadOnly(true);
    m_rowsDone->setToolTip(tr("Rows done"));
    m_rowsDone->setAccessibleName(tr("Rows done"));

    m_rowsTotal = new QLineEdit(client);
    m_rowsTotal->setObjectName(QStringLiteral("Text5"));
    m_rowsTotal->setGeometry(kText5);
    m_rowsTotal->setReadOnly(true);
    m_rowsTotal->setToolTip(tr("Rows in the picture"));
    m_rowsTotal->setAccessibleName(tr("Rows in the picture"));

    m_textPane = new TextPane(client);
    m_textPane->setObjectName(QStringLiteral("RichTextBox1"));
    m_textPane->setGeometry(kRichTextBox1);
    m_textPane->setToolTip(tr("C text (View > C Text shows it whole)"));
    m_textPane->setAccessibleName(tr("C text"));
    // The controls are placed again whenever the client area changes size.
    client->installEventFilter(this);

    setTabOrder(m_textPane, m_pictureFrame);
    setTabOrder(m_pictureFrame, m_rowsDone);
    setTabOrder(m_rowsDone, m_rowsTotal);
    setTabOrder(m_rowsTotal, m_pictureView);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == centralWidget() && event->type() == QEvent::Resize) {
        placeControls();
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::placeControls() {
    if (m_fillWindow == nullptr || !m_fillWindow->isChecked()) {
        m_pictureFrame->setGeometry(kFrame2);
        m_rowsDone->setGeometry(kText4);
        m_rowsTotal->setGeometry(kText5);
        m_textPane->setGeometry(kRichTextBox1);
    } else {
        // The frame takes the room; the strip under it keeps its height and order.
        const QSize client = centralWidget()->size();
        const QSize frame(std::max(1, client.width() - kRightOfFrame),
                          std::max(1, client.height() - kBelowFrame));
        const int shift = frame.height() - kFrame2.height();
        m_pictureFrame->setGeometry(QRect(kFrame2.topLeft(), frame));
        m_rowsDone->setGeometry(kText4.translated(0, shift));
        m_rowsTotal->setGeometry(kText5.translated(0, shift));
        m_textPane->setGeometry(kRichTextBox1.translated(0, shift));
    }
    m_pictureView->setGeometry(QRect(QPoint(0, 0), m_pictureFrame->size()));
}

void Form1::createActions() {
    auto addMenu = [this](const char* name, const QString& title) {
        QMenu* menu = menuBar()->addMenu(title);
        menu->setObjectName(QLatin1String(name));
        return menu;
    };
    auto add = [this](QMenu* menu, const char* name, const QString& caption,
                      const QList<QKeySequence>& shortcuts, auto command) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        action->setShortcuts(shortcuts);
        connect(action, &QAction::triggered, this, command);
        return action;
    };

    m_fileMenu = addMenu("mFile", tr("&File"));
    m_open = add(m_fileMenu, "mOpen", tr("&Open"), {QKeySequence::Open}, &Form1::open);
    m_convert = add(m_fileMenu, "mConvert", tr("&Convert"), {}, &Form1::convert);
    m_savePicture = add(m_fileMenu, "mSaveP", tr("Save &Picture"), {}, &Form1::savePicture);
    m_saveCCode =
        add(m_fileMenu, "mSaveC", tr("&Save C Code"), {QKeySequence::Save}, &Form1::saveCCode);
    m_fileMenu->addSeparator();
    m_newWindow = add(m_fileMenu, "mNewWindow", tr("&New Window"),
                      {QKeySequence(Qt::CTRL | Qt::Key_N)}, &Form1::newWindow);
    m_openDithered = m_fileMenu->addMenu(tr("Open &Dithered"));
    m_openDithered->setObjectName(QStringLiteral("mOpenDithered"));
    for (const auto& [method, caption] :
         {std::pair{imaging::Dither::None, tr("&None")},
          std::pair{imaging::Dither::FloydSteinberg, tr("&Floyd-Steinberg")},
          std::pair{imaging::Dither::Atkinson, tr("&Atkinson")},
          std::pair{imaging::Dither::Bayer, tr("&Bayer")}}) {
        const std::string name = "mOpenDithered_" + std::string(imaging::ditherName(method));
        add(m_openDithered, name.c_str(), caption, {},
            [this, method = method] { openDithered(method); });
    }
    m_openForDisplay = add(m_fileMenu, "mOpenForDisplay", tr("Open for a Displa&y..."), {},
                           &Form1::openForDisplay);
    m_exportCCode = add(m_fileMenu, "mExportC", tr("&Export C Code..."),
                        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)}, &Form1::exportCCode);
    m_fileMenu->addSeparator();
    // As the window's close button: also during a scan, which then stops.
    m_quit = add(m_fileMenu, "mQuit", tr("&Quit"), {QKeySequence(Qt::CTRL | Qt::Key_Q)},
                 &QWidget::close);
    m_quit->setMenuRole(QAction::QuitRole);

    m_editMenu = addMenu("mEdit", tr("&Edit"));
    m_undo =
        add(m_editMenu, "mUndo", tr("&Undo"), {QKeySequence(Qt::CTRL | Qt::Key_Z)}, &Form1::undo);
    m_redo = add(m_editMenu, "mRedo", tr("&Redo"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
                 &Form1::redo);
    m_editMenu->addSeparator();
    m_copyCCode = add(m_editMenu, "mCopyC", tr("&Copy C Code"),
                      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)}, &Form1::copyCCode);
    m_editMenu->addSeparator();
    m_pencilMenu = m_editMenu->addMenu(tr("&Pencil"));
    m_pencilMenu->setObjectName(QStringLiteral("mPencil"));
    auto* levels = new QActionGroup(this);
    for (const auto& [level, key, name, caption] :
         {std::tuple{imaging::kBlack, Qt::Key_1, "mPencilBlack", tr("&Black")},
          std::tuple{imaging::kDarkGrey, Qt::Key_2, "mPencilDarkGrey", tr("&Dark Grey")},
          std::tuple{imaging::kLightGrey, Qt::Key_3, "mPencilLightGrey", tr("&Light Grey")},
          std::tuple{imaging::kWhite, Qt::Key_4, "mPencilWhite", tr("&White")}}) {
        QAction* entry = add(m_pencilMenu, name, caption, {QKeySequence(key)},
                             [this, level = level] { takePencil(level); });
        entry->setCheckable(true);
        entry->setActionGroup(levels);
        m_pencilLevels.push_back(entry);
    }
    m_pencilMenu->addSeparator();
    m_putDownPencil = add(m_pencilMenu, "mPutDownPencil", tr("&Put Down"),
                          {QKeySequence(Qt::Key_Escape)}, [this] { takePencil(std::nullopt); });

    m_viewMenu = addMenu("mView", tr("&View"));
    // Ctrl+= too: Ctrl++ needs Shift on keyboards without a keypad plus.
    QList<QKeySequence> zoomIn = QKeySequence::keyBindings(QKeySequence::ZoomIn);
    if (const QKeySequence equal(Qt::CTRL | Qt::Key_Equal); !zoomIn.contains(equal)) {
        zoomIn.append(equal);
    }
    m_zoomIn = add(m_viewMenu, "mZoomIn", tr("Zoom &In"), zoomIn, [this] { zoomBy(1); });
    m_zoomOut = add(m_viewMenu, "mZoomOut", tr("Zoom &Out"),
                    QKeySequence::keyBindings(QKeySequence::ZoomOut), [this] { zoomBy(-1); });
    m_actualSize = add(m_viewMenu, "mActualSize", tr("&Actual Size"),
                       {QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { zoomTo(1); });
    m_zoomToFit =
        add(m_viewMenu, "mZoomToFit", tr("Zoom to &Fit"), {QKeySequence(Qt::CTRL | Qt::Key_9)},
            [this] { zoomTo(m_pictureView->fitZoom()); });
    m_viewMenu->addSeparator();
    m_fillWindow = add(m_viewMenu, "mFillWindow", tr("&Fill Window"),
                       {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)}, [this] {
                           placeControls();
                           updateActions();
                       });
    m_fillWindow->setCheckable(true);
    m_showCText = add(m_viewMenu, "mCText", tr("C &Text"), {QKeySequence(Qt::CTRL | Qt::Key_T)},
                      [this] { showCText(m_showCText->isChecked()); });
    m_showCText->setCheckable(true);
    m_asPanel = add(m_viewMenu, "mAsPanel", tr("As the &Panel Shows It"), {},
                    [this] { showAsPanel(m_asPanel->isChecked()); });
    m_asPanel->setCheckable(true);
    m_pictureView->setZoomChangedHandler([this] { updateActions(); });
}

bool Form1::mayStart(Needs needs) const {
    // Nothing starts while a command is under way, so no command ever runs inside another.
    if (m_busy || m_closed) {
        return false;
    }
    switch (needs) {
    case Needs::Nothing:
        return true;
    case Needs::Empty:
        return m_stage == Stage::Empty;
    case Needs::Picture:
        return m_stage != Stage::Empty;
    case Needs::Planes:
        return m_stage == Stage::Converted;
    }
    return false;
}

std::optional<Form1::Command> Form1::begin(Needs needs) {
    if (!mayStart(needs)) {
        return std::nullopt;
    }
    // A command reads the surface as it is: a stroke under way ends here.
    strokeEnd();
    return std::optional<Command>(std::in_place, *this);
}

void Form1::fail(Command command, const QString& title, const QString& text) {
    command.end();
    m_seams.showError(this, title, text);
}

void Form1::fail(Command command, const QString& title, const base::Error& failure) {
    fail(std::move(command), title, platform::messageText(failure));
}

template <typename Work, typename Then> void Form1::aside(Command command, Work work, Then then) {
    // The command waits in the continuation: a Close deletes it, and so ends the command.
    m_waiting =
        runAside(this, std::move(work),
                 [this, command = std::move(command), then = std::move(then)](auto result) mutable {
                     m_waiting = nullptr;
                     then(std::move(command), std::move(result));
                 });
}

void Form1::updateActions() {
    m_open->setEnabled(mayStart(Needs::Empty));
    m_convert->setEnabled(mayStart(Needs::Picture));
    m_savePicture->setEnabled(mayStart(Needs::Picture));
    m_saveCCode->setEnabled(mayStart(Needs::Planes));
    m_openDithered->setEnabled(m_open->isEnabled());
    for (QAction* entry : m_openDithered->actions()) {
        entry->setEnabled(m_open->isEnabled());
    }
    m_openForDisplay->setEnabled(m_open->isEnabled());
    m_copyCCode->setEnabled(m_saveCCode->isEnabled());
    m_exportCCode->setEnabled(m_saveCCode->isEnabled());
    // The zoom changes only what is shown, so it may change during a scan too.
    const double zoom = m_pictureView->zoom();
    const bool shown = m_hasPicture && !m_closed;
    m_zoomIn->setEnabled(shown && m_pictureView->nextStep(1) != zoom);
    m_zoomOut->setEnabled(shown && m_pictureView->nextStep(-1) != zoom);
    m_actualSize->setEnabled(shown);
    m_zoomToFit->setEnabled(shown);
    m_pictureView->setZoomable(shown);
    // The zoom in use, where the zoom is chosen.
    m_actualSize->setText(tr("&Actual Size (now %1)").arg(zoomText(zoom)));

    const bool draw = mayDraw();
    for (QAction* level : m_pencilLevels) {
        level->setEnabled(draw);
    }
    m_putDownPencil->setEnabled(m_pencil.has_value());
    m_undo->setEnabled(draw && !m_undoStrokes.empty());
    m_redo->setEnabled(draw && !m_redoStrokes.empty());
    m_newWindow->setEnabled(!m_closed);
}

void Form1::closeEvent(QCloseEvent* event) {
    // A command in a scan sees this at its next step and returns without doing more; one waiting
    // on work aside ends here, and the work, which owns what it uses, finishes unseen.
    m_closed = true;
    delete m_waiting.data();
    updateActions();
    event->accept();
}

void Form1::open() {
    openDithered(imaging::Dither::None);
}

void Form1::openDithered(imaging::Dither method) {
    std::optional<Command> command = begin(Needs::Empty);
    if (!command) {
        return;
    }
    m_dither = method;
    m_forDisplay = false;
    const QString name = m_pictureDialog.showOpen(this, tr("Open"));
    if (name.isEmpty() || m_closed) {
        return; // a cancelled Open changes nothing
    }
    load(std::move(*command), name);
}

void Form1::openForDisplay() {
    std::optional<Command> command = begin(Needs::Empty);
    if (!command) {
        return;
    }
    m_dither = imaging::Dither::None;
    m_forDisplay = true;
    const QString name = m_pictureDialog.showOpen(this, tr("Open"));
    if (name.isEmpty() || m_closed) {
        return;
    }
    load(std::move(*command), name);
}

bool Form1::openFile(const QString& fileName) {
    std::optional<Command> command = begin(Needs::Empty);
    if (!command) {
        return false;
    }
    m_dither = imaging::Dither::None;
    m_forDisplay = false;
    // As if chosen in the dialog: Save Picture and a later Open offer this name.
    m_pictureDialog.remember(fileName);
    load(std::move(*command), fileName);
    return true;
}

void Form1::load(Command command, const QString& fileName) {
    command.showBusyCursor();
    // Opening reads the header (or a whole picture of another format): aside.
    aside(
        std::move(command),
        [fileName] {
            Opened opened{std::make_unique<surface::PictureLoader>(streamedRows), std::nullopt};
            opened.failure = opened.loader->open(fileName);
            return opened;
        },
        [this, fileName](Command command, Opened opened) {
            if (opened.failure) {
                fail(std::move(command), tr("Open"), *opened.failure);
                return;
            }
            readRows(std::move(command), std::move(opened.loader), fileName);
        });
}

void Form1::readRows(Command command, std::unique_ptr<surface::PictureLoader> loader,
                     const QString& fileName) {
    // The rows are read here, between the window's events, and each is shown once it has been
    // read: a large picture fills in from the top instead of appearing after seconds.
    const surface::PictureSurface before = m_surface; // shares its memory
    m_surface.setPicture(loader->image());            // shares the pixels that the loader writes
    m_hasPicture = true;
    m_pictureView->pictureChanged();
    m_pictureView->showRows(loader->firstRow(), loader->endRow());
    updateActions();
    {
        Progress progress(*this);
        std::optional<base::Error> failure;
        while (!loader->finished()) {
            failure = loader->readRow();
            if (failure) {
                break;
            }
            m_pictureView->showRows(loader->firstRow(), loader->endRow());
            if (m_seams.rowsShown) {
                m_seams.rowsShown(loader->firstRow(), loader->endRow());
            }
            if (progress.yield() == imaging::Flow::Stop) {
                return;
            }
        }
        if (failure) {
            putBack(before);
            fail(std::move(command), tr("Open"), *failure);
            return;
        }
    }
    // The loader lets go of the pixels: the quantizer's writes must not find them shared, or the
    // whole picture would be copied.
    loader.reset();
    command.hideBusyCursor();
    m_pictureView->pictureChanged();
    if (m_forDisplay) {
        chooseForDisplay(std::move(command), fileName, before);
        return;
    }
    // The surface refuses pictures over 32767 pixels, so both extents fit 16 bits.
    m_imageHeight = static_cast<std::int16_t>(m_surface.height());
    m_imageWidth = static_cast<std::int16_t>(m_surface.width());
    ClearRows rows(rowsOf(m_surface), true);
    scanLevels(std::move(command), fileName, rows.rows(), {m_dither});
}

void Form1::chooseForDisplay(Command command, const QString& fileName,
                             const surface::PictureSurface& before) {
    // Window-modal and not waited for, so that a close of the window ends the command with it.
    auto* dialog =
        new DisplayDialog(m_surface.image(), m_displayChoices, m_asPanel->isChecked(), this);
    m_waiting = dialog;
    // The dialog, and this slot with what it holds, live until the scan has ended.
    connect(dialog, &QDialog::finished, this,
            [this, dialog, command = std::move(command), fileName, before](int result) mutable {
                m_waiting = nullptr;
                // Ends with this call at the latest, whatever the dialog's deletion finds.
                Command owned = std::move(command);
                if (!m_closed && result == QDialog::Accepted) {
                    scanForDisplay(std::move(owned), fileName, before);
                } else if (!m_closed) {
                    putBack(before); // cancelled: as before Open
                }
                dialog->deleteLater();
            });
    dialog->open();
}

void Form1::putBack(const surface::PictureSurface& before) {
    m_surface.setPicture(before);
    m_hasPicture = false;
    m_pictureView->pictureChanged();
    m_pictureView->setZoom(1);
    updateActions();
}

void Form1::scanForDisplay(Command command, const QString& fileName,
                           const surface::PictureSurface& before) {
    // The picture as opened is read through the converter's stages; the surface takes the
    // levels of the result, painted row by row.
    const conversion::ConvertOptions options = *m_displayChoices;
    const surface::PictureSurface opened = m_surface; // shares the pixels, never written
    // A picture with alpha over white, as the converter takes it without a mask.
    ClearRows rows(rowsOf(opened), false);
    const std::string name = QFile::encodeName(fileName).toStdString();
    const conversion::Reduction how{options.dither, options.tone};
    auto stages = conversion::Stages::around(rows.rows(), options.geometry, how, name);
    if (const auto* failure = std::get_if<base::Error>(&stages)) {
        putBack(before);
        fail(std::move(command), tr("Open"), *failure);
        return;
    }
    conversion::RowSource& prepared =
        std::get<std::unique_ptr<conversion::Stages>>(stages)->outer();
    // The result is painted as levels from the start, one byte a pixel.
    if (!m_surface.setLevels(prepared.width(), prepared.height())) {
        putBack(before);
        fail(std::move(command), tr("Open"),
             tr("There is not enough memory for a picture of %1 × %2 pixels.")
                 .arg(prepared.width())
                 .arg(prepared.height()));
        return;
    }
    m_pictureView->pictureChanged();
    m_imageHeight = static_cast<std::int16_t>(prepared.height());
    m_imageWidth = static_cast<std::int16_t>(prepared.width());
    m_panelLevels = imaging::levelsOf(options.tone);
    if (m_asPanel->isChecked()) {
        showAsPanel(true);
    }
    scanLevels(std::move(command), fileName, prepared, how);
}

void Form1::showAsPanel(bool shown) {
    m_pictureView->setLevelGreys(shown ? std::optional(m_panelLevels) : std::nullopt);
}

void Form1::scanLevels(Command command, const QString& fileName, conversion::RowSource& rows,
                       const conversion::Reduction& how) {
    m_pictureName = fileName;
    // The levels are painted over the picture row by row; their planes are kept for Convert,
    // unless there is no room for them (then Convert makes them from the painted levels).
    Progress progress(*this);
    std::optional<imaging::Planes> planes;
    try {
        planes = imaging::reservedPlanes(m_imageWidth, m_imageHeight);
    } catch (const std::bad_alloc&) {
    }
    std::optional<conversion::PlaneSink> planeSink;
    conversion::PaintSink paint(m_surface);
    std::vector<conversion::LevelSink*> sinks;
    if (planes) {
        sinks.push_back(&planeSink.emplace(*planes, rows.masked()));
    }
    sinks.push_back(&paint);
    const auto ran = conversion::runRows(rows, how, sinks, {progress},
                                         QFile::encodeName(fileName).toStdString());
    if (const auto* failure = std::get_if<base::Error>(&ran)) {
        fail(std::move(command), tr("Open"), *failure);
        return;
    }
    if (std::get<imaging::Flow>(ran) == imaging::Flow::Stop) {
        return; // closed during the scan
    }
    if (planes) {
        m_surfacePlanes = std::make_shared<const imaging::Planes>(std::move(*planes));
    }
    m_stage = Stage::Opened;
}

void Form1::convert() {
    std::optional<Command> command = begin(Needs::Picture);
    if (!command) {
        return;
    }
    Progress progress(*this);
    const std::string name = QFile::encodeName(m_pictureName).toStdString();
    if (m_surfacePlanes) {
        // The planes are made; the rows are counted as the encoding counts them.
        conversion::PlanesRows rows(*m_surfacePlanes);
        const auto ran =
            conversion::runRows(rows, {}, {}, {progress, conversion::LastYield::Yes}, name);
        const auto* flow = std::get_if<imaging::Flow>(&ran);
        if (flow != nullptr && *flow == imaging::Flow::Continue) {
            m_planes = m_surfacePlanes;
            finishConvert(std::move(*command));
        }
        return; // a stop: the window was closed
    }
    std::optional<imaging::Planes> planes;
    try {
        planes = imaging::reservedPlanes(m_imageWidth, m_imageHeight);
    } catch (const std::bad_alloc&) {
        fail(std::move(*command), tr("Convert"),
             tr("There is not enough memory for the planes of this picture."));
        return;
    }
    ClearRows rows(rowsOf(m_surface), true);
    conversion::PlaneSink sink(*planes, rows.rows().masked());
    conversion::LevelSink* const sinks[] = {&sink};
    const auto ran =
        conversion::runRows(rows.rows(), {}, sinks, {progress, conversion::LastYield::Yes}, name);
    if (const auto* failure = std::get_if<base::Error>(&ran)) {
        fail(std::move(*command), tr("Convert"), *failure);
        return;
    }
    if (std::get<imaging::Flow>(ran) == imaging::Flow::Stop) {
        return; // closed during the scan
    }
    sink.finish();
    m_planes = std::make_shared<const imaging::Planes>(std::move(*planes));
    m_surfacePlanes = m_planes;
    finishConvert(std::move(*command));
}

void Form1::finishConvert(Command command) {
    m_textPane->showArrays(*m_planes);
    m_stage = Stage::Converted;
    command.end();
    renderCText();
    m_seams.beep();
}

std::string Form1::cCodeText() const {
    return m_stage == Stage::Converted ? ctext::writeArrays(*m_planes) : std::string();
}

void Form1::savePicture() {
    // The copy shares the pixels; a scan painting the surface later would copy them first.
    // A picture with alpha is written as the converter's -p writes it with a mask: its clear
    // pixels in the fifth colour that the export dialog names.
    saveWith(m_pictureDialog, Needs::Picture, tr("Save Picture"),
             [picture = m_surface, transparent = m_exportChoices->transparent](
                 const QString& name) -> std::optional<base::Error> {
                 if (!picture.hasAlpha()) {
                     return picture.save(name);
                 }
                 const std::string file = QFile::encodeName(name).toStdString();
                 auto planes = maskedPlanes(picture, file);
                 if (const auto* failure = std::get_if<base::Error>(&planes)) {
                     return *failure;
                 }
                 return conversion::writePicture(std::get<imaging::Planes>(planes), {file},
                                                 transparent, platform::Durability::Synced);
             });
}

void Form1::saveCCode() {
    saveWith(m_textDialog, Needs::Planes, tr("Save C Code"),
             [planes = m_planes](const QString& name) {
                 return conversion::writeText(*planes, {}, {QFile::encodeName(name).toStdString()},
                                              platform::Durability::Synced);
             });
}

void Form1::saveWith(FileDialog& dialog, Needs needs, QString command,
                     std::function<std::optional<base::Error>(const QString&)> save,
                     QWidget* parent) {
    // The dialog is shown while the window is idle; the command starts with the name.
    if (!mayStart(needs)) {
        return;
    }
    const QString name = chooseSaveName(dialog, command, parent != nullptr ? parent : this);
    std::optional<Command> saving = name.isEmpty() ? std::nullopt : begin(needs);
    if (!saving) {
        return;
    }
    aside(
        std::move(*saving), [save = std::move(save), name] { return save(name); },
        [this, command](Command saving, std::optional<base::Error> failure) {
            if (failure) {
                fail(std::move(saving), command, *failure);
            }
        });
}

QString Form1::chooseSaveName(FileDialog& dialog, const QString& command, QWidget* parent) {
    for (;;) {
        const QString name = dialog.showSave(parent, command);
        // Anything that exists is asked about, a folder too: its save then fails with a reason.
        if (name.isEmpty() || m_closed || !QFileInfo::exists(name) ||
            m_seams.confirmReplace(parent, command, name)) {
            return m_closed ? QString() : name;
        }
        if (m_closed) {
            return {};
        }
    }
}

void Form1::copyCCode() {
    copyText(Needs::Planes, tr("Copy C Code"), m_planes, {});
}

void Form1::copyText(Needs needs, const QString& command,
                     std::shared_ptr<const imaging::Planes> planes, ctext::TextStyle style) {
    std::optional<Command> copying = begin(needs);
    if (!copying) {
        return;
    }
    // Decided from the size alone: a text too long is never produced.
    const std::size_t size = ctext::arraysTextSize(*planes, style);
    if (size > m_seams.clipboardLimit) {
        fail(std::move(*copying), command,
             tr("The C text is %L1 bytes long, more than the %L2 bytes that Copy C Code puts on "
                "the clipboard. Use Save C Code to write it to a file instead.")
                 .arg(size)
                 .arg(m_seams.clipboardLimit));
        return;
    }
    // Producing megabytes of text takes a moment: aside, like saving, so the window never stops.
    aside(
        std::move(*copying),
        [planes = std::move(planes), style = std::move(style)] {
            const std::string bytes = ctext::writeArrays(*planes, style);
            return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
        },
        [](Command copying, const QString& text) {
            copying.end();
            QGuiApplication::clipboard()->setText(text);
        });
}

void Form1::exportCCode() {
    if (!mayStart(Needs::Planes)) {
        return;
    }
    const QFileInfo picture(m_pictureName);
    if (m_exportDialog.lastName().isEmpty()) {
        m_exportDialog.remember(picture.dir().filePath(picture.completeBaseName() + ".h"));
    }
    const QString command = tr("Export C Code");
    // The dialog may be closed and deleted while its save or copy runs: each gets its own
    // share of the planes, its own style and its own command name. The dialog's Copy stays
    // clickable while its Save runs, and does nothing then.
    auto save = [this, command](std::shared_ptr<const imaging::Planes> planes,
                                const ctext::TextStyle& style) {
        saveWith(
            m_exportDialog, Needs::Nothing, command,
            [planes = std::move(planes), style](const QString& name) {
                return conversion::writeText(*planes, style,
                                             {QFile::encodeName(name).toStdString()},
                                             platform::Durability::Synced);
            },
            findChild<ExportDialog*>());
    };
    auto copy = [this, command](std::shared_ptr<const imaging::Planes> planes,
                                const ctext::TextStyle& style) {
        copyText(Needs::Nothing, command, std::move(planes), style);
    };
    // Window-modal and not waited for: the menu stays closed while it is open, and the event
    // loop (and a close of the window) goes on.
    auto* dialog = new ExportDialog(m_planes, QFile::encodeName(picture.fileName()).toStdString(),
                                    save, copy, this, m_exportChoices);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The frames' edges over the picture while the dialog has frames set.
    dialog->setFramesShown(
        [view = m_pictureView](const imaging::FrameGrid& grid) { view->setFrameGrid(grid); });
    connect(dialog, &QDialog::finished, m_pictureView,
            [view = m_pictureView] { view->setFrameGrid({}); });
    dialog->open();
}

void Form1::newWindow() {
    if (!m_seams.startWindow()) {
        m_seams.showError(
            this, tr("New Window"),
            tr("%1: the program could not be started again.")
                .arg(QDir::toNativeSeparators(QCoreApplication::applicationFilePath())));
    }
}

void Form1::showCText(bool shown) {
    if (m_cTextDock == nullptr) {
        if (!shown) {
            return;
        }
        m_cTextDock = new QDockWidget(tr("C Text"), this);
        m_cTextDock->setObjectName(QStringLiteral("CTextDock"));
        // Shown and hidden from the View menu only, so the menu's check always tells.
        m_cTextDock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
        auto* content = new QWidget(m_cTextDock);
        auto* layout = new QVBoxLayout(content);
        layout->setContentsMargins(0, 0, 0, 0);
        m_cTextView = new CTextView(content);
        m_cTextView->setObjectName(QStringLiteral("CTextView"));
        m_cTextView->setAccessibleName(tr("C text"));
        m_cTextCount = new QLabel(content);
        m_cTextCount->setObjectName(QStringLiteral("CTextCount"));
        layout->addWidget(m_cTextView);
        layout->addWidget(m_cTextCount);
        m_cTextDock->setWidget(content);
        m_cTextDock->hide();
        addDockWidget(Qt::RightDockWidgetArea, m_cTextDock);
    }
    if (shown == m_cTextDock->isVisible()) {
        return;
    }
    // The laid-out controls keep their room: the window grows by the view, and shrinks again.
    const int width = 360;
    const bool grow = !isMaximized() && !isFullScreen() && !m_cTextDock->isFloating();
    m_cTextDock->setVisible(shown);
    if (grow) {
        resize(size().width() + (shown ? width : -width), size().height());
    }
    if (shown) {
        resizeDocks({m_cTextDock}, {width}, Qt::Horizontal);
        renderCText();
    }
}

void Form1::renderCText() {
    if (m_cTextView == nullptr || !m_cTextDock->isVisible()) {
        return;
    }
    const auto planes = m_stage == Stage::Converted ? m_planes : nullptr;
    if (planes == m_cTextPlanes && (planes == nullptr || m_cTextView->byteCount() > 0)) {
        return; // shown already, or being made
    }
    m_cTextPlanes = planes;
    m_cTextView->setText(nullptr);
    if (planes == nullptr) {
        m_cTextCount->setText(tr("Convert puts the C text here."));
        return;
    }
    m_cTextCount->setText(tr("Making the text..."));
    // Hundreds of megabytes take seconds to make: aside. A later Convert's text replaces it.
    runAside(
        m_cTextView,
        [planes] {
            return std::make_shared<const IndexedText>(indexLines(ctext::writeArrays(*planes)));
        },
        [this, planes](std::shared_ptr<const IndexedText> text) {
            if (planes != m_cTextPlanes) {
                return;
            }
            m_cTextView->setText(std::move(text));
            m_cTextCount->setText(tr("%L1 lines, %L2 bytes")
                                      .arg(m_cTextView->lineCount())
                                      .arg(m_cTextView->byteCount()));
        });
}

bool Form1::mayDraw() const {
    return m_stage != Stage::Empty && !m_busy && !m_closed;
}

void Form1::takePencil(std::optional<imaging::Colour> level) {
    if (level && !mayDraw()) {
        return;
    }
    m_pencil = level;
    if (!level) {
        for (QAction* entry : m_pencilLevels) {
            entry->setChecked(false);
        }
    }
    if (level) {
        m_pictureView->setPen(PictureView::Pen{[this](QPoint p) { strokeBegin(p); },
                                               [this](QPoint p) { strokeTo(p); },
                                               [this] { strokeEnd(); }});
    } else {
        m_pictureView->setPen(std::nullopt);
    }
    updateActions();
}

void Form1::strokeBegin(QPoint pixel) {
    if (!m_pencil || !mayDraw()) {
        return;
    }
    m_stroke.emplace();
    m_strokeAt = pixel;
    paintPixel(pixel.x(), pixel.y());
}

void Form1::strokeTo(QPoint pixel) {
    if (!m_stroke) {
        return;
    }
    // Every pixel on the line from the last one, so that a fast drag leaves no gaps.
    const int dx = std::abs(pixel.x() - m_strokeAt.x());
    const int dy = -std::abs(pixel.y() - m_strokeAt.y());
    const int sx = m_strokeAt.x() < pixel.x() ? 1 : -1;
    const int sy = m_strokeAt.y() < pixel.y() ? 1 : -1;
    int x = m_strokeAt.x();
    int y = m_strokeAt.y();
    int error = dx + dy;
    while (x != pixel.x() || y != pixel.y()) {
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += sx;
        }
        if (twice <= dx) {
            error += dx;
            y += sy;
        }
        paintPixel(x, y);
    }
    m_strokeAt = pixel;
}

void Form1::paintPixel(int x, int y) {
    const std::optional<imaging::Pixel> before = m_surface.pixel(x, y);
    if (!before) {
        return;
    }
    // A clear pixel is drawn even in the pencil's colour: it becomes opaque.
    const bool clear = m_surface.hasAlpha() && *before >> 24 != 0xFF;
    if (!clear && m_surface.read(x, y) == *m_pencil) {
        return;
    }
    m_surface.paint(x, y, *m_pencil);
    m_stroke->push_back({x, y, *before, *m_surface.pixel(x, y)});
    m_surfacePlanes = nullptr; // the planes no longer match the surface
    m_pictureView->rowChanged(y);
}

void Form1::strokeEnd() {
    if (!m_stroke) {
        return;
    }
    Stroke stroke = std::move(*m_stroke);
    m_stroke.reset();
    if (!stroke.empty()) {
        m_undoStrokes.push_back(std::move(stroke));
        m_redoStrokes.clear();
    }
    updateActions();
}

void Form1::applyStroke(const Stroke& stroke, bool after) {
    // Backwards on undo, so that a pixel the stroke crossed twice gets its first colour back.
    auto apply = [&](const PixelChange& change) {
        m_surface.restore(change.x, change.y, after ? change.after : change.before);
        m_pictureView->rowChanged(change.y);
    };
    if (after) {
        std::for_each(stroke.begin(), stroke.end(), apply);
    } else {
        std::for_each(stroke.rbegin(), stroke.rend(), apply);
    }
    m_surfacePlanes = nullptr;
}

void Form1::undo() {
    if (!mayDraw() || m_stroke || m_undoStrokes.empty()) {
        return;
    }
    applyStroke(m_undoStrokes.back(), false);
    m_redoStrokes.push_back(std::move(m_undoStrokes.back()));
    m_undoStrokes.pop_back();
    updateActions();
}

void Form1::redo() {
    if (!mayDraw() || m_stroke || m_redoStrokes.empty()) {
        return;
    }
    applyStroke(m_redoStrokes.back(), true);
    m_undoStrokes.push_back(std::move(m_redoStrokes.back()));
    m_redoStrokes.pop_back();
    updateActions();
}

void Form1::zoomBy(int direction) {
    zoomTo(m_pictureView->nextStep(direction));
}

void Form1::zoomTo(double zoom) {
    if (m_hasPicture) {
        m_pictureView->setZoom(zoom);
    }
    updateActions();
}

std::optional<QString> Form1::droppableFile(const QMimeData* data) const {
    if (!m_open->isEnabled() || data == nullptr || !data->hasUrls()) {
        return std::nullopt;
    }
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) {
        return std::nullopt;
    }
    const QString file = urls.front().toLocalFile();
    // A folder is refused here already, so that the cursor says so before the drop.
    if (file.isEmpty() || QFileInfo(file).isDir()) {
        return std::nullopt;
    }
    return file;
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    if (droppableFile(event->mimeData())) {
        acceptAsCopy(event);
    } else {
        event->ignore();
    }
}

void Form1::dragMoveEvent(QDragMoveEvent* event) {
    if (droppableFile(event->mimeData())) {
        acceptAsCopy(event);
    } else {
        event->ignore();
    }
}

void Form1::dropEvent(QDropEvent* event) {
    const std::optional<QString> file = droppableFile(event->mimeData());
    if (!file || !acceptAsCopy(event)) {
        event->ignore();
        return;
    }
    // Opened once the drop has been answered: the drag's source waits for that answer, and
    // Open's load and scan may take seconds. openFile checks again that Open is available.
    QMetaObject::invokeMethod(
        this, [this, name = *file] { openFile(name); }, Qt::QueuedConnection);
}

} // namespace window
