#include "surface/picture_surface.h"

#include "imaging/level_bits.h"
#include "pictures/large_image.h"
#include "surface/bmp_writer.h"

#include <QFile>
#include <cstring>

namespace surface {
namespace {

// The indices of a painted row: a level (0-3) with kClear added for a clear pixel.
constexpr std::uint8_t kClear = 4;
constexpr int kIndices = 8;

// Each index as the rows of pixels hold it.
constexpr std::array<imaging::Pixel, kIndices> kIndexPixels = [] {
    std::array<imaging::Pixel, kIndices> pixels{};
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = imaging::kLevelPalette[i % 4] | (i < kClear ? 0xFF000000u : 0u);
    }
    return pixels;
}();

// The index of a pixel: its level, clear where the surface has alpha and the pixel is not
// opaque; -1 for a colour that is no level.
int indexOf(imaging::Pixel pixel, bool alpha) {
    for (int level = 0; level < 4; ++level) {
        if ((pixel & imaging::kColourMask) == imaging::kLevelPalette[level]) {
            return level + (alpha && pixel >> 24 != 0xFF ? kClear : 0);
        }
    }
    return -1;
}

} // namespace

PictureSurface::PictureSurface(int width, int height) {
    QImage white(width, height, QImage::Format_RGBX8888);
    white.fill(Qt::white);
    setPicture(white);
}

void PictureSurface::setPicture(const QImage& picture) {
    m_alpha = picture.hasAlphaChannel();
    m_pixels = picture.convertToFormat(m_alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    m_levels = QImage();
    m_levelRows = 0;
    m_width = m_pixels.width();
    m_height = m_pixels.height();
}

void PictureSurface::setPicture(const PictureSurface& other) {
    m_width = other.m_width;
    m_height = other.m_height;
    m_alpha = other.m_alpha;
    m_pixels = other.m_pixels;
    m_levels = other.m_levels;
    m_levelRows = other.m_levelRows;
}

bool PictureSurface::setLevels(int width, int height) {
    QImage levels(width, height, QImage::Format_Indexed8);
    if (levels.isNull()) {
        return false;
    }
    levels.setColorTable(levelColours(imaging::kLevelPalette));
    levels.fill(3); // white
    m_pixels = QImage();
    m_levels = std::move(levels);
    m_alpha = false;
    m_width = width;
    m_height = height;
    m_levelRows = height;
    return true;
}

QList<QRgb> PictureSurface::levelColours(const std::array<std::uint32_t, 4>& colours) {
    QList<QRgb> table;
    for (int i = 0; i < kIndices; ++i) {
        const std::uint32_t colour = colours[static_cast<std::size_t>(i % 4)];
        table.push_back(qRgba(static_cast<int>(colour & 0xFF), static_cast<int>(colour >> 8 & 0xFF),
                              static_cast<int>(colour >> 16 & 0xFF), i < kClear ? 255 : 0));
    }
    return table;
}

QImage PictureSurface::levels(const QList<QRgb>& colours) const {
    if (m_levels.isNull()) {
        return {};
    }
    // A header of its own over the same memory, so that its colours are not the surface's.
    QImage shown(const_cast<uchar*>(m_levels.constBits()), m_width, m_height,
                 m_levels.bytesPerLine(), QImage::Format_Indexed8);
    shown.setColorTable(colours);
    return shown;
}

QImage PictureSurface::image() const {
    if (m_levelRows == 0) {
        return m_pixels;
    }
    QImage whole(m_width, m_height, m_alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    for (int y = 0; y < m_height && !whole.isNull(); ++y) {
        std::memcpy(whole.scanLine(y), row(y).data(),
                    static_cast<std::size_t>(m_width) * sizeof(imaging::Pixel));
    }
    return whole;
}

const std::uint8_t* PictureSurface::levelRow(int y) const {
    return levelLine(y);
}

std::span<const imaging::Pixel> PictureSurface::levelPixels() {
    return kIndexPixels;
}

const std::uint8_t* PictureSurface::levelLine(int y) const {
    return m_levels.constBits() + qsizetype{y} * m_levels.bytesPerLine();
}

std::uint8_t* PictureSurface::levelLine(int y) {
    // Never shared with a copy of the surface when written: a copy keeps what it was given.
    return m_levels.bits() + qsizetype{y} * m_levels.bytesPerLine();
}

imaging::Colour PictureSurface::read(int x, int y) const {
    if (x < 0 || y < 0 || x >= width() || y >= height()) {
        return imaging::kNoColour;
    }
    return static_cast<imaging::Colour>(*pixel(x, y) & imaging::kColourMask);
}

void PictureSurface::paint(int x, int y, imaging::Colour colour) {
    // The top byte is the opaque X of RGBX, or opaque alpha: a drawn pixel is never clear. The
    // colour's own top byte is not a channel.
    restore(x, y, 0xFF000000u | (static_cast<imaging::Pixel>(colour) & imaging::kColourMask));
}

std::optional<imaging::Pixel> PictureSurface::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width() || y >= height()) {
        return std::nullopt;
    }
    if (y < m_levelRows) {
        return kIndexPixels[levelLine(y)[x] % kIndices];
    }
    return row(y)[static_cast<std::size_t>(x)];
}

void PictureSurface::restore(int x, int y, imaging::Pixel pixel) {
    if (x < 0 || y < 0 || x >= width() || y >= height()) {
        return;
    }
    if (y >= m_levelRows) {
        mutableRow(y)[static_cast<std::size_t>(x)] = pixel;
    } else if (const int index = indexOf(pixel, m_alpha); index >= 0) {
        levelLine(y)[x] = static_cast<std::uint8_t>(index);
    }
}

std::optional<base::Error> PictureSurface::save(const QString& fileName) const {
    // The levels' bits by the band rule, which gives each level colour its own bits.
    static const imaging::LevelTable kIndexBits = imaging::levelTable(kIndexPixels);
    const auto width = static_cast<std::size_t>(m_width);
    // A desktop save should survive a crash right after it.
    return saveLevelBitmap(
        m_width, m_height,
        [&](int y, imaging::Planes& bits) {
            if (y < m_levelRows) {
                imaging::levelKernel().indexed(levelLine(y), width, kIndexBits, bits.dark.data(),
                                               bits.light.data());
            } else {
                // The encoder's own rules: a colour that is no level is white, as Convert reads it.
                imaging::encodeRow(bits, 0, row(y));
            }
        },
        QFile::encodeName(fileName).toStdString(), platform::Durability::Synced);
}

std::span<const imaging::Pixel> PictureSurface::row(int y) const {
    const auto width = static_cast<std::size_t>(m_width);
    if (y < m_levelRows) {
        m_row.resize(width);
        const std::uint8_t* indices = levelLine(y);
        for (std::size_t x = 0; x < width; ++x) {
            m_row[x] = kIndexPixels[indices[x] % kIndices];
        }
        return m_row;
    }
    const auto* line = reinterpret_cast<const imaging::Pixel*>(m_pixels.constScanLine(y));
    return {line, width};
}

std::span<imaging::Pixel> PictureSurface::mutableRow(int y) {
    auto* line = reinterpret_cast<imaging::Pixel*>(m_pixels.scanLine(y));
    return {line, static_cast<std::size_t>(m_width)};
}

void PictureSurface::rowPainted(int y) {
    if (m_rowPainted) {
        m_rowPainted(y);
    }
}

void PictureSurface::paintLevelRow(int y, const std::uint8_t* dark, const std::uint8_t* light) {
    if (y > m_levelRows) {
        // Out of order: painted as pixels, as before the levels reach it.
        imaging::paintLevels(dark, light, mutableRow(y));
        return;
    }
    const auto width = static_cast<std::size_t>(m_width);
    m_indices.resize(width);
    imaging::levelIndices(dark, light, m_indices);
    if (m_alpha) {
        // The pixel's clearness is kept, as its alpha is when pixels are painted.
        for (std::size_t x = 0; x < width; ++x) {
            const imaging::Pixel was =
                y < m_levelRows ? kIndexPixels[levelLine(y)[x] % kIndices] : row(y)[x];
            if (was >> 24 < imaging::kOpaqueFrom) {
                m_indices[x] = static_cast<std::uint8_t>(m_indices[x] + kClear);
            }
        }
    }
    if (y == m_levelRows && m_levels.isNull()) {
        // The first painted row: the levels take the front of the pixels' memory. Row y of
        // them lies within pixel rows up to y, which the scan has read before it paints row y.
        uchar* memory = m_pixels.bits(); // now the only holder, whatever shared it before
        m_levels = QImage(memory, m_width, m_height, m_width, QImage::Format_Indexed8);
        m_levels.setColorTable(levelColours(imaging::kLevelPalette));
    }
    // Row y of the pixels is read whole above before any of it is overwritten here.
    std::memcpy(levelLine(y), m_indices.data(), width);
    if (y == m_levelRows && ++m_levelRows == m_height) {
        levelsDone();
    }
}

void PictureSurface::maskRow(int y, const std::uint8_t* opaque) {
    if (y >= m_levelRows) {
        imaging::Canvas::maskRow(y, opaque);
        return;
    }
    std::uint8_t* indices = levelLine(y);
    for (int x = 0; x < m_width; ++x) {
        const bool drawn = (opaque[x / 8] >> (7 - x % 8) & 1u) != 0;
        indices[x] = static_cast<std::uint8_t>(indices[x] % 4 + (drawn ? 0 : kClear));
    }
}

void PictureSurface::levelsDone() {
    const QImage pixels = std::exchange(m_pixels, QImage());
    if (pixels.isNull() || m_levels.constBits() != pixels.constBits()) {
        return; // the levels have memory of their own
    }
    const auto bytes = static_cast<std::size_t>(m_levels.sizeInBytes());
    if (pixels.isDetached()) {
        pictures::discardPixelsAfter(pixels, bytes);
    }
    // The levels keep the pixels' memory, now theirs alone.
    auto* keeper = new QImage(pixels);
    QImage levels(
        const_cast<uchar*>(keeper->constBits()), m_width, m_height, m_width,
        QImage::Format_Indexed8, [](void* held) { delete static_cast<QImage*>(held); }, keeper);
    levels.setColorTable(m_levels.colorTable());
    m_levels = std::move(levels);
}

} // namespace surface
