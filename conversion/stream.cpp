#include "conversion/stream.h"

#include "bitmap/decoder.h"
#include "imaging/quantizer.h"
#include "surface/device_source.h"
#include "surface/input_file.h"
#include "surface/picture_reader.h"
#include "surface/safe_save.h"

#include <QBuffer>
#include <new>
#include <unistd.h>
#include <vector>

namespace conversion {
namespace {

using Result = base::Result<imaging::Planes>;

Result streamBitmap(QIODevice& file, const std::string& name, imaging::RowLayout layout,
                    imaging::RowProgress& progress) {
    surface::DeviceSource source(file);
    bitmap::Decoder decoder(source);
    if (const auto refused = decoder.readHeader()) {
        return base::Error{name, *refused};
    }
    const int width = decoder.width();
    const int height = decoder.height();
    imaging::Planes planes = imaging::makePlanes(width, height, layout);
    std::vector<imaging::Pixel> row(static_cast<std::size_t>(width));
    progress.reportTotal(static_cast<std::int16_t>(height));
    for (int done = 0; done < height; ++done) {
        const int y = decoder.nextRowY();
        if (const auto failed = decoder.readRow(row)) {
            return base::Error{name, *failed};
        }
        imaging::quantizeRow(row);
        imaging::encodeRow(planes, y, row);
        progress.reportRowsDone(static_cast<std::int16_t>(done + 1));
    }
    return planes;
}

Result convertWhole(QIODevice& file, const std::string& name, imaging::RowLayout layout,
                    imaging::RowProgress& progress) {
    QString reason;
    QImage picture = surface::readPicture(file, &reason);
    if (picture.isNull()) {
        return surface::failure(name, reason);
    }
    imaging::Planes planes = imaging::makePlanes(picture.width(), picture.height(), layout);
    progress.reportTotal(static_cast<std::int16_t>(picture.height()));
    for (int y = 0; y < picture.height(); ++y) {
        const std::span<imaging::Pixel> row(reinterpret_cast<imaging::Pixel*>(picture.scanLine(y)),
                                            static_cast<std::size_t>(picture.width()));
        imaging::quantizeRow(row);
        imaging::encodeRow(planes, y, row);
        progress.reportRowsDone(static_cast<std::int16_t>(y + 1));
    }
    return planes;
}

// Bitmaps stream; `wholeFirst` reads the others into memory first, for a device that cannot seek.
Result convertOpened(QIODevice& file, const std::string& name, const ConvertOptions& options,
                     imaging::RowProgress& progress, bool wholeFirst) {
    const imaging::RowLayout layout = options.rows;
    try {
        const QByteArray head = file.peek(2);
        if (bitmap::looksLikeBitmap({reinterpret_cast<const std::uint8_t*>(head.constData()),
                                     static_cast<std::size_t>(head.size())})) {
            return streamBitmap(file, name, layout, progress);
        }
        if (wholeFirst) {
            QBuffer whole;
            whole.setData(file.readAll());
            if (whole.size() == 0) {
                return base::Error{name, "it is empty"};
            }
            whole.open(QIODevice::ReadOnly);
            return convertWhole(whole, name, layout, progress);
        }
        return convertWhole(file, name, layout, progress);
    } catch (const std::bad_alloc&) {
        return base::Error{name, "not enough memory to convert it"};
    }
}

} // namespace

Result convertFile(const std::string& path, const ConvertOptions& options,
                   imaging::RowProgress& progress) {
    auto opened = surface::openPictureFile(path);
    if (auto* failure = std::get_if<base::Error>(&opened)) {
        return *failure;
    }
    return convertOpened(*std::get<std::unique_ptr<QFile>>(opened), path, options, progress,
                         false);
}

Result convertStandardInput(const ConvertOptions& options, imaging::RowProgress& progress) {
    const std::string name = "standard input";
    QFile input;
    if (!input.open(STDIN_FILENO, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        return surface::failure(name, input.errorString());
    }
    return convertOpened(input, name, options, progress, input.isSequential());
}

} // namespace conversion
