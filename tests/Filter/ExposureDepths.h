// Test support for the exposure converter: the three pixel depths as types, so
// that one case can run at every depth, and small helpers to build converters
// and pixels and to compare pixels channel by channel.
#ifndef MORVEK_TESTS_FILTER_EXPOSUREDEPTHS_H
#define MORVEK_TESTS_FILTER_EXPOSUREDEPTHS_H

#include "MorvekExposure.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <vector>

namespace exposure_test {

using Converter = Morvek::Exposure::Impl::ColorConverter;
using Parameter = Morvek::Exposure::Parameter;

// Channels in host order (alpha, red, green, blue), widened to double
// (exactly) so that gtest can print and compare them.
using Channels = std::array<double, 4>;

template <typename P> struct Depth;

template <> struct Depth<PF_Pixel> {
    static constexpr A_long bpc = 0;
    using Channel = A_u_char;
};

template <> struct Depth<PF_Pixel16> {
    static constexpr A_long bpc = 1;
    using Channel = A_u_short;
};

template <> struct Depth<PF_PixelFloat> {
    static constexpr A_long bpc = 2;
    using Channel = PF_FpShort;
};

using AllDepths = ::testing::Types<PF_Pixel, PF_Pixel16, PF_PixelFloat>;

template <typename P> Converter makeConverter(double exposure, double gamma) {
    Parameter p;
    p.bpc = Depth<P>::bpc;
    p.exposure = exposure;
    p.gamma = gamma;
    return Converter(p);
}

template <typename P, typename V> P makePixel(V a, V r, V g, V b) {
    using C = typename Depth<P>::Channel;
    P p;
    p.alpha = static_cast<C>(a);
    p.red = static_cast<C>(r);
    p.green = static_cast<C>(g);
    p.blue = static_cast<C>(b);
    return p;
}

template <typename P> Channels channels(const P& p) {
    return Channels{static_cast<double>(p.alpha), static_cast<double>(p.red), static_cast<double>(p.green),
                    static_cast<double>(p.blue)};
}

template <typename P> P convertInto(const Converter& c, const P& src) {
    P dst;
    std::memset(&dst, 0xA5, sizeof dst);
    c.convert(src, dst);
    return dst;
}

template <typename P> Channels convertChannels(const Converter& c, const P& src) {
    return channels(convertInto(c, src));
}

// Bitwise equality: float pixels may hold NaN.
template <typename P> bool sameBits(const P& a, const P& b) {
    return std::memcmp(&a, &b, sizeof(P)) == 0;
}

// Pixels spread over each depth's range, including values the host should not
// deliver (16-bit above 32768; float above 1, negative, infinite, NaN) and
// transparent pixels that overflow.
template <typename P> std::vector<P> samplePixels();

template <> inline std::vector<PF_Pixel> samplePixels<PF_Pixel>() {
    std::vector<PF_Pixel> v;
    const unsigned values[] = {0, 1, 17, 64, 127, 128, 186, 187, 200, 254, 255};
    for (unsigned a : values) {
        for (unsigned r : values) {
            for (unsigned g : {0u, 90u, 255u}) {
                v.push_back(makePixel<PF_Pixel>(a, r, g, (a + r) % 256));
            }
        }
    }
    return v;
}

template <> inline std::vector<PF_Pixel16> samplePixels<PF_Pixel16>() {
    std::vector<PF_Pixel16> v;
    const unsigned values[] = {0, 1, 255, 16384, 23912, 23913, 32767, 32768, 32769, 40000, 65535};
    for (unsigned a : values) {
        for (unsigned r : values) {
            for (unsigned g : {0u, 9000u, 32768u}) {
                v.push_back(makePixel<PF_Pixel16>(a, r, g, (a + r) % 32769));
            }
        }
    }
    return v;
}

template <> inline std::vector<PF_PixelFloat> samplePixels<PF_PixelFloat>() {
    std::vector<PF_PixelFloat> v;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[] = {0.0f, 0.125f, 0.5f, 0.73f, 1.0f, 1.5f, 4.0f, -0.25f, inf, -inf, nan};
    for (float a : values) {
        for (float r : values) {
            for (float g : {0.0f, 0.5f, 2.0f}) {
                v.push_back(makePixel<PF_PixelFloat>(a, r, g, 0.3f));
            }
        }
    }
    return v;
}

} // namespace exposure_test

#endif // MORVEK_TESTS_FILTER_EXPOSUREDEPTHS_H
