// The conversion both programs share: the converter's streamed path against the window's path
// through the picture surface, for every kind of input, and its outputs.

#include "conversion/gif_rows.h"
#include "conversion/output.h"
#include "conversion/pipeline.h"
#include "conversion/streamed.h"
#include "conversion/whole_picture.h"
#include "ctext/c_array_writer.h"
#include "faults/fault_support.h"
#include "imaging/dither.h"
#include "imaging/quantizer.h"
#include "pictures/picture_reader.h"
#include "platform/device_source.h"
#include "platform/safe_save.h"
#include "support/bmp_builder.h"
#include "support/gif_builder.h"
#include "support/picture_load.h"
#include "surface/picture_surface.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <numeric>
#include <optional>
#include <random>

using testing_support::BmpFile;
using testing_support::Bytes;

namespace {

QByteArray readAll(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::string local(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

struct Variant {
    const char* name;
    BmpFile file;
};

// Pictures whose colours fall in every band, in many encodings.
std::vector<Variant> variants() {
    std::mt19937 random(3);
    auto values = [&](int count, std::uint32_t range) {
        std::vector<std::uint32_t> v(static_cast<std::size_t>(count));
        for (auto& x : v) {
            x = static_cast<std::uint32_t>(random() % range);
        }
        return v;
    };
    std::vector<std::uint32_t> grey16;
    for (std::uint32_t i = 0; i < 16; ++i) {
        grey16.push_back(i * 0x111111u);
    }
    std::vector<Variant> out;
    // A bitmap of random values in [0, range) in the given depth, dressed by `dress`.
    auto add = [&](const char* name, int width, int height, int bits, std::uint32_t range,
                   const std::function<void(BmpFile&)>& dress) {
        BmpFile file;
        file.width = width;
        file.height = height;
        file.bits = bits;
        dress(file);
        file.pixels = testing_support::packRows(width, height, bits, values(width * height, range),
                                                file.topDown);
        out.push_back({name, file});
    };
    add("24-bit", 75, 7, 24, 0x1000000, [](BmpFile&) {});
    add("24-bit top-down", 9, 5, 24, 0x1000000, [](BmpFile& f) { f.topDown = true; });
    add("32-bit", 40, 3, 32, 0x1000000, [](BmpFile&) {});
    add("16-bit 5-6-5", 11, 4, 16, 0x10000, [](BmpFile& f) {
        f.compression = 3;
        f.masks = {0xF800, 0x07E0, 0x001F};
    });
    add("16-bit 5-5-5", 13, 3, 16, 0x8000, [](BmpFile& f) { f.topDown = true; });
    add("8-bit short palette", 37, 3, 8, 20, [&](BmpFile& f) { f.palette = grey16; });
    add("4-bit OS/2", 7, 6, 4, 16, [&](BmpFile& f) {
        f.headerSize = 12;
        f.palette = grey16;
    });
    add("1-bit", 17, 2, 1, 2, [](BmpFile& f) { f.palette = {0x000000, 0xFFFFFF}; });
    // Run-length: a run, a delta past two pixels and a row, an absolute run, end of picture.
    BmpFile rle;
    rle.width = 8;
    rle.height = 3;
    rle.bits = 8;
    rle.compression = 1;
    rle.palette = grey16;
    rle.pixels = {3, 2, 0, 2, 2, 1, 0, 3, 5, 9, 15, 0, 0, 1};
    out.push_back({"RLE8 with a delta", rle});
    return out;
}

// Each variant written to in.bmp in a folder of its own.
class EveryInput : public testing::TestWithParam<Variant> {
  protected:
    void SetUp() override {
        const Bytes bytes = testing_support::buildBmp(GetParam().file);
        QFile file(input);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("in.bmp"));
};

// The converter streams the file; the window loads it, quantizes the surface, encodes it and
// saves the surface. Both must give the same text and the same picture, every time.
TEST_P(EveryInput, StreamedConversionEqualsTheWindowsPath) {
    imaging::NoProgress none;
    auto streamed = conversion::convertFile(local(input), {imaging::RowLayout::Packed}, none,
                                            conversion::readWholePicture);
    ASSERT_TRUE(std::holds_alternative<imaging::Planes>(streamed))
        << base::message(std::get<base::Error>(streamed));
    const imaging::Planes& planes = std::get<imaging::Planes>(streamed);
    const QString text = dir.filePath(QStringLiteral("streamed.txt"));
    const QString picture = dir.filePath(QStringLiteral("streamed.bmp"));
    ASSERT_FALSE(conversion::writeText(planes, {}, {local(text)}));
    ASSERT_FALSE(conversion::writePicture(planes, {local(picture)}));

    surface::PictureSurface surface;
    ASSERT_FALSE(testing_support::loadInto(surface, input));
    imaging::Planes encoded = imaging::reservedPlanes(surface.width(), surface.height());
    conversion::PlaneSink planeSink(encoded);
    conversion::PaintSink paint(surface);
    conversion::LevelSink* const sinks[] = {&planeSink, &paint};
    conversion::PixelRows rows(surface.width(), surface.height(),
                               [&](int y) { return surface.row(y).data(); });
    ASSERT_TRUE(
        std::holds_alternative<imaging::Flow>(conversion::runRows(rows, {}, sinks, {none}, "in")));
    const QString shownPicture = dir.filePath(QStringLiteral("window.bmp"));
    ASSERT_FALSE(surface.save(shownPicture));

    EXPECT_EQ(readAll(text).toStdString(), ctext::writeArrays(encoded));
    EXPECT_EQ(readAll(picture), readAll(shownPicture));
    auto again = conversion::convertFile(local(input), {imaging::RowLayout::Packed}, none,
                                         conversion::readWholePicture);
    EXPECT_EQ(std::get<imaging::Planes>(again).dark, planes.dark);
    EXPECT_EQ(std::get<imaging::Planes>(again).light, planes.light);
}

// The rules before the bands through each of their paths: edges and levels that restate the
// fixed ones change nothing, and the luma of a bitmap streamed (blue first) is the luma of the
// same bitmap read whole (red first).
TEST_P(EveryInput, ToneOptionsAgreeAcrossPaths) {
    imaging::NoProgress none;
    auto planesOf = [&](imaging::Dither method, const imaging::Tone& tone, bool whole) {
        const conversion::ConvertOptions how{imaging::RowLayout::Packed, method, tone};
        QFile file(input);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        auto converted =
            whole ? conversion::readWholePicture(file, "in", how, none)
                  : conversion::convertFile(local(input), how, none, conversion::readWholePicture);
        EXPECT_TRUE(std::holds_alternative<imaging::Planes>(converted));
        std::vector<std::uint8_t> both = std::get<imaging::Planes>(converted).dark;
        const auto& light = std::get<imaging::Planes>(converted).light;
        both.insert(both.end(), light.begin(), light.end());
        return both;
    };
    for (const auto method : {imaging::Dither::None, imaging::Dither::FloydSteinberg,
                              imaging::Dither::Atkinson, imaging::Dither::Bayer}) {
        SCOPED_TRACE(imaging::ditherName(method));
        const auto today = planesOf(method, {}, false);
        imaging::Tone edges;
        edges.thresholds = {43, 128, 213};
        EXPECT_EQ(planesOf(method, edges, false), today);
        imaging::Tone levels;
        levels.levels = imaging::kBandValues;
        EXPECT_EQ(planesOf(method, levels, false), today);
        imaging::Tone luma;
        luma.grey = imaging::GreyRule::Luma;
        EXPECT_EQ(planesOf(method, luma, false), planesOf(method, luma, true));
    }
}

INSTANTIATE_TEST_SUITE_P(Conversion, EveryInput, testing::ValuesIn(variants()),
                         [](const testing::TestParamInfo<Variant>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

// Other formats go through Qt's readers and give the same planes as the same picture as a
// bitmap.
TEST(Conversion, PngGivesTheSamePlanesAsTheBitmap) {
    QTemporaryDir dir;
    QImage image(19, 5, QImage::Format_RGB32);
    std::mt19937 random(5);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, random() & 0xFFFFFF);
        }
    }
    const QString png = dir.filePath(QStringLiteral("in.png"));
    const QString bmp = dir.filePath(QStringLiteral("in.bmp"));
    ASSERT_TRUE(image.save(png, "PNG"));
    ASSERT_TRUE(image.save(bmp, "BMP"));
    imaging::NoProgress none;
    auto fromPng = conversion::convertFile(local(png), {imaging::RowLayout::Padded}, none,
                                           conversion::readWholePicture);
    auto fromBmp = conversion::convertFile(local(bmp), {imaging::RowLayout::Padded}, none,
                                           conversion::readWholePicture);
    ASSERT_TRUE(std::holds_alternative<imaging::Planes>(fromPng));
    ASSERT_TRUE(std::holds_alternative<imaging::Planes>(fromBmp));
    EXPECT_EQ(std::get<imaging::Planes>(fromPng).dark, std::get<imaging::Planes>(fromBmp).dark);
    EXPECT_EQ(std::get<imaging::Planes>(fromPng).light, std::get<imaging::Planes>(fromBmp).light);
}

// A file standing where a folder should be is named as the cause.
TEST(Conversion, FileInPlaceOfAFolderIsNamed) {
    QTemporaryDir dir;
    const imaging::Planes planes = imaging::makePlanes(3, 2);
    const std::string file = local(dir.filePath(QStringLiteral("plain")));
    faults::writeFile(file, "old");

    const auto underFile = conversion::writeText(planes, {}, {file + "/x.txt"});
    ASSERT_TRUE(underFile);
    EXPECT_TRUE(underFile->reason.ends_with("plain is not a folder")) << underFile->reason;
    EXPECT_EQ(readAll(QString::fromStdString(file)), QByteArray("old"));
}

} // namespace

namespace {

// Passes on what a conversion tells of its rows, keeping the bytes of the rows said to be made
// each time, to be checked against the planes they end as.
struct RowsSeen final : conversion::RowsMade {
    explicit RowsSeen(conversion::RowsMade& inner) : inner(inner) {}
    void started(const imaging::Planes& made) override {
        planes = &made;
        inner.started(made);
    }
    void made(int rows) override {
        const std::size_t bytes = static_cast<std::size_t>(rows) * planes->rowBits() / 8;
        seen.emplace_back(planes->dark.begin(), planes->dark.begin() + bytes);
        seen.emplace_back(planes->light.begin(), planes->light.begin() + bytes);
        inner.made(rows);
    }
    void ended(bool whole) override { inner.ended(whole); }
    // Whether each row said to be made was as it ended.
    bool madeInTime(const imaging::Planes& ended) const {
        for (std::size_t k = 0; k < seen.size(); ++k) {
            const std::vector<std::uint8_t>& plane = k % 2 == 0 ? ended.dark : ended.light;
            if (!std::equal(seen[k].begin(), seen[k].end(), plane.begin())) {
                return false;
            }
        }
        return true;
    }
    conversion::RowsMade& inner;
    const imaging::Planes* planes = nullptr;
    std::vector<std::vector<std::uint8_t>> seen;
};

} // namespace

// One picture of sixteen greys as every kind of file: each method must give the planes that the
// dithering from the top-left pixel gives, however the file stores its rows, and the same every
// time. It is tall enough that the rows read ahead for error diffusion go round their ring.
TEST(Conversion, DitheringIsTheSameForEveryFileOfThePicture) {
    constexpr int kWidth = 12;
    constexpr int kHeight = 300;
    std::mt19937 random(13);
    std::vector<std::uint32_t> indexes(kWidth * kHeight);
    std::vector<std::uint32_t> palette;
    std::vector<std::uint32_t> colours;
    for (std::uint32_t i = 0; i < 16; ++i) {
        palette.push_back(i * 0x111111u);
    }
    for (auto& index : indexes) {
        index = random() % 16;
        colours.push_back(palette[index]);
    }
    std::vector<BmpFile> files(5);
    for (auto& file : files) {
        file.width = kWidth;
        file.height = kHeight;
    }
    files[0].pixels = testing_support::packRows(kWidth, kHeight, 24, colours);
    files[1].topDown = true;
    files[1].pixels = testing_support::packRows(kWidth, kHeight, 24, colours, true);
    for (int i = 2; i < 5; ++i) {
        files[i].bits = 8;
        files[i].palette = palette;
    }
    files[2].pixels = testing_support::packRows(kWidth, kHeight, 8, indexes);
    files[3].topDown = true;
    files[3].pixels = testing_support::packRows(kWidth, kHeight, 8, indexes, true);
    files[4].compression = 1; // RLE8: each row one absolute run, bottom row first
    for (int y = kHeight - 1; y >= 0; --y) {
        files[4].pixels.insert(files[4].pixels.end(), {0, kWidth});
        for (int x = 0; x < kWidth; ++x) {
            files[4].pixels.push_back(static_cast<std::uint8_t>(indexes[y * kWidth + x]));
        }
        files[4].pixels.insert(files[4].pixels.end(), {0, 0});
    }
    files[4].pixels.back() = 1; // the last end of line ends the picture

    QTemporaryDir dir;
    const std::string out = local(dir.filePath(QStringLiteral("out.txt")));
    std::vector<std::string> names;
    for (std::size_t i = 0; i < files.size(); ++i) {
        names.push_back(local(dir.filePath(QStringLiteral("in%1.bmp").arg(i))));
        const Bytes bytes = testing_support::buildBmp(files[i]);
        faults::writeFile(names.back(),
                          std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    imaging::NoProgress none;
    for (const auto method : {imaging::Dither::None, imaging::Dither::FloydSteinberg,
                              imaging::Dither::Atkinson, imaging::Dither::Bayer}) {
        imaging::Planes expected = imaging::makePlanes(kWidth, kHeight);
        imaging::Ditherer ditherer(method, kWidth);
        for (int y = 0; y < kHeight; ++y) {
            std::vector<imaging::Pixel> row(colours.begin() + y * kWidth,
                                            colours.begin() + (y + 1) * kWidth);
            ditherer.paintRow(y, row);
            imaging::encodeRow(expected, y, row);
        }
        const std::string text = ctext::writeArrays(expected);
        for (const std::string& name : names) {
            for (int run = 0; run < 2; ++run) {
                // The second run writes the text beside the conversion too.
                conversion::ConvertOptions how{imaging::RowLayout::Packed, method};
                std::optional<conversion::TextBeside> beside;
                std::optional<RowsSeen> seen;
                if (run == 1) {
                    how.rowsMade =
                        &seen.emplace(beside.emplace(ctext::TextStyle{}, conversion::Target{out}));
                }
                auto converted =
                    conversion::convertFile(name, how, none, conversion::readWholePicture);
                ASSERT_TRUE(std::holds_alternative<imaging::Planes>(converted))
                    << base::message(std::get<base::Error>(converted));
                EXPECT_EQ(ctext::writeArrays(std::get<imaging::Planes>(converted)), text)
                    << name << " method " << static_cast<int>(method);
                if (beside) {
                    EXPECT_TRUE(seen->madeInTime(std::get<imaging::Planes>(converted))) << name;
                    EXPECT_TRUE(beside->written());
                    EXPECT_FALSE(beside->failure());
                    EXPECT_EQ(faults::readFile(out), text) << name;
                }
            }
        }
    }
    // A picture cut short (RLE8, whose end is found only by reading) writes no text beside it,
    // and leaves the one there as it was.
    const std::string whole = faults::readFile(names[4]);
    faults::writeFile(names[4], whole.substr(0, whole.size() / 2));
    faults::writeFile(out, "before");
    const std::string fresh = local(dir.filePath(QStringLiteral("fresh.txt")));
    for (const std::string& into : {out, fresh}) {
        conversion::TextBeside beside(ctext::TextStyle{}, conversion::Target{into});
        conversion::ConvertOptions how{imaging::RowLayout::Packed, imaging::Dither::FloydSteinberg};
        how.rowsMade = &beside;
        EXPECT_TRUE(std::holds_alternative<base::Error>(
            conversion::convertFile(names[4], how, none, conversion::readWholePicture)));
        EXPECT_FALSE(beside.written());
    }
    EXPECT_TRUE(faults::readFile(out) == "before");
    EXPECT_EQ(faults::listFolder(local(dir.path())).size(), names.size() + 1);
}

namespace {

// Streamed formats against Qt's readers: PNG pictures of every colour type and depth Qt writes,
// baseline, progressive and grey JPEG pictures, and grey and colour PNM pictures, all of odd
// sizes, give the same pixels row for row; cut short, each is refused.
TEST(StreamedPictures, SamePixelsAsQtsReaderAndRefusedWhenCut) {
    std::mt19937 random(9);
    QImage colours(13, 7, QImage::Format_ARGB32);
    for (int y = 0; y < colours.height(); ++y) {
        for (int x = 0; x < colours.width(); ++x) {
            colours.setPixel(x, y, static_cast<QRgb>(random()));
        }
    }
    std::vector<QByteArray> files;
    auto write = [&](const QImage& picture, const char* format, bool progressive = false) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        writer.setProgressiveScanWrite(progressive);
        ASSERT_TRUE(writer.write(picture));
        files.push_back(buffer.data());
    };
    for (const auto format :
         {QImage::Format_Mono, QImage::Format_Grayscale8, QImage::Format_Grayscale16,
          QImage::Format_RGB888, QImage::Format_ARGB32, QImage::Format_RGBA64}) {
        write(colours.convertToFormat(format), "PNG");
    }
    for (const int count : {3, 10, 200}) { // 2-, 4- and 8-bit palettes
        QList<QRgb> palette;
        for (int i = 0; i < count; ++i) {
            palette.push_back(static_cast<QRgb>(random()) | 0xFF000000u);
        }
        write(colours.convertToFormat(QImage::Format_Indexed8, palette), "PNG");
    }
    const QImage opaque = colours.convertToFormat(QImage::Format_RGB32).scaled(61, 37);
    write(opaque, "JPEG");
    write(opaque, "JPEG", true);
    write(opaque.convertToFormat(QImage::Format_Grayscale8), "JPEG");

    write(opaque, "PPM");
    write(opaque.convertToFormat(QImage::Format_Grayscale8), "PGM");
    // Comments and odd white space between the header's numbers.
    const QImage small = opaque.copy(0, 0, 5, 3).convertToFormat(QImage::Format_RGB888);
    QByteArray commented("P6\t# made by hand\n5\r\n3 #rows\n255\n");
    for (int y = 0; y < small.height(); ++y) {
        commented.append(reinterpret_cast<const char*>(small.constScanLine(y)), 15);
    }
    files.push_back(commented);

    // The rows of a streamed source as red, green and blue first, or the first error, for a
    // file's bytes.
    auto stream = [](const QByteArray& bytes, const std::string& name,
                     const std::function<void(int, const std::uint8_t*)>& row) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        auto opened = conversion::openStreamedRows(buffer, name);
        if (auto* failure = std::get_if<base::Error>(&opened)) {
            return std::optional(*failure);
        }
        const auto& source = std::get<std::unique_ptr<conversion::RowSource>>(opened);
        if (!source) {
            ADD_FAILURE() << "not streamed";
            return std::optional<base::Error>();
        }
        std::vector<imaging::Pixel> looked(static_cast<std::size_t>(source->width()));
        std::optional<base::Error> failure;
        for (int y = 0; !failure && y < source->height(); ++y) {
            conversion::SourceRow next;
            failure = source->next(next);
            if (!failure) {
                EXPECT_EQ(next.y, y);
                const std::uint8_t* pixels = next.bytes;
                if (source->form() == conversion::RowForm::Indices) {
                    for (std::size_t x = 0; x < looked.size(); ++x) {
                        looked[x] = source->palette()[next.bytes[x]];
                    }
                    pixels = reinterpret_cast<const std::uint8_t*>(looked.data());
                }
                row(y, pixels);
            }
        }
        return failure;
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        QBuffer qt;
        qt.setData(files[i]);
        qt.open(QIODevice::ReadOnly);
        auto read = pictures::readPicture(qt, "qt", {});
        ASSERT_TRUE(std::holds_alternative<QImage>(read));
        const QImage& expected = std::get<QImage>(read);
        int rows = 0;
        EXPECT_FALSE(stream(files[i], "in", [&](int y, const std::uint8_t* bytes) {
            ++rows;
            for (int x = 0; x < expected.width(); ++x) {
                const std::uint8_t* theirs = expected.constScanLine(y) + 4 * x;
                ASSERT_TRUE(std::equal(bytes + 4 * x, bytes + 4 * x + 3, theirs)) << x << ", " << y;
            }
        }));
        EXPECT_EQ(rows, expected.height());

        const auto failure =
            stream(files[i].left(files[i].size() * 2 / 3), "cut", [](int, const std::uint8_t*) {});
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->file, "cut");
        EXPECT_NE(failure->reason.find("truncated"), std::string::npos) << failure->reason;
    }
}

// GIF pictures against Qt's reader, on files giflib writes: palettes of 2, 16 and 256 colours,
// odd sizes, interlaced frames, transparent indices, first frames that do not cover the screen,
// local palettes, and animations whose frames are undone in each way. The first frame streamed
// gives the colours Qt's reader gave the conversion; every frame selected gives Qt's frame of
// that number, alpha included where Qt's has it. Cut short, each is refused.
TEST(StreamedPictures, GifFramesAsQtsReaderAndRefusedWhenCut) {
    using testing_support::GifFrame;
    using testing_support::GifPicture;
    std::mt19937 random(28);
    auto palette = [&](int colours) {
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(colours) * 3);
        for (auto& byte : rgb) {
            byte = static_cast<std::uint8_t>(random());
        }
        return rgb;
    };
    auto frame = [&](int left, int top, int width, int height, int colours) {
        GifFrame made;
        made.left = left;
        made.top = top;
        made.width = width;
        made.height = height;
        made.indices.resize(static_cast<std::size_t>(width * height));
        for (auto& index : made.indices) {
            index = static_cast<std::uint8_t>(random() % colours);
        }
        return made;
    };
    auto control = [](GifFrame made, int disposal, int transparent) {
        made.control = true;
        made.disposal = disposal;
        made.transparent = transparent;
        return made;
    };
    auto interlaced = [](GifFrame made) {
        made.interlaced = true;
        return made;
    };
    auto local = [](GifFrame made, std::vector<std::uint8_t> colours) {
        made.palette = std::move(colours);
        return made;
    };
    const std::vector<GifPicture> pictures = {
        {7, 5, palette(2), 0, {frame(0, 0, 7, 5, 2)}},
        {13, 9, palette(16), 0, {interlaced(frame(0, 0, 13, 9, 16))}},
        {31, 17, palette(256), 0, {frame(0, 0, 31, 17, 256)}},
        {11, 6, palette(16), 0, {control(frame(0, 0, 11, 6, 16), 0, 3)}},
        // First frames on part of the screen: the rest is the background, or the clear index.
        {12, 9, palette(4), 2, {frame(3, 2, 5, 4, 4)}},
        {12, 9, palette(4), 2, {control(interlaced(frame(2, 3, 7, 5, 4)), 0, 1)}},
        {9, 7, palette(8), 1, {frame(5, 4, 8, 6, 8)}},
        {6, 4, {}, 0, {local(frame(0, 0, 6, 4, 8), palette(8))}},
        {0, 0, palette(4), 0, {frame(2, 1, 5, 3, 4)}},
        // Animations: left, cleared, put back; a clear index that stays for a frame without
        // its own control block; local palettes.
        {15,
         11,
         palette(16),
         4,
         {control(frame(0, 0, 15, 11, 16), 1, -1), control(frame(2, 3, 6, 5, 16), 2, 2),
          control(local(frame(5, 1, 7, 6, 4), palette(4)), 3, 0), interlaced(frame(1, 1, 9, 8, 16)),
          control(frame(0, 0, 4, 4, 16), 0, -1)}},
        {10,
         8,
         palette(8),
         5,
         {control(frame(1, 1, 6, 5, 8), 2, -1), control(frame(3, 2, 5, 5, 8), 3, -1),
          control(local(frame(0, 0, 4, 3, 4), palette(4)), 2, -1), frame(4, 4, 6, 4, 8)}},
    };

    // Qt's frames, four bytes a pixel: red, green, blue and alpha (0xFF where Qt has none).
    auto qtFrames = [](const QByteArray& bytes) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "gif");
        std::vector<QImage> frames;
        for (QImage image = reader.read(); !image.isNull(); image = reader.read()) {
            frames.push_back(image.hasAlphaChannel()
                                 ? image.convertToFormat(QImage::Format_RGBA8888)
                                 : image.convertToFormat(QImage::Format_RGBX8888));
        }
        return frames;
    };
    auto sameRows = [](conversion::RowSource& rows, const QImage& expected, bool alpha) {
        ASSERT_EQ(rows.width(), expected.width());
        ASSERT_EQ(rows.height(), expected.height());
        for (int y = 0; y < rows.height(); ++y) {
            conversion::SourceRow row;
            ASSERT_FALSE(rows.next(row).has_value()) << y;
            ASSERT_EQ(row.y, y);
            for (int x = 0; x < rows.width(); ++x) {
                // A frame on the whole screen comes as indices of the palette.
                const imaging::Pixel ours =
                    rows.form() == conversion::RowForm::Indices
                        ? rows.palette()[row.bytes[x]]
                        : reinterpret_cast<const imaging::Pixel*>(row.bytes)[x];
                const imaging::Pixel theirs =
                    reinterpret_cast<const imaging::Pixel*>(expected.constScanLine(y))[x];
                ASSERT_EQ(ours | (alpha ? 0 : 0xFF000000u), theirs) << x << ", " << y;
            }
        }
    };
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        SCOPED_TRACE(i);
        const Bytes file = testing_support::writeGif(pictures[i]);
        ASSERT_FALSE(file.empty());
        const QByteArray bytes(reinterpret_cast<const char*>(file.data()),
                               static_cast<qsizetype>(file.size()));
        QBuffer qt;
        qt.setData(bytes);
        qt.open(QIODevice::ReadOnly);
        auto read = pictures::readPicture(qt, "qt", {});
        ASSERT_TRUE(std::holds_alternative<QImage>(read)) << std::get<base::Error>(read).reason;
        const std::vector<QImage> expected = qtFrames(bytes);
        ASSERT_EQ(expected.size(), pictures[i].frames.size());

        bitmap::MemorySource source(file);
        conversion::GifRows gif(source, "in");
        ASSERT_FALSE(gif.open().has_value());
        sameRows(gif, std::get<QImage>(read), false);
        const auto count = gif.frames();
        ASSERT_TRUE(std::holds_alternative<int>(count));
        ASSERT_EQ(std::get<int>(count), static_cast<int>(expected.size()));
        // In order, then the last and the first again.
        std::vector<int> order(expected.size());
        std::iota(order.begin(), order.end(), 0);
        order.push_back(static_cast<int>(expected.size()) - 1);
        order.push_back(0);
        for (const int k : order) {
            SCOPED_TRACE(k);
            ASSERT_FALSE(gif.selectFrame(k).has_value());
            sameRows(gif, expected[static_cast<std::size_t>(k)],
                     expected[static_cast<std::size_t>(k)].hasAlphaChannel());
        }

        const Bytes cut(file.begin(),
                        file.begin() + static_cast<std::ptrdiff_t>(file.size() * 2 / 3));
        bitmap::MemorySource shorter(cut);
        conversion::GifRows refused(shorter, "cut");
        auto failure = refused.open();
        for (int y = 0; !failure && y < refused.height(); ++y) {
            conversion::SourceRow row;
            failure = refused.next(row);
        }
        if (!failure) {
            auto counted = refused.frames();
            ASSERT_TRUE(std::holds_alternative<base::Error>(counted));
            failure = std::get<base::Error>(counted);
        }
        EXPECT_EQ(failure->file, "cut");
        EXPECT_NE(failure->reason.find("truncated"), std::string::npos) << failure->reason;
    }
}

} // namespace
