// Files that cannot be read or written: each is reported with its name and the reason, and the
// window carries on as it was.

#include "harness.h"
#include "window/aside.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace window_test;

namespace {

// A bitmap header claiming the given extent, followed by enough pixel data for it.
QByteArray bitmapOfExtent(int width, int height) {
    const int stride = (width * 3 + 3) / 4 * 4;
    const quint32 dataSize = static_cast<quint32>(stride) * static_cast<quint32>(height);
    QByteArray bytes(54, '\0');
    auto put32 = [&](int at, quint32 v) {
        for (int i = 0; i < 4; ++i) {
            bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, 54 + dataSize);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<quint32>(width));
    put32(22, static_cast<quint32>(height));
    bytes[26] = 1;
    bytes[28] = 24;
    put32(34, dataSize);
    bytes.append(QByteArray(static_cast<qsizetype>(dataSize), '\x40'));
    return bytes;
}

bool writeFile(const QString& name, const QByteArray& bytes) {
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

class WindowFaults : public testing::Test {
  protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // The error is the only one so far, names the file and gives a reason after it.
    void expectReported(const Harness& h, const QString& title, const QString& file) {
        ASSERT_EQ(h.errors().size(), 1u) << file.toStdString();
        const ShownError& error = h.errors()[0];
        EXPECT_EQ(error.title, title);
        const QString name = QDir::toNativeSeparators(file) + QStringLiteral(": ");
        EXPECT_TRUE(error.text.startsWith(name)) << error.text.toStdString();
        EXPECT_GT(error.text.size(), name.size() + 3) << "no reason: " << error.text.toStdString();
    }

    QTemporaryDir m_dir;
};

struct BadInput {
    const char* what;
    QString name;
};

TEST_F(WindowFaults, PicturesThatCannotBeOpened) {
    const QString folder = path("folder.bmp");
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString empty = path("empty.bmp");
    ASSERT_TRUE(writeFile(empty, {}));
    const QString text = path("text.bmp");
    ASSERT_TRUE(writeFile(text, "static unsigned char Untitled_d[] = {\r\n"));
    const QString wide = path("wide.bmp");
    ASSERT_TRUE(writeFile(wide, bitmapOfExtent(32768, 1)));
    const QString high = path("high.bmp");
    ASSERT_TRUE(writeFile(high, bitmapOfExtent(1, 32768)));
    const QString truncated = path("truncated.bmp");
    ASSERT_TRUE(writeFile(truncated, bitmapOfExtent(64, 64).left(200)));

    std::vector<BadInput> inputs = {
        {"missing", path("missing.bmp")}, {"folder", folder},   {"empty", empty},
        {"not a picture", text},          {"32768 wide", wide}, {"32768 high", high},
        {"truncated", truncated},
    };
    const QString unreadable = path("unreadable.bmp");
    ASSERT_TRUE(writeFile(unreadable, bitmapOfExtent(2, 2)));
    ASSERT_TRUE(QFile::setPermissions(unreadable, QFileDevice::WriteOwner));
    if (geteuid() != 0) {
        inputs.push_back({"no read permission", unreadable});
    } else {
        std::cout << "[ NOTE ] no unreadable-file case: root reads every file\n";
    }

    for (const BadInput& input : inputs) {
        SCOPED_TRACE(input.what);
        Harness h;
        h.choose("mOpen", input.name);
        expectReported(h, QStringLiteral("Open"), input.name);
        EXPECT_EQ(h.menu(), kAtStart);
        EXPECT_EQ(h.field("Text4")->text(), QStringLiteral("1"));
        EXPECT_EQ(h.field("Text5")->text(), QString());
        EXPECT_EQ(h.form().surface().width(), 417);
        EXPECT_EQ(colourAt(h.shown(), 0, 0), std::uint32_t{0xFFFFFF});
    }
    // The largest extent is accepted.
    const QString largest = path("largest.bmp");
    ASSERT_TRUE(writeFile(largest, bitmapOfExtent(32767, 1)));
    Harness h;
    h.choose("mOpen", largest);
    EXPECT_TRUE(h.errors().empty());
    EXPECT_EQ(h.field("Text5")->text(), QStringLiteral("1"));
}

// A save that waits in open() for a reader that never comes: a Close ends the command at once and
// the window goes, while the save, left to itself, still writes the whole text from what it owns.
TEST_F(WindowFaults, ClosingDuringASaveThatCannotFinishEndsTheWindow) {
    const QString picture = path("in.bmp");
    writeBitmap(pictureOf({{0x000000, 0x606060, 0xB0B0B0, 0xFFFFFF, 0x303030}}), picture);
    const QString fifo = path("fifo.txt");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // The reader comes once the window is gone, or after 20 s if the Close waited for the save:
    // then the test fails instead of hanging.
    std::atomic<bool> gone{false};
    bool waitedForTheSave = false;
    QByteArray read;
    std::thread reader([&] {
        for (int tenths = 0; tenths < 200 && !gone; ++tenths) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        waitedForTheSave = !gone;
        QFile in(fifo);
        if (in.open(QIODevice::ReadOnly)) {
            read = in.readAll();
        }
    });
    std::string text;
    {
        Harness h;
        h.choose("mOpen", picture);
        h.choose("mConvert");
        text = h.paneText();
        QTimer::singleShot(0, &h.form(), &QWidget::close); // arrives while the save waits
        h.choose("mSaveC", fifo);
        EXPECT_TRUE(h.form().closed());
        EXPECT_FALSE(h.form().busy());
        EXPECT_EQ(h.menu(), kNone);
        EXPECT_TRUE(h.errors().empty());
    }
    gone = true;
    reader.join();
    EXPECT_FALSE(waitedForTheSave) << "the Close waited for the save";
    EXPECT_EQ(read.toStdString(), text);
    EXPECT_TRUE(window::waitForWorkAside(std::chrono::seconds(20)));
}

// A window with a picture opened and converted, whose outputs are then saved to bad places.
class SaveFaults : public WindowFaults {
  protected:
    void SetUp() override {
        const QString picture = path("in.bmp");
        writeBitmap(pictureOf({{0x000000, 0x606060, 0xB0B0B0, 0xFFFFFF, 0x000000},
                               {0xFFFFFF, 0x000000, 0x606060, 0xB0B0B0, 0xFFFFFF}}),
                    picture);
        h.choose("mOpen", picture);
        h.choose("mConvert");
        ASSERT_EQ(h.menu(), kConverted);
        m_text = h.paneText();
        ASSERT_FALSE(m_text.empty());
    }

    // Tries both saves at `target`; each must be reported, leave the folder's files as they were,
    // and keep the window able to save elsewhere.
    void expectBothSavesFail(const QString& target, const QString& folder) {
        for (const char* action : {"mSaveC", "mSaveP"}) {
            SCOPED_TRACE(action);
            const QStringList before = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden);
            Harness& w = h;
            const std::size_t errors = w.errors().size();
            w.choose(action, target);
            ASSERT_EQ(w.errors().size(), errors + 1);
            const ShownError& error = w.errors().back();
            EXPECT_EQ(error.title, QString::fromLatin1(action) == QLatin1String("mSaveC")
                                       ? QStringLiteral("Save C Code")
                                       : QStringLiteral("Save Picture"));
            EXPECT_TRUE(
                error.text.startsWith(QDir::toNativeSeparators(target) + QStringLiteral(": ")))
                << error.text.toStdString();
            EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden), before)
                << "a partial file was left";
            EXPECT_EQ(w.menu(), kConverted);
        }
        expectStillWhole();
    }

    // The text and the picture are still there and can be saved elsewhere.
    void expectStillWhole() {
        const QString text = path("elsewhere.txt");
        h.choose("mSaveC", text);
        EXPECT_EQ(readAll(text).toStdString(), m_text);
        const QString picture = path("elsewhere.bmp");
        h.choose("mSaveP", picture);
        const QImage saved(picture);
        ASSERT_EQ(saved.size(), QSize(5, 2));
        EXPECT_EQ(colourAt(saved, 1, 0), std::uint32_t{0x5A595A});
    }

    Harness h;
    std::string m_text;
};

TEST_F(SaveFaults, FolderThatDoesNotExist) {
    expectBothSavesFail(path("missing/out"), m_dir.path());
}

TEST_F(SaveFaults, NameThatIsAFolder) {
    const QString folder = path("folder");
    ASSERT_TRUE(QDir().mkdir(folder));
    expectBothSavesFail(folder, m_dir.path());
    EXPECT_TRUE(QDir(folder).exists());
}

TEST_F(SaveFaults, FullDevice) {
    if (!QFile::exists(QStringLiteral("/dev/full"))) {
        GTEST_SKIP() << "no /dev/full here";
    }
    expectBothSavesFail(QStringLiteral("/dev/full"), m_dir.path());
}

// A folder whose files cannot be changed: read-only for an ordinary user; for root, which
// ignores permissions, a folder made immutable with chattr.
TEST_F(SaveFaults, ReadOnlyFolderKeepsItsFile) {
    const QString folder = path("locked");
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString existing = folder + QStringLiteral("/out");
    const QByteArray old("what was there before");
    ASSERT_TRUE(writeFile(existing, old));
    bool locked = false;
    if (geteuid() == 0) {
        locked = run(QStringLiteral("chattr"), {QStringLiteral("+i"), folder});
    } else {
        locked = QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    if (!locked) {
        GTEST_SKIP() << "cannot make a folder read-only here (chattr +i failed)";
    }
    expectBothSavesFail(existing, folder);
    EXPECT_EQ(readAll(existing), old);
    if (geteuid() == 0) {
        run(QStringLiteral("chattr"), {QStringLiteral("-i"), folder});
    } else {
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    }
}

// A disk that fills up while writing: a small tmpfs, which only root can mount.
TEST_F(SaveFaults, FullDiskKeepsTheExistingFile) {
    const QString folder = path("small");
    ASSERT_TRUE(QDir().mkdir(folder));
    if (geteuid() != 0 ||
        !run(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=64k", "tmpfs", folder})) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    }
    struct Unmount {
        QString folder;
        ~Unmount() { run(QStringLiteral("umount"), {folder}); }
    } unmount{folder};

    const QString existing = folder + QStringLiteral("/out");
    const QByteArray old("what was there before");
    ASSERT_TRUE(writeFile(existing, old));
    // Fills the rest of the disk; this write itself fails part way.
    writeFile(folder + QStringLiteral("/filler"), QByteArray(1024 * 1024, 'x'));

    expectBothSavesFail(existing, folder);
    EXPECT_EQ(readAll(existing), old);
}

} // namespace
