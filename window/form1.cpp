#include "window/form1.h"

#include "conversion/output.h"
#include "ctext/c_array_writer.h"
#include "imaging/plane_encoder.h"
#include "imaging/quantizer.h"
#include "surface/picture_loader.h"
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
#include <QEventLoop>
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
#include <thread>
#include <utility>

namespace window {
namespace {

const QString kBitmapFilter = QStringLiteral("Bitmap Files (*.bmp)|*.bmp");
const QString kTextFilter = QStringLiteral("Text Files (*.txt)|*.txt");
const QString kHeaderFilter = QStringLiteral("C Headers (*.h)|*.h");

// The laid-out client area and controls, in pixels.
constexpr QSize kClientSize(420, 364);
constexpr QRect kFrame2(0, 0, 417, 337);
constexpr QRect kText4(0, 344, 49, 19);
constexpr QRect kText5(56, 344, 49, 19);
constexpr QRect kRichTextBox1(120, 344, 33, 17);

// Shows the busy cursor for as long as it lives, so that every way out restores the cursor.
class BusyCursor {
  public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::BusyCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

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

} // namespace

void systemBeep() {
    QApplication::beep();
}

void showErrorBox(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::warning(parent, title, text);
}

bool askToReplace(QWidget* parent, const QString& title, const QString& fileName) {
    const QString text = QStringLiteral("%1 already exists.\nDo you want to replace it?")
                             .arg(QDir::toNativeSeparators(fileName));
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

// Shows the scans' progress in Text5 (total) and Text4 (rows done), and lets the window
// process its events between rows.
class Form1::Progress final : public imaging::RowProgress {
  public:
    explicit Progress(Form1& form) : m_form(form) {}

    void reportTotal(std::int16_t rows) override { m_form.m_text5->setText(QString::number(rows)); }
    void reportRowsDone(std::int16_t rows) override {
        m_form.m_text4->setText(QString::number(rows));
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
      m_commonDialog1(kBitmapFilter, m_seams.chooseFile),
      m_commonDialog2(kTextFilter, m_seams.chooseFile),
      m_exportDialog(kHeaderFilter, m_seams.chooseFile) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setAcceptDrops(true);
    createControls();
    createActions();
    updateActions();
    resize(kClientSize.width(), kClientSize.height() + menuBar()->sizeHint().height());
}

Form1::~Form1() {
    // The view draws from the surface; it goes first.
    m_surface.setRowPaintedHandler({});
    delete centralWidget();
}

void Form1::createControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);

    // Fixed places, as laid out: the controls stay where they are when the window is resized.
    m_frame2 = new QFrame(client);
    m_frame2->setObjectName(QStringLiteral("Frame2"));
    m_frame2->setGeometry(kFrame2);

    m_picture1 = new PictureView(m_surface, m_frame2);
    m_picture1->setObjectName(QStringLiteral("Picture1"));
    m_picture1->setGeometry(0, 0, kFrame2.width(), kFrame2.height());
    m_picture1->setFocusPolicy(Qt::StrongFocus);
    m_surface.setRowPaintedHandler([this](int y) { m_picture1->rowChanged(y); });

    m_text4 = new QLineEdit(QStringLiteral("1"), client);
    m_text4->setObjectName(QStringLiteral("Text4"));
    m_text4->setGeometry(kText4);
    m_text4->setReadOnly(true);

    m_text5 = new QLineEdit(client);
    m_text5->setObjectName(QStringLiteral("Text5"));
    m_text5->setGeometry(kText5);
    m_text5->setReadOnly(true);

    m_richTextBox1 = new TextPane(client);
    m_richTextBox1->setObjectName(QStringLiteral("RichTextBox1"));
    m_richTextBox1->setGeometry(kRichTextBox1);

    setTabOrder(m_richTextBox1, m_frame2);
    setTabOrder(m_frame2, m_text4);
    setTabOrder(m_text4, m_text5);
    setTabOrder(m_text5, m_picture1);
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

    m_mFile = addMenu("mFile", QStringLiteral("&File"));
    m_mOpen = add(m_mFile, "mOpen", QStringLiteral("&Open"), {QKeySequence::Open}, &Form1::open);
    m_mConvert = add(m_mFile, "mConvert", QStringLiteral("&Convert"), {}, &Form1::convert);
    m_mSaveP = add(m_mFile, "mSaveP", QStringLiteral("Save &Picture"), {}, &Form1::savePicture);
    m_mSaveC = add(m_mFile, "mSaveC", QStringLiteral("&Save C Code"), {QKeySequence::Save},
                   &Form1::saveCCode);
    m_mFile->addSeparator();
    m_mOpenDithered = m_mFile->addMenu(QStringLiteral("Open &Dithered"));
    m_mOpenDithered->setObjectName(QStringLiteral("mOpenDithered"));
    for (const auto& [method, caption] :
         {std::pair{imaging::Dither::None, QStringLiteral("&None")},
          std::pair{imaging::Dither::FloydSteinberg, QStringLiteral("&Floyd-Steinberg")},
          std::pair{imaging::Dither::Atkinson, QStringLiteral("&Atkinson")},
          std::pair{imaging::Dither::Bayer, QStringLiteral("&Bayer")}}) {
        const std::string name = "mOpenDithered_" + std::string(imaging::ditherName(method));
        add(m_mOpenDithered, name.c_str(), caption, {},
            [this, method = method] { openDithered(method); });
    }
    m_mExportC = add(m_mFile, "mExportC", QStringLiteral("&Export C Code..."),
                     {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)}, &Form1::exportCCode);
    m_mFile->addSeparator();
    // As the window's close button: also during a scan, which then stops.
    m_mQuit = add(m_mFile, "mQuit", QStringLiteral("&Quit"), {QKeySequence(Qt::CTRL | Qt::Key_Q)},
                  &QWidget::close);
    m_mQuit->setMenuRole(QAction::QuitRole);

    m_mEdit = addMenu("mEdit", QStringLiteral("&Edit"));
    m_mCopyC = add(m_mEdit, "mCopyC", QStringLiteral("&Copy C Code"),
                   {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)}, &Form1::copyCCode);

    m_mView = addMenu("mView", QStringLiteral("&View"));
    // Ctrl+= too: Ctrl++ needs Shift on keyboards without a keypad plus.
    QList<QKeySequence> zoomIn = QKeySequence::keyBindings(QKeySequence::ZoomIn);
    if (const QKeySequence equal(Qt::CTRL | Qt::Key_Equal); !zoomIn.contains(equal)) {
        zoomIn.append(equal);
    }
    m_mZoomIn = add(m_mView, "mZoomIn", QStringLiteral("Zoom &In"), zoomIn, [this] { zoomBy(1); });
    m_mZoomOut = add(m_mView, "mZoomOut", QStringLiteral("Zoom &Out"),
                     QKeySequence::keyBindings(QKeySequence::ZoomOut), [this] { zoomBy(-1); });
    m_mActualSize = add(m_mView, "mActualSize", QStringLiteral("&Actual Size"),
                        {QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { zoomTo(1); });
    m_mZoomToFit =
        add(m_mView, "mZoomToFit", QStringLiteral("Zoom to &Fit"),
            {QKeySequence(Qt::CTRL | Qt::Key_9)}, [this] { zoomTo(m_picture1->fitZoom()); });
    m_picture1->setZoomChangedHandler([this] { updateActions(); });
}

void Form1::updateActions() {
    // Nothing can start while a command waits, so no command ever runs inside another.
    const bool idle = !m_busy && !m_closed;
    m_mOpen->setEnabled(idle && m_stage == Stage::Empty);
    m_mConvert->setEnabled(idle && m_stage != Stage::Empty);
    m_mSaveP->setEnabled(idle && m_stage != Stage::Empty);
    m_mSaveC->setEnabled(idle && m_stage == Stage::Converted);
    m_mOpenDithered->setEnabled(m_mOpen->isEnabled());
    for (QAction* entry : m_mOpenDithered->actions()) {
        entry->setEnabled(m_mOpen->isEnabled());
    }
    m_mCopyC->setEnabled(m_mSaveC->isEnabled());
    m_mExportC->setEnabled(m_mSaveC->isEnabled());
    // The zoom changes only what is shown, so it may change during a scan too.
    const double zoom = m_picture1->zoom();
    const bool shown = m_hasPicture && !m_closed;
    m_mZoomIn->setEnabled(shown && m_picture1->nextStep(1) != zoom);
    m_mZoomOut->setEnabled(shown && m_picture1->nextStep(-1) != zoom);
    m_mActualSize->setEnabled(shown);
    m_mZoomToFit->setEnabled(shown);
    m_picture1->setZoomable(shown);
    // The zoom in use, where the zoom is chosen.
    m_mActualSize->setText(QStringLiteral("&Actual Size (now %1)").arg(zoomText(zoom)));
}

void Form1::closeEvent(QCloseEvent* event) {
    // A command that is waiting sees this at its next step and returns without doing more.
    m_closed = true;
    updateActions();
    event->accept();
}

void Form1::open() {
    openDithered(imaging::Dither::None);
}

void Form1::openDithered(imaging::Dither method) {
    if (m_busy || m_closed || m_stage != Stage::Empty) {
        return;
    }
    m_dither = method;
    m_busy = true;
    updateActions();

    const QString name = m_commonDialog1.showOpen(this, QStringLiteral("Open"));
    if (m_closed) {
        return;
    }
    if (name.isEmpty()) {
        m_busy = false; // a cancelled Open changes nothing
        updateActions();
        return;
    }
    load(name);
}

bool Form1::openFile(const QString& fileName) {
    if (m_busy || m_closed || m_stage != Stage::Empty) {
        return false;
    }
    m_busy = true;
    updateActions();
    m_dither = imaging::Dither::None;
    // As if chosen in the dialog: Save Picture and a later Open offer this name.
    m_commonDialog1.remember(fileName);
    return load(fileName);
}

bool Form1::load(const QString& name) {
    auto idleAgain = [this] {
        m_busy = false;
        updateActions();
    };
    {
        const BusyCursor busyCursor;
        surface::PictureLoader loader;
        std::optional<base::Error> failure;
        // Opening reads the header (or a whole picture of another format): aside.
        runAside([&] { failure = loader.open(name); });
        if (m_closed) {
            return false;
        }
        if (failure) {
            idleAgain();
            reportFailure(QStringLiteral("Open"), *failure);
            return false;
        }
        // The rows are read here, between the window's events, and each is shown once it has
        // been read: a large picture fills in from the top instead of appearing after seconds.
        const QImage before = m_surface.image();
        m_surface.setPicture(loader.image()); // shares the pixels that the loader writes
        m_hasPicture = true;
        m_picture1->pictureChanged();
        m_picture1->showRows(loader.firstRow(), loader.endRow());
        updateActions();
        Progress progress(*this);
        while (!loader.finished()) {
            failure = loader.readRow();
            if (failure) {
                break;
            }
            m_picture1->showRows(loader.firstRow(), loader.endRow());
            if (m_seams.rowsShown) {
                m_seams.rowsShown(loader.firstRow(), loader.endRow());
            }
            if (progress.yield() == imaging::Flow::Stop) {
                return false;
            }
        }
        if (failure) {
            // Back to the surface as it was: Open is available again.
            m_surface.setPicture(before);
            m_hasPicture = false;
            m_picture1->pictureChanged();
            m_picture1->setZoom(1);
            idleAgain();
            reportFailure(QStringLiteral("Open"), *failure);
            return false;
        }
        // `loader` lets go of the pixels at the end of this block: the quantizer's writes must
        // not find them shared, or the whole picture would be copied.
    }
    m_pictureName = name;
    m_picture1->pictureChanged();

    // The surface refuses pictures over 32767 pixels, so both extents fit 16 bits.
    m_imageHeight = static_cast<std::int16_t>(m_surface.height());
    m_imageWidth = static_cast<std::int16_t>(m_surface.width());

    Progress progress(*this);
    if (!quantizeKeepingPlanes(progress)) {
        if (imaging::dither(m_surface, m_imageHeight, m_imageWidth, m_dither, progress) ==
            imaging::Flow::Stop) {
            return false;
        }
    } else if (!m_planesKept) {
        return false; // closed during the scan
    }
    m_stage = Stage::Opened;
    idleAgain();
    return true;
}

bool Form1::quantizeKeepingPlanes(Progress& progress) {
    if (m_dither != imaging::Dither::None) {
        return false;
    }
    std::optional<imaging::Planes> planes;
    try {
        planes = imaging::quantizePlanes(m_surface, m_imageHeight, m_imageWidth, progress);
    } catch (const std::bad_alloc&) {
        return false; // before the first row: the picture is quantized alone, Convert encodes
    }
    if (planes) {
        m_planes = std::make_shared<const imaging::Planes>(std::move(*planes));
        m_planesKept = true;
    }
    return true;
}

void Form1::convert() {
    if (m_busy || m_closed || m_stage == Stage::Empty) {
        return;
    }
    m_busy = true;
    updateActions();

    Progress progress(*this);
    if (m_planesKept) {
        // The planes are made; the rows are counted as the encoding counts them.
        progress.reportTotal(m_imageHeight);
        for (std::int16_t y = 0; progress.yield() == imaging::Flow::Continue; ++y) {
            if (y == m_imageHeight) {
                finishConvert();
                return;
            }
            progress.reportRowsDone(static_cast<std::int16_t>(y + 1));
        }
        return; // closed
    }
    std::optional<imaging::Planes> planes;
    try {
        planes = imaging::encodePlanes(m_surface, m_imageHeight, m_imageWidth, progress);
    } catch (const std::bad_alloc&) {
        m_busy = false;
        updateActions();
        m_seams.showError(this, QStringLiteral("Convert"),
                          QStringLiteral("There is not enough memory for the planes of this "
                                         "picture."));
        return;
    }
    if (!planes) {
        return; // closed during the scan
    }
    m_planes = std::make_shared<const imaging::Planes>(std::move(*planes));
    finishConvert();
}

void Form1::finishConvert() {
    m_busy = false;
    m_richTextBox1->showArrays(*m_planes);
    m_stage = Stage::Converted;
    updateActions();
    m_seams.beep();
}

std::string Form1::cCodeText() const {
    return m_stage == Stage::Converted ? ctext::writeArrays(*m_planes) : std::string();
}

void Form1::savePicture() {
    if (m_stage != Stage::Empty) {
        // The copy shares the pixels; a scan painting the surface later would copy them first.
        saveWith(m_commonDialog1, QStringLiteral("Save Picture"),
                 [picture = m_surface](const QString& name) { return picture.save(name); });
    }
}

void Form1::saveCCode() {
    if (m_stage == Stage::Converted) {
        saveWith(m_commonDialog2, QStringLiteral("Save C Code"),
                 [planes = m_planes](const QString& name) {
                     return conversion::writeText(*planes, {},
                                                  {QFile::encodeName(name).toStdString()},
                                                  surface::Durability::Synced);
                 });
    }
}

void Form1::saveWith(FileDialog& dialog, QString command,
                     std::function<std::optional<base::Error>(const QString&)> save,
                     QWidget* parent) {
    if (m_busy || m_closed) {
        return;
    }
    const QString name = chooseSaveName(dialog, command, parent != nullptr ? parent : this);
    if (name.isEmpty() || m_closed) {
        return;
    }
    m_busy = true;
    updateActions();
    // The work holds the save and its name; only the result comes back through this frame,
    // which runAside does not leave before the work is done.
    std::optional<base::Error> failure;
    runAside([&failure, save = std::move(save), name] { failure = save(name); });
    if (m_closed) {
        return;
    }
    m_busy = false;
    updateActions();
    if (failure) {
        reportFailure(command, *failure);
    }
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
    if (m_busy || m_closed || m_stage != Stage::Converted) {
        return;
    }
    copyText(QStringLiteral("Copy C Code"), m_planes, {});
}

void Form1::copyText(const QString& command, std::shared_ptr<const imaging::Planes> planes,
                     ctext::TextStyle style) {
    // The export dialog's Copy stays clickable while its Save runs.
    if (m_busy || m_closed) {
        return;
    }
    // Decided from the size alone: a text too long is never produced.
    const std::size_t size = ctext::arraysTextSize(*planes, style);
    if (size > m_seams.clipboardLimit) {
        m_seams.showError(this, command,
                          QStringLiteral("The C text is %L1 bytes long, more than the %L2 bytes "
                                         "that Copy C Code puts on the clipboard. Use Save C "
                                         "Code to write it to a file instead.")
                              .arg(size)
                              .arg(m_seams.clipboardLimit));
        return;
    }
    // Producing megabytes of text takes a moment: aside, like saving, so the window never stops.
    m_busy = true;
    updateActions();
    QString text;
    runAside([&text, planes = std::move(planes), style = std::move(style)] {
        const std::string bytes = ctext::writeArrays(*planes, style);
        text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    });
    if (m_closed) {
        return;
    }
    m_busy = false;
    updateActions();
    QGuiApplication::clipboard()->setText(text);
}

void Form1::exportCCode() {
    if (m_busy || m_closed || m_stage != Stage::Converted) {
        return;
    }
    const QFileInfo picture(m_pictureName);
    if (m_exportDialog.lastName().isEmpty()) {
        m_exportDialog.remember(picture.dir().filePath(picture.completeBaseName() + ".h"));
    }
    const QString command = QStringLiteral("Export C Code");
    // The dialog may be closed and deleted while its save or copy runs: each gets its own
    // share of the planes, its own style and its own command name.
    auto save = [this, command](std::shared_ptr<const imaging::Planes> planes,
                                const ctext::TextStyle& style) {
        saveWith(
            m_exportDialog, command,
            [planes = std::move(planes), style](const QString& name) {
                return conversion::writeText(*planes, style,
                                             {QFile::encodeName(name).toStdString()},
                                             surface::Durability::Synced);
            },
            findChild<ExportDialog*>());
    };
    auto copy = [this, command](std::shared_ptr<const imaging::Planes> planes,
                                const ctext::TextStyle& style) {
        copyText(command, std::move(planes), style);
    };
    // Window-modal and not waited for: the menu stays closed while it is open, and the event
    // loop (and a close of the window) goes on.
    auto* dialog = new ExportDialog(m_planes, QFile::encodeName(picture.fileName()).toStdString(),
                                    save, copy, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void Form1::zoomBy(int direction) {
    zoomTo(m_picture1->nextStep(direction));
}

void Form1::zoomTo(double zoom) {
    if (m_hasPicture) {
        m_picture1->setZoom(zoom);
    }
    updateActions();
}

std::optional<QString> Form1::droppableFile(const QMimeData* data) const {
    if (!m_mOpen->isEnabled() || data == nullptr || !data->hasUrls()) {
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

void Form1::runAside(std::function<void()> work) {
    QEventLoop loop;
    std::thread worker([&loop, work = std::move(work)] {
        work();
        // Queued, so it arrives even if the loop has not started yet.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    // The loop also ends when the application quits; the work is finished either way.
    worker.join();
}

void Form1::reportFailure(const QString& command, const base::Error& failure) {
    m_seams.showError(this, command, surface::messageText(failure));
}

} // namespace window
