#include "imaging/level_bits.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace imaging {
namespace {

static_assert(std::endian::native == std::endian::little, "masks are stored little-endian");

// The bands as ranges of the byte sum s = r + g + b, since the grey average is (s + 1) / 3:
// black s < 128, dark grey s < 383, light grey s < 638, else white. Dark is set below 383;
// light is set in the first and the third band, the parity of the three comparisons.
constexpr unsigned kBlackBelow = 128;
constexpr unsigned kDarkBelow = 383;
constexpr unsigned kLightBelow = 638;

inline unsigned darkBit(unsigned sum) {
    return sum < kDarkBelow ? 1u : 0u;
}
inline unsigned lightBit(unsigned sum) {
    return (sum < kBlackBelow ? 1u : 0u) ^ (sum < kDarkBelow ? 1u : 0u) ^
           (sum < kLightBelow ? 1u : 0u);
}

// Eight pixels (or fewer, the last ones of a row) a byte, first pixel in bit 7.
template <std::size_t Stride>
void scalarBits(const std::uint8_t* in, std::size_t count, std::uint8_t* dark,
                std::uint8_t* light) {
    for (std::size_t x = 0; x < count; x += 8) {
        const std::size_t n = count - x < 8 ? count - x : 8;
        unsigned d = 0;
        unsigned l = 0;
        for (std::size_t i = 0; i < n; ++i, in += Stride) {
            const unsigned s = unsigned{in[0]} + in[1] + in[2];
            d = d << 1 | darkBit(s);
            l = l << 1 | lightBit(s);
        }
        *dark++ = static_cast<std::uint8_t>(d << (8 - n));
        *light++ = static_cast<std::uint8_t>(l << (8 - n));
    }
}

void scalarBytes3(const std::uint8_t* in, std::size_t count, std::uint8_t* dark,
                  std::uint8_t* light) {
    scalarBits<3>(in, count, dark, light);
}

void scalarBytes4(const std::uint8_t* in, std::size_t count, std::uint8_t* dark,
                  std::uint8_t* light) {
    scalarBits<4>(in, count, dark, light);
}

constexpr LevelKernel kScalar{scalarBytes3, scalarBytes4};

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

// Sixteen pixels' sums in 16-bit lanes to their two bytes of each plane.
inline void storeBits16(__m128i low, __m128i high, std::uint8_t* dark, std::uint8_t* light) {
    auto below = [&](int bound) {
        const __m128i b = _mm_set1_epi16(static_cast<short>(bound));
        return _mm_packs_epi16(_mm_cmpgt_epi16(b, low), _mm_cmpgt_epi16(b, high));
    };
    const __m128i d = below(kDarkBelow);
    const __m128i l = _mm_xor_si128(_mm_xor_si128(below(kBlackBelow), d), below(kLightBelow));
    const auto dm = static_cast<unsigned>(_mm_movemask_epi8(d));
    const auto lm = static_cast<unsigned>(_mm_movemask_epi8(l));
    dark[0] = kReversed[dm & 0xFF];
    dark[1] = kReversed[dm >> 8];
    light[0] = kReversed[lm & 0xFF];
    light[1] = kReversed[lm >> 8];
}

void sse2Bytes4(const std::uint8_t* in, std::size_t count, std::uint8_t* dark,
                std::uint8_t* light) {
    std::size_t x = 0;
    for (; x + 16 <= count; x += 16, in += 64, dark += 2, light += 2) {
        auto at = [&](int k) {
            return sums4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * k)));
        };
        storeBits16(_mm_packs_epi32(at(0), at(1)), _mm_packs_epi32(at(2), at(3)), dark, light);
    }
    scalarBits<4>(in, count - x, dark, light);
}

void sse2Bytes3(const std::uint8_t* in, std::size_t count, std::uint8_t* dark,
                std::uint8_t* light) {
    std::size_t x = 0;
    // Each pixel is a 4-byte load, so sixteen of them reach one byte past their 48: a
    // seventeenth pixel must follow.
    for (; x + 17 <= count; x += 16, in += 48, dark += 2, light += 2) {
        auto at = [&](int k) {
            const std::uint8_t* p = in + 12 * k;
            return sums4(
                _mm_setr_epi32(static_cast<int>(load32(p)), static_cast<int>(load32(p + 3)),
                               static_cast<int>(load32(p + 6)), static_cast<int>(load32(p + 9))));
        };
        storeBits16(_mm_packs_epi32(at(0), at(1)), _mm_packs_epi32(at(2), at(3)), dark, light);
    }
    scalarBits<3>(in, count - x, dark, light);
}

constexpr LevelKernel kSse2{sse2Bytes3, sse2Bytes4};

// Thirty-two pixels from four vectors whose 128-bit halves hold pixels 4k..4k+3 (low) and
// 16+4k..19+4k (high) as bytes b0 b1 b2 x: the sums are gathered in pixel order by the lane-wise
// horizontal add and pack, and a byte reversal in each group of eight puts the first pixel of a
// byte in its top bit.
__attribute__((target("avx2"))) inline void storeBits32(const __m256i (&v)[4], std::uint8_t* dark,
                                                        std::uint8_t* light) {
    const __m256i weights = _mm256_set1_epi32(0x00010101);
    const __m256i s01 =
        _mm256_hadd_epi16(_mm256_maddubs_epi16(v[0], weights), _mm256_maddubs_epi16(v[1], weights));
    const __m256i s23 =
        _mm256_hadd_epi16(_mm256_maddubs_epi16(v[2], weights), _mm256_maddubs_epi16(v[3], weights));
    // No lambda here: it would not share this function's instruction set.
    const __m256i black = _mm256_set1_epi16(kBlackBelow);
    const __m256i darkGrey = _mm256_set1_epi16(kDarkBelow);
    const __m256i lightGrey = _mm256_set1_epi16(kLightBelow);
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

__attribute__((target("avx2"))) void avx2Bytes4(const std::uint8_t* in, std::size_t count,
                                                std::uint8_t* dark, std::uint8_t* light) {
    std::size_t x = 0;
    for (; x + 32 <= count; x += 32, in += 128, dark += 4, light += 4) {
        const __m256i v[4] = {halves(in, in + 64), halves(in + 16, in + 80),
                              halves(in + 32, in + 96), halves(in + 48, in + 112)};
        storeBits32(v, dark, light);
    }
    sse2Bytes4(in, count - x, dark, light);
}

__attribute__((target("avx2"))) void avx2Bytes3(const std::uint8_t* in, std::size_t count,
                                                std::uint8_t* dark, std::uint8_t* light) {
    // Twelve bytes (four pixels) of each 16-byte load spread into 32-bit lanes.
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                            1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    std::size_t x = 0;
    // The last load of 32 pixels ends 4 bytes past their 96: two more pixels must follow.
    for (; x + 34 <= count; x += 32, in += 96, dark += 4, light += 4) {
        __m256i v[4];
        for (int k = 0; k < 4; ++k) {
            v[k] = _mm256_shuffle_epi8(halves(in + 12 * k, in + 48 + 12 * k), spread);
        }
        storeBits32(v, dark, light);
    }
    sse2Bytes3(in, count - x, dark, light);
}

constexpr LevelKernel kAvx2{avx2Bytes3, avx2Bytes4};

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

LevelTable levelTable(std::span<const Pixel> palette) {
    LevelTable table{};
    for (std::size_t i = 0; i < palette.size() && i < table.size(); ++i) {
        const Pixel p = palette[i];
        const unsigned s = (p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF);
        table[i] = static_cast<std::uint8_t>(darkBit(s) | lightBit(s) << 1);
    }
    return table;
}

void indexedLevelBits(const std::uint8_t* indices, std::size_t count, const LevelTable& table,
                      std::uint8_t* dark, std::uint8_t* light) {
    for (std::size_t x = 0; x < count; x += 8) {
        const std::size_t n = count - x < 8 ? count - x : 8;
        unsigned d = 0;
        unsigned l = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned code = table[*indices++];
            d = d << 1 | (code & 1u);
            l = l << 1 | (code >> 1);
        }
        *dark++ = static_cast<std::uint8_t>(d << (8 - n));
        *light++ = static_cast<std::uint8_t>(l << (8 - n));
    }
}

} // namespace imaging
