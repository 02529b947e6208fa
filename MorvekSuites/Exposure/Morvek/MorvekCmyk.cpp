// CMYK: components of host pixels, the float CMYK colour and the compact
// per-depth records. Black is the ink that all three colour inks share; the
// colour inks are what remains of each channel once black is taken out,
// rescaled to the range black leaves free.
#include "MorvekCmyk.h"

#include <algorithm>

namespace Morvek {

namespace {

// Black of an RGB triple at full value F: the smallest of F - B, F - G, F - R.
template <typename T> T blackOf(T full, T r, T g, T b) {
    return std::min(std::min(full - b, full - g), full - r);
}

// Colour ink for the channel whose inverse (full - channel) is `inverse`.
A_u_char ink8(int inverse, int k) {
    if (k == 255) {
        return 0;
    }
    return static_cast<A_u_char>((inverse - k) * 255 / (255 - k));
}

A_u_short ink16(int inverse, int k) {
    const int n = inverse - k;
    if (k == 32768) {
        return static_cast<A_u_short>(n);
    }
    return static_cast<A_u_short>(std::clamp(n * 32768 / (32768 - k), 0, 32768));
}

// At full black there is nothing to rescale: the numerator stands.
float inkFloat(float inverse, float k) {
    const float n = inverse - k;
    if (k == 1.0f) {
        return n;
    }
    return n / (1.0f - k);
}

int black8(const PF_Pixel& p) {
    return blackOf<int>(255, p.red, p.green, p.blue);
}

int black16(const PF_Pixel16& p) {
    return blackOf<int>(32768, p.red, p.green, p.blue);
}

float blackFloat(const PF_PixelFloat& p) {
    return blackOf(1.0f, p.red, p.green, p.blue);
}

} // namespace

namespace Cmyksys {

A_u_char C(const PF_Pixel& p) {
    return ink8(255 - p.red, black8(p));
}
A_u_char M(const PF_Pixel& p) {
    return ink8(255 - p.green, black8(p));
}
A_u_char Y(const PF_Pixel& p) {
    return ink8(255 - p.blue, black8(p));
}
A_u_char K(const PF_Pixel& p) {
    return static_cast<A_u_char>(black8(p));
}

A_u_short C(const PF_Pixel16& p) {
    return ink16(32768 - p.red, black16(p));
}
A_u_short M(const PF_Pixel16& p) {
    return ink16(32768 - p.green, black16(p));
}
A_u_short Y(const PF_Pixel16& p) {
    return ink16(32768 - p.blue, black16(p));
}
A_u_short K(const PF_Pixel16& p) {
    return static_cast<A_u_short>(black16(p));
}

float C(const PF_PixelFloat& p) {
    return inkFloat(1.0f - p.red, blackFloat(p));
}
float M(const PF_PixelFloat& p) {
    return inkFloat(1.0f - p.green, blackFloat(p));
}
float Y(const PF_PixelFloat& p) {
    return inkFloat(1.0f - p.blue, blackFloat(p));
}
float K(const PF_PixelFloat& p) {
    return blackFloat(p);
}

} // namespace Cmyksys

namespace {

// The float CMYK of a normalised colour, optionally laid onto black first.
Cmyk fromRgb(const ColorFloat<float>& c, bool flattenAlpha) {
    float r = c.red;
    float g = c.green;
    float b = c.blue;
    float a = c.alpha;
    if (flattenAlpha) {
        r = r * a;
        g = g * a;
        b = b * a;
        a = 1.0f;
    }
    const float k = blackOf(1.0f, r, g, b);
    // Not below 1 (full black, or NaN): no colour ink.
    if (!(1.0f > k)) {
        return Cmyk(a, 0.0f, 0.0f, 0.0f, k);
    }
    const float d = 1.0f - k;
    return Cmyk(a, (d - r) / d, (d - g) / d, (d - b) / d, k);
}

float clampInk(float v) {
    if (0.0f > v) {
        return 0.0f;
    }
    return std::min(1.0f, v);
}

} // namespace

Cmyk::Cmyk() : alpha(0.0f), cyan(0.0f), magenta(0.0f), yellow(0.0f), black(0.0f) {}
Cmyk::Cmyk(float c, float m, float y, float k) : alpha(1.0f), cyan(c), magenta(m), yellow(y), black(k) {}
Cmyk::Cmyk(float a, float c, float m, float y, float k) : alpha(a), cyan(c), magenta(m), yellow(y), black(k) {}

Cmyk::Cmyk(const ColorFloat<float>& c) : Cmyk(fromRgb(c, false)) {}
Cmyk::Cmyk(const ColorFloat<float>& c, bool flattenAlpha) : Cmyk(fromRgb(c, flattenAlpha)) {}
Cmyk::Cmyk(const PF_PixelFloat& p) : Cmyk(fromRgb(ColorFloat<float>(p), false)) {}
Cmyk::Cmyk(const PF_PixelFloat& p, bool flattenAlpha) : Cmyk(fromRgb(ColorFloat<float>(p), flattenAlpha)) {}
Cmyk::Cmyk(const PF_Pixel& p) : Cmyk(fromRgb(ColorFloat<float>(p), false)) {}
Cmyk::Cmyk(const PF_Pixel& p, bool flattenAlpha) : Cmyk(fromRgb(ColorFloat<float>(p), flattenAlpha)) {}
Cmyk::Cmyk(const PF_Pixel16& p) : Cmyk(fromRgb(ColorFloat<float>(p), false)) {}
Cmyk::Cmyk(const PF_Pixel16& p, bool flattenAlpha) : Cmyk(fromRgb(ColorFloat<float>(p), flattenAlpha)) {}

void Cmyk::clamp() {
    cyan = clampInk(cyan);
    magenta = clampInk(magenta);
    yellow = clampInk(yellow);
    black = clampInk(black);
}

ColorFloat<float> Cmyk::toRgb() const {
    const float w = 1.0f - black;
    return ColorFloat<float>(alpha, (1.0f - cyan) * w, (1.0f - magenta) * w, (1.0f - yellow) * w);
}

PF_PixelFloat aePixel32(const Cmyk& c) {
    return aePixel32(c.toRgb());
}

PF_Pixel aePixel8(const Cmyk& c) {
    return aePixel8(c.toRgb());
}

PF_Pixel16 aePixel16(const Cmyk& c) {
    return aePixel16(c.toRgb());
}

namespace {

// Integer records: RGB = (full - ink)(full - black) / full, then with
// `whiteToAlpha` the coverage (largest inverse channel) becomes alpha and each
// channel is un-composited from white: X' = full - (full - X) * full / a.
// `scale` divides a product of two channels by full (by 255, or a shift by 15).
template <typename Pixel, typename Channel, typename Scale>
Pixel inkToPixel(std::uint32_t full, Channel c, Channel m, Channel y, Channel k, bool whiteToAlpha, Scale scale) {
    std::uint32_t r = 0;
    std::uint32_t g = 0;
    std::uint32_t b = 0;
    if (k != full) {
        r = scale((full - c) * (full - k));
        g = scale((full - m) * (full - k));
        b = scale((full - y) * (full - k));
    }
    Pixel p;
    if (!whiteToAlpha) {
        p.alpha = static_cast<Channel>(full);
    } else {
        const std::uint32_t a = std::max(std::max(full - r, full - g), full - b);
        if (a == 0) {
            p.alpha = 0;
            r = g = b = full;
        } else {
            p.alpha = static_cast<Channel>(a);
            r = full - (full - r) * full / a;
            g = full - (full - g) * full / a;
            b = full - (full - b) * full / a;
        }
    }
    p.red = static_cast<Channel>(r);
    p.green = static_cast<Channel>(g);
    p.blue = static_cast<Channel>(b);
    return p;
}

} // namespace

PF_Pixel Cmyk8::toPixel(bool whiteToAlpha) const {
    return inkToPixel<PF_Pixel, A_u_char>(255, cyan, magenta, yellow, black, whiteToAlpha,
                                          [](std::uint32_t v) { return v / 255; });
}

PF_Pixel16 Cmyk16::toPixel(bool whiteToAlpha) const {
    return inkToPixel<PF_Pixel16, A_u_short>(32768, cyan, magenta, yellow, black, whiteToAlpha,
                                             [](std::uint32_t v) { return v >> 15; });
}

PF_PixelFloat Cmyk32::toPixel(bool whiteToAlpha) {
    cyan = cyan > 1.0f ? 1.0f : cyan;
    magenta = magenta > 1.0f ? 1.0f : magenta;
    yellow = yellow > 1.0f ? 1.0f : yellow;
    black = black > 1.0f ? 1.0f : black;

    const float r = (1.0f - cyan) * (1.0f - black);
    const float g = (1.0f - magenta) * (1.0f - black);
    const float b = (1.0f - yellow) * (1.0f - black);
    if (!whiteToAlpha) {
        return PF_PixelFloat{1.0f, r, g, b};
    }
    const float a = std::max(std::max(1.0f - b, 1.0f - g), 1.0f - r);
    if (a == 0.0f) {
        return PF_PixelFloat{0.0f, r, g, b};
    }
    return PF_PixelFloat{a, 1.0f - (1.0f - r) / a, 1.0f - (1.0f - g) / a, 1.0f - (1.0f - b) / a};
}

} // namespace Morvek
