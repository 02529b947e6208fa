// The project's power functions: C's special cases, exact and midpoint
// results, agreement of the quick and accurate paths, and the table inputs of
// the 8- and 16-bit curves against the C library's pow.
#include "MorvekPow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

namespace {

std::uint32_t bitsOf(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}
std::uint64_t bitsOf(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

TEST(PowFloat, SpecialCasesAsTheCLibrary) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float xs[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.0f, -2.0f, 0.5f, -0.5f, inf, -inf, nan, 3e-45f, -3e38f};
    const float ys[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.0f, 3.0f, -3.0f, 0.5f, -0.5f, inf, -inf, nan, 1e-30f, 1e30f, 7.0f};
    for (float x : xs) {
        for (float y : ys) {
            const float got = Morvek::powFloat(x, y);
            const float want = std::pow(x, y);
            if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(got)) << x << "^" << y;
            } else {
                EXPECT_EQ(bitsOf(got), bitsOf(want)) << x << "^" << y << " = " << got << ", powf " << want;
            }
        }
    }
}

TEST(PowFloat, ExponentOneReturnsTheArgument) {
    const float xs[] = {0.0f, -0.0f, 1e-45f, 0.3f, -2.5f, 1e38f, std::numeric_limits<float>::infinity()};
    for (float x : xs) {
        EXPECT_EQ(bitsOf(Morvek::powFloat(x, 1.0f)), bitsOf(x));
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(bitsOf(Morvek::powFloat(nan, 1.0f)), bitsOf(nan));
}

TEST(PowFloat, ExactResultsAndMidpoints) {
    EXPECT_EQ(Morvek::powFloat(0.25f, 0.5f), 0.5f);
    EXPECT_EQ(Morvek::powFloat(0.25f, 1.5f), 0.125f);
    EXPECT_EQ(Morvek::powFloat(9.0f, 0.5f), 3.0f);
    EXPECT_EQ(Morvek::powFloat(2.0f, -3.0f), 0.125f);
    EXPECT_EQ(Morvek::powFloat(2.0f, 0.25f * 8.0f), 4.0f);
    // 4097^2 = 16785409 lies halfway between the floats 16785408 and
    // 16785410; ties go to the even significand (16785408 = 2 * 8392704).
    EXPECT_EQ(Morvek::powFloat(4097.0f, 2.0f), 16785408.0f);
    // 4099^2 = 16801801, halfway between 16801800 (2 * 8400900) and 16801802
    // (2 * 8400901): the even one is 16801800.
    EXPECT_EQ(Morvek::powFloat(4099.0f, 2.0f), 16801800.0f);
    // A tie reached through a root: 66049 = 257^2, so 66049^1.5 = 257^3 =
    // 16974593, halfway between 16974592 (2 * 8487296) and 16974594.
    EXPECT_EQ(Morvek::powFloat(66049.0f, 1.5f), 16974592.0f);
    // A negative base with an odd exponent: -(4097^3), exactly 68769820673,
    // rounded once to float.
    EXPECT_EQ(Morvek::powFloat(-4097.0f, 3.0f), -static_cast<float>(68769820673.0));
    // Underflow to the smallest subnormal and to zero, overflow to infinity.
    EXPECT_EQ(Morvek::powFloat(0x1p-75f, 2.0f), 0.0f); // 2^-150: a tie, to the even zero
    EXPECT_EQ(Morvek::powFloat(0x1p-74f, 2.0f), 0x1p-148f);
    EXPECT_EQ(Morvek::powFloat(0x1.8p-75f, 2.0f), 0x1p-149f); // 2.25 * 2^-150 rounds up
    EXPECT_EQ(Morvek::powFloat(1e20f, 2.0f), std::numeric_limits<float>::infinity());
    EXPECT_EQ(Morvek::powFloat(0x1p-64f, 10.0f), 0.0f);
}

TEST(PowDouble, ExactMidpointTiesToEven) {
    // 41^10 = 13422659310152401, a 54-bit odd integer: halfway between two
    // doubles; the even neighbour is 13422659310152400 = 2 * 6711329655076200.
    EXPECT_EQ(Morvek::powDouble(41.0 / 32.0, 10.0), std::ldexp(6711329655076200.0, -49));
    EXPECT_EQ(Morvek::powDouble(0.25, 0.5), 0.5);
    EXPECT_EQ(Morvek::powDouble(3.0, 4.0), 81.0);
    EXPECT_EQ(Morvek::powDouble(2.0, -1074.0), std::ldexp(1.0, -1074));
    EXPECT_EQ(Morvek::powDouble(-2.0, 3.0), -8.0);
    EXPECT_TRUE(std::isnan(Morvek::powDouble(-2.0, 0.5)));
    EXPECT_EQ(Morvek::powDouble(0.0, -1.0), std::numeric_limits<double>::infinity());
    EXPECT_EQ(bitsOf(Morvek::powDouble(-0.0, -1.0)), bitsOf(-std::numeric_limits<double>::infinity()));
}

// Where the quick path decides, the accurate path decides the same.
TEST(PowFloat, QuickAndAccuratePathsAgree) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::uint32_t> anyPositive(1u, 0x7F7FFFFFu);
    const float ys[] = {0.1f, 1.0f / 1.2f, 1.0f / 2.2f, 2.0f, 10.0f, -3.5f, 1000.0f, 1e-5f};
    int decided = 0;
    for (float y : ys) {
        for (int i = 0; i < 20000; ++i) {
            const std::uint32_t u = anyPositive(rng);
            float x;
            std::memcpy(&x, &u, sizeof x);
            float quick = 0.0f;
            if (Morvek::PowDetail::quickPow(x, y, quick)) {
                ++decided;
                ASSERT_EQ(bitsOf(quick), bitsOf(Morvek::PowDetail::accuratePow(x, y))) << x << "^" << y;
            }
        }
    }
    EXPECT_GT(decided, 20000);
}

// The tables of the 8- and 16-bit curves against the C library's pow, which is
// nearly always correctly rounded: the two may differ only by one unit in the
// last place, and rarely (where the C library misrounds an exact midpoint or
// a value within about 2^-60 of one; morvek-powcheck checks those against
// MPFR).
TEST(PowDouble, TableInputsMatchTheCLibrary) {
    int differing = 0, total = 0;
    for (int step = 0; step <= 40; ++step) {
        const double gamma = std::exp(std::log(0.1) + std::log(100.0) * step / 40.0);
        const double y = 1.0 / gamma;
        for (int i = 0; i <= 32768 + 255; i += (step % 4 == 0 ? 1 : 7)) {
            const double x = i <= 255 ? i / 255.0 : (i - 255) * 3.0517578125e-05;
            const double mine = Morvek::powDouble(x, y);
            const double libm = std::pow(x, y);
            ++total;
            if (bitsOf(mine) != bitsOf(libm)) {
                ++differing;
                const std::uint64_t a = bitsOf(mine), b = bitsOf(libm);
                ASSERT_EQ(a > b ? a - b : b - a, 1u) << x << "^" << y;
            }
        }
    }
    EXPECT_LT(differing, total / 500);
}

} // namespace
