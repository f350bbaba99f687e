#include "bitmap/decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace bitmap {
namespace {

static_assert(std::endian::native == std::endian::little,
              "pixels are built as little-endian 0xXXBBGGRR words");

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr Pixel kBlack = 0xFF000000u;
// Reads go to the source a mebibyte at a time: large enough that a file's pixel data streams at
// the speed of memory, small enough to be nothing beside the picture.
constexpr std::size_t kChunk = std::size_t{1} << 20;
// How far before the chunk being decoded a file read backwards is asked for ahead of time.
constexpr std::uint64_t kReadBehind = std::uint64_t{16} << 20;
// Room after the buffered bytes for the 4-byte loads that fetch a 3-byte pixel.
constexpr std::size_t kSlack = 16;

enum class HeaderKind { Core, Os2, Windows };

enum class Compression : std::uint32_t {
    Rgb = 0,
    Rle8 = 1,
    Rle4 = 2,
    BitFields = 3, // OS/2 2.x: Huffman 1D
    Jpeg = 4,      // OS/2 2.x: RLE24
    Png = 5,
    AlphaBitFields = 6,
};

// How the rows are stored, once the headers have been read.
enum class Layout { Indexed, Rgb24, Rgb32, Masked16, Masked32, Rle8, Rle4 };

std::uint16_t u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

std::string sizeText(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + " × " + std::to_string(height) + " pixels";
}

std::string hex(std::uint32_t v) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) {
        s += kDigits[(v >> shift) & 0xF];
    }
    return s;
}

// An n-bit channel value widened (or narrowed) to 8 bits: round(v * 255 / (2^n - 1)), so that
// full intensity is 255 at every width (shifting would make a full 5-bit red 0xF8).
std::uint8_t scaleChannel(std::uint64_t v, int bits) {
    const std::uint64_t max = (std::uint64_t{1} << bits) - 1;
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
}

// One colour channel of a bit-field pixel.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;                    // 0: the channel is always 0
    std::vector<std::uint8_t> table; // the 8-bit value of every raw value, up to 16 bits

    void setUp(std::uint32_t m) {
        mask = m;
        bits = std::popcount(m);
        shift = m == 0 ? 0 : std::countr_zero(m);
        table.clear();
        if (bits > 0 && bits <= 16) {
            table.resize(std::size_t{1} << bits);
            for (std::size_t v = 0; v < table.size(); ++v) {
                table[v] = scaleChannel(v, bits);
            }
        }
    }
    std::uint32_t operator()(std::uint32_t word) const {
        const std::uint32_t v = (word & mask) >> shift;
        if (bits == 0) {
            return 0;
        }
        return bits <= 16 ? table[v] : scaleChannel(v, bits);
    }
};

bool contiguous(std::uint32_t mask) {
    if (mask == 0) {
        return true;
    }
    const std::uint32_t m = mask >> std::countr_zero(mask);
    return (m & (m + 1)) == 0;
}

// 24-bit pixels B, G, R into 0xFFBBGGRR. Each pixel is fetched with one 4-byte load (the buffer
// has slack after its last byte): byte-swapped and shifted, it is the pixel. No branch per pixel.
void decode24(const std::uint8_t* in, Pixel* out, int width) {
    for (int x = 0; x < width; ++x, in += 3) {
        std::uint32_t w;
        std::memcpy(&w, in, 4);
        out[x] = (__builtin_bswap32(w) >> 8) | kBlack;
    }
}

#if defined(__x86_64__)
// The same four pixels at a time with one byte shuffle: the largest pictures are 24-bit, and this
// keeps their decoding well under the time it takes to read them.
__attribute__((target("ssse3"))) void decode24Ssse3(const std::uint8_t* in, Pixel* out, int width) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(kBlack));
    int x = 0;
    // 16-byte loads of 12 bytes each: at most 4 bytes past the row, which the slack covers.
    for (; x + 8 <= width; x += 8, in += 24) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_or_si128(_mm_shuffle_epi8(a, order), opaque));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 4),
                         _mm_or_si128(_mm_shuffle_epi8(b, order), opaque));
    }
    decode24(in, out + x, width - x);
}
#endif

using RowDecoder = void (*)(const std::uint8_t*, Pixel*, int);

RowDecoder bestDecode24() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("ssse3")) {
        return decode24Ssse3;
    }
#endif
    return decode24;
}

// 32-bit pixels in the default layout (B, G, R, X bytes).
void decode32(const std::uint8_t* in, Pixel* out, int width) {
    for (int x = 0; x < width; ++x, in += 4) {
        std::uint32_t w;
        std::memcpy(&w, in, 4);
        out[x] = (__builtin_bswap32(w) >> 8) | kBlack;
    }
}

} // namespace

struct Decoder::State {
    State(ByteSource& s, std::string f) : source(s), file(std::move(f)) {}

    ByteSource& source;
    const std::string file; // as the user knows it, for the errors

    // Buffered bytes of the source: buffer[pos, end) are the next ones; buffer[0] is at file
    // offset `base` (counted from the "BM").
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t capacity = 0;
    std::size_t pos = 0;
    std::size_t end = 0;
    std::uint64_t base = 0;
    bool atEnd = false;
    bool exactReads = false; // once the source lends rows, read only what a split row lacks

    bool headerRead = false;
    std::optional<std::string> refusal; // from readHeader(), or the first failed row
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bits = 0;
    Layout layout = Layout::Rgb24;
    RowDecoder rgb24 = decode24;
    std::array<Pixel, 256> palette{};
    std::array<Channel, 3> channels;
    std::uint32_t alphaMask = 0; // a contiguous alpha mask of a 16- or 32-bit bitmap, if any
    Channel alpha;               // set up only when the alpha is kept
    std::vector<Pixel> table16;  // every 16-bit pixel's colour
    std::uint64_t dataOffset = 0;
    std::size_t stride = 0;       // bytes of a stored row, padding included
    std::size_t lastRowBytes = 0; // the last row need not carry its padding
    int rowsDone = 0;
    bool backwards = false;               // rows stored from the bottom, read from the top
    std::uint64_t askedFrom = UINT64_MAX; // what is asked for ahead when read backwards

    // Run-length state: where the stream continues, white rows a delta still owes, and whether
    // the stream has ended.
    int rleX = 0;
    std::int64_t rleSkipRows = 0;
    bool rleEnded = false;

    std::uint64_t position() const { return base + pos; }
    std::size_t available() const { return end - pos; }

    // Makes at least `need` bytes available unless the source ends first; reads as much as the
    // buffer holds, so that the source sees few, large reads.
    bool fill(std::size_t need) {
        if (available() >= need) {
            return true;
        }
        if (need > capacity) {
            // The first fill sizes the buffer: a chunk, or the whole file when that is smaller.
            std::size_t want = kChunk;
            if (const auto left = source.remaining(); left && capacity == 0) {
                want = static_cast<std::size_t>(std::min<std::uint64_t>(*left + 1, kChunk));
            }
            want = std::max({want, need, capacity * 2, std::size_t{256}});
            auto grown = std::make_unique<std::uint8_t[]>(want + kSlack); // zeroed
            if (available() > 0) {
                std::memcpy(grown.get(), buffer.get() + pos, available());
            }
            buffer = std::move(grown);
            capacity = want;
        } else if (pos > 0) {
            std::memmove(buffer.get(), buffer.get() + pos, available());
        }
        base += pos;
        end -= pos;
        pos = 0;
        while (end < need && !atEnd) {
            const std::size_t got =
                source.read({buffer.get() + end, (exactReads ? need : capacity) - end});
            end += got;
            if (got == 0 || source.error()) {
                atEnd = true;
            }
        }
        return available() >= need;
    }

    // Skips `n` bytes by reading them; false when the data ends first.
    bool skip(std::uint64_t n) {
        while (n > 0) {
            if (available() == 0 && !fill(1)) {
                return false;
            }
            const std::size_t step =
                static_cast<std::size_t>(std::min<std::uint64_t>(n, available()));
            pos += step;
            n -= step;
        }
        return true;
    }

    // The next byte, or -1 at the end of the data.
    int byte() {
        if (pos == end && !fill(1)) {
            return -1;
        }
        return buffer[pos++];
    }

    std::optional<std::string> readError() const {
        if (auto e = source.error()) {
            return "the file cannot be read (" + e->reason + ")";
        }
        return std::nullopt;
    }

    std::optional<std::string> readHeader(const Limits& limits);
    std::optional<std::string> refuseFormat(HeaderKind headerKind, int planes,
                                            std::uint32_t compression) const;
    std::optional<std::string> setExtent(std::int64_t w, std::int64_t h, bool rle,
                                         const Limits& limits);
    std::optional<std::string> readPalette(HeaderKind headerKind, std::uint32_t infoSize,
                                           std::uint32_t colourCount, std::uint32_t headersEnd);
    std::optional<std::string> setUpMasks(std::uint32_t red, std::uint32_t green,
                                          std::uint32_t blue, bool fromFields);
    std::vector<std::uint8_t> indices; // a row of indices unpacked from fewer than 8 bits
    std::optional<std::string> readUncompressedRow(Pixel* row, const std::uint8_t** stored);
    std::optional<std::string> readNextRow(std::span<Pixel> row, const std::uint8_t** stored);
    std::optional<std::string> findRowBackwards();
    bool readRleRow(Pixel* row);
    // The reasons above as errors about the file.
    std::optional<base::Error> named(const std::optional<std::string>& reason) const {
        if (!reason) {
            return std::nullopt;
        }
        return base::Error{file, *reason, base::ErrorKind::Input};
    }
};

std::optional<std::string> Decoder::State::setUpMasks(std::uint32_t red, std::uint32_t green,
                                                      std::uint32_t blue, bool fromFields) {
    if (fromFields && red == 0 && green == 0 && blue == 0) {
        return std::string("the bitmap's bit field masks are all zero");
    }
    const std::array<std::uint32_t, 3> masks{red, green, blue};
    static const char* const kNames[] = {"red", "green", "blue"};
    for (std::size_t c = 0; c < 3; ++c) {
        if (!contiguous(masks[c])) {
            return std::string("the ") + kNames[c] + " bit field mask " + hex(masks[c]) +
                   " is not contiguous";
        }
        channels[c].setUp(masks[c]);
    }
    if (bits == 32 && red == 0x00FF0000u && green == 0x0000FF00u && blue == 0x000000FFu &&
        alpha.bits == 0) {
        layout = Layout::Rgb32;
    } else if (bits == 32) {
        layout = Layout::Masked32;
    } else {
        layout = Layout::Masked16;
        table16.resize(std::size_t{1} << 16);
        for (std::uint32_t w = 0; w < table16.size(); ++w) {
            table16[w] = (alpha.bits == 0 ? kBlack : alpha(w) << 24) | channels[0](w) |
                         (channels[1](w) << 8) | (channels[2](w) << 16);
        }
    }
    return std::nullopt;
}

// Refuses what the decoder does not read: planes, depths and compressions, and depths that do
// not go with their compression.
std::optional<std::string> Decoder::State::refuseFormat(HeaderKind headerKind, int planes,
                                                        std::uint32_t compression) const {
    if (planes != 1) {
        return "the bitmap has " + std::to_string(planes) + " planes (it must have 1)";
    }
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
        bits != 32) {
        return std::to_string(bits) + " bits per pixel are not supported";
    }
    const std::string number = "compression " + std::to_string(compression);
    const auto c = static_cast<Compression>(compression);
    if (headerKind == HeaderKind::Os2) {
        if (c == Compression::BitFields) {
            return number + " (OS/2 Huffman 1D) is not supported";
        }
        if (c == Compression::Jpeg) {
            return number + " (OS/2 RLE24) is not supported";
        }
        if (c != Compression::Rgb && c != Compression::Rle8 && c != Compression::Rle4) {
            return number + " is not supported";
        }
    } else if (c == Compression::Jpeg) {
        return number + " (embedded JPEG) is not supported";
    } else if (c == Compression::Png) {
        return number + " (embedded PNG) is not supported";
    } else if (compression > 6) {
        return number + " is not supported";
    }
    if (c == Compression::Rle8 && bits != 8) {
        return number + " (RLE8) needs 8 bits per pixel, not " + std::to_string(bits);
    }
    if (c == Compression::Rle4 && bits != 4) {
        return number + " (RLE4) needs 4 bits per pixel, not " + std::to_string(bits);
    }
    const bool fields = c == Compression::BitFields || c == Compression::AlphaBitFields;
    if (fields && bits != 16 && bits != 32) {
        return number + " (bit fields) needs 16 or 32 bits per pixel, not " + std::to_string(bits);
    }
    return std::nullopt;
}

// Takes the extent of the header, or refuses one without pixels or past the limits.
std::optional<std::string> Decoder::State::setExtent(std::int64_t w, std::int64_t h, bool rle,
                                                     const Limits& limits) {
    const std::int64_t rows = h < 0 ? -h : h;
    if (w <= 0 || h == 0) {
        return "the picture has no pixels (" + sizeText(w, rows) + ")";
    }
    if (w > limits.maxExtent || rows > limits.maxExtent) {
        return "the picture is too large (" + sizeText(w, rows) + "; at most " +
               std::to_string(limits.maxExtent) + " pixels wide and high are supported)";
    }
    if (static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(rows) > limits.maxPixels) {
        return "the picture is too large (" + sizeText(w, rows) + "; at most " +
               std::to_string(limits.maxPixels) + " pixels are supported)";
    }
    if (h < 0 && rle) {
        return "the bitmap is stored top-down, which run-length encoded bitmaps cannot be";
    }
    width = static_cast<int>(w);
    height = static_cast<int>(rows);
    topDown = h < 0;
    return std::nullopt;
}

// Reads the palette of a depth of 8 bits or less, which ends where the pixel data starts.
std::optional<std::string> Decoder::State::readPalette(HeaderKind headerKind,
                                                       std::uint32_t infoSize,
                                                       std::uint32_t colourCount,
                                                       std::uint32_t headersEnd) {
    // The colour count gives the palette's length (0: all that the depth allows); old
    // headers have none, and the palette fills the room before the pixel data. Either way
    // it ends where the pixel data starts.
    const std::uint32_t entry = headerKind == HeaderKind::Core ? 3 : 4;
    const std::uint32_t most = 1u << bits;
    std::uint32_t count = most;
    if (infoSize >= 36 && colourCount != 0) {
        count = std::min(colourCount, most);
    }
    count = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(count, (dataOffset - headersEnd) / entry));
    if (!fill(headersEnd + count * entry)) {
        return readError().value_or("the palette is cut short");
    }
    palette.fill(kBlack); // an index past the palette reads as black
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* e = &buffer[headersEnd + i * entry];
        palette[i] = kBlack | e[2] | (std::uint32_t{e[1]} << 8) | (std::uint32_t{e[0]} << 16);
    }
    return std::nullopt;
}

std::optional<std::string> Decoder::State::readHeader(const Limits& limits) {
    const std::optional<std::uint64_t> fileSize = source.remaining();
    const std::string cutShort = "the header is cut short";

    fill(kFileHeaderSize + 4);
    if (available() < 2 || buffer[0] != 'B' || buffer[1] != 'M') {
        if (auto e = readError()) {
            return e;
        }
        return std::string("not a bitmap (it does not start with \"BM\")");
    }
    if (available() < kFileHeaderSize + 4) {
        return cutShort;
    }
    dataOffset = u32(&buffer[10]);
    const std::uint32_t infoSize = u32(&buffer[kFileHeaderSize]);
    HeaderKind headerKind;
    if (infoSize == kCoreHeaderSize) {
        headerKind = HeaderKind::Core;
    } else if (infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 ||
               infoSize == 124) {
        headerKind = HeaderKind::Windows;
    } else if (infoSize >= 16 && infoSize <= 64) {
        headerKind = HeaderKind::Os2;
    } else {
        return "the bitmap's info header has an unknown size (" + std::to_string(infoSize) +
               " bytes)";
    }
    if (!fill(kFileHeaderSize + infoSize)) {
        return readError().value_or(cutShort);
    }
    // Fields past an OS/2 2.x header's given size are 0.
    std::array<std::uint8_t, 124> info{};
    std::memcpy(info.data(), &buffer[kFileHeaderSize], infoSize);
    std::uint32_t headersEnd = kFileHeaderSize + infoSize;

    std::int64_t w = 0;
    std::int64_t h = 0;
    int planes = 0;
    std::uint32_t compression = 0;
    std::uint32_t colourCount = 0;
    if (headerKind == HeaderKind::Core) {
        w = u16(&info[4]);
        h = u16(&info[6]);
        planes = u16(&info[8]);
        bits = u16(&info[10]);
    } else {
        w = static_cast<std::int32_t>(u32(&info[4]));
        h = static_cast<std::int32_t>(u32(&info[8]));
        planes = u16(&info[12]);
        bits = u16(&info[14]);
        compression = u32(&info[16]);
        colourCount = u32(&info[32]);
    }

    if (auto refused = refuseFormat(headerKind, planes, compression)) {
        return refused;
    }
    const auto c = static_cast<Compression>(compression);
    const bool fields = c == Compression::BitFields || c == Compression::AlphaBitFields;
    const bool rle = c == Compression::Rle8 || c == Compression::Rle4;

    // The extent, before anything is taken for the pixels.
    if (auto refused = setExtent(w, h, rle, limits)) {
        return refused;
    }

    // Bit masks: in the header from 52 bytes on, else in the 12 or 16 bytes after it.
    std::uint32_t red = 0;
    std::uint32_t green = 0;
    std::uint32_t blue = 0;
    std::uint32_t alphaField = 0;
    if (headerKind == HeaderKind::Windows && infoSize >= 56 && (fields || bits == 32)) {
        alphaField = u32(&info[52]);
    }
    if (fields) {
        if (infoSize >= 52) {
            red = u32(&info[40]);
            green = u32(&info[44]);
            blue = u32(&info[48]);
        } else {
            const std::uint32_t extra = c == Compression::AlphaBitFields ? 16 : 12;
            if (!fill(headersEnd + extra)) {
                return readError().value_or(cutShort);
            }
            red = u32(&buffer[headersEnd]);
            green = u32(&buffer[headersEnd + 4]);
            blue = u32(&buffer[headersEnd + 8]);
            if (c == Compression::AlphaBitFields) {
                alphaField = u32(&buffer[headersEnd + 12]);
            }
            headersEnd += extra;
        }
    }

    if (dataOffset < headersEnd) {
        return "the bitmap's pixel data offset (" + std::to_string(dataOffset) +
               ") points into its headers, which end at byte " + std::to_string(headersEnd);
    }
    if (fileSize && dataOffset > *fileSize) {
        return "the file is truncated: its pixel data should start at byte " +
               std::to_string(dataOffset) + ", but the file has only " + std::to_string(*fileSize) +
               " bytes";
    }

    if ((bits == 16 || bits == 32) && contiguous(alphaField)) {
        alphaMask = alphaField;
    }
    if (bits <= 8) {
        if (auto refused = readPalette(headerKind, infoSize, colourCount, headersEnd)) {
            return refused;
        }
        if (rle) {
            layout = c == Compression::Rle8 ? Layout::Rle8 : Layout::Rle4;
        } else {
            layout = Layout::Indexed;
        }
    } else if (bits == 24) {
        layout = Layout::Rgb24;
        rgb24 = bestDecode24();
    } else if (fields) {
        if (auto refused = setUpMasks(red, green, blue, true)) {
            return refused;
        }
    } else if (bits == 16) {
        setUpMasks(0x7C00, 0x03E0, 0x001F, false);
    } else {
        setUpMasks(0x00FF0000, 0x0000FF00, 0x000000FF, false);
    }

    if (!rle) {
        stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
        lastRowBytes = (static_cast<std::size_t>(width) * bits + 7) / 8;
        // A file too short for the pixel data its header claims is refused here, so that a
        // few bytes cannot claim a huge picture.
        const std::uint64_t need = dataOffset + std::uint64_t{stride} * (height - 1) + lastRowBytes;
        if (fileSize && need > *fileSize) {
            return "the file is truncated: its header claims " + sizeText(width, height) + " at " +
                   std::to_string(bits) + " bits per pixel, which need " + std::to_string(need) +
                   " bytes, but the file has only " + std::to_string(*fileSize) + " bytes";
        }
    }
    return std::nullopt;
}

// Makes the next row from the top the next buffered bytes of a file that stores its rows from
// the bottom. Each read takes the chunk of rows that ends with the one wanted, so the file is
// read backwards in large pieces.
std::optional<std::string> Decoder::State::findRowBackwards() {
    const int fileRow = height - 1 - rowsDone;
    const std::uint64_t at = dataOffset + std::uint64_t{stride} * static_cast<unsigned>(fileRow);
    const std::size_t length = fileRow == height - 1 ? lastRowBytes : stride;
    if (at < base || at + length > base + end) {
        const int rows = static_cast<int>(std::max<std::size_t>(1, kChunk / stride));
        const int first = std::max(0, fileRow - rows + 1);
        const std::uint64_t start =
            dataOffset + std::uint64_t{stride} * static_cast<unsigned>(first);
        const std::size_t want = static_cast<std::size_t>(at - start) + length;
        if (want > capacity) {
            buffer = std::make_unique<std::uint8_t[]>(want + kSlack); // zeroed
            capacity = want;
        }
        base = start;
        end = 0;
        atEnd = false;
        if (!source.seek(start)) {
            return "the file cannot be read (it cannot be positioned at byte " +
                   std::to_string(start) + ")";
        }
        while (end < want) {
            const std::size_t got = source.read({buffer.get() + end, want - end});
            end += got;
            if (got == 0 || source.error()) {
                break;
            }
        }
        if (auto e = readError()) {
            return e;
        }
        // The kernel reads ahead only forwards: the chunks before this one are asked for now,
        // so that they are on their way while this one is decoded.
        const std::uint64_t from = start - std::min(start - dataOffset, kReadBehind);
        const std::uint64_t to = std::min(start, askedFrom);
        if (from < to) {
            source.willRead(from, to - from);
            askedFrom = from;
        }
    }
    pos = std::min(static_cast<std::size_t>(at - base), end);
    return std::nullopt;
}

std::optional<std::string> Decoder::State::readUncompressedRow(Pixel* row,
                                                               const std::uint8_t** stored) {
    // The last row in the file need not carry its padding.
    const bool last = (backwards ? height - 1 - rowsDone : rowsDone) == height - 1;
    const std::size_t want = last ? lastRowBytes : stride;
    const std::uint8_t* in = nullptr;
    // A source that lends its memory is read only for what a row lacks: a row it lends whole
    // is decoded where it lies, one split between two pieces of its memory (or begun in the
    // buffer) is put together in the buffer.
    if (!backwards && available() < want && capacity >= stride && source.lends()) {
        exactReads = true;
    }
    if (exactReads && !backwards && available() == 0) {
        base += end;
        pos = end = 0;
        const std::span<const std::uint8_t> lent = source.lend(stride);
        if (lent.size() >= want) {
            base += lent.size();
            in = lent.data();
        } else {
            std::copy(lent.begin(), lent.end(), buffer.get());
            end = lent.size();
        }
    }
    if (!in) {
        if (!fill(want)) {
            if (auto e = readError()) {
                return e;
            }
            return "the file is truncated: pixel data ends at row " + std::to_string(rowsDone) +
                   " of " + std::to_string(height);
        }
        in = buffer.get() + pos;
        pos += std::min(stride, available());
    }
    if (stored) {
        if (layout == Layout::Rgb24 || layout == Layout::Rgb32 || layout == Layout::Masked16 ||
            (layout == Layout::Indexed && bits == 8)) {
            *stored = in;
            return std::nullopt;
        }
        if (layout == Layout::Indexed) {
            indices.resize(static_cast<std::size_t>(width));
            const int perByte = 8 / bits;
            const unsigned mask = (1u << bits) - 1;
            for (int x = 0; x < width; ++x) {
                const int shift = 8 - bits * (x % perByte + 1);
                indices[static_cast<std::size_t>(x)] =
                    static_cast<std::uint8_t>((in[x / perByte] >> shift) & mask);
            }
            *stored = indices.data();
            return std::nullopt;
        }
        *stored = reinterpret_cast<const std::uint8_t*>(row);
    }
    switch (layout) {
    case Layout::Rgb24:
        rgb24(in, row, width);
        break;
    case Layout::Rgb32:
        decode32(in, row, width);
        break;
    case Layout::Masked16:
        for (int x = 0; x < width; ++x) {
            row[x] = table16[u16(in + 2 * x)];
        }
        break;
    case Layout::Masked32:
        for (int x = 0; x < width; ++x) {
            const std::uint32_t word = u32(in + 4 * x);
            row[x] = (alpha.bits == 0 ? kBlack : alpha(word) << 24) | channels[0](word) |
                     (channels[1](word) << 8) | (channels[2](word) << 16);
        }
        break;
    case Layout::Indexed:
        if (bits == 8) {
            for (int x = 0; x < width; ++x) {
                row[x] = palette[in[x]];
            }
        } else {
            const int perByte = 8 / bits;
            const unsigned mask = (1u << bits) - 1;
            for (int x = 0; x < width; ++x) {
                const int shift = 8 - bits * (x % perByte + 1);
                row[x] = palette[(in[x / perByte] >> shift) & mask];
            }
        }
        break;
    case Layout::Rle8:
    case Layout::Rle4:
        break;
    }
    return std::nullopt;
}

// Decodes the run-length stream up to the end of this row. Pixels the stream does not reach
// stay white; runs past the right edge are clipped; a delta downwards ends the row and owes
// the rows it skips as white ones. Returns false when the data ends before the row does and
// before the end-of-picture code: a file cut short, unless this is the last row and it is full.
bool Decoder::State::readRleRow(Pixel* row) {
    std::fill(row, row + width, kWhite);
    if (rleEnded) {
        return true;
    }
    if (rleSkipRows > 0) {
        --rleSkipRows;
        return true;
    }
    const bool four = layout == Layout::Rle4;
    int x = rleX;
    auto put = [&](Pixel p) {
        if (x < width) {
            row[x++] = p;
        }
    };
    auto cut = [&] {
        rleEnded = true;
        return rowsDone == height - 1 && x >= width;
    };
    for (;;) {
        const int count = byte();
        const int value = byte();
        if (value < 0) {
            return cut();
        }
        if (count > 0) {
            // An encoded run: one index, or two alternating ones for RLE4.
            const int n = std::min(count, width - x);
            if (four) {
                const Pixel p[2] = {palette[value >> 4], palette[value & 0xF]};
                for (int i = 0; i < n; ++i) {
                    row[x + i] = p[i & 1];
                }
            } else {
                std::fill(row + x, row + x + n, palette[value]);
            }
            x += n;
            continue;
        }
        switch (value) {
        case 0: // end of line
            rleX = 0;
            return true;
        case 1: // end of picture
            rleEnded = true;
            return true;
        case 2: { // delta: right and down
            const int dx = byte();
            const int dy = byte();
            if (dy < 0) {
                return cut();
            }
            x = std::min(x + dx, width);
            if (dy > 0) {
                rleX = x;
                rleSkipRows = dy - 1;
                return true;
            }
            break;
        }
        default: { // an absolute run of `value` indexes, padded to a whole 16-bit word
            const int n = value;
            const int bytes = four ? (n + 1) / 2 : n;
            for (int i = 0; i < bytes; ++i) {
                const int b = byte();
                if (b < 0) {
                    return cut();
                }
                if (four) {
                    put(palette[b >> 4]);
                    if (2 * i + 1 < n) {
                        put(palette[b & 0xF]);
                    }
                } else {
                    put(palette[b]);
                }
            }
            if ((bytes & 1) != 0 && byte() < 0) {
                return cut();
            }
            break;
        }
        }
    }
}

bool looksLikeBitmap(std::span<const std::uint8_t> head) {
    return head.size() >= 2 && head[0] == 'B' && head[1] == 'M';
}

Decoder::Decoder(ByteSource& source, std::string file)
    : m_state(std::make_unique<State>(source, std::move(file))) {}

Decoder::~Decoder() = default;

std::optional<base::Error> Decoder::readHeader(const Limits& limits) {
    State& s = *m_state;
    if (s.headerRead) {
        return s.named(s.refusal);
    }
    s.headerRead = true;
    s.refusal = s.readHeader(limits);
    if (s.refusal) {
        s.width = 0;
        s.height = 0;
    }
    return s.named(s.refusal);
}

int Decoder::width() const {
    return m_state->width;
}

int Decoder::height() const {
    return m_state->height;
}

bool Decoder::topDown() const {
    return m_state->topDown;
}

int Decoder::nextRowY() const {
    const State& s = *m_state;
    return s.topDown || s.backwards ? s.rowsDone : s.height - 1 - s.rowsDone;
}

bool Decoder::readFromTop() {
    State& s = *m_state;
    if (!s.headerRead || s.refusal) {
        return false;
    }
    if (s.topDown || s.backwards) {
        return true;
    }
    // A move to where the source is already: it tells whether the source can seek at all.
    if (s.rowsDone > 0 || s.layout == Layout::Rle8 || s.layout == Layout::Rle4 ||
        !s.source.seek(s.base + s.end)) {
        return false;
    }
    s.backwards = true;
    return true;
}

bool Decoder::hasAlpha() const {
    return m_state->alphaMask != 0;
}

void Decoder::keepAlpha() {
    State& s = *m_state;
    if (s.alphaMask == 0 || s.alpha.bits != 0) {
        return;
    }
    s.alpha.setUp(s.alphaMask);
    s.setUpMasks(s.channels[0].mask, s.channels[1].mask, s.channels[2].mask, false);
}

Decoder::RowForm Decoder::rowForm() const {
    const State& s = *m_state;
    switch (s.layout) {
    case Layout::Rgb24:
        return RowForm::Bytes3;
    case Layout::Rgb32:
        return RowForm::Bytes4;
    case Layout::Indexed:
        return RowForm::Indices;
    case Layout::Masked16:
        return RowForm::Words16;
    default:
        return RowForm::Pixels;
    }
}

std::span<const Pixel> Decoder::wordColours() const {
    return m_state->table16;
}

std::span<const Pixel, 256> Decoder::palette() const {
    return m_state->palette;
}

std::optional<base::Error> Decoder::readRow(std::span<Pixel> row) {
    return m_state->named(m_state->readNextRow(row, nullptr));
}

std::optional<base::Error> Decoder::readStoredRow(std::span<Pixel> row,
                                                  const std::uint8_t*& bytes) {
    return m_state->named(m_state->readNextRow(row, &bytes));
}

std::optional<std::string> Decoder::State::readNextRow(std::span<Pixel> row,
                                                       const std::uint8_t** stored) {
    State& s = *this;
    if (!s.headerRead) {
        return std::string("the bitmap's header has not been read");
    }
    if (s.refusal) {
        return s.refusal;
    }
    if (s.rowsDone >= s.height) {
        return std::string("all rows of the bitmap have been read");
    }
    if (row.size() < static_cast<std::size_t>(s.width)) {
        return std::string("the row is too short for the bitmap's width");
    }
    if (s.backwards) {
        if (auto failed = s.findRowBackwards()) {
            s.refusal = failed;
            return failed;
        }
    }
    const bool rle = s.layout == Layout::Rle8 || s.layout == Layout::Rle4;
    if (s.rowsDone == 0 && s.position() < s.dataOffset) {
        // Past the headers, before the pixel data: skipped by reading. Data that ends here
        // fails at the first row.
        s.skip(s.dataOffset - s.position());
    }
    if (rle) {
        const bool whole = s.readRleRow(row.data());
        if (stored) {
            *stored = reinterpret_cast<const std::uint8_t*>(row.data());
        }
        if (auto e = s.readError()) {
            s.refusal = e;
            return e;
        }
        if (!whole) {
            s.refusal = "the file is truncated: run-length data ends at row " +
                        std::to_string(s.rowsDone) + " of " + std::to_string(s.height) +
                        ", before its end-of-picture code";
            return s.refusal;
        }
    } else if (auto failed = s.readUncompressedRow(row.data(), stored)) {
        s.refusal = failed;
        return failed;
    }
    ++s.rowsDone;
    return std::nullopt;
}

} // namespace bitmap
