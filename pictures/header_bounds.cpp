#include "pictures/header_bounds.h"

#include <algorithm>
#include <cctype>

namespace pictures {

qint64 jpegLeastBytes(QIODevice& device, qint64 start, const QSize& size) {
    // Qt's reader has moved on while reading the size; it continues from where it stopped.
    const qint64 resume = device.pos();
    if (!device.seek(start)) {
        return 0;
    }
    const QByteArray head = device.peek(1 << 20);
    device.seek(resume);
    const auto* b = reinterpret_cast<const unsigned char*>(head.constData());
    const qsizetype n = head.size();
    if (n < 4 || b[0] != 0xFF || b[1] != 0xD8) {
        return 0;
    }
    for (qsizetype p = 2; p + 4 <= n;) {
        if (b[p] != 0xFF) {
            return 0; // not a marker: the decoder reports it
        }
        const unsigned char marker = b[p + 1];
        if (marker == 0xFF) {
            ++p; // fill byte
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            p += 2; // markers without a segment
            continue;
        }
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            const qint64 blocks =
                (qint64{size.width()} + 7) / 8 * ((qint64{size.height()} + 7) / 8);
            return blocks / 8;
        }
        if (marker == 0xDA || marker == 0xD9) {
            return 0; // a scan or the end before a frame the bound applies to
        }
        p += 2 + ((b[p + 2] << 8) | b[p + 3]);
    }
    return 0;
}

// Larger than any extent, small enough that ten times it plus a digit stays in range.
constexpr qint64 kSaturated = qint64{1} << 40;

std::optional<std::pair<HeaderNumber, HeaderNumber>> pnmExtent(QIODevice& device) {
    const QByteArray head = device.peek(4096);
    qsizetype at = 2;
    auto number = [&]() -> std::optional<HeaderNumber> {
        while (at < head.size()) {
            if (head[at] == '#') {
                while (at < head.size() && head[at] != '\n') {
                    ++at;
                }
            } else if (std::isspace(static_cast<unsigned char>(head[at]))) {
                ++at;
            } else {
                break;
            }
        }
        // The whole run of digits is one number, however long: cutting it short would read its
        // tail as the next number.
        HeaderNumber number;
        const qsizetype first = at;
        for (; at < head.size() && std::isdigit(static_cast<unsigned char>(head[at])); ++at) {
            number.value = std::min(number.value * 10 + (head[at] - '0'), kSaturated);
        }
        if (at == first) {
            return std::nullopt;
        }
        number.digits = head.mid(first, at - first);
        return number;
    };
    const auto width = number();
    const auto height = number();
    if (!width || !height) {
        return std::nullopt;
    }
    return std::pair{*width, *height};
}

} // namespace pictures
