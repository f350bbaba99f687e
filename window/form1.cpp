#include "window/form1.h"

#include "conversion/output.h"
#include "imaging/c_array_writer.h"
#include "imaging/plane_encoder.h"
#include "imaging/quantizer.h"
#include "window/picture_view.h"
#include "window/text_pane.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFile>
#include <QFrame>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <new>
#include <thread>

namespace window {
namespace {

const QString kBitmapFilter = QStringLiteral("Bitmap Files (*.bmp)|*.bmp");
const QString kTextFilter = QStringLiteral("Text Files (*.txt)|*.txt");

// The laid-out client area and controls, in pixels.
constexpr QSize kClientSize(420, 364);
constexpr QRect kFrame2(0, 0, 417, 337);
constexpr QRect kText4(0, 344, 49, 19);
constexpr QRect kText5(56, 344, 49, 19);
constexpr QRect kRichTextBox1(120, 344, 33, 17);

} // namespace

void systemBeep() {
    QApplication::beep();
}

void showErrorBox(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::warning(parent, title, text);
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
      m_commonDialog2(kTextFilter, m_seams.chooseFile) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
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
    m_mFile = menuBar()->addMenu(QStringLiteral("&File"));
    m_mFile->setObjectName(QStringLiteral("mFile"));

    auto add = [this](const char* name, const QString& caption, const QKeySequence& shortcut,
                      void (Form1::*command)()) {
        QAction* action = m_mFile->addAction(caption);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, command);
        return action;
    };
    m_mOpen = add("mOpen", QStringLiteral("&Open"), QKeySequence::Open, &Form1::open);
    m_mConvert = add("mConvert", QStringLiteral("&Convert"), QKeySequence(), &Form1::convert);
    m_mSaveP = add("mSaveP", QStringLiteral("Save &Picture"), QKeySequence(), &Form1::savePicture);
    m_mSaveC = add("mSaveC", QStringLiteral("&Save C Code"), QKeySequence::Save, &Form1::saveCCode);
}

void Form1::updateActions() {
    // Nothing can start while a command waits, so no command ever runs inside another.
    const bool idle = !m_busy && !m_closed;
    m_mOpen->setEnabled(idle && m_stage == Stage::Empty);
    m_mConvert->setEnabled(idle && m_stage != Stage::Empty);
    m_mSaveP->setEnabled(idle && m_stage != Stage::Empty);
    m_mSaveC->setEnabled(idle && m_stage == Stage::Converted);
}

void Form1::closeEvent(QCloseEvent* event) {
    // A command that is waiting sees this at its next step and returns without doing more.
    m_closed = true;
    updateActions();
    event->accept();
}

void Form1::open() {
    if (m_busy || m_closed || m_stage != Stage::Empty) {
        return;
    }
    m_busy = true;
    updateActions();
    auto idleAgain = [this] {
        m_busy = false;
        updateActions();
    };

    const QString name = m_commonDialog1.showOpen(this, QStringLiteral("Open"));
    if (m_closed) {
        return;
    }
    if (name.isEmpty()) {
        idleAgain(); // a cancelled Open changes nothing
        return;
    }

    {
        surface::PictureSurface loaded(1, 1);
        std::optional<surface::Failure> failure;
        runAside([&] { failure = loaded.load(name); });
        if (m_closed) {
            return;
        }
        if (failure) {
            idleAgain();
            reportFailure(QStringLiteral("Open"), *failure);
            return;
        }
        // Shares the pixels, and `loaded` lets go of them at the end of this block: the
        // quantizer's writes must not find them shared, or the whole picture would be copied.
        m_surface.setPicture(loaded.image());
    }
    m_picture1->update();

    // The surface refuses pictures over 32767 pixels, so both extents fit 16 bits.
    m_imageHeight = static_cast<std::int16_t>(m_surface.height());
    m_imageWidth = static_cast<std::int16_t>(m_surface.width());

    Progress progress(*this);
    if (imaging::quantize(m_surface, m_imageHeight, m_imageWidth, progress) ==
        imaging::Flow::Stop) {
        return;
    }
    m_stage = Stage::Opened;
    idleAgain();
}

void Form1::convert() {
    if (m_busy || m_closed || m_stage == Stage::Empty) {
        return;
    }
    m_busy = true;
    updateActions();

    Progress progress(*this);
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
    m_busy = false;
    m_planes = std::move(*planes);
    m_richTextBox1->showArrays(m_planes);
    m_stage = Stage::Converted;
    updateActions();
    m_seams.beep();
}

std::string Form1::cCodeText() const {
    return m_stage == Stage::Converted ? imaging::writeArrays(m_planes) : std::string();
}

void Form1::savePicture() {
    if (m_stage != Stage::Empty) {
        saveWith(m_commonDialog1, QStringLiteral("Save Picture"),
                 [this](const QString& name) { return m_surface.save(name); });
    }
}

void Form1::saveCCode() {
    if (m_stage == Stage::Converted) {
        saveWith(m_commonDialog2, QStringLiteral("Save C Code"), [this](const QString& name) {
            return conversion::writeText(m_planes, {}, {QFile::encodeName(name).toStdString()},
                                         surface::Durability::Synced);
        });
    }
}

void Form1::saveWith(FileDialog& dialog, const QString& command,
                     const std::function<std::optional<surface::Failure>(const QString&)>& save) {
    if (m_busy || m_closed) {
        return;
    }
    const QString name = dialog.showSave(this, command);
    if (name.isEmpty() || m_closed) {
        return;
    }
    m_busy = true;
    updateActions();
    std::optional<surface::Failure> failure;
    runAside([&] { failure = save(name); });
    if (m_closed) {
        return;
    }
    m_busy = false;
    updateActions();
    if (failure) {
        reportFailure(command, *failure);
    }
}

void Form1::runAside(const std::function<void()>& work) {
    QEventLoop loop;
    std::thread worker([&] {
        work();
        // Queued, so it arrives even if the loop has not started yet.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    // The loop also ends when the application quits; the work is finished either way.
    worker.join();
}

void Form1::reportFailure(const QString& command, const surface::Failure& failure) {
    m_seams.showError(this, command, failure.message());
}

} // namespace window
