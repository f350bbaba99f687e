#include "window/form1.h"

#include "conversion/output.h"
#include "conversion/pipeline.h"
#include "ctext/c_array_writer.h"
#include "imaging/plane_encoder.h"
#include "surface/picture_loader.h"
#include "window/aside.h"
#include "window/export_dialog.h"
#include "window/picture_view.h"
#include "window/text_pane.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <new>
#include <string>
#include <utility>

namespace window {
namespace {

// The laid-out client area and controls, in pixels.
constexpr QSize kClientSize(420, 364);
constexpr QRect kFrame2(0, 0, 417, 337);
constexpr QRect kText4(0, 344, 49, 19);
constexpr QRect kText5(56, 344, 49, 19);
constexpr QRect kRichTextBox1(120, 344, 33, 17);

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

// Open's work aside: the loader, and why the file could not be opened.
struct Opened {
    std::unique_ptr<surface::PictureLoader> loader;
    std::optional<base::Error> failure;
};

} // namespace

void systemBeep() {
    QApplication::beep();
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

    m_rowsTotal = new QLineEdit(client);
    m_rowsTotal->setObjectName(QStringLiteral("Text5"));
    m_rowsTotal->setGeometry(kText5);
    m_rowsTotal->setReadOnly(true);

    m_textPane = new TextPane(client);
    m_textPane->setObjectName(QStringLiteral("RichTextBox1"));
    m_textPane->setGeometry(kRichTextBox1);

    setTabOrder(m_textPane, m_pictureFrame);
    setTabOrder(m_pictureFrame, m_rowsDone);
    setTabOrder(m_rowsDone, m_rowsTotal);
    setTabOrder(m_rowsTotal, m_pictureView);
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
    m_exportCCode = add(m_fileMenu, "mExportC", tr("&Export C Code..."),
                        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)}, &Form1::exportCCode);
    m_fileMenu->addSeparator();
    // As the window's close button: also during a scan, which then stops.
    m_quit = add(m_fileMenu, "mQuit", tr("&Quit"), {QKeySequence(Qt::CTRL | Qt::Key_Q)},
                 &QWidget::close);
    m_quit->setMenuRole(QAction::QuitRole);

    m_editMenu = addMenu("mEdit", tr("&Edit"));
    m_copyCCode = add(m_editMenu, "mCopyC", tr("&Copy C Code"),
                      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)}, &Form1::copyCCode);

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
    const QString name = m_pictureDialog.showOpen(this, tr("Open"));
    if (name.isEmpty() || m_closed) {
        return; // a cancelled Open changes nothing
    }
    load(std::move(*command), name);
}

bool Form1::openFile(const QString& fileName) {
    std::optional<Command> command = begin(Needs::Empty);
    if (!command) {
        return false;
    }
    m_dither = imaging::Dither::None;
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
            Opened opened{std::make_unique<surface::PictureLoader>(), std::nullopt};
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
    const QImage before = m_surface.image();
    m_surface.setPicture(loader->image()); // shares the pixels that the loader writes
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
            // Back to the surface as it was: Open is available again.
            m_surface.setPicture(before);
            m_hasPicture = false;
            m_pictureView->pictureChanged();
            m_pictureView->setZoom(1);
            fail(std::move(command), tr("Open"), *failure);
            return;
        }
    }
    // The loader lets go of the pixels: the quantizer's writes must not find them shared, or the
    // whole picture would be copied.
    loader.reset();
    command.hideBusyCursor();
    m_pictureName = fileName;
    m_pictureView->pictureChanged();

    // The surface refuses pictures over 32767 pixels, so both extents fit 16 bits.
    m_imageHeight = static_cast<std::int16_t>(m_surface.height());
    m_imageWidth = static_cast<std::int16_t>(m_surface.width());

    // The levels are painted over the picture row by row; their planes are kept for Convert,
    // unless there is no room for them (then Convert makes them from the painted levels).
    Progress progress(*this);
    std::optional<imaging::Planes> planes;
    try {
        planes = imaging::reservedPlanes(m_imageWidth, m_imageHeight);
    } catch (const std::bad_alloc&) {
    }
    conversion::PixelRows rows = surfaceRows();
    std::optional<conversion::PlaneSink> planeSink;
    conversion::PaintSink paint(m_surface);
    std::vector<conversion::LevelSink*> sinks;
    if (planes) {
        sinks.push_back(&planeSink.emplace(*planes));
    }
    sinks.push_back(&paint);
    const auto ran = conversion::runRows(rows, {m_dither}, sinks, {progress},
                                         QFile::encodeName(fileName).toStdString());
    if (const auto* failure = std::get_if<base::Error>(&ran)) {
        fail(std::move(command), tr("Open"), *failure);
        return;
    }
    if (std::get<imaging::Flow>(ran) == imaging::Flow::Stop) {
        return; // closed during the scan
    }
    if (planes) {
        m_planes = std::make_shared<const imaging::Planes>(std::move(*planes));
    }
    m_stage = Stage::Opened;
}

conversion::PixelRows Form1::surfaceRows() const {
    return {m_imageWidth, m_imageHeight, [this](int y) { return m_surface.row(y).data(); }};
}

void Form1::convert() {
    std::optional<Command> command = begin(Needs::Picture);
    if (!command) {
        return;
    }
    Progress progress(*this);
    const std::string name = QFile::encodeName(m_pictureName).toStdString();
    if (m_planes) {
        // The planes are made; the rows are counted as the encoding counts them.
        conversion::PlanesRows rows(*m_planes);
        const auto ran =
            conversion::runRows(rows, {}, {}, {progress, conversion::LastYield::Yes}, name);
        const auto* flow = std::get_if<imaging::Flow>(&ran);
        if (flow != nullptr && *flow == imaging::Flow::Continue) {
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
    conversion::PixelRows rows = surfaceRows();
    conversion::PlaneSink sink(*planes);
    conversion::LevelSink* const sinks[] = {&sink};
    const auto ran =
        conversion::runRows(rows, {}, sinks, {progress, conversion::LastYield::Yes}, name);
    if (const auto* failure = std::get_if<base::Error>(&ran)) {
        fail(std::move(*command), tr("Convert"), *failure);
        return;
    }
    if (std::get<imaging::Flow>(ran) == imaging::Flow::Stop) {
        return; // closed during the scan
    }
    sink.finish();
    m_planes = std::make_shared<const imaging::Planes>(std::move(*planes));
    finishConvert(std::move(*command));
}

void Form1::finishConvert(Command command) {
    m_textPane->showArrays(*m_planes);
    m_stage = Stage::Converted;
    command.end();
    m_seams.beep();
}

std::string Form1::cCodeText() const {
    return m_stage == Stage::Converted ? ctext::writeArrays(*m_planes) : std::string();
}

void Form1::savePicture() {
    // The copy shares the pixels; a scan painting the surface later would copy them first.
    saveWith(m_pictureDialog, Needs::Picture, tr("Save Picture"),
             [picture = m_surface](const QString& name) { return picture.save(name); });
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
                                    save, copy, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
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
