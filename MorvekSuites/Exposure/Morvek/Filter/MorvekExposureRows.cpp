// Row conversions of the exposure filter that reproduce the colour converter's
// pixels exactly: pre-rounded tables at 8 and 16 bits, and at 32 bits the
// powers of a run of pixels computed together (vectorised where possible).
#include "MorvekExposureRows.h"

#include "MorvekPow.h"

#include <cmath>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MORVEK_ROWS_AVX2 1
#include <immintrin.h>
#endif

namespace Morvek {

namespace {

// The converter's rounding of a tabulated value: round half up, clamp to
// 0..top, NaN to 0.
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

#ifdef MORVEK_ROWS_AVX2

// Clamps alpha to 0..1 (NaN to 0) and stores eight pixels from four rows of
// channels.
__attribute__((target("avx2"))) inline void finishStore8(__m256 a, __m256 r, __m256 g, __m256 b, PF_PixelFloat* dst) {
    const __m256 one = _mm256_set1_ps(1.0f);
    a = _mm256_and_ps(_mm256_blendv_ps(a, one, _mm256_cmp_ps(a, one, _CMP_GT_OQ)),
                      _mm256_cmp_ps(a, _mm256_setzero_ps(), _CMP_GE_OQ));
    const __m256 t0 = _mm256_unpacklo_ps(a, r), t1 = _mm256_unpackhi_ps(a, r);
    const __m256 t2 = _mm256_unpacklo_ps(g, b), t3 = _mm256_unpackhi_ps(g, b);
    const __m256 p0 = _mm256_shuffle_ps(t0, t2, 0x44), p1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    const __m256 p2 = _mm256_shuffle_ps(t1, t3, 0x44), p3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    float* f = &dst[0].alpha;
    _mm256_storeu_ps(f, _mm256_permute2f128_ps(p0, p1, 0x20));
    _mm256_storeu_ps(f + 8, _mm256_permute2f128_ps(p2, p3, 0x20));
    _mm256_storeu_ps(f + 16, _mm256_permute2f128_ps(p0, p1, 0x31));
    _mm256_storeu_ps(f + 24, _mm256_permute2f128_ps(p2, p3, 0x31));
}

// Eight float pixels to four rows of channels (alpha, red, green, blue).
__attribute__((target("avx2"))) inline void splitPixels8(const PF_PixelFloat* src, float* a, float* r, float* g,
                                                         float* b) {
    const float* f = &src[0].alpha;
    const __m256 l0 = _mm256_loadu_ps(f), l1 = _mm256_loadu_ps(f + 8), l2 = _mm256_loadu_ps(f + 16),
                 l3 = _mm256_loadu_ps(f + 24);
    const __m256 x0 = _mm256_permute2f128_ps(l0, l2, 0x20), x1 = _mm256_permute2f128_ps(l0, l2, 0x31);
    const __m256 x2 = _mm256_permute2f128_ps(l1, l3, 0x20), x3 = _mm256_permute2f128_ps(l1, l3, 0x31);
    const __m256 t0 = _mm256_unpacklo_ps(x0, x1), t1 = _mm256_unpackhi_ps(x0, x1);
    const __m256 t2 = _mm256_unpacklo_ps(x2, x3), t3 = _mm256_unpackhi_ps(x2, x3);
    _mm256_storeu_ps(a, _mm256_shuffle_ps(t0, t2, 0x44));
    _mm256_storeu_ps(r, _mm256_shuffle_ps(t0, t2, 0xEE));
    _mm256_storeu_ps(g, _mm256_shuffle_ps(t1, t3, 0x44));
    _mm256_storeu_ps(b, _mm256_shuffle_ps(t1, t3, 0xEE));
}

// ColorConverter::finishFloat on eight pixels, lane by lane the same single-precision
// operations, from the powered colour (times `scale` here, as there).
__attribute__((target("avx2"))) inline void finishPixels8(const float* alpha, const float* pr, const float* pg,
                                                          const float* pb, float scale, PF_PixelFloat* dst) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 zero = _mm256_setzero_ps();
    const __m256 s = _mm256_set1_ps(scale);
    const __m256 a = _mm256_loadu_ps(alpha);
    __m256 r = _mm256_mul_ps(_mm256_loadu_ps(pr), s);
    __m256 g = _mm256_mul_ps(_mm256_loadu_ps(pg), s);
    __m256 b = _mm256_mul_ps(_mm256_loadu_ps(pb), s);
    const __m256 gb = _mm256_blendv_ps(b, g, _mm256_cmp_ps(g, b, _CMP_GT_OQ));
    const __m256 brightest = _mm256_blendv_ps(gb, r, _mm256_cmp_ps(r, gb, _CMP_GT_OQ));
    const __m256 fire = _mm256_cmp_ps(brightest, one, _CMP_GT_OQ);
    if (_mm256_movemask_ps(fire) != 0) {
        __m256 aNew = _mm256_mul_ps(brightest, a);
        aNew = _mm256_blendv_ps(aNew, one, _mm256_cmp_ps(aNew, one, _CMP_GT_OQ));
        const __m256 valid = _mm256_cmp_ps(aNew, zero, _CMP_NEQ_OQ); // neither 0 nor NaN
        const __m256 k = _mm256_div_ps(a, aNew);
        r = _mm256_blendv_ps(r, _mm256_and_ps(_mm256_mul_ps(r, k), valid), fire);
        g = _mm256_blendv_ps(g, _mm256_and_ps(_mm256_mul_ps(g, k), valid), fire);
        b = _mm256_blendv_ps(b, _mm256_and_ps(_mm256_mul_ps(b, k), valid), fire);
        const __m256 aOut = _mm256_blendv_ps(a, aNew, fire);
        finishStore8(aOut, r, g, b, dst);
        return;
    }
    finishStore8(a, r, g, b, dst);
}

bool hasAvx2() {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

#endif

// Pixels per run of the 32-bit path: three channels of this many floats stay
// in the first-level cache.
constexpr std::ptrdiff_t kRun = 256;

} // namespace

// Pixels read and written as whole words where the byte order is known to be
// little-endian (every platform the module is built for); the portable
// member-wise loops otherwise.
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define MORVEK_ROWS_PACKED 1
#endif

namespace {
constexpr std::uint64_t kOverflow8 = 1ull << 32, kNaN8 = 1ull << 33;
constexpr std::uint16_t kOverflow16 = 0xFFFF, kNaN16 = 0xFFFE; // above every value
} // namespace

ExposureRows::ExposureRows(const Converter& converter) {
    const std::vector<double>& table = converter.getTable();
    const A_long bpc = converter.getParameter().bpc;
    if (bpc == 0 && table.size() == 256) {
        table8.resize(3 * 256);
        for (std::size_t i = 0; i < 256; ++i) {
            const std::uint64_t flags = (table[i] >= 255.5 ? kOverflow8 : 0) | (std::isnan(table[i]) ? kNaN8 : 0);
            const std::uint64_t v = roundEntry(table[i], 255.0);
            table8[i] = (v << 8) | flags;        // red: second byte
            table8[256 + i] = (v << 16) | flags; // green: third byte
            table8[512 + i] = (v << 24) | flags; // blue: fourth byte
        }
    } else if (bpc == 1 && table.size() == 32769) {
        table16.resize(65536);
        for (std::size_t i = 0; i < 65536; ++i) {
            const double v = table[i > 32768 ? 32768 : i];
            table16[i] = std::isnan(v)
                             ? kNaN16
                             : (v >= 32768.5 ? kOverflow16 : static_cast<std::uint16_t>(roundEntry(v, 32768.0)));
        }
    }
    const float y = converter.getInverseGammaFloat();
    identityPower = y == 1.0f;
    // The power table is for float pixels, which only a converter built for
    // them renders in practice (its table would be wasted at 8 and 16 bits).
    if (!identityPower && bpc != 0 && bpc != 1) {
        power = std::make_shared<const FixedPow>(y);
    }
}

namespace {

// Pixels per chunk of the integer paths: the partly transparent overflowing
// pixels of a chunk are set aside and converted together afterwards, so that
// their divisions overlap instead of waiting on one another.
constexpr std::ptrdiff_t kChunk = 256;

// Round half up and clamp to 0..top (NaN to 0), as the converter rounds.
inline double roundClampValue(double v, double top) {
    const double x = v + 0.5;
    if (!(x >= 0.0)) {
        return 0.0;
    }
    return x > top ? top : x;
}

// The converter's overflow rule for pixels with 0 < alpha and a brightest
// channel at or above the threshold (so A' > 0), step for step: A' =
// min(top, new alpha), k = A / A', colour times k, everything rounded.
#ifdef MORVEK_ROWS_AVX2
// Round half up, clamp to 0..top, NaN to 0, truncate: four lanes.
__attribute__((target("avx2"))) inline void roundLanes(__m256d v, __m256d top, std::int32_t* out) {
    __m256d x = _mm256_add_pd(v, _mm256_set1_pd(0.5));
    x = _mm256_blendv_pd(x, top, _mm256_cmp_pd(x, top, _CMP_GT_OQ));
    x = _mm256_and_pd(x, _mm256_cmp_pd(x, _mm256_setzero_pd(), _CMP_GE_OQ));
    _mm_store_si128(reinterpret_cast<__m128i*>(out), _mm256_cvttpd_epi32(x));
}

// Four set-aside pixels at a time: the same double operations lane by lane
// (no fused multiply-add), so the same results. `bySixteen` selects the
// 16-bit new alpha (M A) 2^-15 instead of the 8-bit (M A) / 255.
template <class Pixel, class Channel>
__attribute__((target("avx2"))) int overflowPixels4(const double* table, double top, unsigned lastIndex, bool bySixteen,
                                                    const Pixel* src, Pixel* dst, const std::uint16_t* set, int count) {
    const __m256d vtop = _mm256_set1_pd(top);
    auto entry = [&](unsigned c) { return table[c > lastIndex ? lastIndex : c]; };
    int n = 0;
    for (; n + 4 <= count; n += 4) {
        const Pixel p0 = src[set[n]], p1 = src[set[n + 1]], p2 = src[set[n + 2]], p3 = src[set[n + 3]];
        const __m256d a = _mm256_setr_pd(p0.alpha, p1.alpha, p2.alpha, p3.alpha);
        __m256d r = _mm256_setr_pd(entry(p0.red), entry(p1.red), entry(p2.red), entry(p3.red));
        __m256d g = _mm256_setr_pd(entry(p0.green), entry(p1.green), entry(p2.green), entry(p3.green));
        __m256d b = _mm256_setr_pd(entry(p0.blue), entry(p1.blue), entry(p2.blue), entry(p3.blue));
        const __m256d gb = _mm256_blendv_pd(b, g, _mm256_cmp_pd(g, b, _CMP_GT_OQ));
        const __m256d brightest = _mm256_blendv_pd(gb, r, _mm256_cmp_pd(r, gb, _CMP_GT_OQ));
        const __m256d product = _mm256_mul_pd(brightest, a);
        __m256d aNew = bySixteen ? _mm256_mul_pd(product, _mm256_set1_pd(3.0517578125e-05))
                                 : _mm256_div_pd(product, _mm256_set1_pd(255.0));
        aNew = _mm256_blendv_pd(aNew, vtop, _mm256_cmp_pd(aNew, vtop, _CMP_GT_OQ));
        const __m256d k = _mm256_div_pd(a, aNew);
        r = _mm256_mul_pd(r, k);
        g = _mm256_mul_pd(g, k);
        b = _mm256_mul_pd(b, k);
        alignas(16) std::int32_t ra[4], rr[4], rg[4], rb[4];
        roundLanes(aNew, vtop, ra);
        roundLanes(r, vtop, rr);
        roundLanes(g, vtop, rg);
        roundLanes(b, vtop, rb);
        for (int lane = 0; lane < 4; ++lane) {
            Pixel& d = dst[set[n + lane]];
            d.alpha = static_cast<Channel>(ra[lane]);
            d.red = static_cast<Channel>(rr[lane]);
            d.green = static_cast<Channel>(rg[lane]);
            d.blue = static_cast<Channel>(rb[lane]);
        }
    }
    return n;
}
#endif

template <class Pixel, class Channel, class NewAlpha>
inline void overflowPixels(const double* table, double top, unsigned lastIndex, NewAlpha newAlpha, const Pixel* src,
                           Pixel* dst, const std::uint16_t* set, int count) {
    int n = 0;
#ifdef MORVEK_ROWS_AVX2
    if (count >= 4 && hasAvx2()) {
        n = overflowPixels4<Pixel, Channel>(table, top, lastIndex, sizeof(Channel) == 2, src, dst, set, count);
    }
#endif
    for (; n < count; ++n) {
        const Pixel s = src[set[n]];
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

void ExposureRows::convert8(const Converter& converter, const PF_Pixel* src, PF_Pixel* dst, std::ptrdiff_t n) const {
    const std::uint64_t* t = table8.data();
    const double* values = converter.getTable().data();
    std::uint16_t set[kChunk];
    for (std::ptrdiff_t start = 0; start < n; start += kChunk) {
        const std::ptrdiff_t end = n - start < kChunk ? n : start + kChunk;
        int setAside = 0;
        for (std::ptrdiff_t i = start; i < end; ++i) {
#ifdef MORVEK_ROWS_PACKED
            std::uint32_t px;
            std::memcpy(&px, &src[i], 4);
            const std::uint32_t a = px & 0xFFu;
            const std::uint64_t v = t[(px >> 8) & 0xFFu] | t[256 + ((px >> 16) & 0xFFu)] | t[512 + (px >> 24)];
#else
            const PF_Pixel s = src[i];
            const std::uint32_t a = s.alpha;
            const std::uint64_t v = t[s.red] | t[256 + s.green] | t[512 + s.blue];
#endif
            if ((v & (kOverflow8 | kNaN8)) == 0 || (a == 255 && (v & kNaN8) == 0)) {
                // No overflow, or an opaque pixel: alpha stays, colour is the
                // rounded entries.
#ifdef MORVEK_ROWS_PACKED
                const std::uint32_t out = static_cast<std::uint32_t>(v) | a;
                std::memcpy(&dst[i], &out, 4);
#else
                dst[i] = PF_Pixel{static_cast<A_u_char>(a), static_cast<A_u_char>(v >> 8),
                                  static_cast<A_u_char>(v >> 16), static_cast<A_u_char>(v >> 24)};
#endif
            } else if ((v & kNaN8) != 0) {
                converter.convert(src[i], dst[i]);
            } else if (a == 0) {
                dst[i] = PF_Pixel{0, 0, 0, 0}; // transparent and overflowing
            } else {
                set[setAside++] = static_cast<std::uint16_t>(i - start);
            }
        }
        overflowPixels<PF_Pixel, A_u_char>(
            values, 255.0, 255u, [](double m, double a) { return (m * a) / 255.0; }, src + start, dst + start, set,
            setAside);
    }
}

void ExposureRows::convert16(const Converter& converter, const PF_Pixel16* src, PF_Pixel16* dst,
                             std::ptrdiff_t n) const {
    const std::uint16_t* t = table16.data();
    const double* values = converter.getTable().data();
    std::uint16_t set[kChunk];
    for (std::ptrdiff_t start = 0; start < n; start += kChunk) {
        const std::ptrdiff_t end = n - start < kChunk ? n : start + kChunk;
        int setAside = 0;
        for (std::ptrdiff_t i = start; i < end; ++i) {
#ifdef MORVEK_ROWS_PACKED
            std::uint64_t px;
            std::memcpy(&px, &src[i], 8);
            std::uint64_t a = px & 0xFFFFu;
            std::uint64_t r = t[(px >> 16) & 0xFFFFu], g = t[(px >> 32) & 0xFFFFu], b = t[px >> 48];
#else
            std::uint64_t a = src[i].alpha;
            std::uint64_t r = t[src[i].red], g = t[src[i].green], b = t[src[i].blue];
#endif
            const std::uint64_t top = r > g ? (r > b ? r : b) : (g > b ? g : b);
            if (top > 32768) {
                // Some channel overflows (or is not a number).
                if (r == kNaN16 || g == kNaN16 || b == kNaN16 || a > 32768) {
                    converter.convert(src[i], dst[i]);
                    continue;
                }
                if (a != 0 && a != 32768) {
                    set[setAside++] = static_cast<std::uint16_t>(i - start);
                    continue;
                }
                if (a == 0) {
                    r = g = b = 0; // transparent: no colour is kept
                } else {
                    // Opaque: the rule scales by A/A' = 1; overflowing
                    // channels round to the top.
                    r = r > 32768 ? 32768 : r;
                    g = g > 32768 ? 32768 : g;
                    b = b > 32768 ? 32768 : b;
                }
            }
            // Alpha is rounded and clamped like the colour: above 32768 it
            // becomes 32768.
            a = a > 32768 ? 32768 : a;
#ifdef MORVEK_ROWS_PACKED
            const std::uint64_t out = a | (r << 16) | (g << 32) | (b << 48);
            std::memcpy(&dst[i], &out, 8);
#else
            dst[i] = PF_Pixel16{static_cast<A_u_short>(a), static_cast<A_u_short>(r), static_cast<A_u_short>(g),
                                static_cast<A_u_short>(b)};
#endif
        }
        overflowPixels<PF_Pixel16, A_u_short>(
            values, 32768.0, 32768u, [](double m, double a) { return (m * a) * 3.0517578125e-05; }, src + start,
            dst + start, set, setAside);
    }
}

void ExposureRows::convert32(const Converter& converter, const PF_PixelFloat* src, PF_PixelFloat* dst,
                             std::ptrdiff_t n) const {
    const float scale = converter.getScaleFloat();
    const float y = converter.getInverseGammaFloat();
#ifdef MORVEK_ROWS_AVX2
    const bool vector = hasAvx2();
#endif
    float in[3 * kRun];
    float out[3 * kRun];
    float alpha[kRun];
    for (std::ptrdiff_t start = 0; start < n; start += kRun) {
        const std::ptrdiff_t count = n - start < kRun ? n - start : kRun;
        // The powers of this run touch no pixel memory: ask for the next
        // run's pixels now, so that they arrive while the powers are
        // computed instead of stalling the next split.
        const std::ptrdiff_t ahead = n - (start + count) < kRun ? n - (start + count) : kRun;
        for (std::ptrdiff_t k = 0; k < ahead; k += 4) {
            __builtin_prefetch(src + start + count + k);
            __builtin_prefetch(dst + start + count + k, 1);
        }
        std::ptrdiff_t i = 0;
#ifdef MORVEK_ROWS_AVX2
        if (vector) {
            for (; i + 8 <= count; i += 8) {
                splitPixels8(src + start + i, alpha + i, in + i, in + kRun + i, in + 2 * kRun + i);
            }
        }
#endif
        for (; i < count; ++i) {
            const PF_PixelFloat& s = src[start + i];
            alpha[i] = s.alpha;
            in[i] = s.red;
            in[kRun + i] = s.green;
            in[2 * kRun + i] = s.blue;
        }
        // x^1 is x itself.
        const float* powered = in;
        if (!identityPower) {
            for (int c = 0; c < 3; ++c) {
                if (power) {
                    power->apply(in + c * kRun, out + c * kRun, count);
                } else {
                    for (std::ptrdiff_t k = 0; k < count; ++k) {
                        out[c * kRun + k] = powFloat(in[c * kRun + k], y);
                    }
                }
            }
            powered = out;
        }
        i = 0;
#ifdef MORVEK_ROWS_AVX2
        if (vector) {
            for (; i + 8 <= count; i += 8) {
                finishPixels8(alpha + i, powered + i, powered + kRun + i, powered + 2 * kRun + i, scale,
                              dst + start + i);
            }
        }
#endif
        for (; i < count; ++i) {
            Converter::finishFloat(alpha[i], powered[i] * scale, powered[kRun + i] * scale,
                                   powered[2 * kRun + i] * scale, dst[start + i]);
        }
    }
}

} // namespace Morvek
