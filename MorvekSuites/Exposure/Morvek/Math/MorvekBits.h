// The bits of floating-point values and back, exactly (a copy of the
// representation, NaN payloads included), for code that decides by the
// representation (exponent fields, mantissa bits, distance to a rounding
// boundary).
#ifndef MORVEK_MATH_MORVEKBITS_H
#define MORVEK_MATH_MORVEKBITS_H

#include <cstdint>
#include <cstring>

namespace Morvek {
namespace Bits {

inline std::uint32_t of(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}
inline std::uint64_t of(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}
inline float toFloat(std::uint32_t u) {
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}
inline double toDouble(std::uint64_t u) {
    double d;
    std::memcpy(&d, &u, sizeof d);
    return d;
}

} // namespace Bits
} // namespace Morvek

#endif // MORVEK_MATH_MORVEKBITS_H
