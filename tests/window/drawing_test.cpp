// Drawing pixels with the pencil and stepping back, another window, the frame that fills the
// window and the whole C text in view.

#include "harness.h"
#include "imaging/levels.h"
#include "window/picture_view.h"
#include "window/text_view.h"

#include <QMouseEvent>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace window_test;

namespace {

constexpr std::uint32_t kW = imaging::kWhite;
constexpr std::uint32_t kB = imaging::kBlack;
constexpr std::uint32_t kD = imaging::kDarkGrey;

// An 8 x 2 white picture: every bit of both planes is clear.
const std::string kWhiteText = "static unsigned char Untitled_d[] = {\r\n\r\n0x00, \r\n0x00, \r\n"
                               "\r\n"
                               "static unsigned char Untitled_l[] = {\r\n\r\n0x00, \r\n0x00, ";

class DrawingTest : public testing::Test {
  protected:
    QString whitePicture() {
        const QString file = m_dir.filePath(QStringLiteral("white.bmp"));
        writeBitmap(pictureOf(std::vector(2, std::vector<std::uint32_t>(8, 0xFFFFFF))), file);
        return file;
    }
    // Sends a mouse event at the centre of picture pixel (x, y) as the view shows it now.
    static void mouse(window::PictureView& view, QEvent::Type type, int x, int y) {
        const double zoom = view.zoom();
        const QPointF at((x + 0.5) * zoom, (y + 0.5) * zoom);
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, view.viewport()->mapToGlobal(at), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(view.viewport(), &event);
    }
    static std::vector<std::vector<std::uint32_t>> surfaceRows(Harness& h) {
        const QImage& image = h.form().surface().image();
        std::vector<std::vector<std::uint32_t>> rows(image.height());
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                rows[y].push_back(colourAt(image, x, y));
            }
        }
        return rows;
    }

    QTemporaryDir m_dir;
};

TEST_F(DrawingTest, StrokesPaintExactlyTheirPixelsAndConvertReadsThem) {
    Harness h;
    ASSERT_TRUE(h.openFile(whitePicture()));
    window::PictureView& view = h.view();
    view.setZoom(3);
    // Without the pencil a click paints nothing.
    mouse(view, QEvent::MouseButtonPress, 0, 0);
    mouse(view, QEvent::MouseButtonRelease, 0, 0);

    // A drag in black along row 0 from x 1 to 6, jumping over the pixels between; then one
    // click in dark grey at (2, 1), and one outside the picture.
    h.choose("mPencilBlack");
    mouse(view, QEvent::MouseButtonPress, 1, 0);
    mouse(view, QEvent::MouseMove, 3, 0);
    mouse(view, QEvent::MouseMove, 6, 0);
    mouse(view, QEvent::MouseButtonRelease, 6, 0);
    h.choose("mPencilDarkGrey");
    mouse(view, QEvent::MouseButtonPress, 2, 1);
    mouse(view, QEvent::MouseButtonRelease, 2, 1);
    mouse(view, QEvent::MouseButtonPress, 20, 1);
    mouse(view, QEvent::MouseButtonRelease, 20, 1);
    EXPECT_EQ(surfaceRows(h), (std::vector<std::vector<std::uint32_t>>{
                                  {kW, kB, kB, kB, kB, kB, kB, kW},
                                  {kW, kW, kD, kW, kW, kW, kW, kW},
                              }));

    // Black sets both bits, dark grey the dark one: 01111110 and 00100000 dark, 01111110 and
    // 00000000 light.
    h.choose("mConvert");
    EXPECT_EQ(h.paneText(), "static unsigned char Untitled_d[] = {\r\n\r\n0x7E, \r\n0x20, \r\n"
                            "\r\n"
                            "static unsigned char Untitled_l[] = {\r\n\r\n0x7E, \r\n0x00, ");

    // Undo steps back whole strokes, Redo forward again; each Convert reads the surface anew.
    h.choose("mUndo");
    h.choose("mUndo");
    EXPECT_FALSE(h.action("mUndo")->isEnabled());
    h.choose("mConvert");
    EXPECT_EQ(h.paneText(), kWhiteText);
    h.choose("mRedo");
    h.choose("mConvert");
    EXPECT_EQ(h.paneText(), "static unsigned char Untitled_d[] = {\r\n\r\n0x7E, \r\n0x00, \r\n"
                            "\r\n"
                            "static unsigned char Untitled_l[] = {\r\n\r\n0x7E, \r\n0x00, ");
    // Escape puts the pencil down.
    h.choose("mPutDownPencil");
    mouse(view, QEvent::MouseButtonPress, 0, 1);
    mouse(view, QEvent::MouseButtonRelease, 0, 1);
    EXPECT_EQ(surfaceRows(h)[1][0], kW);
    EXPECT_TRUE(h.errors().empty());
}

TEST_F(DrawingTest, NothingIsDrawnBeforeAPictureIsOpen) {
    Harness h;
    EXPECT_FALSE(h.action("mPencilBlack")->isEnabled());
    h.choose("mPencilBlack");
    mouse(h.view(), QEvent::MouseButtonPress, 0, 0);
    mouse(h.view(), QEvent::MouseButtonRelease, 0, 0);
    EXPECT_EQ(colourAt(h.form().surface().image(), 0, 0), kW);
}

TEST_F(DrawingTest, NewWindowStartsAnotherOnceOpenIsUsedUpAndSaysWhenItCannot) {
    Harness h;
    ASSERT_TRUE(h.openFile(whitePicture()));
    h.choose("mNewWindow");
    EXPECT_EQ(h.windowsStarted(), 1);
    EXPECT_TRUE(h.errors().empty());
    h.failWindowStarts();
    h.choose("mNewWindow");
    ASSERT_EQ(h.errors().size(), 1u);
    EXPECT_EQ(h.errors()[0].title, QStringLiteral("New Window"));
    EXPECT_TRUE(h.errors()[0].text.contains(QCoreApplication::applicationFilePath()))
        << h.errors()[0].text.toStdString();
}

TEST_F(DrawingTest, FillWindowGrowsTheFrameWithTheWindow) {
    Harness h;
    auto* frame = h.form().findChild<QWidget*>(QStringLiteral("Frame2"));
    auto* rowsDone = h.field("Text4");
    const QSize laidOut = frame->size();
    h.form().resize(h.form().size() + QSize(300, 200));
    QCoreApplication::processEvents();
    EXPECT_EQ(frame->size(), laidOut);

    h.choose("mFillWindow");
    EXPECT_EQ(frame->size(), laidOut + QSize(300, 200));
    EXPECT_EQ(h.view().size(), frame->size());
    EXPECT_GT(rowsDone->y(), frame->geometry().bottom());
    h.form().resize(h.form().size() + QSize(50, 40));
    QCoreApplication::processEvents();
    EXPECT_EQ(frame->size(), laidOut + QSize(350, 240));
    EXPECT_GT(rowsDone->y(), frame->geometry().bottom());

    h.choose("mFillWindow");
    EXPECT_EQ(frame->size(), laidOut);
}

TEST_F(DrawingTest, TheCTextViewShowsExactlyThePanesText) {
    Harness h;
    ASSERT_TRUE(h.openFile(whitePicture()));
    h.choose("mCText");
    h.choose("mConvert");
    const window::CTextView* view = h.form().cTextView();
    ASSERT_NE(view, nullptr);
    for (int i = 0; i < 6000 && view->byteCount() == 0; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    auto shown = [&] {
        std::string text;
        for (std::size_t i = 0; i < view->lineCount(); ++i) {
            text += (i == 0 ? "" : "\r\n") + std::string(view->line(i));
        }
        return text;
    };
    EXPECT_EQ(shown(), kWhiteText);
    EXPECT_EQ(view->byteCount(), kWhiteText.size());
}

} // namespace
