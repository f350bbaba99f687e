#include "conversion/stages.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace conversion {
namespace {

constexpr int kMaxSide = 32767;

std::size_t bytesOf(RowForm form) {
    switch (form) {
    case RowForm::Bytes3:
        return 3;
    case RowForm::Bytes4:
    case RowForm::Pixels:
        return 4;
    case RowForm::Words16:
        return 2;
    case RowForm::Indices:
    case RowForm::Greys:
    case RowForm::Levels:
        break;
    }
    return 1;
}

bool isColour(RowForm form) {
    return form == RowForm::Bytes3 || form == RowForm::Bytes4 || form == RowForm::Pixels;
}

// a * b / c rounded to the nearest, halves up.
std::int64_t scaled(std::int64_t a, std::int64_t b, std::int64_t c) {
    return (2 * a * b + c) / (2 * c);
}

// floor(v / 2), also for negative v.
std::int64_t halfDown(std::int64_t v) {
    return v >= 0 ? v / 2 : -((1 - v) / 2);
}

} // namespace

base::Result<Placement> placementOf(int width, int height, const Geometry& geometry,
                                    const std::string& name) {
    const std::int64_t w = width;
    const std::int64_t h = height;
    std::int64_t outW = geometry.width;
    std::int64_t outH = geometry.height;
    std::int64_t scaledW = outW;
    std::int64_t scaledH = outH;
    if (outH == 0) {
        outH = scaledH = std::max<std::int64_t>(1, scaled(h, outW, w));
    } else if (outW == 0) {
        outW = scaledW = std::max<std::int64_t>(1, scaled(w, outH, h));
    } else if (geometry.fit != Fit::Stretch) {
        // The side whose scale is the smaller one fits for Contain, the larger for Cover.
        const bool byWidth = (outW * h <= outH * w) == (geometry.fit == Fit::Contain);
        if (byWidth) {
            scaledH = std::max<std::int64_t>(1, scaled(h, outW, w));
        } else {
            scaledW = std::max<std::int64_t>(1, scaled(w, outH, h));
        }
    }
    if (outW > kMaxSide || outH > kMaxSide) {
        return base::Error{name,
                           "sized to keep its aspect ratio it would be " + std::to_string(outW) +
                               " x " + std::to_string(outH) + " pixels, more than 32767 a side",
                           base::ErrorKind::Usage};
    }
    Placement placement;
    placement.width = static_cast<int>(outW);
    placement.height = static_cast<int>(outH);
    // Cover's scaled extent may pass 32767 (only its centre is shown); a pixel count fits.
    placement.scaledWidth = static_cast<int>(std::min<std::int64_t>(scaledW, INT32_MAX / 4));
    placement.scaledHeight = static_cast<int>(std::min<std::int64_t>(scaledH, INT32_MAX / 4));
    placement.left = static_cast<int>(halfDown(outW - scaledW));
    placement.top = static_cast<int>(halfDown(outH - scaledH));
    return placement;
}

TurnRows::TurnRows(RowSource& inner, const Geometry& geometry, GreyMaker greys, std::string name)
    : m_inner(inner), m_name(std::move(name)), m_across(geometry.quarterTurns % 2 == 1),
      m_in(bytesOf(inner.form())) {
    if (m_across && isColour(inner.form())) {
        m_greys = std::move(greys);
    }
    const int turns = geometry.quarterTurns;
    // Where source pixel (x, y) lands. Half turn: (W-1-x, H-1-y). Across, a quarter turn
    // clockwise: (H-1-y, x); three quarters: (y, W-1-x). The flips mirror the result.
    m_mirrorX = (m_across ? turns == 1 : turns == 2) != geometry.flipLeftRight;
    m_mirrorY = (m_across ? turns == 3 : turns == 2) != geometry.flipTopBottom;
    m_out = m_greys ? 1 : m_in;
}

int TurnRows::width() const {
    return m_across ? m_inner.height() : m_inner.width();
}

int TurnRows::height() const {
    return m_across ? m_inner.width() : m_inner.height();
}

RowForm TurnRows::form() const {
    return m_greys ? RowForm::Greys : m_inner.form();
}

bool TurnRows::turnFromTop() {
    // Held rows come from the top; turned rows come in the inner order, upside down.
    return m_across || (!m_mirrorY && m_inner.turnFromTop());
}

namespace {

#if defined(__SSE2__)
// Transposes 16 x 16 bytes: byte c of row r goes to byte r of row c. Each pass interleaves the
// rows in pairs (r, r + 8), which moves the bits of a byte's place one step through its row
// number and column; four passes swap them.
void transpose16(const std::uint8_t* const* rows, std::uint8_t* const* columns) {
    __m128i a[16];
    __m128i b[16];
    for (int r = 0; r < 16; ++r) {
        a[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r]));
    }
    for (int pass = 0; pass < 4; ++pass) {
        for (int i = 0; i < 8; ++i) {
            b[2 * i] = _mm_unpacklo_epi8(a[i], a[i + 8]);
            b[2 * i + 1] = _mm_unpackhi_epi8(a[i], a[i + 8]);
        }
        std::copy(std::begin(b), std::end(b), std::begin(a));
    }
    for (int c = 0; c < 16; ++c) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(columns[c]), a[c]);
    }
}
#endif

// Writes a band of rows of one byte a pixel into the held picture as columns: pixel x of band
// row k goes to result row x (from the bottom when `mirrored`), column `columns[k]`, the band's
// rows landing on the consecutive columns from `first`. 16 x 16 bytes at a time where the band is
// whole, so each result row is written 16 bytes at once.
void bandToRun(const std::uint8_t* band, std::size_t inRow, int rows, const int* columns, int first,
               int width, bool mirrored, std::uint8_t* held, std::size_t outRow) {
    constexpr int kTile = 16;
    // The band's rows in the order of the columns they land on.
    std::array<const std::uint8_t*, 32> from{};
    for (int k = 0; k < rows; ++k) {
        from[static_cast<std::size_t>(columns[k] - first)] =
            band + static_cast<std::size_t>(k) * inRow;
    }
    auto target = [&](int x) {
        return held + static_cast<std::size_t>(mirrored ? width - 1 - x : x) * outRow + first;
    };
    int x0 = 0;
#if defined(__SSE2__)
    if (rows % kTile == 0) {
        std::array<const std::uint8_t*, kTile> in{};
        std::array<std::uint8_t*, kTile> out{};
        for (; x0 + kTile <= width; x0 += kTile) {
            for (int j0 = 0; j0 < rows; j0 += kTile) {
                for (int r = 0; r < kTile; ++r) {
                    in[static_cast<std::size_t>(r)] = from[static_cast<std::size_t>(j0 + r)] + x0;
                    out[static_cast<std::size_t>(r)] = target(x0 + r) + j0;
                }
                transpose16(in.data(), out.data());
            }
        }
    }
#endif
    for (int x = x0; x < width; ++x) {
        std::uint8_t* to = target(x);
        for (int j = 0; j < rows; ++j) {
            to[j] = from[static_cast<std::size_t>(j)][x];
        }
    }
}

} // namespace

std::optional<base::Error> TurnRows::hold() {
    const int innerW = m_inner.width();
    const int innerH = m_inner.height();
    if (m_out != 1) {
        return base::Error{m_name, "its colours cannot be turned without their greys"};
    }
    const auto outRow = static_cast<std::size_t>(innerH) * m_out;
    m_held.emplace(outRow * static_cast<std::size_t>(innerW));
    // A band of rows at a time, so that each result row is written a run of pixels at once
    // rather than a pixel for every source row.
    constexpr int kBand = 32;
    // One byte a pixel: greys, made as the rows come, or palette indices.
    const auto inRow = static_cast<std::size_t>(innerW);
    std::vector<std::uint8_t> band(inRow * kBand);
    std::array<int, kBand> columns{};
    for (int done = 0; done < innerH;) {
        const int rows = std::min(kBand, innerH - done);
        for (int k = 0; k < rows; ++k) {
            SourceRow row;
            if (auto failed = m_inner.next(row)) {
                return failed;
            }
            std::uint8_t* to = band.data() + static_cast<std::size_t>(k) * inRow;
            if (m_greys) {
                m_greys(row, to);
            } else {
                std::memcpy(to, row.bytes, inRow);
            }
            columns[static_cast<std::size_t>(k)] = m_mirrorX ? innerH - 1 - row.y : row.y;
        }
        const auto [low, high] = std::minmax_element(columns.begin(), columns.begin() + rows);
        if (*high - *low + 1 != rows) {
            return base::Error{m_name, "its rows came out of order"};
        }
        bandToRun(band.data(), inRow, rows, columns.data(), *low, innerW, m_mirrorY, m_held->data(),
                  outRow);
        done += rows;
    }
    return std::nullopt;
}

std::optional<base::Error> TurnRows::next(SourceRow& row) {
    if (m_across) {
        if (!m_held) {
            if (auto failed = hold()) {
                return failed;
            }
        }
        row.y = m_next++;
        row.bytes = m_held->data() +
                    static_cast<std::size_t>(row.y) * static_cast<std::size_t>(width()) * m_out;
        return std::nullopt;
    }
    if (auto failed = m_inner.next(row)) {
        return failed;
    }
    if (m_mirrorY) {
        row.y = m_inner.height() - 1 - row.y;
    }
    if (m_mirrorX) {
        const auto w = static_cast<std::size_t>(m_inner.width());
        m_row.resize(w * m_in);
        for (std::size_t x = 0; x < w; ++x) {
            std::memcpy(m_row.data() + (w - 1 - x) * m_in, row.bytes + x * m_in, m_in);
        }
        row.bytes = m_row.data();
    }
    return std::nullopt;
}

ResizeRows::Axis ResizeRows::axis(int source, int scaled, int start, int size) {
    Axis axis;
    axis.first.assign(static_cast<std::size_t>(size), 0);
    axis.count.assign(static_cast<std::size_t>(size), 0);
    axis.offset.assign(static_cast<std::size_t>(size), 0);
    const bool shrinks = scaled < source;
    axis.total = shrinks ? static_cast<std::uint32_t>(source) : 1;
    const std::int64_t s = source;
    const std::int64_t d = scaled;
    for (int at = 0; at < size; ++at) {
        const std::int64_t e = std::int64_t{at} - start; // the pixel of the scaled picture
        const auto i = static_cast<std::size_t>(at);
        axis.offset[i] = static_cast<int>(axis.weights.size());
        if (e < 0 || e >= d) {
            continue;
        }
        if (!shrinks) {
            axis.first[i] = static_cast<int>((2 * e + 1) * s / (2 * d));
            axis.count[i] = 1;
            axis.weights.push_back(1);
            continue;
        }
        // In units where source pixel k spans [k d, (k + 1) d) and this pixel [e s, (e + 1) s).
        const std::int64_t from = e * s;
        const std::int64_t to = (e + 1) * s;
        const std::int64_t low = from / d;
        const std::int64_t high = (to - 1) / d;
        axis.first[i] = static_cast<int>(low);
        axis.count[i] = static_cast<int>(high - low + 1);
        for (std::int64_t k = low; k <= high; ++k) {
            axis.weights.push_back(
                static_cast<std::uint32_t>(std::min(to, (k + 1) * d) - std::max(from, k * d)));
        }
    }
    return axis;
}

ResizeRows::Axis ResizeRows::mirrored(const Axis& axis, int source) {
    Axis turned;
    turned.total = axis.total;
    const std::size_t size = axis.count.size();
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t from = size - 1 - i;
        const int count = axis.count[from];
        turned.first.push_back(count == 0 ? 0 : source - (axis.first[from] + count));
        turned.count.push_back(count);
        turned.offset.push_back(static_cast<int>(turned.weights.size()));
        for (int k = count - 1; k >= 0; --k) {
            turned.weights.push_back(axis.weights[static_cast<std::size_t>(axis.offset[from] + k)]);
        }
    }
    return turned;
}

ResizeRows::ResizeRows(RowSource& inner, const Placement& placement, imaging::Colour background,
                       std::string name)
    : ResizeRows(inner, axis(inner.width(), placement.scaledWidth, placement.left, placement.width),
                 axis(inner.height(), placement.scaledHeight, placement.top, placement.height),
                 background, std::move(name)) {}

ResizeRows::ResizeRows(RowSource& inner, Axis columns, Axis rows, imaging::Colour background,
                       std::string name)
    : m_inner(inner), m_name(std::move(name)), m_width(static_cast<int>(columns.count.size())),
      m_height(static_cast<int>(rows.count.size())), m_columns(std::move(columns)),
      m_rows(std::move(rows)),
      m_swap(inner.form() == RowForm::Bytes3 || inner.form() == RowForm::Bytes4) {
    const auto w = static_cast<std::size_t>(m_width);
    m_background.resize(w * 4);
    for (std::size_t x = 0; x < w; ++x) {
        m_background[4 * x] = static_cast<std::uint8_t>(background & 0xFF);
        m_background[4 * x + 1] = static_cast<std::uint8_t>((background >> 8) & 0xFF);
        m_background[4 * x + 2] = static_cast<std::uint8_t>((background >> 16) & 0xFF);
        m_background[4 * x + 3] = 0xFF;
    }
    m_out = m_background;
    m_step = bytesOf(inner.form()) == 4 ? 4 : 3;
    const std::size_t values = static_cast<std::size_t>(inner.width()) * m_step;
    m_down.resize(values);
    m_keep.resize(values);
    if (!isColour(inner.form())) {
        m_expanded.resize(static_cast<std::size_t>(inner.width()) * 3);
        m_colours.resize(256 * 3);
        const auto palette = inner.palette();
        for (std::size_t i = 0; i < 256; ++i) {
            const imaging::Pixel p = inner.form() == RowForm::Indices
                                         ? (i < palette.size() ? palette[i] : 0)
                                         : static_cast<imaging::Pixel>(i * 0x010101u);
            for (std::size_t c = 0; c < 3; ++c) {
                m_colours[3 * i + c] = static_cast<std::uint8_t>(p >> (8 * c));
            }
        }
    }
}

// The bytes of source row y, `m_step` a pixel, reading on until it comes and skipping the rows
// no result row needs. Valid until the next call.
base::Result<const std::uint8_t*> ResizeRows::reach(int y) {
    if (m_have == y) {
        return static_cast<const std::uint8_t*>(m_keep.data());
    }
    for (;;) {
        SourceRow row;
        if (m_peeked) {
            row = m_peek;
            m_peeked = false;
        } else {
            if (m_read == m_inner.height()) {
                return base::Error{m_name, "its rows came out of order"};
            }
            if (auto failed = m_inner.next(row)) {
                return std::move(*failed);
            }
            ++m_read;
        }
        if (row.y != y) {
            continue;
        }
        if (!isColour(m_inner.form())) {
            const auto w = static_cast<std::size_t>(m_inner.width());
            for (std::size_t x = 0; x < w; ++x) {
                std::memcpy(m_expanded.data() + 3 * x, m_colours.data() + 3 * row.bytes[x], 3);
            }
            return static_cast<const std::uint8_t*>(m_expanded.data());
        }
        return row.bytes;
    }
}

namespace {

// Adds (or, `first`, sets) `weight` times each byte of a row to its sum; built twice, for AVX2
// and for any processor, since this loop is most of the time of a large picture shrunk.
__attribute__((target_clones("avx2", "default"))) void
addWeighted(std::uint32_t* down, const std::uint8_t* bytes, std::size_t values,
            std::uint32_t weight, bool first) {
    if (first) {
        for (std::size_t v = 0; v < values; ++v) {
            down[v] = weight * bytes[v];
        }
    } else {
        for (std::size_t v = 0; v < values; ++v) {
            down[v] += weight * bytes[v];
        }
    }
}

// Sums the columns of each result pixel, `step` values a pixel, and rounds each colour's
// average to the nearest.
template <std::size_t step>
void sumAcross(const std::uint32_t* down, const ResizeRows::Axis& axis, std::uint64_t total,
               bool swap, std::uint8_t* out) {
    const std::size_t size = axis.count.size();
    const std::size_t red = swap ? 2 : 0;
    for (std::size_t x = 0; x < size; ++x) {
        const int count = axis.count[x];
        if (count == 0) {
            continue; // the background, set once
        }
        const std::uint32_t* p = down + static_cast<std::size_t>(axis.first[x]) * step;
        const std::uint32_t* w = axis.weights.data() + axis.offset[x];
        std::uint64_t a = 0;
        std::uint64_t b = 0;
        std::uint64_t c = 0;
        for (int k = 0; k < count; ++k, p += step) {
            a += std::uint64_t{w[k]} * p[0];
            b += std::uint64_t{w[k]} * p[1];
            c += std::uint64_t{w[k]} * p[2];
        }
        out[4 * x + red] = static_cast<std::uint8_t>((a + total / 2) / total);
        out[4 * x + 1] = static_cast<std::uint8_t>((b + total / 2) / total);
        out[4 * x + 2 - red] = static_cast<std::uint8_t>((c + total / 2) / total);
    }
}

} // namespace

std::optional<base::Error> ResizeRows::next(SourceRow& row) {
    if (!m_started) {
        // The first row tells whether the rows come from the top or the bottom.
        m_started = true;
        if (auto failed = m_inner.next(m_peek)) {
            return failed;
        }
        ++m_read;
        m_peeked = true;
        m_fromTop = m_peek.y == 0;
    }
    const int y = m_fromTop ? m_done : m_height - 1 - m_done;
    ++m_done;
    row.y = y;
    const auto i = static_cast<std::size_t>(y);
    const int count = m_rows.count[i];
    if (count == 0) {
        row.bytes = m_background.data();
    } else {
        // Down first, over the whole width as it comes, then across, once for the result row.
        const std::size_t values = m_down.size();
        for (int k = 0; k < count; ++k) {
            const int at = m_fromTop ? k : count - 1 - k;
            const int source = m_rows.first[i] + at;
            auto reached = reach(source);
            if (auto* failed = std::get_if<base::Error>(&reached)) {
                return std::move(*failed);
            }
            const std::uint8_t* bytes = std::get<const std::uint8_t*>(reached);
            const std::uint32_t weight =
                m_rows.weights[static_cast<std::size_t>(m_rows.offset[i] + at)];
            addWeighted(m_down.data(), bytes, values, weight, k == 0);
            if (k == count - 1 && bytes != m_keep.data()) {
                // The next result row may begin with it.
                std::memcpy(m_keep.data(), bytes, values);
                m_have = source;
            }
        }
        const std::uint64_t total = std::uint64_t{m_columns.total} * m_rows.total;
        if (m_step == 4) {
            sumAcross<4>(m_down.data(), m_columns, total, m_swap, m_out.data());
        } else {
            sumAcross<3>(m_down.data(), m_columns, total, m_swap, m_out.data());
        }
        row.bytes = m_out.data();
    }
    if (m_done == m_height) {
        // The rest is read all the same, so that a damaged file fails as it does unsized.
        while (m_read < m_inner.height()) {
            SourceRow rest;
            if (auto failed = m_inner.next(rest)) {
                return failed;
            }
            ++m_read;
        }
    }
    return std::nullopt;
}

TransparencyRows::TransparencyRows(RowSource& inner, bool mask, std::optional<imaging::Colour> key)
    : m_inner(inner), m_mask(mask), m_alpha(inner.alpha()), m_key(mask ? key : std::nullopt) {
    const auto width = static_cast<std::size_t>(inner.width());
    if (m_alpha && inner.form() == RowForm::Indices) {
        // The palette carries the alpha: its colours are put over white once, not each pixel.
        for (const imaging::Pixel p : inner.palette()) {
            const unsigned a = p >> 24;
            imaging::Pixel over = 0xFF000000u;
            for (unsigned c = 0; c < 3; ++c) {
                over |= imaging::Pixel{imaging::overWhite((p >> (8 * c)) & 0xFFu, a)} << (8 * c);
            }
            m_palette.push_back(over);
            m_clearIndex.push_back(a < imaging::kOpaqueFrom);
        }
    } else if (m_alpha) {
        m_pixels.resize(width * 4);
    }
    if (m_mask) {
        // Every pixel opaque until a row says otherwise; the bits past the last pixel stay 0.
        m_opaque.assign((width + 7) / 8, 0xFF);
        if (width % 8 != 0) {
            m_opaque.back() = static_cast<std::uint8_t>(0xFFu << (8 - width % 8));
        }
    }
}

std::optional<base::Error> TransparencyRows::next(SourceRow& row) {
    if (auto failed = m_inner.next(row)) {
        return failed;
    }
    if (!m_alpha && !m_key) {
        row.opaque = m_mask ? m_opaque.data() : nullptr;
        return std::nullopt;
    }
    const auto width = static_cast<std::size_t>(m_inner.width());
    const RowForm form = m_inner.form();
    // The colour of pixel x as 0xBBGGRR, for the key.
    auto colour = [&](std::size_t x) -> imaging::Colour {
        const std::uint8_t* p = row.bytes;
        switch (form) {
        case RowForm::Bytes3:
            p += 3 * x;
            return p[2] | p[1] << 8 | p[0] << 16;
        case RowForm::Bytes4:
            p += 4 * x;
            return p[2] | p[1] << 8 | p[0] << 16;
        case RowForm::Pixels:
            p += 4 * x;
            return p[0] | p[1] << 8 | p[2] << 16;
        case RowForm::Indices:
            return static_cast<imaging::Colour>(m_inner.palette()[p[x]] & imaging::kColourMask);
        case RowForm::Words16:
            return static_cast<imaging::Colour>(
                m_inner.palette()[static_cast<std::size_t>(p[2 * x] | p[2 * x + 1] << 8)] &
                imaging::kColourMask);
        case RowForm::Greys:
        case RowForm::Levels:
            break;
        }
        return imaging::kNoColour;
    };
    if (m_mask) {
        std::fill(m_opaque.begin(), m_opaque.end(), 0);
        for (std::size_t x = 0; x < width; ++x) {
            const bool clearAlpha = !m_alpha ? false
                                    : m_palette.empty()
                                        ? row.bytes[4 * x + 3] < imaging::kOpaqueFrom
                                        : m_clearIndex[row.bytes[x]];
            const bool clear = clearAlpha || (m_key && colour(x) == *m_key);
            m_opaque[x / 8] |= static_cast<std::uint8_t>(int{!clear} << (7 - x % 8));
        }
        row.opaque = m_opaque.data();
    }
    if (m_alpha && m_palette.empty()) {
        for (std::size_t k = 0; k < 4 * width; k += 4) {
            const unsigned a = row.bytes[k + 3];
            for (std::size_t c = 0; c < 3; ++c) {
                m_pixels[k + c] = imaging::overWhite(row.bytes[k + c], a);
            }
            m_pixels[k + 3] = 0xFF;
        }
        row.bytes = m_pixels.data();
    }
    return std::nullopt;
}

base::Result<std::unique_ptr<Stages>> Stages::around(RowSource& inner, const Geometry& geometry,
                                                     const Reduction& how,
                                                     const std::string& name) {
    auto stages = std::make_unique<Stages>();
    stages->m_outer = &inner;
    if (geometry.quarterTurns % 2 == 1 && geometry.resizes()) {
        // Sized first, then turned: so only the result is held. The sides are worked out where
        // the turned picture has them, then brought back to the picture as it comes: result
        // column x is turned picture row x (from the bottom where the turn mirrors it).
        auto placed = placementOf(inner.height(), inner.width(), geometry, name);
        if (auto* failed = std::get_if<base::Error>(&placed)) {
            return std::move(*failed);
        }
        const Placement& p = std::get<Placement>(placed);
        auto columns = ResizeRows::axis(inner.height(), p.scaledWidth, p.left, p.width);
        auto rows = ResizeRows::axis(inner.width(), p.scaledHeight, p.top, p.height);
        const TurnRows turn(inner, geometry, {}, name);
        if (turn.mirrorsColumns()) {
            columns = ResizeRows::mirrored(columns, inner.height());
        }
        if (turn.mirrorsRows()) {
            rows = ResizeRows::mirrored(rows, inner.width());
        }
        stages->m_resize = std::make_unique<ResizeRows>(inner, std::move(rows), std::move(columns),
                                                        geometry.background, name);
        stages->m_turn = std::make_unique<TurnRows>(*stages->m_resize, geometry,
                                                    greyMaker(*stages->m_resize, how), name);
        stages->m_outer = stages->m_turn.get();
        return stages;
    }
    if (geometry.turns()) {
        // Only the greys go on when nothing after the turn needs the colours.
        stages->m_turn = std::make_unique<TurnRows>(inner, geometry, greyMaker(inner, how), name);
        stages->m_outer = stages->m_turn.get();
    }
    if (geometry.resizes()) {
        RowSource& turned = *stages->m_outer;
        auto placed = placementOf(turned.width(), turned.height(), geometry, name);
        if (auto* failed = std::get_if<base::Error>(&placed)) {
            return std::move(*failed);
        }
        stages->m_resize = std::make_unique<ResizeRows>(turned, std::get<Placement>(placed),
                                                        geometry.background, name);
        stages->m_outer = stages->m_resize.get();
    }
    return stages;
}

} // namespace conversion
