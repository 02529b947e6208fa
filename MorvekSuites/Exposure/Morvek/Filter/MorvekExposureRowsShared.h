// The pieces that the rows of the 8- and 16-bit depths share (internal to
// the MorvekExposureRows files): pixels as whole words, the chunk size, the
// rounding of table entries, the first overflowing index, and the
// converter's overflow rule for the pixels set aside, with its four-lane
// steps, which the 16-bit rows also apply in their own pass.
#ifndef MORVEK_FILTER_MORVEKEXPOSUREROWSSHARED_H
#define MORVEK_FILTER_MORVEKEXPOSUREROWSSHARED_H

#include "MorvekExposureRows.h"
#include "MorvekProcessor.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#ifdef MORVEK_AVX2
#include <immintrin.h>
#endif

// Pixels read and written as whole words where the byte order is known to be
// little-endian (every platform the module is built for); assembled channel by
// channel otherwise. Either way a word holds alpha in its lowest channel, then
// red, green and blue.
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define MORVEK_ROWS_PACKED 1
#endif

namespace Morvek {
namespace RowsDetail {

// Pixels per chunk of the integer paths: the partly transparent overflowing
// pixels of a chunk are set aside and converted together afterwards, so that
// their divisions overlap instead of waiting on one another. Each chunk also
// pays the vector loop's set-up (the call through the chosen loop, its
// constant registers) and converts its last one to three set-aside pixels
// one by one: chunks of 1024 pixels (12 KB of stack for the set-aside
// arrays at 16 bits) render 8-bit frames about 10 % faster than chunks of
// 256, and overexposed 16-bit ones about 3 %.
constexpr std::ptrdiff_t kChunk = 1024;

// The converter's rounding of a tabulated value: round half up, clamp to
// 0..top, NaN to 0.
unsigned roundEntry(double v, double top);

// For a table that never decreases (and so holds no NaN): the first index
// whose entry reaches the overflow threshold, or the table's size when none
// does. -1 for any other table.
int overflowFrom(const std::vector<double>& table, double threshold);

inline std::uint32_t loadWord(const PF_Pixel& p) {
#ifdef MORVEK_ROWS_PACKED
    std::uint32_t w;
    std::memcpy(&w, &p, 4);
    return w;
#else
    return p.alpha | (std::uint32_t{p.red} << 8) | (std::uint32_t{p.green} << 16) | (std::uint32_t{p.blue} << 24);
#endif
}

inline void storeWord(PF_Pixel& p, std::uint32_t w) {
#ifdef MORVEK_ROWS_PACKED
    std::memcpy(&p, &w, 4);
#else
    p = PF_Pixel{static_cast<A_u_char>(w), static_cast<A_u_char>(w >> 8), static_cast<A_u_char>(w >> 16),
                 static_cast<A_u_char>(w >> 24)};
#endif
}

inline std::uint64_t loadWord(const PF_Pixel16& p) {
#ifdef MORVEK_ROWS_PACKED
    std::uint64_t w;
    std::memcpy(&w, &p, 8);
    return w;
#else
    return p.alpha | (std::uint64_t{p.red} << 16) | (std::uint64_t{p.green} << 32) | (std::uint64_t{p.blue} << 48);
#endif
}

inline void storeWord(PF_Pixel16& p, std::uint64_t w) {
#ifdef MORVEK_ROWS_PACKED
    std::memcpy(&p, &w, 8);
#else
    p = PF_Pixel16{static_cast<A_u_short>(w), static_cast<A_u_short>(w >> 16), static_cast<A_u_short>(w >> 32),
                   static_cast<A_u_short>(w >> 48)};
#endif
}

// The converter's overflow rule for pixels with 0 < alpha <= top and a
// brightest channel at or above the threshold (so A' > 0), step for step:
// A' = min(top, new alpha), k = A / A', colour times k, everything rounded.
// saved[n] is the source of pixel dst[set[n]] (the row may be converted in
// place, so the source may be gone).
// `vector`: the processor has AVX2. `product` (16 bits): 0, or the factor
// that makes every entry v times it (the vector code then computes the
// entries instead of reading them).
void overflowPixels8(const double* table, const PF_Pixel* saved, PF_Pixel* dst, const std::uint32_t* set, int count,
                     bool vector);
void overflowPixels16(const double* table, double product, const PF_Pixel16* saved, PF_Pixel16* dst,
                      const std::uint32_t* set, int count, bool vector);

#ifdef MORVEK_AVX2
// Round half up, clamp to the top, truncate: four lanes. Every value the
// rule produces is a number at least 0 (alpha and the entries are, k is
// positive), so the converter's NaN and below-zero cases do not arise.
__attribute__((target("avx2"), always_inline)) inline __m128i roundLanes(__m256d v, __m256d top) {
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_add_pd(v, _mm256_set1_pd(0.5)), top));
}

// For a 16-bit table whose every entry is v times `product`: the alphas and
// the entries of four set-aside pixels, computed (the same products) rather
// than read.
__attribute__((target("avx2"), always_inline)) inline void productEntries(__m256i pixels, double product, __m256d& a,
                                                                          __m256d& r, __m256d& g, __m256d& b) {
    // 32-bit lanes: alpha | red << 16, then green | blue << 16, per pixel.
    const __m256i p = _mm256_min_epu16(pixels, _mm256_set1_epi16(static_cast<short>(0x8000)));
    const __m256i order = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i ag = _mm256_permutevar8x32_epi32(_mm256_and_si256(p, _mm256_set1_epi32(0xFFFF)), order);
    const __m256i rb = _mm256_permutevar8x32_epi32(_mm256_srli_epi32(p, 16), order);
    const __m256d m = _mm256_set1_pd(product);
    a = _mm256_cvtepi32_pd(_mm256_castsi256_si128(ag));
    g = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(ag, 1)), m);
    r = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(rb)), m);
    b = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(rb, 1)), m);
}

// The rule's steps for four pixels, given their alphas and entries: A' =
// min(top, new alpha), k = A / A', colour times k, all four rounded.
struct RuleLanes {
    __m128i a, r, g, b;
};

__attribute__((target("avx2"), always_inline)) inline RuleLanes ruleLanes(__m256d a, __m256d r, __m256d g, __m256d b,
                                                                          __m256d vtop, bool bySixteen) {
    const __m256d brightest = _mm256_max_pd(r, _mm256_max_pd(g, b)); // no NaN among the entries
    const __m256d ma = _mm256_mul_pd(brightest, a);
    __m256d aNew =
        bySixteen ? _mm256_mul_pd(ma, _mm256_set1_pd(3.0517578125e-05)) : _mm256_div_pd(ma, _mm256_set1_pd(255.0));
    aNew = _mm256_min_pd(aNew, vtop);
    const __m256d k = _mm256_div_pd(a, aNew);
    return RuleLanes{roundLanes(aNew, vtop), roundLanes(_mm256_mul_pd(r, k), vtop),
                     roundLanes(_mm256_mul_pd(g, k), vtop), roundLanes(_mm256_mul_pd(b, k), vtop)};
}

// The four 16-bit pixels of the rule's results, in pixel order.
__attribute__((target("avx2"), always_inline)) inline __m256i ruleWords16(const RuleLanes& out) {
    const __m128i low = _mm_or_si128(out.a, _mm_slli_epi32(out.r, 16));
    const __m128i high = _mm_or_si128(out.g, _mm_slli_epi32(out.b, 16));
    return _mm256_set_m128i(_mm_unpackhi_epi32(low, high), _mm_unpacklo_epi32(low, high));
}

// For each 8-bit mask, the positions of its set bits in order, four bits
// each from the lowest.
struct Compaction {
    std::uint32_t positions[256];
};
constexpr Compaction makeCompaction() {
    Compaction c{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        int out = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((mask & (1u << bit)) != 0) {
                c.positions[mask] |= bit << (4 * out++);
            }
        }
    }
    return c;
}
inline constexpr Compaction kCompaction = makeCompaction();
#endif

} // namespace RowsDetail
} // namespace Morvek

#endif // MORVEK_FILTER_MORVEKEXPOSUREROWSSHARED_H
