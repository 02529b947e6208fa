// The rows' shared pieces: the rounding and overflow index of the tables,
// the overflow rule for the pixels set aside (four at a time with AVX2), and
// the construction of each depth's tables (MorvekExposureRows8.cpp,
// MorvekExposureRows16.cpp and MorvekExposureRows32.cpp hold the depths).
#include "MorvekExposureRowsShared.h"

#include <cmath>

namespace Morvek {
namespace RowsDetail {

unsigned roundEntry(double v, double top) {
    const double x = v + 0.5;
    if (!(x >= 0.0)) {
        return 0;
    }
    if (x > top) {
        return static_cast<unsigned>(top);
    }
    return static_cast<unsigned>(x);
}

int overflowFrom(const std::vector<double>& table, double threshold) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (std::isnan(table[i]) || (i > 0 && table[i - 1] > table[i])) {
            return -1;
        }
    }
    std::size_t first = 0;
    while (first < table.size() && table[first] < threshold) {
        ++first;
    }
    return static_cast<int>(first);
}

namespace {

// Round half up and clamp to 0..top (NaN to 0), as the converter rounds.
inline double roundClampValue(double v, double top) {
    const double x = v + 0.5;
    if (!(x >= 0.0)) {
        return 0.0;
    }
    return x > top ? top : x;
}

#ifdef MORVEK_AVX2
// The alphas of four set-aside pixels as doubles, and their colour values
// (clamped to the last index, as the converter reads the table) in `index`.
__attribute__((target("avx2"), always_inline)) inline __m256d alphaAndIndices(const PF_Pixel* saved,
                                                                              std::uint16_t* index) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(saved));
    const __m128i colour = _mm_shuffle_epi8(p, _mm_setr_epi8(1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, -1, -1, -1, -1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index), _mm_cvtepu8_epi16(colour));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index + 8), _mm_cvtepu8_epi16(_mm_srli_si128(colour, 8)));
    return _mm256_cvtepi32_pd(_mm_and_si128(p, _mm_set1_epi32(0xFF)));
}

__attribute__((target("avx2"), always_inline)) inline __m256d alphaAndIndices(const PF_Pixel16* saved,
                                                                              std::uint16_t* index) {
    const __m256i p = _mm256_min_epu16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(saved)),
                                       _mm256_set1_epi16(static_cast<short>(0x8000)));
    const __m256i colour =
        _mm256_shuffle_epi8(p, _mm256_setr_epi8(2, 3, 4, 5, 6, 7, 10, 11, 12, 13, 14, 15, -1, -1, -1, -1, 2, 3, 4, 5, 6,
                                                7, 10, 11, 12, 13, 14, 15, -1, -1, -1, -1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index), _mm256_castsi256_si128(colour));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index + 6), _mm256_extracti128_si256(colour, 1));
    const __m256i alpha = _mm256_permutevar8x32_epi32(_mm256_and_si256(p, _mm256_set1_epi64x(0xFFFF)),
                                                      _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6));
    return _mm256_cvtepi32_pd(_mm256_castsi256_si128(alpha));
}

// The alphas and the table entries of four set-aside pixels.
template <class Pixel>
__attribute__((target("avx2"), always_inline)) inline void
tableEntries(const double* table, const Pixel* saved, __m256d& a, __m256d& r, __m256d& g, __m256d& b) {
    // Colour values in pixel order: red, green and blue of pixel 0, then 1...
    alignas(16) std::uint16_t c[16];
    a = alphaAndIndices(saved, c);
    r = _mm256_setr_pd(table[c[0]], table[c[3]], table[c[6]], table[c[9]]);
    g = _mm256_setr_pd(table[c[1]], table[c[4]], table[c[7]], table[c[10]]);
    b = _mm256_setr_pd(table[c[2]], table[c[5]], table[c[8]], table[c[11]]);
}

// Four set-aside pixels (saved[0..3], to dst[set[0..3]]) through the rule.
// Their alpha lies in 1..top - 1 (opaque, transparent and out-of-range
// alphas take other paths), so A' > 0. A `product` other than 0 (16 bits
// only) gives the entries as products instead of table reads.
template <class Pixel>
__attribute__((target("avx2"), always_inline)) inline void
overflowGroup4(const double* table, double product, __m256d vtop, bool bySixteen, const Pixel* saved, Pixel* dst,
               const std::uint32_t* set) {
    __m256d a, r, g, b;
    if constexpr (sizeof(Pixel) == sizeof(PF_Pixel16)) {
        if (product != 0.0) {
            productEntries(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(saved)), product, a, r, g, b);
        } else {
            tableEntries(table, saved, a, r, g, b);
        }
    } else {
        tableEntries(table, saved, a, r, g, b);
    }
    const RuleLanes out = ruleLanes(a, r, g, b, vtop, bySixteen);
    // The four pixels as (little-endian) words, each moved out of the vector
    // register and stored whole (not through memory: a narrower load from
    // a wider store that has not yet left would wait for it).
    if constexpr (sizeof(Pixel) == 4) {
        const __m128i words = _mm_or_si128(_mm_or_si128(out.a, _mm_slli_epi32(out.r, 8)),
                                           _mm_or_si128(_mm_slli_epi32(out.g, 16), _mm_slli_epi32(out.b, 24)));
        storeWord(dst[set[0]], static_cast<std::uint32_t>(_mm_cvtsi128_si32(words)));
        storeWord(dst[set[1]], static_cast<std::uint32_t>(_mm_extract_epi32(words, 1)));
        storeWord(dst[set[2]], static_cast<std::uint32_t>(_mm_extract_epi32(words, 2)));
        storeWord(dst[set[3]], static_cast<std::uint32_t>(_mm_extract_epi32(words, 3)));
    } else {
        const __m256i words = ruleWords16(out);
        const __m128i first = _mm256_castsi256_si128(words), second = _mm256_extracti128_si256(words, 1);
        storeWord(dst[set[0]], static_cast<std::uint64_t>(_mm_cvtsi128_si64(first)));
        storeWord(dst[set[1]], static_cast<std::uint64_t>(_mm_extract_epi64(first, 1)));
        storeWord(dst[set[2]], static_cast<std::uint64_t>(_mm_cvtsi128_si64(second)));
        storeWord(dst[set[3]], static_cast<std::uint64_t>(_mm_extract_epi64(second, 1)));
    }
}

// Set-aside pixels four at a time (two groups per step, so that their
// divisions overlap): the same double operations lane by lane (no fused
// multiply-add), so the same results. `bySixteen` selects the 16-bit new
// alpha (M A) 2^-15 instead of the 8-bit (M A) / 255. Returns how many it
// converted (a multiple of four).
template <class Pixel>
__attribute__((target("avx2"))) int overflowPixels4(const double* table, double product, double top, bool bySixteen,
                                                    const Pixel* saved, Pixel* dst, const std::uint32_t* set,
                                                    int count) {
    const __m256d vtop = _mm256_set1_pd(top);
    int n = 0;
    for (; n + 8 <= count; n += 8) {
        overflowGroup4(table, product, vtop, bySixteen, saved + n, dst, set + n);
        overflowGroup4(table, product, vtop, bySixteen, saved + n + 4, dst, set + n + 4);
    }
    for (; n + 4 <= count; n += 4) {
        overflowGroup4(table, product, vtop, bySixteen, saved + n, dst, set + n);
    }
    return n;
}
#endif

// `product`: 0, or the factor that makes every entry v times it (the
// vector code then computes the entries instead of reading them).
template <class Pixel, class Channel, class NewAlpha>
inline void overflowPixels(const double* table, double product, double top, unsigned lastIndex, NewAlpha newAlpha,
                           const Pixel* saved, Pixel* dst, const std::uint32_t* set, int count, bool vector) {
    int n = 0;
#ifdef MORVEK_AVX2
    if (vector && count >= 4) {
        n = overflowPixels4(table, product, top, sizeof(Channel) == 2, saved, dst, set, count);
    }
#else
    (void)vector;
    (void)product;
#endif
    for (; n < count; ++n) {
        const Pixel s = saved[n];
        const double a = static_cast<double>(s.alpha);
        double r = table[s.red > lastIndex ? lastIndex : s.red];
        double g = table[s.green > lastIndex ? lastIndex : s.green];
        double b = table[s.blue > lastIndex ? lastIndex : s.blue];
        const double gb = g > b ? g : b;
        const double brightest = r > gb ? r : gb;
        double aNew = newAlpha(brightest, a);
        if (aNew > top) {
            aNew = top;
        }
        const double k = a / aNew;
        r *= k;
        g *= k;
        b *= k;
        Pixel& d = dst[set[n]];
        d.alpha = static_cast<Channel>(roundClampValue(aNew, top));
        d.red = static_cast<Channel>(roundClampValue(r, top));
        d.green = static_cast<Channel>(roundClampValue(g, top));
        d.blue = static_cast<Channel>(roundClampValue(b, top));
    }
}

} // namespace

void overflowPixels8(const double* table, const PF_Pixel* saved, PF_Pixel* dst, const std::uint32_t* set, int count,
                     bool vector) {
    overflowPixels<PF_Pixel, A_u_char>(
        table, 0.0, 255.0, 255u, [](double m, double a) { return (m * a) / 255.0; }, saved, dst, set, count, vector);
}

void overflowPixels16(const double* table, double product, const PF_Pixel16* saved, PF_Pixel16* dst,
                      const std::uint32_t* set, int count, bool vector) {
    overflowPixels<PF_Pixel16, A_u_short>(
        table, product, 32768.0, 32768u, [](double m, double a) { return (m * a) * 3.0517578125e-05; }, saved, dst, set,
        count, vector);
}

} // namespace RowsDetail

ExposureRows::ExposureRows(const Converter& converter) {
    const std::vector<double>& table = converter.getTable();
    const A_long bpc = converter.getParameter().bpc;
    if (bpc == 0 && table.size() == 256) {
        build8(table);
    } else if (bpc == 1 && table.size() == 32769) {
        build16(converter);
    }
    build32(converter);
}

} // namespace Morvek
