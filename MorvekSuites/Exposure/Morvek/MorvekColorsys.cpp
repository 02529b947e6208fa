// Colour-system functions: component extraction and RGB <-> HLS / HSB / YUV.
// Every expression below is written in the order its result depends on; the
// library is built without floating-point contraction so that order holds.
#include "MorvekColorsys.h"

#include <algorithm>
#include <cmath>

namespace Morvek {
namespace Colorsys {

namespace {

template <typename T> T max3(T r, T g, T b) {
    return std::max(std::max(r, g), b);
}

template <typename T> T min3(T r, T g, T b) {
    return std::min(std::min(r, g), b);
}

// Hue of an RGB triple whose extremes are already known. Ties between red and
// green take the red formula, ties between green and blue the green one.
float hueOf(float r, float g, float b, float mx, float mn) {
    float raw;
    if (mx == mn) {
        raw = 0.0f;
    } else if (mx == r) {
        raw = (g - b) * 60.0f / (mx - mn);
    } else if (mx == g) {
        raw = (b - r) * 60.0f / (mx - mn) + 120.0f;
    } else {
        raw = (r - g) * 60.0f / (mx - mn) + 240.0f;
    }
    float h = std::fmod(raw, 360.0f);
    if (h < 0.0f) {
        h += 360.0f;
    }
    return h;
}

float saturationOf(float r, float g, float b) {
    const float mx = max3(r, g, b);
    const float mn = min3(r, g, b);
    if (mx == mn) {
        return 0.0f;
    }
    const float s = mx + mn;
    const float divisor = (0.5f > s * 0.5f) ? s : (2.0f - mx) - mn;
    return (mx - mn) / divisor;
}

float lightnessOf(float r, float g, float b) {
    return (max3(r, g, b) + min3(r, g, b)) * 0.5f;
}

float luminanceOf(float r, float g, float b) {
    return (r * 0.299f + g * 0.587f) + b * 0.114f;
}

// Channel value of HLS at channel angle x (degrees, 0..360).
float hlsValue(float m1, float m2, float x) {
    if (x < 60.0f) {
        return ((m2 - m1) * x) / 60.0f + m1;
    }
    if (x < 180.0f) {
        return m2;
    }
    if (x < 240.0f) {
        return ((m2 - m1) * (240.0f - x)) / 60.0f + m1;
    }
    return m1;
}

} // namespace

float Hue(const ColorFloat<float>& c) {
    return hueOf(c.red, c.green, c.blue, max3(c.red, c.green, c.blue), min3(c.red, c.green, c.blue));
}

float Saturation(const ColorFloat<float>& c) {
    return saturationOf(c.red, c.green, c.blue);
}

float Saturation(const PF_PixelFloat& p) {
    return saturationOf(p.red, p.green, p.blue);
}

// The integer forms divide by (max + min) below the midpoint and by
// (512 - max - min) above it, as the float form does with 1.0 as full.
A_u_char Saturation(const PF_Pixel& p) {
    const int mx = max3<int>(p.red, p.green, p.blue);
    const int mn = min3<int>(p.red, p.green, p.blue);
    if (mx == mn) {
        return 0;
    }
    const int s = mx + mn;
    const int divisor = s < 256 ? s : 512 - mx - mn;
    return static_cast<A_u_char>((mx - mn) * 255 / divisor);
}

// Channels above full (32768) lie outside the host's range; they are read as
// full so that the divisor stays positive.
A_u_short Saturation(const PF_Pixel16& p) {
    const int full = PF_MAX_CHAN16;
    const int mx = std::min(max3<int>(p.red, p.green, p.blue), full);
    const int mn = std::min(min3<int>(p.red, p.green, p.blue), full);
    if (mx == mn) {
        return 0;
    }
    const int s = mx + mn;
    const int divisor = s < 32768 ? s : 65536 - mx - mn;
    return static_cast<A_u_short>((mx - mn) * 32768 / divisor);
}

float Lightness(const ColorFloat<float>& c) {
    return lightnessOf(c.red, c.green, c.blue);
}

float Lightness(const PF_PixelFloat& p) {
    return lightnessOf(p.red, p.green, p.blue);
}

A_u_char Lightness(const PF_Pixel& p) {
    const int sum = max3<int>(p.red, p.green, p.blue) + min3<int>(p.red, p.green, p.blue);
    return static_cast<A_u_char>(sum >> 1);
}

A_u_short Lightness(const PF_Pixel16& p) {
    const int sum = max3<int>(p.red, p.green, p.blue) + min3<int>(p.red, p.green, p.blue);
    return static_cast<A_u_short>(std::min(sum >> 1, static_cast<int>(PF_MAX_CHAN16)));
}

float Brightness(const ColorFloat<float>& c) {
    return max3(c.red, c.green, c.blue);
}

float Brightness(const PF_PixelFloat& p) {
    return max3(p.red, p.green, p.blue);
}

A_u_char Brightness(const PF_Pixel& p) {
    return max3(p.red, p.green, p.blue);
}

A_u_short Brightness(const PF_Pixel16& p) {
    return max3(p.red, p.green, p.blue);
}

float Luminance(const ColorFloat<float>& c) {
    return luminanceOf(c.red, c.green, c.blue);
}

float Luminance(const PF_PixelFloat& p) {
    return luminanceOf(p.red, p.green, p.blue);
}

// Truncated, not rounded: some greys answer one below their value.
A_u_char Luminance(const PF_Pixel& p) {
    const float y = luminanceOf(static_cast<float>(p.red), static_cast<float>(p.green), static_cast<float>(p.blue));
    return static_cast<A_u_char>(static_cast<int>(y));
}

A_u_short Luminance(const PF_Pixel16& p) {
    const float y = luminanceOf(static_cast<float>(p.red), static_cast<float>(p.green), static_cast<float>(p.blue));
    return static_cast<A_u_short>(static_cast<int>(y));
}

ColorFloat<float> RgbToHls(const ColorFloat<float>& c) {
    const float mx = max3(c.red, c.green, c.blue);
    const float mn = min3(c.red, c.green, c.blue);
    const float h = hueOf(c.red, c.green, c.blue, mx, mn);
    const float l = 0.5f * (mx + mn);
    float s = 0.0f;
    if (mx != mn) {
        s = (mx - mn) / ((0.5f > l) ? (mx + mn) : (2.0f - mx) - mn);
    }
    return ColorFloat<float>(c.alpha, h, l, s);
}

ColorFloat<float> HlsToRgb(const ColorFloat<float>& hls) {
    float h = std::fmod(hls.red, 360.0f);
    if (h < 0.0f) {
        h += 360.0f;
    }
    const float l = std::min(std::max(hls.green, 0.0f), 1.0f);
    const float sat = hls.blue;
    if (sat < 0.0f || std::min(sat, 1.0f) == 0.0f) {
        return ColorFloat<float>(hls.alpha, l, l, l);
    }
    const float s = std::min(sat, 1.0f);
    const float m2 = (0.5f > l) ? (s + 1.0f) * l : (s + l) - l * s;
    const float m1 = (l + l) - m2;

    // Red sits 120 degrees ahead of green and blue 120 behind; a red angle of
    // exactly 360 is kept and lands in the last sector.
    float xr = h + 120.0f;
    if (xr > 360.0f) {
        xr -= 360.0f;
    }
    float xb = h - 120.0f;
    if (xb < 0.0f) {
        xb += 360.0f;
    }
    return ColorFloat<float>(hls.alpha, hlsValue(m1, m2, xr), hlsValue(m1, m2, h), hlsValue(m1, m2, xb));
}

ColorFloat<float> RgbToHsb(const ColorFloat<float>& c) {
    const float mx = max3(c.red, c.green, c.blue);
    const float mn = min3(c.red, c.green, c.blue);
    const float h = hueOf(c.red, c.green, c.blue, mx, mn);
    const float s = (mx == 0.0f) ? 0.0f : (mx - mn) / mx;
    return ColorFloat<float>(c.alpha, h, s, mx);
}

ColorFloat<float> HsbToRgb(const ColorFloat<float>& hsb) {
    const float h = hsb.red;
    const float s = hsb.green;
    const float v = hsb.blue;
    if (s == 0.0f) {
        return ColorFloat<float>(hsb.alpha, v, v, v);
    }
    const float x = h / 60.0f;
    const float sector = std::fmod(std::floor(x), 6.0f);
    // Outside sectors 0..5 (a negative hue, or a non-finite one, which has no
    // sector at all): black with the alpha kept.
    const float a = hsb.alpha;
    const ColorFloat<float> none(a, 0.0f, 0.0f, 0.0f);
    if (!std::isfinite(sector)) {
        return none;
    }
    const int i = static_cast<int>(sector);
    const float f = x - static_cast<float>(i);
    const float p = (1.0f - s) * v;
    const float q = (1.0f - s * f) * v;
    const float t = (1.0f - (1.0f - f) * s) * v;
    switch (i) {
    case 0:
        return ColorFloat<float>(a, v, t, p);
    case 1:
        return ColorFloat<float>(a, q, v, p);
    case 2:
        return ColorFloat<float>(a, p, v, t);
    case 3:
        return ColorFloat<float>(a, p, q, v);
    case 4:
        return ColorFloat<float>(a, t, p, v);
    case 5:
        return ColorFloat<float>(a, v, p, q);
    default:
        return none;
    }
}

ColorFloat<float> RgbToYuv(const ColorFloat<float>& c) {
    const float y = (0.299f * c.red + 0.587f * c.green) + 0.114f * c.blue;
    const float u = (-0.169f * c.red + -0.331f * c.green) + 0.5f * c.blue;
    const float v = (0.5f * c.red + -0.419f * c.green) + -0.081f * c.blue;
    return ColorFloat<float>(c.alpha, y, u, v);
}

ColorFloat<float> YuvToRgb(const ColorFloat<float>& yuv) {
    const float y = yuv.red;
    const float u = yuv.green;
    const float v = yuv.blue;
    const float r = 1.402f * v + y;
    const float g = (-0.344f * u + y) + -0.714f * v;
    const float b = 1.772f * u + y;
    return ColorFloat<float>(yuv.alpha, r, g, b);
}

namespace {

void normalizeChannel(float& a, float& b, float& c) {
    const float sum = (a + b) + c;
    if (sum != 0.0f) {
        a = a / sum;
        b = b / sum;
        c = c / sum;
    } else {
        a = 0.0f;
        b = 1.0f;
        c = 0.0f;
    }
}

} // namespace

void Normalize(ColorFloat<float>& a, ColorFloat<float>& b, ColorFloat<float>& c) {
    normalizeChannel(a.red, b.red, c.red);
    normalizeChannel(a.green, b.green, c.green);
    normalizeChannel(a.blue, b.blue, c.blue);
}

} // namespace Colorsys
} // namespace Morvek
