// The exposure colour converter: gain and tables, identity at the neutral
// settings, the overflow-into-alpha rule at each depth and around its
// threshold, float special values, degenerate parameter records, in-place
// conversion and independent copies.
//
// Expected pixels are worked out by hand from the transform: channel c at
// exposure e and gamma g becomes (c / full)^(1/g) * full * 1.37035095691681^e,
// and a brightest channel M past the top raises alpha to min(full, M * A /
// full) and scales the colour by A / A'. Integer results round half up.
#include "ExposureDepths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

namespace {

using namespace exposure_test;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const float kInfF = std::numeric_limits<float>::infinity();

std::uint64_t bitsOf(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

// The exposure at which full white maps to `target` instead of `top`.
double exposureFor(double target, double top) {
    return std::log(target / top) / std::log(1.37035095691681);
}

// ---------------------------------------------------------------------------
// Construction: gain, inverse gamma, tables
// ---------------------------------------------------------------------------

TEST(ExposureConverterSetup, GainIsTheLiteralBaseToTheExposure) {
    // x^1 is exact, so exposure 1 yields the base itself, bit for bit.
    const Converter one = makeConverter<PF_Pixel>(1.0, 1.0);
    EXPECT_EQ(bitsOf(one.getScale()), 0x3FF5ECF520000004ull);
    EXPECT_EQ(one.getScaleFloat(), 1.37035095691681f);

    // +2.2 almost, but not exactly, doubles: the base is not 2^(1/2.2).
    const Converter twoPointTwo = makeConverter<PF_Pixel>(2.2, 1.0);
    EXPECT_NEAR(twoPointTwo.getScale(), 1.99999991, 1e-8);
    EXPECT_NE(twoPointTwo.getScale(), 2.0);

    EXPECT_EQ(makeConverter<PF_Pixel>(0.0, 1.0).getScale(), 1.0);
}

TEST(ExposureConverterSetup, InverseGammaInBothPrecisions) {
    const Converter c = makeConverter<PF_PixelFloat>(0.0, 3.0);
    EXPECT_EQ(c.getInverseGamma(), 1.0 / 3.0);
    EXPECT_EQ(c.getInverseGammaFloat(), static_cast<float>(1.0 / 3.0));
    EXPECT_EQ(c.getParameter().bpc, 2);
    EXPECT_EQ(c.getParameter().gamma, 3.0);
}

TEST(ExposureConverterSetup, TableSizeFollowsTheDepth) {
    EXPECT_EQ(makeConverter<PF_Pixel>(0.5, 1.2).getTable().size(), 256u);
    EXPECT_EQ(makeConverter<PF_Pixel16>(0.5, 1.2).getTable().size(), 32769u);
    EXPECT_TRUE(makeConverter<PF_PixelFloat>(0.5, 1.2).getTable().empty());
    Parameter unknown;
    unknown.bpc = 7;
    EXPECT_TRUE(Converter(unknown).getTable().empty());
}

TEST(ExposureConverterSetup, TableEndsAtTheRangeTopTimesTheGain) {
    // 1^(1/g) is 1 for every gamma, so the last entry is top * gain.
    const double gain = 1.37035095691681;
    EXPECT_EQ(makeConverter<PF_Pixel>(1.0, 2.7).getTable().back(), 255.0 * gain);
    EXPECT_EQ(makeConverter<PF_Pixel16>(1.0, 0.4).getTable().back(), 32768.0 * gain);
    EXPECT_EQ(makeConverter<PF_Pixel>(1.0, 2.7).getTable().front(), 0.0);
}

TEST(ExposureConverterSetup, EightBitTableDividesBy255) {
    // At the neutral settings entry i is (i / 255) * 255 with a true division;
    // multiplying by a rounded 1/255 instead would be off by an ulp for 24 of
    // the 256 entries (33 is the first).
    const Converter neutral8 = makeConverter<PF_Pixel>(0.0, 1.0);
    const std::vector<double>& table = neutral8.getTable();
    const double reciprocal = 1.0 / 255.0;
    int differing = 0;
    for (std::size_t i = 0; i < 256; ++i) {
        const double v = static_cast<double>(i);
        ASSERT_EQ(table[i], (v / 255.0) * 255.0) << i;
        differing += (table[i] != (v * reciprocal) * 255.0) ? 1 : 0;
    }
    EXPECT_EQ(differing, 24);
    // 16 bits: i * 2^-15 * 32768 is exactly i.
    const Converter neutral16 = makeConverter<PF_Pixel16>(0.0, 1.0);
    const std::vector<double>& table16 = neutral16.getTable();
    for (std::size_t i = 0; i <= 32768; ++i) {
        ASSERT_EQ(table16[i], static_cast<double>(i)) << i;
    }
}

// ---------------------------------------------------------------------------
// Neutral settings: exposure 0, gamma 1
// ---------------------------------------------------------------------------

TEST(ExposureConverterIdentity, EveryEightBitValueInEveryChannel) {
    const Converter c = makeConverter<PF_Pixel>(0.0, 1.0);
    for (unsigned v = 0; v <= 255; ++v) {
        const unsigned other = 255 - v;
        const PF_Pixel pixels[] = {
            makePixel<PF_Pixel>(v, other, 128u, 3u),
            makePixel<PF_Pixel>(other, v, 7u, 250u),
            makePixel<PF_Pixel>(255u, 31u, v, other),
            makePixel<PF_Pixel>(0u, other, 99u, v),
        };
        for (const PF_Pixel& p : pixels) {
            ASSERT_EQ(convertChannels(c, p), channels(p)) << "value " << v;
        }
    }
}

TEST(ExposureConverterIdentity, EverySixteenBitValueInEveryChannel) {
    const Converter c = makeConverter<PF_Pixel16>(0.0, 1.0);
    for (unsigned v = 0; v <= 32768; ++v) {
        const unsigned other = 32768 - v;
        const PF_Pixel16 pixels[] = {
            makePixel<PF_Pixel16>(v, other, 16384u, 3u),
            makePixel<PF_Pixel16>(other, v, 7u, 32768u),
            makePixel<PF_Pixel16>(32768u, 31u, v, other),
            makePixel<PF_Pixel16>(0u, other, 12345u, v),
        };
        for (const PF_Pixel16& p : pixels) {
            ASSERT_EQ(convertChannels(c, p), channels(p)) << "value " << v;
        }
    }
}

TEST(ExposureConverterIdentity, FloatValuesWithinRange) {
    const Converter c = makeConverter<PF_PixelFloat>(0.0, 1.0);
    for (unsigned i = 0; i <= 255; ++i) {
        const float v = static_cast<float>(i) / 255.0f;
        const float w = 1.0f - v;
        const PF_PixelFloat p = makePixel<PF_PixelFloat>(v, w, v, 0.3f);
        ASSERT_EQ(convertChannels(c, p), channels(p)) << "value " << v;
        const PF_PixelFloat q = makePixel<PF_PixelFloat>(w, 0.0f, w, v);
        ASSERT_EQ(convertChannels(c, q), channels(q)) << "value " << v;
    }
}

// ---------------------------------------------------------------------------
// 8 bits
// ---------------------------------------------------------------------------

TEST(ExposureConverter8, BrighterPartlyTransparentPixelGainsAlpha) {
    // Exposure 2.2, gain 1.99999991: red 180 -> 360, so A' = min(255,
    // 360 * 200 / 255) = 255 and the colour is scaled by 200/255:
    // red 255 (clamped), green 180 * 200/255 = 141.18, blue 70.59.
    const Converter c = makeConverter<PF_Pixel>(2.2, 1.0);
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel>(200u, 180u, 90u, 45u)), (Channels{255, 255, 141, 71}));
}

TEST(ExposureConverter8, RuleFiresBetween186And187AtExposureOne) {
    const Converter c = makeConverter<PF_Pixel>(1.0, 1.0);
    // 186 * 1.37035 = 254.885 < 255.5: alpha stays, red rounds to 255,
    // green 100 -> 137.04 -> 137.
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel>(200u, 186u, 100u, 0u)), (Channels{200, 255, 137, 0}));
    // 187 * 1.37035 = 256.256 >= 255.5: A' = 256.256 * 200 / 255 = 200.98 -> 201,
    // green 137.04 * 200 / 200.98 = 136.36 -> 136.
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel>(200u, 187u, 100u, 0u)), (Channels{201, 255, 136, 0}));
    // Same threshold with a lower alpha: A' = 100.49 rounds back to 100, but
    // the colour is still scaled (green 136.36 -> 136).
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel>(100u, 187u, 100u, 0u)), (Channels{100, 255, 136, 0}));
}

TEST(ExposureConverter8, RuleFiresHalfAStepAboveTheTop) {
    // White at 255.7 (>= 255.5): A' = 255.7 * 254 / 255 = 254.70 -> 255.
    EXPECT_EQ(convertChannels(makeConverter<PF_Pixel>(exposureFor(255.7, 255.0), 1.0),
                              makePixel<PF_Pixel>(254u, 255u, 0u, 0u)),
              (Channels{255, 255, 0, 0}));
    // White at 255.4: below the threshold, alpha stays 254.
    EXPECT_EQ(convertChannels(makeConverter<PF_Pixel>(exposureFor(255.4, 255.0), 1.0),
                              makePixel<PF_Pixel>(254u, 255u, 0u, 0u)),
              (Channels{254, 255, 0, 0}));
}

TEST(ExposureConverter8, OpaquePixelJustClampsItsColour) {
    // A = 255: A' = min(255, 256.256) = 255 and k = 1.
    const Converter c = makeConverter<PF_Pixel>(1.0, 1.0);
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel>(255u, 187u, 100u, 255u)), (Channels{255, 255, 137, 255}));
}

TEST(ExposureConverter8, TransparentOverflowingPixelBecomesZero) {
    const Converter c = makeConverter<PF_Pixel>(1.0, 1.0);
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel>(0u, 200u, 0u, 0u)), (Channels{0, 0, 0, 0}));
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel>(0u, 255u, 255u, 255u)), (Channels{0, 0, 0, 0}));
    // Below the threshold a transparent pixel keeps its colour.
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel>(0u, 186u, 100u, 0u)), (Channels{0, 255, 137, 0}));
}

TEST(ExposureConverter8, GammaBendsTheCurve) {
    // Gamma 2 at exposure 0: 64/255 -> sqrt(0.25098) * 255 = 127.75 -> 128;
    // 255 stays 255; 0 stays 0.
    const Converter c = makeConverter<PF_Pixel>(0.0, 2.0);
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel>(255u, 64u, 255u, 0u)), (Channels{255, 128, 255, 0}));
    // Exposure -2.2 halves (gain 0.50000002): 201 -> 100.5 -> 101, 3 -> 1.5 -> 2.
    const Converter darker = makeConverter<PF_Pixel>(-2.2, 1.0);
    EXPECT_EQ(convertChannels(darker, makePixel<PF_Pixel>(77u, 201u, 3u, 255u)), (Channels{77, 101, 2, 128}));
}

// ---------------------------------------------------------------------------
// 16 bits
// ---------------------------------------------------------------------------

TEST(ExposureConverter16, OpaqueOverflowIsClampedToTheTop) {
    // Red 32768 * 1.37035 = 44903.66; A' = min(32768, 44903.66) = 32768, k = 1.
    const Converter c = makeConverter<PF_Pixel16>(1.0, 1.0);
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel16>(32768u, 32768u, 0u, 0u)), (Channels{32768, 32768, 0, 0}));
}

TEST(ExposureConverter16, RuleFiresBetween23912And23913AtExposureOne) {
    const Converter c = makeConverter<PF_Pixel16>(1.0, 1.0);
    // 23911 -> 32766.46, 23912 -> 32767.83: below 32768.5, alpha untouched;
    // green 10000 -> 13703.51 -> 13704.
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel16>(16384u, 23911u, 10000u, 0u)),
              (Channels{16384, 32766, 13704, 0}));
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel16>(16384u, 23912u, 10000u, 0u)),
              (Channels{16384, 32768, 13704, 0}));
    // 23913 -> 32769.20: A' = 32769.20 * 16384 / 32768 = 16384.60 -> 16385;
    // green 13703.51 * 16384 / 16384.60 = 13703.01 -> 13703.
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel16>(16384u, 23913u, 10000u, 0u)),
              (Channels{16385, 32768, 13703, 0}));
}

TEST(ExposureConverter16, RuleFiresHalfAStepAboveTheTop) {
    // White at 32768.7: A' = 32768.7 * 32767 / 32768 = 32767.70 -> 32768.
    EXPECT_EQ(convertChannels(makeConverter<PF_Pixel16>(exposureFor(32768.7, 32768.0), 1.0),
                              makePixel<PF_Pixel16>(32767u, 32768u, 0u, 0u)),
              (Channels{32768, 32768, 0, 0}));
    EXPECT_EQ(convertChannels(makeConverter<PF_Pixel16>(exposureFor(32768.3, 32768.0), 1.0),
                              makePixel<PF_Pixel16>(32767u, 32768u, 0u, 0u)),
              (Channels{32767, 32768, 0, 0}));
}

TEST(ExposureConverter16, HalfTransparentBrightPixel) {
    // Red 44903.66, A = 16384: A' = 44903.66 / 2 = 22451.83 -> 22452; red back
    // to 32768.
    const Converter c = makeConverter<PF_Pixel16>(1.0, 1.0);
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel16>(16384u, 32768u, 0u, 0u)), (Channels{22452, 32768, 0, 0}));
}

TEST(ExposureConverter16, TransparentOverflowingPixelBecomesZero) {
    const Converter c = makeConverter<PF_Pixel16>(1.0, 1.0);
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel16>(0u, 30000u, 500u, 0u)), (Channels{0, 0, 0, 0}));
}

TEST(ExposureConverter16, ValuesAboveTheRangeReadTheLastTableEntry) {
    // The table ends at 32768; larger channels are treated as 32768.
    const Converter neutral = makeConverter<PF_Pixel16>(0.0, 1.0);
    EXPECT_EQ(convertChannels(neutral, makePixel<PF_Pixel16>(32768u, 40000u, 65535u, 32769u)),
              (Channels{32768, 32768, 32768, 32768}));

    const Converter brighter = makeConverter<PF_Pixel16>(1.0, 1.0);
    EXPECT_EQ(convertChannels(brighter, makePixel<PF_Pixel16>(16384u, 65535u, 0u, 0u)), (Channels{22452, 32768, 0, 0}));
    // An alpha beyond the range is not looked up; it is only clamped.
    EXPECT_EQ(convertChannels(neutral, makePixel<PF_Pixel16>(65535u, 100u, 0u, 0u)), (Channels{32768, 100, 0, 0}));
}

// ---------------------------------------------------------------------------
// 32 bits
// ---------------------------------------------------------------------------

TEST(ExposureConverter32, OverRangeColourAtNeutralSettings) {
    const Converter c = makeConverter<PF_PixelFloat>(0.0, 1.0);
    // M = 2 > 1: A' = min(1, 2 * 0.5) = 1, colour halved.
    EXPECT_EQ(convertChannels(c, makePixel<PF_PixelFloat>(0.5f, 2.0f, 0.25f, 0.0f)), (Channels{1.0, 1.0, 0.125, 0.0}));
    // Opaque: k = 1, colour kept above 1 (float colour is not clamped).
    EXPECT_EQ(convertChannels(c, makePixel<PF_PixelFloat>(1.0f, 3.0f, 0.5f, 0.0f)), (Channels{1.0, 3.0, 0.5, 0.0}));
}

TEST(ExposureConverter32, AlphaIsWrittenWithinZeroToOne) {
    const Converter c = makeConverter<PF_PixelFloat>(0.0, 1.0);
    EXPECT_EQ(convertChannels(c, makePixel<PF_PixelFloat>(1.5f, 0.5f, 0.5f, 0.5f)), (Channels{1.0, 0.5, 0.5, 0.5}));
    EXPECT_EQ(convertChannels(c, makePixel<PF_PixelFloat>(-0.5f, 0.5f, 0.5f, 0.5f)), (Channels{0.0, 0.5, 0.5, 0.5}));
    // Negative alpha with overflow: A' = -1, k = -0.5 / -1 = 0.5.
    EXPECT_EQ(convertChannels(c, makePixel<PF_PixelFloat>(-0.5f, 2.0f, 0.0f, 0.0f)), (Channels{0.0, 1.0, 0.0, 0.0}));
}

TEST(ExposureConverter32, ExposureOneOnAHalfTransparentWhite) {
    // M = gain; A' = 0.5 * gain; red comes back to 1, green to 0.5.
    const Converter c = makeConverter<PF_PixelFloat>(1.0, 1.0);
    const PF_PixelFloat out = convertInto(c, makePixel<PF_PixelFloat>(0.5f, 1.0f, 0.5f, 0.0f));
    EXPECT_EQ(out.alpha, 0.5f * 1.37035095691681f);
    EXPECT_FLOAT_EQ(out.alpha, 0.6851755f);
    EXPECT_EQ(out.red, 1.0f);
    EXPECT_EQ(out.green, 0.5f);
    EXPECT_EQ(out.blue, 0.0f);
}

TEST(ExposureConverter32, GammaTwoIsASquareRoot) {
    const Converter c = makeConverter<PF_PixelFloat>(0.0, 2.0);
    EXPECT_EQ(convertChannels(c, makePixel<PF_PixelFloat>(1.0f, 0.25f, 0.5f, 1.0f)),
              (Channels{1.0, 0.5, static_cast<double>(0.70710677f), 1.0}));
}

TEST(ExposureConverter32, ZeroNegativeAndInfiniteChannels) {
    const Converter neutral = makeConverter<PF_PixelFloat>(0.0, 1.0);
    // Zero stays zero under any gain and gamma.
    EXPECT_EQ(convertChannels(makeConverter<PF_PixelFloat>(3.0, 2.0), makePixel<PF_PixelFloat>(1.0f, 0.0f, 0.0f, 0.0f)),
              (Channels{1.0, 0.0, 0.0, 0.0}));
    // Negative colour passes through at gamma 1, unclamped.
    EXPECT_EQ(convertChannels(neutral, makePixel<PF_PixelFloat>(1.0f, -0.25f, 0.5f, 0.0f)),
              (Channels{1.0, -0.25, 0.5, 0.0}));
    // An infinite channel overflows: alpha 0.5 -> 1, the others are halved.
    EXPECT_EQ(convertChannels(neutral, makePixel<PF_PixelFloat>(0.5f, kInfF, 0.5f, 0.0f)),
              (Channels{1.0, kInf, 0.25, 0.0}));
    EXPECT_EQ(convertChannels(neutral, makePixel<PF_PixelFloat>(0.5f, -kInfF, 0.5f, 0.0f)),
              (Channels{0.5, -kInf, 0.5, 0.0}));
}

TEST(ExposureConverter32, NegativeColourUnderAFractionalPowerIsNotANumber) {
    const PF_PixelFloat out =
        convertInto(makeConverter<PF_PixelFloat>(0.0, 2.0), makePixel<PF_PixelFloat>(1.0f, -0.25f, 0.25f, 1.0f));
    EXPECT_TRUE(std::isnan(out.red));
    EXPECT_EQ(out.alpha, 1.0f);
    EXPECT_EQ(out.green, 0.5f);
    EXPECT_EQ(out.blue, 1.0f);
}

TEST(ExposureConverter32, TransparentOverflowingPixelBecomesZero) {
    // k would be 0/0; the colour is written as 0 instead of NaN.
    const Converter c = makeConverter<PF_PixelFloat>(0.0, 1.0);
    EXPECT_EQ(convertChannels(c, makePixel<PF_PixelFloat>(0.0f, 2.0f, 0.5f, 0.25f)), (Channels{0, 0, 0, 0}));
    EXPECT_EQ(convertChannels(c, makePixel<PF_PixelFloat>(0.0f, kInfF, 0.5f, 0.25f)), (Channels{0, 0, 0, 0}));
    EXPECT_EQ(convertChannels(makeConverter<PF_PixelFloat>(1.0, 1.0), makePixel<PF_PixelFloat>(0.0f, 1.0f, 0.0f, 0.0f)),
              (Channels{0, 0, 0, 0}));
    // Not overflowing: the colour under a transparent alpha is kept.
    EXPECT_EQ(convertChannels(c, makePixel<PF_PixelFloat>(0.0f, 0.5f, 0.25f, 1.0f)), (Channels{0, 0.5, 0.25, 1.0}));
}

// ---------------------------------------------------------------------------
// Degenerate records: NaN, zero or negative gamma, infinite exposure
// ---------------------------------------------------------------------------

TEST(ExposureConverterDegenerate, InfiniteExposureSaturatesWithoutUndefinedValues) {
    // Gain = inf: entry 0 is 0 * inf = NaN (written as 0), the rest infinite.
    const Converter c8 = makeConverter<PF_Pixel>(kInf, 1.0);
    EXPECT_EQ(convertChannels(c8, makePixel<PF_Pixel>(255u, 0u, 10u, 0u)), (Channels{255, 0, 255, 0}));
    EXPECT_EQ(convertChannels(c8, makePixel<PF_Pixel>(128u, 0u, 0u, 10u)), (Channels{255, 0, 0, 255}));
    const Converter c16 = makeConverter<PF_Pixel16>(kInf, 1.0);
    EXPECT_EQ(convertChannels(c16, makePixel<PF_Pixel16>(32768u, 0u, 10u, 0u)), (Channels{32768, 0, 32768, 0}));
    // Gain = 0: everything black, alpha kept.
    const Converter dark = makeConverter<PF_Pixel>(-kInf, 1.0);
    EXPECT_EQ(convertChannels(dark, makePixel<PF_Pixel>(200u, 50u, 100u, 255u)), (Channels{200, 0, 0, 0}));
}

TEST(ExposureConverterDegenerate, NotANumberInTheRecordGivesZeroColour) {
    // Exposure NaN: every entry NaN, no overflow, colour 0.
    EXPECT_EQ(convertChannels(makeConverter<PF_Pixel>(kNaN, 1.0), makePixel<PF_Pixel>(200u, 50u, 100u, 255u)),
              (Channels{200, 0, 0, 0}));
    EXPECT_EQ(convertChannels(makeConverter<PF_Pixel16>(kNaN, 1.0), makePixel<PF_Pixel16>(200u, 50u, 100u, 255u)),
              (Channels{200, 0, 0, 0}));
    // Gamma NaN: only 1^NaN = 1 survives.
    EXPECT_EQ(convertChannels(makeConverter<PF_Pixel>(0.0, kNaN), makePixel<PF_Pixel>(255u, 255u, 10u, 0u)),
              (Channels{255, 255, 0, 0}));
}

TEST(ExposureConverterDegenerate, NegativeGammaMakesBlackInfinite) {
    // 0^-1 = inf: a black transparent pixel would get alpha inf * 0 = NaN.
    const Converter c = makeConverter<PF_Pixel>(0.0, -1.0);
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel>(0u, 0u, 0u, 0u)), (Channels{0, 0, 0, 0}));
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel>(128u, 0u, 0u, 0u)), (Channels{255, 255, 255, 255}));
    const Converter c16 = makeConverter<PF_Pixel16>(0.0, -1.0);
    EXPECT_EQ(convertChannels(c16, makePixel<PF_Pixel16>(0u, 0u, 0u, 0u)), (Channels{0, 0, 0, 0}));
}

TEST(ExposureConverterDegenerate, ZeroGammaThresholdsAtFullValue) {
    // 1/0 = inf: x^inf is 0 below full and 1 at full.
    const Converter c = makeConverter<PF_Pixel>(0.0, 0.0);
    EXPECT_EQ(convertChannels(c, makePixel<PF_Pixel>(200u, 255u, 254u, 0u)), (Channels{200, 255, 0, 0}));
}

// Every pixel of the sample set through every combination of bad values: the
// integer results stay in range (a NaN never reaches the integer
// conversion, which the sanitizer build would report) and float alpha stays
// within 0..1.
TEST(ExposureConverterDegenerate, SweepStaysInRange) {
    const double gammas[] = {0.0, -0.0, -1.0, -2.5, kNaN, kInf, -kInf, 1e-300};
    const double exposures[] = {0.0, 1.0, kInf, -kInf, kNaN, 1000.0, -1000.0};
    for (double gamma : gammas) {
        for (double exposure : exposures) {
            const Converter c8 = makeConverter<PF_Pixel>(exposure, gamma);
            for (const PF_Pixel& p : samplePixels<PF_Pixel>()) {
                convertInto(c8, p);
            }
            const Converter c16 = makeConverter<PF_Pixel16>(exposure, gamma);
            for (const PF_Pixel16& p : samplePixels<PF_Pixel16>()) {
                const PF_Pixel16 out = convertInto(c16, p);
                ASSERT_LE(out.alpha, 32768);
                ASSERT_LE(out.red, 32768);
                ASSERT_LE(out.green, 32768);
                ASSERT_LE(out.blue, 32768);
            }
            const Converter c32 = makeConverter<PF_PixelFloat>(exposure, gamma);
            for (const PF_PixelFloat& p : samplePixels<PF_PixelFloat>()) {
                const PF_PixelFloat out = convertInto(c32, p);
                ASSERT_GE(out.alpha, 0.0f) << "gamma " << gamma << " exposure " << exposure;
                ASSERT_LE(out.alpha, 1.0f) << "gamma " << gamma << " exposure " << exposure;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Every depth: in place and copies
// ---------------------------------------------------------------------------

template <typename P> class ExposureConverterAllDepths : public ::testing::Test {};
TYPED_TEST_SUITE(ExposureConverterAllDepths, AllDepths);

TYPED_TEST(ExposureConverterAllDepths, InPlaceMatchesSeparateConversion) {
    using P = TypeParam;
    for (double exposure : {-1.7, 0.0, 1.3, 3.9}) {
        const Converter c = makeConverter<P>(exposure, 0.7);
        for (const P& src : samplePixels<P>()) {
            const P separate = convertInto(c, src);
            P inPlace = src;
            c.convert(inPlace, inPlace);
            ASSERT_TRUE(sameBits(separate, inPlace)) << "exposure " << exposure;
        }
    }
}

TYPED_TEST(ExposureConverterAllDepths, CopyOwnsItsTable) {
    using P = TypeParam;
    auto original = std::make_unique<Converter>(makeConverter<P>(1.0, 1.8));
    Converter copy(*original);
    Converter assigned = makeConverter<P>(-3.0, 0.5);
    assigned = *original;
    if (!original->getTable().empty()) {
        EXPECT_NE(copy.getTable().data(), original->getTable().data());
        EXPECT_NE(assigned.getTable().data(), original->getTable().data());
    }
    // Change and then destroy the original: the copies must not notice.
    *original = makeConverter<P>(-2.0, 3.0);
    original.reset();

    const Converter fresh = makeConverter<P>(1.0, 1.8);
    EXPECT_EQ(copy.getTable(), fresh.getTable());
    for (const P& src : samplePixels<P>()) {
        const P expected = convertInto(fresh, src);
        ASSERT_TRUE(sameBits(convertInto(copy, src), expected));
        ASSERT_TRUE(sameBits(convertInto(assigned, src), expected));
    }
}

} // namespace
