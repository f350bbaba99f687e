#include "conversion/stream.h"

#include "bitmap/decoder.h"
#include "conversion/read_ahead.h"
#include "imaging/dither.h"
#include "imaging/level_bits.h"
#include "platform/device_source.h"
#include "platform/input_file.h"
#include "platform/large_buffer.h"
#include "platform/safe_save.h"

#include <QBuffer>
#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace conversion {
namespace {

using Result = base::Result<imaging::Planes>;

// The grey averages of a row as the decoder stores it.
class GreyMaker {
  public:
    explicit GreyMaker(const bitmap::Decoder& decoder)
        : m_kernel(imaging::levelKernel()), m_form(decoder.rowForm()) {
        const auto palette = decoder.palette();
        for (std::size_t i = 0; i < palette.size(); ++i) {
            m_table[i] = static_cast<std::uint8_t>(
                imaging::greyAverage(static_cast<imaging::Colour>(palette[i] & 0xFFFFFF)));
        }
    }
    void operator()(const std::uint8_t* stored, std::size_t width, std::uint8_t* greys) const {
        switch (m_form) {
        case bitmap::Decoder::RowForm::Bytes3:
            m_kernel.greys3(stored, width, greys);
            break;
        case bitmap::Decoder::RowForm::Bytes4:
        case bitmap::Decoder::RowForm::Pixels:
            m_kernel.greys4(stored, width, greys);
            break;
        case bitmap::Decoder::RowForm::Indices:
            for (std::size_t x = 0; x < width; ++x) {
                greys[x] = m_table[stored[x]];
            }
            break;
        }
    }

  private:
    const imaging::LevelKernel& m_kernel;
    bitmap::Decoder::RowForm m_form;
    std::array<std::uint8_t, 256> m_table{};
};

// The plane bits of rows of band codes.
class PlaneRows {
  public:
    explicit PlaneRows(imaging::Planes& planes)
        : m_planes(planes), m_dark((static_cast<std::size_t>(planes.width) + 7) / 8),
          m_light(m_dark.size()) {}
    void row(int y, const std::uint8_t* bands) {
        imaging::bandBits(bands, static_cast<std::size_t>(m_planes.width), m_dark.data(),
                          m_light.data());
        imaging::setRowBytes(m_planes, y, m_dark, m_light);
    }

  private:
    imaging::Planes& m_planes;
    std::vector<std::uint8_t> m_dark;
    std::vector<std::uint8_t> m_light;
};

// A bottom-up file that cannot be read from the top keeps its rows as one byte of grey per
// pixel until the top row has been read, then is dithered from it.
Result ditherBottomUp(bitmap::Decoder& decoder, imaging::Planes planes, imaging::Dither method,
                      imaging::RowProgress& progress) {
    const auto width = static_cast<std::size_t>(planes.width);
    // A byte of grey per pixel, every byte written before it is read.
    const platform::LargeBuffer buffer(width * static_cast<std::size_t>(planes.height));
    std::uint8_t* const greys = buffer.data();
    const GreyMaker makeGreys(decoder);
    std::vector<imaging::Pixel> row(width);
    for (int done = 0; done < planes.height; ++done) {
        const int y = decoder.nextRowY();
        const std::uint8_t* stored = nullptr;
        if (const auto failed = decoder.readStoredRow(row, stored)) {
            return *failed;
        }
        makeGreys(stored, width, greys + static_cast<std::size_t>(y) * width);
    }
    imaging::Ditherer ditherer(method, planes.width);
    std::vector<std::uint8_t> bands(width);
    PlaneRows planeRows(planes);
    for (int y = 0; y < planes.height; ++y) {
        ditherer.diffuseGreys(y, greys + static_cast<std::size_t>(y) * width, bands.data());
        planeRows.row(y, bands.data());
        progress.reportRowsDone(static_cast<std::int16_t>(y + 1));
    }
    return planes;
}

// Error diffusion of rows that come from the top: a second thread reads them and makes their
// greys a few rows ahead, and makes the plane bits of the rows dithered, so that only the
// diffusion is left here. Each row's bands take the place of its greys in the ring, where the
// reader finds them before it fills the slot again.
Result diffuseFromTop(bitmap::Decoder& decoder, const std::string& name, imaging::Planes planes,
                      imaging::Dither method, imaging::RowProgress& progress) {
    const auto width = static_cast<std::size_t>(planes.width);
    const int height = planes.height;
    // About a megabyte of rows in turn, at least four.
    const int depth = static_cast<int>(std::clamp<std::size_t>((1u << 20) / width, 4, 256));
    std::vector<std::uint8_t> ring(width * static_cast<std::size_t>(depth));
    auto slot = [&](int y) { return ring.data() + static_cast<std::size_t>(y % depth) * width; };
    // Each side wakes the other once a quarter of the ring has changed hands, not at every row:
    // waking at every row took more system time than the diffusion itself.
    const int batch = depth / 4;
    auto wakes = [&](int count) { return count % batch == 0 || count == height; };
    constexpr int kFailed = -1;
    std::atomic<int> made{0}; // rows ready, or kFailed
    std::atomic<int> used{0}; // rows diffused, or `height` when this side gives up
    std::mutex mutex;
    std::condition_variable changed;
    auto waitUntil = [&](auto ready) {
        if (!ready()) {
            std::unique_lock lock(mutex);
            changed.wait(lock, ready);
        }
    };
    auto advance = [&](std::atomic<int>& counter, int count, bool wake) {
        counter.store(count, std::memory_order_release);
        if (wake) {
            const std::lock_guard lock(mutex); // so that a side about to wait cannot miss it
            changed.notify_all();
        }
    };
    std::string failure;
    std::thread reader([&] {
        try {
            const GreyMaker makeGreys(decoder);
            PlaneRows planeRows(planes);
            std::vector<imaging::Pixel> row(width);
            for (int y = 0; y < height; ++y) {
                waitUntil([&] { return y - used.load(std::memory_order_acquire) < depth; });
                if (used.load(std::memory_order_acquire) >= height) {
                    return;
                }
                if (y >= depth) {
                    planeRows.row(y - depth, slot(y));
                }
                const std::uint8_t* stored = nullptr;
                if (const auto failed = decoder.readStoredRow(row, stored)) {
                    failure = failed->reason;
                    break;
                }
                makeGreys(stored, width, slot(y));
                advance(made, y + 1, wakes(y + 1));
            }
        } catch (const std::bad_alloc&) {
            failure = base::noMemoryReason("to convert it");
        }
        if (!failure.empty()) {
            advance(made, kFailed, true);
        }
    });
    // However this side leaves, the reader is told to stop and is waited for.
    struct Join {
        std::thread& thread;
        std::function<void()> stop;
        ~Join() {
            stop();
            thread.join();
        }
    } join{reader, [&] { advance(used, height, true); }};
    imaging::Ditherer ditherer(method, planes.width);
    for (int y = 0; y < height; ++y) {
        waitUntil([&] {
            const int ready = made.load(std::memory_order_acquire);
            return ready == kFailed || ready > y;
        });
        if (made.load(std::memory_order_acquire) == kFailed) {
            return base::Error{name, failure};
        }
        ditherer.diffuseGreys(y, slot(y), slot(y));
        advance(used, y + 1, wakes(y + 1));
        progress.reportRowsDone(static_cast<std::int16_t>(y + 1));
    }
    // The reader made the plane bits of every row whose slot it filled again, before it made the
    // last row: the rest are still in the ring.
    PlaneRows planeRows(planes);
    for (int y = std::max(height - depth, 0); y < height; ++y) {
        planeRows.row(y, slot(y));
    }
    return planes;
}

// The plain conversion and ordered dithering: each row, as the file stores it, goes straight to
// its plane bits. Rows that start on a byte are written in place; the others are laid in at
// their bit offset.
Result streamLevels(bitmap::Decoder& decoder, imaging::Planes planes, imaging::Dither method,
                    imaging::RowProgress& progress) {
    const auto width = static_cast<std::size_t>(planes.width);
    const imaging::LevelKernel& kernel = imaging::levelKernel();
    const bitmap::Decoder::RowForm form = decoder.rowForm();
    const imaging::LevelTable table = imaging::levelTable(decoder.palette());
    const bool ordered = method == imaging::Dither::Bayer;
    std::array<imaging::BandEdges, 8> edges;
    for (int y = 0; y < 8; ++y) {
        edges[static_cast<std::size_t>(y)] =
            ordered ? imaging::bayerEdges(y) : imaging::plainEdges();
    }
    const bool inPlace = planes.rowBits() % 8 == 0;
    std::vector<std::uint8_t> dark((width + 7) / 8);
    std::vector<std::uint8_t> light(dark.size());
    std::vector<imaging::Pixel> row(width);
    for (int done = 0; done < planes.height; ++done) {
        const int y = decoder.nextRowY();
        const std::uint8_t* stored = nullptr;
        if (const auto failed = decoder.readStoredRow(row, stored)) {
            return *failed;
        }
        const std::size_t at = static_cast<std::size_t>(y) * planes.rowBits() / 8;
        std::uint8_t* const d = inPlace ? planes.dark.data() + at : dark.data();
        std::uint8_t* const l = inPlace ? planes.light.data() + at : light.data();
        const imaging::BandEdges& rowEdges = edges[static_cast<std::size_t>(y & 7)];
        switch (form) {
        case bitmap::Decoder::RowForm::Bytes3:
            if (ordered) {
                kernel.edged3(stored, width, rowEdges, d, l);
            } else {
                kernel.bytes3(stored, width, d, l);
            }
            break;
        case bitmap::Decoder::RowForm::Bytes4:
        case bitmap::Decoder::RowForm::Pixels:
            if (ordered) {
                kernel.edged4(stored, width, rowEdges, d, l);
            } else {
                kernel.bytes4(stored, width, d, l);
            }
            break;
        case bitmap::Decoder::RowForm::Indices:
            if (ordered) {
                // The palette's colours, then as any row of pixels.
                const auto palette = decoder.palette();
                for (std::size_t x = 0; x < width; ++x) {
                    row[x] = palette[stored[x]];
                }
                kernel.edged4(reinterpret_cast<const std::uint8_t*>(row.data()), width, rowEdges, d,
                              l);
            } else {
                imaging::indexedLevelBits(stored, width, table, d, l);
            }
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
    const int width = decoder.width();
    const int height = decoder.height();
    imaging::Planes planes = imaging::largePlanes(width, height, options.rows);
    progress.reportTotal(static_cast<std::int16_t>(height));
    // Error diffusion needs the rows from the top: a bottom-up file is read backwards where it
    // can seek, and held as grey where it cannot (a pipe, run-length data).
    if (imaging::diffusesError(options.dither) && height > 1 && !decoder.readFromTop()) {
        return ditherBottomUp(decoder, std::move(planes), options.dither, progress);
    }
    if (imaging::diffusesError(options.dither)) {
        return diffuseFromTop(decoder, name, std::move(planes), options.dither, progress);
    }
    return streamLevels(decoder, std::move(planes), options.dither, progress);
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
