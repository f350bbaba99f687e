// Open for a Display: its choices give the converter's planes for the options it shows, the
// panel's greys change only what is shown, and a close while a preview is made is safe.

#include "harness.h"
#include "window/aside.h"
#include "window/display_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace window_test;

namespace {

// A picture with no symmetry: greys and colours changing across and down at different rates.
QString photo(const QTemporaryDir& dir, int width, int height) {
    std::vector<std::vector<std::uint32_t>> rows(height, std::vector<std::uint32_t>(width));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto red = static_cast<std::uint32_t>((x * 255 / width + y * 7) % 256);
            const auto green = static_cast<std::uint32_t>(y * 255 / height);
            const auto blue = static_cast<std::uint32_t>((x * y * 3) % 256);
            rows[y][x] = red | green << 8 | blue << 16;
        }
    }
    const QString file = dir.filePath(QStringLiteral("photo.bmp"));
    writeBitmap(pictureOf(rows), file);
    return file;
}

// Chooses Open for a Display on the file and returns its dialog once it shows.
window::DisplayDialog* openDialog(Harness& h, const QString& file) {
    h.answer(file);
    h.action("mOpenForDisplay")->trigger();
    QElapsedTimer waited;
    waited.start();
    // A dialog closed before may still wait to be deleted.
    auto shown = [&h]() -> window::DisplayDialog* {
        for (auto* dialog : h.form().findChildren<window::DisplayDialog*>()) {
            if (dialog->isVisible()) {
                return dialog;
            }
        }
        return nullptr;
    };
    window::DisplayDialog* dialog = nullptr;
    while ((dialog = shown()) == nullptr && waited.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    EXPECT_NE(dialog, nullptr) << "the dialog did not show";
    return dialog;
}

template <typename T> T* part(window::DisplayDialog* dialog, const char* name) {
    T* found = dialog->findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

void ok(window::DisplayDialog* dialog) {
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

struct Case {
    std::function<void(window::DisplayDialog*)> choose;
    QString arguments; // the options the dialog shows for them
};

} // namespace

TEST(OpenForDisplay, ChoicesGiveTheConvertersPlanesForTheOptionsShown) {
    QTemporaryDir dir;
    const QString file = photo(dir, 37, 23);
    const std::vector<Case> cases{
        {[](window::DisplayDialog* d) {
             part<QSpinBox>(d, "width")->setValue(11);
             part<QSpinBox>(d, "height")->setValue(8);
             part<QComboBox>(d, "fit")->setCurrentIndex(1);
             part<QComboBox>(d, "rotate")->setCurrentIndex(1);
             part<QCheckBox>(d, "flipH")->setChecked(true);
             part<QComboBox>(d, "grey")->setCurrentIndex(1);
             part<QSlider>(d, "brightness")->setValue(12);
             part<QSpinBox>(d, "contrastValue")->setValue(20);
             part<QDoubleSpinBox>(d, "gamma")->setValue(1.5);
             part<QLineEdit>(d, "levels")->setText(QStringLiteral("0,93,120,255"));
             part<QComboBox>(d, "dither")->setCurrentIndex(1);
         },
         QStringLiteral("--size 11x8 --fit cover --rotate 90 --flip h --grey luma "
                        "--brightness 12 --contrast 20 --gamma 1.5 --levels 0,93,120,255 "
                        "--dither floyd-steinberg")},
        {[](window::DisplayDialog* d) {
             part<QSpinBox>(d, "width")->setValue(20);
             part<QSpinBox>(d, "height")->setValue(19);
             part<QLineEdit>(d, "background")->setText(QStringLiteral("336699"));
             part<QCheckBox>(d, "flipV")->setChecked(true);
             part<QSpinBox>(d, "contrastValue")->setValue(-30);
             part<QLineEdit>(d, "thresholds")->setText(QStringLiteral("60,100,200"));
         },
         QStringLiteral("--size 20x19 --background 336699 --flip v --contrast -30 "
                        "--thresholds 60,100,200")},
        {[](window::DisplayDialog* d) {
             part<QSpinBox>(d, "width")->setValue(50);
             part<QComboBox>(d, "rotate")->setCurrentIndex(3);
             part<QComboBox>(d, "dither")->setCurrentIndex(3);
         },
         QStringLiteral("--size 50x --rotate 270 --dither bayer")},
    };
    for (const Case& test : cases) {
        Harness h;
        window::DisplayDialog* dialog = openDialog(h, file);
        ASSERT_NE(dialog, nullptr);
        test.choose(dialog);
        EXPECT_EQ(dialog->arguments(), test.arguments);
        ok(dialog);
        h.settle();
        ASSERT_EQ(h.menu(), kOpened) << test.arguments.toStdString();
        h.choose("mConvert");
        const QString saved = dir.filePath(QStringLiteral("window.txt"));
        QFile::remove(saved);
        h.choose("mSaveC", saved);

        const QString expected = dir.filePath(QStringLiteral("cli.txt"));
        QProcess cli;
        cli.start(QStringLiteral(GREYPLANES_CLI), QStringList{"-q", "-o", expected} +
                                                      test.arguments.split(' ') +
                                                      QStringList{file});
        ASSERT_TRUE(cli.waitForFinished(30000));
        ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
        EXPECT_EQ(readAll(saved), readAll(expected)) << test.arguments.toStdString();
    }
}

TEST(OpenForDisplay, PanelGreysChangeWhatIsShownOnly) {
    QTemporaryDir dir;
    // Grey 100 everywhere: dark grey, half way between the panel's levels 93 and 120 being 107.
    const QString file = dir.filePath(QStringLiteral("grey.bmp"));
    writeBitmap(pictureOf(std::vector(5, std::vector<std::uint32_t>(7, 0x646464))), file);
    Harness h;
    window::DisplayDialog* dialog = openDialog(h, file);
    ASSERT_NE(dialog, nullptr);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(dialog, &escape);
    h.settle();
    EXPECT_EQ(h.menu(), kAtStart); // Esc cancels the Open

    dialog = openDialog(h, file);
    ASSERT_NE(dialog, nullptr);
    part<QLineEdit>(dialog, "levels")->setText(QStringLiteral("0,93,120,255"));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(dialog, &enter);
    h.settle();
    ASSERT_EQ(h.menu(), kOpened); // Enter takes the choices

    const QString plain = dir.filePath(QStringLiteral("plain.bmp"));
    const QString panel = dir.filePath(QStringLiteral("panel.bmp"));
    h.choose("mSaveP", plain);
    EXPECT_EQ(colourAt(h.shown(), 0, 0), imaging::kDarkGrey);
    h.action("mAsPanel")->trigger();
    EXPECT_EQ(colourAt(h.shown(), 0, 0), 0x5D5D5Du);
    h.choose("mSaveP", panel);
    EXPECT_EQ(readAll(panel), readAll(plain));
    h.action("mAsPanel")->trigger();
    EXPECT_EQ(colourAt(h.shown(), 0, 0), imaging::kDarkGrey);
}

TEST(OpenForDisplay, ClosedWhilePreviewIsMadeEndsCleanly) {
    QTemporaryDir dir;
    const QString file = photo(dir, 300, 200);
    // The dialog cancelled, and the window closed with the dialog open.
    for (const bool closeWindow : {false, true}) {
        Harness h;
        QPointer<window::DisplayDialog> dialog = openDialog(h, file);
        ASSERT_NE(dialog, nullptr);
        // A preview of tens of megapixels, dithered: it takes a while.
        part<QSpinBox>(dialog, "width")->setValue(8000);
        part<QSpinBox>(dialog, "height")->setValue(6000);
        part<QComboBox>(dialog, "dither")->setCurrentIndex(1);
        auto* brightness = part<QSlider>(dialog, "brightness");
        for (int value = 1; value <= 5; ++value) {
            brightness->setValue(value * 10);
            QApplication::processEvents();
        }
        // Past the pause after the last move: its preview is being made, or waits for the one
        // under way to stop.
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 200) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        ASSERT_TRUE(dialog->previewPending());
        if (closeWindow) {
            h.form().close();
        } else {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(dialog, &escape);
        }
        h.settle();
        EXPECT_EQ(h.menu(), closeWindow ? kNone : kAtStart);
        // The preview's work ends unseen, while the window goes on, touching nothing of it.
        while (dialog != nullptr) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        EXPECT_TRUE(window::waitForWorkAside(std::chrono::seconds(120)));
        QApplication::processEvents();
    }
}
