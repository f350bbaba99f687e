#include "imaging/level_bits.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace imaging {
namespace {

static_assert(std::endian::native == std::endian::little, "masks are stored little-endian");

// The bands as ranges of the byte sum s = r + g + b: black s < 128, dark grey s < 383, light
// grey s < 638, else white. Dark is set below 383; light is set in the first and the third band,
// the parity of the three comparisons.
constexpr unsigned kBlackBelow = sumFrom(kDarkFrom);
constexpr unsigned kDarkBelow = sumFrom(kLightFrom);
constexpr unsigned kLightBelow = sumFrom(kWhiteFrom);
static_assert(kBlackBelow == 128 && kDarkBelow == 383 && kLightBelow == 638);

constexpr BandEdges kPlainEdges{
    {kBlackBelow, kBlackBelow, kBlackBelow, kBlackBelow, kBlackBelow, kBlackBelow, kBlackBelow,
     kBlackBelow},
    {kDarkBelow, kDarkBelow, kDarkBelow, kDarkBelow, kDarkBelow, kDarkBelow, kDarkBelow,
     kDarkBelow},
    {kLightBelow, kLightBelow, kLightBelow, kLightBelow, kLightBelow, kLightBelow, kLightBelow,
     kLightBelow},
};

inline unsigned darkBit(unsigned sum, const BandEdges& edges, std::size_t column) {
    return sum < edges.dark[column] ? 1u : 0u;
}
inline unsigned lightBit(unsigned sum, const BandEdges& edges, std::size_t column) {
    return (sum < edges.black[column] ? 1u : 0u) ^ (sum < edges.dark[column] ? 1u : 0u) ^
           (sum < edges.light[column] ? 1u : 0u);
}

inline unsigned greyOfSum(unsigned sum) {
    return (sum + 1) / 3;
}

// Eight pixels (or fewer, the last ones of a row) a byte, first pixel in bit 7. Callers start
// every row and every tail on column 0 of the edges.
// `sum` gives a pixel's r + g + b from its first byte.
template <std::size_t Stride, class Sum>
void bitsOfSums(const std::uint8_t* in, std::size_t count, const BandEdges& edges,
                std::uint8_t* dark, std::uint8_t* light, Sum sum) {
    for (std::size_t x = 0; x < count; x += 8) {
        const std::size_t n = count - x < 8 ? count - x : 8;
        unsigned d = 0;
        unsigned l = 0;
        for (std::size_t i = 0; i < n; ++i, in += Stride) {
            const unsigned s = sum(in);
            d = d << 1 | darkBit(s, edges, i);
            l = l << 1 | lightBit(s, edges, i);
        }
        *dark++ = static_cast<std::uint8_t>(d << (8 - n));
        *light++ = static_cast<std::uint8_t>(l << (8 - n));
    }
}

template <std::size_t Stride>
void scalarBits(const std::uint8_t* in, std::size_t count, const BandEdges& edges,
                std::uint8_t* dark, std::uint8_t* light) {
    bitsOfSums<Stride>(in, count, edges, dark, light,
                       [](const std::uint8_t* p) { return unsigned{p[0]} + p[1] + p[2]; });
}

template <std::size_t Stride>
void scalarGreys(const std::uint8_t* in, std::size_t count, std::uint8_t* greys) {
    for (std::size_t x = 0; x < count; ++x, in += Stride) {
        greys[x] = static_cast<std::uint8_t>(greyOfSum(unsigned{in[0]} + in[1] + in[2]));
    }
}

void scalarBandBits(const std::uint8_t* bands, std::size_t count, std::uint8_t* dark,
                    std::uint8_t* light) {
    for (std::size_t x = 0; x < count; x += 8) {
        const std::size_t n = count - x < 8 ? count - x : 8;
        unsigned d = 0;
        unsigned l = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned band = *bands++;
            d = d << 1 | (band < 2 ? 1u : 0u);
            l = l << 1 | (~band & 1u);
        }
        *dark++ = static_cast<std::uint8_t>(d << (8 - n));
        *light++ = static_cast<std::uint8_t>(l << (8 - n));
    }
}

template <std::size_t Stride>
void scalarPlain(const std::uint8_t* in, std::size_t count, std::uint8_t* dark,
                 std::uint8_t* light) {
    scalarBits<Stride>(in, count, kPlainEdges, dark, light);
}

// A 5-bit channel widened as round(v * 255 / 31), a 6-bit one as round(v * 255 / 63): exact
// multiply-and-shift forms that fit 16-bit lanes.
inline unsigned widen5(unsigned v) {
    return (v * 527 + 23) >> 6;
}
inline unsigned widen6(unsigned v) {
    return (v * 259 + 33) >> 6;
}

inline unsigned wordSum(unsigned w, unsigned green) {
    return green == 6 ? widen5(w >> 11) + widen6((w >> 5) & 63) + widen5(w & 31)
                      : widen5((w >> 10) & 31) + widen5((w >> 5) & 31) + widen5(w & 31);
}

void scalarWords16(const std::uint8_t* in, std::size_t count, unsigned green,
                   const BandEdges& edges, std::uint8_t* dark, std::uint8_t* light) {
    bitsOfSums<2>(in, count, edges, dark, light, [green](const std::uint8_t* p) {
        return wordSum(unsigned{p[0]} | unsigned{p[1]} << 8, green);
    });
}

void scalarIndexed(const std::uint8_t* indices, std::size_t count, const LevelTable& table,
                   std::uint8_t* dark, std::uint8_t* light) {
    for (std::size_t x = 0; x < count; x += 8) {
        const std::size_t n = count - x < 8 ? count - x : 8;
        unsigned d = 0;
        unsigned l = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned code = table.codes[*indices++];
            d = d << 1 | (code & 1u);
            l = l << 1 | (code >> 1);
        }
        *dark++ = static_cast<std::uint8_t>(d << (8 - n));
        *light++ = static_cast<std::uint8_t>(l << (8 - n));
    }
}

constexpr LevelKernel kScalar{scalarPlain<3>, scalarPlain<4>, scalarBits<3>, scalarBits<4>,
                              scalarGreys<3>, scalarGreys<4>, scalarWords16, scalarIndexed};

#if defined(__x86_64__)

// A byte with its bits in the opposite order: SSE2's mask puts the first pixel in bit 0.
constexpr std::array<std::uint8_t, 256> kReversed = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned r = 0;
        for (unsigned b = 0; b < 8; ++b) {
            r |= ((v >> b) & 1u) << (7 - b);
        }
        table[v] = static_cast<std::uint8_t>(r);
    }
    return table;
}();

inline std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// r + g + b of four pixels held in 32-bit lanes, the top byte of each ignored.
inline __m128i sums4(__m128i v) {
    const __m128i outer = _mm_and_si128(v, _mm_set1_epi32(0x00FF00FF));
    const __m128i middle = _mm_and_si128(_mm_srli_epi32(v, 8), _mm_set1_epi32(0xFF));
    return _mm_add_epi32(_mm_madd_epi16(outer, _mm_set1_epi16(1)), middle);
}

// The edges of eight columns, one 16-bit lane each.
struct Edges128 {
    __m128i black, dark, light;
};

inline Edges128 edges128(const BandEdges& edges) {
    auto load = [](const std::array<std::uint16_t, 8>& lanes) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes.data()));
    };
    return {load(edges.black), load(edges.dark), load(edges.light)};
}

// Sixteen pixels' sums in 16-bit lanes (two runs of eight columns) to their two bytes of each
// plane.
inline void storeBits16(__m128i low, __m128i high, const Edges128& e, std::uint8_t* dark,
                        std::uint8_t* light) {
    auto below = [&](__m128i bound) {
        return _mm_packs_epi16(_mm_cmpgt_epi16(bound, low), _mm_cmpgt_epi16(bound, high));
    };
    const __m128i d = below(e.dark);
    const __m128i l = _mm_xor_si128(_mm_xor_si128(below(e.black), d), below(e.light));
    const auto dm = static_cast<unsigned>(_mm_movemask_epi8(d));
    const auto lm = static_cast<unsigned>(_mm_movemask_epi8(l));
    dark[0] = kReversed[dm & 0xFF];
    dark[1] = kReversed[dm >> 8];
    light[0] = kReversed[lm & 0xFF];
    light[1] = kReversed[lm >> 8];
}

// Sixteen pixels' grey averages from their sums: (s + 1) / 3 as (s + 1) * 21846 >> 16, exact
// for every sum up to 765.
inline void storeGreys16(__m128i low, __m128i high, std::uint8_t* greys) {
    const __m128i one = _mm_set1_epi16(1);
    const __m128i third = _mm_set1_epi16(21846);
    const __m128i g0 = _mm_mulhi_epu16(_mm_add_epi16(low, one), third);
    const __m128i g1 = _mm_mulhi_epu16(_mm_add_epi16(high, one), third);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(greys), _mm_packus_epi16(g0, g1));
}

// Sixteen pixels of four bytes at `in`, their sums in pixel order.
inline void sums16of4(const std::uint8_t* in, __m128i& low, __m128i& high) {
    auto at = [&](int k) {
        return sums4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * k)));
    };
    low = _mm_packs_epi32(at(0), at(1));
    high = _mm_packs_epi32(at(2), at(3));
}

// Sixteen pixels of three bytes; each is a 4-byte load, so a seventeenth pixel must follow.
inline void sums16of3(const std::uint8_t* in, __m128i& low, __m128i& high) {
    auto at = [&](int k) {
        const std::uint8_t* p = in + 12 * k;
        return sums4(_mm_setr_epi32(static_cast<int>(load32(p)), static_cast<int>(load32(p + 3)),
                                    static_cast<int>(load32(p + 6)),
                                    static_cast<int>(load32(p + 9))));
    };
    low = _mm_packs_epi32(at(0), at(1));
    high = _mm_packs_epi32(at(2), at(3));
}

void sse2Edged4(const std::uint8_t* in, std::size_t count, const BandEdges& edges,
                std::uint8_t* dark, std::uint8_t* light) {
    const Edges128 e = edges128(edges);
    std::size_t x = 0;
    for (; x + 16 <= count; x += 16, in += 64, dark += 2, light += 2) {
        __m128i low, high;
        sums16of4(in, low, high);
        storeBits16(low, high, e, dark, light);
    }
    scalarBits<4>(in, count - x, edges, dark, light);
}

void sse2Edged3(const std::uint8_t* in, std::size_t count, const BandEdges& edges,
                std::uint8_t* dark, std::uint8_t* light) {
    const Edges128 e = edges128(edges);
    std::size_t x = 0;
    for (; x + 17 <= count; x += 16, in += 48, dark += 2, light += 2) {
        __m128i low, high;
        sums16of3(in, low, high);
        storeBits16(low, high, e, dark, light);
    }
    scalarBits<3>(in, count - x, edges, dark, light);
}

// The sums of eight 16-bit pixels in their lanes.
inline __m128i wordSums8(__m128i w, unsigned green) {
    const __m128i five = _mm_set1_epi16(31);
    auto widen = [](__m128i v, int by, int plus) {
        return _mm_srli_epi16(
            _mm_add_epi16(_mm_mullo_epi16(v, _mm_set1_epi16(static_cast<short>(by))),
                          _mm_set1_epi16(static_cast<short>(plus))),
            6);
    };
    const __m128i blue = widen(_mm_and_si128(w, five), 527, 23);
    if (green == 6) {
        return _mm_add_epi16(
            _mm_add_epi16(widen(_mm_srli_epi16(w, 11), 527, 23), blue),
            widen(_mm_and_si128(_mm_srli_epi16(w, 5), _mm_set1_epi16(63)), 259, 33));
    }
    return _mm_add_epi16(
        _mm_add_epi16(widen(_mm_and_si128(_mm_srli_epi16(w, 10), five), 527, 23), blue),
        widen(_mm_and_si128(_mm_srli_epi16(w, 5), five), 527, 23));
}

void sse2Words16(const std::uint8_t* in, std::size_t count, unsigned green, const BandEdges& edges,
                 std::uint8_t* dark, std::uint8_t* light) {
    const Edges128 e = edges128(edges);
    std::size_t x = 0;
    for (; x + 16 <= count; x += 16, in += 32, dark += 2, light += 2) {
        const __m128i low = wordSums8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), green);
        const __m128i high =
            wordSums8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16)), green);
        storeBits16(low, high, e, dark, light);
    }
    scalarWords16(in, count - x, green, edges, dark, light);
}

void sse2Bytes4(const std::uint8_t* in, std::size_t count, std::uint8_t* dark,
                std::uint8_t* light) {
    sse2Edged4(in, count, kPlainEdges, dark, light);
}

void sse2Bytes3(const std::uint8_t* in, std::size_t count, std::uint8_t* dark,
                std::uint8_t* light) {
    sse2Edged3(in, count, kPlainEdges, dark, light);
}

void sse2Greys4(const std::uint8_t* in, std::size_t count, std::uint8_t* greys) {
    std::size_t x = 0;
    for (; x + 16 <= count; x += 16, in += 64, greys += 16) {
        __m128i low, high;
        sums16of4(in, low, high);
        storeGreys16(low, high, greys);
    }
    scalarGreys<4>(in, count - x, greys);
}

void sse2Greys3(const std::uint8_t* in, std::size_t count, std::uint8_t* greys) {
    std::size_t x = 0;
    for (; x + 17 <= count; x += 16, in += 48, greys += 16) {
        __m128i low, high;
        sums16of3(in, low, high);
        storeGreys16(low, high, greys);
    }
    scalarGreys<3>(in, count - x, greys);
}

// A palette lookup takes a byte shuffle, which SSE2 lacks: the scalar loop serves.
constexpr LevelKernel kSse2{sse2Bytes3, sse2Bytes4, sse2Edged3,  sse2Edged4,
                            sse2Greys3, sse2Greys4, sse2Words16, scalarIndexed};

// Thirty-two pixels from four vectors whose 128-bit halves hold pixels 4k..4k+3 (low) and
// 16+4k..19+4k (high) as bytes b0 b1 b2 x: the sums are gathered in pixel order by the lane-wise
// horizontal add and pack, and a byte reversal in each group of eight puts the first pixel of a
// byte in its top bit. Each run of eight sums covers columns 0-7, so the edges repeat in every
// 128-bit half.
struct Edges256 {
    __m256i black, dark, light;
};

__attribute__((target("avx2"))) inline Edges256 edges256(const BandEdges& edges) {
    // No lambda here: it would not share this function's instruction set.
    return {_mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(edges.black.data()))),
            _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(edges.dark.data()))),
            _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(edges.light.data())))};
}

__attribute__((target("avx2"))) inline void storeBits32(const __m256i (&v)[4], const Edges256& e,
                                                        std::uint8_t* dark, std::uint8_t* light) {
    const __m256i weights = _mm256_set1_epi32(0x00010101);
    const __m256i s01 =
        _mm256_hadd_epi16(_mm256_maddubs_epi16(v[0], weights), _mm256_maddubs_epi16(v[1], weights));
    const __m256i s23 =
        _mm256_hadd_epi16(_mm256_maddubs_epi16(v[2], weights), _mm256_maddubs_epi16(v[3], weights));
    const __m256i black = e.black;
    const __m256i darkGrey = e.dark;
    const __m256i lightGrey = e.light;
    const __m256i d =
        _mm256_packs_epi16(_mm256_cmpgt_epi16(darkGrey, s01), _mm256_cmpgt_epi16(darkGrey, s23));
    const __m256i l = _mm256_xor_si256(
        _mm256_xor_si256(
            _mm256_packs_epi16(_mm256_cmpgt_epi16(black, s01), _mm256_cmpgt_epi16(black, s23)), d),
        _mm256_packs_epi16(_mm256_cmpgt_epi16(lightGrey, s01), _mm256_cmpgt_epi16(lightGrey, s23)));
    const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                             7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    const auto dm =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_shuffle_epi8(d, reverse)));
    const auto lm =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_shuffle_epi8(l, reverse)));
    std::memcpy(dark, &dm, 4);
    std::memcpy(light, &lm, 4);
}

__attribute__((target("avx2"))) inline __m256i halves(const std::uint8_t* low,
                                                      const std::uint8_t* high) {
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(high),
                               reinterpret_cast<const __m128i*>(low));
}

// The tails go to the SSE2 kernels: clearing the upper halves first spares them the penalty of
// mixing the two encodings.
__attribute__((target("avx2"))) void avx2Edged4(const std::uint8_t* in, std::size_t count,
                                                const BandEdges& edges, std::uint8_t* dark,
                                                std::uint8_t* light) {
    const Edges256 e = edges256(edges);
    std::size_t x = 0;
    for (; x + 32 <= count; x += 32, in += 128, dark += 4, light += 4) {
        const __m256i v[4] = {halves(in, in + 64), halves(in + 16, in + 80),
                              halves(in + 32, in + 96), halves(in + 48, in + 112)};
        storeBits32(v, e, dark, light);
    }
    _mm256_zeroupper();
    sse2Edged4(in, count - x, edges, dark, light);
}

__attribute__((target("avx2"))) void avx2Edged3(const std::uint8_t* in, std::size_t count,
                                                const BandEdges& edges, std::uint8_t* dark,
                                                std::uint8_t* light) {
    // Twelve bytes (four pixels) of each 16-byte load spread into 32-bit lanes.
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                            1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const Edges256 e = edges256(edges);
    std::size_t x = 0;
    // The last load of 32 pixels ends 4 bytes past their 96: two more pixels must follow.
    for (; x + 34 <= count; x += 32, in += 96, dark += 4, light += 4) {
        __m256i v[4];
        for (int k = 0; k < 4; ++k) {
            v[k] = _mm256_shuffle_epi8(halves(in + 12 * k, in + 48 + 12 * k), spread);
        }
        storeBits32(v, e, dark, light);
    }
    _mm256_zeroupper();
    sse2Edged3(in, count - x, edges, dark, light);
}

void avx2Bytes4(const std::uint8_t* in, std::size_t count, std::uint8_t* dark,
                std::uint8_t* light) {
    avx2Edged4(in, count, kPlainEdges, dark, light);
}

void avx2Bytes3(const std::uint8_t* in, std::size_t count, std::uint8_t* dark,
                std::uint8_t* light) {
    avx2Edged3(in, count, kPlainEdges, dark, light);
}

// The sums of sixteen 16-bit pixels in their lanes.
__attribute__((target("avx2"))) inline __m256i wordSums16(__m256i w, unsigned green) {
    const __m256i five = _mm256_set1_epi16(31);
    const __m256i by5 = _mm256_set1_epi16(527);
    const __m256i plus5 = _mm256_set1_epi16(23);
    const __m256i blue = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(w, five), by5), plus5), 6);
    const __m256i red =
        green == 6 ? _mm256_srli_epi16(w, 11) : _mm256_and_si256(_mm256_srli_epi16(w, 10), five);
    const __m256i redSum =
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(red, by5), plus5), 6);
    const __m256i raw = _mm256_srli_epi16(w, 5);
    const __m256i greenSum =
        green == 6
            ? _mm256_srli_epi16(
                  _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(raw, _mm256_set1_epi16(63)),
                                                      _mm256_set1_epi16(259)),
                                   _mm256_set1_epi16(33)),
                  6)
            : _mm256_srli_epi16(
                  _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(raw, five), by5), plus5), 6);
    return _mm256_add_epi16(_mm256_add_epi16(redSum, greenSum), blue);
}

// Whether each of 32 sums lies below its edge, as bytes.
__attribute__((target("avx2"))) inline __m256i belowEdge(__m256i bound, __m256i first,
                                                         __m256i second) {
    return _mm256_packs_epi16(_mm256_cmpgt_epi16(bound, first), _mm256_cmpgt_epi16(bound, second));
}

// Pixels 0-7 and 16-23 in one vector, 8-15 and 24-31 in the other: the lane-wise pack then
// puts all 32 in order, and each half's lanes are columns 0-7.
__attribute__((target("avx2"))) void avx2Words16(const std::uint8_t* in, std::size_t count,
                                                 unsigned green, const BandEdges& edges,
                                                 std::uint8_t* dark, std::uint8_t* light) {
    const Edges256 e = edges256(edges);
    const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                             7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    std::size_t x = 0;
    for (; x + 32 <= count; x += 32, in += 64, dark += 4, light += 4) {
        const __m256i first = wordSums16(halves(in, in + 32), green);
        const __m256i second = wordSums16(halves(in + 16, in + 48), green);
        const __m256i d = belowEdge(e.dark, first, second);
        const __m256i l = _mm256_xor_si256(_mm256_xor_si256(belowEdge(e.black, first, second), d),
                                           belowEdge(e.light, first, second));
        const auto dm =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_shuffle_epi8(d, reverse)));
        const auto lm =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_shuffle_epi8(l, reverse)));
        std::memcpy(dark, &dm, 4);
        std::memcpy(light, &lm, 4);
    }
    _mm256_zeroupper();
    sse2Words16(in, count - x, green, edges, dark, light);
}

// 32 indices at a time: byte i / 8 of each bitmap is picked by two 16-entry shuffles, the bit
// i % 8 by a third, and a byte reversal in each group of eight puts the first pixel of a byte in
// its top bit.
__attribute__((target("avx2"))) void avx2Indexed(const std::uint8_t* in, std::size_t count,
                                                 const LevelTable& table, std::uint8_t* dark,
                                                 std::uint8_t* light) {
    auto half = [](const std::uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    const __m256i darkLow = _mm256_broadcastsi128_si256(half(table.dark.data()));
    const __m256i darkHigh = _mm256_broadcastsi128_si256(half(table.dark.data() + 16));
    const __m256i lightLow = _mm256_broadcastsi128_si256(half(table.light.data()));
    const __m256i lightHigh = _mm256_broadcastsi128_si256(half(table.light.data() + 16));
    const __m256i bitOf =
        _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16,
                         32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                             7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    std::size_t x = 0;
    for (; x + 32 <= count; x += 32, in += 32, dark += 4, light += 4) {
        const __m256i v =
            _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in)), reverse);
        const __m256i byte = _mm256_and_si256(_mm256_srli_epi16(v, 3), _mm256_set1_epi8(31));
        const __m256i high = _mm256_cmpgt_epi8(byte, _mm256_set1_epi8(15));
        const __m256i bit = _mm256_shuffle_epi8(bitOf, _mm256_and_si256(v, _mm256_set1_epi8(7)));
        const __m256i d = _mm256_blendv_epi8(_mm256_shuffle_epi8(darkLow, byte),
                                             _mm256_shuffle_epi8(darkHigh, byte), high);
        const __m256i l = _mm256_blendv_epi8(_mm256_shuffle_epi8(lightLow, byte),
                                             _mm256_shuffle_epi8(lightHigh, byte), high);
        const auto dm = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(d, bit), bit)));
        const auto lm = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(l, bit), bit)));
        std::memcpy(dark, &dm, 4);
        std::memcpy(light, &lm, 4);
    }
    _mm256_zeroupper();
    scalarIndexed(in, count - x, table, dark, light);
}

// Thirty-two pixels of three bytes a pixel as their grey averages, as storeGreys16() makes
// them: the greys are made on the reading thread, which shares its core with writing the text.
__attribute__((target("avx2"))) void avx2Greys3(const std::uint8_t* in, std::size_t count,
                                                std::uint8_t* greys) {
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                            1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i weights = _mm256_set1_epi32(0x00010101);
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i third = _mm256_set1_epi16(21846);
    std::size_t x = 0;
    // As in avx2Edged3(): two more pixels must follow the last 32.
    for (; x + 34 <= count; x += 32, in += 96, greys += 32) {
        __m256i v[4];
        for (int k = 0; k < 4; ++k) {
            v[k] = _mm256_shuffle_epi8(halves(in + 12 * k, in + 48 + 12 * k), spread);
        }
        const __m256i s01 = _mm256_hadd_epi16(_mm256_maddubs_epi16(v[0], weights),
                                              _mm256_maddubs_epi16(v[1], weights));
        const __m256i s23 = _mm256_hadd_epi16(_mm256_maddubs_epi16(v[2], weights),
                                              _mm256_maddubs_epi16(v[3], weights));
        const __m256i g01 = _mm256_mulhi_epu16(_mm256_add_epi16(s01, one), third);
        const __m256i g23 = _mm256_mulhi_epu16(_mm256_add_epi16(s23, one), third);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(greys), _mm256_packus_epi16(g01, g23));
    }
    _mm256_zeroupper();
    sse2Greys3(in, count - x, greys);
}

constexpr LevelKernel kAvx2{avx2Bytes3, avx2Bytes4, avx2Edged3,  avx2Edged4,
                            avx2Greys3, sse2Greys4, avx2Words16, avx2Indexed};

#endif

} // namespace

bool isaAvailable(Isa isa) {
    switch (isa) {
    case Isa::Scalar:
        return true;
#if defined(__x86_64__)
    case Isa::Sse2:
        return true;
    case Isa::Avx2:
        return __builtin_cpu_supports("avx2");
#else
    case Isa::Sse2:
    case Isa::Avx2:
        return false;
#endif
    }
    return false;
}

const LevelKernel& levelKernel(Isa isa) {
#if defined(__x86_64__)
    switch (isa) {
    case Isa::Scalar:
        return kScalar;
    case Isa::Sse2:
        return kSse2;
    case Isa::Avx2:
        return kAvx2;
    }
#endif
    static_cast<void>(isa);
    return kScalar;
}

const LevelKernel& levelKernel() {
    static const LevelKernel& best = isaAvailable(Isa::Avx2)   ? levelKernel(Isa::Avx2)
                                     : isaAvailable(Isa::Sse2) ? levelKernel(Isa::Sse2)
                                                               : levelKernel(Isa::Scalar);
    return best;
}

const BandEdges& plainEdges() {
    return kPlainEdges;
}

unsigned wordLayout(std::span<const Pixel> colours) {
    if (colours.size() != 65536) {
        return 0;
    }
    for (const unsigned green : {6u, 5u}) {
        bool same = true;
        for (unsigned w = 0; w < 65536 && same; ++w) {
            const Pixel p = colours[w];
            same = ((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF)) == wordSum(w, green);
        }
        if (same) {
            return green;
        }
    }
    return 0;
}

LevelTable levelTable(std::span<const Pixel> palette) {
    std::array<std::uint8_t, 256> codes{};
    for (std::size_t i = 0; i < palette.size() && i < codes.size(); ++i) {
        const Pixel p = palette[i];
        const unsigned s = (p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF);
        codes[i] = static_cast<std::uint8_t>(darkBit(s, kPlainEdges, 0) |
                                             lightBit(s, kPlainEdges, 0) << 1);
    }
    return levelTable(codes);
}

LevelTable levelTable(const std::array<std::uint8_t, 256>& codes) {
    LevelTable table{codes, {}, {}};
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const auto at = static_cast<unsigned>(i % 8);
        table.dark[i / 8] = static_cast<std::uint8_t>(table.dark[i / 8] | (codes[i] & 1u) << at);
        table.light[i / 8] = static_cast<std::uint8_t>(table.light[i / 8] | (codes[i] >> 1) << at);
    }
    return table;
}

void bandBits(const std::uint8_t* bands, std::size_t count, std::uint8_t* dark,
              std::uint8_t* light) {
    std::size_t x = 0;
#if defined(__x86_64__)
    const __m128i two = _mm_set1_epi8(2);
    const __m128i one = _mm_set1_epi8(1);
    for (; x + 16 <= count; x += 16, bands += 16, dark += 2, light += 2) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bands));
        const auto dm = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(two, b)));
        const auto lm = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(b, one), _mm_setzero_si128())));
        dark[0] = kReversed[dm & 0xFF];
        dark[1] = kReversed[dm >> 8];
        light[0] = kReversed[lm & 0xFF];
        light[1] = kReversed[lm >> 8];
    }
#endif
    scalarBandBits(bands, count - x, dark, light);
}

namespace {

// The band codes (0 black, 1 dark grey, 2 light grey, 3 white) of four pixels from a nibble of
// each plane, looked up at once: both bits black, the dark one dark grey, neither white.
const std::array<std::array<std::uint8_t, 4>, 256>& nibbleBands() {
    static const auto kFours = [] {
        std::array<std::array<std::uint8_t, 4>, 256> fours{};
        for (unsigned d = 0; d < 16; ++d) {
            for (unsigned l = 0; l < 16; ++l) {
                for (unsigned k = 0; k < 4; ++k) {
                    const unsigned bit = 3 - k;
                    const unsigned level = ((d >> bit) & 1u) * 2 + ((l >> bit) & 1u);
                    fours[d << 4 | l][k] = static_cast<std::uint8_t>(3 - level);
                }
            }
        }
        return fours;
    }();
    return kFours;
}

// The bands of pixels x to x + 3 of a row of plane bits.
const std::array<std::uint8_t, 4>& bandsAt(const std::uint8_t* dark, const std::uint8_t* light,
                                           std::size_t x) {
    const unsigned shift = x % 8 == 0 ? 4 : 0;
    const unsigned d = (dark[x / 8] >> shift) & 0xFu;
    const unsigned l = (light[x / 8] >> shift) & 0xFu;
    return nibbleBands()[d << 4 | l];
}

} // namespace

void paintLevels(const std::uint8_t* dark, const std::uint8_t* light, std::span<Pixel> row) {
    const std::size_t count = row.size();
    for (std::size_t x = 0; x < count; x += 4) {
        const auto& four = bandsAt(dark, light, x);
        for (std::size_t k = 0; k < 4 && x + k < count; ++k) {
            row[x + k] = (row[x + k] & ~kColourMask) | kLevelPalette[four[k]];
        }
    }
}

void levelIndices(const std::uint8_t* dark, const std::uint8_t* light,
                  std::span<std::uint8_t> row) {
    const std::size_t count = row.size();
    for (std::size_t x = 0; x < count; x += 4) {
        std::memcpy(row.data() + x, bandsAt(dark, light, x).data(),
                    std::min<std::size_t>(4, count - x));
    }
}

void Canvas::paintLevelRow(int y, const std::uint8_t* dark, const std::uint8_t* light) {
    paintLevels(dark, light, mutableRow(y));
}

void Canvas::maskRow(int y, const std::uint8_t* opaque) {
    const std::span<Pixel> pixels = mutableRow(y);
    for (std::size_t x = 0; x < pixels.size(); ++x) {
        const bool drawn = (opaque[x / 8] >> (7 - x % 8) & 1u) != 0;
        pixels[x] = (pixels[x] & kColourMask) | (drawn ? 0xFF000000u : 0u);
    }
}

} // namespace imaging
