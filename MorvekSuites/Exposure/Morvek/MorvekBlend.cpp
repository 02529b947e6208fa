// Blend modes. The compositing frames (how the two alphas weigh destination,
// source and blended colour) are shared templates, one per representation;
// each mode only states its blend value per representation. `normal` and
// `alpha_add` have frames of their own, and the three non-separable modes build
// one blend colour from the whole pixels through the HLS conversions.
//
// The integer and float formulas below are bit-exact: their order and
// association matter and must not be rearranged.
#include "MorvekBlend.h"

#include "MorvekColorsys.h"
#include "MorvekPow.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace Morvek {

namespace {

constexpr float kInv32768 = 3.0517578125e-05f; // 2^-15, exact
constexpr float kInv16384 = 6.103515625e-05f;  // 2^-14, exact
constexpr std::uint32_t kFull8 = PF_MAX_CHAN8;
constexpr std::uint32_t kFull16 = PF_MAX_CHAN16;

// The colour channels of any of the four pixel types, by index: 0 red,
// 1 green, 2 blue.
template <typename P> auto& channel(P& p, int c) {
    return c == 0 ? p.red : (c == 1 ? p.green : p.blue);
}

// Destination fully transparent: the source as it is; source fully
// transparent: the destination as it is. True when one of them applies.
template <typename P> bool commonExit(const P& dst, const P& src, P& out) {
    if (dst.alpha == 0) {
        out = src;
        return true;
    }
    if (src.alpha == 0) {
        out = dst;
        return true;
    }
    return false;
}

float clamp01(float v) {
    if (v > 1.0f) {
        return 1.0f;
    }
    if (v < 0.0f) {
        return 0.0f;
    }
    return v;
}

// Colour channels limited to [0, 1]; alpha unchanged.
PF_PixelFloat clampColour(const PF_PixelFloat& p) {
    return PF_PixelFloat{p.alpha, clamp01(p.red), clamp01(p.green), clamp01(p.blue)};
}

// Float result to an integer channel: negative (and NaN) gives 0, above full
// gives full, otherwise truncated toward zero.
template <typename Out> Out toChannel(float v, float full) {
    if (!(v >= 0.0f)) {
        return 0;
    }
    if (v > full) {
        return static_cast<Out>(full);
    }
    return static_cast<Out>(v);
}

// ---------------------------------------------------------------------------
// Frames. `value(c, Cd, Cs)` (or `term(c, Cd, Cs, wb)`) gives the mode's blend
// value for colour channel c.
// ---------------------------------------------------------------------------

// ColorFloat<float> and PF_PixelFloat. The weights split the result into the
// area where only the source shows, only the destination, and both.
template <typename P, typename Value> P floatFrame(const P& dst, const P& src, Value value) {
    const float ad = dst.alpha;
    const float as = src.alpha;
    const float ws = (1.0f - ad) * as;
    const float wd = (1.0f - as) * ad;
    const float wb = ad * as;
    const float a = ad + ws;
    P out = dst;
    out.alpha = a;
    for (int c = 0; c < 3; ++c) {
        const float cd = channel(dst, c);
        const float cs = channel(src, c);
        channel(out, c) = ((cd * wd + value(c, cd, cs) * wb) + cs * ws) / a;
    }
    return out;
}

// PF_Pixel in integer arithmetic. The weights are on the scale 255 * 255; the
// blended term is formed in 64 bits because dodge can exceed 32 bits.
template <typename Term> PF_Pixel intFrame8(const PF_Pixel& dst, const PF_Pixel& src, Term term) {
    const std::uint32_t ad = dst.alpha;
    const std::uint32_t as = src.alpha;
    const std::uint32_t wd = (kFull8 - as) * ad;
    const std::uint32_t ws = (kFull8 - ad) * as;
    const std::uint32_t wb = as * ad;
    const std::uint32_t a = ws / kFull8 + ad;
    PF_Pixel out;
    out.alpha = static_cast<A_u_char>(std::min(a, kFull8));
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t cd = channel(dst, c);
        const std::uint32_t cs = channel(src, c);
        const std::uint64_t t = (std::uint64_t{cs} * ws + std::uint64_t{cd} * wd + term(c, cd, cs, wb)) / a;
        channel(out, c) = static_cast<A_u_char>(t >= 65280 ? kFull8 : t / kFull8);
    }
    return out;
}

// PF_Pixel in single precision, for the modes whose blend value needs it.
template <typename Value> PF_Pixel floatFrame8(const PF_Pixel& dst, const PF_Pixel& src, Value value) {
    const float ad = dst.alpha;
    const float as = src.alpha;
    const float ws = (255.0f - ad) * as;
    const float wd = ad * (255.0f - as);
    const float wb = ad * as;
    const float a = ws / 255.0f + ad;
    PF_Pixel out;
    out.alpha = toChannel<A_u_char>(a, 255.0f);
    for (int c = 0; c < 3; ++c) {
        const float cd = channel(dst, c);
        const float cs = channel(src, c);
        const float v = ((cs * ws + (cd * wd + value(c, cd, cs) * wb)) / a) / 255.0f;
        channel(out, c) = toChannel<A_u_char>(v, 255.0f);
    }
    return out;
}

// PF_Pixel16 in single precision; the weights are on the scale 32768 * 32768.
template <typename Value> PF_Pixel16 frame16(const PF_Pixel16& dst, const PF_Pixel16& src, Value value) {
    const float ad = dst.alpha;
    const float as = src.alpha;
    const float ws = (32768.0f - ad) * as;
    const float a = ws * kInv32768 + ad;
    const float wb = ad * as;
    const float wd = ad * (32768.0f - as);
    PF_Pixel16 out;
    out.alpha = toChannel<A_u_short>(a, 32768.0f);
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t cd = channel(dst, c);
        const std::uint32_t cs = channel(src, c);
        const float y = value(c, cd, cs) * wb;
        const float v = ((static_cast<float>(cs) * ws + (static_cast<float>(cd) * wd + y)) / a) * kInv32768;
        channel(out, c) = toChannel<A_u_short>(v, 32768.0f);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Separable modes: blend(Cd, Cs) for the float types, term8(Cd, Cs, wb) for
// the 8-bit integer frame (or blend8 for the 8-bit float frame), blend16 for
// 16 bits. PF_PixelFloat may clamp the inputs or the outputs.
// ---------------------------------------------------------------------------

enum class Clamp32 { None, Inputs, Outputs };

struct SeparableDefaults {
    static constexpr Clamp32 kClamp32 = Clamp32::None;
    static constexpr bool kFloatFrame8 = false;
};

using u32 = std::uint32_t;
using u64 = std::uint64_t;

// An exact integer rounded once to single precision.
float flt(u64 v) {
    return static_cast<float>(v);
}

struct Add : SeparableDefaults {
    static float blend(float d, float s) { return d + s; }
    // up to 510: not clamped before the frame
    static u64 term8(u32 d, u32 s, u64 wb) { return (d + s) * wb; }
    static float blend16(u32 d, u32 s) { return flt(s + d); }
};

struct Multiply : SeparableDefaults {
    static float blend(float d, float s) { return d * s; }
    static u64 term8(u32 d, u32 s, u64 wb) { return (d * wb * s) / kFull8; }
    static float blend16(u32 d, u32 s) { return flt(s * d) * kInv32768; }
};

struct Screen : SeparableDefaults {
    static constexpr Clamp32 kClamp32 = Clamp32::Inputs;
    static float blend(float d, float s) { return 1.0f - (1.0f - d) * (1.0f - s); }
    static u64 term8(u32 d, u32 s, u64 wb) { return (s + d - (s * d) / kFull8) * wb; }
    static float blend16(u32 d, u32 s) { return flt(s + d) - flt(s * d) * kInv32768; }
};

// Overlay and hard light: a doubled multiply in the lower half of the tested
// channel, an inverted doubled screen in the upper half.
float overlayFloat(bool screenHalf, float d, float s) {
    if (!screenHalf) {
        const float p = d * s;
        return p + p;
    }
    return ((1.0f - d) * -2.0f) * (1.0f - s) + 1.0f;
}

float overlay16(bool screenHalf, u32 d, u32 s) {
    if (screenHalf) {
        const float u = flt(s + d) - flt(s * d) * kInv32768;
        return (u + u) - 32768.0f;
    }
    const float u = flt(s * d);
    return (u + u) * kInv32768;
}

struct Overlay : SeparableDefaults {
    static constexpr Clamp32 kClamp32 = Clamp32::Inputs;
    static float blend(float d, float s) { return overlayFloat(!(0.5f > d), d, s); }
    static u64 term8(u32 d, u32 s, u64 wb) {
        const u32 b = d >= 128 ? (s + d - (s * d) / kFull8) * 2 - kFull8 : (d * s * 2) / kFull8;
        return b * wb;
    }
    static float blend16(u32 d, u32 s) { return overlay16(d >= 16384, d, s); }
};

struct Hardlight : SeparableDefaults {
    static constexpr Clamp32 kClamp32 = Clamp32::Inputs;
    static float blend(float d, float s) { return overlayFloat(!(0.5f > s), d, s); }
    static u64 term8(u32 d, u32 s, u64 wb) {
        const u32 b = s >= 128 ? (d + s - (d * s) / kFull8) * 2 - kFull8 : (s * d * 2) / kFull8;
        return b * wb;
    }
    static float blend16(u32 d, u32 s) { return overlay16(s >= 16384, d, s); }
};

// powFloat is the correctly rounded single-precision power: the same bits on
// every platform, where the C library's powf may differ in the last place.
struct Softlight : SeparableDefaults {
    static constexpr bool kFloatFrame8 = true;
    static float blend(float d, float s) {
        const float e = 0.5f > s ? (1.0f - s) + (1.0f - s) : 1.0f / (s + s);
        return powFloat(d, e);
    }
    static float blend8(float d, float s) {
        const float e = s >= 128.0f ? 128.0f / s : (255.0f - s) * 0.0078125f;
        return powFloat(d / 255.0f, e) * 255.0f;
    }
    static float blend16(u32 d, u32 s) {
        const float e = s >= 16384 ? 16384.0f / flt(s) : (32768.0f - flt(s)) * kInv16384;
        return powFloat(flt(d) * kInv32768, e) * 32768.0f;
    }
};

// A full source would divide by zero; a tiny divisor (or a large factor)
// stands in for it.
struct Dodge : SeparableDefaults {
    static constexpr Clamp32 kClamp32 = Clamp32::Outputs;
    static float blend(float d, float s) { return 1.0f > s ? d / (1.0f - s) : d / 1e-5f; }
    static u64 term8(u32 d, u32 s, u64 wb) {
        const u64 b = s < kFull8 ? (d * 255) / (kFull8 - s) : u64{d} * 255000;
        return b * wb;
    }
    static float blend16(u32 d, u32 s) {
        return s < kFull16 ? (flt(d) * 32768.0f) / (32768.0f - flt(s)) : (flt(d) * 32768.0f) * 1000.0f;
    }
};

struct Burn : SeparableDefaults {
    static constexpr Clamp32 kClamp32 = Clamp32::Outputs;
    static constexpr bool kFloatFrame8 = true;
    static float blend(float d, float s) { return 1.0f - (1.0f - d) / (s > 0.0f ? s : 1e-5f); }
    static float blend8(float d, float s) {
        float q = (255.0f - d) * 255.0f;
        q = s != 0.0f ? q / s : q * 10.0f;
        return 255.0f - q;
    }
    static float blend16(u32 d, u32 s) {
        float q = (32768.0f - flt(d)) * 32768.0f;
        q = s != 0 ? q / flt(s) : q * 10.0f;
        return 32768.0f - q;
    }
};

struct Darken : SeparableDefaults {
    static float blend(float d, float s) { return std::min(d, s); }
    static u64 term8(u32 d, u32 s, u64 wb) { return std::min(d, s) * wb; }
    static float blend16(u32 d, u32 s) { return flt(std::min(d, s)); }
};

struct Lighten : SeparableDefaults {
    static float blend(float d, float s) { return std::max(d, s); }
    static u64 term8(u32 d, u32 s, u64 wb) { return std::max(d, s) * wb; }
    static float blend16(u32 d, u32 s) { return flt(std::max(d, s)); }
};

struct Difference : SeparableDefaults {
    static float blend(float d, float s) { return std::fabs(d - s); }
    static u64 term8(u32 d, u32 s, u64 wb) { return (d > s ? d - s : s - d) * wb; }
    static float blend16(u32 d, u32 s) { return flt(d > s ? d - s : s - d); }
};

struct Exclusion : SeparableDefaults {
    static constexpr Clamp32 kClamp32 = Clamp32::Inputs;
    static float blend(float d, float s) { return (1.0f - s) * d + (1.0f - d) * s; }
    static u64 term8(u32 d, u32 s, u64 wb) { return (s + d - (d * s * 2) / kFull8) * wb; }
    // 2 * Cd * Cs reaches 2^31 at full: formed in 64 bits
    static float blend16(u32 d, u32 s) { return flt(u64{s} + d) - flt(2 * u64{d} * s) * kInv32768; }
};

template <typename Mode> struct Separable {
    static ColorFloat<float> run(const ColorFloat<float>& dst, const ColorFloat<float>& src) {
        ColorFloat<float> out;
        if (commonExit(dst, src, out)) {
            return out;
        }
        return floatFrame(dst, src, [](int, float d, float s) { return Mode::blend(d, s); });
    }

    static PF_PixelFloat run(const PF_PixelFloat& dst, const PF_PixelFloat& src) {
        PF_PixelFloat out;
        if (commonExit(dst, src, out)) {
            return out;
        }
        const auto value = [](int, float d, float s) { return Mode::blend(d, s); };
        if constexpr (Mode::kClamp32 == Clamp32::Inputs) {
            return floatFrame(clampColour(dst), clampColour(src), value);
        } else if constexpr (Mode::kClamp32 == Clamp32::Outputs) {
            return clampColour(floatFrame(dst, src, value));
        } else {
            return floatFrame(dst, src, value);
        }
    }

    static PF_Pixel run(const PF_Pixel& dst, const PF_Pixel& src) {
        PF_Pixel out;
        if (commonExit(dst, src, out)) {
            return out;
        }
        if constexpr (Mode::kFloatFrame8) {
            return floatFrame8(dst, src, [](int, float d, float s) { return Mode::blend8(d, s); });
        } else {
            return intFrame8(dst, src, [](int, u32 d, u32 s, u64 wb) { return Mode::term8(d, s, wb); });
        }
    }

    static PF_Pixel16 run(const PF_Pixel16& dst, const PF_Pixel16& src) {
        PF_Pixel16 out;
        if (commonExit(dst, src, out)) {
            return out;
        }
        return frame16(dst, src, [](int, u32 d, u32 s) { return Mode::blend16(d, s); });
    }
};

// ---------------------------------------------------------------------------
// Non-separable modes: one component of the source's HLS replaces the
// destination's. `hue` with a grey source (which has no hue) gives a grey of
// the destination's luma instead.
// ---------------------------------------------------------------------------

struct HueMode {
    static constexpr bool kGreySourceTakesLuma = true;
    static void take(ColorFloat<float>& dstHls, const ColorFloat<float>& srcHls) { dstHls.red = srcHls.red; }
};

struct SaturationMode {
    static constexpr bool kGreySourceTakesLuma = false;
    static void take(ColorFloat<float>& dstHls, const ColorFloat<float>& srcHls) { dstHls.blue = srcHls.blue; }
};

struct LuminosityMode {
    static constexpr bool kGreySourceTakesLuma = false;
    static void take(ColorFloat<float>& dstHls, const ColorFloat<float>& srcHls) { dstHls.green = srcHls.green; }
};

template <typename P> bool isGrey(const P& p) {
    return p.red == p.green && p.green == p.blue;
}

float lumaOf(const ColorFloat<float>& c) {
    return Colorsys::RgbToYuv(c).red;
}

template <typename Mode> struct NonSeparable {
    template <typename P> static bool greyCase(const P& src) { return Mode::kGreySourceTakesLuma && isGrey(src); }

    static ColorFloat<float> blendColour(const ColorFloat<float>& dst, const ColorFloat<float>& src) {
        ColorFloat<float> hls = Colorsys::RgbToHls(dst);
        Mode::take(hls, Colorsys::RgbToHls(src));
        return Colorsys::HlsToRgb(hls);
    }

    // The blend colour for the float types.
    static ColorFloat<float> blendFloat(const ColorFloat<float>& dst, const ColorFloat<float>& src, bool grey) {
        if (grey) {
            const float y = lumaOf(dst);
            return ColorFloat<float>(y, y, y);
        }
        return blendColour(dst, src);
    }

    static ColorFloat<float> run(const ColorFloat<float>& dst, const ColorFloat<float>& src) {
        ColorFloat<float> out;
        if (commonExit(dst, src, out)) {
            return out;
        }
        const ColorFloat<float> b = blendFloat(dst, src, greyCase(src));
        return floatFrame(dst, src, [&b](int c, float, float) { return channel(b, c); });
    }

    static PF_PixelFloat run(const PF_PixelFloat& dst, const PF_PixelFloat& src) {
        PF_PixelFloat out;
        if (commonExit(dst, src, out)) {
            return out;
        }
        const PF_PixelFloat b = aePixel32(blendFloat(ColorFloat<float>(dst), ColorFloat<float>(src), greyCase(src)));
        return floatFrame(dst, src, [&b](int c, float, float) { return channel(b, c); });
    }

    static PF_Pixel run(const PF_Pixel& dst, const PF_Pixel& src) {
        PF_Pixel out;
        if (commonExit(dst, src, out)) {
            return out;
        }
        const ColorFloat<float> d(dst);
        std::array<u32, 3> b;
        if (greyCase(src)) {
            const auto y = static_cast<u32>(lumaOf(d) * 255.0f);
            b = {y, y, y};
        } else {
            const PF_Pixel p = aePixel8(blendColour(d, ColorFloat<float>(src)));
            b = {p.red, p.green, p.blue};
        }
        return intFrame8(dst, src, [&b](int c, u32, u32, u64 wb) { return b[c] * wb; });
    }

    static PF_Pixel16 run(const PF_Pixel16& dst, const PF_Pixel16& src) {
        PF_Pixel16 out;
        if (commonExit(dst, src, out)) {
            return out;
        }
        const ColorFloat<float> d(dst);
        std::array<float, 3> b;
        if (greyCase(src)) {
            const float y = std::trunc(lumaOf(d) * 32768.0f);
            b = {y, y, y};
        } else {
            const PF_Pixel16 p = aePixel16(blendColour(d, ColorFloat<float>(src)));
            b = {flt(p.red), flt(p.green), flt(p.blue)};
        }
        return frame16(dst, src, [&b](int c, u32, u32) { return b[c]; });
    }
};

// ---------------------------------------------------------------------------
// normal: the source over the destination, with an exit for an opaque source.
// ---------------------------------------------------------------------------

struct Normal {
    template <typename P> static P runFloat(const P& dst, const P& src) {
        if (dst.alpha == 0.0f || src.alpha == 1.0f) {
            return src;
        }
        if (src.alpha == 0.0f) {
            return dst;
        }
        const float as = src.alpha;
        const float w = (1.0f - as) * dst.alpha;
        const float a = as + w;
        P out = dst;
        out.alpha = a;
        for (int c = 0; c < 3; ++c) {
            channel(out, c) = (channel(src, c) * as + channel(dst, c) * w) / a;
        }
        return out;
    }

    static ColorFloat<float> run(const ColorFloat<float>& dst, const ColorFloat<float>& src) {
        return runFloat(dst, src);
    }
    static PF_PixelFloat run(const PF_PixelFloat& dst, const PF_PixelFloat& src) { return runFloat(dst, src); }

    static PF_Pixel run(const PF_Pixel& dst, const PF_Pixel& src) {
        if (dst.alpha == 0 || src.alpha == kFull8) {
            return src;
        }
        if (src.alpha == 0) {
            return dst;
        }
        const u32 as = src.alpha;
        const u32 w = ((kFull8 - as) * dst.alpha) / kFull8;
        const u32 sum = as + w;
        PF_Pixel out;
        out.alpha = static_cast<A_u_char>(std::min(sum, kFull8));
        for (int c = 0; c < 3; ++c) {
            const u32 v = (u32{channel(dst, c)} * w + u32{channel(src, c)} * as) / sum;
            channel(out, c) = static_cast<A_u_char>(std::min(v, kFull8));
        }
        return out;
    }

    // Signed 64-bit so that alphas above full (outside the host's range)
    // cannot wrap; the sum stays at least 1 for any 16-bit alphas.
    static PF_Pixel16 run(const PF_Pixel16& dst, const PF_Pixel16& src) {
        if (dst.alpha == 0 || src.alpha == kFull16) {
            return src;
        }
        if (src.alpha == 0) {
            return dst;
        }
        const std::int64_t full = kFull16;
        const std::int64_t as = src.alpha;
        const std::int64_t w = ((full - as) * dst.alpha) >> 15;
        const std::int64_t sum = w + as;
        PF_Pixel16 out;
        out.alpha = static_cast<A_u_short>(std::clamp<std::int64_t>(sum, 0, full));
        for (int c = 0; c < 3; ++c) {
            const std::int64_t v = (channel(dst, c) * w + channel(src, c) * as) / sum;
            channel(out, c) = static_cast<A_u_short>(std::clamp<std::int64_t>(v, 0, full));
        }
        return out;
    }
};

// ---------------------------------------------------------------------------
// alpha_add: the alphas add up; colours are weighted by their own alpha.
// ---------------------------------------------------------------------------

struct AlphaAdd {
    template <typename P> static P runFloat(const P& dst, const P& src) {
        P out;
        if (commonExit(dst, src, out)) {
            return out;
        }
        const float a = dst.alpha + src.alpha;
        out.alpha = clamp01(a);
        for (int c = 0; c < 3; ++c) {
            channel(out, c) = clamp01((channel(dst, c) * dst.alpha + channel(src, c) * src.alpha) / a);
        }
        return out;
    }

    // 64-bit sums: at 16 bits two full products already reach 2^31.
    template <typename P> static P runInt(const P& dst, const P& src, u64 full) {
        P out;
        if (commonExit(dst, src, out)) {
            return out;
        }
        const u64 sum = u64{src.alpha} + dst.alpha;
        out.alpha = static_cast<decltype(out.alpha)>(std::min(sum, full));
        for (int c = 0; c < 3; ++c) {
            const u64 v = (u64{channel(src, c)} * src.alpha + u64{channel(dst, c)} * dst.alpha) / sum;
            channel(out, c) = static_cast<decltype(out.alpha)>(std::min(v, full));
        }
        return out;
    }

    static ColorFloat<float> run(const ColorFloat<float>& dst, const ColorFloat<float>& src) {
        return runFloat(dst, src);
    }
    static PF_PixelFloat run(const PF_PixelFloat& dst, const PF_PixelFloat& src) { return runFloat(dst, src); }
    static PF_Pixel run(const PF_Pixel& dst, const PF_Pixel& src) { return runInt(dst, src, kFull8); }
    static PF_Pixel16 run(const PF_Pixel16& dst, const PF_Pixel16& src) { return runInt(dst, src, kFull16); }
};

} // namespace

// The four overloads of each mode forward to the mode's compositor.
#define MORVEK_BLEND_OVERLOADS(name, Compositor)                                                                       \
    ColorFloat<float> name(const ColorFloat<float>& dst, const ColorFloat<float>& src) {                               \
        return Compositor::run(dst, src);                                                                              \
    }                                                                                                                  \
    PF_Pixel name(const PF_Pixel& dst, const PF_Pixel& src) {                                                          \
        return Compositor::run(dst, src);                                                                              \
    }                                                                                                                  \
    PF_Pixel16 name(const PF_Pixel16& dst, const PF_Pixel16& src) {                                                    \
        return Compositor::run(dst, src);                                                                              \
    }                                                                                                                  \
    PF_PixelFloat name(const PF_PixelFloat& dst, const PF_PixelFloat& src) {                                           \
        return Compositor::run(dst, src);                                                                              \
    }

namespace Blend {

MORVEK_BLEND_OVERLOADS(normal, Normal)
MORVEK_BLEND_OVERLOADS(add, Separable<Add>)
MORVEK_BLEND_OVERLOADS(multiply, Separable<Multiply>)
MORVEK_BLEND_OVERLOADS(screen, Separable<Screen>)
MORVEK_BLEND_OVERLOADS(overlay, Separable<Overlay>)
MORVEK_BLEND_OVERLOADS(softlight, Separable<Softlight>)
MORVEK_BLEND_OVERLOADS(hardlight, Separable<Hardlight>)
MORVEK_BLEND_OVERLOADS(dodge, Separable<Dodge>)
MORVEK_BLEND_OVERLOADS(burn, Separable<Burn>)
MORVEK_BLEND_OVERLOADS(darken, Separable<Darken>)
MORVEK_BLEND_OVERLOADS(lighten, Separable<Lighten>)
MORVEK_BLEND_OVERLOADS(difference, Separable<Difference>)
MORVEK_BLEND_OVERLOADS(exclusion, Separable<Exclusion>)
MORVEK_BLEND_OVERLOADS(hue, NonSeparable<HueMode>)
MORVEK_BLEND_OVERLOADS(saturation, NonSeparable<SaturationMode>)
MORVEK_BLEND_OVERLOADS(luminosity, NonSeparable<LuminosityMode>)
MORVEK_BLEND_OVERLOADS(alpha_add, AlphaAdd)

} // namespace Blend

#undef MORVEK_BLEND_OVERLOADS

namespace {

template <typename P> using Fn = P (*)(const P&, const P&);

// Modes BLEND_ADD..BLEND_ALPHA_ADD by table, everything else `normal`.
template <typename P> Fn<P> lookup(BlendMode mode) {
    static constexpr Fn<P> table[] = {&Blend::add,       &Blend::multiply,   &Blend::screen,     &Blend::overlay,
                                      &Blend::softlight, &Blend::hardlight,  &Blend::dodge,      &Blend::burn,
                                      &Blend::darken,    &Blend::lighten,    &Blend::difference, &Blend::exclusion,
                                      &Blend::hue,       &Blend::saturation, &Blend::luminosity, &Blend::alpha_add};
    static_assert(sizeof(table) / sizeof(table[0]) == BLEND_ALPHA_ADD, "one entry per mode after normal");
    if (mode < BLEND_ADD || mode > BLEND_ALPHA_ADD) {
        return &Blend::normal;
    }
    return table[mode - BLEND_ADD];
}

} // namespace

BlendFunction getBlendFunction(BlendMode mode) {
    return lookup<ColorFloat<float>>(mode);
}

BlendFunction8 getBlendFunction8(BlendMode mode) {
    return lookup<PF_Pixel>(mode);
}

BlendFunction16 getBlendFunction16(BlendMode mode) {
    return lookup<PF_Pixel16>(mode);
}

BlendFunction32 getBlendFunction32(BlendMode mode) {
    return lookup<PF_PixelFloat>(mode);
}

int aeBlendMode(BlendMode mode) {
    // Host transfer modes: in front, add, multiply, screen, overlay, soft
    // light, hard light, colour dodge, colour burn, darken, lighten,
    // difference, exclusion, hue, saturation, luminosity, alpha add.
    static constexpr int codes[] = {2, 4, 5, 6, 7, 8, 9, 27, 28, 10, 11, 26, 25, 13, 14, 16, 22};
    static_assert(sizeof(codes) / sizeof(codes[0]) == BLEND_ALPHA_ADD + 1, "one code per mode");
    if (mode < BLEND_NORMAL || mode > BLEND_ALPHA_ADD) {
        return codes[BLEND_NORMAL];
    }
    return codes[mode];
}

} // namespace Morvek
