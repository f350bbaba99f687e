// The batch converter end to end: its exact output, its files, and its command line.

#include "support/bmp_builder_qt.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct CliRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

CliRun runCli(const QStringList& arguments) {
    QProcess process;
    process.start(QString::fromLocal8Bit(qgetenv("GREYPLANES_CLI")), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString dataPath(const char* name) {
    return QString::fromLocal8Bit(qgetenv("GREYPLANES_TEST_DATA")) + QLatin1Char('/') +
           QLatin1String(name);
}

class Cli : public ::testing::Test {
  protected:
    QString write(const QString& name, const QByteArray& bytes) {
        QFile file(m_dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }

  private:
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(Cli, WritesTheExactTextOfSmallPictures) {
    // Row 0 black; row 1 alternates dark grey, white, light grey, white in colours that
    // quantize to those levels.
    const QString eight = write(
        QStringLiteral("eight.bmp"),
        makeBmp(8, 2,
                {0x000000, 0x0A0B0C, 0x2A2A2A, 0x000000, 0x000000, 0x101010, 0x000000, 0x000000,
                 0x0000FF, 0xFFFFFF, 0x818181, 0xD5D5D5, 0x7F7F7F, 0xEEEEEE, 0xD4D4D4, 0xFFFFFF},
                {}));
    const CliRun run = runCli({eight});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "static unsigned char Untitled_d[] = {\r\n\r\n0xFF, \r\n0x88, \r\n\r\n"
                       "static unsigned char Untitled_l[] = {\r\n\r\n0xFF, \r\n0x22, ");
    EXPECT_TRUE(run.err.isEmpty()); // no progress when standard error is not a terminal

    const QString one = write(QStringLiteral("one.bmp"), makeBmp(1, 1, {0x000000}, {}));
    EXPECT_EQ(runCli({one}).out, "static unsigned char Untitled_d[] = {\r\n\r\n0x80, \r\n\r\n"
                                 "static unsigned char Untitled_l[] = {\r\n\r\n0x80, ");
}

TEST_F(Cli, SampleMatchesIndependentlyMadeGoldenFiles) {
    // The golden text and picture were made from the sample by an independent NumPy
    // implementation of the same conversion.
    const QString text = path(QStringLiteral("sample.txt"));
    const QString picture = path(QStringLiteral("sample.bmp"));
    const CliRun run = runCli({QStringLiteral("-o"), text, QStringLiteral("--picture"), picture,
                               dataPath("../../samples/sample.bmp")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(readFile(text), readFile(dataPath("sample.txt")));
    EXPECT_EQ(readFile(picture), readFile(dataPath("sample_levels.bmp")));
    // Standard output carries the same bytes as the file.
    EXPECT_EQ(runCli({dataPath("../../samples/sample.bmp")}).out, readFile(text));
}

TEST_F(Cli, PictureOutputHoldsOnlyLevelColours) {
    std::vector<std::uint32_t> colours;
    for (std::uint32_t i = 0; i < 13 * 7; ++i) {
        colours.push_back((i * 0x3F1D2B) & 0xFFFFFF);
    }
    const QString input = write(QStringLiteral("in.bmp"), makeBmp(13, 7, colours, {}));
    const QString output = path(QStringLiteral("levels.bmp"));
    const CliRun run = runCli({QStringLiteral("-q"), QStringLiteral("-p"), output, input});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QImage levels(output);
    ASSERT_EQ(levels.size(), QSize(13, 7));
    for (int i = 0; i < 13 * 7; ++i) {
        const std::uint32_t c = colours[static_cast<std::size_t>(i)];
        const int sum = static_cast<int>((c & 0xFF) + ((c >> 8) & 0xFF) + (c >> 16));
        const int grey = (sum + 1) / 3;
        const QRgb expected = grey < 43     ? qRgb(0, 0, 0)
                              : grey < 128  ? qRgb(0x5A, 0x59, 0x5A)
                              : grey <= 212 ? qRgb(0xB4, 0xB4, 0xB4)
                                            : qRgb(255, 255, 255);
        EXPECT_EQ(levels.pixel(i % 13, i / 13), expected) << i;
    }
}

TEST_F(Cli, CommandLine) {
    const QString input = write(QStringLiteral("in.bmp"), makeBmp(1, 1, {0}, {}));
    struct Case {
        QStringList arguments;
        int status;
        const char* errorPart;
    };
    const Case usageErrors[] = {
        {{}, 2, "no INPUT"},
        {{QStringLiteral("--frobnicate"), input}, 2, "unknown option --frobnicate"},
        {{QStringLiteral("-r"), QStringLiteral("8"), input, input}, 2, "-r reads one INPUT"},
        {{input, QStringLiteral("-o")}, 2, "-o needs a FILE"},
        {{QStringLiteral("--picture"), QString(), input}, 2, "--picture needs a FILE"},
    };
    for (const Case& c : usageErrors) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const CliRun run = runCli(c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE(run.err.contains(c.errorPart)) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("--help"));
        EXPECT_TRUE(run.out.isEmpty());
    }
    const CliRun help = runCli({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("Usage: greyplanes-cli"));
    EXPECT_TRUE(help.out.contains("--picture FILE"));
    const CliRun version = runCli({QStringLiteral("-V")});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.startsWith("greyplanes-cli "));
    // "--" ends the options, so a file may start with a dash.
    const QString dashed = write(QStringLiteral("-dashed.bmp"), makeBmp(1, 1, {0}, {}));
    EXPECT_EQ(runCli({QStringLiteral("--"), dashed}).status, 0);
}

// Several INPUTs are converted one by one; one of another size than the first writes nothing.
TEST_F(Cli, SeveralInputsMustBeOfOneSize) {
    const QString a = write(QStringLiteral("a.bmp"), makeBmp(2, 1, {0, 0}, {}));
    const QString b = write(QStringLiteral("b.bmp"), makeBmp(2, 1, {0, 0}, {}));
    const QString wide = write(QStringLiteral("wide.bmp"), makeBmp(3, 1, {0, 0, 0}, {}));
    const QString output = path(QStringLiteral("out.txt"));
    const CliRun run = runCli({QStringLiteral("-o"), output, a, wide, b});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(
        run.err.contains("wide.bmp: it is 3 × 1 pixels, but the frames before it are 2 × 1"))
        << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(output));
    EXPECT_EQ(runCli({QStringLiteral("-o"), output, a, b}).status, 0);
}

TEST_F(Cli, UnreadableInputIsNamedWithItsReason) {
    const QString input = write(QStringLiteral("notes.bmp"), "shopping list\n");
    const QString output = path(QStringLiteral("out.txt"));
    const CliRun run = runCli({QStringLiteral("-o"), output, input});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.startsWith(("greyplanes-cli: " + input + ": ").toLocal8Bit()))
        << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(output));
}

// A picture on standard input that ends before its last row fails with every method, stored
// top-down (error diffusion then reads it on a second thread) or bottom-up, and writes nothing.
TEST_F(Cli, PipedPictureCutShortFailsWithEveryMethod) {
    constexpr int kWidth = 40;
    constexpr int kHeight = 30;
    std::vector<std::uint32_t> colours(kWidth * kHeight);
    for (std::size_t i = 0; i < colours.size(); ++i) {
        colours[i] = static_cast<std::uint32_t>(i * 0x0A0B0Cu) & 0xFFFFFF;
    }
    const QString output = path(QStringLiteral("out.txt"));
    for (const bool topDown : {false, true}) {
        BmpFile file;
        file.width = kWidth;
        file.height = kHeight;
        file.topDown = topDown;
        file.pixels = packRows(kWidth, kHeight, 24, colours, topDown);
        const Bytes bytes = buildBmp(file);
        const QByteArray cut(reinterpret_cast<const char*>(bytes.data()),
                             static_cast<qsizetype>(bytes.size()) - 3 * kWidth - 5);
        for (const char* method : {"none", "floyd-steinberg", "atkinson", "bayer"}) {
            QProcess process;
            process.start(QString::fromLocal8Bit(qgetenv("GREYPLANES_CLI")),
                          {QStringLiteral("-q"), QStringLiteral("--dither"), QLatin1String(method),
                           QStringLiteral("-o"), output, QStringLiteral("-")});
            process.write(cut);
            process.closeWriteChannel();
            ASSERT_TRUE(process.waitForFinished(60000)) << method;
            EXPECT_EQ(process.exitCode(), 1) << method << (topDown ? " top-down" : " bottom-up");
            EXPECT_TRUE(
                process.readAllStandardError().startsWith("greyplanes-cli: standard input: "))
                << method;
            EXPECT_FALSE(QFile::exists(output)) << method;
        }
    }
}
