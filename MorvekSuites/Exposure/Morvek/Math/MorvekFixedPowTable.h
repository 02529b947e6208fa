// The terms of FixedPow's table method for one exponent y, computed once:
//
// For x = 2^e m with m in [1 + j/128, 1 + (j+1)/128):
//     x^y = 2^(e y) c_j^y (1 + r)^y,   c_j = 1/invC_j,   r = m invC_j - 1,
// where invC_j is the float near 1/(1 + (j+0.5)/128) of the power tables, so
// r is exact and |r| < 2^-7.9. The first two factors are tabulated per
// exponent field and j, each the product of two correctly rounded powDouble
// results; the third is the binomial series of degree 4 or 5 in r (4 where
// its error bound still decides nearly every rounding). `tolerance` bounds
// the error of a result evaluated from these terms, in units of the last
// place of the double result, so a result farther than that from every
// float midpoint rounds to powFloat(x, y). The table method takes only the
// inputs whose results are certainly normal floats (firstBits..lastBits);
// FixedPow and FixedPowLanes evaluate the terms, and give every other value
// to powFloat.
#ifndef MORVEK_MATH_MORVEKFIXEDPOWTABLE_H
#define MORVEK_MATH_MORVEKFIXEDPOWTABLE_H

#include <cstdint>
#include <vector>

namespace Morvek {

struct FixedPowTable {
    // Builds the terms for exponent y (a few hundred powDouble calls). Any y
    // is accepted; outside |y| <= 32 (where the series would be too coarse)
    // nothing is tabulated.
    explicit FixedPowTable(float y);

    float y;
    // Whether the table method applies to this exponent at all.
    bool tabulated = false;
    // Two doubles per index (the float's bits >> 16, sign clear): 2^(e y)
    // c_j^y, then invC_j. Indices of zero, subnormal, infinite and NaN
    // inputs hold NaN and lie outside [firstBits, lastBits].
    std::vector<double> entries;
    double coefficient[6] = {}; // binomial(y, k), k = 0..5; c5 = 0 at degree 4
    double tolerance = 0.0;
    // The bits of the first and last input the table method takes.
    std::int32_t firstBits = 0, lastBits = -1;
};

} // namespace Morvek

#endif // MORVEK_MATH_MORVEKFIXEDPOWTABLE_H
