// File > Export C Code: its file is the converter's output for the same choices.

#include "harness.h"
#include "window/export_dialog.h"
#include "window/picture_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace window_test;

namespace {

// The dialog's choices and the converter's options that ask for the same text.
struct ExportCase {
    const char* label;
    QStringList options;
    std::function<void(window::ExportDialog&)> choose;
    // The picture: rows that do not fill whole bytes, or whole tiles for the tiled layout.
    int width = 13;
    int height = 5;
};

template <typename T> T* child(QWidget& parent, const char* name) {
    auto* found = parent.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

void check(window::ExportDialog& d, const char* name) {
    child<QCheckBox>(d, name)->setChecked(true);
}

// Chooses the entry of a list whose value is `value`.
void pick(window::ExportDialog& d, const char* name, int value) {
    auto* box = child<QComboBox>(d, name);
    const int index = box->findData(value);
    ASSERT_GE(index, 0) << name << " has no entry for " << value;
    box->setCurrentIndex(index);
}

void layout(window::ExportDialog& d, ctext::Layout chosen) {
    pick(d, "layout", static_cast<int>(chosen));
}

void tileOrder(window::ExportDialog& d, ctext::TileOrder order) {
    layout(d, ctext::Layout::Gb);
    pick(d, "tileOrder", static_cast<int>(order));
}

const std::vector<ExportCase>& cases() {
    static const std::vector<ExportCase> all = {
        {"classic", {}, [](window::ExportDialog&) {}},
        {"lf", {"--lf"}, [](window::ExportDialog& d) { check(d, "lf"); }},
        {"padded", {"--pad-rows"}, [](window::ExportDialog& d) { check(d, "padRows"); }},
        {"complete", {"--complete"}, [](window::ExportDialog& d) { check(d, "complete"); }},
        {"everything",
         {"--complete", "--lf", "--pad-rows", "-n", "sprite_2"},
         [](window::ExportDialog& d) {
             check(d, "complete");
             check(d, "lf");
             check(d, "padRows");
             child<QLineEdit>(d, "name")->setText(QStringLiteral("sprite_2"));
         }},
        {"word16",
         {"--word", "16", "--lf"},
         [](window::ExportDialog& d) {
             pick(d, "word", 16);
             check(d, "lf");
         }},
        {"word32_complete",
         {"--word", "32", "--complete"},
         [](window::ExportDialog& d) {
             pick(d, "word", 32);
             check(d, "complete");
         }},
        {"gb_rows",
         {"--layout", "gb", "--tile-order", "rows"},
         [](window::ExportDialog& d) { tileOrder(d, ctext::TileOrder::Rows); },
         24,
         32},
        {"gb_columns_complete",
         {"--layout", "gb", "--tile-order", "columns", "--complete"},
         [](window::ExportDialog& d) {
             tileOrder(d, ctext::TileOrder::Columns);
             check(d, "complete");
         },
         24,
         32},
        {"gb_8x16",
         {"--layout", "gb", "--tile-order", "8x16"},
         [](window::ExportDialog& d) { tileOrder(d, ctext::TileOrder::Tall8x16); },
         24,
         32},
        {"packed2",
         {"--layout", "packed2"},
         [](window::ExportDialog& d) { layout(d, ctext::Layout::Packed2); }},
        {"packed2_invert_complete",
         {"--layout", "packed2", "--invert", "--complete", "-n", "tile"},
         [](window::ExportDialog& d) {
             layout(d, ctext::Layout::Packed2);
             check(d, "invert");
             check(d, "complete");
             child<QLineEdit>(d, "name")->setText(QStringLiteral("tile"));
         }},
        {"nibble4",
         {"--layout", "nibble4"},
         [](window::ExportDialog& d) { layout(d, ctext::Layout::Nibble4); }},
        {"nibble4_invert_lf",
         {"--layout", "nibble4", "--invert", "--lf"},
         [](window::ExportDialog& d) {
             layout(d, ctext::Layout::Nibble4);
             check(d, "invert");
             check(d, "lf");
         }},
        {"planes_lsb_invert",
         {"--bit-order", "lsb", "--invert"},
         [](window::ExportDialog& d) {
             pick(d, "bitOrder", static_cast<int>(ctext::BitOrder::Lsb));
             check(d, "invert");
         }},
        {"pages_msb_complete",
         {"--layout", "pages", "--bit-order", "msb", "--complete"},
         [](window::ExportDialog& d) {
             layout(d, ctext::Layout::Pages);
             pick(d, "bitOrder", static_cast<int>(ctext::BitOrder::Msb));
             check(d, "complete");
         }},
        {"lvgl",
         {"--layout", "lvgl", "-n", "logo"},
         [](window::ExportDialog& d) {
             layout(d, ctext::Layout::Lvgl);
             child<QLineEdit>(d, "name")->setText(QStringLiteral("logo"));
         }},
        {"gb_tile_map_base",
         {"--layout", "gb", "--tile-map", "--tile-base", "200", "--complete"},
         [](window::ExportDialog& d) {
             layout(d, ctext::Layout::Gb);
             check(d, "tileMap");
             child<QSpinBox>(d, "tileBase")->setValue(200);
             check(d, "complete");
         },
         24,
         32},
        {"art",
         {"--complete", "--art"},
         [](window::ExportDialog& d) {
             check(d, "complete");
             check(d, "art");
         }},
        {"art_nibble4",
         {"--layout", "nibble4", "--complete", "--art", "--lf"},
         [](window::ExportDialog& d) {
             layout(d, ctext::Layout::Nibble4);
             check(d, "complete");
             check(d, "art");
             check(d, "lf");
         }},
    };
    return all;
}

class ExportTest : public testing::TestWithParam<ExportCase> {
  protected:
    QTemporaryDir m_dir;
};

// All four levels in an order that is no palindrome.
std::vector<std::vector<std::uint32_t>> rowsOf(int width, int height) {
    const std::uint32_t kLevels[] = {0x000000, 0x5A595A, 0xB4B4B4, 0xFFFFFF, 0x303030, 0x999999};
    std::vector<std::vector<std::uint32_t>> rows(height, std::vector<std::uint32_t>(width));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rows[y][x] = kLevels[(x * x + 3 * y) % 6];
        }
    }
    return rows;
}

// What the converter writes for the picture with these options.
QByteArray converterText(const QTemporaryDir& dir, const QString& picture,
                         const QStringList& options) {
    const QString expected = dir.filePath(QStringLiteral("cli.h"));
    QProcess cli;
    cli.start(QStringLiteral(GREYPLANES_CLI),
              QStringList{"-q", "-o", expected} + options + QStringList{picture});
    EXPECT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const QByteArray want = readAll(expected);
    EXPECT_FALSE(want.isEmpty());
    return want;
}

TEST_P(ExportTest, SavesWhatTheConverterWritesForTheSameChoices) {
    const ExportCase& c = GetParam();
    const QString picture = m_dir.filePath(QStringLiteral("sprite.bmp"));
    writeBitmap(pictureOf(rowsOf(c.width, c.height)), picture);
    Harness h;
    h.choose("mOpen", picture);
    h.choose("mConvert");
    h.choose("mExportC");
    auto* dialog = h.form().findChild<window::ExportDialog*>();
    ASSERT_NE(dialog, nullptr);
    // From the converter's defaults, so that the options say every choice.
    child<QLineEdit>(*dialog, "name")->setText(QStringLiteral("Untitled"));
    child<QCheckBox>(*dialog, "complete")->setChecked(false);
    c.choose(*dialog);

    const QString saved = m_dir.filePath(QStringLiteral("window.h"));
    h.answer(saved);
    child<QPushButton>(*dialog, "save")->click();
    h.settle();
    EXPECT_EQ(h.requests().back().initialName, m_dir.filePath(QStringLiteral("sprite.h")));

    EXPECT_EQ(readAll(saved), converterText(m_dir, picture, c.options));
    EXPECT_TRUE(h.errors().empty());
    EXPECT_FALSE(h.form().surface().hasAlpha()) << "a bitmap without alpha has no mask";
}

// A sheet with transparent pixels in every frame (alpha 127 clear, 128 drawn): the window keeps
// them through Open and Convert, and its export with frames and a mask, and Save Picture with
// the dialog's colour, are what the converter writes with the same options.
TEST(ExportMaskTest, TransparentPixelsGiveTheConvertersFramesMaskAndPicture) {
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("walk.png"));
    const auto colours = rowsOf(15, 6);
    const int kAlphas[] = {0, 127, 128, 255, 64};
    QImage sheet(15, 6, QImage::Format_RGBA8888);
    for (int y = 0; y < sheet.height(); ++y) {
        for (int x = 0; x < sheet.width(); ++x) {
            QColor colour = QColor::fromRgb(colours[y][x]);
            colour.setAlpha(kAlphas[(x * 7 + y * 3) % 5]);
            sheet.setPixelColor(x, y, colour);
        }
    }
    ASSERT_TRUE(sheet.save(picture, "PNG"));
    Harness h;
    h.choose("mOpen", picture);
    h.choose("mConvert");
    h.choose("mExportC");
    auto* dialog = h.form().findChild<window::ExportDialog*>();
    ASSERT_NE(dialog, nullptr);
    child<QLineEdit>(*dialog, "name")->setText(QStringLiteral("Untitled"));
    check(*dialog, "padRows");
    check(*dialog, "frames");
    child<QSpinBox>(*dialog, "frameWidth")->setValue(5);
    child<QSpinBox>(*dialog, "frameHeight")->setValue(3);
    pick(*dialog, "frameOrder", static_cast<int>(imaging::FrameOrder::Columns));
    pick(*dialog, "mask", static_cast<int>(ctext::Mask::Zeros));
    child<QLineEdit>(*dialog, "transparent")->setText(QStringLiteral("#12ab34"));
    EXPECT_EQ(h.view().frameGrid(), (imaging::FrameGrid{5, 3, imaging::FrameOrder::Columns}));
    const QString savedText = dir.filePath(QStringLiteral("window.h"));
    h.answer(savedText);
    child<QPushButton>(*dialog, "save")->click();
    h.settle();
    dialog->close();
    h.settle();
    EXPECT_FALSE(h.view().frameGrid().any()) << "the frames' edges go with the dialog";
    const QString savedPicture = dir.filePath(QStringLiteral("window.bmp"));
    h.choose("mSaveP", savedPicture);
    h.settle();

    const QString cliPicture = dir.filePath(QStringLiteral("cli.bmp"));
    EXPECT_EQ(readAll(savedText), converterText(dir, picture,
                                                {"--complete", "--pad-rows", "--mask", "zeros",
                                                 "--frames", "5x3", "--frame-order", "columns",
                                                 "--transparent", "12ab34", "-p", cliPicture}));
    EXPECT_EQ(readAll(savedPicture), readAll(cliPicture));
    EXPECT_TRUE(h.errors().empty());
}

// The dialog starts with the picture's stem as the name, as the CMake function names it, and a
// complete header; what is chosen stays for the next dialog of the run.
TEST(ExportDialogTest, StartsFromThePicturesNameAndKeepsTheChoicesForTheRun) {
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("2-walk cycle.bmp"));
    writeBitmap(pictureOf(rowsOf(11, 5)), picture);
    Harness h;
    h.choose("mOpen", picture);
    h.choose("mConvert");
    h.choose("mExportC");
    auto* dialog = h.form().findChild<window::ExportDialog*>();
    ASSERT_NE(dialog, nullptr);
    const QString saved = dir.filePath(QStringLiteral("window.h"));
    h.answer(saved);
    child<QPushButton>(*dialog, "save")->click();
    h.settle();
    EXPECT_EQ(readAll(saved), converterText(dir, picture, {"-n", "_2_walk_cycle", "--complete"}));

    layout(*dialog, ctext::Layout::Packed2);
    check(*dialog, "lf");
    child<QCheckBox>(*dialog, "complete")->setChecked(false);
    dialog->close();
    h.settle();
    h.choose("mExportC");
    dialog = h.form().findChild<window::ExportDialog*>();
    ASSERT_NE(dialog, nullptr);
    h.answer(saved);
    child<QPushButton>(*dialog, "save")->click();
    h.settle();
    EXPECT_EQ(readAll(saved),
              converterText(dir, picture, {"-n", "_2_walk_cycle", "--layout", "packed2", "--lf"}));
    EXPECT_TRUE(h.errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Choices, ExportTest, testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.label); });

// The padded planes are the dialog's own; a save still writing them outlives the dialog's Close.
TEST(ExportSaveTest, ClosingTheDialogDuringASaveLeavesTheSaveItsPlanes) {
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("sprite.bmp"));
    writeBitmap(pictureOf(rowsOf(13, 5)), picture);
    // The save waits in open() until the FIFO has a reader.
    const QString fifo = dir.filePath(QStringLiteral("fifo.h"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    Harness h;
    h.choose("mOpen", picture);
    h.choose("mConvert");
    h.choose("mExportC");
    QPointer<window::ExportDialog> dialog = h.form().findChild<window::ExportDialog*>();
    ASSERT_NE(dialog, nullptr);
    child<QLineEdit>(*dialog, "name")->setText(QStringLiteral("Untitled"));
    child<QCheckBox>(*dialog, "complete")->setChecked(false);
    check(*dialog, "padRows");

    // Once the save waits, Close; once the dialog is gone, the FIFO is read to its end.
    QByteArray read;
    std::thread reader;
    QTimer::singleShot(0, dialog, [&] {
        QObject::connect(dialog, &QObject::destroyed, [&] {
            reader = std::thread([&] {
                QFile in(fifo);
                if (in.open(QIODevice::ReadOnly)) {
                    read = in.readAll();
                }
            });
        });
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close)->click();
    });
    h.answer(fifo);
    child<QPushButton>(*dialog, "save")->click();
    h.settle();
    ASSERT_TRUE(reader.joinable()) << "the dialog was not closed during the save";
    reader.join();
    EXPECT_EQ(dialog, nullptr);
    EXPECT_EQ(read, converterText(dir, picture, {"--pad-rows"}));
    EXPECT_TRUE(h.errors().empty());
}

// A text of the whole tiles only would lose the picture's edge: neither saved nor copied.
TEST(ExportDialogTest, TilesThatDoNotCoverThePictureAreRefused) {
    const auto planes = std::make_shared<const imaging::Planes>(imaging::makePlanes(16, 12));
    int actions = 0;
    auto count = [&](std::shared_ptr<const imaging::Planes>, const ctext::TextStyle&) {
        ++actions;
    };
    window::ExportDialog dialog(planes, "in.bmp", count, count);
    auto* save = child<QPushButton>(dialog, "save");
    auto* copy = child<QPushButton>(dialog, "copy");
    layout(dialog, ctext::Layout::Gb);
    EXPECT_FALSE(save->isEnabled());
    EXPECT_FALSE(copy->isEnabled());
    save->click();
    copy->click();
    EXPECT_EQ(actions, 0);
    // The same picture in the other layouts is whole.
    layout(dialog, ctext::Layout::Nibble4);
    EXPECT_TRUE(save->isEnabled());
    copy->click();
    EXPECT_EQ(actions, 1);
}

// The converter's rule for names, in its words; nothing is saved or copied under a refused one.
TEST(ExportDialogTest, NamesAreRefusedAsTheConverterRefusesThem) {
    const auto planes = std::make_shared<const imaging::Planes>(imaging::makePlanes(8, 8));
    window::ExportDialog dialog(planes, "in.bmp", {}, {});
    struct Row {
        QString name;
        QString problem;
    };
    for (const Row& row : {
             Row{"int", "bad name 'int': it is a keyword of C and C++"},
             Row{"class", "bad name 'class': it is a keyword of C++"},
             Row{"_Bool", "bad name '_Bool': it is a keyword of C"},
             Row{"2x", "bad name '2x': a C identifier cannot start with a digit"},
             Row{"sprite_2", ""},
         }) {
        child<QLineEdit>(dialog, "name")->setText(row.name);
        EXPECT_EQ(child<QLabel>(dialog, "problem")->text(), row.problem) << row.name.toStdString();
        EXPECT_EQ(child<QPushButton>(dialog, "save")->isEnabled(), row.problem.isEmpty());
        EXPECT_EQ(child<QPushButton>(dialog, "copy")->isEnabled(), row.problem.isEmpty());
    }
}

// Each choice is offered where the converter takes the option, by the converter's rule, and a
// choice it does not take is disabled with the converter's refusal and left out of the text.
TEST(ExportDialogTest, ChoicesFollowTheConvertersRule) {
    const auto planes = std::make_shared<const imaging::Planes>(imaging::makePlanes(8, 8));
    window::ExportDialog dialog(planes, "in.bmp", {}, {});
    auto* word = child<QComboBox>(dialog, "word");
    auto* invert = child<QCheckBox>(dialog, "invert");
    pick(dialog, "word", 16);
    layout(dialog, ctext::Layout::Gb);
    EXPECT_FALSE(word->isEnabled());
    EXPECT_EQ(word->toolTip().toStdString(), "--word 16 does not apply to --layout gb");
    EXPECT_EQ(invert->toolTip().toStdString(), "--invert does not apply to --layout gb");
    EXPECT_EQ(dialog.style().layout.word, 8);
    layout(dialog, ctext::Layout::Packed2);
    EXPECT_TRUE(invert->isEnabled());
    EXPECT_EQ(invert->toolTip().toStdString(), "");
    // The converter takes --pad-rows here: packed2 rows are whole bytes anyway.
    EXPECT_TRUE(child<QCheckBox>(dialog, "padRows")->isEnabled());
}

TEST(ExportDialogTest, RowLayoutChangesKeepEveryPixel) {
    // 11 pixels a row: packed, row 1 starts at bit 11; padded, at bit 16.
    imaging::Planes packed = imaging::makePlanes(11, 3);
    packed.dark = {0b10110011, 0b10111000, 0b00001111, 0b11100000, 0b00000000};
    packed.light = {0b00000000, 0b00011111, 0b11111111, 0b11111111, 0b10000000};
    const imaging::Planes padded = window::withRowLayout(packed, imaging::RowLayout::Padded);
    // Worked by hand: each row's 11 bits, then five zero bits.
    EXPECT_EQ(padded.dark, (std::vector<std::uint8_t>{0b10110011, 0b10100000, 0b11000000,
                                                      0b01100000, 0b11111000, 0b00000000}));
    EXPECT_EQ(padded.light, (std::vector<std::uint8_t>{0b00000000, 0b00000000, 0b11111111,
                                                       0b11100000, 0b11111111, 0b11100000}));
    const imaging::Planes back = window::withRowLayout(padded, imaging::RowLayout::Packed);
    EXPECT_EQ(back.dark, packed.dark);
    EXPECT_EQ(back.light, packed.light);
}

} // namespace
