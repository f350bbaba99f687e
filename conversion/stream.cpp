#include "conversion/stream.h"

#include "bitmap/decoder.h"
#include "conversion/read_ahead.h"
#include "conversion/whole_picture.h"
#include "imaging/dither.h"
#include "imaging/level_bits.h"
#include "surface/device_source.h"
#include "surface/input_file.h"
#include "surface/safe_save.h"

#include <QBuffer>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace conversion {
namespace {

using Result = base::Result<imaging::Planes>;

// A byte of grey per pixel, every byte written before it is read. Backed by huge pages where the
// system offers them: faulting in 64 MiB page by page took 340 ms, longer than the dithering.
class GreyBuffer {
  public:
    explicit GreyBuffer(std::size_t size) {
        constexpr std::size_t kHugePage = std::size_t{2} << 20;
        const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
        m_bytes.reset(static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, rounded)));
        if (!m_bytes) {
            throw std::bad_alloc();
        }
#ifdef MADV_HUGEPAGE
        madvise(m_bytes.get(), rounded, MADV_HUGEPAGE); // only advice: ignored where refused
#endif
    }
    std::uint8_t* data() const {
        return m_bytes.get();
    }

  private:
    struct Free {
        void operator()(std::uint8_t* bytes) const { std::free(bytes); }
    };
    std::unique_ptr<std::uint8_t, Free> m_bytes;
};

// A bottom-up file that cannot be read from the top keeps its rows as one byte of grey per
// pixel until the top row has been read, then is dithered from it.
Result ditherBottomUp(bitmap::Decoder& decoder, const std::string& name, imaging::Planes planes,
                      imaging::Dither method, imaging::RowProgress& progress) {
    const auto width = static_cast<std::size_t>(planes.width);
    const GreyBuffer buffer(width * static_cast<std::size_t>(planes.height));
    std::uint8_t* const greys = buffer.data();
    std::vector<imaging::Pixel> row(width);
    for (int done = 0; done < planes.height; ++done) {
        const int y = decoder.nextRowY();
        if (const auto failed = decoder.readRow(row)) {
            return base::Error{name, *failed};
        }
        std::uint8_t* grey = greys + static_cast<std::size_t>(y) * width;
        for (std::size_t x = 0; x < width; ++x) {
            const imaging::Pixel p = row[x];
            grey[x] = static_cast<std::uint8_t>(
                ((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF) + 1) / 3);
        }
    }
    imaging::Ditherer ditherer(method, planes.width);
    for (int y = 0; y < planes.height; ++y) {
        const std::uint8_t* grey = greys + static_cast<std::size_t>(y) * width;
        for (std::size_t x = 0; x < width; ++x) {
            row[x] = grey[x] * 0x010101u; // a grey whose average is that grey
        }
        ditherer.paintRow(y, row);
        imaging::encodeRow(planes, y, row);
        progress.reportRowsDone(static_cast<std::int16_t>(y + 1));
    }
    return planes;
}

// The plain conversion: each row, as the file stores it, goes straight to its plane bits.
// Rows that start on a byte are written in place; the others are laid in at their bit offset.
Result streamLevels(bitmap::Decoder& decoder, const std::string& name, imaging::Planes planes,
                    imaging::RowProgress& progress) {
    const auto width = static_cast<std::size_t>(planes.width);
    const imaging::LevelKernel& kernel = imaging::levelKernel();
    const bitmap::Decoder::RowForm form = decoder.rowForm();
    const imaging::LevelTable table = imaging::levelTable(decoder.palette());
    const bool inPlace = planes.rowBits() % 8 == 0;
    std::vector<std::uint8_t> dark((width + 7) / 8);
    std::vector<std::uint8_t> light(dark.size());
    std::vector<imaging::Pixel> row(width);
    for (int done = 0; done < planes.height; ++done) {
        const int y = decoder.nextRowY();
        const std::uint8_t* stored = nullptr;
        if (const auto failed = decoder.readStoredRow(row, stored)) {
            return base::Error{name, *failed};
        }
        const std::size_t at = static_cast<std::size_t>(y) * planes.rowBits() / 8;
        std::uint8_t* const d = inPlace ? planes.dark.data() + at : dark.data();
        std::uint8_t* const l = inPlace ? planes.light.data() + at : light.data();
        switch (form) {
        case bitmap::Decoder::RowForm::Bytes3:
            kernel.bytes3(stored, width, d, l);
            break;
        case bitmap::Decoder::RowForm::Bytes4:
        case bitmap::Decoder::RowForm::Pixels:
            kernel.bytes4(stored, width, d, l);
            break;
        case bitmap::Decoder::RowForm::Indices:
            imaging::indexedLevelBits(stored, width, table, d, l);
            break;
        }
        if (!inPlace) {
            imaging::setRowBytes(planes, y, dark, light);
        }
        progress.reportRowsDone(static_cast<std::int16_t>(done + 1));
    }
    return planes;
}

Result streamBitmap(QIODevice& file, const std::string& name, const ConvertOptions& options,
                    imaging::RowProgress& progress) {
    surface::DeviceSource device(file);
    // A file of known size is read ahead on a second thread; a pipe is read as the rows need it.
    std::optional<ReadAhead> ahead;
    // Only the plain conversion: error diffusion may read a bottom-up file backwards, seeking.
    if (device.remaining() && options.dither == imaging::Dither::None) {
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
    const int width = decoder.width();
    const int height = decoder.height();
    imaging::Planes planes = imaging::largePlanes(width, height, options.rows);
    progress.reportTotal(static_cast<std::int16_t>(height));
    // Error diffusion needs the rows from the top: a bottom-up file is read backwards where it
    // can seek, and held as grey where it cannot (a pipe, run-length data).
    if (imaging::diffusesError(options.dither) && height > 1 && !decoder.readFromTop()) {
        return ditherBottomUp(decoder, name, std::move(planes), options.dither, progress);
    }
    if (options.dither == imaging::Dither::None) {
        return streamLevels(decoder, name, std::move(planes), progress);
    }
    imaging::Ditherer ditherer(options.dither, width);
    std::vector<imaging::Pixel> row(static_cast<std::size_t>(width));
    for (int done = 0; done < height; ++done) {
        const int y = decoder.nextRowY();
        if (const auto failed = decoder.readRow(row)) {
            return base::Error{name, *failed};
        }
        ditherer.paintRow(y, row);
        imaging::encodeRow(planes, y, row);
        progress.reportRowsDone(static_cast<std::int16_t>(done + 1));
    }
    return planes;
}

// Bitmaps stream; `wholeFirst` reads the others into memory first, for a device that cannot seek.
Result convertOpened(QIODevice& file, const std::string& name, const ConvertOptions& options,
                     imaging::RowProgress& progress, bool wholeFirst) {
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
            return convertWholePicture(whole, name, options, progress);
        }
        return convertWholePicture(file, name, options, progress);
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
    return convertOpened(*std::get<std::unique_ptr<QFile>>(opened), path, options, progress, false);
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
