// Powers of many floats to one exponent: the table method's terms evaluated
// value by value (the series by Horner's scheme) or eight lanes at a time
// where the processor has AVX2 and FMA, each result kept only where the
// rounding check decides it.
#include "MorvekFixedPow.h"

#include "MorvekBits.h"
#include "MorvekFixedPowLanes.h"
#include "MorvekPow.h"
#include "MorvekProcessor.h"

#include <cstdint>

namespace Morvek {

namespace {

// Whether the double v rounds to the same float as every value within
// `tolerance` units of its last place: no float midpoint (low 29 bits 2^28)
// that close.
bool decided(double v, double tolerance) {
    const std::int64_t low = static_cast<std::int64_t>(Bits::of(v) & 0x1FFFFFFFu);
    const std::int64_t distance = low > 0x10000000 ? low - 0x10000000 : 0x10000000 - low;
    return static_cast<double>(distance) > tolerance;
}

#ifdef MORVEK_AVX2

template <bool kQuartic>
__attribute__((target("avx2,fma"))) std::ptrdiff_t applyAvx2(const FixedPowLanes& lanes, const float* x, float* out,
                                                             std::ptrdiff_t n) {
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_ps(out + i, lanes.pow8<kQuartic>(_mm256_loadu_ps(x + i)));
    }
    return i;
}

__attribute__((target("avx2,fma"))) std::ptrdiff_t applyAvx2(const FixedPowTable& table, const float* x, float* out,
                                                             std::ptrdiff_t n) {
    const FixedPowLanes lanes(table);
    return lanes.quartic() ? applyAvx2<true>(lanes, x, out, n) : applyAvx2<false>(lanes, x, out, n);
}

#endif

} // namespace

void FixedPow::apply(const float* x, float* out, std::ptrdiff_t n, bool vector) const {
    const float y = terms.y;
    if (!terms.tabulated) {
        for (std::ptrdiff_t i = 0; i < n; ++i) {
            out[i] = powFloat(x[i], y);
        }
        return;
    }
    std::ptrdiff_t i = 0;
#ifdef MORVEK_AVX2
    if (vector && hasAvx2Fma()) {
        i = applyAvx2(terms, x, out, n);
    }
#else
    (void)vector;
#endif
    const double* c = terms.coefficient;
    const double* table = terms.entries.data();
    for (; i < n; ++i) {
        const float xi = x[i];
        const std::uint32_t bits = Bits::of(xi);
        if (static_cast<std::int32_t>(bits) >= terms.firstBits && static_cast<std::int32_t>(bits) <= terms.lastBits) {
            const std::size_t index = bits >> 16;
            const double m = Bits::toFloat((bits & 0x007FFFFFu) | 0x3F800000u);
            const double r = m * table[2 * index + 1] - 1.0; // exact
            const double s = ((((c[5] * r + c[4]) * r + c[3]) * r + c[2]) * r + c[1]) * r + 1.0;
            const double v = table[2 * index] * s;
            if (decided(v, terms.tolerance)) {
                out[i] = static_cast<float>(v);
                continue;
            }
        }
        out[i] = powFloat(xi, y);
    }
}

} // namespace Morvek
