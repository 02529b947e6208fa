// CMYK: components of host pixels at each depth, the float CMYK colour and its
// constructors, and the compact records with and without white-to-alpha.
#include "MorvekCmyk.h"

#include <gtest/gtest.h>

#include <cmath>

using Morvek::Cmyk;
using Morvek::Cmyk16;
using Morvek::Cmyk32;
using Morvek::Cmyk8;
using Morvek::ColorFloat;
namespace Cmyksys = Morvek::Cmyksys;

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

template <typename P>::testing::AssertionResult samePixel(const P& got, const P& want) {
    if (got.alpha == want.alpha && got.red == want.red && got.green == want.green && got.blue == want.blue) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got (" << +got.alpha << ", " << +got.red << ", " << +got.green << ", "
                                         << +got.blue << "), want (" << +want.alpha << ", " << +want.red << ", "
                                         << +want.green << ", " << +want.blue << ")";
}

::testing::AssertionResult sameCmyk(const Cmyk& got, float a, float c, float m, float y, float k) {
    if (got.alpha == a && got.cyan == c && got.magenta == m && got.yellow == y && got.black == k) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got (" << got.alpha << ", " << got.cyan << ", " << got.magenta << ", "
                                         << got.yellow << ", " << got.black << ")";
}

// ---------------------------------------------------------------------------
// Cmyksys
// ---------------------------------------------------------------------------

TEST(Cmyksys, EightBitComponents) {
    const PF_Pixel orange = p8(255, 255, 128, 0);
    EXPECT_EQ(Cmyksys::K(orange), 0);
    EXPECT_EQ(Cmyksys::C(orange), 0);
    EXPECT_EQ(Cmyksys::M(orange), 127);
    EXPECT_EQ(Cmyksys::Y(orange), 255);

    const PF_Pixel black = p8(255, 0, 0, 0);
    EXPECT_EQ(Cmyksys::K(black), 255);
    EXPECT_EQ(Cmyksys::C(black), 0);
    EXPECT_EQ(Cmyksys::M(black), 0);
    EXPECT_EQ(Cmyksys::Y(black), 0);

    // K = 102; cyan = (204 - 102) * 255 / 153, magenta = (153 - 102) * 255 / 153
    const PF_Pixel blueish = p8(0, 51, 102, 153);
    EXPECT_EQ(Cmyksys::K(blueish), 102);
    EXPECT_EQ(Cmyksys::C(blueish), 170);
    EXPECT_EQ(Cmyksys::M(blueish), 85);
    EXPECT_EQ(Cmyksys::Y(blueish), 0);

    const PF_Pixel white = p8(255, 255, 255, 255);
    EXPECT_EQ(Cmyksys::K(white), 0);
    EXPECT_EQ(Cmyksys::C(white), 0);
}

TEST(Cmyksys, SixteenBitComponents) {
    const PF_Pixel16 red = p16(32768, 32768, 0, 0);
    EXPECT_EQ(Cmyksys::K(red), 0);
    EXPECT_EQ(Cmyksys::C(red), 0);
    EXPECT_EQ(Cmyksys::M(red), 32768);
    EXPECT_EQ(Cmyksys::Y(red), 32768);

    const PF_Pixel16 black = p16(32768, 0, 0, 0);
    EXPECT_EQ(Cmyksys::K(black), 32768);
    EXPECT_EQ(Cmyksys::C(black), 0);
    EXPECT_EQ(Cmyksys::Y(black), 0);

    // K = 8192; cyan = 16384 * 32768 / 24576, magenta = 8192 * 32768 / 24576
    const PF_Pixel16 blueish = p16(32768, 8192, 16384, 24576);
    EXPECT_EQ(Cmyksys::K(blueish), 8192);
    EXPECT_EQ(Cmyksys::C(blueish), 21845);
    EXPECT_EQ(Cmyksys::M(blueish), 10922);
    EXPECT_EQ(Cmyksys::Y(blueish), 0);
}

TEST(Cmyksys, FloatComponentsAndBlackWithoutDivision) {
    const PF_PixelFloat c{1.0f, 0.25f, 0.5f, 0.75f};
    EXPECT_EQ(Cmyksys::K(c), 0.25f);
    EXPECT_EQ(Cmyksys::C(c), 0.5f / 0.75f);
    EXPECT_EQ(Cmyksys::M(c), 0.25f / 0.75f);
    EXPECT_EQ(Cmyksys::Y(c), 0.0f);

    const PF_PixelFloat black{1.0f, 0.0f, 0.0f, 0.0f};
    EXPECT_EQ(Cmyksys::K(black), 1.0f);
    EXPECT_EQ(Cmyksys::C(black), 0.0f);
    EXPECT_EQ(Cmyksys::M(black), 0.0f);
    EXPECT_EQ(Cmyksys::Y(black), 0.0f);
}

// ---------------------------------------------------------------------------
// Cmyk
// ---------------------------------------------------------------------------

TEST(CmykColour, Constructors) {
    EXPECT_TRUE(sameCmyk(Cmyk(), 0, 0, 0, 0, 0));
    EXPECT_TRUE(sameCmyk(Cmyk(0.1f, 0.2f, 0.3f, 0.4f), 1.0f, 0.1f, 0.2f, 0.3f, 0.4f));
    EXPECT_TRUE(sameCmyk(Cmyk(0.5f, 0.1f, 0.2f, 0.3f, 0.4f), 0.5f, 0.1f, 0.2f, 0.3f, 0.4f));

    EXPECT_TRUE(sameCmyk(Cmyk(CF(0.0f, 0.0f, 0.0f)), 1.0f, 0.0f, 0.0f, 0.0f, 1.0f));
    EXPECT_TRUE(sameCmyk(Cmyk(CF(0.5f, 0.25f, 0.5f, 0.75f)), 0.5f, 0.5f / 0.75f, 0.25f / 0.75f, 0.0f, 0.25f));
    EXPECT_TRUE(
        sameCmyk(Cmyk(PF_PixelFloat{0.5f, 0.25f, 0.5f, 0.75f}), 0.5f, 0.5f / 0.75f, 0.25f / 0.75f, 0.0f, 0.25f));
    // 16 bits normalised by 1/32768: (0.5, 1, 0)
    EXPECT_TRUE(sameCmyk(Cmyk(p16(16384, 16384, 32768, 0)), 0.5f, 0.5f, 0.0f, 1.0f, 0.0f));
    // 8 bits normalised by 255: the same as going through the float colour
    const PF_Pixel px = p8(200, 51, 102, 153);
    const Cmyk viaColour(CF{px});
    EXPECT_TRUE(
        sameCmyk(Cmyk(px), viaColour.alpha, viaColour.cyan, viaColour.magenta, viaColour.yellow, viaColour.black));
    EXPECT_NEAR(viaColour.black, 0.4f, 1e-6f);
    EXPECT_NEAR(viaColour.cyan, 2.0f / 3.0f, 1e-6f);
    EXPECT_NEAR(viaColour.magenta, 1.0f / 3.0f, 1e-6f);
    EXPECT_NEAR(viaColour.yellow, 0.0f, 1e-6f);
}

TEST(CmykColour, FlatteningLaysTheColourOntoBlack) {
    EXPECT_TRUE(sameCmyk(Cmyk(p8(0, 255, 255, 255), true), 1.0f, 0.0f, 0.0f, 0.0f, 1.0f));
    EXPECT_TRUE(sameCmyk(Cmyk(p8(0, 255, 255, 255)), 0.0f, 0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_TRUE(sameCmyk(Cmyk(p8(0, 255, 255, 255), false), 0.0f, 0.0f, 0.0f, 0.0f, 0.0f));
    // half-transparent white on black is mid grey
    EXPECT_TRUE(sameCmyk(Cmyk(CF(0.5f, 1.0f, 1.0f, 1.0f), true), 1.0f, 0.0f, 0.0f, 0.0f, 0.5f));
    EXPECT_TRUE(sameCmyk(Cmyk(PF_PixelFloat{0.5f, 1.0f, 1.0f, 1.0f}, true), 1.0f, 0.0f, 0.0f, 0.0f, 0.5f));
    EXPECT_TRUE(sameCmyk(Cmyk(p16(16384, 32768, 32768, 32768), true), 1.0f, 0.0f, 0.0f, 0.0f, 0.5f));
}

TEST(CmykColour, ClampAndConversionsBack) {
    Cmyk c(0.5f, -0.5f, 1.5f, 0.3f, 2.0f);
    c.clamp();
    EXPECT_TRUE(sameCmyk(c, 0.5f, 0.0f, 1.0f, 0.3f, 1.0f));

    const Cmyk ink(0.5f, 0.5f, 0.25f, 0.0f, 0.5f);
    const CF rgb = ink.toRgb();
    EXPECT_EQ(rgb.alpha, 0.5f);
    EXPECT_EQ(rgb.red, 0.25f);
    EXPECT_EQ(rgb.green, 0.375f);
    EXPECT_EQ(rgb.blue, 0.5f);
    EXPECT_TRUE(samePixel(Morvek::aePixel32(ink), PF_PixelFloat{0.5f, 0.25f, 0.375f, 0.5f}));

    const Cmyk grey(0.0f, 0.0f, 0.0f, 0.5f);
    EXPECT_TRUE(samePixel(Morvek::aePixel8(grey), p8(255, 127, 127, 127)));
    EXPECT_TRUE(samePixel(Morvek::aePixel16(grey), p16(32768, 16384, 16384, 16384)));
    // negative ink is more than white: clamped at the integer depths only
    const Cmyk bright(-1.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_TRUE(samePixel(Morvek::aePixel8(bright), p8(255, 255, 255, 255)));
    EXPECT_TRUE(samePixel(Morvek::aePixel16(bright), p16(32768, 32768, 32768, 32768)));
    EXPECT_EQ(Morvek::aePixel32(bright).red, 2.0f);
}

TEST(CmykColour, RgbRoundTrip) {
    const float steps[] = {0.0f, 0.1f, 0.25f, 0.5f, 0.8f, 1.0f};
    for (float r : steps) {
        for (float g : steps) {
            for (float b : steps) {
                const CF back = Cmyk(CF(0.7f, r, g, b)).toRgb();
                EXPECT_EQ(back.alpha, 0.7f);
                EXPECT_NEAR(back.red, r, 1e-6f);
                EXPECT_NEAR(back.green, g, 1e-6f);
                EXPECT_NEAR(back.blue, b, 1e-6f);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Compact records
// ---------------------------------------------------------------------------

TEST(Cmyk8Record, PaperWhiteAndFullBlack) {
    EXPECT_TRUE(samePixel(Cmyk8{0, 0, 0, 0}.toPixel(true), p8(0, 255, 255, 255)));
    EXPECT_TRUE(samePixel(Cmyk8{0, 0, 0, 0}.toPixel(false), p8(255, 255, 255, 255)));
    EXPECT_TRUE(samePixel(Cmyk8{0, 0, 0, 255}.toPixel(true), p8(255, 0, 0, 0)));
    EXPECT_TRUE(samePixel(Cmyk8{9, 99, 199, 255}.toPixel(false), p8(255, 0, 0, 0)));
}

TEST(Cmyk8Record, InkCoverageBecomesAlpha) {
    // half black: mid grey, or black at half coverage
    EXPECT_TRUE(samePixel(Cmyk8{0, 0, 0, 128}.toPixel(false), p8(255, 127, 127, 127)));
    EXPECT_TRUE(samePixel(Cmyk8{0, 0, 0, 128}.toPixel(true), p8(128, 0, 0, 0)));
    EXPECT_TRUE(samePixel(Cmyk8{128, 0, 0, 0}.toPixel(true), p8(128, 0, 255, 255)));
    // red = 155 * 235 / 255 = 142, green = 205 * 235 / 255 = 188, blue = 235;
    // coverage 113: green 255 - 67 * 255 / 113 = 104, blue 255 - 20 * 255 / 113 = 210
    EXPECT_TRUE(samePixel(Cmyk8{100, 50, 0, 20}.toPixel(false), p8(255, 142, 188, 235)));
    EXPECT_TRUE(samePixel(Cmyk8{100, 50, 0, 20}.toPixel(true), p8(113, 0, 104, 210)));
}

TEST(Cmyk16Record, PaperWhiteBlackAndCoverage) {
    EXPECT_TRUE(samePixel(Cmyk16{0, 0, 0, 0}.toPixel(true), p16(0, 32768, 32768, 32768)));
    EXPECT_TRUE(samePixel(Cmyk16{0, 0, 0, 0}.toPixel(false), p16(32768, 32768, 32768, 32768)));
    EXPECT_TRUE(samePixel(Cmyk16{0, 0, 0, 32768}.toPixel(true), p16(32768, 0, 0, 0)));
    EXPECT_TRUE(samePixel(Cmyk16{16384, 0, 0, 0}.toPixel(false), p16(32768, 16384, 32768, 32768)));
    EXPECT_TRUE(samePixel(Cmyk16{16384, 0, 0, 0}.toPixel(true), p16(16384, 0, 32768, 32768)));
    // full cyan, magenta and yellow inks: products at 2^30 stay in range
    EXPECT_TRUE(samePixel(Cmyk16{32768, 32768, 32768, 0}.toPixel(true), p16(32768, 0, 0, 0)));
}

TEST(Cmyk32Record, CapsTheRecordAndUncompositesFromWhite) {
    Cmyk32 over{2.0f, 0.0f, 0.0f, 0.0f};
    EXPECT_TRUE(samePixel(over.toPixel(false), PF_PixelFloat{1.0f, 0.0f, 1.0f, 1.0f}));
    EXPECT_EQ(over.cyan, 1.0f);

    Cmyk32 under{-0.5f, 0.0f, 0.0f, 3.0f};
    EXPECT_TRUE(samePixel(under.toPixel(false), PF_PixelFloat{1.0f, 0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(under.cyan, -0.5f); // values below 0 are kept
    EXPECT_EQ(under.black, 1.0f);

    Cmyk32 mixed{0.25f, 0.5f, 0.75f, 0.5f};
    EXPECT_TRUE(samePixel(mixed.toPixel(false), PF_PixelFloat{1.0f, 0.375f, 0.25f, 0.125f}));

    Cmyk32 paper{0.0f, 0.0f, 0.0f, 0.0f};
    EXPECT_TRUE(samePixel(paper.toPixel(true), PF_PixelFloat{0.0f, 1.0f, 1.0f, 1.0f}));
    Cmyk32 cyan{0.5f, 0.0f, 0.0f, 0.0f};
    EXPECT_TRUE(samePixel(cyan.toPixel(true), PF_PixelFloat{0.5f, 0.0f, 1.0f, 1.0f}));
}

// Components read by Cmyksys and turned back by the record of the same depth
// give the colour back, up to the truncations of both directions; with
// white-to-alpha the pixel composited over white gives it back too.
TEST(CmykRecords, ComponentsRoundTripThroughTheRecords) {
    const int steps[] = {0, 1, 51, 128, 200, 254, 255};
    for (int r : steps) {
        for (int g : steps) {
            for (int b : steps) {
                const PF_Pixel px = p8(255, r, g, b);
                const Cmyk8 rec{Cmyksys::C(px), Cmyksys::M(px), Cmyksys::Y(px), Cmyksys::K(px)};
                const PF_Pixel back = rec.toPixel(false);
                EXPECT_NEAR(back.red, r, 2) << r << " " << g << " " << b;
                EXPECT_NEAR(back.green, g, 2) << r << " " << g << " " << b;
                EXPECT_NEAR(back.blue, b, 2) << r << " " << g << " " << b;
                const PF_Pixel cut = rec.toPixel(true);
                const auto overWhite = [&cut](int x) { return (x * cut.alpha + 255 * (255 - cut.alpha)) / 255.0; };
                EXPECT_NEAR(overWhite(cut.red), back.red, 1.0) << r << " " << g << " " << b;
                EXPECT_NEAR(overWhite(cut.green), back.green, 1.0) << r << " " << g << " " << b;
                EXPECT_NEAR(overWhite(cut.blue), back.blue, 1.0) << r << " " << g << " " << b;

                const PF_Pixel16 px16 = p16(32768, r * 128, g * 128, b * 128);
                const Cmyk16 rec16{Cmyksys::C(px16), Cmyksys::M(px16), Cmyksys::Y(px16), Cmyksys::K(px16)};
                const PF_Pixel16 back16 = rec16.toPixel(false);
                EXPECT_NEAR(back16.red, r * 128, 2) << r << " " << g << " " << b;
                EXPECT_NEAR(back16.green, g * 128, 2) << r << " " << g << " " << b;
                EXPECT_NEAR(back16.blue, b * 128, 2) << r << " " << g << " " << b;
            }
        }
    }
}

} // namespace
