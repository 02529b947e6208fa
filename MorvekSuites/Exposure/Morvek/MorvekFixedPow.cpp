// Powers of many floats to one exponent: the table of 2^(e y) c_j^y, the
// degree-5 binomial series of (1 + r)^y, the rounding check, and the same
// evaluation four lanes at a time with AVX2 where the processor has it.
#include "MorvekFixedPow.h"

#include "MorvekBits.h"
#include "MorvekPow.h"
#include "MorvekPowTables.h"

#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MORVEK_FIXEDPOW_AVX2 1
#include <immintrin.h>
#endif

namespace Morvek {

namespace {

constexpr double kMaxExponent = 32.0;
constexpr std::size_t kIndices = 1u << 15; // exponent field and 7 mantissa bits

// Whether the double v rounds to the same float as every value within
// `tolerance` units of its last place: no float midpoint (low 29 bits 2^28)
// that close.
bool decided(double v, double tolerance) {
    const std::int64_t low = static_cast<std::int64_t>(Bits::of(v) & 0x1FFFFFFFu);
    const std::int64_t distance = low > 0x10000000 ? low - 0x10000000 : 0x10000000 - low;
    return static_cast<double>(distance) > tolerance;
}

#ifdef MORVEK_FIXEDPOW_AVX2

bool hasAvx2() {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

// Four lanes of the table method from the byte offsets of their entries and
// their mantissas; stores the floats and returns the mask of lanes whose
// rounding is decided. The fused multiply-adds only shrink the error that the
// tolerance allows for.
__attribute__((target("avx2,fma"), always_inline)) inline int
quad(const char* table, const std::int32_t* offset, __m128 mantissa, const double* c, __m256i tolerance2, float* out) {
    const __m256d one = _mm256_set1_pd(1.0);
    // Two offsets per 64-bit move out of the vector register.
    const __m128i o = _mm_load_si128(reinterpret_cast<const __m128i*>(offset));
    const std::uint64_t o01 = static_cast<std::uint64_t>(_mm_cvtsi128_si64(o));
    const std::uint64_t o23 = static_cast<std::uint64_t>(_mm_extract_epi64(o, 1));
    const __m128d e0 = _mm_loadu_pd(reinterpret_cast<const double*>(table + static_cast<std::uint32_t>(o01)));
    const __m128d e1 = _mm_loadu_pd(reinterpret_cast<const double*>(table + (o01 >> 32)));
    const __m128d e2 = _mm_loadu_pd(reinterpret_cast<const double*>(table + static_cast<std::uint32_t>(o23)));
    const __m128d e3 = _mm_loadu_pd(reinterpret_cast<const double*>(table + (o23 >> 32)));
    const __m256d a = _mm256_insertf128_pd(_mm256_castpd128_pd256(e0), e2, 1); // T0 inv0 | T2 inv2
    const __m256d b = _mm256_insertf128_pd(_mm256_castpd128_pd256(e1), e3, 1); // T1 inv1 | T3 inv3
    const __m256d t = _mm256_unpacklo_pd(a, b);
    const __m256d invC = _mm256_unpackhi_pd(a, b);
    const __m256d m = _mm256_cvtps_pd(mantissa);
    const __m256d r = _mm256_fmsub_pd(m, invC, one); // exact
    // Estrin's scheme: (1 + c1 r) + r^2 (c2 + c3 r) + r^4 (c4 + c5 r), three
    // multiply-adds deep instead of five.
    const __m256d r2 = _mm256_mul_pd(r, r);
    const __m256d p01 = _mm256_fmadd_pd(_mm256_set1_pd(c[1]), r, one);
    const __m256d p23 = _mm256_fmadd_pd(_mm256_set1_pd(c[3]), r, _mm256_set1_pd(c[2]));
    const __m256d p45 = _mm256_fmadd_pd(_mm256_set1_pd(c[5]), r, _mm256_set1_pd(c[4]));
    const __m256d s = _mm256_fmadd_pd(_mm256_fmadd_pd(p45, r2, p23), r2, p01);
    const __m256d v = _mm256_mul_pd(t, s);

    // Decided when the low 29 bits lie outside [2^28 - tol, 2^28 + tol]:
    // shifted by 2^28 - tol and wrapped to 29 bits they exceed 2 tol.
    const __m256i bits = _mm256_castpd_si256(v);
    const __m256i low =
        _mm256_and_si256(_mm256_sub_epi64(bits, _mm256_sub_epi64(_mm256_set1_epi64x(0x10000000), tolerance2)),
                         _mm256_set1_epi64x(0x1FFFFFFF));
    const __m256i ok = _mm256_cmpgt_epi64(low, _mm256_add_epi64(tolerance2, tolerance2));
    _mm_storeu_ps(out, _mm256_cvtpd_ps(v));
    return _mm256_movemask_pd(_mm256_castsi256_pd(ok));
}

__attribute__((target("avx2,fma"))) std::ptrdiff_t applyAvx2(const double* table, const double* c, double tolerance,
                                                             std::int32_t first, std::int32_t last, float y,
                                                             const float* x, float* out, std::ptrdiff_t n) {
    const __m256i lowest = _mm256_set1_epi32(first - 1);
    const __m256i highest = _mm256_set1_epi32(last + 1);
    // The tolerance as a whole number of units, rounded up; 2^28 or more
    // decides nothing.
    const double units = std::ceil(tolerance) < 0x1p28 ? std::ceil(tolerance) : 0x1p28;
    const __m256i tol = _mm256_set1_epi64x(static_cast<long long>(units));
    const char* bytes = reinterpret_cast<const char*>(table);
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i bits = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i));
        // Within the inputs whose results are normal floats (read as signed,
        // so negative inputs fall below).
        const __m256i valid = _mm256_and_si256(_mm256_cmpgt_epi32(bits, lowest), _mm256_cmpgt_epi32(highest, bits));
        // Byte offset of the entry: (bits >> 16) & 0x7FFF, times 16.
        const __m256i offset = _mm256_and_si256(_mm256_srli_epi32(bits, 12), _mm256_set1_epi32(0x7FFF0));
        const __m256 mantissa = _mm256_castsi256_ps(
            _mm256_or_si256(_mm256_and_si256(bits, _mm256_set1_epi32(0x007FFFFF)), _mm256_set1_epi32(0x3F800000)));
        alignas(32) std::int32_t off[8];
        alignas(32) float original[8]; // x may be out itself
        _mm256_store_si256(reinterpret_cast<__m256i*>(off), offset);
        _mm256_store_si256(reinterpret_cast<__m256i*>(original), bits);
        const int first = quad(bytes, off, _mm256_castps256_ps128(mantissa), c, tol, out + i);
        const int second = quad(bytes, off + 4, _mm256_extractf128_ps(mantissa, 1), c, tol, out + i + 4);
        const int accepted = (first | (second << 4)) & _mm256_movemask_ps(_mm256_castsi256_ps(valid));
        if (accepted != 0xFF) {
            for (int lane = 0; lane < 8; ++lane) {
                if ((accepted & (1 << lane)) == 0) {
                    out[i + lane] = powFloat(original[lane], y);
                }
            }
        }
    }
    return i;
}

#endif

} // namespace

bool FixedPow::vectorAvailable() {
#ifdef MORVEK_FIXEDPOW_AVX2
    return hasAvx2();
#else
    return false;
#endif
}

FixedPow::FixedPow(float exponent) : y(exponent) {
    const double yd = y;
    if (!(std::fabs(yd) <= kMaxExponent)) {
        return; // NaN or too large: powFloat for every value
    }
    using PowTables::kLog;

    // (1 + r)^y = sum_k binomial(y, k) r^k.
    coefficient[0] = 1.0;
    for (int k = 1; k < 6; ++k) {
        coefficient[k] = coefficient[k - 1] * (yd - (k - 1)) / k;
    }
    // |r| over every interval (the product m invC is exact, so this is the
    // exact range), and the series' tail beyond r^5:
    // |binomial(y, 6)| |r|^6 / (1 - rho), where rho bounds the ratio of
    // successive terms, max(1, (|y| + 6) / 7) |r|.
    double rMax = 0.0;
    for (int j = 0; j < 128; ++j) {
        const double lo = (1.0 + j / 128.0) * kLog[j].invC - 1.0;
        const double hi = (1.0 + (j + 1) / 128.0) * kLog[j].invC - 1.0;
        rMax = std::fmax(rMax, std::fmax(std::fabs(lo), std::fabs(hi)));
    }
    const double binomial6 = std::fabs(coefficient[5] * (yd - 5.0) / 6.0);
    const double rho = std::fmax(1.0, (std::fabs(yd) + 6.0) / 7.0) * rMax;
    const double r6 = rMax * rMax * rMax * rMax * rMax * rMax;
    const double tail = binomial6 * r6 / (1.0 - rho);
    // Relative error of a result, in units u = 2^-53: the table entry (two
    // correctly rounded powers and their product, 3u), the series'
    // evaluation (below 2.4u either way it is evaluated: the rounding of
    // 1 + c1 r, at most 1.14 in size against a series value of at least
    // 0.88, plus the final rounding; the terms in r^2 and beyond are below
    // 0.02 and add little), the final product (1u), and the tail relative to
    // the series value. In units of the double's last place that is below
    // 6.4 + 1.14 tail 2^53; the tolerance doubles it.
    tolerance = 2.0 * (6.4 + 1.14 * tail * 0x1p53) + 4.0;

    double q[128];
    for (int j = 0; j < 128; ++j) {
        q[j] = powDouble(kLog[j].invC, -yd);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    table.assign(2 * kIndices, nan);
    for (std::size_t field = 1; field < 255; ++field) {
        // y e is exact: 24 significant bits times at most 8.
        const double scale = powDouble(2.0, yd * (static_cast<double>(field) - 127.0));
        for (std::size_t j = 0; j < 128; ++j) {
            const std::size_t index = field << 7 | j;
            table[2 * index] = scale * q[j];
            table[2 * index + 1] = kLog[j].invC;
        }
    }
    // The inputs taken by the table method: the run of indices around x = 1
    // whose results, T (1 + r)^y with the series between 0.87 and 1.15, are
    // certainly normal floats. Outside it (zeros, subnormals, infinities,
    // NaNs, negative numbers, results that overflow or underflow) powFloat
    // decides.
    auto safe = [&](std::size_t index) {
        const double t = table[2 * index];
        return t * 0.87 >= 0x1p-126 * 1.001 && t * 1.15 <= 0x1.fffffep127 * 0.999;
    };
    const std::size_t one = Bits::of(1.0f) >> 16;
    std::size_t lo = one, hi = one;
    while (lo > 0 && safe(lo - 1)) {
        --lo;
    }
    while (hi + 1 < kIndices && safe(hi + 1)) {
        ++hi;
    }
    firstBits = static_cast<std::int32_t>(lo << 16);
    lastBits = static_cast<std::int32_t>(hi << 16 | 0xFFFF);
    tabulated = safe(one);
}

void FixedPow::apply(const float* x, float* out, std::ptrdiff_t n, bool vector) const {
    if (!tabulated) {
        for (std::ptrdiff_t i = 0; i < n; ++i) {
            out[i] = powFloat(x[i], y);
        }
        return;
    }
    std::ptrdiff_t i = 0;
#ifdef MORVEK_FIXEDPOW_AVX2
    if (vector && hasAvx2()) {
        i = applyAvx2(table.data(), coefficient, tolerance, firstBits, lastBits, y, x, out, n);
    }
#else
    (void)vector;
#endif
    const double* c = coefficient;
    for (; i < n; ++i) {
        const float xi = x[i];
        const std::uint32_t bits = Bits::of(xi);
        if (static_cast<std::int32_t>(bits) >= firstBits && static_cast<std::int32_t>(bits) <= lastBits) {
            const std::size_t index = bits >> 16;
            const double m = Bits::toFloat((bits & 0x007FFFFFu) | 0x3F800000u);
            const double r = m * table[2 * index + 1] - 1.0; // exact
            const double s = ((((c[5] * r + c[4]) * r + c[3]) * r + c[2]) * r + c[1]) * r + 1.0;
            const double v = table[2 * index] * s;
            if (decided(v, tolerance)) {
                out[i] = static_cast<float>(v);
                continue;
            }
        }
        out[i] = powFloat(xi, y);
    }
}

} // namespace Morvek
