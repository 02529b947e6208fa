// Blend modes: worked examples at every depth, each mode's blend value on
// opaque pixels (where the frame reduces to the blend value), the alpha exits,
// the clamps of the float pixel, range and agreement between the depths over
// a grid of pixels, and the lookups.
#include "MorvekBlend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

using Morvek::BlendMode;
using Morvek::ColorFloat;
namespace Blend = Morvek::Blend;

namespace {

using CF = ColorFloat<float>;

PF_Pixel p8(int a, int r, int g, int b) {
    return PF_Pixel{static_cast<A_u_char>(a), static_cast<A_u_char>(r), static_cast<A_u_char>(g),
                    static_cast<A_u_char>(b)};
}

PF_Pixel16 p16(int a, int r, int g, int b) {
    return PF_Pixel16{static_cast<A_u_short>(a), static_cast<A_u_short>(r), static_cast<A_u_short>(g),
                      static_cast<A_u_short>(b)};
}

template <typename P> bool same(const P& x, const P& y) {
    return x.alpha == y.alpha && x.red == y.red && x.green == y.green && x.blue == y.blue;
}

template <typename P>::testing::AssertionResult samePixel(const P& got, const P& want) {
    if (same(got, want)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got (" << +got.alpha << ", " << +got.red << ", " << +got.green << ", "
                                         << +got.blue << "), want (" << +want.alpha << ", " << +want.red << ", "
                                         << +want.green << ", " << +want.blue << ")";
}

constexpr BlendMode kAllModes[] = {Morvek::BLEND_NORMAL,     Morvek::BLEND_ADD,      Morvek::BLEND_MULTIPLY,
                                   Morvek::BLEND_SCREEN,     Morvek::BLEND_OVERLAY,  Morvek::BLEND_SOFTLIGHT,
                                   Morvek::BLEND_HARDLIGHT,  Morvek::BLEND_DODGE,    Morvek::BLEND_BURN,
                                   Morvek::BLEND_DARKEN,     Morvek::BLEND_LIGHTEN,  Morvek::BLEND_DIFFERENCE,
                                   Morvek::BLEND_EXCLUSION,  Morvek::BLEND_HUE,      Morvek::BLEND_SATURATION,
                                   Morvek::BLEND_LUMINOSITY, Morvek::BLEND_ALPHA_ADD};

// ---------------------------------------------------------------------------
// The worked screen example at every depth
// ---------------------------------------------------------------------------

TEST(BlendScreen, WorkedExampleAtEveryDepth) {
    // ws = wd = wb = 0.25, A = 0.75, B = 1 - 0.2 * 0.6 = 0.88
    const CF c = Blend::screen(CF(0.5f, 0.8f, 0.8f, 0.8f), CF(0.5f, 0.4f, 0.4f, 0.4f));
    EXPECT_EQ(c.alpha, 0.75f);
    EXPECT_EQ(c.red, 0.69333339f);
    EXPECT_EQ(c.green, 0.69333339f);
    EXPECT_EQ(c.blue, 0.69333339f);

    const PF_PixelFloat f = Blend::screen(PF_PixelFloat{0.5f, 0.8f, 0.8f, 0.8f}, PF_PixelFloat{0.5f, 0.4f, 0.4f, 0.4f});
    EXPECT_EQ(f.alpha, 0.75f);
    EXPECT_EQ(f.red, 0.69333339f);

    // B8 = 300 - 20000 / 255 = 222; T = (200 * 32385 + 222 * 32640) / 255 = 53816
    EXPECT_TRUE(samePixel(Blend::screen(p8(255, 200, 200, 200), p8(128, 100, 100, 100)), p8(255, 211, 211, 211)));
    EXPECT_TRUE(samePixel(Blend::screen(p8(128, 200, 200, 200), p8(128, 100, 100, 100)), p8(191, 174, 174, 174)));

    EXPECT_TRUE(samePixel(Blend::screen(p16(32768, 25700, 25700, 25700), p16(16448, 12850, 12850, 12850)),
                          p16(32768, 27091, 27091, 27091)));
}

TEST(BlendScreen, FloatPixelClampsItsInputsButColorFloatDoesNot) {
    const PF_PixelFloat src{0.5f, 0.4f, -0.5f, 0.4f};
    const PF_PixelFloat over = Blend::screen(PF_PixelFloat{0.5f, 1.5f, 0.3f, 0.8f}, src);
    const PF_PixelFloat atOne =
        Blend::screen(PF_PixelFloat{0.5f, 1.0f, 0.3f, 0.8f}, PF_PixelFloat{0.5f, 0.4f, 0.0f, 0.4f});
    EXPECT_TRUE(samePixel(over, atOne));
    // with the destination at 1, B = 1: ((0.25 + 0.25) + 0.4 * 0.25) / 0.75
    EXPECT_EQ(over.red, ((1.0f * 0.25f + 1.0f * 0.25f) + 0.4f * 0.25f) / 0.75f);

    const CF loose = Blend::screen(CF(0.5f, 1.5f, 0.3f, 0.8f), CF(0.5f, 0.4f, -0.5f, 0.4f));
    EXPECT_GT(loose.red, 1.0f);
}

// ---------------------------------------------------------------------------
// Opaque over opaque: every weight but the shared one is 0, so the result is
// the mode's blend value itself (float), min(B8, 255) at 8 bits and the
// truncated B16 at 16 bits.
// ---------------------------------------------------------------------------

struct OpaqueCase {
    const char* name;
    BlendMode mode;
    float cd, cs, want;
};

TEST(BlendOpaque, FloatBlendValues) {
    const OpaqueCase cases[] = {
        {"add", Morvek::BLEND_ADD, 0.75f, 0.5f, 1.25f},
        {"multiply", Morvek::BLEND_MULTIPLY, 0.75f, 0.5f, 0.375f},
        {"screen", Morvek::BLEND_SCREEN, 0.75f, 0.5f, 0.875f},
        {"overlay low", Morvek::BLEND_OVERLAY, 0.25f, 0.5f, 0.25f},
        {"overlay high", Morvek::BLEND_OVERLAY, 0.75f, 0.25f, 0.625f},
        {"hardlight low", Morvek::BLEND_HARDLIGHT, 0.75f, 0.25f, 0.375f},
        {"hardlight high", Morvek::BLEND_HARDLIGHT, 0.25f, 0.75f, 0.625f},
        {"softlight low", Morvek::BLEND_SOFTLIGHT, 0.25f, 0.25f, 0.125f}, // 0.25 ^ 1.5
        {"softlight mid", Morvek::BLEND_SOFTLIGHT, 0.3f, 0.5f, 0.3f},     // exponent 1
        {"softlight full", Morvek::BLEND_SOFTLIGHT, 0.25f, 1.0f, 0.5f},   // square root
        {"dodge", Morvek::BLEND_DODGE, 0.25f, 0.5f, 0.5f},
        {"burn", Morvek::BLEND_BURN, 0.75f, 0.5f, 0.5f},
        {"darken", Morvek::BLEND_DARKEN, 0.75f, 0.5f, 0.5f},
        {"lighten", Morvek::BLEND_LIGHTEN, 0.75f, 0.5f, 0.75f},
        {"difference", Morvek::BLEND_DIFFERENCE, 0.25f, 0.75f, 0.5f},
        {"exclusion", Morvek::BLEND_EXCLUSION, 0.25f, 0.5f, 0.5f},
    };
    for (const OpaqueCase& t : cases) {
        const CF c = Morvek::getBlendFunction(t.mode)(CF(t.cd, t.cd, t.cd), CF(t.cs, t.cs, t.cs));
        EXPECT_EQ(c.alpha, 1.0f) << t.name;
        EXPECT_EQ(c.red, t.want) << t.name;
        EXPECT_EQ(c.blue, t.want) << t.name;
        const PF_PixelFloat f = Morvek::getBlendFunction32(t.mode)(PF_PixelFloat{1.0f, t.cd, t.cd, t.cd},
                                                                   PF_PixelFloat{1.0f, t.cs, t.cs, t.cs});
        EXPECT_EQ(f.green, t.want) << t.name;
    }
}

TEST(BlendOpaque, FloatSubstitutesForAZeroDivisor) {
    // dodge with Cs = 1 divides by 1e-5; burn with Cs = 0 likewise
    EXPECT_EQ(Blend::dodge(CF(0.5f, 0.5f, 0.5f), CF(1.0f, 1.0f, 1.0f)).red, 0.5f / 1e-5f);
    EXPECT_EQ(Blend::burn(CF(0.75f, 0.75f, 0.75f), CF(0.0f, 0.0f, 0.0f)).red, 1.0f - 0.25f / 1e-5f);
    // the float pixel clamps those outputs to [0, 1]
    const PF_PixelFloat d = Blend::dodge(PF_PixelFloat{1.0f, 0.5f, 0.0f, 0.5f}, PF_PixelFloat{1.0f, 1.0f, 1.0f, 0.0f});
    EXPECT_TRUE(samePixel(d, PF_PixelFloat{1.0f, 1.0f, 0.0f, 0.5f}));
    const PF_PixelFloat b = Blend::burn(PF_PixelFloat{1.0f, 0.75f, 0.75f, 1.0f}, PF_PixelFloat{1.0f, 0.0f, 0.5f, 0.0f});
    EXPECT_TRUE(samePixel(b, PF_PixelFloat{1.0f, 0.0f, 0.5f, 1.0f}));
}

TEST(BlendOpaque, EightBitBlendValues) {
    struct Case {
        const char* name;
        BlendMode mode;
        int cd, cs, want;
    };
    const Case cases[] = {
        {"add saturates", Morvek::BLEND_ADD, 200, 100, 255},
        {"add", Morvek::BLEND_ADD, 20, 10, 30},
        {"multiply", Morvek::BLEND_MULTIPLY, 200, 100, 78},               // 20000 / 255
        {"screen", Morvek::BLEND_SCREEN, 200, 100, 222},                  // 300 - 78
        {"screen bright", Morvek::BLEND_SCREEN, 230, 230, 253},           // 460 - 52900 / 255
        {"overlay high", Morvek::BLEND_OVERLAY, 200, 100, 189},           // 222 * 2 - 255
        {"overlay low", Morvek::BLEND_OVERLAY, 100, 200, 156},            // 40000 / 255
        {"hardlight low", Morvek::BLEND_HARDLIGHT, 200, 100, 156},        // 40000 / 255
        {"hardlight high", Morvek::BLEND_HARDLIGHT, 100, 200, 189},       // 222 * 2 - 255
        {"dodge", Morvek::BLEND_DODGE, 100, 155, 255},                    // 25500 / 100
        {"dodge below full", Morvek::BLEND_DODGE, 50, 155, 127},          // 12750 / 100
        {"dodge full source", Morvek::BLEND_DODGE, 1, 255, 255},          // 255000
        {"dodge full source, black", Morvek::BLEND_DODGE, 0, 255, 0},     //
        {"darken", Morvek::BLEND_DARKEN, 200, 100, 100},                  //
        {"lighten", Morvek::BLEND_LIGHTEN, 200, 100, 200},                //
        {"difference", Morvek::BLEND_DIFFERENCE, 100, 200, 100},          //
        {"exclusion", Morvek::BLEND_EXCLUSION, 200, 100, 144},            // 300 - 40000 / 255
        {"softlight full source", Morvek::BLEND_SOFTLIGHT, 64, 255, 127}, // (64/255)^(128/255) * 255 = 127.40
        {"softlight black source", Morvek::BLEND_SOFTLIGHT, 128, 0, 64},  // (128/255)^1.9921875 * 255 = 64.60
        {"burn", Morvek::BLEND_BURN, 200, 100, 114},                      // 255 - 55 * 255 / 100
        {"burn black source", Morvek::BLEND_BURN, 200, 0, 0},             // 255 - 140250
        {"burn white on black", Morvek::BLEND_BURN, 255, 0, 255},         // q = 0
    };
    for (const Case& t : cases) {
        const PF_Pixel got = Morvek::getBlendFunction8(t.mode)(p8(255, t.cd, t.cd, t.cd), p8(255, t.cs, t.cs, t.cs));
        EXPECT_TRUE(samePixel(got, p8(255, t.want, t.want, t.want))) << t.name;
    }
}

TEST(BlendOpaque, SixteenBitBlendValues) {
    struct Case {
        const char* name;
        BlendMode mode;
        int cd, cs, want;
    };
    const Case cases[] = {
        {"add", Morvek::BLEND_ADD, 20000, 10000, 30000},
        {"add saturates", Morvek::BLEND_ADD, 20000, 20000, 32768},
        {"multiply", Morvek::BLEND_MULTIPLY, 20000, 10000, 6103},     // 2e8 / 32768 = 6103.52
        {"screen", Morvek::BLEND_SCREEN, 20000, 10000, 23896},        // 30000 - 6103.52
        {"overlay high", Morvek::BLEND_OVERLAY, 20000, 10000, 15024}, // 23896.48 * 2 - 32768
        {"overlay low", Morvek::BLEND_OVERLAY, 10000, 20000, 12207},  // 4e8 / 32768
        {"hardlight low", Morvek::BLEND_HARDLIGHT, 20000, 10000, 12207},
        {"hardlight high", Morvek::BLEND_HARDLIGHT, 10000, 20000, 15024},
        {"softlight low", Morvek::BLEND_SOFTLIGHT, 20000, 10000, 16499},  // (20000/32768)^(22768/16384)
        {"softlight high", Morvek::BLEND_SOFTLIGHT, 20000, 20000, 21867}, // (20000/32768)^(16384/20000)
        {"dodge", Morvek::BLEND_DODGE, 20000, 10000, 28784},              // 20000 * 32768 / 22768
        {"dodge full source", Morvek::BLEND_DODGE, 1, 32768, 32768},
        {"burn", Morvek::BLEND_BURN, 30000, 20000, 28232}, // 32768 - 2768 * 32768 / 20000
        {"burn black source", Morvek::BLEND_BURN, 30000, 0, 0},
        {"darken", Morvek::BLEND_DARKEN, 20000, 10000, 10000},
        {"lighten", Morvek::BLEND_LIGHTEN, 20000, 10000, 20000},
        {"difference", Morvek::BLEND_DIFFERENCE, 10000, 20000, 10000},
        {"exclusion", Morvek::BLEND_EXCLUSION, 20000, 10000, 17792}, // 30000 - 4e8 / 32768
        {"exclusion at full", Morvek::BLEND_EXCLUSION, 32768, 32768, 0},
    };
    for (const Case& t : cases) {
        const PF_Pixel16 got =
            Morvek::getBlendFunction16(t.mode)(p16(32768, t.cd, t.cd, t.cd), p16(32768, t.cs, t.cs, t.cs));
        EXPECT_TRUE(samePixel(got, p16(32768, t.want, t.want, t.want))) << t.name;
    }
}

// ---------------------------------------------------------------------------
// Partly transparent examples
// ---------------------------------------------------------------------------

TEST(BlendEightBit, MultiplyAndDodgeExamples) {
    // wd = 127 * 255, ws = 0, wb = 128 * 255, A = 255;
    // X = 200 * 32640 * 100 / 255 = 2560000, T = (6477000 + 2560000) / 255 = 35439
    EXPECT_TRUE(samePixel(Blend::multiply(p8(255, 200, 200, 200), p8(128, 100, 100, 100)), p8(255, 138, 138, 138)));
    // Each channel dodged by a full source with its own destination value.
    EXPECT_TRUE(samePixel(Blend::dodge(p8(255, 0, 100, 1), p8(255, 255, 255, 255)), p8(255, 0, 255, 255)));
    // Over a partly transparent destination the dodged sums exceed 32 bits
    // (255 * 255000 * 51000) and still give full; the black channel shows the
    // source only where the destination does not: 255 * 14025 / 255 / 255 = 55.
    EXPECT_TRUE(samePixel(Blend::dodge(p8(200, 255, 1, 0), p8(255, 255, 255, 255)), p8(255, 255, 255, 55)));
}

TEST(BlendEightBit, SoftLightAtSourceHalf) {
    // Cs = 128 takes e = 128 / Cs = 1, so B = Cd = 30. Destination alpha 128
    // under an opaque source: ws = 127 * 255, wd = 0, wb = 128 * 255, A = 255;
    // (128 * 32385 + 30 * 32640) / 255 / 255 = 78.81.
    EXPECT_TRUE(samePixel(Blend::softlight(p8(128, 30, 30, 30), p8(255, 128, 128, 128)), p8(255, 78, 78, 78)));
}

TEST(BlendNormal, OpaqueSourceIsReturnedUnchanged) {
    EXPECT_TRUE(samePixel(Blend::normal(p8(77, 1, 2, 3), p8(255, 9, 8, 7)), p8(255, 9, 8, 7)));
    EXPECT_TRUE(samePixel(Blend::normal(p16(77, 1, 2, 3), p16(32768, 9, 8, 7)), p16(32768, 9, 8, 7)));
    EXPECT_TRUE(samePixel(Blend::normal(PF_PixelFloat{0.3f, 1, 2, 3}, PF_PixelFloat{1.0f, 9, -8, 7}),
                          PF_PixelFloat{1.0f, 9, -8, 7}));
    EXPECT_TRUE(samePixel(Blend::normal(CF(0.3f, 1, 2, 3), CF(1.0f, 9, -8, 7)), CF(1.0f, 9, -8, 7)));
}

TEST(BlendNormal, HalfTransparentSourceOverOpaque) {
    // w = (1 - 0.5) * 1, A = 1: (0.75 * 0.5 + 0.25 * 0.5) / 1
    EXPECT_TRUE(
        samePixel(Blend::normal(CF(1.0f, 0.25f, 0.0f, 1.0f), CF(0.5f, 0.75f, 1.0f, 0.0f)), CF(1.0f, 0.5f, 0.5f, 0.5f)));
    // half over half: w = 0.25, A = 0.75, (0.75 * 0.5 + 0.25 * 0.25) / 0.75 = 0.4375 / 0.75
    const PF_PixelFloat f = Blend::normal(PF_PixelFloat{0.5f, 0.25f, 0, 0}, PF_PixelFloat{0.5f, 0.75f, 0, 0});
    EXPECT_EQ(f.alpha, 0.75f);
    EXPECT_EQ(f.red, 0.4375f / 0.75f);
    // w = 127 * 255 / 255 = 127, S = 255: (100 * 127 + 200 * 128) / 255 = 150
    EXPECT_TRUE(samePixel(Blend::normal(p8(255, 100, 0, 255), p8(128, 200, 0, 255)), p8(255, 150, 0, 255)));
    // w = 127 * 100 / 255 = 49, S = 177: (100 * 49 + 200 * 128) / 177 = 172
    EXPECT_TRUE(samePixel(Blend::normal(p8(100, 100, 0, 255), p8(128, 200, 0, 255)), p8(177, 172, 0, 255)));
    // w = 16384 * 32768 >> 15 = 16384, S = 32768: (10000 + 20000) * 16384 / 32768
    EXPECT_TRUE(samePixel(Blend::normal(p16(32768, 10000, 0, 32768), p16(16384, 20000, 0, 32768)),
                          p16(32768, 15000, 0, 32768)));
    // w = 31768 * 30000 >> 15 = 953040000 >> 15 = 29084, S = 30084:
    // (20000 * 29084 + 10000 * 1000) / 30084 = 19667
    EXPECT_TRUE(
        samePixel(Blend::normal(p16(30000, 20000, 0, 32768), p16(1000, 10000, 0, 32768)), p16(30084, 19667, 0, 32768)));
}

TEST(BlendAlphaAdd, AlphasAddUpAndSaturate) {
    const CF c = Blend::alpha_add(CF(0.5f, 0.25f, 1.0f, 0.0f), CF(0.5f, 0.75f, 1.0f, 0.5f));
    EXPECT_TRUE(samePixel(c, CF(1.0f, 0.5f, 1.0f, 0.25f)));
    // the float types clamp alpha and colour
    const PF_PixelFloat f =
        Blend::alpha_add(PF_PixelFloat{0.75f, 2.0f, -1.0f, 0.5f}, PF_PixelFloat{0.75f, 2.0f, -1.0f, 0.5f});
    EXPECT_TRUE(samePixel(f, PF_PixelFloat{1.0f, 1.0f, 0.0f, 0.5f}));
    // (100 * 200 + 50 * 200) / 400 = 75; alpha 400 capped
    EXPECT_TRUE(samePixel(Blend::alpha_add(p8(200, 50, 0, 255), p8(200, 100, 0, 255)), p8(255, 75, 0, 255)));
    // Full 16-bit products: 32768 * 32768 twice exceeds a signed 32-bit sum.
    EXPECT_TRUE(samePixel(Blend::alpha_add(p16(32768, 32768, 0, 16384), p16(32768, 32768, 0, 16384)),
                          p16(32768, 32768, 0, 16384)));
    EXPECT_TRUE(samePixel(Blend::alpha_add(p16(8192, 30000, 0, 0), p16(24576, 10000, 0, 0)),
                          p16(32768, 15000, 0, 0))); // (30000 * 8192 + 10000 * 24576) / 32768
}

// ---------------------------------------------------------------------------
// Non-separable modes
// ---------------------------------------------------------------------------

TEST(BlendNonSeparable, HueOfGreySourceIsTheDestinationsLuma) {
    // red's luma is 0.299
    EXPECT_TRUE(samePixel(Blend::hue(CF(1.0f, 0.0f, 0.0f), CF(0.5f, 0.5f, 0.5f)), CF(0.299f, 0.299f, 0.299f)));
    EXPECT_TRUE(samePixel(Blend::hue(PF_PixelFloat{1, 1, 0, 0}, PF_PixelFloat{1, 0.5f, 0.5f, 0.5f}),
                          PF_PixelFloat{1, 0.299f, 0.299f, 0.299f}));
    // 0.299 * 255 = 76.2, 0.299 * 32768 = 9797.6
    EXPECT_TRUE(samePixel(Blend::hue(p8(255, 255, 0, 0), p8(255, 77, 77, 77)), p8(255, 76, 76, 76)));
    EXPECT_TRUE(samePixel(Blend::hue(p16(32768, 32768, 0, 0), p16(32768, 5, 5, 5)), p16(32768, 9797, 9797, 9797)));
}

TEST(BlendNonSeparable, HueTakesTheSourceHue) {
    // red with green's hue: green at the same lightness and saturation
    EXPECT_TRUE(samePixel(Blend::hue(CF(1.0f, 0.0f, 0.0f), CF(0.0f, 0.5f, 0.0f)), CF(0.0f, 1.0f, 0.0f)));
    EXPECT_TRUE(samePixel(Blend::hue(p8(255, 255, 0, 0), p8(255, 0, 0, 200)), p8(255, 0, 0, 255)));
    EXPECT_TRUE(samePixel(Blend::hue(p16(32768, 32768, 0, 0), p16(32768, 0, 0, 3)), p16(32768, 0, 0, 32768)));
}

TEST(BlendNonSeparable, SaturationAndLuminosity) {
    // A grey source has saturation 0: a grey of the destination's lightness (0.5).
    EXPECT_TRUE(samePixel(Blend::saturation(CF(1.0f, 0.0f, 0.0f), CF(0.9f, 0.9f, 0.9f)), CF(0.5f, 0.5f, 0.5f)));
    EXPECT_TRUE(samePixel(Blend::saturation(p8(255, 255, 0, 0), p8(255, 9, 9, 9)), p8(255, 127, 127, 127)));
    EXPECT_TRUE(
        samePixel(Blend::saturation(p16(32768, 32768, 0, 0), p16(32768, 9, 9, 9)), p16(32768, 16384, 16384, 16384)));
    // Red at the source's lightness 0.75: m2 = 1, m1 = 0.5.
    EXPECT_TRUE(samePixel(Blend::luminosity(CF(1.0f, 0.0f, 0.0f), CF(0.75f, 0.75f, 0.75f)), CF(1.0f, 0.5f, 0.5f)));
    EXPECT_TRUE(samePixel(Blend::luminosity(PF_PixelFloat{1, 1, 0, 0}, PF_PixelFloat{1, 1, 0.5f, 0.75f}),
                          PF_PixelFloat{1, 1.0f, 0.5f, 0.5f}));
    EXPECT_TRUE(samePixel(Blend::luminosity(p16(32768, 32768, 0, 0), p16(32768, 24576, 24576, 24576)),
                          p16(32768, 32768, 16384, 16384)));
}

// ---------------------------------------------------------------------------
// Alpha exits, for every mode at every representation, reached through the
// lookups
// ---------------------------------------------------------------------------

TEST(BlendExits, TransparentDestinationGivesSourceAndTransparentSourceGivesDestination) {
    for (BlendMode m : kAllModes) {
        const auto f8 = Morvek::getBlendFunction8(m);
        EXPECT_TRUE(samePixel(f8(p8(0, 10, 20, 30), p8(77, 200, 1, 255)), p8(77, 200, 1, 255))) << m;
        EXPECT_TRUE(samePixel(f8(p8(0, 10, 20, 30), p8(0, 200, 1, 255)), p8(0, 200, 1, 255))) << m;
        EXPECT_TRUE(samePixel(f8(p8(90, 10, 20, 30), p8(0, 200, 1, 255)), p8(90, 10, 20, 30))) << m;

        const auto f16 = Morvek::getBlendFunction16(m);
        EXPECT_TRUE(samePixel(f16(p16(0, 10, 20, 30), p16(77, 32768, 1, 65535)), p16(77, 32768, 1, 65535))) << m;
        EXPECT_TRUE(samePixel(f16(p16(0, 10, 20, 30), p16(0, 32768, 1, 2)), p16(0, 32768, 1, 2))) << m;
        EXPECT_TRUE(samePixel(f16(p16(90, 10, 20, 40000), p16(0, 32768, 1, 2)), p16(90, 10, 20, 40000))) << m;

        const auto f32 = Morvek::getBlendFunction32(m);
        const PF_PixelFloat wild{0.3f, 2.5f, -1.0f, 0.5f};
        EXPECT_TRUE(samePixel(f32(PF_PixelFloat{0.0f, 1, 1, 1}, wild), wild)) << m;
        EXPECT_TRUE(samePixel(f32(PF_PixelFloat{-0.0f, 1, 1, 1}, PF_PixelFloat{0, 3, 4, 5}), PF_PixelFloat{0, 3, 4, 5}))
            << m;
        EXPECT_TRUE(samePixel(f32(wild, PF_PixelFloat{0.0f, 1, 1, 1}), wild)) << m;

        const auto fc = Morvek::getBlendFunction(m);
        EXPECT_TRUE(samePixel(fc(CF(0.0f, 1, 1, 1), CF(0.3f, 2.5f, -1, 0.5f)), CF(0.3f, 2.5f, -1, 0.5f))) << m;
        EXPECT_TRUE(samePixel(fc(CF(0.3f, 2.5f, -1, 0.5f), CF(0.0f, 1, 1, 1)), CF(0.3f, 2.5f, -1, 0.5f))) << m;
    }
}

// ---------------------------------------------------------------------------
// Grid: every pair of pixels whose channels are drawn from (0, 1, mid,
// full - 1, full). At 16 bits every result lies within 0..32768. Where both
// alphas are at least half, each integer result agrees with the float pixel
// result of the same, normalised pixels: the depths differ only by their
// truncations (and the 8-bit soft light by its exponents 128 / Cs and
// (255 - Cs) / 128), and by the stand-ins for a zero divisor, which are
// left out of the comparison.
// ---------------------------------------------------------------------------

// The whole grid: every alpha and every colour of the grid values. The
// opaque-ish subset: alphas of at least half, and 25 colours in which red and
// green take every grid value against each other and blue varies with them.
template <typename P> std::vector<P> gridPixels(int full, bool wholeGrid) {
    const int mid = full == 255 ? 128 : 16384;
    const std::vector<int> values = {0, 1, mid, full - 1, full};
    const std::vector<int> alphas = wholeGrid ? values : std::vector<int>{mid, full - 1, full};
    std::vector<P> out;
    using C = decltype(P{}.red);
    for (int a : alphas) {
        for (std::size_t r = 0; r < values.size(); ++r) {
            for (std::size_t g = 0; g < values.size(); ++g) {
                for (std::size_t b = 0; b < values.size(); ++b) {
                    if (!wholeGrid && b != (r + g) % values.size()) {
                        continue;
                    }
                    out.push_back(P{static_cast<C>(a), static_cast<C>(values[r]), static_cast<C>(values[g]),
                                    static_cast<C>(values[b])});
                }
            }
        }
    }
    return out;
}

// Largest channel difference, in integer units, that truncation can explain:
// one unit for the frame's own truncations (8 bits: its truncated alpha too),
// one more for a truncated blend value (screen, exclusion, the non-separable
// modes through their 8- or 16-bit blend colour), two more where that value is
// doubled (overlay, hard light).
float tolerance(BlendMode m, int full) {
    const bool eight = full == 255;
    switch (m) {
    case Morvek::BLEND_OVERLAY:
    case Morvek::BLEND_HARDLIGHT:
        return eight ? 3.0f : 1.0f;
    case Morvek::BLEND_HUE:
    case Morvek::BLEND_SATURATION:
    case Morvek::BLEND_LUMINOSITY:
        return 2.0f;
    case Morvek::BLEND_SCREEN:
    case Morvek::BLEND_EXCLUSION:
    case Morvek::BLEND_NORMAL:
        return eight ? 2.0f : 1.0f;
    default:
        return eight ? 1.5f : 1.0f;
    }
}

// The zero-divisor stand-ins differ by depth on purpose.
bool substituteChannel(BlendMode m, double cs) {
    return (m == Morvek::BLEND_DODGE && cs >= 1.0) || (m == Morvek::BLEND_BURN && cs <= 0.0);
}

template <typename P, typename Fn>
void checkAgainstFloat(BlendMode m, Fn fn, const P& d, const P& s, int full, bool& failed) {
    const P got = fn(d, s);
    const auto norm = [full](int v) { return static_cast<float>(v) / static_cast<float>(full); };
    const PF_PixelFloat fd{norm(d.alpha), norm(d.red), norm(d.green), norm(d.blue)};
    const PF_PixelFloat fs{norm(s.alpha), norm(s.red), norm(s.green), norm(s.blue)};
    const PF_PixelFloat want = Morvek::getBlendFunction32(m)(fd, fs);
    const auto scaled = [full](float v) { return std::min(std::max(v, 0.0f), 1.0f) * static_cast<float>(full); };
    const float tol = tolerance(m, full);
    bool ok = std::abs(got.alpha - scaled(want.alpha)) <= 1.0f;
    const int gotC[] = {got.red, got.green, got.blue};
    const float wantC[] = {want.red, want.green, want.blue};
    const float srcC[] = {fs.red, fs.green, fs.blue};
    for (int c = 0; c < 3; ++c) {
        if (substituteChannel(m, srcC[c])) {
            continue;
        }
        ok = ok && std::abs(static_cast<float>(gotC[c]) - scaled(wantC[c])) <= tol;
    }
    if (!ok && !failed) {
        failed = true;
        ADD_FAILURE() << "mode " << m << ": dst (" << +d.alpha << ", " << +d.red << ", " << +d.green << ", " << +d.blue
                      << ") src (" << +s.alpha << ", " << +s.red << ", " << +s.green << ", " << +s.blue << ") gave ("
                      << +got.alpha << ", " << +got.red << ", " << +got.green << ", " << +got.blue << "), float path ("
                      << scaled(want.alpha) << ", " << scaled(want.red) << ", " << scaled(want.green) << ", "
                      << scaled(want.blue) << ")";
    }
}

TEST(BlendGrid, SixteenBitResultsStayWithinRange) {
    const std::vector<PF_Pixel16> px = gridPixels<PF_Pixel16>(32768, true);
    for (BlendMode m : kAllModes) {
        const auto fn = Morvek::getBlendFunction16(m);
        int outside = 0;
        for (const PF_Pixel16& d : px) {
            for (const PF_Pixel16& s : px) {
                const PF_Pixel16 r = fn(d, s);
                outside += (r.alpha > 32768) + (r.red > 32768) + (r.green > 32768) + (r.blue > 32768);
            }
        }
        EXPECT_EQ(outside, 0) << "mode " << m;
    }
}

TEST(BlendGrid, FloatPixelClampsStayWithinUnitRange) {
    const auto norm = [](const PF_Pixel16& p) {
        return PF_PixelFloat{p.alpha / 32768.0f, p.red / 32768.0f, p.green / 32768.0f, p.blue / 32768.0f};
    };
    const std::vector<PF_Pixel16> px = gridPixels<PF_Pixel16>(32768, true);
    for (BlendMode m : {Morvek::BLEND_DODGE, Morvek::BLEND_BURN, Morvek::BLEND_ALPHA_ADD}) {
        const auto fn = Morvek::getBlendFunction32(m);
        int outside = 0;
        for (const PF_Pixel16& d : px) {
            for (const PF_Pixel16& s : px) {
                const PF_PixelFloat r = fn(norm(d), norm(s));
                for (float v : {r.alpha, r.red, r.green, r.blue}) {
                    outside += !(v >= 0.0f && v <= 1.0f);
                }
            }
        }
        EXPECT_EQ(outside, 0) << "mode " << m;
    }
}

TEST(BlendGrid, EightBitAgreesWithTheFloatPixel) {
    const std::vector<PF_Pixel> px = gridPixels<PF_Pixel>(255, false);
    for (BlendMode m : kAllModes) {
        const auto fn = Morvek::getBlendFunction8(m);
        bool failed = false;
        for (const PF_Pixel& d : px) {
            for (const PF_Pixel& s : px) {
                checkAgainstFloat(m, fn, d, s, 255, failed);
            }
        }
    }
}

TEST(BlendGrid, SixteenBitAgreesWithTheFloatPixel) {
    const std::vector<PF_Pixel16> px = gridPixels<PF_Pixel16>(32768, false);
    for (BlendMode m : kAllModes) {
        const auto fn = Morvek::getBlendFunction16(m);
        bool failed = false;
        for (const PF_Pixel16& d : px) {
            for (const PF_Pixel16& s : px) {
                checkAgainstFloat(m, fn, d, s, 32768, failed);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Lookups
// ---------------------------------------------------------------------------

TEST(BlendLookup, EachModeFindsItsOwnFunction) {
    using F8 = Morvek::BlendFunction8;
    const F8 expected[] = {Blend::normal,     Blend::add,        Blend::multiply,  Blend::screen, Blend::overlay,
                           Blend::softlight,  Blend::hardlight,  Blend::dodge,     Blend::burn,   Blend::darken,
                           Blend::lighten,    Blend::difference, Blend::exclusion, Blend::hue,    Blend::saturation,
                           Blend::luminosity, Blend::alpha_add};
    for (int m = 0; m <= 16; ++m) {
        const auto mode = static_cast<BlendMode>(m);
        EXPECT_EQ(Morvek::getBlendFunction8(mode), expected[m]) << m;
    }
    EXPECT_EQ(Morvek::getBlendFunction(Morvek::BLEND_BURN), static_cast<Morvek::BlendFunction>(Blend::burn));
    EXPECT_EQ(Morvek::getBlendFunction16(Morvek::BLEND_HUE), static_cast<Morvek::BlendFunction16>(Blend::hue));
    EXPECT_EQ(Morvek::getBlendFunction32(Morvek::BLEND_ALPHA_ADD),
              static_cast<Morvek::BlendFunction32>(Blend::alpha_add));
    EXPECT_EQ(Morvek::getBlendFunction(Morvek::BLEND_ADD), static_cast<Morvek::BlendFunction>(Blend::add));
}

TEST(BlendLookup, UnknownModesGiveNormal) {
    for (int m : {0, 17, -1, 1000, -1000}) {
        const auto mode = static_cast<BlendMode>(m);
        EXPECT_EQ(Morvek::getBlendFunction(mode), static_cast<Morvek::BlendFunction>(Blend::normal)) << m;
        EXPECT_EQ(Morvek::getBlendFunction8(mode), static_cast<Morvek::BlendFunction8>(Blend::normal)) << m;
        EXPECT_EQ(Morvek::getBlendFunction16(mode), static_cast<Morvek::BlendFunction16>(Blend::normal)) << m;
        EXPECT_EQ(Morvek::getBlendFunction32(mode), static_cast<Morvek::BlendFunction32>(Blend::normal)) << m;
    }
}

TEST(BlendLookup, HostTransferModes) {
    const int expected[] = {2, 4, 5, 6, 7, 8, 9, 27, 28, 10, 11, 26, 25, 13, 14, 16, 22};
    for (int m = 0; m <= 16; ++m) {
        EXPECT_EQ(Morvek::aeBlendMode(static_cast<BlendMode>(m)), expected[m]) << m;
    }
    EXPECT_EQ(Morvek::aeBlendMode(static_cast<BlendMode>(17)), 2);
    EXPECT_EQ(Morvek::aeBlendMode(static_cast<BlendMode>(-1)), 2);
}

} // namespace
