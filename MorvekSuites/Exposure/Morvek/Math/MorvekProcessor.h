// The one run-time processor check of the library. Where MORVEK_AVX2 is
// defined (x86-64 with GCC or Clang), AVX2 and FMA loops are compiled beside
// the portable ones, each function behind its own target attribute, and run
// only when hasAvx2Fma() answers true; both forms give the same bits.
#ifndef MORVEK_MATH_MORVEKPROCESSOR_H
#define MORVEK_MATH_MORVEKPROCESSOR_H

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MORVEK_AVX2 1
#endif

namespace Morvek {

// Whether this processor executes AVX2 and FMA instructions; false in a
// build without MORVEK_AVX2, and in the test-only module built with
// MORVEK_PORTABLE_ONLY.
bool hasAvx2Fma();

} // namespace Morvek

#endif // MORVEK_MATH_MORVEKPROCESSOR_H
