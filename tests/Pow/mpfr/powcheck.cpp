// morvek-powcheck: checks Morvek::powFloat, the frame powers of Morvek::FixedPow
// and Morvek::powDouble against MPFR.
//
//   morvek-powcheck --tables             write MorvekPowTables.h to stdout
//   morvek-powcheck --full               every float in [0, 1] and 2^24 random
//                                        floats above 1, for each exponent
//   morvek-powcheck --sample [N]         every N-th float in [0, 1] (default
//                                        4099) and 2^14 above 1; the CI run
//   options: --exponent Y (repeatable) replaces the exponent list;
//            --no-double skips the double power's table inputs
//
// A float result is checked against MPFR directly where the double result of
// the C library's pow (error below one double ulp) lies within 2^-48 of a
// float rounding boundary, and against that double rounded to float
// elsewhere (which then is the correctly rounded value); --mpfr-all sends
// every input to MPFR. Exits 1 on the first few mismatches, printed.
#include "MorvekFixedPow.h"
#include "MorvekPow.h"
#include "PowTablesGen.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mpfr.h>
#include <random>
#include <string>
#include <vector>

namespace {

std::uint32_t bitsOf(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}
float floatOf(std::uint32_t u) {
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}
std::uint64_t bitsOf(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

struct Mpfr {
    mpfr_t x, y, r24, r53;
    Mpfr() {
        mpfr_init2(x, 64);
        mpfr_init2(y, 64);
        mpfr_init2(r24, 24);
        mpfr_init2(r53, 53);
    }
    ~Mpfr() { mpfr_clears(x, y, r24, r53, static_cast<mpfr_ptr>(nullptr)); }
    // x^y correctly rounded to float, subnormals included.
    float powFloat(float a, float b) {
        mpfr_set_emin(-148);
        mpfr_set_emax(128);
        mpfr_set_flt(x, a, MPFR_RNDN);
        mpfr_set_flt(y, b, MPFR_RNDN);
        const int inex = mpfr_pow(r24, x, y, MPFR_RNDN);
        mpfr_subnormalize(r24, inex, MPFR_RNDN);
        const float f = mpfr_get_flt(r24, MPFR_RNDN);
        mpfr_set_emin(mpfr_get_emin_min());
        mpfr_set_emax(mpfr_get_emax_max());
        return f;
    }
    double powDouble(double a, double b) {
        mpfr_set_emin(-1073);
        mpfr_set_emax(1024);
        mpfr_set_d(x, a, MPFR_RNDN);
        mpfr_set_d(y, b, MPFR_RNDN);
        const int inex = mpfr_pow(r53, x, y, MPFR_RNDN);
        mpfr_subnormalize(r53, inex, MPFR_RNDN);
        const double d = mpfr_get_d(r53, MPFR_RNDN);
        mpfr_set_emin(mpfr_get_emin_min());
        mpfr_set_emax(mpfr_get_emax_max());
        return d;
    }
};

bool sameBits(float a, float b) {
    return bitsOf(a) == bitsOf(b) || (std::isnan(a) && std::isnan(b));
}

struct Checker {
    Mpfr mpfr;
    bool mpfrAll = false;
    long long checked = 0, viaMpfr = 0, failures = 0;

    float reference(float x, float y) {
        if (!mpfrAll && std::isfinite(x) && x > 0.0f) {
            const double d = std::pow(static_cast<double>(x), static_cast<double>(y));
            if (d >= 0x1p-126 && d < 0x1p127) {
                // A float midpoint has the low 29 bits of the double at 2^28.
                const std::uint64_t low = bitsOf(d) & 0x1FFFFFFFull;
                const std::uint64_t dist = low > 0x10000000ull ? low - 0x10000000ull : 0x10000000ull - low;
                if (dist > 64) {
                    return static_cast<float>(d);
                }
            }
        }
        ++viaMpfr;
        return mpfr.powFloat(x, y);
    }

    // powFloat(x, y) and the frame powers' results for x (vector and portable
    // loop) against the correctly rounded value.
    void check(float x, float y, float fixedVector, float fixedPortable) {
        ++checked;
        const float got = Morvek::powFloat(x, y);
        const float want = reference(x, y);
        const struct {
            const char* name;
            float value;
        } results[] = {{"powFloat", got}, {"FixedPow vector", fixedVector}, {"FixedPow portable", fixedPortable}};
        for (const auto& result : results) {
            if (!sameBits(result.value, want)) {
                if (++failures <= 20) {
                    std::printf("MISMATCH %s(%a, %a) = %a, correctly rounded %a\n", result.name, x, y, result.value,
                                want);
                }
            }
        }
    }
};

std::vector<float> defaultExponents() {
    // 1/gamma in single precision over the slider range, and a few others.
    std::vector<float> ys;
    const double gammas[] = {0.1, 0.25, 0.3, 0.45, 0.5, 0.8, 1.2, 1.5, 1.8, 2.0, 2.2, 2.4, 3.0, 4.5, 7.0, 10.0};
    for (double g : gammas) {
        ys.push_back(static_cast<float>(1.0 / g));
    }
    ys.push_back(0.41666666f); // 1/2.4 as colour pipelines write it
    ys.push_back(3.0f);
    return ys;
}

int runFloat(Checker& c, const std::vector<float>& ys, std::uint32_t stride, std::uint32_t randomAbove) {
    std::mt19937 rng(12345);
    for (float y : ys) {
        const long long before = c.failures;
        const long long checkedBefore = c.checked;
        // Every stride-th float of [0, 1] (bit patterns 0 .. 0x3F800000), 1
        // itself and random floats above 1 up to the largest float, in
        // batches through the frame powers as well.
        const Morvek::FixedPow fixed(y);
        std::vector<float> xs, vec, portable;
        auto flush = [&] {
            vec.resize(xs.size());
            portable.resize(xs.size());
            const auto n = static_cast<std::ptrdiff_t>(xs.size());
            fixed.apply(xs.data(), vec.data(), n, true);
            fixed.apply(xs.data(), portable.data(), n, false);
            for (std::size_t i = 0; i < xs.size(); ++i) {
                c.check(xs[i], y, vec[i], portable[i]);
            }
            xs.clear();
        };
        auto add = [&](float x) {
            xs.push_back(x);
            if (xs.size() == 4096) {
                flush();
            }
        };
        for (std::uint64_t u = 0; u <= 0x3F800000u; u += stride) {
            add(floatOf(static_cast<std::uint32_t>(u)));
        }
        add(1.0f);
        std::uniform_int_distribution<std::uint32_t> above(0x3F800001u, 0x7F7FFFFFu);
        for (std::uint32_t i = 0; i < randomAbove; ++i) {
            add(floatOf(above(rng)));
        }
        flush();
        std::printf("exponent %a (%.9g): %lld inputs, %lld mismatches\n", y, y, c.checked - checkedBefore,
                    c.failures - before);
        std::fflush(stdout);
    }
    // Special values against the C library.
    const float specials[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.0f, -2.0f, 0.5f, -0.5f, INFINITY, -INFINITY, NAN};
    const float exps[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.0f, 3.0f, -3.0f, 0.5f, -0.5f, INFINITY, -INFINITY, NAN, 1e-30f};
    for (float x : specials) {
        for (float y : exps) {
            const float got = Morvek::powFloat(x, y);
            const float want = std::pow(x, y);
            ++c.checked;
            if (!sameBits(got, want)) {
                ++c.failures;
                std::printf("SPECIAL powFloat(%a, %a) = %a, powf gives %a\n", x, y, got, want);
            }
        }
    }
    return c.failures == 0 ? 0 : 1;
}

// The double power on the table inputs of the 8- and 16-bit curves, against
// MPFR and against the C library's pow.
int runDouble(Mpfr& m, int gammaSteps) {
    long long failures = 0, differsFromLibm = 0, checked = 0;
    for (int s = 0; s <= gammaSteps; ++s) {
        // Gammas 0.1 .. 10, evenly in log scale, plus the round values.
        const double gamma = std::exp(std::log(0.1) + (std::log(100.0) * s) / gammaSteps);
        for (double g : {gamma, std::round(gamma * 10.0) / 10.0}) {
            if (g < 0.1 || g > 10.0) {
                continue;
            }
            const double y = 1.0 / g;
            for (int i = 0; i <= 32768 + 255; ++i) {
                const double x = i <= 255 ? i / 255.0 : (i - 255) * 3.0517578125e-05;
                const double got = Morvek::powDouble(x, y);
                const double want = m.powDouble(x, y);
                ++checked;
                if (bitsOf(got) != bitsOf(want)) {
                    if (++failures <= 20) {
                        std::printf("MISMATCH powDouble(%a, %a) = %a, correctly rounded %a\n", x, y, got, want);
                    }
                }
                if (bitsOf(std::pow(x, y)) != bitsOf(want)) {
                    ++differsFromLibm;
                }
            }
        }
    }
    std::printf("powDouble: %lld table inputs, %lld mismatches (the C library's pow differs from MPFR on %lld)\n",
                checked, failures, differsFromLibm);
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    bool full = false, sample = false, tables = false, mpfrAll = false, doubles = true;
    std::uint32_t stride = 4099;
    std::vector<float> ys;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--tables") {
            tables = true;
        } else if (a == "--full") {
            full = true;
        } else if (a == "--sample") {
            sample = true;
            if (i + 1 < argc && argv[i + 1][0] != '-') {
                stride = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
            }
        } else if (a == "--no-double") {
            doubles = false;
        } else if (a == "--mpfr-all") {
            mpfrAll = true;
        } else if (a == "--exponent" && i + 1 < argc) {
            ys.push_back(std::strtof(argv[++i], nullptr));
        } else {
            std::fprintf(stderr,
                         "usage: %s --tables | --full | --sample [N] [--mpfr-all] [--no-double] [--exponent Y]...\n",
                         argv[0]);
            return 2;
        }
    }
    if (tables) {
        powcheck::writeTables(stdout);
        return 0;
    }
    if (!full && !sample) {
        sample = true;
    }
    if (ys.empty()) {
        ys = defaultExponents();
    }
    Checker c;
    c.mpfrAll = mpfrAll;
    int rc = runFloat(c, ys, full ? 1u : (stride == 0 ? 1u : stride), full ? (1u << 24) : (1u << 14));
    std::printf("powFloat: %lld inputs (%lld through MPFR), %lld mismatches\n", c.checked, c.viaMpfr, c.failures);
    if (doubles) {
        rc |= runDouble(c.mpfr, full ? 400 : 6);
    }
    return rc;
}
