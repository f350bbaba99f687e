#pragma once
// Reads a picture file a row at a time, so that its rows can be shown as they arrive.

#include "platform/failure.h"

#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QFile;

namespace bitmap {
class Decoder;
}
namespace platform {
class DeviceSource;
}

namespace surface {

// The rows of a picture decoded as its bytes arrive, from the top: width() pixels each, red
// first, as Format_RGBX8888 holds them, or Format_RGBA8888 for a picture with alpha.
class StreamedRows {
  public:
    virtual ~StreamedRows() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    // Whether each pixel's top byte is its alpha.
    virtual bool alpha() const { return false; }
    virtual std::optional<base::Error> readRow(std::uint32_t* row) = 0;
};

// Opens the rows of the file as they stream, for a format it knows by its first bytes; null for
// a format it does not stream, which Qt's readers then decode whole. Errors name `name`.
using RowStreamer = std::function<base::Result<std::unique_ptr<StreamedRows>>(
    QFile& file, const std::string& name)>;

class PictureLoader {
  public:
    explicit PictureLoader(RowStreamer streamer = {});
    ~PictureLoader();
    PictureLoader(const PictureLoader&) = delete;
    PictureLoader& operator=(const PictureLoader&) = delete;

    // Opens the file, reads what comes before the pixels and takes the picture's memory: the
    // extent is known from then on. A bitmap's rows are decoded by readRow(), from the top
    // wherever the file lets them be read in that order, and so are the rows of the formats the
    // streamer opens; other formats are decoded whole here.
    std::optional<base::Error> open(const QString& fileName);

    // The picture (Format_RGBX8888, or Format_RGBA8888 where it has alpha: a PNG's, a GIF's
    // clear index, a bitmap's alpha mask); only the rows in [firstRow(), endRow()) hold it yet.
    // Rows are written straight into its memory, so a copy of it shows each row once it has been
    // read.
    const QImage& image() const { return m_image; }
    int firstRow() const { return m_firstRow; }
    int endRow() const { return m_endRow; }
    // Whether every row has been read (false before open()).
    bool finished() const;

    // Reads the next row. A failure names the file and the reason; no row is read after it.
    std::optional<base::Error> readRow();

  private:
    // Takes the picture's memory, at most what Qt's readers would be let take.
    std::optional<base::Error> makeImage(int width, int height, bool alpha);

    RowStreamer m_streamer;
    std::unique_ptr<StreamedRows> m_rows;
    std::string m_name; // the file, as its bytes
    std::unique_ptr<QFile> m_file;
    std::unique_ptr<platform::DeviceSource> m_source;
    std::unique_ptr<bitmap::Decoder> m_decoder;
    QImage m_image;
    uchar* m_pixels = nullptr; // taken once, so that writing never detaches a shared copy
    int m_firstRow = 0;
    int m_endRow = 0;
    std::optional<base::Error> m_failure;
};

} // namespace surface
