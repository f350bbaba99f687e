// The readers on hostile bytes: picture headers that lie about their size, every input the
// fuzzer once broke the picture reader with, and C text that -r must refuse.

#include "faults/fault_support.h"
#include "pictures/picture_reader.h"

#include <QBuffer>
#include <QByteArray>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using faults::lyingBmp;

struct Read {
    QImage picture;
    QString reason;
};

Read readBytes(const std::string& bytes, const pictures::ReadLimits& limits = {}) {
    QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    auto read = pictures::readPicture(buffer, "in", limits);
    if (const auto* error = std::get_if<base::Error>(&read)) {
        return {QImage(), QString::fromStdString(error->reason)};
    }
    return {std::get<QImage>(std::move(read)), QString()};
}

struct Lie {
    const char* name;
    int bits;
    std::uint32_t compression;
    std::uint32_t infoSize;
    int height; // negative: top-down
};

const Lie kLies[] = {
    {"24-bit", 24, 0, 40, 32767},
    {"24-bit top-down", 24, 0, 40, -32767},
    {"32-bit", 32, 0, 40, 32767},
    {"8-bit", 8, 0, 40, 32767},
    {"4-bit", 4, 0, 40, 32767},
    {"1-bit", 1, 0, 40, 32767},
    {"16-bit bit fields", 16, 3, 40, 32767},
    {"32-bit bit fields", 32, 3, 40, 32767},
    {"V5 32-bit bit fields", 32, 3, 124, 32767},
    {"core 24-bit", 24, 0, 12, 32767},
    {"core 1-bit", 1, 0, 12, 32767},
};

// A header claiming the largest extent with a few bytes of pixels must be refused from the
// header alone: the reason is the truncation, not a failed allocation or decode.
TEST(LyingHeader, RefusedAsTruncatedForEveryUncompressedVariant) {
    for (const Lie& lie : kLies) {
        SCOPED_TRACE(lie.name);
        const Read r =
            readBytes(lyingBmp(32767, lie.height, lie.bits, lie.compression, lie.infoSize, 16));
        EXPECT_TRUE(r.picture.isNull());
        // Said from the header, not found on reading the first row.
        EXPECT_TRUE(r.reason.startsWith(
            QStringLiteral("the file is truncated: its header claims 32767 × 32767 pixels")))
            << r.reason.toStdString();
    }
}

// libjpeg would fill a short JPEG with grey at whatever size its header claims, so a claim
// beyond what the data can code is refused; a JPEG that holds its blocks is read.
TEST(LyingHeader, JpegShorterThanItsBlocksRefused) {
    for (const auto& [width, height] : {std::pair{16, 16}, std::pair{1000, 800}}) {
        const Read r = readBytes(faults::greyJpeg(width, height));
        ASSERT_FALSE(r.picture.isNull()) << r.reason.toStdString();
        EXPECT_EQ(r.picture.size(), QSize(width, height));
        EXPECT_EQ(r.picture.pixel(width - 1, height - 1) & 0xFFFFFF, 0x808080u);
    }
    const Read r = readBytes(faults::greyJpeg(32767, 32767, 4));
    EXPECT_TRUE(r.picture.isNull());
    EXPECT_TRUE(r.reason.contains(QStringLiteral("truncated"))) << r.reason.toStdString();
    EXPECT_TRUE(r.reason.contains(QStringLiteral("32767 × 32767"))) << r.reason.toStdString();
}

// Qt reads more formats than we take; XBM's reader, for one, fills a short file up to the size
// its header claims. Such files are refused as unknown, whatever their claim.
TEST(LyingHeader, FormatsBeyondThoseWeTakeRefused) {
    const std::string xbm = "#define t_width 2000\n#define t_height 2000\n"
                            "static char t_bits[] = { 0x00, 0xff };\n";
    const std::string xpm = "/* XPM */\nstatic char *t[] = {\n\"2 2 1 1\",\n\"a c #ff0000\",\n"
                            "\"aa\",\n\"aa\"\n};\n";
    for (const auto& bytes : {xbm, xpm}) {
        const Read r = readBytes(bytes);
        EXPECT_TRUE(r.picture.isNull()) << bytes;
        EXPECT_EQ(r.reason, QStringLiteral("not a picture in a format that can be read"));
    }
}

// The converter under an address-space limit far below the claimed picture (4 GiB at 4 bytes a
// pixel): any allocation of the pixels would fail and be reported as a lack of memory.
TEST(LyingHeader, ConverterRefusesWithoutAllocatingThePixels) {
    if (faults::builtWithAddressSanitizer()) {
        GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
    }
    faults::TempDir dir;
    const faults::RunOptions limited{false, std::uint64_t{1} << 30};

    // The limit itself leaves the converter room to work on a real picture.
    faults::writeFile(dir / "small.bmp", faults::bmp24(64, 48));
    const auto control = faults::runCli(
        {"-q", "-o", (dir / "small.txt").string(), (dir / "small.bmp").string()}, limited);
    ASSERT_EQ(control.exitCode, 0) << control.err;

    for (const Lie& lie : kLies) {
        SCOPED_TRACE(lie.name);
        const auto input = dir / "lie.bmp";
        faults::writeFile(input,
                          lyingBmp(32767, lie.height, lie.bits, lie.compression, lie.infoSize, 16));
        const auto r =
            faults::runCli({"-q", "-o", (dir / "lie.txt").string(), input.string()}, limited);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.rfind("greyplanes-cli: " + input.string() +
                                  ": the file is truncated: its header claims",
                              0),
                  0u)
            << r.err;
        EXPECT_FALSE(faults::fs::exists(dir / "lie.txt"));
    }

    const auto jpeg = dir / "lie.jpg";
    faults::writeFile(jpeg, faults::greyJpeg(32767, 32767, 4));
    const auto r = faults::runCli({"-q", "-o", (dir / "lie.txt").string(), jpeg.string()}, limited);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("greyplanes-cli: " + jpeg.string() + ": the file is truncated", 0), 0u)
        << r.err;
}

// -r on C text that is too large, too sparse or cut short: refused from the text alone with
// its line, exit 1, and no picture written, in bounded memory.
TEST(HostileText, ReverseRefusesWithTheLineAndNoPicture) {
    faults::TempDir dir;
    const auto sparse = dir / "sparse.c";
    faults::writeFile(sparse, "a_d[] = {1};\n");
    std::filesystem::resize_file(sparse, std::uintmax_t{1} << 40);
    faults::writeFile(dir / "tall.h", "#define a_width 8\n#define a_height 1\n"
                                      "a_d[] = {1, 2}; a_l[] = {3, 4};\n");
    faults::writeFile(dir / "cut.h", "#ifndef G\n#define G\nconst unsigned char a_d[] = {1};\n"
                                     "const unsigned char a_l[] = {\n2, ");
    // Each array's declared size fits a picture, both together not: refused before either is
    // allocated, so with no limit on memory.
    faults::writeFile(dir / "big.c", "a_d[500000000] = {0}; a_l[500000000] = {0};");
    const struct {
        std::string file;
        std::string reason;
        std::uint64_t addressLimit;
    } cases[] = {
        {"sparse.c", "line 2: a NUL byte, which C text never holds", 0},
        {"tall.h", "its arrays hold 2 bytes, but 8 x 1 pixels in --layout planes take 1 byte", 0},
        {"cut.h", "line 4: a_l: its closing '}' is missing (the text is cut short?)", 0},
        {"big.c", "line 1: the arrays hold more than 527 MiB, more than a picture needs", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        if (c.addressLimit != 0 && faults::builtWithAddressSanitizer()) {
            continue; // the address sanitizer cannot run under an address-space limit
        }
        const auto input = (dir / c.file).string();
        const auto r = faults::runCli({"-r", "8", "-o", (dir / "out.bmp").string(), input},
                                      {false, c.addressLimit});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "greyplanes-cli: " + input + ": " + c.reason + "\n");
        EXPECT_FALSE(faults::fs::exists(dir / "out.bmp"));
    }
}

// Every input the fuzzer found a fault with, read with the caps the fuzzer uses: the reader
// returns a picture of the promised format and extent, or refuses with a reason. A crash, a
// sanitizer report or a hang fails the test run.
TEST(FuzzRegressions, EveryKeptInputIsReadOrRefused) {
    const char* data = std::getenv("GREYPLANES_TEST_DATA");
    ASSERT_NE(data, nullptr);
    const faults::fs::path folder = faults::fs::path(data) / "fuzz";
    if (!faults::fs::exists(folder) || faults::fs::is_empty(folder)) {
        GTEST_SKIP() << "no fuzz regressions kept";
    }
    const pictures::ReadLimits fuzzLimits{4096, qint64{4} << 20};
    for (const auto& name : faults::listFolder(folder)) {
        SCOPED_TRACE(name);
        const Read r = readBytes(faults::readFile(folder / name), fuzzLimits);
        if (r.picture.isNull()) {
            EXPECT_FALSE(r.reason.isEmpty());
            continue;
        }
        EXPECT_EQ(r.picture.format(), QImage::Format_RGBX8888);
        EXPECT_GE(r.picture.width(), 1);
        EXPECT_GE(r.picture.height(), 1);
        EXPECT_LE(r.picture.width(), fuzzLimits.maxExtent);
        EXPECT_LE(r.picture.height(), fuzzLimits.maxExtent);
    }
}

} // namespace
