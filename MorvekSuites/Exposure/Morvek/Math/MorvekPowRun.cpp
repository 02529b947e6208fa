// powDouble over a run of bases with one exponent. With AVX2 and FMA, four
// bases at a time go through powDouble's quick path operation for operation
// (the same roundings in the same order; the exact products come from a fused
// multiply-subtract, which yields the same pair as Dekker's product), with the
// same test for when its error bound decides the rounding. Every base the
// quick path would not take, and every lane the test rejects, goes through
// powDouble itself; so every result has powDouble's bits.
#include "MorvekPowRun.h"

#include "MorvekPow.h"
#include "MorvekPowTables.h"
#include "MorvekProcessor.h"

#include <cstdint>

#ifdef MORVEK_AVX2
#include <immintrin.h>
#endif

namespace Morvek {

namespace {

#ifdef MORVEK_AVX2

using namespace PowTables;

// Double-double values, four lanes: hi + lo.
struct Pair {
    __m256d hi, lo;
};

__attribute__((target("avx2,fma"), always_inline)) inline Pair twoSum(__m256d a, __m256d b) {
    const __m256d s = _mm256_add_pd(a, b);
    const __m256d bb = _mm256_sub_pd(s, a);
    return {s, _mm256_add_pd(_mm256_sub_pd(a, _mm256_sub_pd(s, bb)), _mm256_sub_pd(b, bb))};
}

__attribute__((target("avx2,fma"), always_inline)) inline Pair fastTwoSum(__m256d a, __m256d b) {
    const __m256d s = _mm256_add_pd(a, b);
    return {s, _mm256_sub_pd(b, _mm256_sub_pd(s, a))};
}

// a * b = hi + lo exactly.
__attribute__((target("avx2,fma"), always_inline)) inline Pair twoProd(__m256d a, __m256d b) {
    const __m256d p = _mm256_mul_pd(a, b);
    return {p, _mm256_fmsub_pd(a, b, p)};
}

__attribute__((target("avx2,fma"), always_inline)) inline Pair add(Pair a, Pair b) {
    Pair s = twoSum(a.hi, b.hi);
    const Pair t = twoSum(a.lo, b.lo);
    s.lo = _mm256_add_pd(s.lo, t.hi);
    s = fastTwoSum(s.hi, s.lo);
    s.lo = _mm256_add_pd(s.lo, t.lo);
    return fastTwoSum(s.hi, s.lo);
}

__attribute__((target("avx2,fma"), always_inline)) inline Pair mul(Pair a, Pair b) {
    Pair p = twoProd(a.hi, b.hi);
    p.lo = _mm256_add_pd(p.lo, _mm256_add_pd(_mm256_mul_pd(a.hi, b.lo), _mm256_mul_pd(a.lo, b.hi)));
    return fastTwoSum(p.hi, p.lo);
}

__attribute__((target("avx2,fma"), always_inline)) inline __m256d mulAdd(__m256d a, __m256d b, double c) {
    return _mm256_add_pd(_mm256_mul_pd(a, b), _mm256_set1_pd(c)); // rounded twice, as written
}

// x^y for four bases, each a normal double > 0 away from 1 (outside
// (1 - 2^-8, 1 + 2^-8)), with 0 < |y| <= 1024. Writes the lanes whose rounding
// the error bound decides and returns their mask (bit k for lane k).
// `bound` is (|y| + 1) 2^-67.
__attribute__((target("avx2,fma"))) int quick4(const double* x, double y, double bound, double* out) {
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d yv = _mm256_set1_pd(y);
    const __m256d xv = _mm256_loadu_pd(x);
    const __m256i bits = _mm256_castpd_si256(xv);

    // x = 2^ed m, m in [1, 2); the exponent as a double through 2^52.
    const __m256i magic = _mm256_set1_epi64x(0x4330000000000000ll);
    const __m256d ed = _mm256_sub_pd(
        _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(_mm256_srli_epi64(bits, 52), magic)), _mm256_set1_pd(0x1p52)),
        _mm256_set1_pd(1023.0));
    const __m256d m = _mm256_castsi256_pd(_mm256_or_si256(
        _mm256_and_si256(bits, _mm256_set1_epi64x(0x000FFFFFFFFFFFFFll)), _mm256_set1_epi64x(0x3FF0000000000000ll)));
    alignas(32) std::int64_t j[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(j),
                       _mm256_and_si256(_mm256_srli_epi64(bits, 45), _mm256_set1_epi64x(127)));
    const __m256d invC = _mm256_setr_pd(kLog[j[0]].invC, kLog[j[1]].invC, kLog[j[2]].invC, kLog[j[3]].invC);
    const __m256d lnHi = _mm256_setr_pd(kLog[j[0]].lnHi, kLog[j[1]].lnHi, kLog[j[2]].lnHi, kLog[j[3]].lnHi);
    const __m256d lnLo = _mm256_setr_pd(kLog[j[0]].lnLo, kLog[j[1]].lnLo, kLog[j[2]].lnLo, kLog[j[3]].lnLo);

    // ln x = ed ln 2 - ln invC + ln(1 + r), m invC = 1 + r.
    const Pair p = twoProd(m, invC);
    const Pair r = fastTwoSum(_mm256_sub_pd(p.hi, one), p.lo);
    const __m256d rh = r.hi, rl = r.lo;
    __m256d tail = _mm256_set1_pd(kLog1pTail[7]);
    for (int k = 6; k >= 0; --k) {
        tail = mulAdd(tail, rh, kLog1pTail[k]);
    }
    // ((tail r + 1/5) r - 1/4) r + 1/3
    tail = _mm256_add_pd(
        _mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(mulAdd(tail, rh, kFifthHi), rh), _mm256_set1_pd(0.25)), rh),
        _mm256_set1_pd(kThirdHi));
    const Pair square = twoProd(rh, rh);
    const __m256d low = _mm256_add_pd(
        _mm256_sub_pd(_mm256_sub_pd(rl, _mm256_mul_pd(rh, rl)), _mm256_mul_pd(_mm256_set1_pd(0.5), square.lo)),
        _mm256_mul_pd(_mm256_mul_pd(square.hi, rh), tail));
    Pair log1p = fastTwoSum(rh, _mm256_mul_pd(_mm256_set1_pd(-0.5), square.hi));
    log1p.lo = _mm256_add_pd(log1p.lo, low);
    Pair el = twoSum(_mm256_mul_pd(ed, _mm256_set1_pd(kLn2A)), _mm256_mul_pd(ed, _mm256_set1_pd(kLn2B)));
    el.lo = _mm256_add_pd(el.lo, _mm256_add_pd(_mm256_mul_pd(ed, _mm256_set1_pd(kLn2C)), lnLo));
    Pair base = twoSum(el.hi, lnHi);
    base.lo = _mm256_add_pd(base.lo, el.lo);
    const Pair lnx = add(fastTwoSum(base.hi, base.lo), log1p);

    // t = y ln x; exp(t) = 2^(k/128) exp(u).
    Pair t = twoProd(lnx.hi, yv);
    t.lo = _mm256_add_pd(t.lo, _mm256_mul_pd(lnx.lo, yv));
    __m256d ok = _mm256_and_pd(_mm256_cmp_pd(t.hi, _mm256_set1_pd(700.0), _CMP_LT_OQ),
                               _mm256_cmp_pd(t.hi, _mm256_set1_pd(-700.0), _CMP_GT_OQ));
    // Nearest integer, ties away from zero: truncate z +- 1/2.
    const __m256d z = _mm256_mul_pd(t.hi, _mm256_set1_pd(k128ByLn2));
    const __m256d halfZ =
        _mm256_blendv_pd(_mm256_set1_pd(0.5), _mm256_set1_pd(-0.5), _mm256_cmp_pd(z, _mm256_setzero_pd(), _CMP_LT_OQ));
    // Lanes outside the range are zeroed first, so that the conversion below
    // stays in range for them.
    const __m256d kd =
        _mm256_and_pd(_mm256_round_pd(_mm256_add_pd(z, halfZ), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC), ok);
    const __m256d signBit = _mm256_set1_pd(-0.0);
    Pair u = twoSum(_mm256_sub_pd(t.hi, _mm256_mul_pd(kd, _mm256_set1_pd(kLn2By128A))),
                    _mm256_xor_pd(_mm256_mul_pd(kd, _mm256_set1_pd(kLn2By128B)), signBit));
    u.lo = _mm256_add_pd(u.lo, _mm256_sub_pd(t.lo, _mm256_mul_pd(kd, _mm256_set1_pd(kLn2By128C))));
    u = fastTwoSum(u.hi, u.lo);
    const __m256d uh = u.hi;
    __m256d q = _mm256_set1_pd(kExpTail[5]);
    for (int i = 4; i >= 0; --i) {
        q = mulAdd(q, uh, kExpTail[i]);
    }
    q = mulAdd(mulAdd(mulAdd(q, uh, kInvFact5Hi), uh, kInvFact4Hi), uh, kInvFact3Hi);
    const __m256d uu = _mm256_mul_pd(uh, uh);
    const __m256d small =
        _mm256_add_pd(_mm256_add_pd(u.lo, _mm256_mul_pd(uh, u.lo)),
                      _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(0.5), uu), _mm256_mul_pd(_mm256_mul_pd(uu, uh), q)));
    Pair ex = fastTwoSum(one, uh);
    ex.lo = _mm256_add_pd(ex.lo, small);
    ex = fastTwoSum(ex.hi, ex.lo);

    // k = 128 K + jk with 0 <= jk < 128.
    const __m128i k = _mm256_cvttpd_epi32(kd);
    alignas(16) std::int32_t jk[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(jk), _mm_and_si128(k, _mm_set1_epi32(127)));
    const __m128i bigK = _mm_srai_epi32(k, 7);
    const Pair e2 = {_mm256_setr_pd(kExp[jk[0]].hi, kExp[jk[1]].hi, kExp[jk[2]].hi, kExp[jk[3]].hi),
                     _mm256_setr_pd(kExp[jk[0]].lo, kExp[jk[1]].lo, kExp[jk[2]].lo, kExp[jk[3]].lo)};
    const Pair v = mul(ex, e2);
    // Times 2^K, one exact multiplication while |K| <= 1000 (larger K: left
    // to powDouble).
    const __m128i kFits =
        _mm_and_si128(_mm_cmpgt_epi32(_mm_set1_epi32(1001), bigK), _mm_cmpgt_epi32(bigK, _mm_set1_epi32(-1001)));
    ok = _mm256_and_pd(ok, _mm256_castsi256_pd(_mm256_cvtepi32_epi64(kFits)));
    const __m256d scale = _mm256_castsi256_pd(
        _mm256_slli_epi64(_mm256_add_epi64(_mm256_cvtepi32_epi64(bigK), _mm256_set1_epi64x(1023)), 52));
    const __m256d h = _mm256_mul_pd(v.hi, scale);
    const __m256d l = _mm256_mul_pd(v.lo, scale);
    ok = _mm256_and_pd(ok, _mm256_cmp_pd(h, _mm256_set1_pd(0x1p-1022), _CMP_GE_OQ));
    ok = _mm256_and_pd(ok, _mm256_cmp_pd(h, _mm256_set1_pd(0x1p1023), _CMP_LT_OQ));

    // Decided unless h + l lies within (|y| + 1) 2^-67 h of the midpoint
    // between h and its neighbour on l's side. With l = 0 it is decided (the
    // bound is below half an ulp for |y| <= 1024).
    const __m256d lPositive = _mm256_cmp_pd(l, _mm256_setzero_pd(), _CMP_GT_OQ);
    const __m256i step = _mm256_sub_epi64(_mm256_and_si256(_mm256_castpd_si256(lPositive), _mm256_set1_epi64x(2)),
                                          _mm256_set1_epi64x(1));
    const __m256d neighbour = _mm256_castsi256_pd(_mm256_add_epi64(_mm256_castpd_si256(h), step));
    const __m256d d = _mm256_sub_pd(l, _mm256_mul_pd(_mm256_sub_pd(neighbour, h), _mm256_set1_pd(0.5)));
    const __m256d far =
        _mm256_cmp_pd(_mm256_andnot_pd(signBit, d), _mm256_mul_pd(_mm256_set1_pd(bound), h), _CMP_GT_OQ);
    ok = _mm256_and_pd(ok, _mm256_or_pd(far, _mm256_cmp_pd(l, _mm256_setzero_pd(), _CMP_EQ_OQ)));

    _mm256_storeu_pd(out, h);
    return _mm256_movemask_pd(ok);
}

// Whether powDouble(x, y) takes its quick path with this x, once y is known
// to qualify: a normal x > 0, not within 2^-8 of 1 (that branch is left to
// powDouble).
inline bool quickBase(double x) {
    return x >= 0x1p-1022 && x <= 0x1.fffffffffffffp1023 && !(x > 1.0 - 0x1p-8 && x < 1.0 + 0x1p-8);
}

#endif

} // namespace

void powDoubleRun(const double* x, double y, double* out, std::ptrdiff_t n, bool vector) {
    std::ptrdiff_t i = 0;
#ifdef MORVEK_AVX2
    const double ay = y < 0.0 ? -y : y;
    // The exponents for which powDouble reaches its quick path with every
    // positive x != 1: finite, not 0, not 1, |y| <= 1024.
    if (vector && ay > 0.0 && ay <= 1024.0 && y != 1.0 && hasAvx2Fma()) {
        const double bound = (ay + 1.0) * 0x1p-67;
        for (; i + 4 <= n; i += 4) {
            alignas(32) double result[4];
            int decided = 0;
            if (quickBase(x[i]) && quickBase(x[i + 1]) && quickBase(x[i + 2]) && quickBase(x[i + 3])) {
                decided = quick4(x + i, y, bound, result);
            }
            for (int lane = 0; lane < 4; ++lane) {
                out[i + lane] = (decided & (1 << lane)) != 0 ? result[lane] : powDouble(x[i + lane], y);
            }
        }
    }
#else
    (void)vector;
#endif
    for (; i < n; ++i) {
        out[i] = powDouble(x[i], y);
    }
}

} // namespace Morvek
