#pragma once
// What the headers of other formats claim, read before Qt's decoders are let at them: a lying
// header must be refused before it costs memory or time.

#include <QByteArray>
#include <QIODevice>
#include <QSize>
#include <optional>
#include <utility>

namespace pictures {

// The fewest bytes from `start` that a JPEG of this size can take. libjpeg fills whatever a
// truncated JPEG lacks with grey, so a few hundred bytes claiming 32767 x 32767 pixels would
// become a 4 GiB picture. A Huffman-coded frame holds at least one bit for each 8 x 8 block of
// its full-size component (its first scan codes every block's DC difference); for anything else
// (arithmetic coding, no frame found) 0. The device keeps its position.
qint64 jpegLeastBytes(QIODevice& device, qint64 start, const QSize& size);

// A number of a header as it was written, and its value (saturated where it is too large for
// any picture).
struct HeaderNumber {
    qint64 value = 0;
    QByteArray digits;
};

// The width and height in a PNM header (magic, then numbers between white space and comments),
// which Qt's reader does not report for large ones; nothing when the header is malformed, which
// the reader then reports.
std::optional<std::pair<HeaderNumber, HeaderNumber>> pnmExtent(QIODevice& device);

} // namespace pictures
