// The table-at-a-time power against powDouble, bit for bit: whole 8- and
// 16-bit tables over the gamma range, bases of every magnitude and the
// special values, vector and portable loops, and the converter's tables
// against the formula entry by entry.
#include "MorvekExposure.h"
#include "MorvekPow.h"
#include "MorvekPowRun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

std::uint64_t bitsOf(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

// Runs both loops over x and compares each result with powDouble's.
void expectRunMatches(const std::vector<double>& x, double y) {
    for (bool vector : {true, false}) {
        std::vector<double> out(x.size());
        Morvek::powDoubleRun(x.data(), y, out.data(), static_cast<std::ptrdiff_t>(x.size()), vector);
        int reported = 0;
        for (std::size_t i = 0; i < x.size() && reported < 5; ++i) {
            const double want = Morvek::powDouble(x[i], y);
            if (bitsOf(out[i]) != bitsOf(want)) {
                ++reported;
                ADD_FAILURE() << std::hexfloat << x[i] << "^" << y << (vector ? " vector " : " portable ") << out[i]
                              << ", powDouble " << want;
            }
        }
    }
}

TEST(ExposureCurve, WholeTablesOverTheGammaRange) {
    std::vector<double> x16(32769), x8(256);
    for (std::size_t i = 0; i < x16.size(); ++i) {
        x16[i] = static_cast<double>(i) * 0x1p-15;
    }
    for (std::size_t i = 0; i < x8.size(); ++i) {
        x8[i] = static_cast<double>(i) / 255.0;
    }
    // 1/gamma for gammas across 0.1 .. 10 (the slider's steps of 0.01 among
    // them), and exponents outside that range.
    std::vector<double> exponents = {1.0 / 1.2, 1.0 / 2.2, 10.0, 0.1, 1.0, 2.0, 0.5, -1.0, -0.25, 1024.0, 1500.0};
    for (int g = 10; g <= 1000; g += 37) {
        exponents.push_back(1.0 / (g / 100.0));
    }
    for (double y : exponents) {
        expectRunMatches(x16, y);
        expectRunMatches(x8, y);
    }
}

TEST(ExposureCurve, BasesOfEveryMagnitudeAndSpecialValues) {
    std::mt19937_64 rng(11);
    std::vector<double> x;
    const double specials[] = {0.0,
                               -0.0,
                               1.0,
                               -1.0,
                               1.0 - 0x1p-9,
                               1.0 + 0x1p-9,
                               1.0 - 0x1p-8,
                               0x1p-1074,
                               0x1p-1022,
                               std::numeric_limits<double>::max(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(),
                               -2.5};
    for (double s : specials) {
        x.push_back(s);
    }
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t u = rng();
        double d;
        std::memcpy(&d, &u, sizeof d);
        x.push_back(d); // any bit pattern
        x.push_back(std::ldexp(static_cast<double>(rng() >> 11) * 0x1p-53, -static_cast<int>(rng() % 40)));
    }
    for (double y : {1.0 / 1.2, 3.0, -0.7, 0.01, 700.0, 0x1p-30, 0.0, std::numeric_limits<double>::quiet_NaN()}) {
        expectRunMatches(x, y);
    }
}

// The converter's 16-bit table, entry by entry from the formula: (x^(1/g) *
// 32768) * gain with x = i / 32768.
TEST(ExposureCurve, SixteenBitTableFollowsTheFormula) {
    Morvek::Exposure::Parameter p;
    p.bpc = 1;
    p.exposure = 0.5;
    p.gamma = 1.2;
    const Morvek::Exposure::Impl::ColorConverter c(p);
    const double gain = Morvek::powDouble(1.37035095691681, 0.5);
    const std::vector<double>& table = c.getTable();
    ASSERT_EQ(table.size(), 32769u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double want = (Morvek::powDouble(static_cast<double>(i) / 32768.0, 1.0 / 1.2) * 32768.0) * gain;
        ASSERT_EQ(bitsOf(table[i]), bitsOf(want)) << i;
    }
}

} // namespace
