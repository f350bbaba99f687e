// Transparency and frames on the way in: alpha read from every kind of file that has it, shown
// over white without a mask, and frames of a sheet dithered each as a picture of its own.

#include "conversion/pipeline.h"
#include "conversion/stages.h"
#include "conversion/stream.h"
#include "conversion/whole_picture.h"
#include "imaging/frames.h"
#include "support/bmp_builder.h"
#include "support/picture_load.h"
#include "surface/picture_surface.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

// A grey and its alpha.
struct Shade {
    std::uint8_t grey;
    std::uint8_t alpha;
};

// 5 x 2 pixels: clear, opaque and both sides of half, over colours of every band.
constexpr int kWidth = 5;
constexpr int kHeight = 2;
constexpr Shade kShades[] = {{0, 0},   {170, 255}, {0, 127},  {200, 128}, {0, 255},
                             {0, 255}, {0, 0},     {90, 255}, {0, 0},     {255, 255}};

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (const int v : values) {
        out += static_cast<char>(v);
    }
    return out;
}

std::uint32_t crc32(const QByteArray& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

QByteArray bigEndian(std::uint32_t v) {
    return bytes({static_cast<int>(v >> 24 & 0xFF), static_cast<int>(v >> 16 & 0xFF),
                  static_cast<int>(v >> 8 & 0xFF), static_cast<int>(v & 0xFF)});
}

QByteArray chunk(const char* type, const QByteArray& data) {
    const QByteArray body = QByteArray(type) + data;
    return bigEndian(static_cast<std::uint32_t>(data.size())) + body + bigEndian(crc32(body));
}

// A PNG of the shades: colour type 4 (grey, alpha), 6 (RGBA) or 3 (a palette with a tRNS chunk
// of each entry's alpha).
QByteArray png(int colourType) {
    QByteArray header = bigEndian(kWidth) + bigEndian(kHeight);
    header += bytes({8, colourType, 0, 0, 0});
    QByteArray rows;
    QByteArray palette;
    QByteArray alphas;
    for (int y = 0; y < kHeight; ++y) {
        rows += '\0';
        for (int x = 0; x < kWidth; ++x) {
            const Shade s = kShades[y * kWidth + x];
            const int g = s.grey;
            const int a = s.alpha;
            if (colourType == 4) {
                rows += bytes({g, a});
            } else if (colourType == 6) {
                rows += bytes({g, g, g, a});
            } else {
                rows += bytes({y * kWidth + x});
                palette += bytes({g, g, g});
                alphas += a;
            }
        }
    }
    QByteArray file("\x89PNG\r\n\x1A\n", 8);
    file += chunk("IHDR", header);
    if (colourType == 3) {
        file += chunk("PLTE", palette) + chunk("tRNS", alphas);
    }
    return file + chunk("IDAT", qCompress(rows).mid(4)) + chunk("IEND", {});
}

// A GIF of the shades whose alpha is below half in its transparent index, coded with a clear
// code after every two pixels so that the codes stay three bits wide plus one.
QByteArray gif() {
    const std::uint8_t greys[] = {0, 170, 200, 90, 255, 0, 0, 0};
    constexpr int kClear = 8;
    constexpr int kTransparent = 5;
    std::vector<int> codes;
    for (int i = 0; i < kWidth * kHeight; ++i) {
        if (i % 2 == 0) {
            codes.push_back(kClear);
        }
        const Shade s = kShades[i];
        int index = kTransparent;
        for (int k = 0; k < 5 && s.alpha >= 128; ++k) {
            index = greys[k] == s.grey ? k : index;
        }
        codes.push_back(index);
    }
    codes.push_back(kClear + 1);
    QByteArray data;
    unsigned bits = 0;
    int count = 0;
    for (const int code : codes) {
        bits |= static_cast<unsigned>(code) << count;
        for (count += 4; count >= 8; count -= 8, bits >>= 8) {
            data += static_cast<char>(bits & 0xFF);
        }
    }
    if (count > 0) {
        data += static_cast<char>(bits & 0xFF);
    }
    QByteArray file("GIF89a");
    file += bytes({kWidth, 0, kHeight, 0, 0x82, 0, 0});
    for (const std::uint8_t g : greys) {
        file += QByteArray(3, static_cast<char>(g));
    }
    file += bytes({0x21, 0xF9, 4, 1, 0, 0, kTransparent, 0});
    file += bytes({0x2C, 0, 0, 0, 0, kWidth, 0, kHeight, 0, 0, 3});
    file += static_cast<char>(data.size()) + data + QByteArray(1, '\0') + ';';
    return file;
}

// A 32-bit bitmap of the shades with an alpha mask: in a V4 header, a V5 one, or as alpha bit
// fields after a plain header.
QByteArray bitmap(int headerSize, testing_support::BmpCompression compression) {
    std::vector<std::uint32_t> words;
    for (const Shade s : kShades) {
        words.push_back(std::uint32_t{s.alpha} << 24 | std::uint32_t{s.grey} * 0x010101u);
    }
    testing_support::BmpFile file;
    file.width = kWidth;
    file.height = kHeight;
    file.headerSize = headerSize;
    file.bits = 32;
    file.compression = static_cast<std::uint32_t>(compression);
    file.masks = {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u};
    file.pixels = testing_support::packRows(kWidth, kHeight, 32, words);
    const auto built = testing_support::buildBmp(file);
    return {reinterpret_cast<const char*>(built.data()), static_cast<qsizetype>(built.size())};
}

// Each pixel's band (0 black to 3 white) as a digit, and each pixel's mask bit.
std::string bands(const imaging::Planes& planes) {
    std::string out;
    for (int y = 0; y < planes.height; ++y) {
        for (int x = 0; x < planes.width; ++x) {
            const std::size_t bit = static_cast<std::size_t>(y) * planes.rowBits() + x;
            const unsigned shift = 7 - bit % 8;
            const int dark = (planes.dark[bit / 8] >> shift) & 1;
            const int light = (planes.light[bit / 8] >> shift) & 1;
            out += dark && light ? '0' : dark ? '1' : light ? '2' : '3';
        }
    }
    return out;
}

std::string maskBits(const imaging::Planes& planes) {
    std::string out;
    for (int i = 0; i < planes.width * planes.height; ++i) {
        out += planes.mask[static_cast<std::size_t>(i) / 8] >> (7 - i % 8) & 1 ? '1' : '0';
    }
    return out;
}

// With a mask, a pixel is transparent where its alpha is below half, in every kind of file that
// has alpha; transparent pixels are white. Without one, the alpha of pictures is shown over
// white (alpha 127 over black is 128, light grey; 128 over 200 is 227, white), a GIF's
// transparent index is white, and a bitmap's alpha is ignored. The window keeps the alpha of a
// PNG or GIF and makes the same mask; a bitmap's it ignores, as the converter without a mask.
TEST(Transparency, AlphaOfEveryKindOfFileMakesTheMask) {
    using testing_support::BmpCompression;
    struct Kind {
        const char* name;
        QByteArray bytes;
        const char* unmasked; // the bands without a mask
    };
    const Kind kinds[] = {
        {"png-grey-alpha", png(4), "3223003133"},
        {"png-rgba", png(6), "3223003133"},
        {"png-palette-trns", png(3), "3223003133"},
        {"gif-transparent-index", gif(), "3232003133"},
        {"bmp-v4-bitfields", bitmap(108, BmpCompression::BitFields), "0202000103"},
        {"bmp-v5", bitmap(124, BmpCompression::Rgb), "0202000103"},
        {"bmp-alpha-bitfields", bitmap(40, BmpCompression::AlphaBitFields), "0202000103"},
    };
    QTemporaryDir dir;
    imaging::NoProgress none;
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const QString name = dir.filePath(QString::fromLatin1(kind.name));
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kind.bytes);
        file.close();
        const std::string path = QFile::encodeName(name).toStdString();
        conversion::ConvertOptions options;
        auto plain = conversion::convertFile(path, options, none, conversion::readWholePicture);
        ASSERT_TRUE(std::holds_alternative<imaging::Planes>(plain))
            << std::get<base::Error>(plain).reason;
        EXPECT_EQ(bands(std::get<imaging::Planes>(plain)), kind.unmasked);
        EXPECT_TRUE(std::get<imaging::Planes>(plain).mask.empty());

        options.mask = true;
        auto masked = conversion::convertFile(path, options, none, conversion::readWholePicture);
        ASSERT_TRUE(std::holds_alternative<imaging::Planes>(masked));
        const auto& planes = std::get<imaging::Planes>(masked);
        EXPECT_EQ(maskBits(planes), "0101110101");
        const std::string shown = bands(planes);
        for (const std::size_t x : {0, 2, 6, 8}) {
            EXPECT_EQ(shown[x], '3') << "transparent pixel " << x;
        }

        // The window keeps the alpha and reads its canvas through the same stage: the planes
        // are the converter's with a mask.
        surface::PictureSurface surface;
        ASSERT_FALSE(testing_support::loadInto(surface, name));
        const bool isBitmap = kind.bytes.startsWith("BM");
        ASSERT_EQ(surface.hasAlpha(), !isBitmap);
        if (isBitmap) {
            continue;
        }
        imaging::Planes shownPlanes = imaging::makePlanes(surface.width(), surface.height());
        conversion::PlaneSink sink(shownPlanes, true);
        conversion::LevelSink* const sinks[] = {&sink};
        conversion::PixelRows canvas(
            surface.width(), surface.height(), [&](int y) { return surface.row(y).data(); }, true);
        conversion::TransparencyRows clear(canvas, true, std::nullopt);
        ASSERT_TRUE(std::holds_alternative<imaging::Flow>(
            conversion::runRows(clear, {}, sinks, {none}, "window")));
        EXPECT_EQ(bands(shownPlanes), shown) << "in the window";
        EXPECT_EQ(maskBits(shownPlanes), "0101110101") << "in the window";
    }
}

// Pixels with alpha as they show over white, each channel (c a + 255 (255 - a) + 127) / 255.
TEST(Transparency, ShownOverWhiteAsWorkedByHand) {
    const std::uint8_t pixels[] = {0, 0, 0, 0, 100, 200, 10, 128, 255, 0, 30, 64, 40, 80, 120, 255};
    const std::uint8_t expected[] = {255, 255, 255, 255, 177, 227, 132, 255,
                                     255, 191, 199, 255, 40,  80,  120, 255};
    conversion::PixelRows rows(
        4, 1, [&](int) { return reinterpret_cast<const imaging::Pixel*>(pixels); }, true);
    conversion::TransparencyRows shown(rows, false, std::nullopt);
    conversion::SourceRow row;
    ASSERT_FALSE(shown.next(row));
    EXPECT_EQ(std::vector<std::uint8_t>(row.bytes, row.bytes + 16),
              std::vector<std::uint8_t>(std::begin(expected), std::end(expected)));
    EXPECT_EQ(row.opaque, nullptr);
}

// A sheet's frames, dithered by every method, with and without transparent pixels of a key
// colour, are each the frame converted as a picture of its own: no error crosses a frame's
// edge, and the ordered matrix starts at each frame's corner. Frames of 13 x 9 put the corners
// off the matrix's period; frames of 16 x 8 on it.
TEST(Frames, EachFrameIsDitheredAsAPictureOfItsOwn) {
    constexpr imaging::Colour kKey = 0xFF00FF;
    std::mt19937 random(17);
    for (const auto& [frameWidth, frameHeight] : {std::pair{13, 9}, std::pair{16, 8}}) {
        const int width = 3 * frameWidth;
        const int height = 2 * frameHeight;
        std::vector<imaging::Pixel> sheet(static_cast<std::size_t>(width * height));
        for (auto& p : sheet) {
            p = random() % 9 == 0 ? kKey : random() & 0xFFFFFF;
        }
        auto convert = [](int w, int h, const imaging::Pixel* pixels,
                          const conversion::ConvertOptions& options) {
            conversion::PixelRows rows(w, h, [&](int y) { return pixels + y * w; });
            imaging::NoProgress none;
            auto planes = conversion::convertRows(rows, "sheet", options, none);
            EXPECT_TRUE(std::holds_alternative<imaging::Planes>(planes));
            return std::get<imaging::Planes>(planes);
        };
        for (const auto method : {imaging::Dither::None, imaging::Dither::FloydSteinberg,
                                  imaging::Dither::Atkinson, imaging::Dither::Bayer}) {
            for (const bool mask : {false, true}) {
                SCOPED_TRACE(std::to_string(frameWidth) + " method " +
                             std::to_string(static_cast<int>(method)) + " mask " +
                             std::to_string(mask));
                conversion::ConvertOptions options;
                options.dither = method;
                options.mask = mask;
                options.transparent = kKey;
                const conversion::ConvertOptions alone = options;
                options.frames = {frameWidth, frameHeight, imaging::FrameOrder::Rows};
                const imaging::Planes whole = convert(width, height, sheet.data(), options);
                for (int f = 0; f < 6; ++f) {
                    const imaging::FrameOrigin at =
                        imaging::frameOrigin(options.frames, width, height, f);
                    std::vector<imaging::Pixel> cut;
                    for (int y = 0; y < frameHeight; ++y) {
                        const auto row = sheet.begin() + (at.y + y) * width + at.x;
                        cut.insert(cut.end(), row, row + frameWidth);
                    }
                    const imaging::Planes frame =
                        convert(frameWidth, frameHeight, cut.data(), alone);
                    const imaging::Planes fromSheet =
                        imaging::cutFrame(whole, options.frames, f, imaging::RowLayout::Packed);
                    EXPECT_EQ(fromSheet.dark, frame.dark) << "frame " << f;
                    EXPECT_EQ(fromSheet.light, frame.light) << "frame " << f;
                    EXPECT_EQ(fromSheet.mask, frame.mask) << "frame " << f;
                }
            }
        }
    }
}

// A sheet that is not a whole number of frames is refused, naming both sizes.
TEST(Frames, SheetNotAWholeNumberOfFramesIsRefused) {
    const std::vector<imaging::Pixel> pixels(10 * 4, 0);
    conversion::PixelRows rows(10, 4, [&](int y) { return pixels.data() + y * 10; });
    conversion::ConvertOptions options;
    options.frames = {4, 4, imaging::FrameOrder::Rows};
    imaging::NoProgress none;
    const auto refused = conversion::convertRows(rows, "sheet.bmp", options, none);
    ASSERT_TRUE(std::holds_alternative<base::Error>(refused));
    const auto& error = std::get<base::Error>(refused);
    EXPECT_EQ(error.kind, base::ErrorKind::Input);
    EXPECT_EQ(
        error.reason,
        "the picture is 10 × 4 pixels, not a whole number of frames of 4 × 4 across and down");
}

} // namespace
