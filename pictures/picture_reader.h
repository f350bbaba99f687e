#pragma once
// Decodes a picture file into 0xXXBBGGRR pixels (QImage::Format_RGBX8888, or RGBA8888 when
// asked to keep alpha).

#include "base/error.h"
#include "bitmap/decoder.h"

#include <QImage>
#include <string>

class QIODevice;

namespace pictures {

// The largest width and height accepted: scan counters are 16-bit.
inline constexpr int kMaxExtent = bitmap::kMaxExtent;

struct ReadLimits {
    int maxExtent = kMaxExtent;
    qint64 maxPixels = qint64{kMaxExtent} * kMaxExtent;
    // For the formats Qt's readers decode whole: the most bytes the decoded picture may take, at
    // 4 bytes a pixel; 0 for no bound beyond the extent's.
    qint64 maxDecodedBytes = 0;
    // A picture with alpha comes as QImage::Format_RGBA8888 (not premultiplied), its alpha in
    // the top byte, instead of having it dropped.
    bool keepAlpha = false;
};

// Reads one picture from the device (positioned at its start): bitmaps of every common variant
// through our own decoder, PNG, GIF, JPEG and PNM through Qt's readers. A picture with no
// pixels, one larger than the limits, or a file whose header claims more pixel data than the
// device holds is refused before any pixel memory is allocated. An error names the file as
// `name`; a picture that fails for want of memory says so.
base::Result<QImage> readPicture(QIODevice& device, const std::string& name,
                                 const ReadLimits& limits = {});

} // namespace pictures
