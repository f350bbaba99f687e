#include "surface/picture_surface.h"

#include "surface/bmp_writer.h"

#include <QFile>

namespace surface {

PictureSurface::PictureSurface(int width, int height)
    : m_image(width, height, QImage::Format_RGBX8888) {
    m_image.fill(Qt::white);
}

void PictureSurface::setPicture(const QImage& picture) {
    m_image = picture.convertToFormat(picture.hasAlphaChannel() ? QImage::Format_RGBA8888
                                                                : QImage::Format_RGBX8888);
}

imaging::Colour PictureSurface::read(int x, int y) const {
    if (x < 0 || y < 0 || x >= width() || y >= height()) {
        return imaging::kNoColour;
    }
    return static_cast<imaging::Colour>(row(y)[static_cast<std::size_t>(x)] & imaging::kColourMask);
}

void PictureSurface::paint(int x, int y, imaging::Colour colour) {
    if (x < 0 || y < 0 || x >= width() || y >= height()) {
        return;
    }
    // The top byte is the opaque X of RGBX, or opaque alpha: a drawn pixel is never clear. The
    // colour's own top byte is not a channel.
    mutableRow(y)[static_cast<std::size_t>(x)] =
        0xFF000000u | (static_cast<imaging::Pixel>(colour) & imaging::kColourMask);
}

std::optional<imaging::Pixel> PictureSurface::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width() || y >= height()) {
        return std::nullopt;
    }
    return row(y)[static_cast<std::size_t>(x)];
}

void PictureSurface::restore(int x, int y, imaging::Pixel pixel) {
    if (x >= 0 && y >= 0 && x < width() && y < height()) {
        mutableRow(y)[static_cast<std::size_t>(x)] = pixel;
    }
}

std::optional<base::Error> PictureSurface::save(const QString& fileName) const {
    // A desktop save should survive a crash right after it.
    return saveLevelBitmap(m_image, QFile::encodeName(fileName).toStdString(),
                           platform::Durability::Synced);
}

std::span<const imaging::Pixel> PictureSurface::row(int y) const {
    const auto* line = reinterpret_cast<const imaging::Pixel*>(m_image.constScanLine(y));
    return {line, static_cast<std::size_t>(m_image.width())};
}

std::span<imaging::Pixel> PictureSurface::mutableRow(int y) {
    auto* line = reinterpret_cast<imaging::Pixel*>(m_image.scanLine(y));
    return {line, static_cast<std::size_t>(m_image.width())};
}

void PictureSurface::rowPainted(int y) {
    if (m_rowPainted) {
        m_rowPainted(y);
    }
}

} // namespace surface
