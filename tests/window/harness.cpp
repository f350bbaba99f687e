#include "harness.h"

#include "window/picture_view.h"
#include "window/text_pane.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

namespace window_test {

Harness::Harness(std::chrono::milliseconds yieldInterval, std::size_t clipboardLimit) {
    window::Seams seams;
    seams.chooseFile = [this](QWidget*, const window::DialogRequest& request) {
        m_requests.push_back(request);
        m_menuInDialogs.push_back(menu());
        if (m_answers.empty()) {
            ADD_FAILURE() << "a file dialog was shown that the test did not expect";
            return QString();
        }
        QString name = m_answers.front();
        m_answers.pop_front();
        return name;
    };
    seams.beep = [this] { ++m_beeps; };
    seams.startWindow = [this] {
        m_windowsStarted += m_windowStartFails ? 0 : 1;
        return !m_windowStartFails;
    };
    seams.showError = [this](QWidget*, const QString& title, const QString& text) {
        m_errors.push_back({title, text});
    };
    seams.confirmReplace = [this](QWidget*, const QString&, const QString& fileName) {
        m_replaceQuestions.push_back(fileName);
        if (m_replaceAnswers.empty()) {
            return true;
        }
        const bool yes = m_replaceAnswers.front();
        m_replaceAnswers.pop_front();
        return yes;
    };
    seams.rowsShown = [this](int first, int end) {
        if (m_rowsShown) {
            m_rowsShown(first, end);
        }
    };
    seams.yieldInterval = yieldInterval;
    seams.clipboardLimit = clipboardLimit;
    m_form = std::make_unique<window::Form1>(std::move(seams));
    m_form->show();
}

QAction* Harness::action(const char* name) const {
    auto* found = m_form->findChild<QAction*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QLineEdit* Harness::field(const char* name) const {
    auto* found = m_form->findChild<QLineEdit*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

MenuState Harness::menu() const {
    return {action("mOpen")->isEnabled(), action("mConvert")->isEnabled(),
            action("mSaveP")->isEnabled(), action("mSaveC")->isEnabled()};
}

std::string Harness::paneText() const {
    return m_form->cCodeText();
}

QImage Harness::shown() const {
    return view().grab().toImage();
}

window::PictureView& Harness::view() const {
    return *m_form->findChild<window::PictureView*>(QStringLiteral("Picture1"));
}

void Harness::choose(const char* name, const QString& fileName) {
    answer(fileName);
    choose(name);
}

void Harness::choose(const char* name) {
    action(name)->trigger();
    settle();
}

bool Harness::openFile(const QString& name) {
    const bool started = m_form->openFile(name);
    settle();
    return started && action("mConvert")->isEnabled();
}

void Harness::settle() {
    if (!m_form->busy()) {
        return;
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!m_form->busy()) {
            loop.quit();
        }
    });
    poll.start(1);
    // Longer than any command of these small pictures takes, even under the sanitizers.
    QTimer::singleShot(60000, &loop, [&] {
        ADD_FAILURE() << "a command did not end";
        loop.quit();
    });
    loop.exec();
}

QImage pictureOf(const std::vector<std::vector<std::uint32_t>>& rows) {
    const int height = static_cast<int>(rows.size());
    const int width = static_cast<int>(rows.front().size());
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = rows[y][x];
            picture.setPixel(x, y, qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
        }
    }
    return picture;
}

void writeBitmap(const QImage& picture, const QString& fileName) {
    ASSERT_TRUE(picture.save(fileName, "BMP")) << fileName.toStdString();
}

std::uint32_t colourAt(const QImage& image, int x, int y) {
    const QRgb p = image.pixel(x, y);
    return static_cast<std::uint32_t>(qRed(p) | (qGreen(p) << 8) | (qBlue(p) << 16));
}

QByteArray readAll(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << fileName.toStdString();
        return {};
    }
    return file.readAll();
}

} // namespace window_test
