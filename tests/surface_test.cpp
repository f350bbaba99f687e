// The picture surface: every bitmap variant loads with exact colours, refusals name the
// reason and change nothing, painted colours read back exactly, and saves round-trip and
// treat every kind of target as what it is.

#include "faults/fault_support.h"
#include "imaging/levels.h"
#include "pictures/picture_reader.h"
#include "platform/safe_save.h"
#include "support/bmp_builder_qt.h"
#include "support/memory_canvas.h"
#include "support/picture_load.h"
#include "surface/picture_surface.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;
using surface::PictureSurface;

namespace {

constexpr int kWidth = 5;
constexpr int kHeight = 3;

// Colours that every depth can hold exactly: each channel 0 or 255.
std::vector<std::uint32_t> extremeColours() {
    std::vector<std::uint32_t> colours;
    for (int i = 0; i < kWidth * kHeight; ++i) {
        const int k = (i * 5 + 3) % 8;
        colours.push_back((k & 1 ? 0xFFu : 0u) | (k & 2 ? 0xFF00u : 0u) | (k & 4 ? 0xFF0000u : 0u));
    }
    return colours;
}

std::vector<std::uint32_t> anyColours() {
    std::vector<std::uint32_t> colours;
    std::mt19937 random(3);
    for (int i = 0; i < kWidth * kHeight; ++i) {
        colours.push_back(random() & 0xFFFFFF);
    }
    return colours;
}

class TempFiles {
  public:
    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }

  private:
    QTemporaryDir m_dir;
};

void expectPixels(const PictureSurface& surface, const std::vector<std::uint32_t>& colours,
                  int width, int height) {
    ASSERT_EQ(surface.width(), width);
    ASSERT_EQ(surface.height(), height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            ASSERT_EQ(static_cast<std::uint32_t>(surface.read(x, y)),
                      colours[static_cast<std::size_t>(y * width + x)])
                << "at " << x << ", " << y;
        }
    }
}

// Qt widens a 16-bit channel by shifting it up, so a full 5-bit channel reads 0xF8.
struct Variant {
    const char* name;
    BmpLayout layout;
    bool indexed;
};

} // namespace

TEST(SurfaceLoad, BitmapsLandTheRightWayUp) {
    const std::vector<std::uint32_t> palette16 = {
        0x000000, 0x123456, 0xABCDEF, 0xFFFFFF, 0x5A595A, 0xB4B4B4, 0x0000FF, 0x00FF00,
        0xFF0000, 0x808080, 0x7F7F7F, 0x2A2A2A, 0x2B2B2B, 0xD4D4D4, 0xD5D5D5, 0x010203};
    // Every variant is decoded by the bitmap decoder and tested with it; here, that its rows
    // land on the surface the right way up, in either row order and kind of pixel.
    const Variant variants[] = {
        {"8-bit", {8, BmpCompression::Rgb, 40, false, {}, palette16}, true},
        {"RLE4", {4, BmpCompression::Rle4, 40, false, {}, palette16}, true},
        {"16-bit 5-6-5",
         {16, BmpCompression::BitFields, 40, false, {0xF800, 0x07E0, 0x001F}, {}},
         false},
        {"24-bit top-down", {24, BmpCompression::Rgb, 40, true, {}, {}}, false},
        {"24-bit old header", {24, BmpCompression::Rgb, 12, false, {}, {}}, false},
    };
    TempFiles files;
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        std::vector<std::uint32_t> values;
        std::vector<std::uint32_t> expected;
        const bool exactOnly = v.layout.bits == 16;
        const std::vector<std::uint32_t> colours = exactOnly ? extremeColours() : anyColours();
        for (int i = 0; i < kWidth * kHeight; ++i) {
            if (v.indexed) {
                const std::uint32_t index = static_cast<std::uint32_t>(i) %
                                            std::min<std::uint32_t>(16, 1u << v.layout.bits);
                values.push_back(index);
                expected.push_back(v.layout.palette[index]);
            } else {
                const std::uint32_t c = colours[static_cast<std::size_t>(i)];
                values.push_back(c);
                // Full channels read 255 at every width.
                expected.push_back(c);
            }
        }
        const QString path = files.write(QStringLiteral("%1.bmp").arg(QString::fromLatin1(v.name)),
                                         makeBmp(kWidth, kHeight, values, v.layout));
        PictureSurface surface;
        const auto failure = loadInto(surface, path);
        ASSERT_FALSE(failure.has_value()) << base::message(*failure);
        expectPixels(surface, expected, kWidth, kHeight);
    }
}

TEST(SurfaceLoad, OwnBitmapDecoderMatchesQtsReader) {
    // Widths with every row padding, bottom-up and top-down.
    std::mt19937 random(5);
    for (int width : {1, 2, 3, 4, 7, 33}) {
        for (bool topDown : {false, true}) {
            std::vector<std::uint32_t> colours(static_cast<std::size_t>(width) * 4);
            for (auto& c : colours) {
                c = random() & 0xFFFFFF;
            }
            QByteArray bytes =
                makeBmp(width, 4, colours, {24, BmpCompression::Rgb, 40, topDown, {}, {}});
            QBuffer ours(&bytes);
            ours.open(QIODevice::ReadOnly);
            const auto read = pictures::readPicture(ours, "ours");
            ASSERT_TRUE(std::holds_alternative<QImage>(read)) << std::get<base::Error>(read).reason;
            const QImage& image = std::get<QImage>(read);
            QBuffer theirs(&bytes);
            theirs.open(QIODevice::ReadOnly);
            const QImage qt = QImageReader(&theirs, "bmp").read().convertToFormat(image.format());
            EXPECT_EQ(image, qt) << width << (topDown ? " top-down" : " bottom-up");
        }
    }
}

TEST(SurfaceLoad, OtherFormatsThatQtReads) {
    TempFiles files;
    QImage png(3, 2, QImage::Format_RGB32);
    png.fill(QColor(0x12, 0x34, 0x56));
    png.setPixel(2, 1, qRgb(0xAB, 0xCD, 0xEF));
    const QString path = files.path(QStringLiteral("picture.bmp")); // a PNG under a .bmp name
    ASSERT_TRUE(QImageWriter(path, "png").write(png));
    PictureSurface surface;
    ASSERT_FALSE(loadInto(surface, path).has_value());
    EXPECT_EQ(surface.read(0, 0), 0x563412);
    EXPECT_EQ(surface.read(2, 1), 0xEFCDAB);
}

TEST(SurfaceLoad, RefusalsNameTheReasonAndChangeNothing) {
    TempFiles files;
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* reasonPart;
    };
    const QByteArray good = makeBmp(2, 2, {1, 2, 3, 4}, {});
    QByteArray truncated = good.left(good.size() - 8);
    const Case cases[] = {
        {"wide.bmp", makeBmp(32768, 1, std::vector<std::uint32_t>(32768), {}), "too large"},
        {"high.bmp", makeBmp(1, 32768, std::vector<std::uint32_t>(32768), {}), "too large"},
        {"truncated.bmp", truncated, "truncated"},
        {"text.bmp", QByteArray("just some text, not a picture\n"), "not a picture"},
        {"empty.bmp", QByteArray(), "empty"},
        // The numbers as written, not cut into two.
        {"huge.pgm", QByteArray("P5 99999999999999999999 1 255\n"),
         "(99999999999999999999 × 1 pixels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PictureSurface surface(7, 6);
        paint(surface, 1, 1, imaging::kDarkGrey);
        const auto failure = loadInto(surface, files.write(QString::fromLatin1(c.name), c.bytes));
        ASSERT_TRUE(failure.has_value());
        EXPECT_NE(failure->file.find(c.name), std::string::npos);
        EXPECT_NE(failure->reason.find(c.reasonPart), std::string::npos) << failure->reason;
        EXPECT_EQ(surface.width(), 7);
        EXPECT_EQ(surface.read(1, 1), imaging::kDarkGrey);
    }
    PictureSurface surface;
    EXPECT_TRUE(loadInto(surface, files.path(QStringLiteral("missing.bmp"))).has_value());
    EXPECT_EQ(surface.width(), 417);
    EXPECT_EQ(surface.height(), 337);
}

TEST(SurfaceLoad, LargestExtentIsAccepted) {
    TempFiles files;
    for (auto [w, h] : {std::pair{32767, 1}, std::pair{1, 32767}}) {
        const auto n = static_cast<std::size_t>(w) * h;
        PictureSurface surface;
        const auto failure = loadInto(
            surface, files.write(QStringLiteral("edge.bmp"),
                                 makeBmp(w, h, std::vector<std::uint32_t>(n, 0x5A595A), {})));
        ASSERT_FALSE(failure.has_value()) << base::message(*failure);
        EXPECT_EQ(surface.width(), w);
        EXPECT_EQ(surface.height(), h);
        EXPECT_EQ(surface.read(w - 1, h - 1), imaging::kDarkGrey);
    }
}

TEST(SurfaceLoad, PicturesOverQtsDefaultAllocationLimitLoad) {
    // 8-bit pixels decode through Qt's reader into 4 bytes each: 150 MB, over its 128 MB default.
    const int side = 6200;
    QByteArray bytes = makeBmp(side, side, std::vector<std::uint32_t>(std::size_t{side} * side, 1),
                               {8, BmpCompression::Rgb, 40, false, {}, {0, 0x5A595A}});
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const auto read = pictures::readPicture(buffer, "large");
    ASSERT_TRUE(std::holds_alternative<QImage>(read)) << std::get<base::Error>(read).reason;
    const QImage& image = std::get<QImage>(read);
    EXPECT_EQ(image.width(), side);
    EXPECT_EQ(image.pixel(side - 1, side - 1), qRgb(0x5A, 0x59, 0x5A));
}

TEST(SurfacePixels, PaintedColoursReadBackExactlyAndOutsideIsNoColour) {
    PictureSurface surface(4, 3);
    EXPECT_EQ(surface.read(0, 0), imaging::kWhite);
    const imaging::Colour colours[] = {imaging::kBlack, imaging::kDarkGrey, imaging::kLightGrey,
                                       imaging::kWhite, 0x010203,           0xFEDCBA};
    int i = 0;
    for (imaging::Colour c : colours) {
        paint(surface, i % 4, i / 4, c);
        ++i;
    }
    i = 0;
    for (imaging::Colour c : colours) {
        EXPECT_EQ(surface.read(i % 4, i / 4), c);
        ++i;
    }
    for (auto [x, y] : {std::pair{-1, 0}, std::pair{0, -1}, std::pair{4, 0}, std::pair{0, 3}}) {
        EXPECT_EQ(surface.read(x, y), imaging::kNoColour);
    }
}

TEST(SurfacePixels, PaintedRowsAreHeldAsLevelsAndReadBackAsPixels) {
    // A picture with alpha, painted from the top as a scan paints it; the rows not yet painted
    // keep their pixels although the painted ones take the front of the same memory.
    const std::uint32_t rows[3][5] = {{0xFF102030, 0x00405060, 0xC8A0B0C0, 0xFF000000, 0x0AFFFFFF},
                                      {0xFF123456, 0x00123456, 0xFF123456, 0xFF123456, 0xFF123456},
                                      {0xFF654321, 0xFF654321, 0xFF654321, 0xFF654321, 0xFF654321}};
    QImage picture(5, 3, QImage::Format_RGBA8888);
    for (int y = 0; y < 3; ++y) {
        std::memcpy(picture.scanLine(y), rows[y], sizeof rows[y]);
    }
    PictureSurface surface;
    surface.setPicture(picture);
    picture = QImage();
    // Row 0: black, dark, light, white, dark; only pixels 0, 2 and 3 opaque.
    const std::uint8_t dark0 = 0xC8, light0 = 0xA0, opaque0 = 0xB0;
    surface.paintLevelRow(0, &dark0, &light0);
    surface.maskRow(0, &opaque0);
    EXPECT_EQ(surface.pixel(1, 1), 0x00123456u);
    // Row 1: white, white, black, light, dark; no mask, so pixel 1 stays clear.
    const std::uint8_t dark1 = 0x28, light1 = 0x30;
    surface.paintLevelRow(1, &dark1, &light1);
    EXPECT_EQ(surface.levelRows(), 2);
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(surface.pixel(x, 2), 0xFF654321u) << "unpainted pixel " << x;
    }
    // Row 2: dark grey but the last pixel, black; all opaque.
    const std::uint8_t dark2 = 0xF8, light2 = 0x08, opaque2 = 0xF8;
    surface.paintLevelRow(2, &dark2, &light2);
    surface.maskRow(2, &opaque2);

    EXPECT_EQ(surface.levelRows(), 3);
    EXPECT_TRUE(surface.pixels().isNull()) << "the pixels are still held";
    const std::uint32_t painted[3][5] = {
        {0xFF000000, 0x005A595A, 0xFFB4B4B4, 0xFFFFFFFF, 0x005A595A},
        {0xFFFFFFFF, 0x00FFFFFF, 0xFF000000, 0xFFB4B4B4, 0xFF5A595A},
        {0xFF5A595A, 0xFF5A595A, 0xFF5A595A, 0xFF5A595A, 0xFF000000}};
    const QImage whole = surface.image();
    ASSERT_EQ(whole.format(), QImage::Format_RGBA8888);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(std::memcmp(whole.constScanLine(y), painted[y], sizeof painted[y]), 0) << y;
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(surface.pixel(x, y), painted[y][x]) << x << ", " << y;
        }
    }
    // The pencil makes a clear pixel opaque; undo puts it back clear.
    surface.paint(1, 0, imaging::kLightGrey);
    EXPECT_EQ(surface.pixel(1, 0), 0xFFB4B4B4u);
    surface.restore(1, 0, 0x005A595A);
    EXPECT_EQ(surface.read(1, 0), imaging::kDarkGrey);
    EXPECT_EQ(surface.pixel(1, 0), 0x005A595Au);
}

TEST(SurfaceSave, SaveThenLoadGivesTheSameLevels) {
    TempFiles files;
    const std::uint32_t levels[] = {imaging::kBlack, imaging::kDarkGrey, imaging::kLightGrey,
                                    imaging::kWhite};
    for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{5, 4}, std::pair{9, 3}}) {
        PictureSurface surface(w, h);
        std::vector<std::uint32_t> colours;
        std::mt19937 random(static_cast<unsigned>(w * 31 + h));
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                colours.push_back(levels[random() % 4]);
                paint(surface, x, y, static_cast<imaging::Colour>(colours.back()));
            }
        }
        // A colour that is no level is saved as Convert reads it: white.
        paint(surface, w - 1, 0, 0x7F7F80);
        colours[static_cast<std::size_t>(w - 1)] = imaging::kWhite;
        const QString path = files.path(QStringLiteral("saved.bmp"));
        ASSERT_FALSE(surface.save(path).has_value());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_EQ(bytes[28], 4); // bits per pixel
        PictureSurface loaded;
        ASSERT_FALSE(loadInto(loaded, path).has_value());
        expectPixels(loaded, colours, w, h);
    }
}

TEST(SurfaceSave, FailedSaveLeavesNoFileAndNamesIt) {
    TempFiles files;
    PictureSurface surface(2, 2);
    const QString path = files.path(QStringLiteral("no/such/folder/out.bmp"));
    const auto failure = surface.save(path);
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->file.find("out.bmp"), std::string::npos);
    EXPECT_FALSE(QFile::exists(path));
}

namespace {

namespace fs = std::filesystem;
using faults::readFile;
using faults::writeFile;

const std::string kNew = "static unsigned char Untitled_d[] = {\r\n\r\n0x80, ";
// Longer than the new text: a file written in place without truncation keeps its tail.
const std::string kOld(200, '#');

// Runs `save` as uid 65534 when the test runs as root, so that permissions count.
template <typename Save> auto asOtherUser(bool other, Save save) {
    const bool drop = other && ::geteuid() == 0;
    if (drop && ::seteuid(65534) != 0) {
        ADD_FAILURE() << "seteuid failed";
    }
    auto result = save();
    if (drop && ::seteuid(0) != 0) {
        ADD_FAILURE() << "seteuid back failed";
    }
    return result;
}

// Standard output pointed at `file` (appending) while `save` runs.
template <typename Save> auto withStandardOutput(const fs::path& file, Save save) {
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    auto result = save();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    return result;
}

// Saves the bytes as they are.
std::optional<base::Error> saveBytes(const std::string& path, std::string_view bytes) {
    return platform::saveFile(path, [bytes](const platform::ByteSink& sink) {
        sink(bytes);
        return std::optional<base::Error>();
    });
}

struct SaveTarget {
    const char* what;
    // Sets up the row's folder; returns the name to save to.
    std::function<std::string(const fs::path& dir)> prepare;
    std::string holder;            // the file that holds the text afterwards; none when refused
    std::string holds = kNew;      // all that it holds
    unsigned mode = 0644;          // its permissions (the test's umask is 022)
    const char* refusal = nullptr; // part of the reason when the save is refused
    const char* link = nullptr;    // a link that must still be a link
    bool otherUser = false;        // saved as another user when the test runs as root
    bool rootOnly = false;
};

std::string oldFile(const fs::path& file, fs::perms mode) {
    writeFile(file, kOld);
    fs::permissions(file, mode);
    return file.string();
}

const std::string kLongName(252, 'n');

const SaveTarget kTargets[] = {
    {"regular file", [](auto& d) { return oldFile(d / "f", fs::perms(0640)); }, "f", kNew, 0640},
    {"new file", [](auto& d) { return (d / "f").string(); }, "f"},
    {"link",
     [](auto& d) {
         oldFile(d / "target", fs::perms(0600));
         fs::create_symlink("target", d / "link");
         return (d / "link").string();
     },
     "target", kNew, 0600, nullptr, "link"},
    {"dangling link",
     [](auto& d) {
         fs::create_symlink("made", d / "link");
         return (d / "link").string();
     },
     "made", kNew, 0644, nullptr, "link"},
    {"link loop",
     [](auto& d) {
         fs::create_symlink("b", d / "a");
         fs::create_symlink("a", d / "b");
         return (d / "a").string();
     },
     "", kNew, 0, "loop"},
    {"read-only file",
     [](auto& d) {
         oldFile(d / "f", fs::perms(0444));
         if (::geteuid() == 0) {
             fs::path f = d / "f";
             EXPECT_EQ(::chown(f.c_str(), 65534, 65534), 0);
         }
         return (d / "f").string();
     },
     "", kNew, 0, "the file is read-only (mode 0444)", nullptr, true},
    {"another user's file in a writable folder",
     [](auto& d) { return oldFile(d / "f", fs::perms(0644)); }, "", kNew, 0,
     "belongs to another user", nullptr, true, true},
    {"link into a folder that cannot be written",
     [](auto& d) {
         fs::create_directory(d / "locked");
         fs::permissions(d / "locked", fs::perms(0555));
         fs::create_symlink("locked/x", d / "into");
         return (d / "into").string();
     },
     "", kNew, 0, "cannot be written to", nullptr, true},
    {"name under /proc/self/cwd",
     [](auto& d) {
         oldFile(d / "f", fs::perms(0640));
         fs::current_path(d);
         return std::string("/proc/self/cwd/f");
     },
     "f", kNew, 0640},
    {"name under /dev/..", [](auto& d) { return "/dev/.." + oldFile(d / "f", fs::perms(0640)); },
     "f", kNew, 0640},
    {"252-byte name of a file", [](auto& d) { return oldFile(d / kLongName, fs::perms(0600)); },
     kLongName, kNew, 0600},
    {"255-byte name of a new file", [](auto& d) { return (d / std::string(255, 'm')).string(); },
     std::string(255, 'm')},
    {"missing folder", [](auto& d) { return (d / "nowhere" / "f").string(); }, "", kNew, 0,
     "nowhere does not exist"},
};

TEST(SurfaceSave, EveryKindOfTarget) {
    faults::TempDir base;
    const mode_t mask = ::umask(022);
    const fs::path here = fs::current_path();
    for (const SaveTarget& target : kTargets) {
        SCOPED_TRACE(target.what);
        if (target.rootOnly && ::geteuid() != 0) {
            continue;
        }
        const fs::path dir = base / std::to_string(&target - kTargets);
        fs::create_directory(dir);
        fs::permissions(dir, fs::perms::all);
        const std::string name = target.prepare(dir);
        auto before = faults::listFolder(dir);
        const auto error = asOtherUser(target.otherUser, [&] { return saveBytes(name, kNew); });
        fs::current_path(here);

        const std::string& holder = target.holder;
        if (target.refusal != nullptr) {
            ASSERT_TRUE(error.has_value());
            EXPECT_EQ(error->file, name);
            EXPECT_NE(error->reason.find(target.refusal), std::string::npos) << error->reason;
        } else {
            ASSERT_FALSE(error.has_value()) << error->reason;
            EXPECT_EQ(readFile(dir / holder), target.holds);
            EXPECT_EQ(static_cast<unsigned>(fs::status(dir / holder).permissions()), target.mode);
            if (std::find(before.begin(), before.end(), holder) == before.end()) {
                before.push_back(holder);
                std::sort(before.begin(), before.end());
            }
        }
        if (target.link != nullptr) {
            EXPECT_TRUE(fs::is_symlink(dir / target.link));
        }
        // Nothing else: no temporary file is left, nothing refused is touched.
        EXPECT_EQ(faults::listFolder(dir), before);
        if (target.refusal != nullptr && fs::is_regular_file(dir / "f")) {
            EXPECT_EQ(readFile(dir / "f"), kOld);
        }
    }
    ::umask(mask);
}

// A save whose producer fails itself writes nothing: the old file stays, no temporary file is
// left, and the error names the file with the producer's reason and kind.
TEST(SurfaceSave, ProducerFailureLeavesTheOldFile) {
    faults::TempDir dir;
    const std::string name = oldFile(dir / "f", fs::perms(0644));
    const auto error = platform::saveFile(name, [](const platform::ByteSink& sink) {
        sink(kNew);
        return std::optional(base::noMemory({}, "to write it"));
    });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(base::message(*error), name + ": not enough memory to write it");
    EXPECT_EQ(error->kind, base::ErrorKind::Memory);
    EXPECT_EQ(faults::listFolder(dir.path()), std::vector<std::string>{"f"});
    EXPECT_EQ(readFile(dir / "f"), kOld);
}

// Standard output by any of its names is written through the descriptor the program was
// given, appending when it appends; a pipe and a device are written in place.
TEST(SurfaceSave, StandardOutputPipesAndDevicesAreWrittenInPlace) {
    faults::TempDir dir;
    for (const std::string name : {"", "/dev/stdout", "/proc/self/fd/1"}) {
        SCOPED_TRACE(name);
        writeFile(dir / "log", "earlier\n");
        const auto error = withStandardOutput(dir / "log", [&] { return saveBytes(name, kNew); });
        EXPECT_FALSE(error.has_value());
        EXPECT_EQ(readFile(dir / "log"), "earlier\n" + kNew);
    }
    EXPECT_TRUE(fs::is_symlink("/dev/stdout"));

    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    EXPECT_FALSE(saveBytes("/proc/self/fd/" + std::to_string(ends[1]), kNew));
    ::close(ends[1]);
    std::string got(kNew.size() + 1, '\0');
    got.resize(
        static_cast<std::size_t>(std::max<ssize_t>(0, ::read(ends[0], got.data(), got.size()))));
    ::close(ends[0]);
    EXPECT_EQ(got, kNew);

    EXPECT_FALSE(saveBytes("/dev/null", kNew));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

} // namespace
