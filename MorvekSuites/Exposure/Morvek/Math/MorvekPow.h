// Power functions of the colour code whose results depend only on IEEE-754
// double arithmetic (+, -, *, /, no fused multiply-add, no math library), so
// that every platform and compiler computes the same bits. powFloat is
// correctly rounded for every pair of floats, powDouble wherever it has been
// checked. tests/Pow checks the special cases, exact results and midpoints,
// and the 8- and 16-bit table inputs against the C library's pow;
// morvek-powcheck (tests/Pow/mpfr) checks both against MPFR: a sample with
// every test run, every float in [0, 1] and 2^24 random floats above 1 per
// exponent, and the table inputs of 800 gammas, in its full run.
#ifndef MORVEK_MATH_MORVEKPOW_H
#define MORVEK_MATH_MORVEKPOW_H

namespace Morvek {

// x^y correctly rounded to single precision (round to nearest, ties to even)
// for every pair of floats. Zeros, infinities, NaNs and negative bases give
// C's powf results: pow(x, +-0) = 1 and pow(1, y) = 1 even for NaN, a negative
// base needs an integral exponent (NaN otherwise, negated for odd exponents).
// pow(x, 1) returns x itself. A NaN result is the quiet form of the NaN
// argument (x first), or the positive default NaN for an invalid pair.
float powFloat(float x, float y);

// x^y rounded to nearest double with the same special cases. The result is
// computed in double-double arithmetic (relative error below 2^-95) and
// rounded from it; exact dyadic results (midpoints included) are detected and
// rounded exactly. Correctly rounded unless x^y lies within 2^-95 of a
// rounding boundary without reaching it, which no tested input does.
double powDouble(double x, double y);

namespace PowDetail {

// The quick path of powFloat: for a finite x > 0 and 2^-20 <= |y| <= 2^10,
// x^y in double with a known error bound. Returns true and the correctly
// rounded float when that bound decides the rounding; false when the result
// lies too close to a rounding boundary or outside the normal range, and
// powFloat must take its accurate path.
bool quickPow(float x, float y, float& result);

// The accurate path of powFloat for finite x > 0 and finite y != 0.
float accuratePow(float x, float y);

} // namespace PowDetail

} // namespace Morvek

#endif // MORVEK_MATH_MORVEKPOW_H
