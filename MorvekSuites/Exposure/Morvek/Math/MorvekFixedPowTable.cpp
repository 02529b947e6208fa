// The terms of FixedPow's table method: the binomial coefficients, the error
// bound that decides the series' degree, and the table of 2^(e y) c_j^y.
#include "MorvekFixedPowTable.h"

#include "MorvekBits.h"
#include "MorvekPow.h"
#include "MorvekPowTables.h"

#include <cmath>
#include <cstddef>
#include <limits>

namespace Morvek {

namespace {

constexpr double kMaxExponent = 32.0;
constexpr std::size_t kIndices = 1u << 15; // exponent field and 7 mantissa bits

} // namespace

FixedPowTable::FixedPowTable(float exponent) : y(exponent) {
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
    // saving a multiply-add per value; degree 5 otherwise. With c5 = 0 both
    // evaluations of the series are the degree-4 polynomial exactly.
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
    entries.assign(2 * kIndices, nan);
    for (std::size_t field = 1; field < 255; ++field) {
        // y e is exact: 24 significant bits times at most 8.
        const double scale = powDouble(2.0, yd * (static_cast<double>(field) - 127.0));
        for (std::size_t j = 0; j < 128; ++j) {
            const std::size_t index = field << 7 | j;
            entries[2 * index] = scale * q[j];
            entries[2 * index + 1] = kLog[j].invC;
        }
    }
    // The inputs taken by the table method: the run of indices around x = 1
    // whose results, T (1 + r)^y with the series between 0.87 and 1.15, are
    // certainly normal floats. Outside it (zeros, subnormals, infinities,
    // NaNs, negative numbers, results that overflow or underflow) powFloat
    // decides.
    auto safe = [&](std::size_t index) {
        const double t = entries[2 * index];
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

} // namespace Morvek
