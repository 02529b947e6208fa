// Value types shared by the whole image library: floating and integer colours
// with their conversions to and from the host's three pixel formats, and the
// geometry helpers (vectors, 16.16 fixed-point vectors, rectangles, border
// folding). Everything here is a plain value or a stateless function.
#ifndef MORVEK_MORVEKGENERAL_H
#define MORVEK_MORVEKGENERAL_H

#include "HostAPI.h"

#include <cmath>
#include <cstdint>
#include <type_traits>

namespace Morvek {

// ---------------------------------------------------------------------------
// Colours
//
// Channels are kept in the host's order (alpha, red, green, blue), straight
// colour. Two scales exist: "normalised" (full = 1.0 at every depth) and the
// host scale (full = 255 at 8 bits, 32768 at 16 bits). Conversions without a
// flag are normalised; a trailing `normalized` flag chooses between the two.
// ---------------------------------------------------------------------------

template <typename T> class ColorFloat {
    static_assert(std::is_same<T, float>::value || std::is_same<T, double>::value,
                  "ColorFloat holds float or double channels");

public:
    T alpha;
    T red;
    T green;
    T blue;

    ColorFloat() : alpha(0), red(0), green(0), blue(0) {}
    ColorFloat(T r, T g, T b) : alpha(1), red(r), green(g), blue(b) {}
    ColorFloat(T a, T r, T g, T b) : alpha(a), red(r), green(g), blue(b) {}

    // 8 bits: a true division by 255 in T, so that every 8-bit value comes back
    // unchanged through aePixel8.
    ColorFloat(const PF_Pixel& p) : ColorFloat(p, true) {}
    ColorFloat(const PF_Pixel& p, bool normalized)
        : alpha(static_cast<T>(p.alpha)), red(static_cast<T>(p.red)), green(static_cast<T>(p.green)),
          blue(static_cast<T>(p.blue)) {
        if (normalized) {
            const T full = static_cast<T>(255.0);
            alpha = alpha / full;
            red = red / full;
            green = green / full;
            blue = blue / full;
        }
    }

    // 16 bits: full is 32768, a power of two, so the reciprocal is exact.
    ColorFloat(const PF_Pixel16& p) : ColorFloat(p, true) {}
    ColorFloat(const PF_Pixel16& p, bool normalized)
        : alpha(static_cast<T>(p.alpha)), red(static_cast<T>(p.red)), green(static_cast<T>(p.green)),
          blue(static_cast<T>(p.blue)) {
        if (normalized) {
            const T scale = static_cast<T>(1.0 / 32768.0);
            alpha = alpha * scale;
            red = red * scale;
            green = green * scale;
            blue = blue * scale;
        }
    }

    ColorFloat(const PF_PixelFloat& p)
        : alpha(static_cast<T>(p.alpha)), red(static_cast<T>(p.red)), green(static_cast<T>(p.green)),
          blue(static_cast<T>(p.blue)) {}

    // The operators treat the colour as a four-component vector, alpha included.
    ColorFloat& operator+=(const ColorFloat& o) {
        alpha += o.alpha;
        red += o.red;
        green += o.green;
        blue += o.blue;
        return *this;
    }
    ColorFloat& operator-=(const ColorFloat& o) {
        alpha -= o.alpha;
        red -= o.red;
        green -= o.green;
        blue -= o.blue;
        return *this;
    }
    ColorFloat& operator*=(const T& s) {
        alpha *= s;
        red *= s;
        green *= s;
        blue *= s;
        return *this;
    }
    ColorFloat& operator*=(const int& s) { return *this *= static_cast<T>(s); }
    ColorFloat& operator/=(const T& s) {
        alpha /= s;
        red /= s;
        green /= s;
        blue /= s;
        return *this;
    }
    // The integer divisor goes through single precision first, also for double.
    ColorFloat& operator/=(const int& s) { return *this /= static_cast<T>(static_cast<float>(s)); }

    ColorFloat operator+(const ColorFloat& o) const { return ColorFloat(*this) += o; }
    ColorFloat operator-(const ColorFloat& o) const { return ColorFloat(*this) -= o; }
    ColorFloat operator*(const T& s) const { return ColorFloat(*this) *= s; }
    ColorFloat operator*(const int& s) const { return ColorFloat(*this) *= s; }
    ColorFloat operator/(const T& s) const { return ColorFloat(*this) /= s; }
    ColorFloat operator/(const int& s) const { return ColorFloat(*this) /= s; }

    // These treat the colour as RGB with an attached alpha: alpha is untouched.
    void mult(T s) {
        red *= s;
        green *= s;
        blue *= s;
    }
    void div(T s) {
        red /= s;
        green /= s;
        blue /= s;
    }
    // Limits each colour channel to [0, max]; a NaN channel stays NaN.
    void clamp(T max) {
        red = clampChannel(red, max);
        green = clampChannel(green, max);
        blue = clampChannel(blue, max);
    }
    T dot(const ColorFloat& o) const {
        const T rg = red * o.red + green * o.green;
        return rg + blue * o.blue;
    }

private:
    static T clampChannel(T v, T max) {
        if (v < static_cast<T>(0)) {
            return static_cast<T>(0);
        }
        if (v > max) {
            return max;
        }
        return v;
    }
};

// Integer colour on the host scale. Sums, differences and products wrap at 32
// bits for both instantiations.
template <typename T> class ColorInt {
    static_assert(std::is_same<T, int>::value || std::is_same<T, unsigned int>::value,
                  "ColorInt holds int or unsigned int channels");

public:
    T alpha;
    T red;
    T green;
    T blue;

    ColorInt() : alpha(0), red(0), green(0), blue(0) {}
    ColorInt(T a, T r, T g, T b) : alpha(a), red(r), green(g), blue(b) {}
    ColorInt(const PF_Pixel& p)
        : alpha(static_cast<T>(p.alpha)), red(static_cast<T>(p.red)), green(static_cast<T>(p.green)),
          blue(static_cast<T>(p.blue)) {}
    ColorInt(const PF_Pixel16& p)
        : alpha(static_cast<T>(p.alpha)), red(static_cast<T>(p.red)), green(static_cast<T>(p.green)),
          blue(static_cast<T>(p.blue)) {}

    ColorInt& operator+=(const ColorInt& o) {
        alpha = add(alpha, o.alpha);
        red = add(red, o.red);
        green = add(green, o.green);
        blue = add(blue, o.blue);
        return *this;
    }
    ColorInt& operator-=(const ColorInt& o) {
        alpha = sub(alpha, o.alpha);
        red = sub(red, o.red);
        green = sub(green, o.green);
        blue = sub(blue, o.blue);
        return *this;
    }
    ColorInt& operator*=(const int& s) {
        alpha = mul(alpha, static_cast<T>(s));
        mult(static_cast<T>(s));
        return *this;
    }
    // Signed division truncating toward zero for int, wrapping at 32 bits like
    // the other operators; for unsigned int the divisor is taken as unsigned.
    // A zero divisor is the caller's fault.
    ColorInt& operator/=(const int& s) {
        alpha = quo(alpha, static_cast<T>(s));
        div(static_cast<T>(s));
        return *this;
    }

    ColorInt operator+(const ColorInt& o) const { return ColorInt(*this) += o; }
    ColorInt operator-(const ColorInt& o) const { return ColorInt(*this) -= o; }
    ColorInt operator*(const int& s) const { return ColorInt(*this) *= s; }
    ColorInt operator/(const int& s) const { return ColorInt(*this) /= s; }

    // Colour channels only; alpha is untouched.
    void mult(T s) {
        red = mul(red, s);
        green = mul(green, s);
        blue = mul(blue, s);
    }
    void div(T s) {
        red = quo(red, s);
        green = quo(green, s);
        blue = quo(blue, s);
    }

private:
    // Wrapping arithmetic done in unsigned, where overflow is defined.
    static T add(T a, T b) { return static_cast<T>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b)); }
    static T sub(T a, T b) { return static_cast<T>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b)); }
    static T mul(T a, T b) { return static_cast<T>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b)); }
    // The most negative int over -1 wraps back to itself instead of trapping.
    static T quo(T a, T b) { return (std::is_signed<T>::value && b == static_cast<T>(-1)) ? sub(0, a) : a / b; }
};

namespace detail {

// One float channel to an integer channel: scale (if normalised), then
// negative and NaN give 0, anything above full gives full, the rest is
// truncated toward zero.
template <typename Out, typename T> inline Out floatToChannel(T c, T full, bool normalized) {
    const T v = normalized ? c * full : c;
    if (!(v >= static_cast<T>(0))) {
        return 0;
    }
    if (v > full) {
        return static_cast<Out>(full);
    }
    return static_cast<Out>(v);
}

template <typename Out> inline Out intToChannel(int c, int full) {
    if (c < 0) {
        return 0;
    }
    return static_cast<Out>(c > full ? full : c);
}

template <typename Out> inline Out intToChannel(unsigned int c, int full) {
    const unsigned int f = static_cast<unsigned int>(full);
    return static_cast<Out>(c < f ? c : f);
}

} // namespace detail

template <typename T> PF_Pixel aePixel8(const ColorFloat<T>& c, bool normalized) {
    const T full = static_cast<T>(255);
    PF_Pixel p;
    p.alpha = detail::floatToChannel<A_u_char>(c.alpha, full, normalized);
    p.red = detail::floatToChannel<A_u_char>(c.red, full, normalized);
    p.green = detail::floatToChannel<A_u_char>(c.green, full, normalized);
    p.blue = detail::floatToChannel<A_u_char>(c.blue, full, normalized);
    return p;
}

template <typename T> PF_Pixel aePixel8(const ColorFloat<T>& c) {
    return aePixel8(c, true);
}

template <typename T> PF_Pixel16 aePixel16(const ColorFloat<T>& c, bool normalized) {
    const T full = static_cast<T>(32768);
    PF_Pixel16 p;
    p.alpha = detail::floatToChannel<A_u_short>(c.alpha, full, normalized);
    p.red = detail::floatToChannel<A_u_short>(c.red, full, normalized);
    p.green = detail::floatToChannel<A_u_short>(c.green, full, normalized);
    p.blue = detail::floatToChannel<A_u_short>(c.blue, full, normalized);
    return p;
}

template <typename T> PF_Pixel16 aePixel16(const ColorFloat<T>& c) {
    return aePixel16(c, true);
}

// No clamping: float pixels may hold any value.
template <typename T> PF_PixelFloat aePixel32(const ColorFloat<T>& c) {
    PF_PixelFloat p;
    p.alpha = static_cast<PF_FpShort>(c.alpha);
    p.red = static_cast<PF_FpShort>(c.red);
    p.green = static_cast<PF_FpShort>(c.green);
    p.blue = static_cast<PF_FpShort>(c.blue);
    return p;
}

template <typename T> PF_Pixel aePixel8(const ColorInt<T>& c) {
    PF_Pixel p;
    p.alpha = detail::intToChannel<A_u_char>(c.alpha, PF_MAX_CHAN8);
    p.red = detail::intToChannel<A_u_char>(c.red, PF_MAX_CHAN8);
    p.green = detail::intToChannel<A_u_char>(c.green, PF_MAX_CHAN8);
    p.blue = detail::intToChannel<A_u_char>(c.blue, PF_MAX_CHAN8);
    return p;
}

template <typename T> PF_Pixel16 aePixel16(const ColorInt<T>& c) {
    PF_Pixel16 p;
    p.alpha = detail::intToChannel<A_u_short>(c.alpha, PF_MAX_CHAN16);
    p.red = detail::intToChannel<A_u_short>(c.red, PF_MAX_CHAN16);
    p.green = detail::intToChannel<A_u_short>(c.green, PF_MAX_CHAN16);
    p.blue = detail::intToChannel<A_u_short>(c.blue, PF_MAX_CHAN16);
    return p;
}

// ---------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------

namespace detail {

// Integer arithmetic that wraps at 32 bits instead of overflowing; plain
// arithmetic for floating types.
template <typename T> struct Arith {
    static T add(T a, T b) { return a + b; }
    static T sub(T a, T b) { return a - b; }
    static T mul(T a, T b) { return a * b; }
    static T div(T a, T b) { return a / b; }
};

template <> struct Arith<int> {
    static int add(int a, int b) {
        return static_cast<int>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
    }
    static int sub(int a, int b) {
        return static_cast<int>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
    }
    static int mul(int a, int b) {
        return static_cast<int>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
    }
    // Truncates toward zero. The one quotient outside the int range, the most
    // negative int over -1, wraps back to itself (the negation at 32 bits)
    // instead of trapping.
    static int div(int a, int b) { return b == -1 ? static_cast<int>(0u - static_cast<std::uint32_t>(a)) : a / b; }
};

// Truncation toward zero that saturates at the int range and maps NaN to 0,
// so that no double reaches an undefined conversion.
inline int truncToInt(double v) {
    if (!(v == v)) {
        return 0;
    }
    if (v >= 2147483647.0) {
        return 2147483647;
    }
    if (v <= -2147483648.0) {
        return -2147483647 - 1;
    }
    return static_cast<int>(v);
}

} // namespace detail

template <typename T> class Vector {
    static_assert(std::is_same<T, int>::value || std::is_same<T, float>::value || std::is_same<T, double>::value,
                  "Vector holds int, float or double members");

public:
    T x;
    T y;

    Vector() : x(0), y(0) {}
    explicit Vector(T v) : x(v), y(v) {}
    Vector(T x_, T y_) : x(x_), y(y_) {}

    Vector& operator+=(const Vector& o) {
        x = detail::Arith<T>::add(x, o.x);
        y = detail::Arith<T>::add(y, o.y);
        return *this;
    }
    Vector& operator-=(const Vector& o) {
        x = detail::Arith<T>::sub(x, o.x);
        y = detail::Arith<T>::sub(y, o.y);
        return *this;
    }
    Vector& operator*=(const Vector& o) {
        x = detail::Arith<T>::mul(x, o.x);
        y = detail::Arith<T>::mul(y, o.y);
        return *this;
    }
    // For int: signed division truncating toward zero and wrapping at 32 bits;
    // a zero divisor is the caller's fault.
    Vector& operator/=(const Vector& o) {
        x = detail::Arith<T>::div(x, o.x);
        y = detail::Arith<T>::div(y, o.y);
        return *this;
    }
    Vector& operator*=(const T& s) {
        x = detail::Arith<T>::mul(x, s);
        y = detail::Arith<T>::mul(y, s);
        return *this;
    }
    Vector& operator/=(const T& s) {
        x = detail::Arith<T>::div(x, s);
        y = detail::Arith<T>::div(y, s);
        return *this;
    }

    // Always a double, whatever T is: the sum of squares is formed in T (it
    // wraps at 32 bits for int) and its root taken in double.
    double length() const {
        const T sum = detail::Arith<T>::add(detail::Arith<T>::mul(x, x), detail::Arith<T>::mul(y, y));
        return std::sqrt(static_cast<double>(sum));
    }
    // Divides in double and converts back, so an int vector truncates toward
    // zero (a unit int vector is (0, 0) unless it lies on an axis). A zero
    // vector is left as it is.
    void normalize() {
        const double l = length();
        if (l > 0.0) {
            x = static_cast<T>(static_cast<double>(x) / l);
            y = static_cast<T>(static_cast<double>(y) / l);
        }
    }
    T dot(const Vector& o) const {
        return detail::Arith<T>::add(detail::Arith<T>::mul(x, o.x), detail::Arith<T>::mul(y, o.y));
    }
    // The z component of the three-dimensional cross product.
    T cross(const Vector& o) const {
        return detail::Arith<T>::sub(detail::Arith<T>::mul(x, o.y), detail::Arith<T>::mul(y, o.x));
    }
};

template <typename T> class Vector3d {
    static_assert(std::is_same<T, float>::value || std::is_same<T, double>::value,
                  "Vector3d holds float or double members");

public:
    T x;
    T y;
    T z;

    Vector3d() : x(0), y(0), z(0) {}
    Vector3d(T x_, T y_, T z_) : x(x_), y(y_), z(z_) {}

    Vector3d& operator+=(const Vector3d& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    Vector3d& operator-=(const Vector3d& o) {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    Vector3d& operator*=(const Vector3d& o) {
        x *= o.x;
        y *= o.y;
        z *= o.z;
        return *this;
    }
    Vector3d& operator/=(const Vector3d& o) {
        x /= o.x;
        y /= o.y;
        z /= o.z;
        return *this;
    }
    Vector3d& operator*=(const T& s) {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    Vector3d& operator/=(const T& s) {
        x /= s;
        y /= s;
        z /= s;
        return *this;
    }

    // In T's own precision (unlike Vector::length, which answers a double).
    T length() const {
        const T xy = x * x + y * y;
        return std::sqrt(xy + z * z);
    }
    void normalize() {
        const T l = length();
        if (l > static_cast<T>(0)) {
            x /= l;
            y /= l;
            z /= l;
        }
    }
    T dot(const Vector3d& o) const {
        const T xy = x * o.x + y * o.y;
        return xy + z * o.z;
    }
    Vector3d cross(const Vector3d& o) const {
        return Vector3d(y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x);
    }
};

// A point or direction in 16.16 fixed point: 65536 is one pixel. Sums and
// products wrap at 32 bits.
class VectorFixed {
public:
    A_long x;
    A_long y;

    VectorFixed() : x(0), y(0) {}
    VectorFixed(A_long x_, A_long y_) : x(x_), y(y_) {}

    VectorFixed& operator+=(const VectorFixed& o) {
        x = detail::Arith<int>::add(x, o.x);
        y = detail::Arith<int>::add(y, o.y);
        return *this;
    }
    VectorFixed& operator-=(const VectorFixed& o) {
        x = detail::Arith<int>::sub(x, o.x);
        y = detail::Arith<int>::sub(y, o.y);
        return *this;
    }
    // Scales the raw values by a whole number.
    VectorFixed& operator*=(const int& s) {
        x = detail::Arith<int>::mul(x, s);
        y = detail::Arith<int>::mul(y, s);
        return *this;
    }
    VectorFixed operator+(const VectorFixed& o) const { return VectorFixed(*this) += o; }
    VectorFixed operator-(const VectorFixed& o) const { return VectorFixed(*this) -= o; }
    VectorFixed operator*(const int& s) const { return VectorFixed(*this) *= s; }

    // This vector multiplied by r as complex numbers; r is normally a unit
    // rotation from createRotatedFixed. The operands are pre-shifted (12 bits
    // off the vector, 4 off the rotation) so that each product fits 32 bits.
    VectorFixed rotate(const VectorFixed& r) const;
};

// The unit rotation (cos angle, -sin angle) in 16.16, angle in radians, each
// member rounded half away from zero.
VectorFixed createRotatedFixed(double angle);

// Integer rectangle; right and bottom are exclusive. Nothing keeps it
// ordered: right < left simply makes it empty.
class Rect {
public:
    A_long left;
    A_long top;
    A_long right;
    A_long bottom;

    Rect() : left(0), top(0), right(0), bottom(0) {}
    Rect(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}
    Rect(const PF_LRect& r) : left(r.left), top(r.top), right(r.right), bottom(r.bottom) {}
    Rect(const Vector<int>& a, const Vector<int>& b) : Rect() { setRect(a, b); }
    Rect(const Vector<double>& a, const Vector<double>& b) : Rect() { setRect(a, b); }

    void setRect(int l, int t, int r, int b) {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    void setRect(const PF_LRect& r) { setRect(r.left, r.top, r.right, r.bottom); }
    // The box spanned by two corner points, in either order.
    void setRect(const Vector<int>& a, const Vector<int>& b) {
        left = a.x < b.x ? a.x : b.x;
        right = a.x < b.x ? b.x : a.x;
        top = a.y < b.y ? a.y : b.y;
        bottom = a.y < b.y ? b.y : a.y;
    }
    // Corners chosen in double, then truncated toward zero (a NaN corner
    // becomes 0 and values beyond the int range saturate).
    void setRect(const Vector<double>& a, const Vector<double>& b) {
        left = detail::truncToInt(b.x > a.x ? a.x : b.x);
        right = detail::truncToInt(b.x > a.x ? b.x : a.x);
        top = detail::truncToInt(b.y > a.y ? a.y : b.y);
        bottom = detail::truncToInt(b.y > a.y ? b.y : a.y);
    }

    // Negative for an inverted rectangle.
    int getWidth() const { return detail::Arith<int>::sub(right, left); }
    int getHeight() const { return detail::Arith<int>::sub(bottom, top); }
    Vector<int> getLeftTop() const { return Vector<int>(left, top); }
    Vector<int> getRightBottom() const { return Vector<int>(right, bottom); }
    bool isEmpty() const { return left >= right || top >= bottom; }

    bool operator==(const Rect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    bool operator!=(const Rect& o) const { return !(*this == o); }
};

inline PF_LRect aeRect(const Rect& r) {
    PF_LRect out;
    out.left = r.left;
    out.top = r.top;
    out.right = r.right;
    out.bottom = r.bottom;
    return out;
}

// Folding a coordinate that lies outside an image back into it. The mode is a
// plain int; any mode other than the three below returns the coordinate
// unchanged. Wrap and mirror need a positive size: with a size of zero or less
// they, too, return the coordinate unchanged.
namespace Border {

constexpr int Clamp = 2;  // before the start: first pixel; at or past the end: last pixel
constexpr int Wrap = 3;   // the image repeats
constexpr int Mirror = 4; // reflected about the outer edges: -1 -> 0, size -> size - 1

// Whole pixels, folded into 0..size-1.
int offset(int pos, int size, int mode);

// 16.16 positions, folded into [0, size - 1.0]. `size` is in whole pixels
// unless sizeIsFixed. Mirror reflects about -0.5 and size - 0.5; wrap and
// mirror end with a clamp to the last pixel's origin.
int offsetF(int pos, int size, int mode, bool sizeIsFixed);
void offsetF(VectorFixed& v, int width, int height, int mode, bool sizeIsFixed);
// All four values already 16.16, with the caller's own upper limits.
void offsetF(VectorFixed& v, int width, int lastX, int height, int lastY, int mode);

} // namespace Border

} // namespace Morvek

#endif // MORVEK_MORVEKGENERAL_H
