#include "surface/picture_surface.h"

#include "surface/bmp_writer.h"
#include "surface/picture_reader.h"

#include <QFile>
#include <QFileInfo>

namespace surface {

PictureSurface::PictureSurface(int width, int height)
    : m_image(width, height, QImage::Format_RGBX8888) {
    m_image.fill(Qt::white);
}

std::optional<Failure> PictureSurface::load(const QString& fileName) {
    if (fileName.isEmpty()) {
        return Failure{fileName, QStringLiteral("no file name was given")};
    }
    const QFileInfo info(fileName);
    if (info.isDir()) {
        return Failure{fileName, QStringLiteral("is a folder, not a picture file")};
    }
    // A pipe or a device has no size to check a header against (a lying one would be decoded
    // into a picture of garbage), and opening a pipe with no writer waits forever.
    if (info.exists() && !info.isFile()) {
        return Failure{fileName, QStringLiteral("is not a regular file (a pipe or a device); "
                                                "pictures are read from files")};
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return Failure{fileName, file.errorString()};
    }
    if (file.size() == 0) {
        return Failure{fileName, QStringLiteral("the file is empty")};
    }
    QString reason;
    QImage picture = readPicture(file, &reason);
    if (picture.isNull()) {
        return Failure{fileName, reason};
    }
    m_image = std::move(picture);
    return std::nullopt;
}

void PictureSurface::setPicture(const QImage& picture) {
    m_image = picture.convertToFormat(QImage::Format_RGBX8888);
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
    // The top byte is the opaque X of RGBX; the colour's own top byte is not a channel.
    mutableRow(y)[static_cast<std::size_t>(x)] =
        0xFF000000u | (static_cast<imaging::Pixel>(colour) & imaging::kColourMask);
}

std::optional<Failure> PictureSurface::save(const QString& fileName) const {
    return saveBmp24(m_image, fileName);
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
