// Platform-independent power functions: x^y = 2^(y log2 x) through a table of
// 128 logarithms and 128 powers of 2^(1/128), evaluated in double precision
// (quick path) or in double-double precision (accurate path), then rounded.
// Only +, -, * and / on doubles are used, in a fixed order, so the bits do not
// depend on the platform's math library.
#include "MorvekPow.h"
#include "MorvekBits.h"

#include "MorvekPowTables.h"

#include <cmath>
#include <cstdint>
#include <limits>

// The error-free transformations below rely on every product being rounded
// on its own.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#endif

namespace Morvek {

namespace {

using namespace PowTables;

// 2^n for -1022 <= n <= 1023, exactly.
double pow2(int n) {
    return Bits::toDouble(static_cast<std::uint64_t>(n + 1023) << 52);
}
// d * 2^n, exact whenever the result is a normal double; two steps keep the
// factors representable.
double scale2(double d, int n) {
    if (n > 1000) {
        return d * pow2(1000) * pow2(n - 1000);
    }
    if (n < -1000) {
        return d * pow2(-1000) * pow2(n + 1000);
    }
    return d * pow2(n);
}

// Nearest integer (ties away from zero), for |d| < 2^31.
double roundNearest(double d) {
    const double r = static_cast<double>(static_cast<std::int64_t>(d + (d < 0.0 ? -0.5 : 0.5)));
    return r;
}

// ---- Double-double arithmetic: value = hi + lo, |lo| <= ulp(hi) / 2.
struct DD {
    double hi, lo;
};

DD twoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    const double e = (a - (s - bb)) + (b - bb);
    return {s, e};
}
DD fastTwoSum(double a, double b) { // |a| >= |b| or a == 0
    const double s = a + b;
    const double e = b - (s - a);
    return {s, e};
}
// Veltkamp's split: hi has 26 significant bits, lo the rest.
void split(double a, double& hi, double& lo) {
    const double c = 134217729.0 * a;
    hi = c - (c - a);
    lo = a - hi;
}
// Dekker's exact product: a * b = hi + lo.
DD twoProd(double a, double b) {
    const double p = a * b;
    double ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    const double e = (((ah * bh - p) + ah * bl) + al * bh) + al * bl;
    return {p, e};
}
DD add(DD a, DD b) {
    DD s = twoSum(a.hi, b.hi);
    const DD t = twoSum(a.lo, b.lo);
    s.lo += t.hi;
    s = fastTwoSum(s.hi, s.lo);
    s.lo += t.lo;
    return fastTwoSum(s.hi, s.lo);
}
DD mul(DD a, DD b) {
    DD p = twoProd(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return fastTwoSum(p.hi, p.lo);
}
DD mulD(DD a, double b) {
    DD p = twoProd(a.hi, b);
    p.lo += a.lo * b;
    return fastTwoSum(p.hi, p.lo);
}

// ln x for a finite x > 0, relative error below 2^-100 (absolute below
// 2^-100 near x = 1). x = 2^e m with m in [1, 2); m = (1 + r) / invC for the
// table entry of m's top 7 fraction bits, |r| < 2^-8, and
// ln x = e ln 2 - ln invC + ln(1 + r).
DD logDD(double x) {
    int e = 0;
    std::uint64_t bits = Bits::of(x);
    if ((bits >> 52) == 0) { // subnormal
        x *= pow2(54);
        e = -54;
        bits = Bits::of(x);
    }
    e += static_cast<int>(bits >> 52) - 1023;
    const double m = Bits::toDouble((bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
    LogEntry entry = kLog[(bits >> 45) & 127];
    DD r;
    if (x > 1.0 - 0x1p-8 && x < 1.0 + 0x1p-8) {
        // Near 1 the logarithm is small: take r = x - 1 (exact) and no table
        // term, which would cancel against ln(1 + r).
        e = 0;
        entry = LogEntry{1.0, 0.0, 0.0, 0.0};
        r = DD{x - 1.0, 0.0};
    } else {
        const DD p = twoProd(m, entry.invC);
        r = fastTwoSum(p.hi - 1.0, p.lo); // p.hi - 1 is exact
    }
    // ln(1 + r) = r - r^2/2 + r^3/3 - ...: the terms from r^6 on in double.
    double tail = kLog1pTail[7];
    for (int k = 6; k >= 0; --k) {
        tail = tail * r.hi + kLog1pTail[k];
    }
    DD h{tail, 0.0};
    h = add(mul(h, r), DD{kFifthHi, kFifthLo});
    h = add(mul(h, r), DD{-0.25, 0.0});
    h = add(mul(h, r), DD{kThirdHi, kThirdLo});
    h = add(mul(h, r), DD{-0.5, 0.0});
    h = add(mul(h, r), DD{1.0, 0.0});
    h = mul(h, r);

    const double ed = e;
    DD el = twoSum(ed * kLn2A, ed * kLn2B); // both products exact
    el = add(el, DD{ed * kLn2C, 0.0});
    return add(add(el, DD{entry.lnHi, entry.lnLo}), h);
}

// exp(t) = (hi + lo) * 2^scale for |t| <= 760: t = k ln2/128 + u with
// |u| <= ln2/256, exp(t) = 2^(k/128) exp(u).
DD expDD(DD t, int& scale) {
    const double kd = roundNearest(t.hi * k128ByLn2);
    const int k = static_cast<int>(kd);
    DD u = twoSum(t.hi - kd * kLn2By128A, -(kd * kLn2By128B)); // exact steps
    u = add(u, DD{t.lo, 0.0});
    const DD c = twoProd(kd, kLn2By128C);
    u = add(u, DD{-c.hi, -c.lo});

    double tail = kExpTail[5];
    for (int i = 4; i >= 0; --i) {
        tail = tail * u.hi + kExpTail[i];
    }
    DD p{tail, 0.0};
    p = add(mul(p, u), DD{kInvFact5Hi, kInvFact5Lo});
    p = add(mul(p, u), DD{kInvFact4Hi, kInvFact4Lo});
    p = add(mul(p, u), DD{kInvFact3Hi, kInvFact3Lo});
    p = add(mul(p, u), DD{0.5, 0.0});
    p = add(mul(p, u), DD{1.0, 0.0});
    p = add(mul(p, u), DD{1.0, 0.0});

    const int j = k & 127;
    scale = (k - j) / 128;
    return mul(p, DD{kExp[j].hi, kExp[j].lo});
}

// Relative error bound of the double-double result, with a wide margin.
constexpr double kAccurateError = 0x1p-95;

enum class Range { inRange, overflow, underflow };

// x^y = (hi + lo) * 2^scale for finite x > 0, x != 1, finite y != 0; or the
// direction of a result far outside every floating-point range.
Range powCore(double x, double y, DD& result, int& scale) {
    const DD lnx = logDD(x);
    const double estimate = lnx.hi * y;
    if (estimate > 760.0) {
        return Range::overflow;
    }
    if (estimate < -760.0) {
        return Range::underflow;
    }
    result = expDD(mulD(lnx, y), scale);
    return Range::inRange;
}

// ---- Exact results. x^y is a dyadic rational only when x = X 2^e (X odd)
// and y = Y / 2^k (Y odd) with X a perfect 2^k-th power W^(2^k) and 2^k
// dividing e, or X = 1 and 2^k dividing e; then x^y = W^Y 2^(eY/2^k). Those
// with W^Y below 2^128 are the only ones that can lie on or extremely near a
// rounding boundary.
struct U128 {
    std::uint64_t hi, lo;
};

bool mulU128(U128& a, std::uint64_t b) {
    const std::uint64_t mask = 0xFFFFFFFFull;
    const std::uint64_t parts[4] = {a.lo & mask, a.lo >> 32, a.hi & mask, a.hi >> 32};
    std::uint64_t out[4] = {0, 0, 0, 0};
    const std::uint64_t b0 = b & mask, b1 = b >> 32;
    for (int i = 0; i < 4; ++i) {
        std::uint64_t carry = 0;
        for (int jj = 0; jj < 2; ++jj) {
            const int pos = i + jj;
            const std::uint64_t prod = parts[i] * (jj == 0 ? b0 : b1);
            if (pos >= 4) {
                if (prod != 0 || carry != 0) {
                    return false;
                }
                continue;
            }
            const std::uint64_t sum = out[pos] + (prod & mask) + carry;
            out[pos] = sum & mask;
            carry = (sum >> 32) + (prod >> 32);
        }
        for (int pos = i + 2; carry != 0; ++pos) {
            if (pos >= 4) {
                return false;
            }
            const std::uint64_t sum = out[pos] + carry;
            out[pos] = sum & mask;
            carry = sum >> 32;
        }
    }
    a.lo = out[0] | (out[1] << 32);
    a.hi = out[2] | (out[3] << 32);
    return true;
}

int highestBit(std::uint64_t v) {
    int b = -1;
    while (v != 0) {
        v >>= 1;
        ++b;
    }
    return b;
}

std::uint64_t isqrtExact(std::uint64_t v, bool& exact) {
    std::uint64_t s = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(v)));
    while (s > 0 && s * s > v) {
        --s;
    }
    while ((s + 1) * (s + 1) <= v) {
        ++s;
    }
    exact = s * s == v;
    return s;
}

// Decomposes a finite nonzero double into odd * 2^exp.
void oddPart(double d, std::uint64_t& odd, int& exp) {
    std::uint64_t bits = Bits::of(d) & 0x7FFFFFFFFFFFFFFFull;
    int e = static_cast<int>(bits >> 52);
    std::uint64_t mant = bits & 0x000FFFFFFFFFFFFFull;
    if (e == 0) {
        e = 1;
    } else {
        mant |= 0x0010000000000000ull;
    }
    exp = e - 1075;
    while ((mant & 1) == 0) {
        mant >>= 1;
        ++exp;
    }
    odd = mant;
}

// x^y = n * 2^e exactly, with n < 2^128; x > 0 finite, y finite nonzero.
bool exactPow(double x, double y, U128& n, long long& e) {
    std::uint64_t X, Y;
    int ex, ey;
    oddPart(x, X, ex);
    oddPart(y, Y, ey); // |y| = Y 2^ey
    const bool negative = y < 0.0;
    n = U128{0, 1};
    if (X == 1) {
        // x = 2^ex: x^y = 2^(ex y), exact when ex y is an integer.
        if (ey >= 0) {
            if (ey > 20 || Y > (1ull << 20) || (Y << ey) > (1ull << 20)) {
                return false; // far outside every range
            }
            e = static_cast<long long>(ex) * static_cast<long long>(Y << ey);
        } else {
            const int k = -ey;
            if (k > 11 || ex % (1 << k) != 0 || Y > (1ull << 40)) {
                return false;
            }
            e = static_cast<long long>(ex / (1 << k)) * static_cast<long long>(Y);
        }
        if (negative) {
            e = -e;
        }
        return true;
    }
    if (negative) {
        return false; // 1 / X^|y| is not dyadic
    }
    std::uint64_t W = X;
    std::uint64_t power = Y;
    long long exPart = ex;
    if (ey >= 0) {
        // Integral y: X^y below 2^128 needs y < 128.
        if (ey > 7 || (Y << ey) >= 128) {
            return false;
        }
        power = Y << ey;
    } else {
        const int k = -ey;
        if (k > 5 || Y >= 128 || ex % (1 << k) != 0) {
            return false;
        }
        for (int i = 0; i < k; ++i) {
            bool exact = false;
            W = isqrtExact(W, exact);
            if (!exact) {
                return false;
            }
        }
        exPart = ex / (1 << k);
    }
    for (std::uint64_t i = 0; i < power; ++i) {
        if (!mulU128(n, W)) {
            return false;
        }
    }
    e = exPart * static_cast<long long>(power);
    return true;
}

// n * 2^e rounded to nearest, ties to even, to `precision` bits with the
// smallest normal exponent `minExp` (subnormals below it); returned as a
// double that the target format holds exactly (or an infinity).
double roundDyadic(U128 n, long long e, int precision, int minExp, int maxExp) {
    // Shift into 64 bits, keeping a sticky bit for whatever falls off.
    std::uint64_t v = n.lo;
    if (n.hi != 0) {
        const int shift = highestBit(n.hi) + 1; // 1..64
        if (shift == 64) {
            v = n.hi | (n.lo != 0 ? 1 : 0);
        } else {
            const std::uint64_t lost = n.lo & ((1ull << shift) - 1);
            v = (n.lo >> shift) | (n.hi << (64 - shift)) | (lost != 0 ? 1 : 0);
        }
        e += shift;
    }
    const int msb = highestBit(v);
    const long long topExp = msb + e; // value in [2^topExp, 2^(topExp+1))
    if (topExp > maxExp) {
        return std::numeric_limits<double>::infinity();
    }
    long long bitsKept = precision;
    if (topExp < minExp) {
        bitsKept = precision - (minExp - topExp);
    }
    long long drop = msb + 1 - bitsKept; // low bits to round off
    if (drop > 64) {
        return 0.0;
    }
    std::uint64_t q = v;
    if (drop > 0) {
        const std::uint64_t rem = drop == 64 ? v : v & ((1ull << drop) - 1);
        const std::uint64_t half = 1ull << (drop - 1);
        q = drop == 64 ? 0 : v >> drop;
        if (rem > half || (rem == half && (q & 1) != 0)) {
            ++q;
        }
        e += drop;
    }
    if (q == 0) {
        return 0.0;
    }
    // q has at most precision + 1 bits: exact in double.
    const double result = scale2(static_cast<double>(q), static_cast<int>(e));
    const int resultExp = static_cast<int>((Bits::of(result) >> 52) & 0x7FF) - 1023;
    if (resultExp > maxExp) {
        return std::numeric_limits<double>::infinity();
    }
    return result;
}

// ---- Rounding the double-double result.

// To single precision. Sets `ambiguous` when the error bound straddles a
// rounding boundary.
float roundToFloat(DD v, int scale, bool& ambiguous) {
    ambiguous = false;
    if (scale < -300) {
        return 0.0f;
    }
    if (scale > 300) {
        return std::numeric_limits<float>::infinity();
    }
    const double h = scale2(v.hi, scale);
    const double l = scale2(v.lo, scale);
    // Beyond the largest float the conversion would be undefined: the
    // rounding there is between the largest float and infinity.
    const float f = h < 0x1.fffffep127 ? static_cast<float>(h) : std::numeric_limits<float>::infinity();
    const double fd = f;
    if (fd == h) {
        return f;
    }
    // The neighbour of f on h's side, and the midpoint between them.
    double gd;
    float g;
    if (h > fd) {
        g = Bits::toFloat(Bits::of(f) + 1u);
        gd = (Bits::of(f) == 0x7F7FFFFFu) ? 0x1p128 : static_cast<double>(g);
    } else if (Bits::of(f) == 0x7F800000u) {
        // Rounded up to infinity: the boundary is half an ulp above the
        // largest float (a tie goes to infinity, the even side).
        const double d = (h - 0x1.ffffffp127) + l;
        if ((d < 0.0 ? -d : d) <= kAccurateError * h) {
            ambiguous = true;
        }
        return d >= 0.0 ? f : std::numeric_limits<float>::max();
    } else {
        g = Bits::of(f) == 0 ? 0.0f : Bits::toFloat(Bits::of(f) - 1u);
        gd = g;
    }
    const double mid = fd + (gd - fd) * 0.5;
    const double d = (h - mid) + l; // h - mid is exact
    if ((d < 0.0 ? -d : d) <= kAccurateError * h) {
        ambiguous = true;
    }
    const bool towardG = (gd > fd) ? d > 0.0 : d < 0.0;
    return towardG ? g : f;
}

// To double precision; results in the subnormal range are rounded once from
// the high part.
double roundToDouble(DD v, int scale, bool& ambiguous) {
    ambiguous = false;
    const int topExp = static_cast<int>((Bits::of(v.hi) >> 52) & 0x7FF) - 1023 + scale;
    if (topExp > 1023) {
        return std::numeric_limits<double>::infinity();
    }
    if (topExp < -1022) {
        return topExp < -1080 ? 0.0 : scale2(v.hi, scale);
    }
    const double h = scale2(v.hi, scale);
    const double l = scale2(v.lo, scale);
    if (l == 0.0) {
        return h;
    }
    const double n = Bits::toDouble(l > 0.0 ? Bits::of(h) + 1 : Bits::of(h) - 1);
    const double half = (n - h) * 0.5;
    const double d = l - half;
    if ((d < 0.0 ? -d : d) <= kAccurateError * h) {
        ambiguous = true;
    }
    return h;
}

// The quick path of powDouble for a normal x > 0 (x != 1) and |y| <= 1024:
// x^y to about 70 bits (the small terms of the series in plain double), with
// relative error below (|y| + 1) 2^-69. True with the rounded result when
// that bound decides the rounding; false when the accurate path must.
bool quickDouble(double x, double y, double& result) {
    const std::uint64_t bits = Bits::of(x);
    if ((bits >> 52) == 0) {
        return false;
    }
    double ed = static_cast<double>(static_cast<int>(bits >> 52) - 1023);
    double lnHi = 0.0, lnLo = 0.0;
    DD r;
    if (x > 1.0 - 0x1p-8 && x < 1.0 + 0x1p-8) {
        ed = 0.0;
        r = DD{x - 1.0, 0.0};
    } else {
        const double m = Bits::toDouble((bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
        const LogEntry& entry = kLog[(bits >> 45) & 127];
        const DD p = twoProd(m, entry.invC);
        r = fastTwoSum(p.hi - 1.0, p.lo);
        lnHi = entry.lnHi;
        lnLo = entry.lnLo;
    }
    // ln(1 + r) = r - r^2/2 + r^3 (1/3 - r/4 + ...), the last part in double.
    const double rh = r.hi, rl = r.lo;
    double tail = kLog1pTail[7];
    for (int k = 6; k >= 0; --k) {
        tail = tail * rh + kLog1pTail[k];
    }
    tail = ((tail * rh + kFifthHi) * rh - 0.25) * rh + kThirdHi;
    const DD square = twoProd(rh, rh);
    const double low = ((rl - rh * rl) - 0.5 * square.lo) + (square.hi * rh) * tail;
    DD log1p = fastTwoSum(rh, -0.5 * square.hi);
    log1p.lo += low;
    DD el = twoSum(ed * kLn2A, ed * kLn2B);
    el.lo += ed * kLn2C + lnLo;
    DD base = twoSum(el.hi, lnHi);
    base.lo += el.lo;
    const DD lnx = add(fastTwoSum(base.hi, base.lo), log1p);

    DD t = twoProd(lnx.hi, y);
    t.lo += lnx.lo * y;
    if (!(t.hi < 700.0 && t.hi > -700.0)) {
        return false;
    }
    const double kd = roundNearest(t.hi * k128ByLn2);
    const int k = static_cast<int>(kd);
    DD u = twoSum(t.hi - kd * kLn2By128A, -(kd * kLn2By128B));
    u.lo += t.lo - kd * kLn2By128C;
    u = fastTwoSum(u.hi, u.lo);
    // exp(u) = 1 + u + u^2/2 + u^3 (1/6 + u/24 + ...).
    const double uh = u.hi;
    double q = kExpTail[5];
    for (int i = 4; i >= 0; --i) {
        q = q * uh + kExpTail[i];
    }
    q = ((q * uh + kInvFact5Hi) * uh + kInvFact4Hi) * uh + kInvFact3Hi;
    const double small = (u.lo + uh * u.lo) + (0.5 * (uh * uh) + ((uh * uh) * uh) * q);
    DD ex = fastTwoSum(1.0, uh);
    ex.lo += small;
    ex = fastTwoSum(ex.hi, ex.lo);
    const int j = k & 127;
    const DD v = mul(ex, DD{kExp[j].hi, kExp[j].lo});
    const double h = scale2(v.hi, (k - j) / 128);
    const double l = scale2(v.lo, (k - j) / 128);
    if (!(h >= 0x1p-1022 && h < 0x1p1023)) {
        return false;
    }
    const double ay = y < 0.0 ? -y : y;
    if (l != 0.0) {
        const double n = Bits::toDouble(l > 0.0 ? Bits::of(h) + 1 : Bits::of(h) - 1);
        const double d = l - (n - h) * 0.5;
        if ((d < 0.0 ? -d : d) <= (ay + 1.0) * 0x1p-67 * h) {
            return false;
        }
    } else if (0x1p-53 <= (ay + 1.0) * 0x1p-67) {
        return false;
    }
    result = h;
    return true;
}

bool isIntegral(double y) {
    // |y| >= 2^52 is always integral.
    if (!(y < 0x1p52 && y > -0x1p52)) {
        return true;
    }
    return static_cast<double>(static_cast<std::int64_t>(y)) == y;
}
bool isOddIntegral(double y) {
    if (!(y < 0x1p53 && y > -0x1p53)) {
        return false;
    }
    const std::int64_t i = static_cast<std::int64_t>(y);
    return static_cast<double>(i) == y && (i & 1) != 0;
}

double quietNaN(double d) {
    return Bits::toDouble(Bits::of(d) | 0x0008000000000000ull);
}
float quietNaN(float f) {
    return Bits::toFloat(Bits::of(f) | 0x00400000u);
}

// C's special cases of pow, shared by both precisions. Returns true with the
// result when (x, y) is one of them; otherwise leaves a finite x != 0 and a
// finite y != 0 and sets `negate` when the result of |x|^y must be negated.
template <typename T> bool specialPow(T x, T y, T& result, bool& negate) {
    const T inf = std::numeric_limits<T>::infinity();
    negate = false;
    if (y == T(0) || x == T(1)) {
        result = T(1);
        return true;
    }
    if (y == T(1)) {
        result = x;
        return true;
    }
    if (std::isnan(x)) {
        result = quietNaN(x);
        return true;
    }
    if (std::isnan(y)) {
        result = quietNaN(y);
        return true;
    }
    const bool yOdd = isOddIntegral(static_cast<double>(y));
    if (x == T(0)) {
        if (y < T(0)) {
            result = (yOdd && Bits::of(x) != Bits::of(T(0))) ? -inf : inf;
        } else {
            result = yOdd ? x : T(0);
        }
        return true;
    }
    if (y == inf || y == -inf) {
        const T ax = x < T(0) ? -x : x;
        if (ax == T(1)) {
            result = T(1);
        } else {
            result = ((ax < T(1)) == (y < T(0))) ? inf : T(0);
        }
        return true;
    }
    if (x == inf) {
        result = y < T(0) ? T(0) : inf;
        return true;
    }
    if (x == -inf) {
        if (y < T(0)) {
            result = yOdd ? -T(0) : T(0);
        } else {
            result = yOdd ? -inf : inf;
        }
        return true;
    }
    if (x < T(0)) {
        if (!isIntegral(static_cast<double>(y))) {
            result = std::numeric_limits<T>::quiet_NaN();
            return true;
        }
        negate = yOdd;
    }
    return false;
}

} // namespace

namespace PowDetail {

bool quickPow(float x, float y, float& result) {
    const double xd = x; // normal as a double, also for float subnormals
    const std::uint64_t bits = Bits::of(xd);
    const double e = static_cast<double>(static_cast<int>(bits >> 52) - 1023);
    const double m = Bits::toDouble((bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
    const LogEntry& entry = kLog[(bits >> 45) & 127];

    // m and invC have 24 significant bits each: the product and r are exact.
    const double r = m * entry.invC - 1.0;
    double p = kLog2Poly[7];
    for (int k = 6; k >= 0; --k) {
        p = p * r + kLog2Poly[k];
    }
    p *= r;
    const double s = entry.log2 + p; // log2 m, error below 2^-51.4

    // y log2 x = y e + y s; y e is exact (24 + 11 bits).
    const double yd = y;
    const double a = yd * e;
    const double b = yd * s;
    const double t = a + b;
    if (!(t > -125.5 && t < 127.5)) {
        return false;
    }
    const double kd = roundNearest(t * 128.0);
    const double u = (a - kd * 0.0078125) + b; // the subtraction is exact
    const int k = static_cast<int>(kd);
    double q = kExp2Poly[5];
    for (int i = 4; i >= 0; --i) {
        q = q * u + kExp2Poly[i];
    }
    q = q * u + 1.0;
    const int j = k & 127;
    const double value = (kExp[j].hi * q) * pow2((k - j) / 128);

    // Relative error below (|y| + |b| + 2) 2^-50; in units of the last place
    // of the double that is below (|y| + |b| + 2) 2^3. The rounding to float
    // is decided unless a float midpoint (low 29 bits 2^28) lies that close.
    const double ay = yd < 0.0 ? -yd : yd;
    const double ab = b < 0.0 ? -b : b;
    const std::uint64_t tolerance = static_cast<std::uint64_t>((ay + ab + 2.0) * 8.0) + 1;
    const std::uint64_t low = Bits::of(value) & 0x1FFFFFFFull;
    const std::uint64_t distance = low > 0x10000000ull ? low - 0x10000000ull : 0x10000000ull - low;
    if (distance <= tolerance || !(value >= 0x1p-126 && value < 0x1.fffffep127)) {
        return false;
    }
    result = static_cast<float>(value);
    return true;
}

float accuratePow(float x, float y) {
    DD v{};
    int scale = 0;
    switch (powCore(x, y, v, scale)) {
    case Range::overflow:
        return std::numeric_limits<float>::infinity();
    case Range::underflow:
        return 0.0f;
    case Range::inRange:
        break;
    }
    bool ambiguous = false;
    const float f = roundToFloat(v, scale, ambiguous);
    if (ambiguous) {
        U128 n{};
        long long e = 0;
        if (exactPow(x, y, n, e)) {
            if (e > 400) {
                return std::numeric_limits<float>::infinity();
            }
            if (e < -600) {
                return 0.0f;
            }
            return static_cast<float>(roundDyadic(n, e, 24, -126, 127));
        }
    }
    return f;
}

} // namespace PowDetail

float powFloat(float x, float y) {
    float result = 0.0f;
    bool negate = false;
    if (specialPow(x, y, result, negate)) {
        return result;
    }
    const float ax = x < 0.0f ? -x : x;
    if (ax == 1.0f) { // (-1)^integer
        return negate ? -1.0f : 1.0f;
    }
    const float ay = y < 0.0f ? -y : y;
    if (ay >= 0x1p-20f && ay <= 0x1p10f && PowDetail::quickPow(ax, y, result)) {
        return negate ? -result : result;
    }
    result = PowDetail::accuratePow(ax, y);
    return negate ? -result : result;
}

double powDouble(double x, double y) {
    double result = 0.0;
    bool negate = false;
    if (specialPow(x, y, result, negate)) {
        return result;
    }
    const double ax = x < 0.0 ? -x : x;
    if (ax == 1.0) { // (-1)^integer
        return negate ? -1.0 : 1.0;
    }
    const double ay = y < 0.0 ? -y : y;
    if (ay <= 1024.0 && quickDouble(ax, y, result)) {
        return negate ? -result : result;
    }
    DD v{};
    int scale = 0;
    switch (powCore(ax, y, v, scale)) {
    case Range::overflow:
        result = std::numeric_limits<double>::infinity();
        break;
    case Range::underflow:
        result = 0.0;
        break;
    case Range::inRange: {
        bool ambiguous = false;
        result = roundToDouble(v, scale, ambiguous);
        U128 n{};
        long long e = 0;
        if (ambiguous && exactPow(ax, y, n, e)) {
            result = e > 2000 ? std::numeric_limits<double>::infinity()
                              : (e < -2200 ? 0.0 : roundDyadic(n, e, 53, -1022, 1023));
        }
        break;
    }
    }
    return negate ? -result : result;
}

} // namespace Morvek
