#include "conversion/stream.h"

#include "bitmap/decoder.h"
#include "conversion/gif_rows.h"
#include "conversion/jpeg_rows.h"
#include "conversion/pipeline.h"
#include "conversion/png_rows.h"
#include "conversion/pnm_rows.h"
#include "conversion/read_ahead.h"
#include "conversion/stages.h"
#include "conversion/streamed.h"
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
    platform::DeviceSource device(file, name);
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
    bitmap::Decoder decoder(source, name);
    if (const auto refused = decoder.readHeader()) {
        return *refused;
    }
    // A bitmap's alpha counts only for a mask.
    BitmapRows rows(decoder, options.mask);
    if (!options.geometry.turns() && !options.geometry.resizes() && !options.mask) {
        rows.keepWords(); // the reducer reads 16-bit rows as stored; the stages take pixels
    }
    return convertRows(rows, name, options, progress);
}

// The first frame; with `frames`, every frame of an animation, each converted on its own, as a
// sheet of one row.
Result streamGif(QIODevice& file, const std::string& name, const ConvertOptions& options,
                 imaging::RowProgress& progress, imaging::FrameGrid* frames) {
    platform::DeviceSource device(file, name);
    GifRows rows(device, name);
    if (auto refused = rows.open()) {
        return std::move(*refused);
    }
    if (frames == nullptr) {
        return convertRows(rows, name, options, progress);
    }
    // An animation's frames are pasted into a sheet when they are all made.
    ConvertOptions each = options;
    each.rowsMade = nullptr;
    const auto counted = rows.frames();
    if (const auto* failed = std::get_if<base::Error>(&counted)) {
        return *failed;
    }
    const int count = std::get<int>(counted);
    if (count == 1) {
        return convertRows(rows, name, each, progress);
    }
    if (options.frames.any()) {
        return base::Error{name,
                           "it is an animated GIF of " + std::to_string(count) +
                               " frames, which are frames already; --frames cuts one picture",
                           base::ErrorKind::Usage};
    }
    std::optional<imaging::Planes> sheet;
    imaging::FrameGrid grid;
    for (int f = 0; f < count; ++f) {
        if (auto refused = rows.selectFrame(f)) {
            return std::move(*refused);
        }
        auto frame = convertRows(rows, name, each, progress);
        if (auto* failed = std::get_if<base::Error>(&frame)) {
            return std::move(*failed);
        }
        const imaging::Planes& planes = std::get<imaging::Planes>(frame);
        if (!sheet) {
            grid = {planes.width, planes.height, imaging::FrameOrder::Rows};
            if (static_cast<long long>(planes.width) * count > 32767) {
                return base::Error{name, std::to_string(count) + " frames " +
                                             std::to_string(planes.width) +
                                             " pixels wide make a sheet wider than 32767 pixels"};
            }
            sheet = imaging::makePlanes(planes.width * count, planes.height, planes.layout);
            if (!planes.mask.empty()) {
                sheet->mask.assign(sheet->planeBytes(), 0);
            }
        }
        imaging::pasteFrame(*sheet, grid, f, planes);
    }
    *frames = grid;
    return std::move(*sheet);
}

// A PNG, JPEG or PNM picture through its streamed rows; a JPEG whose colours only Qt's reader
// turns into red, green and blue (CMYK), or a PNM of a kind read only by Qt's reader, goes to
// `others` from where the picture starts.
Result streamRows(QIODevice& file, const std::string& name, const ConvertOptions& options,
                  imaging::RowProgress& progress, WholePictureReader others) {
    const qint64 start = file.pos();
    auto opened = openStreamedRows(file, name);
    if (auto* refused = std::get_if<base::Error>(&opened)) {
        return std::move(*refused);
    }
    if (auto& rows = std::get<std::unique_ptr<RowSource>>(opened)) {
        return convertRows(*rows, name, options, progress);
    }
    file.seek(start);
    return others(file, name, options, progress);
}

// Bitmaps, PNG, GIF, JPEG and binary 8-bit PNM pictures stream; `wholeFirst` reads the others into
// memory first, for a device that cannot seek.
Result convertOpened(QIODevice& file, const std::string& name, const ConvertOptions& options,
                     imaging::RowProgress& progress, WholePictureReader others, bool wholeFirst,
                     imaging::FrameGrid* frames) {
    try {
        const QByteArray peeked = file.peek(8);
        const std::span<const std::uint8_t> head(
            reinterpret_cast<const std::uint8_t*>(peeked.constData()),
            static_cast<std::size_t>(peeked.size()));
        if (bitmap::looksLikeBitmap(head)) {
            return streamBitmap(file, name, options, progress);
        }
        if (looksLikePng(head)) {
            return streamRows(file, name, options, progress, others);
        }
        // The other readers need a device that can go back: a pipe is read whole first.
        QBuffer whole;
        QIODevice* device = &file;
        if (wholeFirst) {
            whole.setData(file.readAll());
            if (whole.size() == 0) {
                return base::Error{name, "it is empty"};
            }
            whole.open(QIODevice::ReadOnly);
            device = &whole;
        }
        if (looksLikeGif(head)) {
            // Its frames are counted by reading it to the end and back: a pipe is read whole.
            return streamGif(*device, name, options, progress, frames);
        }
        if (looksLikeJpeg(head) || looksLikePnm(head)) {
            return streamRows(*device, name, options, progress, others);
        }
        return others(*device, name, options, progress);
    } catch (const std::bad_alloc&) {
        return base::noMemory(name, "to convert it");
    }
}

} // namespace

Result convertRows(RowSource& rows, const std::string& name, const ConvertOptions& options,
                   imaging::RowProgress& progress) {
    Reduction how{options.dither, options.tone};
    // Without a mask, alpha is shown over white before anything else; with one, the mask is read
    // after the turns, which keep the pixels whole only when they do not turn a quarter.
    std::optional<TransparencyRows> overWhite;
    RowSource* source = &rows;
    if (!options.mask && rows.alpha()) {
        source = &overWhite.emplace(rows, false, std::nullopt);
    }
    if (options.mask && (options.geometry.quarterTurns % 2 == 1 || options.geometry.resizes())) {
        return base::Error{name,
                           "transparency is not read through a quarter turn or a size: turn or "
                           "size the picture before it is given with --mask",
                           base::ErrorKind::Usage};
    }
    auto stages = Stages::around(*source, options.geometry, how, name);
    if (auto* failed = std::get_if<base::Error>(&stages)) {
        return std::move(*failed);
    }
    std::optional<TransparencyRows> masked;
    RowSource* outer = &std::get<std::unique_ptr<Stages>>(stages)->outer();
    if (options.mask) {
        outer = &masked.emplace(*outer, true, options.transparent);
    }
    RowSource& prepared = *outer;
    if (options.frames.any()) {
        if (prepared.width() % options.frames.width != 0 ||
            prepared.height() % options.frames.height != 0) {
            return base::Error{name, "the picture is " + std::to_string(prepared.width()) + " × " +
                                         std::to_string(prepared.height()) +
                                         " pixels, not a whole number of frames of " +
                                         std::to_string(options.frames.width) + " × " +
                                         std::to_string(options.frames.height) +
                                         " across and down"};
        }
        how.frameWidth = options.frames.width;
        how.frameHeight = options.frames.height;
    }
    // Room for the planes, their pages taken as the rows come: a small file that claims a huge
    // picture and ends early costs no memory.
    imaging::Planes planes =
        imaging::reservedPlanes(prepared.width(), prepared.height(), options.rows, options.mask);
    PlaneSink sink(planes, options.mask);
    if (options.rowsMade == nullptr) {
        LevelSink* const sinks[] = {&sink};
        auto ran = runRows(prepared, how, sinks, {progress, LastYield::No, true}, name);
        if (auto* failed = std::get_if<base::Error>(&ran)) {
            return std::move(*failed);
        }
        sink.finish();
        return planes;
    }
    // Read beside the rows being made: the planes never move or grow from here on.
    sink.finish();
    RowsMade& told = *options.rowsMade;
    told.started(planes);
    struct Told final : LevelSink {
        Told(PlaneSink& sink, RowsMade& told, int height)
            : sink(sink), told(told), height(height) {}
        Place place(int y) override { return sink.place(y); }
        void take(int y, const std::uint8_t* dark, const std::uint8_t* light) override {
            sink.take(y, dark, light);
            // Rows made from the top on (a bottom-up bitmap's come last to first); the last is
            // made only when its mask is too, which ended() says.
            if (y == top && ++top < height) {
                told.made(top);
            }
        }
        void takeMask(int y, const std::uint8_t* opaque) override { sink.takeMask(y, opaque); }
        PlaneSink& sink;
        RowsMade& told;
        int height;
        int top = 0;
    } telling(sink, told, planes.height);
    LevelSink* const sinks[] = {&telling};
    // However the run ends (an exception too), the reader is told before the planes go.
    struct Ending {
        RowsMade* told;
        ~Ending() {
            if (told != nullptr) {
                told->ended(false);
            }
        }
    } ending{&told};
    auto ran = runRows(prepared, how, sinks, {progress, LastYield::No, true}, name);
    if (auto* failed = std::get_if<base::Error>(&ran)) {
        return std::move(*failed);
    }
    ending.told = nullptr;
    told.ended(true);
    return planes;
}

Result convertFile(const std::string& path, const ConvertOptions& options,
                   imaging::RowProgress& progress, WholePictureReader others,
                   imaging::FrameGrid* frames) {
    auto opened = platform::openPictureFile(path);
    if (auto* failure = std::get_if<base::Error>(&opened)) {
        return *failure;
    }
    return convertOpened(*std::get<std::unique_ptr<QFile>>(opened), path, options, progress, others,
                         false, frames);
}

Result convertStandardInput(const ConvertOptions& options, imaging::RowProgress& progress,
                            WholePictureReader others, imaging::FrameGrid* frames) {
    const std::string name = "standard input";
    QFile input;
    if (!input.open(STDIN_FILENO, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        return platform::failure(name, input.errorString());
    }
    return convertOpened(input, name, options, progress, others, input.isSequential(), frames);
}

} // namespace conversion
