// The processor check behind every AVX2 and FMA loop.
#include "MorvekProcessor.h"

namespace Morvek {

bool hasAvx2Fma() {
#if defined(MORVEK_AVX2) && !defined(MORVEK_PORTABLE_ONLY)
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

} // namespace Morvek
