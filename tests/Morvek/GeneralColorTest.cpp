// Colour value types: construction from host pixels on both scales, the
// vector-style operators against the RGB-only members, integer colour
// arithmetic, and the conversions back to host pixels (scaling, clamping,
// truncation, NaN and infinities), including full round trips.
#include "MorvekGeneral.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstddef>
#include <cmath>
#include <limits>
#include <type_traits>

namespace {

using Morvek::ColorFloat;
using Morvek::ColorInt;

using Channels = std::array<double, 4>;

template <typename C> Channels channels(const C& c) {
    return Channels{static_cast<double>(c.alpha), static_cast<double>(c.red), static_cast<double>(c.green),
                    static_cast<double>(c.blue)};
}

PF_Pixel pixel8(unsigned a, unsigned r, unsigned g, unsigned b) {
    return PF_Pixel{static_cast<A_u_char>(a), static_cast<A_u_char>(r), static_cast<A_u_char>(g),
                    static_cast<A_u_char>(b)};
}

PF_Pixel16 pixel16(unsigned a, unsigned r, unsigned g, unsigned b) {
    return PF_Pixel16{static_cast<A_u_short>(a), static_cast<A_u_short>(r), static_cast<A_u_short>(g),
                      static_cast<A_u_short>(b)};
}

template <typename T> class ColorFloatBoth : public ::testing::Test {};
using FloatTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(ColorFloatBoth, FloatTypes);

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

TYPED_TEST(ColorFloatBoth, ValueConstructors) {
    using T = TypeParam;
    EXPECT_EQ(channels(ColorFloat<T>()), (Channels{0, 0, 0, 0}));
    const ColorFloat<T> rgb(T(0.2), T(0.4), T(0.6));
    EXPECT_EQ(rgb.alpha, T(1));
    EXPECT_EQ(rgb.red, T(0.2));
    EXPECT_EQ(rgb.green, T(0.4));
    EXPECT_EQ(rgb.blue, T(0.6));
    EXPECT_EQ(channels(ColorFloat<T>(T(4), T(3), T(2), T(1))), (Channels{4, 3, 2, 1}));
}

TYPED_TEST(ColorFloatBoth, EightBitPixelsAreDividedBy255) {
    using T = TypeParam;
    const ColorFloat<T> c(pixel8(255, 0, 51, 128));
    EXPECT_EQ(c.alpha, T(1));
    EXPECT_EQ(c.red, T(0));
    EXPECT_EQ(c.green, T(51) / T(255));
    EXPECT_EQ(c.blue, T(128) / T(255));
    // A true division: multiplying by a rounded 1/255 differs for some values
    // (e.g. 3/255 in single, 33/255 in double).
    const T v = (std::is_same<T, float>::value ? T(3) : T(33));
    EXPECT_EQ(ColorFloat<T>(pixel8(0, unsigned(v), 0, 0)).red, v / T(255));
    EXPECT_NE(v / T(255), v * (T(1) / T(255)));

    EXPECT_EQ(channels(ColorFloat<T>(pixel8(255, 200, 1, 0), false)), (Channels{255, 200, 1, 0}));
    EXPECT_EQ(channels(ColorFloat<T>(pixel8(255, 0, 0, 0), true)), (Channels{1, 0, 0, 0}));
}

TYPED_TEST(ColorFloatBoth, SixteenBitPixelsAreScaledBy2ToTheMinus15) {
    using T = TypeParam;
    EXPECT_EQ(channels(ColorFloat<T>(pixel16(32768, 16384, 1, 0))), (Channels{1.0, 0.5, 3.0517578125e-05, 0}));
    // Above the range the value simply keeps scaling.
    EXPECT_EQ(ColorFloat<T>(pixel16(65535, 0, 0, 0)).alpha, T(65535) * T(3.0517578125e-05));
    EXPECT_EQ(channels(ColorFloat<T>(pixel16(32768, 40000, 7, 0), false)), (Channels{32768, 40000, 7, 0}));
}

TEST(ColorFloatConstruction, FloatPixelsAreCopiedOrWidened) {
    const PF_PixelFloat p{0.1f, -2.0f, 7.5f, std::numeric_limits<float>::infinity()};
    const ColorFloat<float> f(p);
    EXPECT_EQ(channels(f), channels(p));
    const ColorFloat<double> d(p);
    EXPECT_EQ(d.alpha, static_cast<double>(0.1f));
    EXPECT_EQ(channels(d), channels(p));
}

// ---------------------------------------------------------------------------
// Arithmetic
// ---------------------------------------------------------------------------

TYPED_TEST(ColorFloatBoth, OperatorsWorkOnAllFourChannels) {
    using T = TypeParam;
    const ColorFloat<T> a(T(1), T(2), T(3), T(4));
    const ColorFloat<T> b(T(0.5), T(0.25), T(1), T(-1));
    EXPECT_EQ(channels(a + b), (Channels{1.5, 2.25, 4, 3}));
    EXPECT_EQ(channels(a - b), (Channels{0.5, 1.75, 2, 5}));
    EXPECT_EQ(channels(a * T(0.5)), (Channels{0.5, 1, 1.5, 2}));
    EXPECT_EQ(channels(a * 3), (Channels{3, 6, 9, 12}));
    EXPECT_EQ(channels(a / T(4)), (Channels{0.25, 0.5, 0.75, 1}));
    EXPECT_EQ(channels(a / 2), (Channels{0.5, 1, 1.5, 2}));
    // The plain forms leave the operand alone; the compound forms return it.
    EXPECT_EQ(channels(a), (Channels{1, 2, 3, 4}));
    ColorFloat<T> c = a;
    ColorFloat<T>& ref = (c += b);
    EXPECT_EQ(&ref, &c);
    EXPECT_EQ(channels(c), (Channels{1.5, 2.25, 4, 3}));
    c -= b;
    c *= 2;
    c /= T(2);
    c *= T(4);
    c /= 4;
    EXPECT_EQ(channels(c), (Channels{1, 2, 3, 4}));
}

TEST(ColorFloatArithmetic, IntegerDivisorGoesThroughSinglePrecision) {
    // 16777217 is not a float: it becomes 16777216, so the quotient is
    // exactly 1 even in double.
    const ColorFloat<double> c(16777216.0, 16777216.0, 0.0, 33554432.0);
    EXPECT_EQ(channels(c / 16777217), (Channels{1, 1, 0, 2}));
    // A double divisor is used as it is.
    EXPECT_LT((c / 16777217.0).alpha, 1.0);
}

TYPED_TEST(ColorFloatBoth, MultDivClampAndDotLeaveAlphaAlone) {
    using T = TypeParam;
    ColorFloat<T> c(T(1), T(1), T(1), T(1));
    c.mult(T(0.5));
    EXPECT_EQ(channels(c), (Channels{1, 0.5, 0.5, 0.5}));
    EXPECT_EQ(channels(ColorFloat<T>(T(1), T(1), T(1), T(1)) * T(0.5)), (Channels{0.5, 0.5, 0.5, 0.5}));
    c.div(T(0.25));
    EXPECT_EQ(channels(c), (Channels{1, 2, 2, 2}));

    ColorFloat<T> k(T(2), std::numeric_limits<T>::quiet_NaN(), T(-0.5), T(1.5));
    k.clamp(T(1));
    EXPECT_EQ(k.alpha, T(2));
    EXPECT_TRUE(std::isnan(k.red));
    EXPECT_EQ(k.green, T(0));
    EXPECT_EQ(k.blue, T(1));

    EXPECT_EQ(ColorFloat<T>(T(9), T(1), T(2), T(3)).dot(ColorFloat<T>(T(9), T(4), T(5), T(6))), T(32));
}

TEST(ColorFloatArithmetic, DotSumsRedAndGreenFirst) {
    // (1 + 1e8) + -1e8 is 0 in single precision; any other order gives 1.
    const ColorFloat<float> a(0.0f, 1.0f, 1e8f, -1e8f);
    const ColorFloat<float> ones(0.0f, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(a.dot(ones), 0.0f);
}

TEST(ColorIntArithmetic, ConstructionAndWrappingOperators) {
    EXPECT_EQ(channels(ColorInt<int>()), (Channels{0, 0, 0, 0}));
    EXPECT_EQ(channels(ColorInt<int>(pixel8(255, 128, 1, 0))), (Channels{255, 128, 1, 0}));
    EXPECT_EQ(channels(ColorInt<unsigned int>(pixel16(65535, 32768, 1, 0))), (Channels{65535, 32768, 1, 0}));

    const ColorInt<int> big(INT_MAX, 5, -5, 0);
    const ColorInt<int> one(1, 1, 1, 1);
    EXPECT_EQ((big + one).alpha, INT_MIN);
    EXPECT_EQ(channels(big - one), (Channels{INT_MAX - 1, 4, -6, -1}));
    EXPECT_EQ((big * 2).alpha, -2);
    EXPECT_EQ(channels(ColorInt<int>(7, -7, 8, -8) / 2), (Channels{3, -3, 4, -4}));
    // The most negative int over -1 wraps to itself; the divisor is read at
    // run time, where a plain division would trap.
    volatile int runTime = -1;
    const int minusOne = runTime;
    EXPECT_EQ(channels(ColorInt<int>(INT_MIN, INT_MIN, 6, -6) / minusOne), (Channels{INT_MIN, INT_MIN, -6, 6}));

    const ColorInt<unsigned int> u(0u, 8u, 9u, 10u);
    EXPECT_EQ((u - ColorInt<unsigned int>(1u, 1u, 1u, 1u)).alpha, UINT_MAX);
    EXPECT_EQ(channels(u / 2), (Channels{0, 4, 4, 5}));
    // A negative divisor is taken as unsigned: a huge one.
    EXPECT_EQ(channels(ColorInt<unsigned int>(UINT_MAX, 8u, 0u, 1u) / -1), (Channels{1, 0, 0, 0}));
}

TEST(ColorIntArithmetic, MultAndDivLeaveAlphaAlone) {
    ColorInt<int> c(10, 10, -20, 30);
    c.mult(3);
    EXPECT_EQ(channels(c), (Channels{10, 30, -60, 90}));
    c.div(-7);
    EXPECT_EQ(channels(c), (Channels{10, -4, 8, -12}));
    c *= 2;
    EXPECT_EQ(channels(c), (Channels{20, -8, 16, -24}));
    c /= 4;
    EXPECT_EQ(channels(c), (Channels{5, -2, 4, -6}));
}

// ---------------------------------------------------------------------------
// Back to host pixels
// ---------------------------------------------------------------------------

TYPED_TEST(ColorFloatBoth, ToEightBitsScalesClampsAndTruncates) {
    using T = TypeParam;
    const auto red8 = [](double v) { return Morvek::aePixel8(ColorFloat<T>(T(1), T(v), T(0), T(0))).red; };
    EXPECT_EQ(red8(0.5), 127);
    EXPECT_EQ(red8(0.999), 254);
    EXPECT_EQ(red8(1.0), 255);
    EXPECT_EQ(red8(1.5), 255);
    EXPECT_EQ(red8(-0.1), 0);
    EXPECT_EQ(red8(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(red8(std::numeric_limits<double>::infinity()), 255);
    EXPECT_EQ(red8(-std::numeric_limits<double>::infinity()), 0);
    // Alpha takes the same path.
    EXPECT_EQ(Morvek::aePixel8(ColorFloat<T>(T(0.5), T(0), T(0), T(0))).alpha, 127);

    const PF_Pixel raw = Morvek::aePixel8(ColorFloat<T>(T(300), T(200.7), T(-3), T(0.9)), false);
    EXPECT_EQ(channels(raw), (Channels{255, 200, 0, 0}));
    EXPECT_EQ(Morvek::aePixel8(ColorFloat<T>(T(1), T(0.5), T(0), T(0)), true).red, 127);
}

TYPED_TEST(ColorFloatBoth, ToSixteenBitsNeverExceedsFull) {
    using T = TypeParam;
    EXPECT_EQ(channels(Morvek::aePixel16(ColorFloat<T>(T(1), T(0.5), T(1.5), T(-1)))),
              (Channels{32768, 16384, 32768, 0}));
    EXPECT_EQ(Morvek::aePixel16(ColorFloat<T>(T(2.0), T(0), T(0), T(0))).alpha, 32768);
    EXPECT_EQ(channels(Morvek::aePixel16(ColorFloat<T>(T(40000), T(123.9), T(32768), T(32767.99)), false)),
              (Channels{32768, 123, 32768, 32767}));
    EXPECT_EQ(Morvek::aePixel16(ColorFloat<T>(T(1), std::numeric_limits<T>::quiet_NaN(), T(0), T(0))).red, 0);
}

TEST(ColorFloatConversion, ToFloatPixelsKeepsEverything) {
    const PF_PixelFloat f = Morvek::aePixel32(ColorFloat<float>(1.0f, 2.0f, -1.0f, 0.5f));
    EXPECT_EQ(channels(f), (Channels{1, 2, -1, 0.5}));
    // Double narrows to the nearest float.
    const PF_PixelFloat d = Morvek::aePixel32(ColorFloat<double>(0.1, 1e300, -2.0, 0.0));
    EXPECT_EQ(d.alpha, 0.1f);
    EXPECT_EQ(d.red, std::numeric_limits<float>::infinity());
    EXPECT_EQ(d.green, -2.0f);
}

TEST(ColorIntConversion, ClampsToTheHostRange) {
    EXPECT_EQ(channels(Morvek::aePixel8(ColorInt<int>(255, -5, 300, 17))), (Channels{255, 0, 255, 17}));
    EXPECT_EQ(channels(Morvek::aePixel8(ColorInt<unsigned int>(0u, 300u, UINT_MAX, 255u))),
              (Channels{0, 255, 255, 255}));
    EXPECT_EQ(channels(Morvek::aePixel16(ColorInt<int>(32768, -1, 40000, INT_MIN))), (Channels{32768, 0, 32768, 0}));
    EXPECT_EQ(channels(Morvek::aePixel16(ColorInt<unsigned int>(32769u, 65535u, 5u, UINT_MAX))),
              (Channels{32768, 32768, 5, 32768}));
}

// ---------------------------------------------------------------------------
// Round trips
// ---------------------------------------------------------------------------

TYPED_TEST(ColorFloatBoth, EveryEightBitValueSurvivesARoundTrip) {
    using T = TypeParam;
    for (unsigned v = 0; v <= 255; ++v) {
        const PF_Pixel p = pixel8(v, 255 - v, (v * 7) % 256, (v * 13 + 5) % 256);
        ASSERT_EQ(channels(Morvek::aePixel8(ColorFloat<T>(p))), channels(p)) << v;
        ASSERT_EQ(channels(Morvek::aePixel8(ColorFloat<T>(p, false), false)), channels(p)) << v;
        ASSERT_EQ(channels(Morvek::aePixel8(ColorInt<int>(p))), channels(p)) << v;
    }
}

TYPED_TEST(ColorFloatBoth, EverySixteenBitValueSurvivesARoundTrip) {
    using T = TypeParam;
    for (unsigned v = 0; v <= 32768; ++v) {
        const PF_Pixel16 p = pixel16(v, 32768 - v, (v * 7) % 32769, (v * 13 + 5) % 32769);
        ASSERT_EQ(channels(Morvek::aePixel16(ColorFloat<T>(p))), channels(p)) << v;
        ASSERT_EQ(channels(Morvek::aePixel16(ColorFloat<T>(p, false), false)), channels(p)) << v;
        ASSERT_EQ(channels(Morvek::aePixel16(ColorInt<unsigned int>(p))), channels(p)) << v;
    }
}

TEST(ColorFloatLayout, MatchesTheHostFloatPixel) {
    static_assert(sizeof(ColorFloat<float>) == sizeof(PF_PixelFloat), "same size as the host's float pixel");
    static_assert(offsetof(ColorFloat<float>, alpha) == offsetof(PF_PixelFloat, alpha), "alpha first");
    static_assert(offsetof(ColorFloat<float>, blue) == offsetof(PF_PixelFloat, blue), "blue last");
    SUCCEED();
}

} // namespace
