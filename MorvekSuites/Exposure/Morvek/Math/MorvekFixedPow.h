// Powers of many floats to one exponent, each result bit-identical to
// powFloat(x, y) for every float x: what a frame of float pixels needs,
// since the exponent (1/gamma) is fixed for the whole frame. The table
// method (MorvekFixedPowTable.h) gives a result only where its error bound
// decides the rounding to float, and powFloat gives every other one.
// Checked against powFloat over dense runs of values and special values
// (tests/Perf), and against MPFR with powFloat by morvek-powcheck.
#ifndef MORVEK_MATH_MORVEKFIXEDPOW_H
#define MORVEK_MATH_MORVEKFIXEDPOW_H

#include "MorvekFixedPowTable.h"

#include <cstddef>

namespace Morvek {

class FixedPow {
public:
    // Builds the table method's terms for exponent y; outside |y| <= 32
    // every power is powFloat's own evaluation.
    explicit FixedPow(float y) : terms(y) {}

    // out[i] = powFloat(x[i], y) for i < n. out may be x itself. `vector`
    // false forces the portable loop (the tests compare both).
    void apply(const float* x, float* out, std::ptrdiff_t n, bool vector = true) const;

    // Whether the table method applies to this exponent at all (otherwise
    // every power is powFloat's).
    bool usesTable() const { return terms.tabulated; }

    // The terms, for loops that evaluate them in registers (FixedPowLanes).
    const FixedPowTable& table() const { return terms; }

private:
    FixedPowTable terms;
};

} // namespace Morvek

#endif // MORVEK_MATH_MORVEKFIXEDPOW_H
