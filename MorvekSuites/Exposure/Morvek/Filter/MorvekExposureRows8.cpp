// The 8-bit rows: the rounded, flagged table and, for the vector loop, the
// byte-shuffle tables and the lines through blocks of sixteen entries; the
// portable loops and their AVX2 forms side by side.
#include "MorvekExposureRowsShared.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace Morvek {

using namespace RowsDetail;

namespace {

constexpr std::uint64_t kOverflow8 = 1ull << 32, kNaN8 = 1ull << 33;

// Lines through the sixteen blocks of sixteen rounded 8-bit entries t: with
// one shift s for all, block h gets a slope m (0..255), a remainder r
// (0..2^s - 1) and its first entry b, such that every entry t[16h + l] is
// b + ((l m + r) >> s), or, where the entry is the top 255, at least that
// (the vector code adds b with saturation). For one slope each entry bounds
// r to an interval, so the remainders that fit every entry form one; the
// slopes that the block's last entry allows are tried in turn. The blocks
// that fit no line are in `patched` (bit h), and the shift kept is the one
// that leaves fewest.
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

} // namespace

void ExposureRows::build8(const std::vector<double>& table) {
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
}

void ExposureRows::convert8(const Converter& converter, const PF_Pixel* src, PF_Pixel* dst, std::ptrdiff_t n,
                            bool vector) const {
    const std::uint64_t* t = table8.data();
    const double* values = converter.getTable().data();
    vector = vector && hasAvx2Fma();
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

} // namespace Morvek
