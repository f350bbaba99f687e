#include "conversion/pipeline.h"

#include "bitmap/decoder.h"
#include "imaging/level_bits.h"
#include "imaging/tone.h"
#include "platform/large_buffer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace conversion {

PlaneSink::PlaneSink(imaging::Planes& planes, bool masked)
    : m_planes(planes), m_inPlace(planes.rowBits() % 8 == 0), m_masked(masked) {}

void PlaneSink::grow(int y) {
    const std::size_t reach = std::min(
        m_planes.planeBytes(), ((static_cast<std::size_t>(y) + 1) * m_planes.rowBits() + 7) / 8);
    if (m_planes.dark.size() < reach) {
        m_planes.dark.resize(reach);
        m_planes.light.resize(reach);
    }
    if (m_masked && m_planes.mask.size() < reach) {
        m_planes.mask.resize(reach);
    }
}

LevelSink::Place PlaneSink::place(int y) {
    if (!m_inPlace) {
        return {};
    }
    grow(y);
    const std::size_t at = static_cast<std::size_t>(y) * m_planes.rowBits() / 8;
    return {m_planes.dark.data() + at, m_planes.light.data() + at};
}

void PlaneSink::take(int y, const std::uint8_t* dark, const std::uint8_t* light) {
    if (m_inPlace) {
        return; // written in place
    }
    grow(y);
    const std::size_t bytes = (static_cast<std::size_t>(m_planes.width) + 7) / 8;
    imaging::setRowBytes(m_planes, y, {dark, bytes}, {light, bytes});
}

void PlaneSink::takeMask(int y, const std::uint8_t* opaque) {
    if (!m_masked) {
        return;
    }
    grow(y);
    const std::size_t bytes = (static_cast<std::size_t>(m_planes.width) + 7) / 8;
    imaging::setMaskRowBytes(m_planes, y, {opaque, bytes});
}

void PlaneSink::finish() {
    m_planes.dark.resize(m_planes.planeBytes());
    m_planes.light.resize(m_planes.planeBytes());
    if (m_masked) {
        m_planes.mask.resize(m_planes.planeBytes());
    }
}

void PaintSink::take(int y, const std::uint8_t* dark, const std::uint8_t* light) {
    m_canvas.paintLevelRow(y, dark, light);
    m_canvas.rowPainted(y);
}

void PaintSink::takeMask(int y, const std::uint8_t* opaque) {
    m_canvas.maskRow(y, opaque);
    m_canvas.rowPainted(y);
}

BitmapRows::BitmapRows(bitmap::Decoder& decoder, bool alpha)
    : m_decoder(decoder), m_alpha(alpha && decoder.hasAlpha()),
      m_row(static_cast<std::size_t>(decoder.width())) {
    if (m_alpha) {
        m_decoder.keepAlpha();
    }
}

int BitmapRows::width() const {
    return m_decoder.width();
}

int BitmapRows::height() const {
    return m_decoder.height();
}

RowForm BitmapRows::form() const {
    switch (m_decoder.rowForm()) {
    case bitmap::Decoder::RowForm::Bytes3:
        return RowForm::Bytes3;
    case bitmap::Decoder::RowForm::Indices:
        return RowForm::Indices;
    case bitmap::Decoder::RowForm::Bytes4:
        return RowForm::Bytes4;
    case bitmap::Decoder::RowForm::Words16:
        return m_keepWords ? RowForm::Words16 : RowForm::Pixels;
    case bitmap::Decoder::RowForm::Pixels:
        break;
    }
    return RowForm::Pixels;
}

std::span<const imaging::Pixel> BitmapRows::palette() const {
    return form() == RowForm::Words16 ? m_decoder.wordColours() : m_decoder.palette();
}

bool BitmapRows::turnFromTop() {
    return m_decoder.readFromTop();
}

bool BitmapRows::alpha() const {
    return m_alpha;
}

std::optional<base::Error> BitmapRows::next(SourceRow& row) {
    row.y = m_decoder.nextRowY();
    auto failed = m_decoder.readStoredRow(m_row, row.bytes);
    if (!failed && !m_keepWords && m_decoder.rowForm() == bitmap::Decoder::RowForm::Words16) {
        const std::span<const imaging::Pixel> colours = m_decoder.wordColours();
        for (std::size_t x = 0; x < m_row.size(); ++x) {
            m_row[x] = colours[static_cast<std::size_t>(row.bytes[2 * x]) |
                               static_cast<std::size_t>(row.bytes[2 * x + 1]) << 8];
        }
        row.bytes = reinterpret_cast<const std::uint8_t*>(m_row.data());
    }
    return failed;
}

std::optional<base::Error> PixelRows::next(SourceRow& row) {
    row.y = m_next++;
    row.bytes = reinterpret_cast<const std::uint8_t*>(m_row(row.y));
    return std::nullopt;
}

std::optional<base::Error> IndexRows::next(SourceRow& row) {
    row.y = m_next++;
    row.bytes = m_row(row.y);
    return std::nullopt;
}

PlanesRows::PlanesRows(const imaging::Planes& planes)
    : m_planes(planes), m_dark((static_cast<std::size_t>(planes.width) + 7) / 8),
      m_light(m_dark.size()) {}

std::optional<base::Error> PlanesRows::next(SourceRow& row) {
    row.y = m_next++;
    imaging::rowBytes(m_planes, row.y, m_dark, m_light);
    row.bytes = m_dark.data();
    row.light = m_light.data();
    return std::nullopt;
}

namespace {

// A source whose rows cannot come from the top, read whole as one byte of grey a pixel and then
// handed out from the top, for error diffusion.
class HeldGreys final : public RowSource {
  public:
    HeldGreys(RowSource& inner, std::function<void(const SourceRow&, std::uint8_t*)> makeGreys)
        : m_inner(inner), m_makeGreys(std::move(makeGreys)) {}
    int width() const override { return m_inner.width(); }
    int height() const override { return m_inner.height(); }
    RowForm form() const override { return RowForm::Greys; }
    bool masked() const override { return m_inner.masked(); }
    std::optional<base::Error> next(SourceRow& row) override {
        const auto width = static_cast<std::size_t>(m_inner.width());
        const std::size_t bits = (width + 7) / 8;
        if (!m_greys) {
            // Every byte is written before it is read.
            m_greys.emplace(width * static_cast<std::size_t>(m_inner.height()));
            if (masked()) {
                m_opaque.resize(bits * static_cast<std::size_t>(m_inner.height()));
            }
            for (int done = 0; done < m_inner.height(); ++done) {
                SourceRow stored;
                if (auto failed = m_inner.next(stored)) {
                    return failed;
                }
                const auto y = static_cast<std::size_t>(stored.y);
                m_makeGreys(stored, m_greys->data() + y * width);
                if (masked()) {
                    std::memcpy(m_opaque.data() + y * bits, stored.opaque, bits);
                }
            }
        }
        row.y = m_next++;
        row.bytes = m_greys->data() + static_cast<std::size_t>(row.y) * width;
        if (masked()) {
            row.opaque = m_opaque.data() + static_cast<std::size_t>(row.y) * bits;
        }
        return std::nullopt;
    }

  private:
    RowSource& m_inner;
    std::function<void(const SourceRow&, std::uint8_t*)> m_makeGreys;
    std::optional<platform::LargeBuffer> m_greys;
    std::vector<std::uint8_t> m_opaque;
    int m_next = 0;
};

// The sum r + g + b from which a pixel's average grey is `grey` or more, as the row kernels
// compare (0 for every sum, past 765 for none).
std::uint16_t sumEdge(int grey) {
    return grey <= 0 ? 0 : static_cast<std::uint16_t>(imaging::sumFrom(std::min(grey, 256)));
}

// The least grey whose toned grey is `toned` or more (256 for none): the tone table never falls,
// so an edge on the toned grey is an edge on the grey.
int untoned(int toned, const std::array<std::uint8_t, 256>& table) {
    const auto at = std::lower_bound(table.begin(), table.end(), toned);
    return static_cast<int>(at - table.begin());
}

// Reduces rows of one source to their level bits.
class Reducer {
  public:
    Reducer(const RowSource& source, const Reduction& how)
        : m_kernel(imaging::levelKernel()), m_form(source.form()),
          m_width(static_cast<std::size_t>(source.width())), m_method(how.method),
          m_ordered(how.method == imaging::Dither::Bayer), m_masked(source.masked()),
          m_frameWidth(how.frameWidth), m_frameHeight(how.frameHeight), m_tone(how.tone),
          m_toneTable(imaging::toneTable(how.tone)),
          m_palette(source.palette().begin(), source.palette().end()) {
        m_palette.resize(256, 0);
        // Today's rule, the greys averaged and banded at the fixed edges, runs the kernels as
        // they are; anything else moves the edges, or makes the greys first.
        m_plain = how.tone.grey == imaging::GreyRule::Average && how.tone.flat() &&
                  !how.tone.thresholds && !how.tone.levels;
        const imaging::Levels levels = imaging::levelsOf(how.tone);
        const std::array<int, 3> plainEdges = imaging::plainEdgesOf(how.tone);
        for (std::size_t k = 0; k < 3; ++k) {
            // Past the largest sum (255000) for an edge no grey reaches.
            const int grey = untoned(plainEdges[k], m_toneTable);
            m_lumaEdges[k] = grey == 0 ? 0u : static_cast<std::uint32_t>(1000 * grey - 500);
        }
        for (int y = 0; y < 8; ++y) {
            const auto row = static_cast<std::size_t>(y);
            if (m_plain) {
                m_edges[row] = m_ordered ? imaging::bayerEdges(y) : imaging::plainEdges();
                m_tonedEdges[row] = m_edges[row];
                continue;
            }
            const auto greyEdges = imaging::bayerGreyEdges(y, levels);
            for (std::size_t x = 0; x < 8; ++x) {
                for (std::size_t k = 0; k < 3; ++k) {
                    const int edge = m_ordered ? greyEdges[x][k] : plainEdges[k];
                    auto* const raw = k == 0   ? &m_edges[row].black
                                      : k == 1 ? &m_edges[row].dark
                                               : &m_edges[row].light;
                    auto* const toned = k == 0   ? &m_tonedEdges[row].black
                                        : k == 1 ? &m_tonedEdges[row].dark
                                                 : &m_tonedEdges[row].light;
                    (*raw)[x] = sumEdge(untoned(edge, m_toneTable));
                    (*toned)[x] = sumEdge(edge);
                }
            }
        }
        if (m_form == RowForm::Indices) {
            for (std::size_t i = 0; i < 256; ++i) {
                m_greyTable[i] = m_toneTable[static_cast<std::size_t>(pixelGrey(m_palette[i]))];
            }
            if (m_plain) {
                m_table = imaging::levelTable(m_palette);
            } else {
                // Bit 0 dark, bit 1 light, as the level table holds them.
                constexpr std::array<std::uint8_t, 4> kBits = {3, 1, 2, 0};
                std::array<std::uint8_t, 256> codes{};
                for (std::size_t i = 0; i < 256; ++i) {
                    const int grey = m_greyTable[i];
                    const int band = int{grey >= plainEdges[0]} + int{grey >= plainEdges[1]} +
                                     int{grey >= plainEdges[2]};
                    codes[i] = kBits[static_cast<std::size_t>(band)];
                }
                m_table = imaging::levelTable(codes);
            }
        }
        if (m_form == RowForm::Words16) {
            // Each 16-bit value's toned grey and level bits, so that a row is read as stored.
            const auto colours = source.palette();
            // The common layouts are read by arithmetic on the words, with no table.
            m_wordGreen = imaging::wordLayout(colours);
            m_wordGreys.resize(colours.size());
            m_wordBands.resize(colours.size());
            for (std::size_t i = 0; i < colours.size(); ++i) {
                const int grey = m_toneTable[static_cast<std::size_t>(pixelGrey(colours[i]))];
                m_wordGreys[i] = static_cast<std::uint8_t>(grey);
                m_wordBands[i] = static_cast<std::uint8_t>(int{grey >= plainEdges[0]} +
                                                           int{grey >= plainEdges[1]} +
                                                           int{grey >= plainEdges[2]});
            }
        }
        if (diffuses()) {
            // Frames and holes take a ditherer for each column of frames (or the one picture),
            // made anew at the top of each row of frames.
            m_split = m_masked || m_frameWidth > 0;
            m_levels = levels;
            if (!m_split) {
                m_ditherer.emplace(how.method, source.width(), levels);
            }
            m_greys.resize(m_width);
            m_opaque.resize(m_masked ? m_width : 0);
        }
        m_bands.resize(m_ordered && m_frameWidth % 8 != 0 ? m_width : 0);
        m_pixels.resize(m_width);
        m_rowGreys.resize(m_width);
    }

    bool diffuses() const { return imaging::diffusesError(m_method) && m_form != RowForm::Levels; }

    // The grey of each pixel of a row, by the grey rule and the tone; Greys rows are greys
    // already.
    void makeGreys(const SourceRow& row, std::uint8_t* greys) const {
        const bool luma = m_tone.grey == imaging::GreyRule::Luma;
        switch (m_form) {
        case RowForm::Bytes3:
        case RowForm::Bytes4:
        case RowForm::Pixels: {
            const std::size_t size = m_form == RowForm::Bytes3 ? 3 : 4;
            if (!luma) {
                (size == 3 ? m_kernel.greys3 : m_kernel.greys4)(row.bytes, m_width, greys);
            } else {
                // The bitmap forms store blue first, pixels red first.
                const std::size_t red = m_form == RowForm::Pixels ? 0 : 2;
                for (std::size_t x = 0; x < m_width; ++x) {
                    const std::uint8_t* p = row.bytes + x * size;
                    greys[x] = static_cast<std::uint8_t>(imaging::lumaOf(p[red], p[1], p[2 - red]));
                }
            }
            if (!m_tone.flat()) {
                for (std::size_t x = 0; x < m_width; ++x) {
                    greys[x] = m_toneTable[greys[x]];
                }
            }
            return;
        }
        case RowForm::Indices:
            for (std::size_t x = 0; x < m_width; ++x) {
                greys[x] = m_greyTable[row.bytes[x]];
            }
            return;
        case RowForm::Words16:
            lookUpWords(row.bytes, m_wordGreys.data(), greys);
            return;
        case RowForm::Greys:
        case RowForm::Levels:
            std::memcpy(greys, row.bytes, m_width);
            return;
        }
    }

    bool masked() const { return m_masked; }

    // Error diffusion of row y (rows in order from the top), the bands over the greys; `opaque`
    // the row's opaque pixels when the source is masked.
    void diffuse(int y, std::uint8_t* greys, const std::uint8_t* opaque) {
        diffuseRow(y, greys, opaque, greys);
    }

    // The level bits of bands, transparent pixels white.
    void bandBits(const std::uint8_t* bands, const std::uint8_t* opaque, std::uint8_t* dark,
                  std::uint8_t* light) const {
        imaging::bandBits(bands, m_width, dark, light);
        clearTransparent(opaque, dark, light);
    }

    // Row's level bits, by any method; diffusion takes its rows in order from the top.
    void levels(const SourceRow& row, std::uint8_t* dark, std::uint8_t* light) {
        levelsOf(row, dark, light);
        clearTransparent(row.opaque, dark, light);
    }

  private:
    void clearTransparent(const std::uint8_t* opaque, std::uint8_t* dark,
                          std::uint8_t* light) const {
        if (opaque == nullptr) {
            return;
        }
        // Eight bytes at a time: a byte loop here cost more than the rest of a plain row.
        const std::size_t bytes = (m_width + 7) / 8;
        std::size_t k = 0;
        for (; k + 8 <= bytes; k += 8) {
            std::uint64_t d;
            std::uint64_t l;
            std::uint64_t o;
            std::memcpy(&d, dark + k, 8);
            std::memcpy(&l, light + k, 8);
            std::memcpy(&o, opaque + k, 8);
            d &= o;
            l &= o;
            std::memcpy(dark + k, &d, 8);
            std::memcpy(light + k, &l, 8);
        }
        for (; k < bytes; ++k) {
            dark[k] &= opaque[k];
            light[k] &= opaque[k];
        }
    }

    void diffuseRow(int y, const std::uint8_t* greys, const std::uint8_t* opaqueBits,
                    std::uint8_t* bands) {
        if (!m_split) {
            m_ditherer->diffuseGreys(y, greys, bands);
            return;
        }
        const std::size_t across =
            m_frameWidth > 0 ? static_cast<std::size_t>(m_frameWidth) : m_width;
        const int down = m_frameHeight > 0 ? m_frameHeight : INT_MAX;
        if (m_ditherers.empty() || y / down != m_frameRow) {
            m_ditherers.clear();
            for (std::size_t x = 0; x < m_width; x += across) {
                m_ditherers.emplace_back(
                    m_method, static_cast<int>(std::min(across, m_width - x)), m_levels,
                    m_masked ? imaging::Ditherer::Holes::Yes : imaging::Ditherer::Holes::No);
            }
            m_frameRow = y / down;
        }
        const std::uint8_t* opaque = nullptr;
        if (m_masked && opaqueBits != nullptr) {
            for (std::size_t x = 0; x < m_width; ++x) {
                m_opaque[x] = static_cast<std::uint8_t>((opaqueBits[x / 8] >> (7 - x % 8)) & 1u);
            }
            opaque = m_opaque.data();
        }
        for (std::size_t c = 0; c < m_ditherers.size(); ++c) {
            const std::size_t at = c * across;
            m_ditherers[c].diffuseGreys(y % down, greys + at, opaque ? opaque + at : nullptr,
                                        bands + at);
        }
    }

    // Ordered dithering whose matrix starts again at each frame's left edge, where the frames'
    // width is no whole number of the matrix's: pixel by pixel, on the greys.
    void orderedInFrames(const SourceRow& row, std::size_t phase, std::uint8_t* dark,
                         std::uint8_t* light) {
        makeGreys(row, m_rowGreys.data());
        const imaging::BandEdges& edges = m_tonedEdges[phase];
        const auto across = static_cast<std::size_t>(m_frameWidth);
        for (std::size_t x = 0; x < m_width; ++x) {
            const std::size_t k = x % across % 8;
            const unsigned sum = 3u * m_rowGreys[x];
            m_bands[x] =
                static_cast<std::uint8_t>(int{sum >= edges.black[k]} + int{sum >= edges.dark[k]} +
                                          int{sum >= edges.light[k]});
        }
        imaging::bandBits(m_bands.data(), m_width, dark, light);
    }

    void levelsOf(const SourceRow& row, std::uint8_t* dark, std::uint8_t* light) {
        if (m_form == RowForm::Levels) {
            const std::size_t bytes = (m_width + 7) / 8;
            std::memcpy(dark, row.bytes, bytes);
            std::memcpy(light, row.light, bytes);
            return;
        }
        if (diffuses()) {
            const std::uint8_t* greys = row.bytes;
            if (m_form != RowForm::Greys) {
                makeGreys(row, m_greys.data());
                greys = m_greys.data();
            }
            diffuseRow(row.y, greys, row.opaque, m_greys.data());
            imaging::bandBits(m_greys.data(), m_width, dark, light);
            return;
        }
        const auto phase =
            static_cast<std::size_t>((m_frameHeight > 0 ? row.y % m_frameHeight : row.y) & 7);
        if (m_ordered && m_frameWidth % 8 != 0) {
            orderedInFrames(row, phase, dark, light);
            return;
        }
        const bool luma = m_tone.grey == imaging::GreyRule::Luma;
        if (m_form == RowForm::Words16 && m_wordGreen != 0 && !luma) {
            m_kernel.words16(row.bytes, m_width, m_wordGreen, m_edges[phase], dark, light);
            return;
        }
        if (m_form == RowForm::Words16 && !m_ordered) {
            lookUpWords(row.bytes, m_wordBands.data(), m_rowGreys.data());
            imaging::bandBits(m_rowGreys.data(), m_width, dark, light);
            return;
        }
        if (luma && !m_ordered &&
            (m_form == RowForm::Bytes3 || m_form == RowForm::Bytes4 || m_form == RowForm::Pixels)) {
            lumaBands(row.bytes, m_rowGreys.data());
            imaging::bandBits(m_rowGreys.data(), m_width, dark, light);
            return;
        }
        if (m_form == RowForm::Greys || m_form == RowForm::Words16 ||
            (luma && m_form != RowForm::Indices)) {
            // A grey g as the pixel (g, g, g), whose grey average is g again.
            const std::uint8_t* greys = row.bytes;
            if (m_form != RowForm::Greys) {
                makeGreys(row, m_rowGreys.data());
                greys = m_rowGreys.data();
            }
            for (std::size_t x = 0; x < m_width; ++x) {
                m_pixels[x] = imaging::Pixel{greys[x]} * 0x010101u;
            }
            edged(reinterpret_cast<const std::uint8_t*>(m_pixels.data()), 4, m_tonedEdges[phase],
                  dark, light);
            return;
        }
        if (m_form == RowForm::Indices) {
            if (!m_ordered) {
                m_kernel.indexed(row.bytes, m_width, m_table, dark, light);
                return;
            }
            // The greys of the palette's colours, as pixels of that grey.
            for (std::size_t x = 0; x < m_width; ++x) {
                m_pixels[x] = imaging::Pixel{m_greyTable[row.bytes[x]]} * 0x010101u;
            }
            edged(reinterpret_cast<const std::uint8_t*>(m_pixels.data()), 4,
                  m_plain ? m_edges[phase] : m_tonedEdges[phase], dark, light);
            return;
        }
        const std::size_t size = m_form == RowForm::Bytes3 ? 3 : 4;
        if (m_plain && !m_ordered) {
            (size == 3 ? m_kernel.bytes3 : m_kernel.bytes4)(row.bytes, m_width, dark, light);
            return;
        }
        edged(row.bytes, size, m_edges[phase], dark, light);
    }

  private:
    // The plain bands of a row by the luma rule, on the weighted sum 299 r + 587 g + 114 b
    // itself: its grey (sum + 500) / 1000 reaches an untoned edge e exactly when the sum reaches
    // 1000 e - 500, so neither the division nor the tone table is needed per pixel.
    void lumaBands(const std::uint8_t* pixels, std::uint8_t* bands) const {
        const std::size_t size = m_form == RowForm::Bytes3 ? 3 : 4;
        // The bitmap forms store blue first, pixels red first.
        const std::size_t red = m_form == RowForm::Pixels ? 0 : 2;
        const std::size_t blue = 2 - red;
        const std::uint32_t t0 = m_lumaEdges[0];
        const std::uint32_t t1 = m_lumaEdges[1];
        const std::uint32_t t2 = m_lumaEdges[2];
        const std::size_t width = m_width;
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t* p = pixels + x * size;
            const std::uint32_t sum = 299u * p[red] + 587u * p[1] + 114u * p[blue];
            bands[x] = static_cast<std::uint8_t>(
                std::uint32_t{sum >= t0} + std::uint32_t{sum >= t1} + std::uint32_t{sum >= t2});
        }
    }

    // The table's entry for each 16-bit value of a row. Pointers held in locals: a byte store
    // may alias anything, which would reload them at every pixel.
    void lookUpWords(const std::uint8_t* words, const std::uint8_t* table,
                     std::uint8_t* out) const {
        const std::size_t width = m_width;
        for (std::size_t x = 0; x < width; ++x) {
            std::uint16_t word;
            std::memcpy(&word, words + 2 * x, 2);
            out[x] = table[word];
        }
    }

    void edged(const std::uint8_t* in, std::size_t size, const imaging::BandEdges& edges,
               std::uint8_t* dark, std::uint8_t* light) const {
        (size == 3 ? m_kernel.edged3 : m_kernel.edged4)(in, m_width, edges, dark, light);
    }

    // A palette colour's grey by the grey rule (red in its low byte).
    int pixelGrey(imaging::Pixel pixel) const {
        if (m_tone.grey == imaging::GreyRule::Luma) {
            return imaging::lumaOf(pixel & 0xFF, (pixel >> 8) & 0xFF, (pixel >> 16) & 0xFF);
        }
        return imaging::greyAverage(static_cast<imaging::Colour>(pixel & imaging::kColourMask));
    }

    const imaging::LevelKernel& m_kernel;
    RowForm m_form;
    std::size_t m_width;
    imaging::Dither m_method;
    bool m_ordered;
    bool m_masked;
    int m_frameWidth;
    int m_frameHeight;
    imaging::Tone m_tone;
    std::array<std::uint8_t, 256> m_toneTable;
    bool m_plain = true;
    std::vector<imaging::Pixel> m_palette;
    // Per row phase: the edges on the byte sum of a pixel (the tone folded in), and on a grey
    // already toned.
    std::array<imaging::BandEdges, 8> m_edges{};
    std::array<imaging::BandEdges, 8> m_tonedEdges{};
    imaging::LevelTable m_table{};
    std::array<std::uint8_t, 256> m_greyTable{};
    std::array<std::uint32_t, 3> m_lumaEdges{}; // the plain bands' edges on the luma sum
    unsigned m_wordGreen = 0; // Words16: the green bits of a layout the kernel reads, or 0
    std::vector<std::uint8_t> m_wordGreys; // Words16: each value's toned grey
    std::vector<std::uint8_t> m_wordBands; // and its band (0 black to 3 white)
    std::optional<imaging::Ditherer> m_ditherer;
    bool m_split = false;
    imaging::Levels m_levels{};
    std::vector<imaging::Ditherer> m_ditherers;
    int m_frameRow = 0;
    std::vector<std::uint8_t> m_opaque;
    std::vector<std::uint8_t> m_bands;
    std::vector<std::uint8_t> m_greys;
    std::vector<std::uint8_t> m_rowGreys;
    std::vector<imaging::Pixel> m_pixels;
};

// Hands row y's bits to the sinks: made in the first sink's place if it has one, else in the
// scratch rows.
template <class Make>
void deliver(int y, std::span<LevelSink* const> sinks, std::vector<std::uint8_t>& dark,
             std::vector<std::uint8_t>& light, const std::uint8_t* opaque, Make&& make) {
    LevelSink::Place place = sinks.empty() ? LevelSink::Place{} : sinks.front()->place(y);
    if (place.dark == nullptr) {
        place = {dark.data(), light.data()};
    }
    make(place.dark, place.light);
    for (LevelSink* sink : sinks) {
        sink->take(y, place.dark, place.light);
        if (opaque != nullptr) {
            sink->takeMask(y, opaque);
        }
    }
}

using RunResult = base::Result<imaging::Flow>;

// Each row in turn on this thread.
RunResult runInTurn(RowSource& source, Reducer& reducer, std::span<LevelSink* const> sinks,
                    const Pacing& pacing) {
    const int height = source.height();
    const std::size_t bytes = (static_cast<std::size_t>(source.width()) + 7) / 8;
    std::vector<std::uint8_t> dark(bytes);
    std::vector<std::uint8_t> light(bytes);
    for (int done = 0; done < height; ++done) {
        SourceRow row;
        if (auto failed = source.next(row)) {
            return std::move(*failed);
        }
        deliver(row.y, sinks, dark, light, row.opaque,
                [&](std::uint8_t* d, std::uint8_t* l) { reducer.levels(row, d, l); });
        pacing.progress.reportRowsDone(static_cast<std::int16_t>(done + 1));
        if ((done + 1 < height || pacing.lastYield == LastYield::Yes) &&
            pacing.progress.yield() == imaging::Flow::Stop) {
            return imaging::Flow::Stop;
        }
    }
    return imaging::Flow::Continue;
}

// Error diffusion of rows that come from the top, on two threads: a second one reads the rows
// and makes their greys a few rows ahead, and makes the level bits of the rows diffused, so that
// only the diffusion is left on this one. Each row's bands take the place of its greys in the
// ring, where the reader finds them before it fills the slot again.
RunResult diffuseAhead(RowSource& source, Reducer& reducer, std::span<LevelSink* const> sinks,
                       const Pacing& pacing, const std::string& name) {
    const auto width = static_cast<std::size_t>(source.width());
    const int height = source.height();
    // About a megabyte of rows in turn, at least four.
    const int depth = static_cast<int>(std::clamp<std::size_t>((1u << 20) / width, 4, 256));
    // Each slot: a row's greys, then its opaque pixels' bits when the source is masked.
    const std::size_t bits = reducer.masked() ? (width + 7) / 8 : 0;
    const std::size_t stride = width + bits;
    std::vector<std::uint8_t> ring(stride * static_cast<std::size_t>(depth));
    auto slot = [&](int y) { return ring.data() + static_cast<std::size_t>(y % depth) * stride; };
    auto opaque = [&](int y) -> const std::uint8_t* {
        return bits > 0 ? slot(y) + width : nullptr;
    };
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
    auto deliverBands = [&](int y, std::vector<std::uint8_t>& dark,
                            std::vector<std::uint8_t>& light) {
        deliver(y, sinks, dark, light, opaque(y), [&](std::uint8_t* d, std::uint8_t* l) {
            reducer.bandBits(slot(y), opaque(y), d, l);
        });
    };
    std::optional<base::Error> failure;
    std::thread reader([&] {
        try {
            std::vector<std::uint8_t> dark((width + 7) / 8);
            std::vector<std::uint8_t> light(dark.size());
            for (int y = 0; y < height; ++y) {
                waitUntil([&] { return y - used.load(std::memory_order_acquire) < depth; });
                if (used.load(std::memory_order_acquire) >= height) {
                    return;
                }
                if (y >= depth) {
                    deliverBands(y - depth, dark, light);
                }
                SourceRow row;
                if ((failure = source.next(row))) {
                    break;
                }
                reducer.makeGreys(row, slot(y));
                if (bits > 0) {
                    std::memcpy(slot(y) + width, row.opaque, bits);
                }
                advance(made, y + 1, wakes(y + 1));
            }
        } catch (const std::bad_alloc&) {
            failure = base::noMemory(name, "to convert it");
        }
        if (failure) {
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
    for (int y = 0; y < height; ++y) {
        waitUntil([&] {
            const int ready = made.load(std::memory_order_acquire);
            return ready == kFailed || ready > y;
        });
        if (made.load(std::memory_order_acquire) == kFailed) {
            return std::move(*failure);
        }
        reducer.diffuse(y, slot(y), opaque(y));
        advance(used, y + 1, wakes(y + 1));
        pacing.progress.reportRowsDone(static_cast<std::int16_t>(y + 1));
        if ((y + 1 < height || pacing.lastYield == LastYield::Yes) &&
            pacing.progress.yield() == imaging::Flow::Stop) {
            return imaging::Flow::Stop;
        }
    }
    // The reader delivered every row whose slot it filled again, before it made the last row:
    // the rest are still in the ring.
    std::vector<std::uint8_t> dark((width + 7) / 8);
    std::vector<std::uint8_t> light(dark.size());
    for (int y = std::max(height - depth, 0); y < height; ++y) {
        deliverBands(y, dark, light);
    }
    return imaging::Flow::Continue;
}

} // namespace

std::function<void(const SourceRow&, std::uint8_t*)> greyMaker(const RowSource& source,
                                                               const Reduction& how) {
    auto reducer = std::make_shared<Reducer>(source, how);
    return [reducer](const SourceRow& row, std::uint8_t* greys) { reducer->makeGreys(row, greys); };
}

base::Result<imaging::Flow> runRows(RowSource& source, const Reduction& how,
                                    std::span<LevelSink* const> sinks, const Pacing& pacing,
                                    const std::string& name) {
    try {
        pacing.progress.reportTotal(static_cast<std::int16_t>(source.height()));
        if (pacing.progress.yield() == imaging::Flow::Stop) {
            return imaging::Flow::Stop;
        }
        Reducer reducer(source, how);
        if (!reducer.diffuses()) {
            return runInTurn(source, reducer, sinks, pacing);
        }
        if (source.height() > 1 && !source.turnFromTop()) {
            HeldGreys held(source, [&](const SourceRow& row, std::uint8_t* greys) {
                reducer.makeGreys(row, greys);
            });
            Reducer fromGreys(held, how);
            return runInTurn(held, fromGreys, sinks, pacing);
        }
        if (pacing.threads) {
            try {
                return diffuseAhead(source, reducer, sinks, pacing, name);
            } catch (const std::system_error&) {
                // No thread to be had: the rows in turn on this one.
            }
        }
        return runInTurn(source, reducer, sinks, pacing);
    } catch (const std::bad_alloc&) {
        return base::noMemory(name, "to convert it");
    }
}

} // namespace conversion
