// The 32-bit rows: at gamma 1 the colour as it is, otherwise the powers of
// the frame's exponent through FixedPow; eight pixels at a time loaded,
// powered and finished in registers where the processor has AVX2 and FMA,
// and the powers of a run of pixels together otherwise.
#include "MorvekExposureRows.h"

#include "MorvekFixedPowLanes.h"
#include "MorvekPow.h"
#include "MorvekProcessor.h"

namespace Morvek {

namespace {

// Pixels per run of the 32-bit path: three channels of this many floats stay
// in the first-level cache.
constexpr std::ptrdiff_t kRun = 256;

#ifdef MORVEK_AVX2
// Clamps alpha to 0..1 (NaN to 0) and stores eight pixels from four rows of
// channels.
__attribute__((target("avx2"), always_inline)) inline void finishStore8(__m256 a, __m256 r, __m256 g, __m256 b,
                                                                        PF_PixelFloat* dst) {
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

// Eight float pixels to four registers of channels (alpha, red, green, blue).
__attribute__((target("avx2"), always_inline)) inline void loadPixels8(const PF_PixelFloat* src, __m256& a, __m256& r,
                                                                       __m256& g, __m256& b) {
    const float* f = &src[0].alpha;
    const __m256 l0 = _mm256_loadu_ps(f), l1 = _mm256_loadu_ps(f + 8), l2 = _mm256_loadu_ps(f + 16),
                 l3 = _mm256_loadu_ps(f + 24);
    const __m256 x0 = _mm256_permute2f128_ps(l0, l2, 0x20), x1 = _mm256_permute2f128_ps(l0, l2, 0x31);
    const __m256 x2 = _mm256_permute2f128_ps(l1, l3, 0x20), x3 = _mm256_permute2f128_ps(l1, l3, 0x31);
    const __m256 t0 = _mm256_unpacklo_ps(x0, x1), t1 = _mm256_unpackhi_ps(x0, x1);
    const __m256 t2 = _mm256_unpacklo_ps(x2, x3), t3 = _mm256_unpackhi_ps(x2, x3);
    a = _mm256_shuffle_ps(t0, t2, 0x44);
    r = _mm256_shuffle_ps(t0, t2, 0xEE);
    g = _mm256_shuffle_ps(t1, t3, 0x44);
    b = _mm256_shuffle_ps(t1, t3, 0xEE);
}

// ColorConverter::finishFloat on eight pixels, lane by lane the same single-precision
// operations, from the powered colour (times `scale` here, as there).
__attribute__((target("avx2"), always_inline)) inline void finishPixels8(__m256 a, __m256 pr, __m256 pg, __m256 pb,
                                                                         __m256 s, PF_PixelFloat* dst) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 zero = _mm256_setzero_ps();
    __m256 r = _mm256_mul_ps(pr, s);
    __m256 g = _mm256_mul_ps(pg, s);
    __m256 b = _mm256_mul_ps(pb, s);
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

// Eight pixels at a time, each loaded, powered and finished in registers.
// Without `lanes` the powers are the identity. Returns the pixels done.
template <bool kQuartic>
__attribute__((target("avx2,fma"))) std::ptrdiff_t
convert32Avx2(const FixedPowLanes* lanes, float scale, const PF_PixelFloat* src, PF_PixelFloat* dst, std::ptrdiff_t n) {
    const __m256 s = _mm256_set1_ps(scale);
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256 a, r, g, b;
        loadPixels8(src + i, a, r, g, b);
        if (lanes != nullptr) {
            r = lanes->pow8<kQuartic>(r);
            g = lanes->pow8<kQuartic>(g);
            b = lanes->pow8<kQuartic>(b);
        }
        finishPixels8(a, r, g, b, s, dst + i);
    }
    return i;
}

__attribute__((target("avx2,fma"))) std::ptrdiff_t
convert32Avx2(const FixedPow* power, float scale, const PF_PixelFloat* src, PF_PixelFloat* dst, std::ptrdiff_t n) {
    if (power == nullptr) {
        return convert32Avx2<false>(nullptr, scale, src, dst, n);
    }
    const FixedPowLanes lanes(power->table());
    return lanes.quartic() ? convert32Avx2<true>(&lanes, scale, src, dst, n)
                           : convert32Avx2<false>(&lanes, scale, src, dst, n);
}
#endif

} // namespace

void ExposureRows::build32(const Converter& converter) {
    const A_long bpc = converter.getParameter().bpc;
    const float y = converter.getInverseGammaFloat();
    identityPower = y == 1.0f;
    // The power table is for float pixels, which only a converter built for
    // them renders in practice (its table would be wasted at 8 and 16 bits).
    if (!identityPower && bpc != 0 && bpc != 1) {
        power = std::make_shared<const FixedPow>(y);
    }
}

void ExposureRows::convert32(const Converter& converter, const PF_PixelFloat* src, PF_PixelFloat* dst, std::ptrdiff_t n,
                             bool vector) const {
    const float scale = converter.getScaleFloat();
    const float y = converter.getInverseGammaFloat();
    std::ptrdiff_t done = 0;
#ifdef MORVEK_AVX2
    // The vector loop takes the identity and the table's powers; other
    // exponents keep the loop below.
    if (vector && hasAvx2Fma() && (identityPower || (power && power->usesTable()))) {
        done = convert32Avx2(identityPower ? nullptr : power.get(), scale, src, dst, n);
    }
#endif
    float in[3 * kRun];
    float out[3 * kRun];
    float alpha[kRun];
    for (std::ptrdiff_t start = done; start < n; start += kRun) {
        const std::ptrdiff_t count = n - start < kRun ? n - start : kRun;
        for (std::ptrdiff_t i = 0; i < count; ++i) {
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
                    power->apply(in + c * kRun, out + c * kRun, count, vector);
                } else {
                    for (std::ptrdiff_t k = 0; k < count; ++k) {
                        out[c * kRun + k] = powFloat(in[c * kRun + k], y);
                    }
                }
            }
            powered = out;
        }
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            Converter::finishFloat(alpha[i], powered[i] * scale, powered[kRun + i] * scale,
                                   powered[2 * kRun + i] * scale, dst[start + i]);
        }
    }
}

} // namespace Morvek
