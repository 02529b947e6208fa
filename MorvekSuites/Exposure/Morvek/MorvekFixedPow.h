// Powers of many floats to one exponent, each result bit-identical to
// powFloat(x, y): what a frame of float pixels needs, since the exponent
// (1/gamma) is fixed for the whole frame.
//
// For x = 2^e m with m in [1 + j/128, 1 + (j+1)/128):
//     x^y = 2^(e y) c_j^y (1 + r)^y,   c_j = 1/invC_j,   r = m invC_j - 1,
// where invC_j is the float near 1/(1 + (j+0.5)/128) of the power tables, so
// r is exact and |r| < 2^-7.9. The first two factors are tabulated per
// exponent field and j (built once for the exponent), the third is a
// polynomial of degree 4 or 5 in r (4 where its error bound still decides
// nearly every rounding). The result carries a known error bound; where
// that bound cannot decide the rounding to float (close to a midpoint), or x
// is not a positive normal float, or the result is not a normal float, the
// value comes from powFloat itself.
#ifndef MORVEK_MORVEKFIXEDPOW_H
#define MORVEK_MORVEKFIXEDPOW_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Morvek {

class FixedPow {
public:
    // Builds the table for exponent y (a few hundred powDouble calls). Any y
    // is accepted; outside |y| <= 32 (where the polynomial would be too
    // coarse) every power is powFloat's own evaluation.
    explicit FixedPow(float y);

    // out[i] = powFloat(x[i], y) for i < n. out may be x itself. `vector`
    // false forces the portable loop (the tests compare both).
    void apply(const float* x, float* out, std::ptrdiff_t n, bool vector = true) const;

    // Whether the table method applies to this exponent at all (otherwise
    // every power is powFloat's).
    bool usesTable() const { return tabulated; }

private:
    friend class FixedPowLanes;

    float y;
    bool tabulated = false;
    // Two doubles per index (the float's bits >> 16, sign clear): 2^(e y)
    // c_j^y, then invC_j. Indices of zero, subnormal, infinite and NaN
    // inputs hold NaN and lie outside [firstBits, lastBits].
    std::vector<double> table;
    double coefficient[6] = {}; // binomial(y, k), k = 0..5; c5 = 0 at degree 4
    double tolerance = 0.0;
    // The bits of the first and last input the table method takes.
    std::int32_t firstBits = 0, lastBits = -1;
};

} // namespace Morvek

#endif // MORVEK_MORVEKFIXEDPOW_H
