// The window's layout, its menu rules and the four commands, driven through the seams.

#include "harness.h"
#include "imaging/levels.h"
#include "pictures/picture_reader.h"
#include "support/gif_builder.h"
#include "window/text_pane.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace window_test;

namespace {

constexpr std::uint32_t kBlack = imaging::kBlack;
constexpr std::uint32_t kDark = imaging::kDarkGrey;
constexpr std::uint32_t kLight = imaging::kLightGrey;
constexpr std::uint32_t kWhite = imaging::kWhite;

// Colours on the band edges and off the grey axis, with the level each must become.
struct Sample {
    std::uint32_t colour;
    std::uint32_t level;
};
const std::vector<Sample> kSamples = {
    {0x2A2A2A, kBlack}, {0x2B2B2B, kDark},  {0xD4D4D4, kLight}, {0xD5D5D5, kWhite},
    {0x0000FF, kDark},  {0x818181, kLight}, {0x7F7F7F, kDark},  {0x808080, kLight},
};

// 16 x 3: the samples twice, a row of near-black, a row of white.
std::vector<std::vector<std::uint32_t>> rows16x3() {
    std::vector<std::uint32_t> first;
    for (int repeat = 0; repeat < 2; ++repeat) {
        for (const Sample& s : kSamples) {
            first.push_back(s.colour);
        }
    }
    return {first, std::vector<std::uint32_t>(16, 0x0A0B0C),
            std::vector<std::uint32_t>(16, 0xFFFFFF)};
}

// Worked out by hand from the samples: dark bits 11001010 and light bits 10100101 in row 0.
const std::string kText16x3 = "static unsigned char Untitled_d[] = {\r\n"
                              "\r\n0xCA, 0xCA, \r\n0xFF, 0xFF, \r\n0x00, 0x00, \r\n"
                              "\r\n"
                              "static unsigned char Untitled_l[] = {\r\n"
                              "\r\n0xA5, 0xA5, \r\n0xFF, 0xFF, \r\n0x00, 0x00, ";

const std::string kTextBlackPixel = "static unsigned char Untitled_d[] = {\r\n\r\n0x80, \r\n"
                                    "\r\n"
                                    "static unsigned char Untitled_l[] = {\r\n\r\n0x80, ";

class Form1Test : public testing::Test {
  protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString bitmap(const QString& name, const std::vector<std::vector<std::uint32_t>>& rows) {
        const QString file = path(name);
        writeBitmap(pictureOf(rows), file);
        return file;
    }
    QStringList files() const { return QDir(m_dir.path()).entryList(QDir::Files); }

    QTemporaryDir m_dir;
};

TEST_F(Form1Test, StartsLaidOutWithOnlyOpenAvailable) {
    Harness h;
    window::Form1& form = h.form();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Form1"));
    EXPECT_EQ(form.objectName(), QStringLiteral("Form1"));
    EXPECT_EQ(form.centralWidget()->size(), QSize(420, 364));

    auto geometry = [&](const char* name) {
        auto* widget = form.findChild<QWidget*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget ? widget->geometry() : QRect();
    };
    EXPECT_EQ(geometry("Frame2"), QRect(0, 0, 417, 337));
    EXPECT_EQ(geometry("Picture1"), QRect(0, 0, 417, 337));
    EXPECT_EQ(form.findChild<QWidget*>(QStringLiteral("Picture1"))->parentWidget()->objectName(),
              QStringLiteral("Frame2"));
    EXPECT_EQ(geometry("Text4"), QRect(0, 344, 49, 19));
    EXPECT_EQ(geometry("Text5"), QRect(56, 344, 49, 19));
    EXPECT_EQ(geometry("RichTextBox1"), QRect(120, 344, 33, 17));

    EXPECT_EQ(h.field("Text4")->text(), QStringLiteral("1"));
    EXPECT_EQ(h.field("Text5")->text(), QString());
    auto* pane = form.findChild<QPlainTextEdit*>(QStringLiteral("RichTextBox1"));
    EXPECT_TRUE(pane->toPlainText().isEmpty());
    EXPECT_EQ(pane->font().family(), QStringLiteral("Courier New"));
    EXPECT_DOUBLE_EQ(pane->font().pointSizeF(), 8.25);

    const QImage shown = h.shown();
    EXPECT_EQ(shown.size(), QSize(417, 337));
    EXPECT_EQ(colourAt(shown, 0, 0), kWhite);
    EXPECT_EQ(colourAt(shown, 416, 336), kWhite);

    // Tab order: the named controls in the focus chain, leaving out their inner parts.
    const QStringList controls{"RichTextBox1", "Frame2", "Text4", "Text5", "Picture1"};
    std::vector<QString> chain;
    QWidget* start = form.findChild<QWidget*>(QStringLiteral("RichTextBox1"));
    QWidget* w = start;
    do {
        if (controls.contains(w->objectName())) {
            chain.push_back(w->objectName());
        }
        w = w->nextInFocusChain();
    } while (w != start);
    EXPECT_EQ(chain,
              (std::vector<QString>{"RichTextBox1", "Frame2", "Text4", "Text5", "Picture1"}));

    auto* file = form.findChild<QMenu*>(QStringLiteral("mFile"));
    auto* edit = form.findChild<QMenu*>(QStringLiteral("mEdit"));
    auto* view = form.findChild<QMenu*>(QStringLiteral("mView"));
    ASSERT_NE(file, nullptr);
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(form.menuBar()->actions(),
              (QList<QAction*>{file->menuAction(), edit->menuAction(), view->menuAction()}));
    EXPECT_EQ(file->title().remove(QLatin1Char('&')), QStringLiteral("File"));
    QStringList captions;
    QStringList names;
    // The four commands come first; what is added follows them.
    for (QAction* action : file->actions().first(4)) {
        captions << action->text().remove(QLatin1Char('&'));
        names << action->objectName();
    }
    // The four entries come first; further ones follow a separator.
    EXPECT_EQ(captions.mid(0, 4), (QStringList{"Open", "Convert", "Save Picture", "Save C Code"}));
    EXPECT_EQ(names.mid(0, 4), (QStringList{"mOpen", "mConvert", "mSaveP", "mSaveC"}));
    EXPECT_TRUE(captions.size() == 4 || file->actions()[4]->isSeparator());
    EXPECT_EQ(h.menu(), kAtStart);
}

TEST_F(Form1Test, MenuFollowsTheCommandsAndIsClosedDuringScans) {
    const QString picture = bitmap("in.bmp", rows16x3());
    Harness h(std::chrono::milliseconds(0));
    std::vector<MenuState> duringScans;
    QObject::connect(h.field("Text4"), &QLineEdit::textChanged,
                     [&] { duringScans.push_back(h.menu()); });

    // Entries that are greyed out do nothing.
    h.choose("mConvert");
    h.choose("mSaveP");
    h.choose("mSaveC");
    EXPECT_TRUE(h.requests().empty());
    EXPECT_EQ(h.beeps(), 0);

    h.choose("mOpen", picture);
    EXPECT_EQ(h.menuInDialogs(), std::vector<MenuState>{kNone});
    EXPECT_EQ(h.menu(), kOpened);
    // Text4 already shows "1", so it changes for rows 2 and 3.
    EXPECT_EQ(duringScans, std::vector<MenuState>(2, kNone));

    // One picture per run.
    h.choose("mOpen");
    EXPECT_EQ(h.requests().size(), 1u);

    duringScans.clear();
    h.choose("mConvert");
    EXPECT_EQ(duringScans, std::vector<MenuState>(3, kNone));
    EXPECT_EQ(h.menu(), kConverted);
    h.choose("mConvert");
    EXPECT_EQ(h.menu(), kConverted);
    EXPECT_TRUE(h.errors().empty());
}

TEST_F(Form1Test, OpenQuantizesOnePixel) {
    const QString picture = bitmap("one.bmp", {{0x7F7F7F}});
    Harness h;
    std::vector<QString> totals;
    std::vector<QString> done;
    QObject::connect(h.field("Text5"), &QLineEdit::textChanged,
                     [&](const QString& t) { totals.push_back(t); });
    QObject::connect(h.field("Text4"), &QLineEdit::textChanged,
                     [&](const QString& t) { done.push_back(t); });

    h.choose("mOpen", picture);

    ASSERT_EQ(h.requests().size(), 1u);
    const window::DialogRequest& request = h.requests()[0];
    EXPECT_EQ(request.mode, window::DialogMode::Open);
    EXPECT_EQ(request.filter, QStringLiteral("Bitmap Files (*.bmp)|*.bmp"));
    EXPECT_TRUE(request.initialName.isEmpty());
    EXPECT_EQ(totals, std::vector<QString>{"1"});
    // Text4 starts at "1" and shows "1" again: no change to see, but no other value either.
    EXPECT_TRUE(done.empty() || done == std::vector<QString>{"1"});
    EXPECT_EQ(h.field("Text4")->text(), QStringLiteral("1"));

    const QImage shown = h.shown();
    EXPECT_EQ(colourAt(shown, 0, 0), kDark);
    EXPECT_EQ(colourAt(shown, 1, 0), kWhite);
    EXPECT_EQ(colourAt(shown, 0, 1), kWhite);
    EXPECT_EQ(h.menu(), kOpened);
}

TEST_F(Form1Test, OpenQuantizesRowByRowFromTheTop) {
    const auto rows = rows16x3();
    const QString picture = bitmap("in.bmp", rows);
    Harness h(std::chrono::milliseconds(0));
    std::vector<QString> totals;
    std::vector<QString> done;
    std::vector<QImage> seen; // Picture1 as shown when each row is reported done
    QObject::connect(h.field("Text5"), &QLineEdit::textChanged,
                     [&](const QString& t) { totals.push_back(t); });
    QObject::connect(h.field("Text4"), &QLineEdit::textChanged, [&](const QString& t) {
        done.push_back(t);
        seen.push_back(h.shown());
    });

    h.choose("mOpen", picture);

    EXPECT_EQ(totals, std::vector<QString>{"3"});
    // "1" is already shown when the scan starts, so the first change is to "2".
    EXPECT_EQ(done, (std::vector<QString>{"2", "3"}));
    ASSERT_EQ(seen.size(), 2u);
    // When row 1 is reported done, row 2 still shows the loaded colours.
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(colourAt(seen[0], x, 2), rows[2][x]) << x;
        EXPECT_EQ(colourAt(seen[0], x, 1), kBlack) << x;
    }

    const QImage shown = h.shown();
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(colourAt(shown, x, 0), kSamples[x % 8].level) << "column " << x;
        EXPECT_EQ(colourAt(shown, x, 1), kBlack) << "column " << x;
        EXPECT_EQ(colourAt(shown, x, 2), kWhite) << "column " << x;
    }
    EXPECT_EQ(colourAt(shown, 16, 0), kWhite);
    EXPECT_EQ(h.form().surface().width(), 16);
    EXPECT_EQ(h.form().surface().height(), 3);
}

TEST_F(Form1Test, OpenShowsEachRowAsItIsRead) {
    // A bitmap stored from the bottom, as bitmaps usually are, and the same picture as a PNG:
    // the rows of both arrive from the top.
    const int width = 7;
    const int height = 40;
    std::vector<std::vector<std::uint32_t>> rows(height, std::vector<std::uint32_t>(width));
    QImage png(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rows[y][x] = static_cast<std::uint32_t>(((x + 1) * 0x25) | (y * 6) << 8 |
                                                    ((x * y * 3) & 0xFF) << 16);
            const std::uint32_t c = rows[y][x];
            png.setPixel(x, y,
                         qRgb(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                              static_cast<int>(c >> 16)));
        }
    }
    const QString pngName = path(QStringLiteral("tall.png"));
    ASSERT_TRUE(png.save(pngName));
    for (const QString& picture : {bitmap("tall.bmp", rows), pngName}) {
        SCOPED_TRACE(picture.toStdString());
        Harness h(std::chrono::milliseconds(0));
        std::vector<std::pair<int, int>> bands; // those shown before the last row was read
        QImage whole;
        h.onRowsShown([&](int first, int end) {
            if (end - first == height) {
                whole = h.form().surface().image().copy();
                return;
            }
            bands.emplace_back(first, end);
            const QImage shown = h.shown();
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const bool read = y >= first && y < end;
                    ASSERT_EQ(colourAt(shown, x, y), read ? rows[y][x] : kWhite)
                        << "rows " << first << " to " << end << ", pixel " << x << ", " << y;
                }
            }
        });

        h.choose("mOpen", picture);

        ASSERT_FALSE(bands.empty());
        EXPECT_EQ(bands.front(), std::make_pair(0, 1));
        // What was read row by row is the picture as read in one go.
        QFile file(picture);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const auto read = pictures::readPicture(file, "picture");
        ASSERT_TRUE(std::holds_alternative<QImage>(read));
        EXPECT_EQ(whole, std::get<QImage>(read));
        EXPECT_EQ(h.menu(), kOpened);
    }
}

// A GIF streams into the window; what it shows is Qt's reader's first frame, interlaced rows in
// their places, with a transparent pixel kept transparent.
TEST_F(Form1Test, StreamedGifShowsWhatQtsReaderShows) {
    testing_support::GifFrame frame;
    frame.width = 5;
    frame.height = 9;
    frame.control = true;
    frame.transparent = 2;
    for (int i = 0; i < frame.width * frame.height; ++i) {
        frame.indices.push_back(static_cast<std::uint8_t>((i * 7 + i / 5) % 4));
    }
    testing_support::GifPicture gif;
    gif.width = 5;
    gif.height = 9;
    gif.palette = {0x10, 0x20, 0x30, 0x90, 0x80, 0x70, 0xF0, 0x00, 0xF0, 0xC8, 0xC8, 0x08};
    gif.frames = {frame};
    testing_support::GifFrame second = frame;
    second.transparent = -1;
    for (bool interlaced : {false, true}) {
        gif.frames = {frame, second};
        gif.frames[0].interlaced = interlaced;
        const std::vector<std::uint8_t> bytes = testing_support::writeGif(gif);
        const QString name = path(QStringLiteral("f%1.gif").arg(interlaced));
        QFile out(name);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        out.close();
        Harness h(std::chrono::milliseconds(0));
        QImage whole;
        h.onRowsShown([&](int first, int end) {
            if (end - first == gif.height) {
                whole = h.form().surface().image().copy();
            }
        });
        h.choose("mOpen", name);
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        pictures::ReadLimits limits;
        limits.keepAlpha = true;
        const auto read = pictures::readPicture(file, "picture", limits);
        ASSERT_TRUE(std::holds_alternative<QImage>(read));
        // Qt's pixels, the clear one kept clear (whatever colour either gives it).
        auto clearAsNone = [](QImage image) {
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if (image.pixelColor(x, y).alpha() == 0) {
                        image.setPixelColor(x, y, QColor(0, 0, 0, 0));
                    }
                }
            }
            return image;
        };
        ASSERT_EQ(whole.format(), QImage::Format_RGBA8888);
        EXPECT_EQ(clearAsNone(whole),
                  clearAsNone(std::get<QImage>(read).convertToFormat(QImage::Format_RGBA8888)))
            << "interlaced " << interlaced;
    }
}

TEST_F(Form1Test, CancelledOpenChangesNothing) {
    Harness h;
    h.choose("mOpen", QString());
    EXPECT_EQ(h.menu(), kAtStart);
    EXPECT_EQ(h.field("Text4")->text(), QStringLiteral("1"));
    EXPECT_EQ(h.field("Text5")->text(), QString());
    EXPECT_EQ(colourAt(h.shown(), 0, 0), kWhite);
    EXPECT_EQ(h.form().surface().width(), 417);
    EXPECT_TRUE(h.errors().empty());

    // Open is still there, and works.
    h.choose("mOpen", bitmap("in.bmp", rows16x3()));
    EXPECT_EQ(h.menu(), kOpened);
    EXPECT_EQ(h.field("Text5")->text(), QStringLiteral("3"));
}

TEST_F(Form1Test, FailedOpenIsReportedAndOpenStaysAvailable) {
    Harness h;
    const QString missing = path("missing.bmp");
    h.choose("mOpen", missing);
    ASSERT_EQ(h.errors().size(), 1u);
    EXPECT_EQ(h.errors()[0].title, QStringLiteral("Open"));
    EXPECT_TRUE(h.errors()[0].text.contains(QDir::toNativeSeparators(missing)))
        << h.errors()[0].text.toStdString();
    EXPECT_EQ(h.menu(), kAtStart);
    EXPECT_EQ(h.field("Text5")->text(), QString());

    // The dialog offers the name that was tried.
    h.choose("mOpen", bitmap("in.bmp", rows16x3()));
    EXPECT_EQ(h.requests().back().initialName, missing);
    EXPECT_EQ(h.menu(), kOpened);
}

TEST_F(Form1Test, ConvertFillsThePaneAndBeeps) {
    Harness h;
    h.choose("mOpen", bitmap("black.bmp", {{0x000000}}));
    EXPECT_EQ(h.beeps(), 0);
    h.choose("mConvert");
    EXPECT_EQ(h.paneText(), kTextBlackPixel);
    EXPECT_EQ(h.beeps(), 1);
    EXPECT_EQ(h.menu(), kConverted);
    auto* pane = h.form().findChild<QPlainTextEdit*>(QStringLiteral("RichTextBox1"));
    EXPECT_EQ(pane->toPlainText().toStdString(),
              QString::fromStdString(kTextBlackPixel).remove('\r').toStdString());
}

TEST_F(Form1Test, ConvertGivesTheSameTextEachTime) {
    Harness h;
    h.choose("mOpen", bitmap("in.bmp", rows16x3()));
    h.choose("mConvert");
    EXPECT_EQ(h.paneText(), kText16x3);
    h.choose("mConvert");
    EXPECT_EQ(h.paneText(), kText16x3);
    EXPECT_EQ(h.beeps(), 2);
}

TEST_F(Form1Test, SaveCCodeWritesThePaneTextExactly) {
    Harness h;
    h.choose("mOpen", bitmap("in.bmp", rows16x3()));
    h.choose("mConvert");
    const QString out = path("out"); // no extension is added
    h.choose("mSaveC", out);
    const window::DialogRequest& request = h.requests().back();
    EXPECT_EQ(request.mode, window::DialogMode::Save);
    EXPECT_EQ(request.filter, QStringLiteral("Text Files (*.txt)|*.txt"));
    EXPECT_TRUE(request.initialName.isEmpty());
    EXPECT_EQ(readAll(out).toStdString(), kText16x3);
    EXPECT_EQ(h.menu(), kConverted);

    // An existing file is replaced, and the dialog offers the last name again.
    h.choose("mSaveC", out);
    EXPECT_EQ(h.requests().back().initialName, out);
    EXPECT_EQ(readAll(out).toStdString(), kText16x3);

    // A cancel writes nothing.
    const QStringList before = files();
    h.choose("mSaveC", QString());
    EXPECT_EQ(files(), before);
    EXPECT_TRUE(h.errors().empty());
}

TEST_F(Form1Test, SavePictureWritesTheFourLevelPicture) {
    const QString picture = bitmap("in.bmp", rows16x3());
    const QByteArray original = readAll(picture);
    Harness h;
    h.choose("mOpen", picture);

    // The dialog first offers the opened picture; a cancel writes nothing at all.
    h.choose("mSaveP", QString());
    EXPECT_EQ(h.requests().back().mode, window::DialogMode::Save);
    EXPECT_EQ(h.requests().back().initialName, picture);
    EXPECT_EQ(h.requests().back().filter, QStringLiteral("Bitmap Files (*.bmp)|*.bmp"));
    EXPECT_EQ(files(), QStringList{"in.bmp"});
    EXPECT_EQ(readAll(picture), original);

    const QString out = path("levels.bmp");
    h.choose("mSaveP", out);
    EXPECT_EQ(h.menu(), kOpened);
    const QByteArray bytes = readAll(out);
    ASSERT_GT(bytes.size(), 30);
    EXPECT_EQ(bytes[28], 4) << "bits per pixel";
    const QImage saved(out);
    ASSERT_EQ(saved.size(), QSize(16, 3));
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(colourAt(saved, x, 0), kSamples[x % 8].level) << x;
        EXPECT_EQ(colourAt(saved, x, 1), kBlack) << x;
        EXPECT_EQ(colourAt(saved, x, 2), kWhite) << x;
    }
    EXPECT_EQ(readAll(picture), original);
    EXPECT_TRUE(h.errors().empty());
}

// Both saves, onto the opened picture itself (the name Save Picture offers first).
class ReplaceTest : public Form1Test, public testing::WithParamInterface<const char*> {};

TEST_P(ReplaceTest, AnExistingFileIsReplacedOnlyWhenTheUserAgrees) {
    const QString picture = bitmap("in.bmp", rows16x3());
    const QByteArray original = readAll(picture);
    Harness h;
    h.choose("mOpen", picture);
    h.choose("mConvert");

    // No returns to the dialog, which then is cancelled: the file stays whole.
    h.answerReplace(false);
    h.answer(picture);
    h.answer(QString());
    const std::size_t dialogs = h.requests().size();
    h.choose(GetParam());
    EXPECT_EQ(h.requests().size(), dialogs + 2);
    EXPECT_EQ(h.replaceQuestions(), std::vector<QString>{picture});
    EXPECT_EQ(readAll(picture), original);

    // A new name is not asked about; Yes replaces.
    h.choose(GetParam(), path("new"));
    EXPECT_EQ(h.replaceQuestions().size(), 1u);
    h.answerReplace(true);
    h.choose(GetParam(), picture);
    EXPECT_EQ(h.replaceQuestions().size(), 2u);
    EXPECT_EQ(readAll(picture), readAll(path("new")));
    EXPECT_NE(readAll(picture), original);
    EXPECT_TRUE(h.errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Saves, ReplaceTest, testing::Values("mSaveP", "mSaveC"));

TEST_F(Form1Test, FailedSavePictureIsReportedAndCanBeRepeated) {
    Harness h;
    h.choose("mOpen", bitmap("in.bmp", rows16x3()));
    const QString nowhere = path("no/such/folder/out.bmp");
    h.choose("mSaveP", nowhere);
    ASSERT_EQ(h.errors().size(), 1u);
    EXPECT_EQ(h.errors()[0].title, QStringLiteral("Save Picture"));
    EXPECT_TRUE(h.errors()[0].text.contains(QDir::toNativeSeparators(nowhere)));
    EXPECT_EQ(h.menu(), kOpened);

    const QString out = path("out.bmp");
    h.choose("mSaveP", out);
    EXPECT_EQ(h.requests().back().initialName, nowhere);
    EXPECT_EQ(QImage(out).size(), QSize(16, 3));
    EXPECT_EQ(h.errors().size(), 1u);
}

// The window's close button, and File > Quit.
class ClosingTest : public Form1Test, public testing::WithParamInterface<bool> {};

TEST_P(ClosingTest, ClosingDuringOpenStopsTheScan) {
    const bool quit = GetParam();
    std::vector<std::vector<std::uint32_t>> rows(6, std::vector<std::uint32_t>(4, 0x101010));
    Harness h(std::chrono::milliseconds(0));
    QObject::connect(h.field("Text4"), &QLineEdit::textChanged, [&](const QString& t) {
        if (t == QLatin1String("2")) {
            // As the window system or the menu would: the close arrives as an event.
            if (quit) {
                QMetaObject::invokeMethod(h.action("mQuit"), &QAction::trigger,
                                          Qt::QueuedConnection);
            } else {
                QMetaObject::invokeMethod(&h.form(), &QWidget::close, Qt::QueuedConnection);
            }
        }
    });
    h.choose("mOpen", bitmap("in.bmp", rows));

    EXPECT_TRUE(h.form().closed());
    EXPECT_FALSE(h.form().isVisible());
    EXPECT_EQ(h.field("Text4")->text(), QStringLiteral("2"));
    const surface::PictureSurface& surface = h.form().surface();
    EXPECT_EQ(surface.read(0, 1), imaging::Colour{kBlack});
    EXPECT_EQ(surface.read(0, 2), 0x101010) << "a row was processed after the close";
    EXPECT_EQ(h.menu(), kNone);
}

TEST_P(ClosingTest, ClosingWhileThePictureIsReadStopsReading) {
    const bool quit = GetParam();
    std::vector<std::vector<std::uint32_t>> rows(6, std::vector<std::uint32_t>(4, 0x101010));
    Harness h(std::chrono::milliseconds(0));
    std::vector<int> ends;
    h.onRowsShown([&](int, int end) {
        ends.push_back(end);
        if (end == 2) {
            if (quit) {
                QMetaObject::invokeMethod(h.action("mQuit"), &QAction::trigger,
                                          Qt::QueuedConnection);
            } else {
                QMetaObject::invokeMethod(&h.form(), &QWidget::close, Qt::QueuedConnection);
            }
        }
    });
    h.choose("mOpen", bitmap("in.bmp", rows));

    EXPECT_TRUE(h.form().closed());
    EXPECT_EQ(ends, (std::vector<int>{1, 2})) << "a row was read after the close";
    EXPECT_EQ(h.field("Text5")->text(), QString()) << "the scan started";
    EXPECT_EQ(h.menu(), kNone);
}

INSTANTIATE_TEST_SUITE_P(CloseAndQuit, ClosingTest, testing::Bool());

TEST_F(Form1Test, ClosingDuringConvertLeavesThePaneAlone) {
    std::vector<std::vector<std::uint32_t>> rows(6, std::vector<std::uint32_t>(4, 0x101010));
    Harness h(std::chrono::milliseconds(0));
    h.choose("mOpen", bitmap("in.bmp", rows));
    QObject::connect(h.field("Text4"), &QLineEdit::textChanged, [&](const QString& t) {
        if (t == QLatin1String("3")) {
            QMetaObject::invokeMethod(&h.form(), &QWidget::close, Qt::QueuedConnection);
        }
    });
    h.choose("mConvert");
    EXPECT_TRUE(h.form().closed());
    EXPECT_EQ(h.field("Text4")->text(), QStringLiteral("3"));
    EXPECT_EQ(h.paneText(), std::string());
    EXPECT_EQ(h.beeps(), 0);
}

TEST(TextPaneTest, ShowsALargeTextOnlyInPart) {
    window::TextPane pane;
    // 1 x 2 pixels: both planes 0x40 (the first pixel white, the second black).
    pane.showArrays(imaging::Planes{1, 2, imaging::RowLayout::Packed, {0x40}, {0x40}});
    EXPECT_EQ(pane.toPlainText(),
              QStringLiteral("static unsigned char Untitled_d[] = {\n\n0x40, \n"
                             "\nstatic unsigned char Untitled_l[] = {\n\n0x40, "));

    // Width 8: one byte per line, far more than is shown.
    const std::size_t bytes = window::TextPane::kShownBytes;
    pane.showArrays(imaging::Planes{8, static_cast<int>(bytes), imaging::RowLayout::Packed,
                                    std::vector<std::uint8_t>(bytes, 0xFF),
                                    std::vector<std::uint8_t>(bytes, 0x00)});
    const QString shown = pane.toPlainText();
    EXPECT_LT(shown.size(), qsizetype(window::TextPane::kShownBytes + 200));
    EXPECT_TRUE(
        shown.startsWith(QStringLiteral("static unsigned char Untitled_d[] = {\n\n0xFF, \n")));
    EXPECT_TRUE(shown.contains(QStringLiteral("Save C Code writes the whole text")));
}

TEST(FileDialogTest, FilterShowsItsPatternsOnce) {
    EXPECT_EQ(window::qtNameFilter(QStringLiteral("Bitmap Files (*.bmp)|*.bmp")),
              QStringLiteral("Bitmap Files (*.bmp)"));
    EXPECT_EQ(window::qtNameFilter(QStringLiteral("Text|*.txt;*.c")),
              QStringLiteral("Text (*.txt *.c)"));
}

} // namespace
