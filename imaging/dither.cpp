#include "imaging/dither.h"

#include "imaging/diffusion_passes.h"
#include "imaging/quantizer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace imaging {
namespace {

using namespace diffusion;

constexpr std::array<Pixel, 4> kLevels{kBlack, kDarkGrey, kLightGrey, kWhite};

int greyOf(Pixel pixel) {
    return static_cast<int>(((pixel & 0xFF) + ((pixel >> 8) & 0xFF) + ((pixel >> 16) & 0xFF) + 1) /
                            3);
}

// Both diffusions look up each pixel's shares of its error by the value the pixel comes to, and
// that value needs the share of the pixel before: the one chain from pixel to pixel, which no
// number of cores shortens. The share on the chain is kept as a byte offset into its own table,
// and the address of each pixel's entry is formed before that share arrives, so a single load is
// all the chain holds: a plain 32-bit load, since sign extension or a scaled index each make it
// slower.
std::size_t loadOffset(const char* at) {
    std::uint32_t offset;
    std::memcpy(&offset, at, sizeof offset);
    return offset;
}
// Keeps the compiler from folding an entry's address into the load that follows it, which would
// put the address arithmetic back on the chain.
const char* formed(const char* address) {
#if defined(__GNUC__)
    asm("" : "+r"(address));
#endif
    return address;
}

// Floyd-Steinberg's share for the next pixel by value. Every value lies within
// kFloydSteinbergReach of 0-255 (proved below), and the table spans more than that, so that no
// index needs a test.
constexpr int kFloydSteinbergReach = 47;
constexpr int kFloydSteinbergValues = 512;
struct FloydSteinbergTable {
    // 7/16 of the error, truncated, for the next pixel of the row, as offsets for the chain.
    std::array<std::uint32_t, kFloydSteinbergValues> ahead{};
    int reach = 0; // the largest sum of four shares, one of each kind, from values within reach
    constexpr FloydSteinbergTable() {
        int most[4] = {0, 0, 0, 0};
        for (int v = kFloydSteinbergLowest; v < kFloydSteinbergLowest + kFloydSteinbergValues;
             ++v) {
            const int band = bandOf(v);
            const int error = v - band * 85;
            // Ahead, behind, under, and what truncation left.
            const int share[4] = {error * 7 / 16, error * 3 / 16, error * 5 / 16,
                                  error - error * 7 / 16 - error * 3 / 16 - error * 5 / 16};
            ahead[static_cast<std::size_t>(v - kFloydSteinbergLowest)] =
                static_cast<std::uint32_t>(4 * std::max(share[0] + kAheadBias, 0));
            if (v >= -kFloydSteinbergReach && v <= 255 + kFloydSteinbergReach) {
                for (int k = 0; k < 4; ++k) {
                    most[k] = std::max(most[k], share[k] < 0 ? -share[k] : share[k]);
                }
            }
        }
        reach = most[0] + most[1] + most[2] + most[3];
    }
};
constexpr FloydSteinbergTable kFloydSteinberg;
// A value is a grey and at most four shares, one of each kind, from pixels already done: if
// theirs were within reach, so is it.
static_assert(kFloydSteinberg.reach <= kFloydSteinbergReach);
// The address formed for a pixel, from a grey and the three shares from the row above, stays in
// the table, and so does the value once the share ahead is added.
static_assert(-kFloydSteinbergReach - kFloydSteinbergLowest - kAheadBias >= 0);
static_assert(255 + kFloydSteinbergReach - kFloydSteinbergLowest < kFloydSteinbergValues);
static_assert(-kFloydSteinbergReach * 7 / 16 + kAheadBias >= 0);

// Atkinson's eighth of the error by value, in sixteenths of a grey step. A value is a grey and six
// shares, two from this row, three from the row above and one from the row above that, so every
// value lies within six of the largest share of 0-255 (proved below).
constexpr int kAtkinsonReach = 510;
constexpr int kAtkinsonValues = 255 * kAtkinsonScale + kAtkinsonReach - kAtkinsonLowest + 1;
struct AtkinsonTable {
    std::array<std::uint32_t, kAtkinsonValues> shares{}; // as offsets, for the chain
    int most = 0; // the largest share in size, from values within reach
    constexpr AtkinsonTable() {
        for (int v = kAtkinsonLowest; v < kAtkinsonLowest + kAtkinsonValues; ++v) {
            const int share = (v - bandOf(v) * 85 * kAtkinsonScale) / 8;
            shares[static_cast<std::size_t>(v - kAtkinsonLowest)] =
                static_cast<std::uint32_t>(4 * (share + kShareBias));
            if (v >= -kAtkinsonReach && v <= 255 * kAtkinsonScale + kAtkinsonReach) {
                most = std::max(most, share < 0 ? -share : share);
            }
        }
    }
    // The edges 42.5, 127.5 and 212.5 in sixteenths; a value on one goes to the band above.
    static constexpr int bandOf(int value) {
        return static_cast<int>(value >= 680) + static_cast<int>(value >= 2040) +
               static_cast<int>(value >= 3400);
    }
};
constexpr AtkinsonTable kAtkinson;
static_assert(6 * kAtkinson.most <= kAtkinsonReach);
// The address formed for a pixel before the share of the pixel before is known stays in the table.
static_assert(-kAtkinsonReach - kAtkinson.most - kAtkinsonLowest - kShareBias >= 0);
static_assert(kAtkinsonLowest / 8 + kShareBias >= 0);
// The passes add offsets in signed 16-bit lanes.
static_assert(4 * kFloydSteinbergValues < 32768 && 4 * kAtkinsonValues < 32768);

void paint(Pixel& pixel, int band) {
    pixel = (pixel & ~kColourMask) | kLevels[static_cast<std::size_t>(band)];
}

// The classic recursive 8 x 8 threshold matrix, 0-63.
constexpr std::array<std::array<std::uint8_t, 8>, 8> kBayer{{
    {0, 32, 8, 40, 2, 34, 10, 42},
    {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},
    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},
    {63, 31, 55, 23, 61, 29, 53, 21},
}};

void bayerRow(int y, std::span<Pixel> row) {
    // The grey plus a threshold offset of (2m + 1) / 128 of a band step, rounded down to a band:
    // band = floor(grey / 85 + (2m + 1) / 128). The band values themselves never move, since
    // the offset stays below one step.
    const auto& thresholds = kBayer[static_cast<std::size_t>(y & 7)];
    for (std::size_t x = 0; x < row.size(); ++x) {
        const int offset = kBandStep * (2 * thresholds[x & 7] + 1);
        const int band = (128 * greyOf(row[x]) + offset) / (128 * kBandStep);
        paint(row[x], std::min(band, 3));
    }
}

// A diffusion's chain through a row, each link a load: the offset after pixel i is looked up at
// entries[i] plus the offsets of the Depth pixels before it. `out` holds n + Depth offsets, the
// first Depth given.
//
// The row is cut into segments run side by side, so that their loads overlap; each segment but
// the first starts from a guess, the shares of no error. Each is then run again from where the
// segment before it truly ended, until Depth offsets in a row agree with what the guess gave:
// from there on both runs are the same. The result is exactly that of one run along the row; a
// picture whose runs never meet costs one run along the row more.
template <int Depth> struct ChainState {
    std::size_t last[Depth]; // the latest offset first

    explicit ChainState(const std::uint16_t* before) {
        for (int d = 0; d < Depth; ++d) {
            last[d] = before[Depth - 1 - d];
        }
    }
    std::size_t advance(const char* table, std::size_t entry) {
        std::size_t next;
        if constexpr (Depth == 1) {
            next = loadOffset(formed(table + entry) + last[0]);
        } else {
            // The older offset goes into the address early: only the latest is on the chain.
            static_assert(Depth == 2);
            next = loadOffset(formed(table + entry + last[1]) + last[0]);
            last[1] = last[0];
        }
        last[0] = next;
        return next;
    }
};

// Runs the segments of `length` links side by side, each from the start's guess, and returns the
// state the last one reached.
template <int Depth, std::size_t... Segment>
ChainState<Depth> runSideBySide(const char* table, const std::uint16_t* entries, std::uint16_t* out,
                                int length, std::index_sequence<Segment...>) {
    // One variable per segment, not an array, so that every state stays in a register. Entries
    // are read and offsets written two at a time: loads and stores, not the chains, are what
    // limit this loop.
    ChainState<Depth> states[] = {((void)Segment, ChainState<Depth>(out))...};
    auto two = [&](ChainState<Depth>& state, int at) {
        std::uint32_t pair;
        std::memcpy(&pair, entries + at, sizeof pair);
        const std::size_t first = state.advance(table, pair & 0xFFFF);
        const std::size_t second = state.advance(table, pair >> 16);
        pair = static_cast<std::uint32_t>(first | second << 16);
        std::memcpy(out + Depth + at, &pair, sizeof pair);
    };
    for (int i = 0; i + 1 < length; i += 2) {
        (two(states[Segment], static_cast<int>(Segment) * length + i), ...);
    }
    if (length % 2 != 0) {
        ((out[Depth + Segment * length + length - 1] = static_cast<std::uint16_t>(
              states[Segment].advance(table, entries[Segment * length + length - 1]))),
         ...);
    }
    return states[sizeof...(Segment) - 1];
}

template <int Depth, int Segments>
void runChain(const char* table, const std::uint16_t* entries, std::uint16_t* out, int n) {
    constexpr int kShortest = 256; // below this a row is run in one piece
    int length = n / Segments;
    // Segments a whole number of pages apart would make each load wait on the other segments'
    // stores to the same place on a page, as the processor first compares only those bits.
    if (const int apart = length * 2 % 4096; apart < 256 || apart > 4096 - 256) {
        length -= 128;
    }
    if (length < kShortest) {
        ChainState<Depth> state(out);
        for (int i = 0; i < n; ++i) {
            out[Depth + i] = static_cast<std::uint16_t>(state.advance(table, entries[i]));
        }
        return;
    }
    ChainState<Depth> last =
        runSideBySide<Depth>(table, entries, out, length, std::make_index_sequence<Segments>());
    for (int at = Segments * length; at < n; ++at) {
        out[Depth + at] = static_cast<std::uint16_t>(last.advance(table, entries[at]));
    }
    for (int k = 1; k < Segments; ++k) {
        const int end = k + 1 == Segments ? n : (k + 1) * length;
        ChainState<Depth> state(out + k * length);
        int agreeing = 0;
        for (int at = k * length; at < end && agreeing < Depth; ++at) {
            const auto next = static_cast<std::uint16_t>(state.advance(table, entries[at]));
            std::uint16_t& made = out[Depth + at];
            agreeing = made == next ? agreeing + 1 : 0;
            made = next;
        }
    }
}

} // namespace

std::string_view ditherName(Dither method) {
    switch (method) {
    case Dither::FloydSteinberg:
        return "floyd-steinberg";
    case Dither::Atkinson:
        return "atkinson";
    case Dither::Bayer:
        return "bayer";
    case Dither::None:
        break;
    }
    return "none";
}

std::optional<Dither> ditherNamed(std::string_view name) {
    for (const Dither method :
         {Dither::None, Dither::FloydSteinberg, Dither::Atkinson, Dither::Bayer}) {
        if (name == ditherName(method)) {
            return method;
        }
    }
    return std::nullopt;
}

bool diffusesError(Dither method) {
    return method == Dither::FloydSteinberg || method == Dither::Atkinson;
}

Ditherer::Ditherer(Dither method, int width) : Ditherer(method, width, &passes()) {}

Ditherer::Ditherer(Dither method, int width, Isa isa) : Ditherer(method, width, &passes(isa)) {}

Ditherer::Ditherer(Dither method, int width, const diffusion::Passes* passes)
    : m_method(method), m_width(std::max(width, 0)), m_passes(passes) {
    if (diffusesError(method)) {
        const auto n = static_cast<std::size_t>(m_width);
        // Atkinson keeps its shares as offsets, a share of nothing at 4 * kShareBias.
        m_rows.assign(3 * (n + 2), method == Dither::Atkinson ? 4 * kShareBias : 0);
        m_entries.resize(n);
        m_chain.resize(n + 2);
        m_greys.resize(n);
        m_bands.resize(n);
    }
}

Ditherer::Ditherer(Dither method, int width, const Levels& levels) : Ditherer(method, width) {
    if (levels != kBandValues && diffusesError(method)) {
        m_levels = levels;
        for (std::vector<int>& carried : m_carried) {
            carried.assign(static_cast<std::size_t>(m_width) + 4, 0);
        }
    }
}

Ditherer::Ditherer(Dither method, int width, const Levels& levels, Holes holes)
    : Ditherer(method, width, levels) {
    // The rule of the levels below holds for the band values too, and can skip a pixel.
    if (holes == Holes::Yes && !m_levels && diffusesError(method)) {
        m_levels = levels;
        for (std::vector<int>& carried : m_carried) {
            carried.assign(static_cast<std::size_t>(m_width) + 4, 0);
        }
    }
}

std::int16_t* Ditherer::row(int k) {
    const std::size_t stride = static_cast<std::size_t>(m_width) + 2;
    return m_rows.data() + m_order[static_cast<std::size_t>(k)] * stride + 1;
}

void Ditherer::paintRow(int y, std::span<Pixel> row) {
    row = row.first(std::min<std::size_t>(row.size(), static_cast<std::size_t>(m_width)));
    switch (m_method) {
    case Dither::None:
        quantizeRow(row);
        return;
    case Dither::Bayer:
        bayerRow(y, row);
        return;
    case Dither::FloydSteinberg:
    case Dither::Atkinson:
        for (std::size_t x = 0; x < row.size(); ++x) {
            m_greys[x] = static_cast<std::uint8_t>(greyOf(row[x]));
        }
        // Pixels missing from a short row count as black.
        std::fill(m_greys.begin() + static_cast<std::ptrdiff_t>(row.size()), m_greys.end(), 0);
        diffuseGreys(y, m_greys.data(), m_bands.data());
        for (std::size_t x = 0; x < row.size(); ++x) {
            paint(row[x], m_bands[x]);
        }
        return;
    }
}

void Ditherer::diffuseGreys(int y, const std::uint8_t* greys, std::uint8_t* bands) {
    if (m_levels) {
        diffuseAgainstLevels(y, greys, nullptr, bands);
        return;
    }
    if (m_method == Dither::Atkinson) {
        atkinson(greys, bands);
    } else {
        // Even rows run left to right, odd rows right to left, the weights mirrored with them.
        floydSteinberg((y & 1) == 0, greys, bands);
    }
}

void Ditherer::diffuseGreys(int y, const std::uint8_t* greys, const std::uint8_t* opaque,
                            std::uint8_t* bands) {
    if (!m_levels) {
        diffuseGreys(y, greys, bands);
        return;
    }
    diffuseAgainstLevels(y, greys, opaque, bands);
}

// Rows 0 and 1 hold the error passed down by the row above and by this one, each in the order its
// row ran: the next row runs the other way, so it reads them backwards.
void Ditherer::floydSteinberg(bool forward, const std::uint8_t* greys, std::uint8_t* bands) {
    const int n = m_width;
    m_passes->floydSteinbergStarts(forward, n, greys, row(0), m_entries.data());
    m_chain[0] = 4 * kAheadBias;
    // Five segments: fewer leave the loads waiting, more were no faster.
    runChain<1, 5>(reinterpret_cast<const char*>(kFloydSteinberg.ahead.data()), m_entries.data(),
                   m_chain.data(), n);
    m_passes->floydSteinbergEnds(forward, n, m_entries.data(), m_chain.data(), bands, row(1));
    std::swap(m_order[0], m_order[1]);
}

// Rows 0 and 1 hold the shares made by the row above and the row above that; row 2 takes this
// row's. Each pixel takes an eighth of its error from each of six neighbours: the two before it,
// the three around it in the row above, and the one above that.
void Ditherer::atkinson(const std::uint8_t* greys, std::uint8_t* bands) {
    const int n = m_width;
    auto shares = [&](int k) { return reinterpret_cast<std::uint16_t*>(row(k)); };
    m_passes->atkinsonStarts(n, greys, shares(0), shares(1), m_entries.data());
    m_chain[0] = m_chain[1] = 4 * kShareBias;
    // Three segments: with two offsets on each chain, five were no faster.
    runChain<2, 3>(reinterpret_cast<const char*>(kAtkinson.shares.data()), m_entries.data(),
                   m_chain.data(), n);
    m_passes->atkinsonBands(n, m_entries.data(), m_chain.data(), bands);
    std::copy_n(m_chain.data() + 2, n, shares(2));
    // The shares of the row above that are spent: this row's take their place.
    m_order = {m_order[2], m_order[0], m_order[1]};
}

// The rules of both diffusions with the levels as given: Floyd-Steinberg on whole greys, its
// shares truncated and the rest to the pixel below ahead; Atkinson in sixteenths of a grey, an
// eighth of the error to each of six neighbours. Error falling off the edges is lost, and so is
// error that falls on a transparent pixel: it is white and passes nothing on.
void Ditherer::diffuseAgainstLevels(int y, const std::uint8_t* greys, const std::uint8_t* opaque,
                                    std::uint8_t* bands) {
    const Levels& p = *m_levels;
    const int n = m_width;
    auto cell = [&](int k, int x) -> int& {
        return m_carried[static_cast<std::size_t>(k)][static_cast<std::size_t>(x + 2)];
    };
    if (m_method == Dither::Atkinson) {
        for (int x = 0; x < n; ++x) {
            if (opaque && opaque[x] == 0) {
                bands[x] = 3;
                continue;
            }
            const int value = 16 * greys[x] + cell(0, x);
            int band = 0;
            for (int k = 1; k < 4; ++k) {
                band += static_cast<int>(value >= 8 * (p[k - 1] + p[k]));
            }
            const int share = (value - 16 * p[band]) / 8;
            for (const auto& [dy, dx] :
                 {std::pair{0, 1}, {0, 2}, {1, -1}, {1, 0}, {1, 1}, {2, 0}}) {
                cell(dy, x + dx) += share;
            }
            bands[x] = static_cast<std::uint8_t>(band);
        }
        std::rotate(m_carried.begin(), m_carried.begin() + 1, m_carried.end());
    } else {
        const int step = y % 2 == 0 ? 1 : -1;
        for (int i = 0; i < n; ++i) {
            const int x = step > 0 ? i : n - 1 - i;
            if (opaque && opaque[x] == 0) {
                bands[x] = 3;
                continue;
            }
            const int value = greys[x] + cell(0, x);
            int band = 0;
            for (int k = 1; k < 4; ++k) {
                band += static_cast<int>(value >= (p[k - 1] + p[k]) / 2 + 1);
            }
            const int e = value - p[band];
            cell(0, x + step) += e * 7 / 16;
            cell(1, x - step) += e * 3 / 16;
            cell(1, x) += e * 5 / 16;
            cell(1, x + step) += e - e * 7 / 16 - e * 3 / 16 - e * 5 / 16;
            bands[x] = static_cast<std::uint8_t>(band);
        }
        std::swap(m_carried[0], m_carried[1]);
    }
    // The row just done becomes the row furthest ahead, and the cells past the edges hold
    // nothing for it.
    std::fill(m_carried[m_method == Dither::Atkinson ? 2 : 1].begin(),
              m_carried[m_method == Dither::Atkinson ? 2 : 1].end(), 0);
    for (std::vector<int>& carried : m_carried) {
        carried[0] = carried[1] = carried[carried.size() - 2] = carried[carried.size() - 1] = 0;
    }
}

std::array<std::array<int, 3>, 8> bayerGreyEdges(int y, const Levels& levels) {
    const auto& thresholds = kBayer[static_cast<std::size_t>(y & 7)];
    std::array<std::array<int, 3>, 8> edges{};
    for (std::size_t x = 0; x < 8; ++x) {
        for (std::size_t k = 1; k < 4; ++k) {
            const int step = levels[k] - levels[k - 1];
            const int reach = 128 * levels[k] - step * (2 * thresholds[x] + 1);
            edges[x][k - 1] = (reach + 127) / 128; // the least grey that reaches it
        }
    }
    return edges;
}

BandEdges bayerEdges(int y) {
    // A pixel is in band k or above when 128 * grey + 85 * (2m + 1) >= 128 * 85 * k, that is when
    // its grey is at least the ceiling of (10880 k - 85 (2m + 1)) / 128, and a grey g is reached
    // by the sums from 3g - 1 up.
    const auto& thresholds = kBayer[static_cast<std::size_t>(y & 7)];
    BandEdges edges{};
    for (std::size_t x = 0; x < 8; ++x) {
        const int offset = kBandStep * (2 * thresholds[x] + 1);
        auto from = [&](int band) {
            const int grey = (128 * kBandStep * band - offset + 127) / 128;
            return static_cast<std::uint16_t>(3 * grey - 1);
        };
        edges.black[x] = from(1);
        edges.dark[x] = from(2);
        edges.light[x] = from(3);
    }
    return edges;
}

} // namespace imaging
