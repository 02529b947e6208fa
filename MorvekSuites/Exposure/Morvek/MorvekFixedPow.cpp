// Powers of many floats to one exponent: the table of 2^(e y) c_j^y, the
// binomial series of (1 + r)^y to degree 4 or 5, the rounding check, and the same
// evaluation eight lanes at a time with AVX2 where the processor has it.
#include "MorvekFixedPow.h"

#include "MorvekBits.h"
#include "MorvekFixedPowLanes.h"
#include "MorvekPow.h"
#include "MorvekPowTables.h"

#include <cmath>
#include <cstdint>
#include <limits>

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

#ifdef MORVEK_FIXEDPOW_LANES

bool hasAvx2() {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

template <bool kQuartic>
__attribute__((target("avx2,fma"))) std::ptrdiff_t applyAvx2(const FixedPowLanes& lanes, const float* x, float* out,
                                                             std::ptrdiff_t n) {
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_ps(out + i, lanes.pow8<kQuartic>(_mm256_loadu_ps(x + i)));
    }
    return i;
}

__attribute__((target("avx2,fma"))) std::ptrdiff_t applyAvx2(const FixedPow& power, const float* x, float* out,
                                                             std::ptrdiff_t n) {
    const FixedPowLanes lanes(power);
    return lanes.quartic() ? applyAvx2<true>(lanes, x, out, n) : applyAvx2<false>(lanes, x, out, n);
}

#endif

} // namespace

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
    // exact range).
    double rMax = 0.0;
    for (int j = 0; j < 128; ++j) {
        const double lo = (1.0 + j / 128.0) * kLog[j].invC - 1.0;
        const double hi = (1.0 + (j + 1) / 128.0) * kLog[j].invC - 1.0;
        rMax = std::fmax(rMax, std::fmax(std::fabs(lo), std::fabs(hi)));
    }
    // The series' tail beyond r^d: |binomial(y, d + 1)| |r|^(d + 1) /
    // (1 - rho), where rho bounds the ratio of successive terms,
    // max(1, (|y| + d + 1) / (d + 2)) |r|.
    auto tailBeyond = [&](int d) {
        const double next = std::fabs(coefficient[d] * (yd - d) / (d + 1));
        const double rho = std::fmax(1.0, (std::fabs(yd) + d + 1) / (d + 2)) * rMax;
        return next * std::pow(rMax, d + 1) / (1.0 - rho);
    };
    // Relative error of a result, in units u = 2^-53: the table entry (two
    // correctly rounded powers and their product, 3u), the series'
    // evaluation (below 2.4u either way it is evaluated: the rounding of
    // 1 + c1 r, at most 1.14 in size against a series value of at least
    // 0.88, plus the final rounding; the terms in r^2 and beyond are below
    // 0.02 and add little), the final product (1u), and the tail relative to
    // the series value. In units of the double's last place that is below
    // 6.4 + 1.14 tail 2^53; the tolerance doubles it.
    auto toleranceFor = [&](int d) { return 2.0 * (6.4 + 1.14 * tailBeyond(d) * 0x1p53) + 4.0; };
    // Degree 4 where it leaves all but a few in 10^5 results decided
    // (exponents from about -3.5 to 8.5, so every gamma from about 0.12 up),
    // saving a multiply-add per value; degree 5 otherwise. With c5 = 0 both evaluations below are the
    // degree-4 polynomial exactly.
    tolerance = toleranceFor(4);
    if (tolerance <= 0x1p12) {
        coefficient[5] = 0.0;
    } else {
        tolerance = toleranceFor(5);
    }

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
#ifdef MORVEK_FIXEDPOW_LANES
    if (vector && hasAvx2()) {
        i = applyAvx2(*this, x, out, n);
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
