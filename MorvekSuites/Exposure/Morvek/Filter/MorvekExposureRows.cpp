// Row conversions of the exposure filter that reproduce the colour converter's
// pixels exactly: pre-rounded tables at 8 and 16 bits (at 8 bits mostly lines
// through blocks of them, at 16 bits and gamma 1 a line through the whole
// table, each checked against every entry); at 32 bits eight
// pixels at a time loaded, powered and finished in registers where the
// processor has AVX2, and the powers of a run of pixels together otherwise.
#include "MorvekExposureRows.h"

#include "MorvekFixedPowLanes.h"
#include "MorvekPow.h"
#include "MorvekProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#ifdef MORVEK_AVX2
#include <immintrin.h>
#endif

namespace Morvek {

namespace {

// The converter's rounding of a tabulated value: round half up, clamp to
// 0..top, NaN to 0.
unsigned roundEntry(double v, double top) {
    const double x = v + 0.5;
    if (!(x >= 0.0)) {
        return 0;
    }
    if (x > top) {
        return static_cast<unsigned>(top);
    }
    return static_cast<unsigned>(x);
}

#ifdef MORVEK_AVX2

// Clamps alpha to 0..1 (NaN to 0) and stores eight pixels from four rows of
// channels.
__attribute__((target("avx2"), always_inline)) inline void finishStore8(__m256 a, __m256 r, __m256 g, __m256 b,
                                                                        PF_PixelFloat* dst) {
    const __m256 one = _mm256_set1_ps(1.0f);
    a = _mm256_and_ps(_mm256_blendv_ps(a, one, _mm256_cmp_ps(a, one, _CMP_GT_OQ)),
                      _mm256_cmp_ps(a, _mm256_setzero_ps(), _CMP_GE_OQ));
    const __m256 t0 = _mm256_unpacklo_ps(a, r), t1 = _mm256_unpackhi_ps(a, r);
    const __m256 t2 = _mm256_unpacklo_ps(g, b), t3 = _mm256_unpackhi_ps(g, b);
    const __m256 p0 = _mm256_shuffle_ps(t0, t2, 0x44), p1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    const __m256 p2 = _mm256_shuffle_ps(t1, t3, 0x44), p3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    float* f = &dst[0].alpha;
    _mm256_storeu_ps(f, _mm256_permute2f128_ps(p0, p1, 0x20));
    _mm256_storeu_ps(f + 8, _mm256_permute2f128_ps(p2, p3, 0x20));
    _mm256_storeu_ps(f + 16, _mm256_permute2f128_ps(p0, p1, 0x31));
    _mm256_storeu_ps(f + 24, _mm256_permute2f128_ps(p2, p3, 0x31));
}

// Eight float pixels to four registers of channels (alpha, red, green, blue).
__attribute__((target("avx2"), always_inline)) inline void loadPixels8(const PF_PixelFloat* src, __m256& a, __m256& r,
                                                                       __m256& g, __m256& b) {
    const float* f = &src[0].alpha;
    const __m256 l0 = _mm256_loadu_ps(f), l1 = _mm256_loadu_ps(f + 8), l2 = _mm256_loadu_ps(f + 16),
                 l3 = _mm256_loadu_ps(f + 24);
    const __m256 x0 = _mm256_permute2f128_ps(l0, l2, 0x20), x1 = _mm256_permute2f128_ps(l0, l2, 0x31);
    const __m256 x2 = _mm256_permute2f128_ps(l1, l3, 0x20), x3 = _mm256_permute2f128_ps(l1, l3, 0x31);
    const __m256 t0 = _mm256_unpacklo_ps(x0, x1), t1 = _mm256_unpackhi_ps(x0, x1);
    const __m256 t2 = _mm256_unpacklo_ps(x2, x3), t3 = _mm256_unpackhi_ps(x2, x3);
    a = _mm256_shuffle_ps(t0, t2, 0x44);
    r = _mm256_shuffle_ps(t0, t2, 0xEE);
    g = _mm256_shuffle_ps(t1, t3, 0x44);
    b = _mm256_shuffle_ps(t1, t3, 0xEE);
}

// ColorConverter::finishFloat on eight pixels, lane by lane the same single-precision
// operations, from the powered colour (times `scale` here, as there).
__attribute__((target("avx2"), always_inline)) inline void finishPixels8(__m256 a, __m256 pr, __m256 pg, __m256 pb,
                                                                         __m256 s, PF_PixelFloat* dst) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 zero = _mm256_setzero_ps();
    __m256 r = _mm256_mul_ps(pr, s);
    __m256 g = _mm256_mul_ps(pg, s);
    __m256 b = _mm256_mul_ps(pb, s);
    const __m256 gb = _mm256_blendv_ps(b, g, _mm256_cmp_ps(g, b, _CMP_GT_OQ));
    const __m256 brightest = _mm256_blendv_ps(gb, r, _mm256_cmp_ps(r, gb, _CMP_GT_OQ));
    const __m256 fire = _mm256_cmp_ps(brightest, one, _CMP_GT_OQ);
    if (_mm256_movemask_ps(fire) != 0) {
        __m256 aNew = _mm256_mul_ps(brightest, a);
        aNew = _mm256_blendv_ps(aNew, one, _mm256_cmp_ps(aNew, one, _CMP_GT_OQ));
        const __m256 valid = _mm256_cmp_ps(aNew, zero, _CMP_NEQ_OQ); // neither 0 nor NaN
        const __m256 k = _mm256_div_ps(a, aNew);
        r = _mm256_blendv_ps(r, _mm256_and_ps(_mm256_mul_ps(r, k), valid), fire);
        g = _mm256_blendv_ps(g, _mm256_and_ps(_mm256_mul_ps(g, k), valid), fire);
        b = _mm256_blendv_ps(b, _mm256_and_ps(_mm256_mul_ps(b, k), valid), fire);
        const __m256 aOut = _mm256_blendv_ps(a, aNew, fire);
        finishStore8(aOut, r, g, b, dst);
        return;
    }
    finishStore8(a, r, g, b, dst);
}

#endif

// Pixels per run of the 32-bit path: three channels of this many floats stay
// in the first-level cache.
constexpr std::ptrdiff_t kRun = 256;

} // namespace

// Pixels read and written as whole words where the byte order is known to be
// little-endian (every platform the module is built for); assembled channel by
// channel otherwise. Either way a word holds alpha in its lowest channel, then
// red, green and blue.
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define MORVEK_ROWS_PACKED 1
#endif

namespace {

constexpr std::uint64_t kOverflow8 = 1ull << 32, kNaN8 = 1ull << 33;
constexpr std::uint16_t kOverflow16 = 0xFFFF, kNaN16 = 0xFFFE; // above every value

inline std::uint32_t loadWord(const PF_Pixel& p) {
#ifdef MORVEK_ROWS_PACKED
    std::uint32_t w;
    std::memcpy(&w, &p, 4);
    return w;
#else
    return p.alpha | (std::uint32_t{p.red} << 8) | (std::uint32_t{p.green} << 16) | (std::uint32_t{p.blue} << 24);
#endif
}

inline void storeWord(PF_Pixel& p, std::uint32_t w) {
#ifdef MORVEK_ROWS_PACKED
    std::memcpy(&p, &w, 4);
#else
    p = PF_Pixel{static_cast<A_u_char>(w), static_cast<A_u_char>(w >> 8), static_cast<A_u_char>(w >> 16),
                 static_cast<A_u_char>(w >> 24)};
#endif
}

inline std::uint64_t loadWord(const PF_Pixel16& p) {
#ifdef MORVEK_ROWS_PACKED
    std::uint64_t w;
    std::memcpy(&w, &p, 8);
    return w;
#else
    return p.alpha | (std::uint64_t{p.red} << 16) | (std::uint64_t{p.green} << 32) | (std::uint64_t{p.blue} << 48);
#endif
}

inline void storeWord(PF_Pixel16& p, std::uint64_t w) {
#ifdef MORVEK_ROWS_PACKED
    std::memcpy(&p, &w, 8);
#else
    p = PF_Pixel16{static_cast<A_u_short>(w), static_cast<A_u_short>(w >> 16), static_cast<A_u_short>(w >> 32),
                   static_cast<A_u_short>(w >> 48)};
#endif
}

// For a table that never decreases (and so holds no NaN): the first index
// whose entry reaches the overflow threshold, or the table's size when none
// does. -1 for any other table.
int overflowFrom(const std::vector<double>& table, double threshold) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (std::isnan(table[i]) || (i > 0 && table[i - 1] > table[i])) {
            return -1;
        }
    }
    std::size_t first = 0;
    while (first < table.size() && table[first] < threshold) {
        ++first;
    }
    return static_cast<int>(first);
}

// The line through the rounded 16-bit entries t of a straight curve
// v -> v scale: a gain G below 2^32 (one 32 x 32-bit product per value), an
// offset R and a shift s such that (v G + R) >> s is t[v] for every v below
// `from` (the first overflowing index, or 32769) and at least 32768 from
// there to 32768. Each entry n bounds v G + R to [n 2^s, (n + 1) 2^s), so
// for a given gain the offsets that fit every entry form an interval; the
// gains nearest to scale 2^s are tried in turn. Whether a line fits depends
// only on the entries, which it is checked against one by one. Gain 0 when
// none fits.
struct LineFit {
    std::uint64_t gain = 0, offset = 0;
    int shift = 0;
};

LineFit fitLine16(const std::uint16_t* t, int from, double scale) {
    // The products and results must stay within 31 bits for the vector code.
    if (!(scale > 0.0) || !(scale * 32769.0 < 0x1p30)) {
        return {};
    }
    int shift = 40;
    while (shift > 0 && std::ldexp(scale, shift) >= 0x1p32 - 1.0) {
        --shift;
    }
    const std::int64_t end = std::min<std::int64_t>(from, 32769);
    if (end < 1) {
        return {}; // entry 0 overflows: nothing below the index to fit
    }
    const auto nearest = static_cast<std::int64_t>(std::llround(std::ldexp(scale, shift)));
    for (const std::int64_t step : {0, -1, 1, -2, 2}) {
        const std::int64_t g = nearest + step;
        if (g <= 0 || g >= (std::int64_t{1} << 32)) {
            continue;
        }
        std::int64_t lo = 0;
        std::int64_t hi = std::numeric_limits<std::int64_t>::max();
        for (std::int64_t v = 0; v < end; ++v) {
            const std::int64_t n = t[v];
            lo = std::max(lo, n * (std::int64_t{1} << shift) - v * g);
            hi = std::min(hi, (n + 1) * (std::int64_t{1} << shift) - 1 - v * g);
        }
        if (lo > hi) {
            continue;
        }
        const std::int64_t r = lo + (hi - lo) / 2;
        // The line never decreases: reaching the top at `from` suffices, and
        // staying below 2^31 at 32768 keeps every result within its lane.
        if ((end <= 32768 && ((end * g + r) >> shift) < 32768) || ((32768 * g + r) >> shift) >= (1ll << 31)) {
            continue;
        }
        return {static_cast<std::uint64_t>(g), static_cast<std::uint64_t>(r), shift};
    }
    return {};
}

// Lines through the sixteen blocks of sixteen rounded 8-bit entries t: with
// one shift s for all, block h gets a slope m (0..255), a remainder r
// (0..2^s - 1) and its first entry b, such that every entry t[16h + l] is
// b + ((l m + r) >> s), or, where the entry is the top 255, at least that
// (the vector code adds b with saturation). For one slope each entry bounds
// r to an interval, as for the 16-bit line; the slopes that the block's
// last entry allows are tried in turn. The blocks that fit no line are in
// `patched` (bit h), and the shift kept is the one that leaves fewest.
struct Lines8 {
    int shift = 0;
    unsigned patched = 0xFFFFu;
    std::uint8_t slope[16] = {}, rest[16] = {}, base[16] = {};
};

Lines8 fitLines8(const std::uint8_t* t) {
    Lines8 best;
    for (int shift = 8; shift >= 2; --shift) {
        Lines8 lines;
        lines.shift = shift;
        lines.patched = 0;
        const int unit = 1 << shift;
        for (int h = 0; h < 16; ++h) {
            const std::uint8_t* e = t + 16 * h;
            const int last = e[15] - e[0];
            bool fits = false;
            // 15 m + r lies in [last 2^s, (last + 1) 2^s) (no upper bound at
            // the top), with 0 <= r < 2^s.
            const int lowest = std::max(0, (last * unit - unit + 1 + 14) / 15);
            const int highest = e[15] == 255 ? 255 : std::min(255, ((last + 1) * unit - 1) / 15);
            for (int m = lowest; m <= highest && !fits; ++m) {
                int lo = 0, hi = unit - 1;
                for (int l = 0; l < 16 && lo <= hi; ++l) {
                    const int d = e[l] - e[0];
                    lo = std::max(lo, d * unit - l * m);
                    if (e[l] != 255) {
                        hi = std::min(hi, (d + 1) * unit - 1 - l * m);
                    }
                    if (d < 0) {
                        hi = -1;
                    }
                }
                // The even bytes' results share a 16-bit lane with their odd
                // neighbours: they must stay below 256.
                if (lo <= hi && ((15 * m + lo) >> shift) <= 255) {
                    lines.slope[h] = static_cast<std::uint8_t>(m);
                    lines.rest[h] = static_cast<std::uint8_t>(lo);
                    lines.base[h] = e[0];
                    fits = true;
                }
            }
            if (!fits) {
                lines.patched |= 1u << h;
            }
        }
        if (__builtin_popcount(lines.patched) < __builtin_popcount(best.patched)) {
            best = lines;
        }
    }
    return best;
}

// The blocks of the 8-bit vector code (layout in rising8Avx2): the tables,
// the offsets 16k - 128, and the byte moves that pack the colour of a fourth
// group of pixels into the alpha bytes of three others and back. Alpha sits
// at bytes 0, 4, 8 and 12 of each half.
void fillShuffleBlocks(const std::uint8_t* values, std::uint8_t (*blocks)[32]) {
    for (int k = 0; k < 16; ++k) {
        for (int b = 0; b < 32; ++b) {
            blocks[k][b] = values[16 * k + b % 16];
            blocks[16 + k][b] = static_cast<std::uint8_t>(16 * k - 128);
        }
    }
    const int colour[12] = {1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15};
    for (int j = 0; j < 3; ++j) {
        std::uint8_t* take = blocks[32 + j];
        std::uint8_t* give = blocks[35 + j];
        for (int b = 0; b < 32; ++b) {
            take[b] = 0x80; // the shuffle writes 0
            give[b] = 0x80;
        }
        for (int half = 0; half < 32; half += 16) {
            for (int q = 0; q < 4; ++q) {
                take[half + 4 * q] = static_cast<std::uint8_t>(colour[4 * j + q]);
                give[half + colour[4 * j + q]] = static_cast<std::uint8_t>(4 * q);
            }
        }
    }
}

} // namespace

ExposureRows::ExposureRows(const Converter& converter) {
    const std::vector<double>& table = converter.getTable();
    const A_long bpc = converter.getParameter().bpc;
    if (bpc == 0 && table.size() == 256) {
        overflowFrom8 = overflowFrom(table, 255.5);
        table8.resize(3 * 256);
        std::uint8_t shuffle8Values[256];
        for (std::size_t i = 0; i < 256; ++i) {
            const std::uint64_t flags = (table[i] >= 255.5 ? kOverflow8 : 0) | (std::isnan(table[i]) ? kNaN8 : 0);
            const std::uint64_t v = roundEntry(table[i], 255.0);
            shuffle8Values[i] = static_cast<std::uint8_t>(v);
            table8[i] = (v << 8) | flags;        // red: second byte
            table8[256 + i] = (v << 16) | flags; // green: third byte
            table8[512 + i] = (v << 24) | flags; // blue: fourth byte
        }
        shuffle8.resize(43);
        fillShuffleBlocks(shuffle8Values, &shuffle8[0].bytes);
        // Where the curve has reached its last value for good (the top, for
        // a bright exposure), the blocks from there on need no shuffles.
        int blocks = 16;
        while (blocks > 1 && std::all_of(shuffle8Values + 16 * (blocks - 1), shuffle8Values + 256,
                                         [&](std::uint8_t v) { return v == shuffle8Values[255]; })) {
            --blocks;
        }
        shuffleBlocks8 = blocks;
        std::fill(std::begin(shuffle8[38].bytes), std::end(shuffle8[38].bytes),
                  static_cast<std::uint8_t>(16 * blocks - 129));
        std::fill(std::begin(shuffle8[39].bytes), std::end(shuffle8[39].bytes), shuffle8Values[255]);
        // A curve whose blocks mostly lie on lines takes about nineteen
        // operations per vector from them and two or three per block patched
        // from its table, against three per table block with the shuffles
        // alone.
        Lines8 lines = fitLines8(shuffle8Values);
        const bool low = (lines.patched & 1u) != 0;
        if (low) {
            // The first block's table is applied by taking the larger.
            lines.patched &= ~1u;
            lines.slope[0] = lines.rest[0] = 0;
            lines.base[0] = shuffle8Values[0];
        }
        const int patches = __builtin_popcount(lines.patched);
        if (19 + (low ? 2 : 0) + 3 * patches < 3 * blocks + (blocks < 16 ? 3 : 0)) {
            lineShift8 = lines.shift;
            lowBlock8 = low;
            for (int b = 0; b < 32; ++b) {
                shuffle8[40].bytes[b] = lines.slope[b % 16];
                shuffle8[41].bytes[b] = lines.rest[b % 16];
                shuffle8[42].bytes[b] = lines.base[b % 16];
            }
            for (int h = 0; h < 16; ++h) {
                if ((lines.patched & (1u << h)) != 0) {
                    Block index;
                    std::fill(std::begin(index.bytes), std::end(index.bytes), static_cast<std::uint8_t>(h));
                    shuffle8.push_back(index);
                    patch8[patches8++] = static_cast<std::uint8_t>(h);
                }
            }
        }
    } else if (bpc == 1 && table.size() == 32769) {
        const int from = overflowFrom(table, 32768.5);
        // Values above 32768 read entry 32768, so they overflow exactly when
        // it does; none overflows when no entry does.
        overflowFrom16 = from == 32769 ? 65536 : from;
        table16.resize(65536);
        for (std::size_t i = 0; i <= 32768; ++i) {
            const double v = table[i];
            const auto rounded = static_cast<std::uint16_t>(roundEntry(v, 32768.0));
            if (overflowFrom16 >= 0) {
                table16[i] = rounded;
            } else {
                table16[i] = std::isnan(v) ? kNaN16 : (v >= 32768.5 ? kOverflow16 : rounded);
            }
        }
        std::fill(table16.begin() + 32769, table16.end(), table16[32768]);
        // At gamma 1 the entries are usually the channel value times the
        // gain, exactly (checked entry by entry).
        const double scale = converter.getScale();
        bool product = converter.getInverseGamma() == 1.0;
        for (std::size_t i = 0; product && i <= 32768; ++i) {
            product = table[i] == static_cast<double>(i) * scale;
        }
        product16 = product ? scale : 0.0;
        if (overflowFrom16 >= 0 && converter.getInverseGamma() == 1.0) {
            const LineFit line = fitLine16(table16.data(), overflowFrom16, converter.getScale());
            lineGain = line.gain;
            lineOffset = line.offset;
            lineShift = line.shift;
        }
    }
    const float y = converter.getInverseGammaFloat();
    identityPower = y == 1.0f;
    // The power table is for float pixels, which only a converter built for
    // them renders in practice (its table would be wasted at 8 and 16 bits).
    if (!identityPower && bpc != 0 && bpc != 1) {
        power = std::make_shared<const FixedPow>(y);
    }
}

namespace {

// Pixels per chunk of the integer paths: the partly transparent overflowing
// pixels of a chunk are set aside and converted together afterwards, so that
// their divisions overlap instead of waiting on one another. Each chunk also
// pays the vector loop's set-up (the call through the chosen loop, its
// constant registers) and converts its last one to three set-aside pixels
// one by one: chunks of 1024 pixels (12 KB of stack for the set-aside
// arrays at 16 bits) render 8-bit frames about 10 % faster than chunks of
// 256, and overexposed 16-bit ones about 3 %.
constexpr std::ptrdiff_t kChunk = 1024;

// Round half up and clamp to 0..top (NaN to 0), as the converter rounds.
inline double roundClampValue(double v, double top) {
    const double x = v + 0.5;
    if (!(x >= 0.0)) {
        return 0.0;
    }
    return x > top ? top : x;
}

// The converter's overflow rule for pixels with 0 < alpha <= top and a
// brightest channel at or above the threshold (so A' > 0), step for step:
// A' = min(top, new alpha), k = A / A', colour times k, everything rounded.
// saved[n] is the source of pixel dst[set[n]] (the row may be converted in
// place, so the source may be gone).
#ifdef MORVEK_AVX2
// Round half up, clamp to the top, truncate: four lanes. Every value the
// rule produces is a number at least 0 (alpha and the entries are, k is
// positive), so the converter's NaN and below-zero cases do not arise.
__attribute__((target("avx2"), always_inline)) inline __m128i roundLanes(__m256d v, __m256d top) {
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_add_pd(v, _mm256_set1_pd(0.5)), top));
}

// The alphas of four set-aside pixels as doubles, and their colour values
// (clamped to the last index, as the converter reads the table) in `index`.
__attribute__((target("avx2"), always_inline)) inline __m256d alphaAndIndices(const PF_Pixel* saved,
                                                                              std::uint16_t* index) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(saved));
    const __m128i colour = _mm_shuffle_epi8(p, _mm_setr_epi8(1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, -1, -1, -1, -1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index), _mm_cvtepu8_epi16(colour));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index + 8), _mm_cvtepu8_epi16(_mm_srli_si128(colour, 8)));
    return _mm256_cvtepi32_pd(_mm_and_si128(p, _mm_set1_epi32(0xFF)));
}

__attribute__((target("avx2"), always_inline)) inline __m256d alphaAndIndices(const PF_Pixel16* saved,
                                                                              std::uint16_t* index) {
    const __m256i p = _mm256_min_epu16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(saved)),
                                       _mm256_set1_epi16(static_cast<short>(0x8000)));
    const __m256i colour =
        _mm256_shuffle_epi8(p, _mm256_setr_epi8(2, 3, 4, 5, 6, 7, 10, 11, 12, 13, 14, 15, -1, -1, -1, -1, 2, 3, 4, 5, 6,
                                                7, 10, 11, 12, 13, 14, 15, -1, -1, -1, -1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index), _mm256_castsi256_si128(colour));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index + 6), _mm256_extracti128_si256(colour, 1));
    const __m256i alpha = _mm256_permutevar8x32_epi32(_mm256_and_si256(p, _mm256_set1_epi64x(0xFFFF)),
                                                      _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6));
    return _mm256_cvtepi32_pd(_mm256_castsi256_si128(alpha));
}

// The alphas and the table entries of four set-aside pixels.
template <class Pixel>
__attribute__((target("avx2"), always_inline)) inline void
tableEntries(const double* table, const Pixel* saved, __m256d& a, __m256d& r, __m256d& g, __m256d& b) {
    // Colour values in pixel order: red, green and blue of pixel 0, then 1...
    alignas(16) std::uint16_t c[16];
    a = alphaAndIndices(saved, c);
    r = _mm256_setr_pd(table[c[0]], table[c[3]], table[c[6]], table[c[9]]);
    g = _mm256_setr_pd(table[c[1]], table[c[4]], table[c[7]], table[c[10]]);
    b = _mm256_setr_pd(table[c[2]], table[c[5]], table[c[8]], table[c[11]]);
}

// For a 16-bit table whose every entry is v times `product`: the alphas and
// the entries of four set-aside pixels, computed (the same products) rather
// than read.
__attribute__((target("avx2"), always_inline)) inline void productEntries(__m256i pixels, double product, __m256d& a,
                                                                          __m256d& r, __m256d& g, __m256d& b) {
    // 32-bit lanes: alpha | red << 16, then green | blue << 16, per pixel.
    const __m256i p = _mm256_min_epu16(pixels, _mm256_set1_epi16(static_cast<short>(0x8000)));
    const __m256i order = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i ag = _mm256_permutevar8x32_epi32(_mm256_and_si256(p, _mm256_set1_epi32(0xFFFF)), order);
    const __m256i rb = _mm256_permutevar8x32_epi32(_mm256_srli_epi32(p, 16), order);
    const __m256d m = _mm256_set1_pd(product);
    a = _mm256_cvtepi32_pd(_mm256_castsi256_si128(ag));
    g = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(ag, 1)), m);
    r = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(rb)), m);
    b = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(rb, 1)), m);
}

// The rule's steps for four pixels, given their alphas and entries: A' =
// min(top, new alpha), k = A / A', colour times k, all four rounded.
struct RuleLanes {
    __m128i a, r, g, b;
};

__attribute__((target("avx2"), always_inline)) inline RuleLanes ruleLanes(__m256d a, __m256d r, __m256d g, __m256d b,
                                                                          __m256d vtop, bool bySixteen) {
    const __m256d brightest = _mm256_max_pd(r, _mm256_max_pd(g, b)); // no NaN among the entries
    const __m256d ma = _mm256_mul_pd(brightest, a);
    __m256d aNew =
        bySixteen ? _mm256_mul_pd(ma, _mm256_set1_pd(3.0517578125e-05)) : _mm256_div_pd(ma, _mm256_set1_pd(255.0));
    aNew = _mm256_min_pd(aNew, vtop);
    const __m256d k = _mm256_div_pd(a, aNew);
    return RuleLanes{roundLanes(aNew, vtop), roundLanes(_mm256_mul_pd(r, k), vtop),
                     roundLanes(_mm256_mul_pd(g, k), vtop), roundLanes(_mm256_mul_pd(b, k), vtop)};
}

// The four 16-bit pixels of the rule's results, in pixel order.
__attribute__((target("avx2"), always_inline)) inline __m256i ruleWords16(const RuleLanes& out) {
    const __m128i low = _mm_or_si128(out.a, _mm_slli_epi32(out.r, 16));
    const __m128i high = _mm_or_si128(out.g, _mm_slli_epi32(out.b, 16));
    return _mm256_set_m128i(_mm_unpackhi_epi32(low, high), _mm_unpacklo_epi32(low, high));
}

// Four set-aside pixels (saved[0..3], to dst[set[0..3]]) through the rule.
// Their alpha lies in 1..top - 1 (opaque, transparent and out-of-range
// alphas take other paths), so A' > 0. A `product` other than 0 (16 bits
// only) gives the entries as products instead of table reads.
template <class Pixel>
__attribute__((target("avx2"), always_inline)) inline void
overflowGroup4(const double* table, double product, __m256d vtop, bool bySixteen, const Pixel* saved, Pixel* dst,
               const std::uint32_t* set) {
    __m256d a, r, g, b;
    if constexpr (sizeof(Pixel) == sizeof(PF_Pixel16)) {
        if (product != 0.0) {
            productEntries(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(saved)), product, a, r, g, b);
        } else {
            tableEntries(table, saved, a, r, g, b);
        }
    } else {
        tableEntries(table, saved, a, r, g, b);
    }
    const RuleLanes out = ruleLanes(a, r, g, b, vtop, bySixteen);
    // The four pixels as (little-endian) words, each moved out of the vector
    // register and stored whole (not through memory: a narrower load from
    // a wider store that has not yet left would wait for it).
    if constexpr (sizeof(Pixel) == 4) {
        const __m128i words = _mm_or_si128(_mm_or_si128(out.a, _mm_slli_epi32(out.r, 8)),
                                           _mm_or_si128(_mm_slli_epi32(out.g, 16), _mm_slli_epi32(out.b, 24)));
        storeWord(dst[set[0]], static_cast<std::uint32_t>(_mm_cvtsi128_si32(words)));
        storeWord(dst[set[1]], static_cast<std::uint32_t>(_mm_extract_epi32(words, 1)));
        storeWord(dst[set[2]], static_cast<std::uint32_t>(_mm_extract_epi32(words, 2)));
        storeWord(dst[set[3]], static_cast<std::uint32_t>(_mm_extract_epi32(words, 3)));
    } else {
        const __m256i words = ruleWords16(out);
        const __m128i first = _mm256_castsi256_si128(words), second = _mm256_extracti128_si256(words, 1);
        storeWord(dst[set[0]], static_cast<std::uint64_t>(_mm_cvtsi128_si64(first)));
        storeWord(dst[set[1]], static_cast<std::uint64_t>(_mm_extract_epi64(first, 1)));
        storeWord(dst[set[2]], static_cast<std::uint64_t>(_mm_cvtsi128_si64(second)));
        storeWord(dst[set[3]], static_cast<std::uint64_t>(_mm_extract_epi64(second, 1)));
    }
}

// Set-aside pixels four at a time (two groups per step, so that their
// divisions overlap): the same double operations lane by lane (no fused
// multiply-add), so the same results. `bySixteen` selects the 16-bit new
// alpha (M A) 2^-15 instead of the 8-bit (M A) / 255. Returns how many it
// converted (a multiple of four).
template <class Pixel>
__attribute__((target("avx2"))) int overflowPixels4(const double* table, double product, double top, bool bySixteen,
                                                    const Pixel* saved, Pixel* dst, const std::uint32_t* set,
                                                    int count) {
    const __m256d vtop = _mm256_set1_pd(top);
    int n = 0;
    for (; n + 8 <= count; n += 8) {
        overflowGroup4(table, product, vtop, bySixteen, saved + n, dst, set + n);
        overflowGroup4(table, product, vtop, bySixteen, saved + n + 4, dst, set + n + 4);
    }
    for (; n + 4 <= count; n += 4) {
        overflowGroup4(table, product, vtop, bySixteen, saved + n, dst, set + n);
    }
    return n;
}
#endif

// `product`: 0, or the factor that makes every entry v times it (the
// vector code then computes the entries instead of reading them).
template <class Pixel, class Channel, class NewAlpha>
inline void overflowPixels(const double* table, double product, double top, unsigned lastIndex, NewAlpha newAlpha,
                           const Pixel* saved, Pixel* dst, const std::uint32_t* set, int count, bool vector) {
    int n = 0;
#ifdef MORVEK_AVX2
    if (vector && count >= 4) {
        n = overflowPixels4(table, product, top, sizeof(Channel) == 2, saved, dst, set, count);
    }
#else
    (void)vector;
    (void)product;
#endif
    for (; n < count; ++n) {
        const Pixel s = saved[n];
        const double a = static_cast<double>(s.alpha);
        double r = table[s.red > lastIndex ? lastIndex : s.red];
        double g = table[s.green > lastIndex ? lastIndex : s.green];
        double b = table[s.blue > lastIndex ? lastIndex : s.blue];
        const double gb = g > b ? g : b;
        const double brightest = r > gb ? r : gb;
        double aNew = newAlpha(brightest, a);
        if (aNew > top) {
            aNew = top;
        }
        const double k = a / aNew;
        r *= k;
        g *= k;
        b *= k;
        Pixel& d = dst[set[n]];
        d.alpha = static_cast<Channel>(roundClampValue(aNew, top));
        d.red = static_cast<Channel>(roundClampValue(r, top));
        d.green = static_cast<Channel>(roundClampValue(g, top));
        d.blue = static_cast<Channel>(roundClampValue(b, top));
    }
}

// `vector`: the processor has AVX2.
inline void overflowPixels8(const double* table, const PF_Pixel* saved, PF_Pixel* dst, const std::uint32_t* set,
                            int count, bool vector) {
    overflowPixels<PF_Pixel, A_u_char>(
        table, 0.0, 255.0, 255u, [](double m, double a) { return (m * a) / 255.0; }, saved, dst, set, count, vector);
}

inline void overflowPixels16(const double* table, double product, const PF_Pixel16* saved, PF_Pixel16* dst,
                             const std::uint32_t* set, int count, bool vector) {
    overflowPixels<PF_Pixel16, A_u_short>(
        table, product, 32768.0, 32768u, [](double m, double a) { return (m * a) * 3.0517578125e-05; }, saved, dst, set,
        count, vector);
}

// The 16-bit pixels that a pass over a table that never decreases set aside
// (alpha above the top, or a colour at or above the overflow index with alpha
// other than the top): a transparent one becomes 0, alpha above the top goes
// through the converter, the rest take the overflow rule (compacted in
// saved/set first when there are others).
template <class Pixel, class Overflow>
void finishSetAside(const Exposure::Impl::ColorConverter& converter, unsigned top, Pixel* saved, Pixel* dst,
                    std::uint32_t* set, int count, bool vector, Overflow overflow) {
    // Usually every one of them takes the rule.
    bool plain = true;
    for (int n = 0; n < count; ++n) {
        plain = plain && saved[n].alpha != 0 && saved[n].alpha <= top;
    }
    if (plain) {
        overflow(converter.getTable().data(), saved, dst, set, count, vector);
        return;
    }
    int kept = 0;
    for (int n = 0; n < count; ++n) {
        const Pixel s = saved[n];
        Pixel& d = dst[set[n]];
        if (s.alpha == 0) {
            d = Pixel{0, 0, 0, 0};
        } else if (s.alpha > top) {
            converter.convert(s, d);
        } else {
            saved[kept] = s;
            set[kept] = set[n];
            ++kept;
        }
    }
    overflow(converter.getTable().data(), saved, dst, set, kept, vector);
}

// ---- 8 bits ---------------------------------------------------------------

// A pixel through the rounded entries, its alpha kept: the converter's result
// for every pixel that does not overflow, and for opaque ones that do.
inline std::uint32_t lookup8(const std::uint64_t* t, std::uint32_t px) {
    return static_cast<std::uint32_t>(t[(px >> 8) & 0xFFu] | t[256 + ((px >> 16) & 0xFFu)] | t[512 + (px >> 24)]) |
           (px & 0xFFu);
}

// Pixels begin..count of a chunk through a table that never decreases: every
// pixel is written; of those with a colour index at or above `from`, the
// transparent ones are cleared and those with alpha other than 255 appended
// to saved/set. Returns the new count.
inline int rising8(const std::uint64_t* t, unsigned from, const PF_Pixel* src, PF_Pixel* dst, std::ptrdiff_t begin,
                   std::ptrdiff_t count, PF_Pixel* saved, std::uint32_t* set, int n) {
    for (std::ptrdiff_t i = begin; i < count; ++i) {
        const std::uint32_t px = loadWord(src[i]);
        const std::uint32_t r = (px >> 8) & 0xFFu, g = (px >> 16) & 0xFFu, b = px >> 24;
        const std::uint32_t m = r > g ? (r > b ? r : b) : (g > b ? g : b);
        const std::uint32_t a = px & 0xFFu;
        const std::uint32_t over = m >= from ? 1u : 0u;
        storeWord(saved[n], px);
        set[n] = static_cast<std::uint32_t>(i);
        n += static_cast<int>(over & (a != 0 ? 1u : 0u) & (a != 0xFFu ? 1u : 0u));
        // A transparent pixel that overflows becomes 0.
        const std::uint32_t clear = over & (a == 0 ? 1u : 0u);
        storeWord(dst[i], lookup8(t, px) & (clear - 1u));
    }
    return n;
}

#ifdef MORVEK_AVX2
// Eight 8-bit pixels against the overflow index: those to set aside (bit k
// for pixel k: a colour byte at or above `from`, alpha neither 0 nor 255),
// and, as a mask of whole pixels, the transparent ones that overflow (which
// become 0).
struct Test8 {
    unsigned slow;
    __m256i zero;
};
__attribute__((target("avx2"))) inline Test8 test8(__m256i v, __m256i fromV) {
    const __m256i colour = _mm256_set1_epi32(static_cast<int>(0xFFFFFF00u));
    const __m256i high = _mm256_cmpeq_epi8(_mm256_max_epu8(v, fromV), v);
    const __m256i calm = _mm256_cmpeq_epi32(_mm256_and_si256(high, colour), _mm256_setzero_si256());
    const __m256i opaque = _mm256_cmpeq_epi32(_mm256_or_si256(v, colour), _mm256_set1_epi32(-1));
    const __m256i transparent = _mm256_cmpeq_epi32(_mm256_andnot_si256(colour, v), _mm256_setzero_si256());
    const __m256i plain = _mm256_or_si256(_mm256_or_si256(calm, opaque), transparent);
    return Test8{~static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(plain))) & 0xFFu,
                 _mm256_andnot_si256(calm, transparent)};
}

// T[x] for every byte x of N vectors at once, T non-decreasing, from lut[k] =
// T[16k .. 16k + 15] in both halves. With xs = x - 128 as a signed byte, the
// saturating xs - (16k - 128) is x - 16k where that lies in 0..15, negative
// (bit 7 set: the shuffle gives 0) below, and 16..127 above, where the
// shuffle gives an entry of a lower block, at most T[x]. The largest of the
// sixteen is T[x].
// Blocks from `blocks` on (at least 1) hold nothing but the last entry:
// x >= 16 blocks, that is xs > flat[0] = 16 blocks - 129, takes flat[1] = T[255]
// from one comparison instead of their shuffles.
template <int N>
__attribute__((target("avx2"), always_inline)) inline void
lookupBytes(const __m256i* x, __m256i* y, const __m256i* lut, const __m256i* offset, int blocks, const __m256i* flat) {
    __m256i xs[N];
#pragma GCC unroll 4
    for (int j = 0; j < N; ++j) {
        xs[j] = _mm256_xor_si256(x[j], _mm256_set1_epi8(-128));
        y[j] = _mm256_setzero_si256();
    }
#pragma GCC unroll 16
    for (int k = 0; k < blocks; ++k) {
#pragma GCC unroll 4
        for (int j = 0; j < N; ++j) {
            y[j] = _mm256_max_epu8(y[j], _mm256_shuffle_epi8(lut[k], _mm256_subs_epi8(xs[j], offset[k])));
        }
    }
    if (blocks < 16) {
#pragma GCC unroll 4
        for (int j = 0; j < N; ++j) {
            y[j] = _mm256_max_epu8(y[j], _mm256_and_si256(_mm256_cmpgt_epi8(xs[j], flat[0]), flat[1]));
        }
    }
}

// T[x] for every byte x of N vectors at once from the block lines (layout in
// ExposureRows::lineShift8): with h = x >> 4 and l = x & 15, T[x] = b[h] +
// ((l m[h] + r[h]) >> s), the sum saturating at 255. The bytes' m, r and b
// come from shuffles by h. One multiply-add of unsigned by signed byte pairs
// gives l m + r in each 16-bit lane: for the even byte of a lane from the
// pairs (m, r) and (l, 1), for the odd one from (r, m) and (1, l). Bytes of a
// patched block then take their table entry instead; when the first block
// is patched, its line gives T[0], no more than any entry of a curve that
// never decreases, and the largest of that and a shuffle of the block's
// table by x itself is T[x] (the shuffle gives T[x & 15] <= T[x] for x up to
// 127, and 0 above).
struct Lookup8 {
    const __m256i* blocks; // ExposureRows::shuffle8
    int tableBlocks;
    int lineShift;
    bool lowBlock;
    const std::uint8_t* patch;
    int patches;
};

// The lines' tables and shifts, loaded once per run of pixels.
struct LineRegs {
    __m256i slope, rest, base, first;
    __m128i shift, up;
};

template <int N, bool kLow, bool kPatches>
__attribute__((target("avx2"), always_inline)) inline void lineBytes(const __m256i* x, __m256i* y, const LineRegs& line,
                                                                     const Lookup8& look) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i odd = _mm256_set1_epi16(static_cast<short>(0xFF00));
    const __m256i one = _mm256_set1_epi8(1);
    __m256i high[N], low[N];
#pragma GCC unroll 4
    for (int j = 0; j < N; ++j) {
        high[j] = _mm256_and_si256(_mm256_srli_epi16(x[j], 4), nibble);
        low[j] = _mm256_and_si256(x[j], nibble);
        const __m256i m = _mm256_shuffle_epi8(line.slope, high[j]);
        const __m256i r = _mm256_shuffle_epi8(line.rest, high[j]);
        const __m256i even = _mm256_maddubs_epi16(_mm256_blendv_epi8(m, _mm256_slli_epi16(r, 8), odd),
                                                  _mm256_blendv_epi8(low[j], one, odd));
        const __m256i odds = _mm256_maddubs_epi16(_mm256_blendv_epi8(_mm256_srli_epi16(r, 8), m, odd),
                                                  _mm256_blendv_epi8(one, low[j], odd));
        // (l m + r) >> s in each byte: the odd one shifted by 8 - s up into
        // the high byte of its lane.
        const __m256i steps =
            _mm256_blendv_epi8(_mm256_srl_epi16(even, line.shift), _mm256_sll_epi16(odds, line.up), odd);
        y[j] = _mm256_adds_epu8(steps, _mm256_shuffle_epi8(line.base, high[j]));
    }
    if constexpr (kLow) {
#pragma GCC unroll 4
        for (int j = 0; j < N; ++j) {
            y[j] = _mm256_max_epu8(y[j], _mm256_shuffle_epi8(line.first, x[j]));
        }
    }
    if constexpr (kPatches) {
        for (int p = 0; p < look.patches; ++p) {
            const __m256i table = look.blocks[look.patch[p]];
            const __m256i index = look.blocks[43 + p];
#pragma GCC unroll 4
            for (int j = 0; j < N; ++j) {
                y[j] = _mm256_blendv_epi8(y[j], _mm256_shuffle_epi8(table, low[j]), _mm256_cmpeq_epi8(high[j], index));
            }
        }
    }
}

// For each 8-bit mask, the positions of its set bits in order, four bits
// each from the lowest.
struct Compaction {
    std::uint32_t positions[256];
};
constexpr Compaction makeCompaction() {
    Compaction c{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        int out = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((mask & (1u << bit)) != 0) {
                c.positions[mask] |= bit << (4 * out++);
            }
        }
    }
    return c;
}
constexpr Compaction kCompaction = makeCompaction();

// Appends the pixels of x (8-bit, pixel `first` on) selected by `mask` to
// saved/set, in order; writes eight entries, of which popcount(mask) count.
__attribute__((target("avx2"))) inline int append8(__m256i x, unsigned mask, std::uint32_t first, PF_Pixel* saved,
                                                   std::uint32_t* set, int n) {
    const __m256i lanes =
        _mm256_and_si256(_mm256_srlv_epi32(_mm256_set1_epi32(static_cast<int>(kCompaction.positions[mask])),
                                           _mm256_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28)),
                         _mm256_set1_epi32(7));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(saved + n), _mm256_permutevar8x32_epi32(x, lanes));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(set + n),
                        _mm256_add_epi32(lanes, _mm256_set1_epi32(static_cast<int>(first))));
    return n + __builtin_popcount(mask);
}

// The same for four 16-bit pixels (mask below 16).
__attribute__((target("avx2"))) inline int append16(__m256i x, unsigned mask, std::uint32_t first, PF_Pixel16* saved,
                                                    std::uint32_t* set, int n) {
    const __m256i packed = _mm256_set1_epi32(static_cast<int>(kCompaction.positions[mask]));
    const __m256i pixel =
        _mm256_and_si256(_mm256_srlv_epi32(packed, _mm256_setr_epi32(0, 0, 4, 4, 8, 8, 12, 12)), _mm256_set1_epi32(7));
    const __m256i halves = _mm256_add_epi32(_mm256_add_epi32(pixel, pixel), _mm256_setr_epi32(0, 1, 0, 1, 0, 1, 0, 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(saved + n), _mm256_permutevar8x32_epi32(x, halves));
    const __m256i lanes = _mm256_and_si256(_mm256_srlv_epi32(packed, _mm256_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28)),
                                           _mm256_set1_epi32(7));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(set + n),
                        _mm256_add_epi32(lanes, _mm256_set1_epi32(static_cast<int>(first))));
    return n + __builtin_popcount(mask);
}

// Tests N groups of eight pixels at x (pixels i.. of the chunk) against the overflow
// index: appends those to set aside to saved/set (returning the new count) and
// gives in zero[j] the pixels of group j to clear, and in `clear` whether
// there are any. One test of all N groups together first: most groups have
// no colour at the overflow index.
template <int N>
__attribute__((target("avx2"), always_inline)) inline int testGroups8(const __m256i* x, __m256i fromV, std::ptrdiff_t i,
                                                                      PF_Pixel* saved, std::uint32_t* set, int n,
                                                                      __m256i* zero, bool& clear) {
    __m256i m = x[0], low = x[0];
#pragma GCC unroll 4
    for (int j = 1; j < N; ++j) {
        m = _mm256_max_epu8(m, x[j]);
        low = _mm256_min_epu8(low, x[j]);
    }
    const __m256i high = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(m, fromV), m),
                                          _mm256_set1_epi32(static_cast<int>(0xFFFFFF00u)));
    // Nothing to do when no colour reaches the index or every pixel is
    // opaque (the smallest alpha is 255).
    clear = false;
    if (_mm256_testz_si256(high, high) != 0 || _mm256_testc_si256(low, _mm256_set1_epi32(0xFF)) != 0) {
        return n;
    }
    std::uint32_t slow = 0;
    __m256i any = _mm256_setzero_si256();
#pragma GCC unroll 4
    for (int j = 0; j < N; ++j) {
        const Test8 t = test8(x[j], fromV);
        zero[j] = t.zero;
        any = _mm256_or_si256(any, t.zero);
        slow |= t.slow << (8 * j);
    }
    clear = _mm256_testz_si256(any, any) == 0;
    if (slow != 0) {
#pragma GCC unroll 4
        for (int j = 0; j < N; ++j) {
            n = append8(x[j], (slow >> (8 * j)) & 0xFFu, static_cast<std::uint32_t>(i + 8 * j), saved, set, n);
        }
    }
    return n;
}

// The colour of N vectors of packed colour bytes, by the rows' form of lookup.
template <int N, bool kLines, bool kLow, bool kPatches>
__attribute__((target("avx2"), always_inline)) inline void colour8(const __m256i* x, __m256i* y, const LineRegs& line,
                                                                   const Lookup8& look) {
    if constexpr (kLines) {
        lineBytes<N, kLow, kPatches>(x, y, line, look);
    } else {
        lookupBytes<N>(x, y, look.blocks, look.blocks + 16, look.tableBlocks, look.blocks + 38);
    }
}

// Transparent pixels that overflow become 0, after the stores.
template <int N>
__attribute__((target("avx2"), always_inline)) inline void clearPixels8(const __m256i* zero, PF_Pixel* dst) {
#pragma GCC unroll 4
    for (int j = 0; j < N; ++j) {
        auto* p = reinterpret_cast<__m256i*>(dst + 8 * j);
        _mm256_storeu_si256(p, _mm256_andnot_si256(zero[j], _mm256_loadu_si256(p)));
    }
}

// rising8 with AVX2: the colour through block lines or byte shuffles, 32
// pixels at a time (then 16), and the overflow tests per group. `blocks`
// holds the sixteen tables, the sixteen offsets, and three blocks each that
// take four of the twelve colour bytes of each half of a fourth group of
// pixels into the alpha bytes of the other three, and give them back (so 32
// pixels take three vectors of table lookups instead of four).
template <bool kLines, bool kLow, bool kPatches>
__attribute__((target("avx2"))) int rising8Avx2(const Lookup8& look, const std::uint64_t* t, unsigned from,
                                                const PF_Pixel* src, PF_Pixel* dst, std::ptrdiff_t count,
                                                PF_Pixel* saved, std::uint32_t* set) {
    const __m256i* blocks = look.blocks;
    const __m256i* take = blocks + 32;
    const __m256i* give = blocks + 35;
    LineRegs line{};
    if constexpr (kLines) {
        line = LineRegs{blocks[40],
                        blocks[41],
                        blocks[42],
                        blocks[0],
                        _mm_cvtsi32_si128(look.lineShift),
                        _mm_cvtsi32_si128(8 - look.lineShift)};
    }
    const bool check = from <= 255;
    const __m256i fromV = _mm256_set1_epi8(static_cast<char>(check ? from : 255u));
    const __m256i alpha = _mm256_set1_epi32(0xFF);
    int n = 0;
    std::ptrdiff_t i = 0;
    for (; i + 32 <= count; i += 32) {
        __m256i x[4], zero[4] = {}, packed[3], y[3];
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) {
            x[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 8 * j));
        }
        bool clear = false;
        if (check) {
            n = testGroups8<4>(x, fromV, i, saved, set, n, zero, clear);
        }
#pragma GCC unroll 4
        for (int j = 0; j < 3; ++j) {
            packed[j] = _mm256_blendv_epi8(x[j], _mm256_shuffle_epi8(x[3], take[j]), alpha);
        }
        colour8<3, kLines, kLow, kPatches>(packed, y, line, look);
        __m256i last = _mm256_and_si256(x[3], alpha);
#pragma GCC unroll 4
        for (int j = 0; j < 3; ++j) {
            last = _mm256_or_si256(last, _mm256_shuffle_epi8(y[j], give[j]));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 8 * j), _mm256_blendv_epi8(y[j], x[j], alpha));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 24), last);
        if (clear) {
            clearPixels8<4>(zero, dst + i);
        }
    }
    for (; i + 16 <= count; i += 16) {
        __m256i x[2], zero[2] = {}, y[2];
        x[0] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        x[1] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 8));
        bool clear = false;
        if (check) {
            n = testGroups8<2>(x, fromV, i, saved, set, n, zero, clear);
        }
        colour8<2, kLines, kLow, kPatches>(x, y, line, look);
#pragma GCC unroll 4
        for (int j = 0; j < 2; ++j) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 8 * j), _mm256_blendv_epi8(y[j], x[j], alpha));
        }
        if (clear) {
            clearPixels8<2>(zero, dst + i);
        }
    }
    return rising8(t, from, src, dst, i, count, saved, set, n);
}

// The loop for the form of lookup the rows hold.
using Rising8 = int (*)(const Lookup8&, const std::uint64_t*, unsigned, const PF_Pixel*, PF_Pixel*, std::ptrdiff_t,
                        PF_Pixel*, std::uint32_t*);
Rising8 rising8Loop(const Lookup8& look) {
    if (look.lineShift < 0) {
        return rising8Avx2<false, false, false>;
    }
    if (look.patches > 0) {
        return look.lowBlock ? rising8Avx2<true, true, true> : rising8Avx2<true, false, true>;
    }
    return look.lowBlock ? rising8Avx2<true, true, false> : rising8Avx2<true, false, false>;
}
#endif

// Any other table (one that decreases somewhere, or holds NaNs): the entries'
// flags decide pixel by pixel.
inline int general8(const Exposure::Impl::ColorConverter& converter, const std::uint64_t* t, const PF_Pixel* src,
                    PF_Pixel* dst, std::ptrdiff_t count, PF_Pixel* saved, std::uint32_t* set) {
    int n = 0;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint32_t px = loadWord(src[i]);
        const std::uint32_t a = px & 0xFFu;
        const std::uint64_t v = t[(px >> 8) & 0xFFu] | t[256 + ((px >> 16) & 0xFFu)] | t[512 + (px >> 24)];
        if ((v & (kOverflow8 | kNaN8)) == 0 || (a == 255 && (v & kNaN8) == 0)) {
            // No overflow, or an opaque pixel: alpha stays, colour is the
            // rounded entries.
            storeWord(dst[i], static_cast<std::uint32_t>(v) | a);
        } else if ((v & kNaN8) != 0) {
            converter.convert(src[i], dst[i]);
        } else if (a == 0) {
            dst[i] = PF_Pixel{0, 0, 0, 0}; // transparent and overflowing
        } else {
            saved[n] = src[i];
            set[n++] = static_cast<std::uint32_t>(i);
        }
    }
    return n;
}

// ---- 16 bits --------------------------------------------------------------

// A pixel through the rounded entries (table of a never decreasing curve),
// alpha clamped to the top: the converter's result for every pixel that does
// not overflow, and for opaque ones that do.
inline std::uint64_t lookup16(const std::uint16_t* t, std::uint64_t px) {
    const std::uint64_t a = px & 0xFFFFu;
    return (a > 32768 ? 32768 : a) | (std::uint64_t{t[(px >> 16) & 0xFFFFu]} << 16) |
           (std::uint64_t{t[(px >> 32) & 0xFFFFu]} << 32) | (std::uint64_t{t[px >> 48]} << 48);
}

// As rising8, at 16 bits: set aside when a colour value is at or above
// `from` and alpha is not 32768.
inline int rising16(const std::uint16_t* t, unsigned from, const PF_Pixel16* src, PF_Pixel16* dst, std::ptrdiff_t begin,
                    std::ptrdiff_t count, PF_Pixel16* saved, std::uint32_t* set, int n) {
    for (std::ptrdiff_t i = begin; i < count; ++i) {
        const std::uint64_t px = loadWord(src[i]);
        const std::uint64_t r = (px >> 16) & 0xFFFFu, g = (px >> 32) & 0xFFFFu, b = px >> 48;
        const std::uint64_t m = r > g ? (r > b ? r : b) : (g > b ? g : b);
        storeWord(saved[n], px);
        set[n] = static_cast<std::uint32_t>(i);
        n += static_cast<int>((m >= from) & ((px & 0xFFFFu) != 32768u));
        storeWord(dst[i], lookup16(t, px));
    }
    return n;
}

#ifdef MORVEK_AVX2
// Four 16-bit pixels: those to set aside (bit k for pixel k: alpha above
// 32768, or, when `check`, a colour value at or above `from` with alpha
// neither 0 nor 32768), and those transparent and overflowing (they become 0).
struct Test16 {
    unsigned slow, zero, over;
};
__attribute__((target("avx2"))) inline unsigned laneMask(__m256i m) {
    return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(m)));
}
template <bool check> __attribute__((target("avx2"))) inline Test16 test16(__m256i v, __m256i fromV) {
    const __m256i alpha = _mm256_and_si256(v, _mm256_set1_epi64x(0xFFFF));
    const __m256i top = _mm256_set1_epi64x(32768);
    const unsigned over = laneMask(_mm256_cmpgt_epi64(alpha, top));
    if (!check) {
        return Test16{over, 0, over};
    }
    const __m256i colour = _mm256_set1_epi64x(static_cast<long long>(0xFFFFFFFFFFFF0000ull));
    const __m256i high = _mm256_cmpeq_epi16(_mm256_max_epu16(v, fromV), v);
    const __m256i calm = _mm256_cmpeq_epi64(_mm256_and_si256(high, colour), _mm256_setzero_si256());
    const __m256i opaque = _mm256_cmpeq_epi64(alpha, top);
    const __m256i transparent = _mm256_cmpeq_epi64(alpha, _mm256_setzero_si256());
    const unsigned plain = laneMask(_mm256_or_si256(_mm256_or_si256(calm, opaque), transparent));
    return Test16{over | (~plain & 0xFu), laneMask(_mm256_andnot_si256(calm, transparent)), over};
}

// A pixel through the rounded entries, alpha as it is.
inline std::uint64_t lookup16Plain(const std::uint16_t* t, const PF_Pixel16& s) {
    return (loadWord(s) & 0xFFFFu) | (std::uint64_t{t[s.red]} << 16) | (std::uint64_t{t[s.green]} << 32) |
           (std::uint64_t{t[s.blue]} << 48);
}

// The rounded entries of a straight curve computed rather than looked up:
// min(32768, (v gain + offset) >> shift) for the colour of four pixels, the
// index v clamped to 32768 first as for the table; alpha as it is.
struct Line16Lanes {
    __m256i gain, offset;
    __m128i shift;
};

__attribute__((target("avx2"), always_inline)) inline __m256i lineHalf(__m256i x, const Line16Lanes& line) {
    // Even 32-bit lanes through the low halves of the 64-bit products, odd
    // ones shifted down first; the results (below 2^31) go back in place.
    const __m256i even = _mm256_srl_epi64(_mm256_add_epi64(_mm256_mul_epu32(x, line.gain), line.offset), line.shift);
    const __m256i odd = _mm256_srl_epi64(
        _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(x, 32), line.gain), line.offset), line.shift);
    return _mm256_min_epu32(_mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA), _mm256_set1_epi32(32768));
}

__attribute__((target("avx2"), always_inline)) inline __m256i line4(__m256i px, const Line16Lanes& line) {
    const __m256i v = _mm256_min_epu16(px, _mm256_set1_epi16(static_cast<short>(0x8000)));
    const __m256i lo = lineHalf(_mm256_unpacklo_epi16(v, _mm256_setzero_si256()), line);
    const __m256i hi = lineHalf(_mm256_unpackhi_epi16(v, _mm256_setzero_si256()), line);
    // Alpha is word 0 of each pixel: words 0 and 4 of each half.
    return _mm256_blend_epi16(_mm256_packus_epi32(lo, hi), px, 0x11);
}

__attribute__((target("avx2"))) Line16Lanes makeLine16Lanes(std::uint64_t gain, std::uint64_t offset, int shift) {
    return Line16Lanes{_mm256_set1_epi64x(static_cast<long long>(gain)),
                       _mm256_set1_epi64x(static_cast<long long>(offset)), _mm_cvtsi32_si128(shift)};
}

// All ones in the 64-bit lanes whose bit is set in `bits` (bit k, lane k).
__attribute__((target("avx2"), always_inline)) inline __m256i laneBits(unsigned bits) {
    const __m256i lanes = _mm256_setr_epi64x(1, 2, 4, 8);
    return _mm256_cmpeq_epi64(_mm256_and_si256(_mm256_set1_epi64x(bits), lanes), lanes);
}

// The rule for four 16-bit pixels of a table whose entries are the values
// times `product`, in registers: the same steps as overflowGroup4.
__attribute__((target("avx2"), always_inline)) inline __m256i productRule4(__m256i pixels, double product) {
    __m256d a, r, g, b;
    productEntries(pixels, product, a, r, g, b);
    return ruleWords16(ruleLanes(a, r, g, b, _mm256_set1_pd(32768.0), true));
}

// rising16 eight pixels at a time: one test per group whether any colour
// reaches the overflow index or any alpha exceeds 32768, and only then the
// pixels to set aside or clear; the others keep their alpha as it is. With
// `kLine` the colour comes from the line instead of the table; with `kRule`
// (a line whose entries are the values times `product`) the partly
// transparent overflowing pixels take the rule in the same pass.
template <bool check, bool kLine, bool kRule>
__attribute__((target("avx2"))) int rising16Avx2(const std::uint16_t* t, const Line16Lanes& line, double product,
                                                 unsigned from, const PF_Pixel16* src, PF_Pixel16* dst,
                                                 std::ptrdiff_t count, PF_Pixel16* saved, std::uint32_t* set) {
    const std::uint64_t f = check ? from : 0u;
    const __m256i fromV = _mm256_set1_epi64x(static_cast<long long>((f << 16) | (f << 32) | (f << 48)));
    // Any lane at or above its threshold: `from` for colour, 32769 for alpha.
    const __m256i threshold = _mm256_or_si256(fromV, _mm256_set1_epi64x(32769));
    const __m256i lanes = _mm256_set1_epi64x(check ? -1ll : 0xFFFFll);
    const __m256i alphaLanes = _mm256_set1_epi64x(0xFFFF);
    const __m256i top = _mm256_set1_epi64x(32768);
    int n = 0;
    std::ptrdiff_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 4));
        const __m256i m = _mm256_max_epu16(v0, v1);
        const __m256i high = _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_max_epu16(m, threshold), m), lanes);
        // Every alpha 32768: nothing to set aside or clear, whatever the
        // colour.
        const __m256i opaque = _mm256_and_si256(_mm256_cmpeq_epi16(v0, top), _mm256_cmpeq_epi16(v1, top));
        unsigned zero = 0, rule = 0;
        if (_mm256_testz_si256(high, high) == 0 && _mm256_testc_si256(opaque, alphaLanes) == 0) {
            const Test16 a = test16<check>(v0, fromV), b = test16<check>(v1, fromV);
            zero = a.zero | (b.zero << 4);
            // With kRule the pixels that take the rule get it here; only
            // alphas above the top are set aside.
            const unsigned aside0 = kRule ? a.over : a.slow, aside1 = kRule ? b.over : b.slow;
            rule = kRule ? (a.slow & ~a.over) | ((b.slow & ~b.over) << 4) : 0;
            if ((aside0 | aside1) != 0) {
                n = append16(v0, aside0, static_cast<std::uint32_t>(i), saved, set, n);
                n = append16(v1, aside1, static_cast<std::uint32_t>(i + 4), saved, set, n);
            }
        }
        if (kLine) {
            __m256i p0 = line4(v0, line), p1 = line4(v1, line);
            if (kRule && rule != 0) {
                if ((rule & 0xFu) != 0) {
                    p0 = _mm256_blendv_epi8(p0, productRule4(v0, product), laneBits(rule & 0xFu));
                }
                if ((rule >> 4) != 0) {
                    p1 = _mm256_blendv_epi8(p1, productRule4(v1, product), laneBits(rule >> 4));
                }
            }
            // Transparent overflowing pixels become 0.
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_andnot_si256(laneBits(zero & 0xFu), p0));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 4), _mm256_andnot_si256(laneBits(zero >> 4), p1));
        } else if (zero == 0) {
            // Two pixels at a time: each rounded entry is read straight into
            // its word of the pixels' own 128 bits (alpha stays where it
            // is), half the instructions of assembling each pixel in a
            // general register. The indices come out of the two pixels'
            // words by shifts: one load per pixel instead of one per
            // channel, where the loads (three table reads per pixel as well)
            // are what the loop waits on.
#pragma GCC unroll 4
            for (int k = 0; k < 8; k += 2) {
                const PF_Pixel16* p = src + i + k;
                __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const std::uint64_t w0 = loadWord(p[0]), w1 = loadWord(p[1]);
                x = _mm_insert_epi16(x, t[static_cast<std::uint32_t>(w0) >> 16], 1);
                x = _mm_insert_epi16(x, t[(w0 >> 32) & 0xFFFFu], 2);
                x = _mm_insert_epi16(x, t[w0 >> 48], 3);
                x = _mm_insert_epi16(x, t[static_cast<std::uint32_t>(w1) >> 16], 5);
                x = _mm_insert_epi16(x, t[(w1 >> 32) & 0xFFFFu], 6);
                x = _mm_insert_epi16(x, t[w1 >> 48], 7);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + k), x);
            }
        } else {
            for (int k = 0; k < 8; ++k) {
                // All ones, or zero for a pixel to clear.
                const std::uint64_t keep = std::uint64_t{(zero >> k) & 1u} - 1u;
                storeWord(dst[i + k], lookup16Plain(t, src[i + k]) & keep);
            }
        }
    }
    return rising16(t, from, src, dst, i, count, saved, set, n);
}
#endif

// Any other table: the entries' codes decide pixel by pixel.
inline int general16(const Exposure::Impl::ColorConverter& converter, const std::uint16_t* t, const PF_Pixel16* src,
                     PF_Pixel16* dst, std::ptrdiff_t count, PF_Pixel16* saved, std::uint32_t* set) {
    int n = 0;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint64_t px = loadWord(src[i]);
        std::uint64_t a = px & 0xFFFFu;
        std::uint64_t r = t[(px >> 16) & 0xFFFFu], g = t[(px >> 32) & 0xFFFFu], b = t[px >> 48];
        const std::uint64_t top = r > g ? (r > b ? r : b) : (g > b ? g : b);
        if (top > 32768) {
            // Some channel overflows (or is not a number).
            if (r == kNaN16 || g == kNaN16 || b == kNaN16 || a > 32768) {
                converter.convert(src[i], dst[i]);
                continue;
            }
            if (a != 0 && a != 32768) {
                saved[n] = src[i];
                set[n++] = static_cast<std::uint32_t>(i);
                continue;
            }
            if (a == 0) {
                r = g = b = 0; // transparent: no colour is kept
            } else {
                // Opaque: the rule scales by A/A' = 1; overflowing channels
                // round to the top.
                r = r > 32768 ? 32768 : r;
                g = g > 32768 ? 32768 : g;
                b = b > 32768 ? 32768 : b;
            }
        }
        // Alpha is rounded and clamped like the colour: above 32768 it
        // becomes 32768.
        a = a > 32768 ? 32768 : a;
        storeWord(dst[i], a | (r << 16) | (g << 32) | (b << 48));
    }
    return n;
}

} // namespace

void ExposureRows::convert8(const Converter& converter, const PF_Pixel* src, PF_Pixel* dst, std::ptrdiff_t n,
                            bool vector) const {
    const std::uint64_t* t = table8.data();
    const double* values = converter.getTable().data();
#ifdef MORVEK_AVX2
    vector = vector && hasAvx2Fma();
#else
    (void)vector;
#endif
    PF_Pixel saved[kChunk + 8];
    std::uint32_t set[kChunk + 8];
    for (std::ptrdiff_t start = 0; start < n; start += kChunk) {
        const std::ptrdiff_t count = n - start < kChunk ? n - start : kChunk;
        const PF_Pixel* s = src + start;
        PF_Pixel* d = dst + start;
        if (overflowFrom8 < 0) {
            overflowPixels8(values, saved, d, set, general8(converter, t, s, d, count, saved, set), vector);
            continue;
        }
        const auto from = static_cast<unsigned>(overflowFrom8);
        int setAside = 0;
#ifdef MORVEK_AVX2
        if (vector) {
            const Lookup8 look{reinterpret_cast<const __m256i*>(shuffle8.data()),
                               shuffleBlocks8,
                               lineShift8,
                               lowBlock8,
                               patch8,
                               patches8};
            setAside = rising8Loop(look)(look, t, from, s, d, count, saved, set);
        } else
#endif
        {
            setAside = rising8(t, from, s, d, 0, count, saved, set, 0);
        }
        // Only partly transparent pixels are set aside here.
        overflowPixels8(values, saved, d, set, setAside, vector);
    }
}

void ExposureRows::convert16(const Converter& converter, const PF_Pixel16* src, PF_Pixel16* dst, std::ptrdiff_t n,
                             bool vector) const {
    const std::uint16_t* t = table16.data();
    const double* values = converter.getTable().data();
#ifdef MORVEK_AVX2
    vector = vector && hasAvx2Fma();
#else
    (void)vector;
#endif
#ifdef MORVEK_AVX2
    Line16Lanes line{};
    if (vector && lineGain != 0) {
        line = makeLine16Lanes(lineGain, lineOffset, lineShift);
    }
#endif
    PF_Pixel16 saved[kChunk + 8];
    std::uint32_t set[kChunk + 8];
    for (std::ptrdiff_t start = 0; start < n; start += kChunk) {
        const std::ptrdiff_t count = n - start < kChunk ? n - start : kChunk;
        const PF_Pixel16* s = src + start;
        PF_Pixel16* d = dst + start;
        if (overflowFrom16 < 0) {
            overflowPixels16(values, 0.0, saved, d, set, general16(converter, t, s, d, count, saved, set), vector);
            continue;
        }
        const auto from = static_cast<unsigned>(overflowFrom16);
        int setAside = 0;
#ifdef MORVEK_AVX2
        if (vector) {
            const double p = product16;
            if (lineGain != 0 && p != 0.0) {
                setAside = from <= 32768 ? rising16Avx2<true, true, true>(t, line, p, from, s, d, count, saved, set)
                                         : rising16Avx2<false, true, false>(t, line, p, from, s, d, count, saved, set);
            } else if (lineGain != 0) {
                setAside = from <= 32768 ? rising16Avx2<true, true, false>(t, line, p, from, s, d, count, saved, set)
                                         : rising16Avx2<false, true, false>(t, line, p, from, s, d, count, saved, set);
            } else {
                setAside = from <= 32768 ? rising16Avx2<true, false, false>(t, line, p, from, s, d, count, saved, set)
                                         : rising16Avx2<false, false, false>(t, line, p, from, s, d, count, saved, set);
            }
        } else
#endif
        {
            setAside = rising16(t, from, s, d, 0, count, saved, set, 0);
        }
        finishSetAside(converter, 32768u, saved, d, set, setAside, vector,
                       [this](const double* table, const PF_Pixel16* saved16, PF_Pixel16* dst16,
                              const std::uint32_t* set16, int n16, bool vector16) {
                           overflowPixels16(table, product16, saved16, dst16, set16, n16, vector16);
                       });
    }
}

#ifdef MORVEK_AVX2
namespace {

// Eight pixels at a time, each loaded, powered and finished in registers.
// Without `lanes` the powers are the identity. Returns the pixels done.
template <bool kQuartic>
__attribute__((target("avx2,fma"))) std::ptrdiff_t
convert32Avx2(const FixedPowLanes* lanes, float scale, const PF_PixelFloat* src, PF_PixelFloat* dst, std::ptrdiff_t n) {
    const __m256 s = _mm256_set1_ps(scale);
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256 a, r, g, b;
        loadPixels8(src + i, a, r, g, b);
        if (lanes != nullptr) {
            r = lanes->pow8<kQuartic>(r);
            g = lanes->pow8<kQuartic>(g);
            b = lanes->pow8<kQuartic>(b);
        }
        finishPixels8(a, r, g, b, s, dst + i);
    }
    return i;
}

__attribute__((target("avx2,fma"))) std::ptrdiff_t
convert32Avx2(const FixedPow* power, float scale, const PF_PixelFloat* src, PF_PixelFloat* dst, std::ptrdiff_t n) {
    if (power == nullptr) {
        return convert32Avx2<false>(nullptr, scale, src, dst, n);
    }
    const FixedPowLanes lanes(power->table());
    return lanes.quartic() ? convert32Avx2<true>(&lanes, scale, src, dst, n)
                           : convert32Avx2<false>(&lanes, scale, src, dst, n);
}

} // namespace
#endif

void ExposureRows::convert32(const Converter& converter, const PF_PixelFloat* src, PF_PixelFloat* dst, std::ptrdiff_t n,
                             bool vector) const {
    const float scale = converter.getScaleFloat();
    const float y = converter.getInverseGammaFloat();
    std::ptrdiff_t done = 0;
#ifdef MORVEK_AVX2
    // The vector loop takes the identity and the table's powers; other
    // exponents keep the loop below.
    if (vector && hasAvx2Fma() && (identityPower || (power && power->usesTable()))) {
        done = convert32Avx2(identityPower ? nullptr : power.get(), scale, src, dst, n);
    }
#endif
    float in[3 * kRun];
    float out[3 * kRun];
    float alpha[kRun];
    for (std::ptrdiff_t start = done; start < n; start += kRun) {
        const std::ptrdiff_t count = n - start < kRun ? n - start : kRun;
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            const PF_PixelFloat& s = src[start + i];
            alpha[i] = s.alpha;
            in[i] = s.red;
            in[kRun + i] = s.green;
            in[2 * kRun + i] = s.blue;
        }
        // x^1 is x itself.
        const float* powered = in;
        if (!identityPower) {
            for (int c = 0; c < 3; ++c) {
                if (power) {
                    power->apply(in + c * kRun, out + c * kRun, count, vector);
                } else {
                    for (std::ptrdiff_t k = 0; k < count; ++k) {
                        out[c * kRun + k] = powFloat(in[c * kRun + k], y);
                    }
                }
            }
            powered = out;
        }
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            Converter::finishFloat(alpha[i], powered[i] * scale, powered[kRun + i] * scale,
                                   powered[2 * kRun + i] * scale, dst[start + i]);
        }
    }
}

} // namespace Morvek
