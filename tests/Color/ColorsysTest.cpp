// Colour systems: component values at each depth, the HLS / HSB / YUV
// conversions and their round trips, and Normalize.
#include "MorvekColorsys.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using Morvek::ColorFloat;
namespace Colorsys = Morvek::Colorsys;

namespace {

using CF = ColorFloat<float>;

PF_Pixel px8(int r, int g, int b) {
    return PF_Pixel{255, static_cast<A_u_char>(r), static_cast<A_u_char>(g), static_cast<A_u_char>(b)};
}

PF_Pixel16 px16(int r, int g, int b) {
    return PF_Pixel16{32768, static_cast<A_u_short>(r), static_cast<A_u_short>(g), static_cast<A_u_short>(b)};
}

void expectColour(const CF& c, float a, float r, float g, float b) {
    EXPECT_EQ(c.alpha, a);
    EXPECT_EQ(c.red, r);
    EXPECT_EQ(c.green, g);
    EXPECT_EQ(c.blue, b);
}

TEST(ColorsysComponents, GreyHasNoHueNorSaturationAtEveryDepth) {
    for (int v : {0, 1, 77, 128, 254, 255}) {
        const PF_Pixel p = px8(v, v, v);
        EXPECT_EQ(Colorsys::Saturation(p), 0);
        EXPECT_EQ(Colorsys::Lightness(p), v);
        EXPECT_EQ(Colorsys::Brightness(p), v);
    }
    for (int v : {0, 1, 16384, 32767, 32768}) {
        const PF_Pixel16 p = px16(v, v, v);
        EXPECT_EQ(Colorsys::Saturation(p), 0);
        EXPECT_EQ(Colorsys::Lightness(p), v);
        EXPECT_EQ(Colorsys::Brightness(p), v);
    }
    for (float v : {0.0f, 0.25f, 0.5f, 1.0f, 2.0f}) {
        const CF c(v, v, v);
        const PF_PixelFloat p{1.0f, v, v, v};
        EXPECT_EQ(Colorsys::Hue(c), 0.0f);
        EXPECT_EQ(Colorsys::Saturation(c), 0.0f);
        EXPECT_EQ(Colorsys::Saturation(p), 0.0f);
        EXPECT_EQ(Colorsys::Lightness(c), v);
        EXPECT_EQ(Colorsys::Lightness(p), v);
        EXPECT_EQ(Colorsys::Brightness(c), v);
        EXPECT_EQ(Colorsys::Brightness(p), v);
        const CF hls = Colorsys::RgbToHls(c);
        EXPECT_EQ(hls.red, 0.0f);
        EXPECT_EQ(hls.blue, 0.0f);
        const CF hsb = Colorsys::RgbToHsb(c);
        EXPECT_EQ(hsb.red, 0.0f);
        EXPECT_EQ(hsb.green, 0.0f);
    }
}

TEST(ColorsysComponents, BlackInHsbHasZeroSaturationNotNaN) {
    expectColour(Colorsys::RgbToHsb(CF(0.5f, 0.0f, 0.0f, 0.0f)), 0.5f, 0.0f, 0.0f, 0.0f);
}

TEST(ColorsysComponents, HueOfPrimariesAndWrappedNegativeHue) {
    EXPECT_EQ(Colorsys::Hue(CF(1.0f, 0.0f, 0.0f)), 0.0f);
    EXPECT_EQ(Colorsys::Hue(CF(0.0f, 1.0f, 0.0f)), 120.0f);
    EXPECT_EQ(Colorsys::Hue(CF(0.0f, 0.0f, 1.0f)), 240.0f);
    // raw hue (0 - 0.5) * 60 / 1 = -30, wrapped to 330
    EXPECT_EQ(Colorsys::Hue(CF(1.0f, 0.0f, 0.5f)), 330.0f);
    // yellow: red and green tie for the maximum, the red formula gives 60
    EXPECT_EQ(Colorsys::Hue(CF(1.0f, 1.0f, 0.0f)), 60.0f);
    // cyan: green and blue tie, the green formula gives 180
    EXPECT_EQ(Colorsys::Hue(CF(0.0f, 1.0f, 1.0f)), 180.0f);
}

TEST(ColorsysComponents, EightBitSaturationUsesThresholds256And512) {
    EXPECT_EQ(Colorsys::Saturation(px8(255, 0, 0)), 255);
    EXPECT_EQ(Colorsys::Saturation(px8(255, 1, 1)), 253);     // 254 * 255 / 256
    EXPECT_EQ(Colorsys::Saturation(px8(200, 100, 100)), 120); // 100 * 255 / 212
    EXPECT_EQ(Colorsys::Saturation(px8(128, 127, 127)), 1);
    EXPECT_EQ(Colorsys::Saturation(px8(100, 200, 100)), 120); // the channel order does not matter
}

TEST(ColorsysComponents, SixteenBitSaturation) {
    EXPECT_EQ(Colorsys::Saturation(px16(32768, 0, 0)), 32768);
    EXPECT_EQ(Colorsys::Saturation(px16(16384, 0, 0)), 32768);
    // (max + min) = 24576 < 32768: 8192 * 32768 / 24576
    EXPECT_EQ(Colorsys::Saturation(px16(16384, 8192, 8192)), 10922);
    // (max + min) = 40960: divisor 65536 - 40960 = 24576
    EXPECT_EQ(Colorsys::Saturation(px16(32768, 8192, 8192)), 32768);
    EXPECT_EQ(Colorsys::Saturation(px16(24576, 16384, 16384)), 10922);
}

TEST(ColorsysComponents, SixteenBitSaturationReadsChannelsAboveFullAsFull) {
    // Outside the host's range; (65535, 1, 1) would otherwise divide by 65536 - 65536.
    EXPECT_EQ(Colorsys::Saturation(px16(65535, 1, 1)), Colorsys::Saturation(px16(32768, 1, 1)));
    EXPECT_EQ(Colorsys::Saturation(px16(65535, 65535, 65535)), 0);
}

TEST(ColorsysComponents, FloatSaturationAndLightness) {
    EXPECT_EQ(Colorsys::Saturation(CF(1.0f, 0.0f, 0.0f)), 1.0f);
    // lightness 0.375: divided by max + min
    EXPECT_EQ(Colorsys::Saturation(CF(0.5f, 0.25f, 0.25f)), 0.25f / 0.75f);
    // lightness exactly 0.5 takes the (2 - max) - min divisor: 0.5 / 1.0
    EXPECT_EQ(Colorsys::Saturation(CF(0.75f, 0.25f, 0.5f)), 0.5f);
    // lightness 0.75: 0.5 / ((2 - 1) - 0.5)
    EXPECT_EQ(Colorsys::Saturation(PF_PixelFloat{1.0f, 1.0f, 0.5f, 0.75f}), 1.0f);
    EXPECT_EQ(Colorsys::Lightness(CF(1.0f, 0.0f, 0.5f)), 0.5f);
    EXPECT_EQ(Colorsys::Brightness(PF_PixelFloat{1.0f, 0.25f, 0.75f, 0.5f}), 0.75f);
}

TEST(ColorsysComponents, IntegerLightnessTruncatesAndStaysInRange) {
    EXPECT_EQ(Colorsys::Lightness(px8(255, 0, 0)), 127);
    EXPECT_EQ(Colorsys::Lightness(px8(200, 100, 51)), 125);
    EXPECT_EQ(Colorsys::Lightness(px16(32768, 0, 0)), 16384);
    EXPECT_EQ(Colorsys::Lightness(px16(32768, 32768, 1)), 16384);
    EXPECT_EQ(Colorsys::Lightness(px16(65535, 65535, 65535)), 32768);
    EXPECT_EQ(Colorsys::Brightness(px8(3, 250, 9)), 250);
    EXPECT_EQ(Colorsys::Brightness(px16(3, 9, 32000)), 32000);
}

TEST(ColorsysComponents, LuminanceTruncatesSoSomeGreysAnswerOneLess) {
    const std::set<int> oneLess = {37, 61, 74, 93, 111, 122, 148, 186, 215, 222, 233, 244, 253};
    for (int v = 0; v < 256; ++v) {
        const int expected = oneLess.count(v) != 0 ? v - 1 : v;
        EXPECT_EQ(Colorsys::Luminance(px8(v, v, v)), expected) << "grey " << v;
    }
    EXPECT_EQ(Colorsys::Luminance(px16(37, 37, 37)), 36);
    EXPECT_EQ(Colorsys::Luminance(px16(0, 0, 0)), 0);
    EXPECT_EQ(Colorsys::Luminance(px16(32768, 32768, 32768)), 32768);
    // pure primaries: the truncated weights
    EXPECT_EQ(Colorsys::Luminance(px8(255, 0, 0)), 76);  // 76.245
    EXPECT_EQ(Colorsys::Luminance(px8(0, 255, 0)), 149); // 149.685
    EXPECT_EQ(Colorsys::Luminance(px8(0, 0, 255)), 29);  // 29.07
    EXPECT_EQ(Colorsys::Luminance(CF(1.0f, 0.0f, 0.0f)), 0.299f);
    EXPECT_EQ(Colorsys::Luminance(PF_PixelFloat{1.0f, 0.0f, 0.0f, 1.0f}), 0.114f);
}

TEST(ColorsysConversions, HlsOfPrimariesAndBack) {
    expectColour(Colorsys::RgbToHls(CF(0.25f, 1.0f, 0.0f, 0.0f)), 0.25f, 0.0f, 0.5f, 1.0f);
    expectColour(Colorsys::RgbToHls(CF(0.0f, 0.0f, 1.0f)), 1.0f, 240.0f, 0.5f, 1.0f);
    // lightness 0.75 divides by (2 - max) - min = 0.5
    expectColour(Colorsys::RgbToHls(CF(1.0f, 0.5f, 0.5f)), 1.0f, 0.0f, 0.75f, 1.0f);

    expectColour(Colorsys::HlsToRgb(CF(0.25f, 0.0f, 0.5f, 1.0f)), 0.25f, 1.0f, 0.0f, 0.0f);
    expectColour(Colorsys::HlsToRgb(CF(1.0f, 120.0f, 0.5f, 1.0f)), 1.0f, 0.0f, 1.0f, 0.0f);
    // hue 240 puts red's channel angle at exactly 360, which gives m1
    expectColour(Colorsys::HlsToRgb(CF(1.0f, 240.0f, 0.5f, 1.0f)), 1.0f, 0.0f, 0.0f, 1.0f);
    // m2 = 1, m1 = 0.5: red at 120 is m2, green at 0 and blue at 240 are m1
    expectColour(Colorsys::HlsToRgb(CF(1.0f, 0.0f, 0.75f, 1.0f)), 1.0f, 1.0f, 0.5f, 0.5f);
    // hue 30: red at 150 gives m2, green at 30 halfway up, blue at 270 gives m1
    expectColour(Colorsys::HlsToRgb(CF(1.0f, 30.0f, 0.5f, 1.0f)), 1.0f, 1.0f, 0.5f, 0.0f);
    // hues outside [0, 360) wrap
    expectColour(Colorsys::HlsToRgb(CF(1.0f, 480.0f, 0.5f, 1.0f)), 1.0f, 0.0f, 1.0f, 0.0f);
    expectColour(Colorsys::HlsToRgb(CF(1.0f, -240.0f, 0.5f, 1.0f)), 1.0f, 0.0f, 1.0f, 0.0f);
}

TEST(ColorsysConversions, HlsToRgbClampsLightnessAndGreysWithoutSaturation) {
    expectColour(Colorsys::HlsToRgb(CF(1.0f, 0.0f, 1.5f, 0.5f)), 1.0f, 1.0f, 1.0f, 1.0f);
    expectColour(Colorsys::HlsToRgb(CF(1.0f, 0.0f, -0.5f, 0.5f)), 1.0f, 0.0f, 0.0f, 0.0f);
    expectColour(Colorsys::HlsToRgb(CF(0.5f, 200.0f, 0.3f, 0.0f)), 0.5f, 0.3f, 0.3f, 0.3f);
    expectColour(Colorsys::HlsToRgb(CF(0.5f, 200.0f, 0.3f, -2.0f)), 0.5f, 0.3f, 0.3f, 0.3f);
    expectColour(Colorsys::HlsToRgb(CF(0.5f, 200.0f, 7.0f, 0.0f)), 0.5f, 1.0f, 1.0f, 1.0f);
    // saturation above 1 counts as 1
    EXPECT_EQ(Colorsys::HlsToRgb(CF(1.0f, 90.0f, 0.5f, 3.0f)).red, Colorsys::HlsToRgb(CF(1.0f, 90.0f, 0.5f, 1.0f)).red);
}

TEST(ColorsysConversions, HsbOfPrimariesAndBack) {
    expectColour(Colorsys::RgbToHsb(CF(1.0f, 0.0f, 0.0f)), 1.0f, 0.0f, 1.0f, 1.0f);
    expectColour(Colorsys::RgbToHsb(CF(0.5f, 0.25f, 0.5f, 0.5f)), 0.5f, 180.0f, 0.5f, 0.5f);
    expectColour(Colorsys::HsbToRgb(CF(1.0f, 0.0f, 1.0f, 1.0f)), 1.0f, 1.0f, 0.0f, 0.0f);
    expectColour(Colorsys::HsbToRgb(CF(1.0f, 120.0f, 1.0f, 1.0f)), 1.0f, 0.0f, 1.0f, 0.0f);
    // sector 3, f = 0.5: (p, q, B) with p = 0.5, q = 0.75
    expectColour(Colorsys::HsbToRgb(CF(1.0f, 210.0f, 0.5f, 1.0f)), 1.0f, 0.5f, 0.75f, 1.0f);
    // sector 5, f = 0: (B, p, q) = (1, 0, 1): magenta
    expectColour(Colorsys::HsbToRgb(CF(1.0f, 300.0f, 1.0f, 1.0f)), 1.0f, 1.0f, 0.0f, 1.0f);
}

TEST(ColorsysConversions, HsbToRgbIgnoresHueWithoutSaturationAndBlanksNegativeHue) {
    expectColour(Colorsys::HsbToRgb(CF(0.7f, 123.0f, 0.0f, 0.4f)), 0.7f, 0.4f, 0.4f, 0.4f);
    expectColour(Colorsys::HsbToRgb(CF(0.7f, -1e9f, 0.0f, 0.4f)), 0.7f, 0.4f, 0.4f, 0.4f);
    expectColour(Colorsys::HsbToRgb(CF(0.7f, -30.0f, 1.0f, 1.0f)), 0.7f, 0.0f, 0.0f, 0.0f);
    expectColour(Colorsys::HsbToRgb(CF(0.7f, NAN, 1.0f, 1.0f)), 0.7f, 0.0f, 0.0f, 0.0f);
}

TEST(ColorsysConversions, YuvOfPrimaries) {
    expectColour(Colorsys::RgbToYuv(CF(0.5f, 1.0f, 0.0f, 0.0f)), 0.5f, 0.299f, -0.169f, 0.5f);
    expectColour(Colorsys::RgbToYuv(CF(0.0f, 0.0f, 1.0f)), 1.0f, 0.114f, 0.5f, -0.081f);
    expectColour(Colorsys::YuvToRgb(CF(1.0f, 0.5f, 0.0f, 0.0f)), 1.0f, 0.5f, 0.5f, 0.5f);
    expectColour(Colorsys::YuvToRgb(CF(1.0f, 0.0f, 1.0f, 0.0f)), 1.0f, 0.0f, -0.344f, 1.772f);
    expectColour(Colorsys::YuvToRgb(CF(1.0f, 0.0f, 0.0f, 1.0f)), 1.0f, 1.402f, -0.714f, 0.0f);
}

// Round trips over a grid of in-range colours. HLS and HSB come back to the
// nearest float ulps; YUV only to about 1e-3, its matrices being rounded.
TEST(ColorsysConversions, RoundTrips) {
    const float steps[] = {0.0f, 0.1f, 0.25f, 0.5f, 0.7f, 0.9f, 1.0f};
    for (float r : steps) {
        for (float g : steps) {
            for (float b : steps) {
                const CF c(0.5f, r, g, b);
                const CF hls = Colorsys::HlsToRgb(Colorsys::RgbToHls(c));
                const CF hsb = Colorsys::HsbToRgb(Colorsys::RgbToHsb(c));
                const CF yuv = Colorsys::YuvToRgb(Colorsys::RgbToYuv(c));
                for (const CF* back : {&hls, &hsb}) {
                    EXPECT_EQ(back->alpha, 0.5f);
                    EXPECT_NEAR(back->red, r, 2e-6f) << r << " " << g << " " << b;
                    EXPECT_NEAR(back->green, g, 2e-6f) << r << " " << g << " " << b;
                    EXPECT_NEAR(back->blue, b, 2e-6f) << r << " " << g << " " << b;
                }
                EXPECT_EQ(yuv.alpha, 0.5f);
                EXPECT_NEAR(yuv.red, r, 2e-3f);
                EXPECT_NEAR(yuv.green, g, 2e-3f);
                EXPECT_NEAR(yuv.blue, b, 2e-3f);
            }
        }
    }
}

// Every 8-bit colour on a grid survives RGB -> HLS -> RGB -> 8 bits.
TEST(ColorsysConversions, EightBitColoursSurviveHlsAndHsb) {
    const int steps[] = {0, 1, 37, 127, 128, 200, 254, 255};
    for (int r : steps) {
        for (int g : steps) {
            for (int b : steps) {
                const CF c(px8(r, g, b));
                for (const PF_Pixel& back : {Morvek::aePixel8(Colorsys::HlsToRgb(Colorsys::RgbToHls(c))),
                                             Morvek::aePixel8(Colorsys::HsbToRgb(Colorsys::RgbToHsb(c)))}) {
                    // truncation may land one below when the float comes back a hair short
                    EXPECT_NEAR(back.red, r, 1) << r << " " << g << " " << b;
                    EXPECT_NEAR(back.green, g, 1) << r << " " << g << " " << b;
                    EXPECT_NEAR(back.blue, b, 1) << r << " " << g << " " << b;
                }
            }
        }
    }
}

TEST(ColorsysNormalize, DividesEachChannelByItsSum) {
    CF a(0.1f, 1.0f, 2.0f, 0.0f);
    CF b(0.2f, 1.0f, 1.0f, 0.0f);
    CF c(0.3f, 2.0f, 1.0f, 0.0f);
    Colorsys::Normalize(a, b, c);
    expectColour(a, 0.1f, 0.25f, 0.5f, 0.0f);
    expectColour(b, 0.2f, 0.25f, 0.25f, 1.0f);
    expectColour(c, 0.3f, 0.5f, 0.25f, 0.0f);
}

TEST(ColorsysNormalize, ZeroSumBecomesZeroOneZeroPerChannel) {
    CF a(0.5f, 0.0f, 1.0f, -1.0f);
    CF b(0.5f, 0.0f, 1.0f, 0.5f);
    CF c(0.5f, 0.0f, 2.0f, 0.5f);
    Colorsys::Normalize(a, b, c);
    expectColour(a, 0.5f, 0.0f, 0.25f, 0.0f);
    expectColour(b, 0.5f, 1.0f, 0.25f, 1.0f);
    expectColour(c, 0.5f, 0.0f, 0.5f, 0.0f);
}

} // namespace
