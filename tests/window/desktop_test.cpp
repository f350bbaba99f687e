// The window as a desktop citizen: a picture named on the command line, drops, the View menu's
// zoom with its scroll bars, Copy C Code and the busy cursor while a picture loads.

#include "harness.h"
#include "imaging/levels.h"
#include "window/command_line.h"
#include "window/picture_view.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QUrl>
#include <QWheelEvent>
#include <gtest/gtest.h>

using namespace window_test;

namespace {

constexpr std::uint32_t kWhite = imaging::kWhite;
constexpr std::uint32_t kBlack = imaging::kBlack;
constexpr std::uint32_t kDark = imaging::kDarkGrey;
constexpr std::uint32_t kLight = imaging::kLightGrey;

// 16 x 3: a row of the four levels (in colours that become them), a black row, a white row.
std::vector<std::vector<std::uint32_t>> rows16x3() {
    std::vector<std::uint32_t> first;
    for (int x = 0; x < 16; ++x) {
        first.push_back(
            std::array<std::uint32_t, 4>{0x101010, 0x606060, 0xB0B0B0, 0xF0F0F0}[x % 4]);
    }
    return {first, std::vector<std::uint32_t>(16, 0x000000),
            std::vector<std::uint32_t>(16, 0xFFFFFF)};
}
std::uint32_t level16x3(int x, int y) {
    if (y == 0) {
        return std::array<std::uint32_t, 4>{kBlack, kDark, kLight, kWhite}[x % 4];
    }
    return y == 1 ? kBlack : kWhite;
}

// A white picture of `width` x `height` with a black top-left pixel and a dark grey bottom-right
// one, so that both ends can be told apart when scrolled to.
std::vector<std::vector<std::uint32_t>> cornerRows(int width, int height) {
    std::vector<std::vector<std::uint32_t>> rows(height,
                                                 std::vector<std::uint32_t>(width, 0xFFFFFF));
    rows[0][0] = 0x000000;
    rows[height - 1][width - 1] = 0x606060;
    return rows;
}

class DesktopTest : public testing::Test {
  protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString bitmap(const QString& name, const std::vector<std::vector<std::uint32_t>>& rows) {
        const QString file = path(name);
        writeBitmap(pictureOf(rows), file);
        return file;
    }
    QTemporaryDir m_dir;
};

// ---- the command line ----

struct CommandLineCase {
    const char* what;
    QStringList arguments; // after the program name
    window::CommandLine::Action action;
    QString file;   // expected for Run, relative to the current folder
    QString inText; // a part of the text
};

class CommandLineTest : public testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, IsReadAsDocumented) {
    const CommandLineCase& c = GetParam();
    const window::CommandLine line =
        window::parseCommandLine(QStringList{QStringLiteral("greyplanes")} + c.arguments);
    EXPECT_EQ(line.action, c.action);
    const QString expected =
        c.file.isEmpty() ? QString() : QDir::current().absoluteFilePath(c.file);
    EXPECT_EQ(QDir::cleanPath(line.file), QDir::cleanPath(expected));
    EXPECT_TRUE(line.text.contains(c.inText)) << line.text.toStdString();
    // Only help and the version are answered without a display.
    const bool textOnly = c.action == window::CommandLine::Action::Help ||
                          c.action == window::CommandLine::Action::Version;
    EXPECT_EQ(window::asksForTextOnly(QStringList{QStringLiteral("greyplanes")} + c.arguments),
              textOnly);
}

using Action = window::CommandLine::Action;
INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTest,
    testing::Values(
        CommandLineCase{"none", {}, Action::Run, {}, {}},
        CommandLineCase{"relative", {"logo.bmp"}, Action::Run, "logo.bmp", {}},
        CommandLineCase{"absolute", {"/tmp/x/logo.bmp"}, Action::Run, "/tmp/x/logo.bmp", {}},
        CommandLineCase{"dash name", {"--", "-v.bmp"}, Action::Run, "-v.bmp", {}},
        CommandLineCase{"help", {"--help"}, Action::Help, {}, "[FILE]"},
        CommandLineCase{"short help", {"-h"}, Action::Help, {}, "--version"},
        CommandLineCase{"version", {"--version"}, Action::Version, {}, "greyplanes 0.1.0\n"},
        CommandLineCase{"short version", {"a.bmp", "-v"}, Action::Version, {}, window::version()},
        CommandLineCase{"two files", {"a.bmp", "b.bmp"}, Action::UsageError, {}, "one picture"},
        CommandLineCase{"empty name", {""}, Action::UsageError, {}, "empty"},
        CommandLineCase{"unknown", {"--zoom=2"}, Action::UsageError, {}, "--help"}),
    [](const testing::TestParamInfo<CommandLineCase>& info) {
        return QString::fromLatin1(info.param.what).replace(' ', '_').toStdString();
    });

TEST_F(DesktopTest, AFileFromTheCommandLineIsOpenedAsFromTheDialog) {
    const QString picture = bitmap("in.bmp", rows16x3());
    Harness h;
    EXPECT_TRUE(h.openFile(picture));
    EXPECT_TRUE(h.requests().empty()) << "no dialog";
    EXPECT_EQ(h.menu(), kOpened);
    EXPECT_EQ(h.field("Text5")->text(), QStringLiteral("3"));
    EXPECT_EQ(colourAt(h.shown(), 1, 0), kDark);
    EXPECT_TRUE(h.errors().empty());

    // Open is used up, by either way in.
    EXPECT_FALSE(h.openFile(picture));
    h.choose("mOpen");
    EXPECT_TRUE(h.requests().empty());

    // Save Picture offers the opened file, as after the dialog.
    h.choose("mSaveP", QString());
    ASSERT_EQ(h.requests().size(), 1u);
    EXPECT_EQ(h.requests()[0].initialName, picture);
}

TEST_F(DesktopTest, AFileFromTheCommandLineThatCannotBeReadLeavesOpenAvailable) {
    const QString missing = path("missing.bmp");
    Harness h;
    EXPECT_FALSE(h.openFile(missing));
    ASSERT_EQ(h.errors().size(), 1u);
    EXPECT_EQ(h.errors()[0].title, QStringLiteral("Open"));
    EXPECT_TRUE(h.errors()[0].text.startsWith(QDir::toNativeSeparators(missing) + ": "))
        << h.errors()[0].text.toStdString();
    EXPECT_EQ(h.menu(), kAtStart);
    EXPECT_EQ(h.field("Text5")->text(), QString());
    EXPECT_EQ(h.form().surface().width(), 417);

    // The dialog offers the name that was tried, and Open still works.
    h.choose("mOpen", bitmap("in.bmp", rows16x3()));
    EXPECT_EQ(h.requests().back().initialName, missing);
    EXPECT_EQ(h.menu(), kOpened);
}

TEST_F(DesktopTest, OpenAlsoOffersEveryFormatItReadsButSavePictureOnlyBitmaps) {
    Harness h;
    h.choose("mOpen", bitmap("in.bmp", rows16x3()));
    h.choose("mSaveP", QString());
    ASSERT_EQ(h.requests().size(), 2u);
    ASSERT_EQ(h.requests()[0].moreFilters.size(), 1);
    const QString all = h.requests()[0].moreFilters[0];
    const QStringList patterns = all.mid(all.indexOf(QLatin1Char('|')) + 1).split(';');
    for (const char* name :
         {"a.bmp", "a.png", "a.gif", "a.jpg", "a.jpeg", "a.pbm", "a.pgm", "a.ppm", "a.pnm"}) {
        EXPECT_TRUE(QDir::match(patterns, QLatin1String(name))) << name;
    }
    EXPECT_TRUE(h.requests()[1].moreFilters.isEmpty());
}

TEST_F(DesktopTest, TheCursorIsBusyWhileAPictureLoadsAndRestoredAfter) {
    const QString good = bitmap("in.bmp", rows16x3());
    for (const QString& name : {good, path("missing.bmp")}) {
        Harness h;
        // Posted now, so it runs at the first event the window processes: inside the load.
        std::optional<Qt::CursorShape> during;
        QMetaObject::invokeMethod(
            &h.form(),
            [&] {
                const QCursor* cursor = QApplication::overrideCursor();
                during = cursor ? cursor->shape() : Qt::ArrowCursor;
            },
            Qt::QueuedConnection);
        h.openFile(name);
        EXPECT_EQ(during, Qt::BusyCursor) << name.toStdString();
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << name.toStdString();
    }
}

// ---- drops ----

enum class Payload { OneFile, TwoFiles, WebAddress, Text, Folder, MoveOnly };

struct DropCase {
    const char* what;
    Payload payload;
    MenuState menu; // the state in which the drop arrives
    bool accepted;
};

class DropTest : public testing::TestWithParam<DropCase> {
  protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

// Sends one drag event to the form as the window system would, starting refused; whether the
// window accepted it. Qt hands moves and the drop only to the widget that accepted the drag's
// enter, and forgets that widget at the drop.
template <typename Event>
bool sendDrag(QWidget& target, const QMimeData& data, Qt::DropActions actions) {
    Event event(QPoint(100, 100), actions, &data, Qt::LeftButton, Qt::NoModifier);
    event.ignore();
    QApplication::sendEvent(&target, &event);
    if (event.isAccepted()) {
        EXPECT_EQ(event.dropAction(), Qt::CopyAction) << "never a move: the source would delete";
    }
    return event.isAccepted();
}

// A drag over the form and its drop: whether the enter, a move and the drop were accepted.
std::array<bool, 3> dragAndDrop(QWidget& target, const QMimeData& data, Qt::DropActions actions) {
    return {sendDrag<QDragEnterEvent>(target, data, actions),
            sendDrag<QDragMoveEvent>(target, data, actions),
            sendDrag<QDropEvent>(target, data, actions)};
}

// Processes events for a while: a window's repaint comes a few milliseconds after it is asked.
void processFor(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

TEST_P(DropTest, OneLocalFileOpensWhileOpenIsAvailable) {
    const DropCase& c = GetParam();
    const QString picture = path("in.bmp");
    writeBitmap(pictureOf(rows16x3()), picture);
    const QString second = path("second.bmp");
    writeBitmap(pictureOf({{0x000000}}), second);

    Harness h;
    if (c.menu != kAtStart) {
        h.choose("mOpen", second);
        if (c.menu == kConverted) {
            h.choose("mConvert");
        }
    }
    ASSERT_EQ(h.menu(), c.menu);
    const int widthBefore = h.form().surface().width();
    const QString totalBefore = h.field("Text5")->text();

    QMimeData data;
    Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    switch (c.payload) {
    case Payload::OneFile:
        data.setUrls({QUrl::fromLocalFile(picture)});
        break;
    case Payload::TwoFiles:
        data.setUrls({QUrl::fromLocalFile(picture), QUrl::fromLocalFile(second)});
        break;
    case Payload::WebAddress:
        data.setUrls({QUrl(QStringLiteral("https://example.org/in.bmp"))});
        break;
    case Payload::Text:
        data.setText(picture);
        break;
    case Payload::Folder:
        data.setUrls({QUrl::fromLocalFile(m_dir.path())});
        break;
    case Payload::MoveOnly:
        data.setUrls({QUrl::fromLocalFile(picture)});
        actions = Qt::MoveAction;
        break;
    }
    const std::array<bool, 3> accepted = dragAndDrop(h.form(), data, actions);
    EXPECT_EQ(accepted, (std::array<bool, 3>{c.accepted, c.accepted, c.accepted}));
    QCoreApplication::processEvents(); // the drop's Open runs once the drop is answered
    h.settle();

    EXPECT_TRUE(h.requests().size() <= 1u) << "a drop never shows the dialog";
    EXPECT_TRUE(h.errors().empty());
    if (c.accepted) {
        EXPECT_EQ(h.menu(), kOpened);
        EXPECT_EQ(h.form().surface().width(), 16);
        EXPECT_EQ(h.field("Text5")->text(), QStringLiteral("3"));
    } else {
        EXPECT_EQ(h.menu(), c.menu);
        EXPECT_EQ(h.form().surface().width(), widthBefore);
        EXPECT_EQ(h.field("Text5")->text(), totalBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Drops, DropTest,
    testing::Values(DropCase{"file_at_start", Payload::OneFile, kAtStart, true},
                    DropCase{"file_after_open", Payload::OneFile, kOpened, false},
                    DropCase{"file_after_convert", Payload::OneFile, kConverted, false},
                    DropCase{"two_files", Payload::TwoFiles, kAtStart, false},
                    DropCase{"web_address", Payload::WebAddress, kAtStart, false},
                    DropCase{"text", Payload::Text, kAtStart, false},
                    DropCase{"folder", Payload::Folder, kAtStart, false},
                    DropCase{"move_only", Payload::MoveOnly, kAtStart, false}),
    [](const testing::TestParamInfo<DropCase>& info) { return std::string(info.param.what); });

TEST_F(DesktopTest, DropsAreRefusedDuringOpensScan) {
    std::vector<std::vector<std::uint32_t>> rows(6, std::vector<std::uint32_t>(4, 0x101010));
    const QString first = bitmap("first.bmp", rows);
    const QString other = bitmap("other.bmp", rows16x3());
    Harness h(std::chrono::milliseconds(0));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(other)});
    // A drag that came in while Open was available and is still over the window when the scan
    // runs: its moves and its drop are refused then.
    ASSERT_TRUE(sendDrag<QDragEnterEvent>(h.form(), data, Qt::CopyAction));
    std::vector<bool> moves;
    std::optional<bool> dropped;
    std::vector<std::array<bool, 3>> newDrags;
    QObject::connect(h.field("Text4"), &QLineEdit::textChanged, [&] {
        if (!dropped) {
            moves.push_back(sendDrag<QDragMoveEvent>(h.form(), data, Qt::CopyAction));
            dropped = sendDrag<QDropEvent>(h.form(), data, Qt::CopyAction);
        } else {
            newDrags.push_back(dragAndDrop(h.form(), data, Qt::CopyAction));
        }
    });
    h.choose("mOpen", first);
    processFor(std::chrono::milliseconds(20));
    EXPECT_EQ(moves, std::vector<bool>{false});
    EXPECT_EQ(dropped, false);
    ASSERT_FALSE(newDrags.empty());
    for (const auto& accepted : newDrags) {
        EXPECT_EQ(accepted, (std::array<bool, 3>{false, false, false}));
    }
    EXPECT_EQ(h.form().surface().width(), 4);
    EXPECT_EQ(h.menu(), kOpened);
    EXPECT_TRUE(h.errors().empty());
}

// ---- the View menu ----

// The frame beyond the picture at any zoom but 1x.
constexpr std::uint32_t kBeyond = 0x908070;

TEST_F(DesktopTest, ZoomStepsGoDownToWhereThePictureFitsAndUpTo64) {
    Harness h;
    window::PictureView& view = h.view();
    for (const char* entry : {"mZoomIn", "mZoomOut", "mActualSize", "mZoomToFit"}) {
        EXPECT_FALSE(h.action(entry)->isEnabled()) << entry << " before a picture is open";
    }
    // 1000 x 700 in 417 x 337: at 1/2 it is 350 high, at 1/4 it fits.
    h.openFile(bitmap("in.bmp", cornerRows(1000, 700)));
    std::vector<double> out;
    while (h.action("mZoomOut")->isEnabled()) {
        h.choose("mZoomOut");
        out.push_back(view.zoom());
    }
    EXPECT_EQ(out, (std::vector<double>{0.5, 0.25}));
    h.choose("mActualSize");
    std::vector<double> in;
    while (h.action("mZoomIn")->isEnabled()) {
        h.choose("mZoomIn");
        in.push_back(view.zoom());
    }
    EXPECT_EQ(in, (std::vector<double>{2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64}));
    view.setZoom(100);
    EXPECT_EQ(view.zoom(), 64);
    // The zoom changes only what is shown.
    EXPECT_EQ(h.menu(), kOpened);
}

TEST_F(DesktopTest, ZoomToFitShowsAPictureLargerThanTheFrameWhole) {
    // White with a black edge two pixels wide, so that its ends survive the scaling down.
    std::vector<std::vector<std::uint32_t>> rows(700, std::vector<std::uint32_t>(1000, 0xFFFFFF));
    for (int y = 0; y < 700; ++y) {
        for (int x = 0; x < 1000; ++x) {
            if (x < 3 || y < 3 || x >= 997 || y >= 697) {
                rows[y][x] = 0;
            }
        }
    }
    Harness h;
    h.openFile(bitmap("in.bmp", rows));
    h.choose("mZoomToFit");
    QCoreApplication::processEvents();
    EXPECT_FALSE(h.view().horizontalScrollBar()->isVisible());
    EXPECT_FALSE(h.view().verticalScrollBar()->isVisible());
    const QImage shown = h.shown();
    // 417 / 1000 of the picture: 417 x 292 pixels.
    EXPECT_EQ(colourAt(shown, 0, 0), kBlack);
    EXPECT_EQ(colourAt(shown, 416, 291), kBlack);
    EXPECT_EQ(colourAt(shown, 200, 150), kWhite);
    EXPECT_EQ(colourAt(shown, 410, 150), kWhite);
    EXPECT_EQ(colourAt(shown, 200, 292), kBeyond);
    // A small one is enlarged by the largest whole factor that fits: 16 x 3 in 417 x 337 is
    // 26 times (417 / 16 = 26.06; the height would allow 112).
    Harness small;
    small.openFile(bitmap("small.bmp", rows16x3()));
    small.choose("mZoomToFit");
    EXPECT_EQ(small.view().zoom(), 26);
    EXPECT_FALSE(small.view().horizontalScrollBar()->isVisible());
}

TEST(ZoomText, IsAPlainPercentageAtEveryStep) {
    const std::pair<double, const char*> cases[] = {
        {1, "100%"},      {12, "1200%"},    {64, "6400%"},
        {0.5, "50%"},     {0.125, "12.5%"}, {0.0625, "6.25%"},
        {0.417, "41.7%"}, {26, "2600%"},    {1.0 / 32768, "0.00305%"},
    };
    for (const auto& [zoom, text] : cases) {
        EXPECT_EQ(window::zoomText(zoom), QString::fromLatin1(text)) << zoom;
    }
}

TEST_F(DesktopTest, CtrlWheelZoomsAboutThePointer) {
    Harness h;
    h.openFile(bitmap("in.bmp", cornerRows(600, 400)));
    window::PictureView& view = h.view();
    QCoreApplication::processEvents();
    const QPointF pointer(300, 100);
    // The picture point under the pointer at 1x: (300, 100) from the top-left.
    QWheelEvent notch(pointer, view.viewport()->mapToGlobal(pointer), {}, {0, 120}, Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view.viewport(), &notch);
    EXPECT_EQ(view.zoom(), 2);
    // Now at (600, 200) of the zoomed picture, still under the pointer.
    EXPECT_NEAR(view.horizontalScrollBar()->value(), 600 - 300, 1);
    EXPECT_NEAR(view.verticalScrollBar()->value(), 200 - 100, 1);
    EXPECT_TRUE(h.action("mZoomOut")->isEnabled());
}

TEST_F(DesktopTest, AtOneTimesAPictureThatFitsLooksAsBefore) {
    const auto rows = rows16x3();
    Harness h;
    h.choose("mOpen", bitmap("in.bmp", rows));
    // As the view drew before it could zoom: the picture at the top-left, white around it.
    QImage expected(417, 337, QImage::Format_RGB32);
    expected.fill(Qt::white);
    QPainter(&expected).drawImage(0, 0, h.form().surface().image());
    const QImage before = h.shown().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(before, expected);
    EXPECT_FALSE(h.view().horizontalScrollBar()->isVisible());
    EXPECT_FALSE(h.view().verticalScrollBar()->isVisible());
    EXPECT_EQ(h.view().viewport()->geometry(), QRect(0, 0, 417, 337));

    // Zoomed in and back, the same pixels again.
    h.choose("mZoomIn");
    h.choose("mZoomIn");
    EXPECT_NE(h.shown().convertToFormat(QImage::Format_RGB32), expected);
    h.choose("mActualSize");
    EXPECT_EQ(h.shown().convertToFormat(QImage::Format_RGB32), expected);
}

TEST_F(DesktopTest, EachPictureCellIsASharpSquareAtEveryZoom) {
    Harness h;
    h.choose("mOpen", bitmap("in.bmp", rows16x3()));
    for (const int zoom : {2, 3, 7, 8, 16}) {
        h.view().setZoom(zoom);
        const QImage shown = h.shown();
        for (int y = 0; y < std::min(3 * zoom + 2, shown.height()); ++y) {
            for (int x = 0; x < std::min(16 * zoom + 2, shown.width()); ++x) {
                const bool inside = x < 16 * zoom && y < 3 * zoom;
                const std::uint32_t want = inside ? level16x3(x / zoom, y / zoom) : kBeyond;
                if (inside && zoom >= 8 && (x % zoom == 0 || y % zoom == 0)) {
                    // The grid: visible on every level.
                    ASSERT_NE(colourAt(shown, x, y), want) << zoom << "x at " << x << "," << y;
                    continue;
                }
                ASSERT_EQ(colourAt(shown, x, y), want) << zoom << "x at " << x << "," << y;
            }
        }
    }
}

struct ScrollCase {
    int width;
    int height;
    int zoom;
    bool horizontal; // which bars are shown
    bool vertical;
};

class ScrollTest : public testing::TestWithParam<ScrollCase> {
  protected:
    QTemporaryDir m_dir;
};

TEST_P(ScrollTest, BarsAppearWhenTheZoomedPictureIsLargerThanTheFrame) {
    const ScrollCase& c = GetParam();
    const QString picture = m_dir.filePath(QStringLiteral("in.bmp"));
    writeBitmap(pictureOf(cornerRows(c.width, c.height)), picture);
    Harness h;
    h.openFile(picture);
    h.view().setZoom(c.zoom);
    QCoreApplication::processEvents(); // the bars are shown or hidden a moment later

    QScrollBar* horizontal = h.view().horizontalScrollBar();
    QScrollBar* vertical = h.view().verticalScrollBar();
    EXPECT_EQ(horizontal->isVisible(), c.horizontal);
    EXPECT_EQ(vertical->isVisible(), c.vertical);
    const int extent =
        h.view().style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &h.view());
    const QSize view(417 - (c.vertical ? extent : 0), 337 - (c.horizontal ? extent : 0));
    EXPECT_EQ(h.view().viewport()->size(), view);
    EXPECT_EQ(horizontal->maximum(), std::max(0, c.width * c.zoom - view.width()));
    EXPECT_EQ(vertical->maximum(), std::max(0, c.height * c.zoom - view.height()));
    EXPECT_EQ(horizontal->pageStep(), view.width());
    EXPECT_EQ(vertical->pageStep(), view.height());

    // Scrolled to the far end, the last picture pixel is in the view's bottom-right corner; at
    // the start, the first is at the top-left.
    // The ranges are right at once, before the bars are shown.
    h.view().setZoom(1);
    h.view().setZoom(c.zoom);
    EXPECT_EQ(horizontal->maximum(), std::max(0, c.width * c.zoom - view.width()));
    EXPECT_EQ(vertical->maximum(), std::max(0, c.height * c.zoom - view.height()));
    QCoreApplication::processEvents();
    horizontal->setValue(horizontal->maximum());
    vertical->setValue(vertical->maximum());
    const QImage far = h.view().viewport()->grab().toImage();
    const int right = std::min(view.width(), c.width * c.zoom) - 1;
    const int bottom = std::min(view.height(), c.height * c.zoom) - 1;
    EXPECT_EQ(colourAt(far, right, bottom), kDark);
    EXPECT_EQ(colourAt(far, right - c.zoom, bottom), kWhite);
    horizontal->setValue(0);
    vertical->setValue(0);
    const QImage near = h.view().viewport()->grab().toImage();
    // Inside the cells, away from the grid of the larger zooms.
    const int mid = c.zoom / 2;
    EXPECT_EQ(colourAt(near, mid, mid), kBlack);
    EXPECT_EQ(colourAt(near, c.zoom - 1, c.zoom - 1), kBlack);
    EXPECT_EQ(colourAt(near, c.zoom + mid, mid), kWhite);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, ScrollTest,
    testing::Values(ScrollCase{100, 80, 1, false, false}, ScrollCase{100, 80, 4, false, false},
                    ScrollCase{100, 80, 5, true, true}, ScrollCase{600, 100, 1, true, false},
                    ScrollCase{100, 400, 1, false, true},
                    // Only the width is over, but its bar leaves less than the height.
                    ScrollCase{600, 330, 1, true, true},
                    // Only the height is over, but its bar narrows the view below the width.
                    ScrollCase{410, 400, 1, true, true}, ScrollCase{600, 400, 1, true, true},
                    ScrollCase{600, 400, 16, true, true}));

TEST_F(DesktopTest, ZoomKeepsThePicturePointAtTheCentreOfTheView) {
    Harness h;
    h.openFile(bitmap("in.bmp", cornerRows(600, 400)));
    window::PictureView& view = h.view();
    QCoreApplication::processEvents();
    const QSize size = view.viewport()->size(); // both bars at 1x and after
    view.horizontalScrollBar()->setValue(100);
    view.verticalScrollBar()->setValue(50);
    h.choose("mZoomIn");
    // The point at the centre, (100 + w / 2, 50 + h / 2), is twice as far from the corner now.
    EXPECT_NEAR(view.horizontalScrollBar()->value(),
                2 * (100 + size.width() / 2.0) - size.width() / 2.0, 1);
    EXPECT_NEAR(view.verticalScrollBar()->value(),
                2 * (50 + size.height() / 2.0) - size.height() / 2.0, 1);
    h.choose("mActualSize");
    EXPECT_NEAR(view.horizontalScrollBar()->value(), 100, 1);
    EXPECT_NEAR(view.verticalScrollBar()->value(), 50, 1);
}

// Records the rectangles a widget is asked to paint.
class PaintSpy : public QObject {
  public:
    QRegion painted;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
};

TEST_F(DesktopTest, ARowPaintedByAScanIsRepaintedAtItsZoomedPlace) {
    surface::PictureSurface surface(200, 400);
    window::PictureView view(surface);
    view.resize(417, 337);
    view.show();
    view.setZoom(2); // keeps the centre of the view in place, so it scrolls down
    view.verticalScrollBar()->setValue(0);
    processFor(std::chrono::milliseconds(50));
    PaintSpy spy;
    view.viewport()->installEventFilter(&spy);
    const int extent = view.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &view);
    ASSERT_TRUE(view.verticalScrollBar()->isVisible());
    ASSERT_FALSE(view.horizontalScrollBar()->isVisible()); // 400 px wide fits 417 - bar

    view.rowChanged(3);
    processFor(std::chrono::milliseconds(50));
    EXPECT_EQ(spy.painted, QRegion(0, 6, 400, 2));

    // Scrolled down by 100 pixels: row 60 is at 120 - 100; row 10 is out of sight.
    view.verticalScrollBar()->setValue(100);
    processFor(std::chrono::milliseconds(50));
    spy.painted = {};
    view.rowChanged(60);
    view.rowChanged(10);
    processFor(std::chrono::milliseconds(50));
    EXPECT_EQ(spy.painted, QRegion(0, 20, 400, 2));
    EXPECT_EQ(view.viewport()->width(), 417 - extent);
}

// ---- Copy C Code ----

TEST_F(DesktopTest, CopyCCodePutsTheSavedTextOnTheClipboard) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("before"));
    Harness h;
    // Enabled exactly when Save C Code is; before that it does nothing.
    EXPECT_FALSE(h.action("mCopyC")->isEnabled());
    h.choose("mCopyC");
    EXPECT_EQ(clipboard->text(), QStringLiteral("before"));
    h.choose("mOpen", bitmap("in.bmp", rows16x3()));
    EXPECT_FALSE(h.action("mCopyC")->isEnabled());
    h.choose("mConvert");
    EXPECT_TRUE(h.action("mCopyC")->isEnabled());

    h.choose("mCopyC");
    const QString saved = path("out.txt");
    h.choose("mSaveC", saved);
    const QByteArray text = readAll(saved);
    ASSERT_GT(text.size(), 40);
    EXPECT_EQ(clipboard->text().toLatin1(), text);
    EXPECT_EQ(h.action("mCopyC")->isEnabled(), h.action("mSaveC")->isEnabled());

    // A selection copied from the pane, the whole text or a part across lines, is the same
    // characters with the same line ends.
    auto* pane = h.form().findChild<QPlainTextEdit*>(QStringLiteral("RichTextBox1"));
    ASSERT_NE(pane, nullptr);
    pane->selectAll();
    pane->copy();
    EXPECT_EQ(clipboard->text().toLatin1(), text);
    QTextCursor part = pane->textCursor();
    part.setPosition(10);
    part.setPosition(60, QTextCursor::KeepAnchor);
    pane->setTextCursor(part);
    pane->copy();
    // The 50 characters from the 10th of the pane are that many bytes of the file, each of
    // its CR LF counted as one character.
    qsizetype end = 10;
    for (int shown = 0; shown < 50; ++end) {
        shown += text[end] == '\r' ? 0 : 1;
    }
    EXPECT_EQ(clipboard->text().toLatin1(), text.mid(10, end - 10));
    EXPECT_TRUE(h.errors().empty());
}

TEST_F(DesktopTest, CopyCCodeRefusesATextOverTheLimitAndPointsToSaveCCode) {
    EXPECT_EQ(window::Seams().clipboardLimit, std::size_t{16} * 1024 * 1024);
    const QString picture = bitmap("in.bmp", rows16x3());
    std::size_t size = 0;
    {
        Harness h;
        h.choose("mOpen", picture);
        h.choose("mConvert");
        size = h.paneText().size();
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    for (const std::size_t limit : {size - 1, size}) {
        clipboard->setText(QStringLiteral("before"));
        Harness h(std::chrono::milliseconds(15), limit);
        h.choose("mOpen", picture);
        h.choose("mConvert");
        h.choose("mCopyC");
        if (limit < size) {
            ASSERT_EQ(h.errors().size(), 1u);
            EXPECT_EQ(h.errors()[0].title, QStringLiteral("Copy C Code"));
            EXPECT_TRUE(h.errors()[0].text.contains(QStringLiteral("Save C Code")));
            EXPECT_TRUE(h.errors()[0].text.contains(QString::number(size)));
            EXPECT_EQ(clipboard->text(), QStringLiteral("before"));
        } else {
            EXPECT_TRUE(h.errors().empty());
            EXPECT_EQ(clipboard->text().toStdString(), h.paneText());
        }
        EXPECT_EQ(h.menu(), kConverted);
    }
}

} // namespace
