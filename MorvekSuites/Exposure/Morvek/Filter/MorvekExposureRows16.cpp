// The 16-bit rows: the rounded table of 65536 entries and, at gamma 1, the
// straight line through it; the portable loops and their AVX2 forms side by
// side.
#include "MorvekExposureRowsShared.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Morvek {

using namespace RowsDetail;

namespace {

constexpr std::uint16_t kOverflow16 = 0xFFFF, kNaN16 = 0xFFFE; // above every value

// The line through the rounded 16-bit entries t of a straight curve
// v -> v scale: a gain G below 2^32 (one 32 x 32-bit product per value), an
// offset R and a shift s such that (v G + R) >> s is t[v] for every v below
// `from` (the first overflowing index, or 32769) and at least 32768 from
// there to 32768. Each entry n bounds v G + R to [n 2^s, (n + 1) 2^s), so
// for a given gain the offsets that fit every entry form an interval; the
// gains nearest to scale 2^s are tried in turn. Whether a line fits depends
// only on the entries, which it is checked against one by one. Gain 0 when
// none fits.
struct LineFit {
    std::uint64_t gain = 0, offset = 0;
    int shift = 0;
};

LineFit fitLine16(const std::uint16_t* t, int from, double scale) {
    // The products and results must stay within 31 bits for the vector code.
    if (!(scale > 0.0) || !(scale * 32769.0 < 0x1p30)) {
        return {};
    }
    int shift = 40;
    while (shift > 0 && std::ldexp(scale, shift) >= 0x1p32 - 1.0) {
        --shift;
    }
    const std::int64_t end = std::min<std::int64_t>(from, 32769);
    if (end < 1) {
        return {}; // entry 0 overflows: nothing below the index to fit
    }
    const auto nearest = static_cast<std::int64_t>(std::llround(std::ldexp(scale, shift)));
    for (const std::int64_t step : {0, -1, 1, -2, 2}) {
        const std::int64_t g = nearest + step;
        if (g <= 0 || g >= (std::int64_t{1} << 32)) {
            continue;
        }
        std::int64_t lo = 0;
        std::int64_t hi = std::numeric_limits<std::int64_t>::max();
        for (std::int64_t v = 0; v < end; ++v) {
            const std::int64_t n = t[v];
            lo = std::max(lo, n * (std::int64_t{1} << shift) - v * g);
            hi = std::min(hi, (n + 1) * (std::int64_t{1} << shift) - 1 - v * g);
        }
        if (lo > hi) {
            continue;
        }
        const std::int64_t r = lo + (hi - lo) / 2;
        // The line never decreases: reaching the top at `from` suffices, and
        // staying below 2^31 at 32768 keeps every result within its lane.
        if ((end <= 32768 && ((end * g + r) >> shift) < 32768) || ((32768 * g + r) >> shift) >= (1ll << 31)) {
            continue;
        }
        return {static_cast<std::uint64_t>(g), static_cast<std::uint64_t>(r), shift};
    }
    return {};
}

// The 16-bit pixels that a pass over a table that never decreases set aside
// (alpha above the top, or a colour at or above the overflow index with alpha
// other than the top): a transparent one becomes 0, alpha above the top goes
// through the converter, the rest take the overflow rule (compacted in
// saved/set first when there are others).
template <class Pixel, class Overflow>
void finishSetAside(const Exposure::Impl::ColorConverter& converter, unsigned top, Pixel* saved, Pixel* dst,
                    std::uint32_t* set, int count, bool vector, Overflow overflow) {
    // Usually every one of them takes the rule.
    bool plain = true;
    for (int n = 0; n < count; ++n) {
        plain = plain && saved[n].alpha != 0 && saved[n].alpha <= top;
    }
    if (plain) {
        overflow(converter.getTable().data(), saved, dst, set, count, vector);
        return;
    }
    int kept = 0;
    for (int n = 0; n < count; ++n) {
        const Pixel s = saved[n];
        Pixel& d = dst[set[n]];
        if (s.alpha == 0) {
            d = Pixel{0, 0, 0, 0};
        } else if (s.alpha > top) {
            converter.convert(s, d);
        } else {
            saved[kept] = s;
            set[kept] = set[n];
            ++kept;
        }
    }
    overflow(converter.getTable().data(), saved, dst, set, kept, vector);
}

// A pixel through the rounded entries (table of a never decreasing curve),
// alpha clamped to the top: the converter's result for every pixel that does
// not overflow, and for opaque ones that do.
inline std::uint64_t lookup16(const std::uint16_t* t, std::uint64_t px) {
    const std::uint64_t a = px & 0xFFFFu;
    return (a > 32768 ? 32768 : a) | (std::uint64_t{t[(px >> 16) & 0xFFFFu]} << 16) |
           (std::uint64_t{t[(px >> 32) & 0xFFFFu]} << 32) | (std::uint64_t{t[px >> 48]} << 48);
}

// Pixels begin..count of a chunk through a table that never decreases: every
// pixel is written; those with a colour value at or above `from` and alpha
// other than 32768 are appended to saved/set (finishSetAside sorts them).
// Returns the new count.
inline int rising16(const std::uint16_t* t, unsigned from, const PF_Pixel16* src, PF_Pixel16* dst, std::ptrdiff_t begin,
                    std::ptrdiff_t count, PF_Pixel16* saved, std::uint32_t* set, int n) {
    for (std::ptrdiff_t i = begin; i < count; ++i) {
        const std::uint64_t px = loadWord(src[i]);
        const std::uint64_t r = (px >> 16) & 0xFFFFu, g = (px >> 32) & 0xFFFFu, b = px >> 48;
        const std::uint64_t m = r > g ? (r > b ? r : b) : (g > b ? g : b);
        storeWord(saved[n], px);
        set[n] = static_cast<std::uint32_t>(i);
        n += static_cast<int>((m >= from) & ((px & 0xFFFFu) != 32768u));
        storeWord(dst[i], lookup16(t, px));
    }
    return n;
}

#ifdef MORVEK_AVX2
// Appends the pixels of x (four 16-bit pixels, pixel `first` on) selected by
// `mask` (below 16) to saved/set, in order; writes four pixels and eight
// indices, of which popcount(mask) count.
__attribute__((target("avx2"))) inline int append16(__m256i x, unsigned mask, std::uint32_t first, PF_Pixel16* saved,
                                                    std::uint32_t* set, int n) {
    const __m256i packed = _mm256_set1_epi32(static_cast<int>(kCompaction.positions[mask]));
    const __m256i pixel =
        _mm256_and_si256(_mm256_srlv_epi32(packed, _mm256_setr_epi32(0, 0, 4, 4, 8, 8, 12, 12)), _mm256_set1_epi32(7));
    const __m256i halves = _mm256_add_epi32(_mm256_add_epi32(pixel, pixel), _mm256_setr_epi32(0, 1, 0, 1, 0, 1, 0, 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(saved + n), _mm256_permutevar8x32_epi32(x, halves));
    const __m256i lanes = _mm256_and_si256(_mm256_srlv_epi32(packed, _mm256_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28)),
                                           _mm256_set1_epi32(7));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(set + n),
                        _mm256_add_epi32(lanes, _mm256_set1_epi32(static_cast<int>(first))));
    return n + __builtin_popcount(mask);
}

// Four 16-bit pixels: those to set aside (bit k for pixel k: alpha above
// 32768, or, when `check`, a colour value at or above `from` with alpha
// neither 0 nor 32768), and those transparent and overflowing (they become 0).
struct Test16 {
    unsigned slow, zero, over;
};
__attribute__((target("avx2"))) inline unsigned laneMask(__m256i m) {
    return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(m)));
}
template <bool check> __attribute__((target("avx2"))) inline Test16 test16(__m256i v, __m256i fromV) {
    const __m256i alpha = _mm256_and_si256(v, _mm256_set1_epi64x(0xFFFF));
    const __m256i top = _mm256_set1_epi64x(32768);
    const unsigned over = laneMask(_mm256_cmpgt_epi64(alpha, top));
    if (!check) {
        return Test16{over, 0, over};
    }
    const __m256i colour = _mm256_set1_epi64x(static_cast<long long>(0xFFFFFFFFFFFF0000ull));
    const __m256i high = _mm256_cmpeq_epi16(_mm256_max_epu16(v, fromV), v);
    const __m256i calm = _mm256_cmpeq_epi64(_mm256_and_si256(high, colour), _mm256_setzero_si256());
    const __m256i opaque = _mm256_cmpeq_epi64(alpha, top);
    const __m256i transparent = _mm256_cmpeq_epi64(alpha, _mm256_setzero_si256());
    const unsigned plain = laneMask(_mm256_or_si256(_mm256_or_si256(calm, opaque), transparent));
    return Test16{over | (~plain & 0xFu), laneMask(_mm256_andnot_si256(calm, transparent)), over};
}

// A pixel through the rounded entries, alpha as it is.
inline std::uint64_t lookup16Plain(const std::uint16_t* t, const PF_Pixel16& s) {
    return (loadWord(s) & 0xFFFFu) | (std::uint64_t{t[s.red]} << 16) | (std::uint64_t{t[s.green]} << 32) |
           (std::uint64_t{t[s.blue]} << 48);
}

// The rounded entries of a straight curve computed rather than looked up:
// min(32768, (v gain + offset) >> shift) for the colour of four pixels, the
// index v clamped to 32768 first as for the table; alpha as it is.
struct Line16Lanes {
    __m256i gain, offset;
    __m128i shift;
};

__attribute__((target("avx2"), always_inline)) inline __m256i lineHalf(__m256i x, const Line16Lanes& line) {
    // Even 32-bit lanes through the low halves of the 64-bit products, odd
    // ones shifted down first; the results (below 2^31) go back in place.
    const __m256i even = _mm256_srl_epi64(_mm256_add_epi64(_mm256_mul_epu32(x, line.gain), line.offset), line.shift);
    const __m256i odd = _mm256_srl_epi64(
        _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(x, 32), line.gain), line.offset), line.shift);
    return _mm256_min_epu32(_mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA), _mm256_set1_epi32(32768));
}

__attribute__((target("avx2"), always_inline)) inline __m256i line4(__m256i px, const Line16Lanes& line) {
    const __m256i v = _mm256_min_epu16(px, _mm256_set1_epi16(static_cast<short>(0x8000)));
    const __m256i lo = lineHalf(_mm256_unpacklo_epi16(v, _mm256_setzero_si256()), line);
    const __m256i hi = lineHalf(_mm256_unpackhi_epi16(v, _mm256_setzero_si256()), line);
    // Alpha is word 0 of each pixel: words 0 and 4 of each half.
    return _mm256_blend_epi16(_mm256_packus_epi32(lo, hi), px, 0x11);
}

__attribute__((target("avx2"))) Line16Lanes makeLine16Lanes(std::uint64_t gain, std::uint64_t offset, int shift) {
    return Line16Lanes{_mm256_set1_epi64x(static_cast<long long>(gain)),
                       _mm256_set1_epi64x(static_cast<long long>(offset)), _mm_cvtsi32_si128(shift)};
}

// All ones in the 64-bit lanes whose bit is set in `bits` (bit k, lane k).
__attribute__((target("avx2"), always_inline)) inline __m256i laneBits(unsigned bits) {
    const __m256i lanes = _mm256_setr_epi64x(1, 2, 4, 8);
    return _mm256_cmpeq_epi64(_mm256_and_si256(_mm256_set1_epi64x(bits), lanes), lanes);
}

// The rule for four 16-bit pixels of a table whose entries are the values
// times `product`, in registers: the same steps as overflowPixels16.
__attribute__((target("avx2"), always_inline)) inline __m256i productRule4(__m256i pixels, double product) {
    __m256d a, r, g, b;
    productEntries(pixels, product, a, r, g, b);
    return ruleWords16(ruleLanes(a, r, g, b, _mm256_set1_pd(32768.0), true));
}

// rising16 eight pixels at a time: one test per group whether any colour
// reaches the overflow index or any alpha exceeds 32768, and only then the
// pixels to set aside or clear; the others keep their alpha as it is. With
// `kLine` the colour comes from the line instead of the table; with `kRule`
// (a line whose entries are the values times `product`) the partly
// transparent overflowing pixels take the rule in the same pass.
template <bool check, bool kLine, bool kRule>
__attribute__((target("avx2"))) int rising16Avx2(const std::uint16_t* t, const Line16Lanes& line, double product,
                                                 unsigned from, const PF_Pixel16* src, PF_Pixel16* dst,
                                                 std::ptrdiff_t count, PF_Pixel16* saved, std::uint32_t* set) {
    const std::uint64_t f = check ? from : 0u;
    const __m256i fromV = _mm256_set1_epi64x(static_cast<long long>((f << 16) | (f << 32) | (f << 48)));
    // Any lane at or above its threshold: `from` for colour, 32769 for alpha.
    const __m256i threshold = _mm256_or_si256(fromV, _mm256_set1_epi64x(32769));
    const __m256i lanes = _mm256_set1_epi64x(check ? -1ll : 0xFFFFll);
    const __m256i alphaLanes = _mm256_set1_epi64x(0xFFFF);
    const __m256i top = _mm256_set1_epi64x(32768);
    int n = 0;
    std::ptrdiff_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 4));
        const __m256i m = _mm256_max_epu16(v0, v1);
        const __m256i high = _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_max_epu16(m, threshold), m), lanes);
        // Every alpha 32768: nothing to set aside or clear, whatever the
        // colour.
        const __m256i opaque = _mm256_and_si256(_mm256_cmpeq_epi16(v0, top), _mm256_cmpeq_epi16(v1, top));
        unsigned zero = 0, rule = 0;
        if (_mm256_testz_si256(high, high) == 0 && _mm256_testc_si256(opaque, alphaLanes) == 0) {
            const Test16 a = test16<check>(v0, fromV), b = test16<check>(v1, fromV);
            zero = a.zero | (b.zero << 4);
            // With kRule the pixels that take the rule get it here; only
            // alphas above the top are set aside.
            const unsigned aside0 = kRule ? a.over : a.slow, aside1 = kRule ? b.over : b.slow;
            rule = kRule ? (a.slow & ~a.over) | ((b.slow & ~b.over) << 4) : 0;
            if ((aside0 | aside1) != 0) {
                n = append16(v0, aside0, static_cast<std::uint32_t>(i), saved, set, n);
                n = append16(v1, aside1, static_cast<std::uint32_t>(i + 4), saved, set, n);
            }
        }
        if (kLine) {
            __m256i p0 = line4(v0, line), p1 = line4(v1, line);
            if (kRule && rule != 0) {
                if ((rule & 0xFu) != 0) {
                    p0 = _mm256_blendv_epi8(p0, productRule4(v0, product), laneBits(rule & 0xFu));
                }
                if ((rule >> 4) != 0) {
                    p1 = _mm256_blendv_epi8(p1, productRule4(v1, product), laneBits(rule >> 4));
                }
            }
            // Transparent overflowing pixels become 0.
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_andnot_si256(laneBits(zero & 0xFu), p0));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 4), _mm256_andnot_si256(laneBits(zero >> 4), p1));
        } else if (zero == 0) {
            // Two pixels at a time: each rounded entry is read straight into
            // its word of the pixels' own 128 bits (alpha stays where it
            // is), half the instructions of assembling each pixel in a
            // general register. The indices come out of the two pixels'
            // words by shifts: one load per pixel instead of one per
            // channel, where the loads (three table reads per pixel as well)
            // are what the loop waits on.
#pragma GCC unroll 4
            for (int k = 0; k < 8; k += 2) {
                const PF_Pixel16* p = src + i + k;
                __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const std::uint64_t w0 = loadWord(p[0]), w1 = loadWord(p[1]);
                x = _mm_insert_epi16(x, t[static_cast<std::uint32_t>(w0) >> 16], 1);
                x = _mm_insert_epi16(x, t[(w0 >> 32) & 0xFFFFu], 2);
                x = _mm_insert_epi16(x, t[w0 >> 48], 3);
                x = _mm_insert_epi16(x, t[static_cast<std::uint32_t>(w1) >> 16], 5);
                x = _mm_insert_epi16(x, t[(w1 >> 32) & 0xFFFFu], 6);
                x = _mm_insert_epi16(x, t[w1 >> 48], 7);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + k), x);
            }
        } else {
            for (int k = 0; k < 8; ++k) {
                // All ones, or zero for a pixel to clear.
                const std::uint64_t keep = std::uint64_t{(zero >> k) & 1u} - 1u;
                storeWord(dst[i + k], lookup16Plain(t, src[i + k]) & keep);
            }
        }
    }
    return rising16(t, from, src, dst, i, count, saved, set, n);
}
#endif

// Any other table: the entries' codes decide pixel by pixel.
inline int general16(const Exposure::Impl::ColorConverter& converter, const std::uint16_t* t, const PF_Pixel16* src,
                     PF_Pixel16* dst, std::ptrdiff_t count, PF_Pixel16* saved, std::uint32_t* set) {
    int n = 0;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint64_t px = loadWord(src[i]);
        std::uint64_t a = px & 0xFFFFu;
        std::uint64_t r = t[(px >> 16) & 0xFFFFu], g = t[(px >> 32) & 0xFFFFu], b = t[px >> 48];
        const std::uint64_t top = r > g ? (r > b ? r : b) : (g > b ? g : b);
        if (top > 32768) {
            // Some channel overflows (or is not a number).
            if (r == kNaN16 || g == kNaN16 || b == kNaN16 || a > 32768) {
                converter.convert(src[i], dst[i]);
                continue;
            }
            if (a != 0 && a != 32768) {
                saved[n] = src[i];
                set[n++] = static_cast<std::uint32_t>(i);
                continue;
            }
            if (a == 0) {
                r = g = b = 0; // transparent: no colour is kept
            } else {
                // Opaque: the rule scales by A/A' = 1; overflowing channels
                // round to the top.
                r = r > 32768 ? 32768 : r;
                g = g > 32768 ? 32768 : g;
                b = b > 32768 ? 32768 : b;
            }
        }
        // Alpha is rounded and clamped like the colour: above 32768 it
        // becomes 32768.
        a = a > 32768 ? 32768 : a;
        storeWord(dst[i], a | (r << 16) | (g << 32) | (b << 48));
    }
    return n;
}

} // namespace

void ExposureRows::build16(const Converter& converter) {
    const std::vector<double>& table = converter.getTable();
    const int from = overflowFrom(table, 32768.5);
    // Values above 32768 read entry 32768, so they overflow exactly when
    // it does; none overflows when no entry does.
    overflowFrom16 = from == 32769 ? 65536 : from;
    table16.resize(65536);
    for (std::size_t i = 0; i <= 32768; ++i) {
        const double v = table[i];
        const auto rounded = static_cast<std::uint16_t>(roundEntry(v, 32768.0));
        if (overflowFrom16 >= 0) {
            table16[i] = rounded;
        } else {
            table16[i] = std::isnan(v) ? kNaN16 : (v >= 32768.5 ? kOverflow16 : rounded);
        }
    }
    std::fill(table16.begin() + 32769, table16.end(), table16[32768]);
    // At gamma 1 the entries are usually the channel value times the
    // gain, exactly (checked entry by entry).
    const double scale = converter.getScale();
    bool product = converter.getInverseGamma() == 1.0;
    for (std::size_t i = 0; product && i <= 32768; ++i) {
        product = table[i] == static_cast<double>(i) * scale;
    }
    product16 = product ? scale : 0.0;
    if (overflowFrom16 >= 0 && converter.getInverseGamma() == 1.0) {
        const LineFit line = fitLine16(table16.data(), overflowFrom16, converter.getScale());
        lineGain = line.gain;
        lineOffset = line.offset;
        lineShift = line.shift;
    }
}

void ExposureRows::convert16(const Converter& converter, const PF_Pixel16* src, PF_Pixel16* dst, std::ptrdiff_t n,
                             bool vector) const {
    const std::uint16_t* t = table16.data();
    const double* values = converter.getTable().data();
    vector = vector && hasAvx2Fma();
#ifdef MORVEK_AVX2
    Line16Lanes line{};
    if (vector && lineGain != 0) {
        line = makeLine16Lanes(lineGain, lineOffset, lineShift);
    }
#endif
    PF_Pixel16 saved[kChunk + 8];
    std::uint32_t set[kChunk + 8];
    for (std::ptrdiff_t start = 0; start < n; start += kChunk) {
        const std::ptrdiff_t count = n - start < kChunk ? n - start : kChunk;
        const PF_Pixel16* s = src + start;
        PF_Pixel16* d = dst + start;
        if (overflowFrom16 < 0) {
            overflowPixels16(values, 0.0, saved, d, set, general16(converter, t, s, d, count, saved, set), vector);
            continue;
        }
        const auto from = static_cast<unsigned>(overflowFrom16);
        int setAside = 0;
#ifdef MORVEK_AVX2
        if (vector) {
            const double p = product16;
            if (lineGain != 0 && p != 0.0) {
                setAside = from <= 32768 ? rising16Avx2<true, true, true>(t, line, p, from, s, d, count, saved, set)
                                         : rising16Avx2<false, true, false>(t, line, p, from, s, d, count, saved, set);
            } else if (lineGain != 0) {
                setAside = from <= 32768 ? rising16Avx2<true, true, false>(t, line, p, from, s, d, count, saved, set)
                                         : rising16Avx2<false, true, false>(t, line, p, from, s, d, count, saved, set);
            } else {
                setAside = from <= 32768 ? rising16Avx2<true, false, false>(t, line, p, from, s, d, count, saved, set)
                                         : rising16Avx2<false, false, false>(t, line, p, from, s, d, count, saved, set);
            }
        } else
#endif
        {
            setAside = rising16(t, from, s, d, 0, count, saved, set, 0);
        }
        finishSetAside(converter, 32768u, saved, d, set, setAside, vector,
                       [this](const double* table, const PF_Pixel16* saved16, PF_Pixel16* dst16,
                              const std::uint32_t* set16, int n16, bool vector16) {
                           overflowPixels16(table, product16, saved16, dst16, set16, n16, vector16);
                       });
    }
}

} // namespace Morvek
