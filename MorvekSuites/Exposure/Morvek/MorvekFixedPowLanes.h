// FixedPow's table method eight lanes at a time (AVX2 and FMA), for loops
// that keep their values in registers: FixedPow::apply, and the float pixel
// rows, which take the powers of a pixel's channels between loading and
// storing it. Only for x86-64 code that runs after checking the processor
// for AVX2 and FMA.
#ifndef MORVEK_MORVEKFIXEDPOWLANES_H
#define MORVEK_MORVEKFIXEDPOWLANES_H

#include "MorvekFixedPow.h"
#include "MorvekPow.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MORVEK_FIXEDPOW_LANES 1
#include <immintrin.h>

#include <cmath>
#include <cstdint>

namespace Morvek {

class FixedPowLanes {
public:
    // Needs power.usesTable(): the table must exist.
    __attribute__((target("avx2,fma"))) explicit FixedPowLanes(const FixedPow& power)
        : lowest(_mm256_set1_epi32(power.firstBits - 1)), highest(_mm256_set1_epi32(power.lastBits + 1)),
          c1(_mm256_set1_pd(power.coefficient[1])), c2(_mm256_set1_pd(power.coefficient[2])),
          c3(_mm256_set1_pd(power.coefficient[3])), c4(_mm256_set1_pd(power.coefficient[4])),
          c5(_mm256_set1_pd(power.coefficient[5])), bytes(reinterpret_cast<const char*>(power.table.data())),
          y(power.y), isQuartic(power.coefficient[5] == 0.0) {
        // The tolerance as a whole number of units, rounded up; 2^28 or more
        // decides nothing.
        const double units = std::ceil(power.tolerance) < 0x1p28 ? std::ceil(power.tolerance) : 0x1p28;
        tolerance = _mm256_set1_epi64x(static_cast<long long>(units));
    }

    // Whether the series is of degree 4 (c5 = 0): pow8<true> then skips the
    // term in r^5, and pow8<false> gives the same results more slowly.
    bool quartic() const { return isQuartic; }

    // powFloat of each lane of x.
    template <bool kQuartic> __attribute__((target("avx2,fma"), always_inline)) __m256 pow8(__m256 x) const {
        const __m256i bits = _mm256_castps_si256(x);
        // Within the inputs whose results are normal floats (read as signed,
        // so negative inputs fall below).
        const __m256i valid = _mm256_and_si256(_mm256_cmpgt_epi32(bits, lowest), _mm256_cmpgt_epi32(highest, bits));
        // Byte offset of the entry: (bits >> 16) & 0x7FFF, times 16.
        const __m256i offset = _mm256_and_si256(_mm256_srli_epi32(bits, 12), _mm256_set1_epi32(0x7FFF0));
        const __m256 mantissa = _mm256_castsi256_ps(
            _mm256_or_si256(_mm256_and_si256(bits, _mm256_set1_epi32(0x007FFFFF)), _mm256_set1_epi32(0x3F800000)));
        int decided = 0;
        const __m128 low = quad<kQuartic>(_mm256_castsi256_si128(offset), _mm256_castps256_ps128(mantissa), decided);
        int high = 0;
        const __m128 upper =
            quad<kQuartic>(_mm256_extracti128_si256(offset, 1), _mm256_extractf128_ps(mantissa, 1), high);
        decided = (decided | (high << 4)) & _mm256_movemask_ps(_mm256_castsi256_ps(valid));
        const __m256 result = _mm256_insertf128_ps(_mm256_castps128_ps256(low), upper, 1);
        if (decided == 0xFF) {
            return result;
        }
        // Close to a midpoint, or outside the table's inputs: powFloat.
        alignas(32) float in[8];
        alignas(32) float out[8];
        _mm256_store_ps(in, x);
        _mm256_store_ps(out, result);
        for (int lane = 0; lane < 8; ++lane) {
            if ((decided & (1 << lane)) == 0) {
                out[lane] = powFloat(in[lane], y);
            }
        }
        return _mm256_load_ps(out);
    }

private:
    // Four lanes from the byte offsets of their entries and their mantissas:
    // the results as floats, and in `decided` the lanes whose rounding the
    // error bound settles. The fused multiply-adds only shrink the error that
    // the tolerance allows for.
    template <bool kQuartic>
    __attribute__((target("avx2,fma"), always_inline)) __m128 quad(__m128i offset, __m128 mantissa,
                                                                   int& decided) const {
        const __m256d one = _mm256_set1_pd(1.0);
        // Two offsets per 64-bit move out of the vector register.
        const auto o01 = static_cast<std::uint64_t>(_mm_cvtsi128_si64(offset));
        const auto o23 = static_cast<std::uint64_t>(_mm_extract_epi64(offset, 1));
        const __m128d e0 = _mm_loadu_pd(reinterpret_cast<const double*>(bytes + static_cast<std::uint32_t>(o01)));
        const __m128d e1 = _mm_loadu_pd(reinterpret_cast<const double*>(bytes + (o01 >> 32)));
        const __m128d e2 = _mm_loadu_pd(reinterpret_cast<const double*>(bytes + static_cast<std::uint32_t>(o23)));
        const __m128d e3 = _mm_loadu_pd(reinterpret_cast<const double*>(bytes + (o23 >> 32)));
        const __m256d a = _mm256_insertf128_pd(_mm256_castpd128_pd256(e0), e2, 1); // T0 inv0 | T2 inv2
        const __m256d b = _mm256_insertf128_pd(_mm256_castpd128_pd256(e1), e3, 1); // T1 inv1 | T3 inv3
        const __m256d t = _mm256_unpacklo_pd(a, b);
        const __m256d invC = _mm256_unpackhi_pd(a, b);
        const __m256d m = _mm256_cvtps_pd(mantissa);
        const __m256d r = _mm256_fmsub_pd(m, invC, one); // exact
        // Estrin's scheme: (1 + c1 r) + r^2 (c2 + c3 r) + r^4 (c4 + c5 r),
        // three multiply-adds deep instead of five.
        const __m256d r2 = _mm256_mul_pd(r, r);
        const __m256d p01 = _mm256_fmadd_pd(c1, r, one);
        const __m256d p23 = _mm256_fmadd_pd(c3, r, c2);
        const __m256d p45 = kQuartic ? c4 : _mm256_fmadd_pd(c5, r, c4);
        const __m256d s = _mm256_fmadd_pd(_mm256_fmadd_pd(p45, r2, p23), r2, p01);
        const __m256d v = _mm256_mul_pd(t, s);

        // Decided when the low 29 bits lie outside [2^28 - tol, 2^28 + tol]:
        // shifted by 2^28 - tol and wrapped to 29 bits they exceed 2 tol.
        const __m256i vbits = _mm256_castpd_si256(v);
        const __m256i lowBits =
            _mm256_and_si256(_mm256_sub_epi64(vbits, _mm256_sub_epi64(_mm256_set1_epi64x(0x10000000), tolerance)),
                             _mm256_set1_epi64x(0x1FFFFFFF));
        const __m256i ok = _mm256_cmpgt_epi64(lowBits, _mm256_add_epi64(tolerance, tolerance));
        decided = _mm256_movemask_pd(_mm256_castsi256_pd(ok));
        return _mm256_cvtpd_ps(v);
    }

    __m256i lowest, highest, tolerance;
    __m256d c1, c2, c3, c4, c5;
    const char* bytes;
    float y;
    bool isQuartic;
};

} // namespace Morvek

#endif

#endif // MORVEK_MORVEKFIXEDPOWLANES_H
