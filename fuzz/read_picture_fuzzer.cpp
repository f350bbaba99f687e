// libFuzzer target: decodes arbitrary bytes through the reader that loads picture files.

#include "pictures/picture_reader.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// The same code path as a file, with smaller caps: a legitimate run-length encoded picture may
// claim its whole extent from a few bytes, and at the real caps that is 4 GiB, past any sane
// malloc limit. At these caps the decoded picture is at most 16 MiB.
constexpr pictures::ReadLimits kLimits{4096, qint64{4} << 20};

// Qt's decoders warn about every malformed input; at thousands of inputs a second that is noise
// that slows the run and buries the fuzzer's own report.
void dropQtMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qInstallMessageHandler(dropQtMessages);
    // Qt's image plugins are found through the application's library paths.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::ReadOnly)) {
        std::abort();
    }
    const auto read = pictures::readPicture(buffer, "fuzz", kLimits);
    if (const auto* error = std::get_if<base::Error>(&read)) {
        // A refusal must always say why.
        if (error->reason.empty()) {
            std::abort();
        }
        return 0;
    }
    const QImage& picture = std::get<QImage>(read);
    // What the reader hands on is what the scans rely on.
    if (picture.format() != QImage::Format_RGBX8888 || picture.width() < 1 ||
        picture.height() < 1 || picture.width() > kLimits.maxExtent ||
        picture.height() > kLimits.maxExtent ||
        qint64{picture.width()} * picture.height() > kLimits.maxPixels) {
        std::abort();
    }
    // Touch every pixel so that a short buffer shows up under the address sanitizer.
    std::uint32_t sum = 0;
    for (int y = 0; y < picture.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            sum += row[x];
        }
    }
    volatile std::uint32_t sink = sum;
    (void)sink;
    return 0;
}
