// The power function of the tabulated curves, for a whole table at once: the
// same doubles as powDouble, entry for entry, computed four at a time where
// the processor allows.
#ifndef MORVEK_FILTER_MORVEKEXPOSURECURVE_H
#define MORVEK_FILTER_MORVEKEXPOSURECURVE_H

#include <cstddef>

namespace Morvek {

// out[i] = powDouble(x[i], y) for i < n, bit for bit; out may be x itself.
// `vector` false forces the one-at-a-time loop (for the tests).
void powDoubleRun(const double* x, double y, double* out, std::ptrdiff_t n, bool vector = true);

} // namespace Morvek

#endif // MORVEK_FILTER_MORVEKEXPOSURECURVE_H
