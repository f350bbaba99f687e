#include "conversion/stream.h"

#include "bitmap/decoder.h"
#include "conversion/pipeline.h"
#include "conversion/read_ahead.h"
#include "platform/device_source.h"
#include "platform/input_file.h"
#include "platform/safe_save.h"

#include <QBuffer>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <unistd.h>

namespace conversion {
namespace {

using Result = base::Result<imaging::Planes>;

Result streamBitmap(QIODevice& file, const std::string& name, const ConvertOptions& options,
                    imaging::RowProgress& progress) {
    platform::DeviceSource device(file);
    // A file of known size is read ahead on a second thread; a pipe is read as the rows need it.
    std::optional<ReadAhead> ahead;
    // Not for error diffusion: it may read a bottom-up file backwards, seeking.
    if (device.remaining() && !imaging::diffusesError(options.dither)) {
        try {
            ahead.emplace(device);
        } catch (const std::system_error&) {
            // No thread to be had: read on this one.
        }
    }
    bitmap::ByteSource& source = ahead ? static_cast<bitmap::ByteSource&>(*ahead) : device;
    bitmap::Decoder decoder(source);
    if (const auto refused = decoder.readHeader()) {
        return base::Error{name, *refused};
    }
    BitmapRows rows(decoder, name);
    auto stages = Stages::around(rows, options.geometry, ByteOrder::BlueFirst, name);
    if (auto* failed = std::get_if<base::Error>(&stages)) {
        return std::move(*failed);
    }
    RowSource& prepared = std::get<std::unique_ptr<Stages>>(stages)->outer();
    imaging::Planes planes =
        imaging::largePlanes(prepared.width(), prepared.height(), options.rows);
    PlaneSink sink(planes);
    LevelSink* const sinks[] = {&sink};
    auto ran = runRows(prepared, options.dither, sinks, {progress, LastYield::No, true}, name);
    if (auto* failed = std::get_if<base::Error>(&ran)) {
        return std::move(*failed);
    }
    return planes;
}

// Bitmaps stream; `wholeFirst` reads the others into memory first, for a device that cannot seek.
Result convertOpened(QIODevice& file, const std::string& name, const ConvertOptions& options,
                     imaging::RowProgress& progress, WholePictureReader others, bool wholeFirst) {
    try {
        const QByteArray head = file.peek(2);
        if (bitmap::looksLikeBitmap({reinterpret_cast<const std::uint8_t*>(head.constData()),
                                     static_cast<std::size_t>(head.size())})) {
            return streamBitmap(file, name, options, progress);
        }
        if (wholeFirst) {
            QBuffer whole;
            whole.setData(file.readAll());
            if (whole.size() == 0) {
                return base::Error{name, "it is empty"};
            }
            whole.open(QIODevice::ReadOnly);
            return others(whole, name, options, progress);
        }
        return others(file, name, options, progress);
    } catch (const std::bad_alloc&) {
        return base::noMemory(name, "to convert it");
    }
}

} // namespace

Result convertFile(const std::string& path, const ConvertOptions& options,
                   imaging::RowProgress& progress, WholePictureReader others) {
    auto opened = platform::openPictureFile(path);
    if (auto* failure = std::get_if<base::Error>(&opened)) {
        return *failure;
    }
    return convertOpened(*std::get<std::unique_ptr<QFile>>(opened), path, options, progress, others,
                         false);
}

Result convertStandardInput(const ConvertOptions& options, imaging::RowProgress& progress,
                            WholePictureReader others) {
    const std::string name = "standard input";
    QFile input;
    if (!input.open(STDIN_FILENO, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        return platform::failure(name, input.errorString());
    }
    return convertOpened(input, name, options, progress, others, input.isSequential());
}

} // namespace conversion
