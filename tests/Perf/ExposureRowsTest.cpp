// The row conversions of the exposure filter against the colour converter,
// pixel by pixel and bit for bit: every 8-bit and 16-bit channel value with a
// set of alphas and parameters, tens of millions of float pixels (specials
// included), the vector and portable power loops, odd row lengths, unaligned
// starts and in-place rows.
#include "MorvekExposure.h"
#include "MorvekExposureRows.h"
#include "MorvekFixedPow.h"
#include "MorvekPow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Converter = Morvek::Exposure::Impl::ColorConverter;
using Morvek::ExposureRows;

#ifdef NDEBUG
constexpr std::size_t kFloatPixels = 1'500'000; // 6 x this many pixels over all parameters
#else
constexpr std::size_t kFloatPixels = 100'000; // unoptimised (sanitizer) builds
#endif

Morvek::Exposure::Parameter param(A_long bpc, double exposure, double gamma) {
    Morvek::Exposure::Parameter p;
    p.bpc = bpc;
    p.exposure = exposure;
    p.gamma = gamma;
    return p;
}

const double kExposures[] = {-4.0, -1.0, 0.0, 0.5, 1.0, 2.2, 3.0, 8.0};
const double kGammas[] = {0.1, 0.5, 1.0, 1.2, 2.2, 10.0};

template <class P> bool samePixel(const P& a, const P& b) {
    return std::memcmp(&a, &b, sizeof(P)) == 0;
}

// Float pixels: the same bits in every channel, except that any two NaNs
// match. Which NaN a product of NaNs yields depends on the order in which
// the compiler places the operands, which the formula does not fix.
std::uint32_t bitsOf(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}
bool sameChannel(float a, float b) {
    return bitsOf(a) == bitsOf(b) || (std::isnan(a) && std::isnan(b));
}
template <> bool samePixel(const PF_PixelFloat& a, const PF_PixelFloat& b) {
    return sameChannel(a.alpha, b.alpha) && sameChannel(a.red, b.red) && sameChannel(a.green, b.green) &&
           sameChannel(a.blue, b.blue);
}

std::string describe(const PF_Pixel& p) {
    return std::to_string(p.alpha) + "," + std::to_string(p.red) + "," + std::to_string(p.green) + "," +
           std::to_string(p.blue);
}
std::string describe(const PF_Pixel16& p) {
    return std::to_string(p.alpha) + "," + std::to_string(p.red) + "," + std::to_string(p.green) + "," +
           std::to_string(p.blue);
}
std::string describe(const PF_PixelFloat& p) {
    char text[160];
    std::snprintf(text, sizeof text, "%a,%a,%a,%a", p.alpha, p.red, p.green, p.blue);
    return text;
}

// Runs the row conversion over `pixels` and compares with the converter.
template <class P, class Convert>
void expectRowMatches(const Converter& c, const std::vector<P>& pixels, Convert rowConvert, const std::string& what) {
    std::vector<P> fast(pixels.size());
    rowConvert(pixels.data(), fast.data(), static_cast<std::ptrdiff_t>(pixels.size()));
    int reported = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        P slow;
        c.convert(pixels[i], slow);
        if (!samePixel(slow, fast[i])) {
            ADD_FAILURE() << what << ": source " << describe(pixels[i]) << " row gives " << describe(fast[i])
                          << ", converter " << describe(slow);
            if (++reported == 5) {
                return;
            }
        }
    }
}

TEST(ExposureRows, EveryEightBitValueInEachChannel) {
    const A_u_char alphas[] = {0, 1, 100, 128, 200, 254, 255};
    std::vector<PF_Pixel> pixels;
    for (A_u_char a : alphas) {
        for (int v = 0; v <= 255; ++v) {
            const A_u_char u = static_cast<A_u_char>(v);
            pixels.push_back(PF_Pixel{a, u, 0, 0});
            pixels.push_back(PF_Pixel{a, 0, u, 0});
            pixels.push_back(PF_Pixel{a, 0, 0, u});
            pixels.push_back(PF_Pixel{a, u, u, u});
            pixels.push_back(PF_Pixel{a, u, static_cast<A_u_char>(255 - v), static_cast<A_u_char>(v / 2)});
            pixels.push_back(PF_Pixel{a, 255, u, 17});
        }
    }
    // Degenerate parameters too: tables of NaNs and infinities.
    std::vector<std::pair<double, double>> sets = {{std::nan(""), 1.0}, {1.0, -1.0}, {1e300, 1.0}, {-1e300, 2.0}};
    for (double e : kExposures) {
        for (double g : kGammas) {
            sets.emplace_back(e, g);
        }
    }
    for (const auto& set : sets) {
        {
            const double e = set.first, g = set.second;
            const Converter c(param(0, e, g));
            const ExposureRows rows(c);
            for (bool vector : {true, false}) {
                expectRowMatches(
                    c, pixels,
                    [&](const PF_Pixel* s, PF_Pixel* d, std::ptrdiff_t n) { rows.convert8(c, s, d, n, vector); },
                    "8 bits, exposure " + std::to_string(e) + ", gamma " + std::to_string(g) +
                        (vector ? "" : ", portable"));
            }
        }
    }
}

// The 8-bit vector loop's lines through blocks of the table, with the blocks
// they miss patched from the table, over a grid of curves: every value in
// each channel, with opaque, partly transparent and transparent alphas.
TEST(ExposureRows, EightBitBlockLinesGiveEveryEntry) {
    std::vector<PF_Pixel> pixels;
    for (A_u_char a : {A_u_char{255}, A_u_char{0}, A_u_char{77}, A_u_char{254}}) {
        for (int v = 0; v <= 255; ++v) {
            const auto u = static_cast<A_u_char>(v);
            pixels.push_back(PF_Pixel{a, u, static_cast<A_u_char>(255 - v), static_cast<A_u_char>((v * 7) % 256)});
            pixels.push_back(PF_Pixel{a, static_cast<A_u_char>((v * 13) % 256), u, static_cast<A_u_char>(v / 3)});
        }
    }
    int lines = 0, sets = 0;
    for (int step = 0; step <= 15; ++step) {
        const double exposure = -6.0 + 0.83 * step;
        for (double gamma : {0.3, 0.8, 1.0, 1.2, 1.7, 2.4, 4.0}) {
            const Converter c(param(0, exposure, gamma));
            const ExposureRows rows(c);
            ++sets;
            lines += rows.lines8() ? 1 : 0;
            expectRowMatches(
                c, pixels, [&](const PF_Pixel* s, PF_Pixel* d, std::ptrdiff_t n) { rows.convert8(c, s, d, n); },
                "8 bits, exposure " + std::to_string(exposure) + ", gamma " + std::to_string(gamma));
        }
    }
    // Most curves take lines; which do depends only on the entries, not on
    // the processor.
    EXPECT_GT(lines, sets / 2);
    EXPECT_LT(lines, sets);
    // A moderate grade and a bright straight curve do; a very bright bent one
    // (most of its table flat at the top) keeps the shuffles.
    EXPECT_TRUE(ExposureRows(Converter(param(0, 0.5, 1.2))).lines8());
    EXPECT_TRUE(ExposureRows(Converter(param(0, 3.0, 1.0))).lines8());
    EXPECT_FALSE(ExposureRows(Converter(param(0, 8.0, 1.2))).lines8());
}

TEST(ExposureRows, EverySixteenBitValueInEachChannel) {
    const A_u_short alphas[] = {0, 1, 9000, 16384, 32767, 32768, 40000};
    std::vector<PF_Pixel16> pixels;
    for (int v = 0; v <= 32768; ++v) {
        const A_u_short u = static_cast<A_u_short>(v);
        const A_u_short a = alphas[v % 7];
        const A_u_short b = alphas[(v / 7) % 7];
        pixels.push_back(PF_Pixel16{a, u, 0, 0});
        pixels.push_back(PF_Pixel16{b, 0, u, 0});
        pixels.push_back(PF_Pixel16{a, 0, 0, u});
        pixels.push_back(PF_Pixel16{b, u, u, u});
        pixels.push_back(PF_Pixel16{a, u, static_cast<A_u_short>(32768 - v), 32768});
    }
    // Values outside the host's range read the last table entry.
    for (A_u_short u : {A_u_short(32769), A_u_short(50000), A_u_short(65535)}) {
        pixels.push_back(PF_Pixel16{32768, u, 0, 0});
        pixels.push_back(PF_Pixel16{100, 0, u, 7});
    }
    std::vector<std::pair<double, double>> sets = {{std::nan(""), 1.0}, {1.0, -1.0}, {1e300, 1.0}};
    for (double e : {-1.0, 0.0, 0.5, 1.0, 3.0}) {
        for (double g : {0.1, 1.0, 1.2, 10.0}) {
            sets.emplace_back(e, g);
        }
    }
    for (const auto& set : sets) {
        {
            const double e = set.first, g = set.second;
            const Converter c(param(1, e, g));
            const ExposureRows rows(c);
            for (bool vector : {true, false}) {
                expectRowMatches(
                    c, pixels,
                    [&](const PF_Pixel16* s, PF_Pixel16* d, std::ptrdiff_t n) { rows.convert16(c, s, d, n, vector); },
                    "16 bits, exposure " + std::to_string(e) + ", gamma " + std::to_string(g) +
                        (vector ? "" : ", portable"));
            }
        }
    }
}

// The exposure at gamma 1 whose curve v -> v 1.37035095691681^e first
// reaches `threshold` at index k: a gain between threshold / k and
// threshold / (k - 1), in the middle. k = the table's size gives a curve
// that never does.
double exposureFirstOverflowingAt(int k, double threshold) {
    const double gain = 0.5 * (threshold / k + threshold / (k - 1));
    return std::log(gain) / std::log(1.37035095691681);
}

int firstAtOrAbove(const std::vector<double>& table, double threshold) {
    const auto it = std::find_if(table.begin(), table.end(), [&](double v) { return v >= threshold; });
    return static_cast<int>(it - table.begin());
}

// Rows in which one colour channel takes each of `values`, with every alpha
// of `alphas`, after 0 to `shift` - 1 opaque black pixels so that each pixel
// meets every position of the vector loops' groups.
template <class P, class C>
std::vector<P> rowsAround(const std::vector<int>& values, std::initializer_list<C> alphas, int shift) {
    std::vector<P> pixels;
    for (int offset = 0; offset < shift; ++offset) {
        pixels.insert(pixels.end(), static_cast<std::size_t>(offset), P{*(alphas.end() - 1), 0, 0, 0});
        for (C a : alphas) {
            for (int v : values) {
                const auto u = static_cast<C>(v);
                const auto low = static_cast<C>(v / 3);
                pixels.push_back(P{a, u, low, 0});
                pixels.push_back(P{a, low, u, 0});
                pixels.push_back(P{a, 0, low, u});
                pixels.push_back(P{a, u, u, u});
            }
        }
    }
    return pixels;
}

// Converter and rows for each curve whose first entry at or above
// `threshold` lies at k = firstK..lastK, each row conversion against the
// converter over `pixels`, vector and portable loop.
template <class P, class Convert>
void sweepFirstOverflow(A_long bpc, double threshold, int firstK, int lastK, const std::vector<P>& pixels,
                        Convert convert) {
    for (int k = firstK; k <= lastK; ++k) {
        const Converter c(param(bpc, exposureFirstOverflowingAt(k, threshold), 1.0));
        ASSERT_EQ(firstAtOrAbove(c.getTable(), threshold), k);
        const ExposureRows rows(c);
        for (bool vector : {true, false}) {
            expectRowMatches(
                c, pixels, [&](const P* s, P* d, std::ptrdiff_t n) { convert(rows, c, s, d, n, vector); },
                std::to_string(8 << bpc) + " bits, first overflow at " + std::to_string(k) +
                    (vector ? "" : ", portable"));
        }
    }
}

// Curves whose first overflowing entry lies at each index near the top of
// the table, or nowhere (256, 32769): the vector loops compare whole groups
// of pixels against that index, and the last index is where a test of "at or
// above" against "above" differs.
TEST(ExposureRows, FirstOverflowAtEachIndexNearTheTop) {
    std::vector<int> values8, values16 = {65535};
    for (int v = 240; v <= 255; ++v) {
        values8.push_back(v);
    }
    for (int v = 32750; v <= 32769; ++v) {
        values16.push_back(v);
    }
    sweepFirstOverflow(0, 255.5, 250, 256, rowsAround<PF_Pixel, A_u_char>(values8, {0, 1, 128, 254, 255}, 32),
                       [](const ExposureRows& r, const Converter& c, const PF_Pixel* s, PF_Pixel* d, std::ptrdiff_t n,
                          bool vector) { r.convert8(c, s, d, n, vector); });
    sweepFirstOverflow(1, 32768.5, 32760, 32769,
                       rowsAround<PF_Pixel16, A_u_short>(values16, {0, 1, 16384, 32767, 32768}, 16),
                       [](const ExposureRows& r, const Converter& c, const PF_Pixel16* s, PF_Pixel16* d,
                          std::ptrdiff_t n, bool vector) { r.convert16(c, s, d, n, vector); });
}

// Floats from several families: footage values in 0..1, any bit pattern
// (negatives, subnormals, infinities and NaNs), values near 1 and the
// special values themselves.
float anyFloat(std::mt19937& rng) {
    static const float specials[] = {0.0f,
                                     -0.0f,
                                     1.0f,
                                     -1.0f,
                                     0.5f,
                                     2.0f,
                                     1e-45f,
                                     1e-38f,
                                     std::numeric_limits<float>::max(),
                                     std::numeric_limits<float>::infinity(),
                                     -std::numeric_limits<float>::infinity(),
                                     std::numeric_limits<float>::quiet_NaN(),
                                     -std::numeric_limits<float>::quiet_NaN()};
    const std::uint32_t kind = rng() % 16;
    if (kind < 9) {
        return static_cast<float>(rng() >> 8) * (1.0f / 16777216.0f);
    }
    if (kind < 12) {
        const std::uint32_t u = rng();
        float f;
        std::memcpy(&f, &u, sizeof f);
        return f;
    }
    if (kind < 14) {
        return 1.0f + (static_cast<float>(rng() % 2001) - 1000.0f) * 1e-7f;
    }
    if (kind < 15) {
        return static_cast<float>(rng() % 4000) * 0.001f; // over-range colour
    }
    return specials[rng() % (sizeof specials / sizeof specials[0])];
}

TEST(ExposureRows, FloatPixelsOverManyValuesAndSpecials) {
    std::mt19937 rng(20261207);
    const double exposures[] = {-1.0, 0.0, 0.5, 3.0};
    const double gammas[] = {0.1, 1.0, 1.2, 2.2, 10.0};
    const std::size_t sets = sizeof exposures / sizeof exposures[0] * (sizeof gammas / sizeof gammas[0]);
    std::vector<PF_PixelFloat> pixels(kFloatPixels * 6 / sets);
    for (double e : exposures) {
        for (double g : gammas) {
            for (PF_PixelFloat& p : pixels) {
                p = PF_PixelFloat{anyFloat(rng), anyFloat(rng), anyFloat(rng), anyFloat(rng)};
            }
            const Converter c(param(2, e, g));
            const ExposureRows rows(c);
            for (bool vector : {true, false}) {
                expectRowMatches(
                    c, pixels,
                    [&](const PF_PixelFloat* s, PF_PixelFloat* d, std::ptrdiff_t n) {
                        rows.convert32(c, s, d, n, vector);
                    },
                    "32 bits, exposure " + std::to_string(e) + ", gamma " + std::to_string(g) +
                        (vector ? "" : ", portable"));
            }
        }
    }
}

// The frame's powers, vector and portable loop, against powFloat itself, over
// exponents of the whole gamma range and beyond (outside |y| <= 32 every
// power is powFloat's own), in place as well.
TEST(ExposureRows, PowersOfARunEqualPowFloat) {
    std::mt19937 rng(99);
    std::vector<float> x(kFloatPixels / 4);
    for (float& v : x) {
        v = anyFloat(rng);
    }
    const float exponents[] = {0.1f,  1.0f / 2.2f, 1.0f / 1.2f, 1.0f,     1.5f,  2.0f,
                               10.0f, -0.5f,       0.0f,        0x1p-21f, 31.5f, 3000.0f};
    std::vector<float> vec(x.size()), portable(x.size());
    for (float y : exponents) {
        const Morvek::FixedPow power(y);
        const auto n = static_cast<std::ptrdiff_t>(x.size());
        power.apply(x.data(), vec.data(), n, true);
        power.apply(x.data(), portable.data(), n, false);
        std::vector<float> inPlace = x;
        power.apply(inPlace.data(), inPlace.data(), n, true);
        int reported = 0;
        for (std::size_t i = 0; i < x.size() && reported < 5; ++i) {
            const float want = Morvek::powFloat(x[i], y);
            // powFloat's own NaNs are fixed bits: no NaN exemption here.
            if (bitsOf(vec[i]) != bitsOf(want) || bitsOf(portable[i]) != bitsOf(want) ||
                bitsOf(inPlace[i]) != bitsOf(want)) {
                ++reported;
                ADD_FAILURE() << std::hexfloat << x[i] << "^" << y << ": vector " << vec[i] << ", portable "
                              << portable[i] << ", in place " << inPlace[i] << ", powFloat " << want;
            }
        }
    }
}

// Dense sweeps where footage lives: floats in [2^-12, 4) at a fixed stride
// (every exponent field, every position of the table's mantissa intervals),
// for the exponents of common gammas.
TEST(ExposureRows, PowersOverDenseFootageRange) {
#ifdef NDEBUG
    constexpr std::uint32_t kStride = 41;
#else
    constexpr std::uint32_t kStride = 4099;
#endif
    std::vector<float> x;
    for (std::uint32_t b = bitsOf(0x1p-12f); b < bitsOf(4.0f); b += kStride) {
        float f;
        std::memcpy(&f, &b, sizeof f);
        x.push_back(f);
    }
    std::vector<float> out(x.size());
    for (float y : {1.0f / 1.2f, 1.0f / 2.2f, 1.0f / 2.4f, 2.2f}) {
        const Morvek::FixedPow power(y);
        power.apply(x.data(), out.data(), static_cast<std::ptrdiff_t>(x.size()));
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (bitsOf(out[i]) != bitsOf(Morvek::powFloat(x[i], y)) && ++wrong <= 5) {
                ADD_FAILURE() << std::hexfloat << x[i] << "^" << y << ": " << out[i];
            }
        }
        EXPECT_EQ(wrong, 0u) << "exponent " << y << " over " << x.size() << " values";
    }
}

// Rows of every length 1..40 at every start 0..7 (so the vector loop's tail
// and unaligned loads are exercised), converted into a separate row and in
// place; pixels outside the row stay untouched.
TEST(ExposureRows, OddLengthsUnalignedStartsAndInPlace) {
    std::mt19937 rng(5);
    const Converter c(param(2, 0.5, 1.2));
    const ExposureRows rows(c);
    const PF_PixelFloat sentinel{-7.0f, -7.0f, -7.0f, -7.0f};
    for (int start = 0; start < 8; ++start) {
        for (int length = 1; length <= 40; ++length) {
            std::vector<PF_PixelFloat> src(48), dst(48, sentinel);
            for (PF_PixelFloat& p : src) {
                p = PF_PixelFloat{anyFloat(rng), anyFloat(rng), anyFloat(rng), anyFloat(rng)};
            }
            std::vector<PF_PixelFloat> inPlace = src;
            rows.convert32(c, src.data() + start, dst.data() + start, length);
            rows.convert32(c, inPlace.data() + start, inPlace.data() + start, length);
            for (int i = 0; i < 48; ++i) {
                if (i < start || i >= start + length) {
                    ASSERT_TRUE(samePixel(dst[i], sentinel)) << start << " " << length << " " << i;
                    ASSERT_TRUE(samePixel(inPlace[i], src[i]));
                    continue;
                }
                PF_PixelFloat want;
                c.convert(src[i], want);
                ASSERT_TRUE(samePixel(dst[i], want)) << describe(src[i]);
                ASSERT_TRUE(samePixel(inPlace[i], want)) << describe(src[i]);
            }
        }
    }
    // The integer depths in place as well.
    const Converter c8(param(0, 2.2, 1.0));
    const ExposureRows rows8(c8);
    std::vector<PF_Pixel> px8;
    px8.reserve(256);
    for (int v = 0; v < 256; ++v) {
        px8.push_back(PF_Pixel{static_cast<A_u_char>(255 - v), static_cast<A_u_char>(v), 90, 45});
    }
    std::vector<PF_Pixel> in8 = px8;
    rows8.convert8(c8, in8.data() + 3, in8.data() + 3, 250);
    for (int i = 0; i < 256; ++i) {
        PF_Pixel want = px8[i];
        if (i >= 3 && i < 253) {
            c8.convert(px8[i], want);
        }
        ASSERT_TRUE(samePixel(in8[i], want)) << i;
    }
}

// The first channel value whose entry reaches the overflow threshold (the
// table's size when none does), read off the converter's own table.
int firstOverflowing(const Converter& c, double threshold) {
    const std::vector<double>& t = c.getTable();
    std::size_t i = 0;
    while (i < t.size() && !(t[i] >= threshold)) {
        ++i;
    }
    return static_cast<int>(i);
}

// Rows in which overflowing and plain pixels, and alphas of 0, the top and
// in between, sit next to one another in every arrangement the groups of the
// vector loop can see: channel values at and around the first overflowing
// one, random lengths (past the 1024-pixel chunks too) and starts, converted
// into another row and in place, vector and portable loops; the pixels around
// the row stay untouched.
template <class P, class Convert>
void checkMixedRows(const Converter& c, int top, int first, int maxValue, Convert convert, const std::string& what) {
    std::mt19937 rng(static_cast<unsigned>(first * 7 + top));
    const int alphas[] = {0, 1, top / 2, top - 1, top, top, top, maxValue};
    auto channel = [&]() {
        switch (rng() % 4) {
        case 0:
            return static_cast<int>(rng() % static_cast<unsigned>(maxValue + 1));
        case 1:
            return std::max(0, std::min(maxValue, first + static_cast<int>(rng() % 5) - 2));
        case 2:
            return static_cast<int>(rng() % static_cast<unsigned>(std::max(1, first)));
        default:
            return std::min(maxValue, top);
        }
    };
    const P sentinel{7, 7, 7, 7};
    int failures = 0;
    for (int trial = 0; trial < 300 && failures < 5; ++trial) {
        const int start = static_cast<int>(rng() % 8);
        const int length = trial < 250 ? 1 + static_cast<int>(rng() % 70) : 900 + static_cast<int>(rng() % 2400);
        // Runs of one kind of pixel, so that whole groups agree or disagree.
        std::vector<P> src(static_cast<std::size_t>(start + length + 8), sentinel);
        for (int i = start; i < start + length;) {
            const int run = 1 + static_cast<int>(rng() % 20);
            const int a = alphas[rng() % 8];
            const bool same = rng() % 2 == 0;
            const P base{static_cast<decltype(P::alpha)>(a), static_cast<decltype(P::red)>(channel()),
                         static_cast<decltype(P::green)>(channel()), static_cast<decltype(P::blue)>(channel())};
            for (int k = 0; k < run && i < start + length; ++k, ++i) {
                src[static_cast<std::size_t>(i)] =
                    same ? base
                         : P{static_cast<decltype(P::alpha)>(alphas[rng() % 8]),
                             static_cast<decltype(P::red)>(channel()), static_cast<decltype(P::green)>(channel()),
                             static_cast<decltype(P::blue)>(channel())};
            }
        }
        for (bool vector : {true, false}) {
            std::vector<P> dst(src.size(), sentinel);
            std::vector<P> inPlace = src;
            convert(src.data() + start, dst.data() + start, length, vector);
            convert(inPlace.data() + start, inPlace.data() + start, length, vector);
            for (std::size_t i = 0; i < src.size(); ++i) {
                P want = src[i];
                P wantOut = sentinel;
                if (static_cast<int>(i) >= start && static_cast<int>(i) < start + length) {
                    c.convert(src[i], want);
                    wantOut = want;
                }
                if (!samePixel(dst[i], wantOut) || !samePixel(inPlace[i], want)) {
                    ADD_FAILURE() << what << (vector ? "" : ", portable") << ": pixel " << i << " of row (start "
                                  << start << ", length " << length << ") source " << describe(src[i]) << " gives "
                                  << describe(dst[i]) << " / in place " << describe(inPlace[i]) << ", converter "
                                  << describe(want);
                    if (++failures == 5) {
                        return;
                    }
                }
            }
        }
    }
}

TEST(ExposureRows, MixedRowsAroundTheOverflowIndex) {
    // Typical, overexposed, no overflow at all, every value overflowing, a
    // decreasing curve (negative gamma) and a table of NaNs.
    const std::pair<double, double> sets[] = {{0.5, 1.2},  {3.0, 1.0},          {-1.0, 1.0}, {8.0, 0.1},
                                              {1.0, -1.0}, {std::nan(""), 1.0}, {0.0, 2.2}};
    for (const auto& set : sets) {
        const std::string what = "exposure " + std::to_string(set.first) + ", gamma " + std::to_string(set.second);
        {
            const Converter c(param(0, set.first, set.second));
            const ExposureRows rows(c);
            checkMixedRows<PF_Pixel>(
                c, 255, firstOverflowing(c, 255.5), 255,
                [&](const PF_Pixel* s, PF_Pixel* d, std::ptrdiff_t n, bool v) { rows.convert8(c, s, d, n, v); },
                "8 bits, " + what);
        }
        {
            const Converter c(param(1, set.first, set.second));
            const ExposureRows rows(c);
            checkMixedRows<PF_Pixel16>(
                c, 32768, firstOverflowing(c, 32768.5), 65535,
                [&](const PF_Pixel16* s, PF_Pixel16* d, std::ptrdiff_t n, bool v) { rows.convert16(c, s, d, n, v); },
                "16 bits, " + what);
        }
    }
}

// At gamma 1 the 16-bit curve is a straight line, which the vector loop
// computes instead of looking up. Over a wide range of exposures the line
// must be found, and every value in each channel (out-of-range ones
// included), with opaque, partly transparent and transparent alphas, must
// come out as the converter has it.
TEST(ExposureRows, SixteenBitStraightCurvesComputedExactly) {
    std::vector<PF_Pixel16> pixels;
    const A_u_short alphas[] = {32768, 32768, 0, 12345, 32767};
    for (int v = 0; v <= 65535; ++v) {
        const auto u = static_cast<A_u_short>(v);
        const auto w = static_cast<A_u_short>(65535 - v);
        pixels.push_back(PF_Pixel16{alphas[v % 5], u, static_cast<A_u_short>(v / 2), w});
        pixels.push_back(PF_Pixel16{alphas[(v / 5) % 5], w, u, static_cast<A_u_short>(v % 32769)});
    }
    int linear = 0, sets = 0;
    for (int step = 0; step <= 27; ++step) {
        const double e = -10.0 + 0.73 * step;
        for (double exposure : {e, std::round(e)}) {
            const Converter c(param(1, exposure, 1.0));
            const ExposureRows rows(c);
            ++sets;
            linear += rows.linear16() ? 1 : 0;
            expectRowMatches(
                c, pixels, [&](const PF_Pixel16* s, PF_Pixel16* d, std::ptrdiff_t n) { rows.convert16(c, s, d, n); },
                "16 bits, gamma 1, exposure " + std::to_string(exposure));
        }
    }
    // A line exists for all of them; the vector loop only takes it with AVX2,
    // but whether it is found does not depend on the processor.
    EXPECT_EQ(linear, sets);
    // A bent curve has none.
    const Converter bent(param(1, 0.5, 1.2));
    EXPECT_FALSE(ExposureRows(bent).linear16());
}

// A long row in which every pixel is partly transparent and overflows: each
// chunk sets all of its pixels aside.
TEST(ExposureRows, RowsOfOnlyOverflowingPartlyTransparentPixels) {
    const Converter c8(param(0, 3.0, 1.0));
    const ExposureRows rows8(c8);
    std::vector<PF_Pixel> px8;
    px8.reserve(1000);
    for (int i = 0; i < 1000; ++i) {
        px8.push_back(PF_Pixel{static_cast<A_u_char>(1 + i % 254), static_cast<A_u_char>(200 + i % 56),
                               static_cast<A_u_char>(i % 256), 120});
    }
    for (bool vector : {true, false}) {
        expectRowMatches(
            c8, px8, [&](const PF_Pixel* s, PF_Pixel* d, std::ptrdiff_t n) { rows8.convert8(c8, s, d, n, vector); },
            "8 bits, all overflowing");
    }
    const Converter c16(param(1, 3.0, 1.0));
    const ExposureRows rows16(c16);
    std::vector<PF_Pixel16> px16;
    px16.reserve(1000);
    for (int i = 0; i < 1000; ++i) {
        px16.push_back(PF_Pixel16{static_cast<A_u_short>(1 + i * 31 % 32767), static_cast<A_u_short>(20000 + i),
                                  static_cast<A_u_short>(i * 37), 32768});
    }
    for (bool vector : {true, false}) {
        expectRowMatches(
            c16, px16,
            [&](const PF_Pixel16* s, PF_Pixel16* d, std::ptrdiff_t n) { rows16.convert16(c16, s, d, n, vector); },
            "16 bits, all overflowing");
    }
}

// A worked pixel, by hand: 8 bits, exposure 2.2, gamma 1, (200, 180, 90, 45):
// the brightest channel is 180 * 1.99999991 (about 360) >= 255.5, alpha rises
// to 255 (capped), k = 200/255, giving (255, 255, 141, 71); a pixel below the
// threshold, (77, 100, 50, 25), keeps its alpha: (77, 200, 100, 50).
TEST(ExposureRows, WorkedEightBitPixels) {
    const Converter c(param(0, 2.2, 1.0));
    const ExposureRows rows(c);
    const PF_Pixel src[2] = {{200, 180, 90, 45}, {77, 100, 50, 25}};
    PF_Pixel dst[2];
    rows.convert8(c, src, dst, 2);
    EXPECT_EQ(describe(dst[0]), "255,255,141,71");
    EXPECT_EQ(describe(dst[1]), "77,200,100,50");
}

} // namespace
