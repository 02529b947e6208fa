// powDouble over a whole table at once (the 8- and 16-bit curves): the same
// doubles as powDouble, entry for entry and for every base and exponent,
// computed four at a time where the processor has AVX2 and FMA. Checked
// against powDouble over whole tables of the gamma range and bases of every
// magnitude and special values (tests/Perf/ExposureCurveTest.cpp), so it is
// as exact as powDouble.
#ifndef MORVEK_MATH_MORVEKPOWRUN_H
#define MORVEK_MATH_MORVEKPOWRUN_H

#include <cstddef>

namespace Morvek {

// out[i] = powDouble(x[i], y) for i < n, bit for bit; out may be x itself.
// `vector` false forces the one-at-a-time loop (for the tests).
void powDoubleRun(const double* x, double y, double* out, std::ptrdiff_t n, bool vector = true);

} // namespace Morvek

#endif // MORVEK_MATH_MORVEKPOWRUN_H
