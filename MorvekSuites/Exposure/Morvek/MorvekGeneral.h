// Value types shared by the whole image library: floating and integer colours
// with their conversions to and from the host's three pixel formats, and the
// geometry helpers (vectors, 16.16 fixed-point vectors, rectangles, border
// folding). Everything here is a plain value or a stateless function.
#ifndef MORVEK_MORVEKGENERAL_H
#define MORVEK_MORVEKGENERAL_H

#include "HostAPI.h"

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
    // Signed division truncating toward zero for int; for unsigned int the
    // divisor is taken as unsigned. A zero divisor is the caller's fault.
    ColorInt& operator/=(const int& s) {
        alpha = alpha / static_cast<T>(s);
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
        red = red / s;
        green = green / s;
        blue = blue / s;
    }

private:
    // Wrapping arithmetic done in unsigned, where overflow is defined.
    static T add(T a, T b) { return static_cast<T>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b)); }
    static T sub(T a, T b) { return static_cast<T>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b)); }
    static T mul(T a, T b) { return static_cast<T>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b)); }
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

} // namespace Morvek

#endif // MORVEK_MORVEKGENERAL_H
