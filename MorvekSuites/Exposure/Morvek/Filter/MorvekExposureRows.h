// Row conversions of the exposure filter: whole rows of pixels converted to
// exactly the bits that the colour converter gives pixel by pixel, with less
// work per pixel.
//
// 8 and 16 bits: each table entry is rounded once, up front, and flagged when
// it reaches the overflow threshold. A pixel none of whose colour channels is
// flagged keeps its alpha and takes the rounded entries (the brightest channel
// reaches the threshold exactly when one of them does). So does an opaque
// pixel (the rule scales its colour by A/A' = 1), and a transparent one whose
// colour overflows becomes 0; only partly transparent overflowing pixels go
// through the converter's rule (set aside with their source, several at a
// time). For a curve that never decreases (every valid gamma), a pixel
// overflows exactly when its largest colour value reaches the first
// overflowing index, which whole groups of pixels are compared against at
// once; with AVX2 the 8-bit colour comes from lines through blocks of
// sixteen entries (checked against each entry) or byte shuffles, and a
// 16-bit curve that is a straight line (gamma 1) is computed with integer
// products, from a line checked against every rounded entry.
// 32 bits: at gamma 1 the power is the identity; otherwise the powers of a
// run of pixels are computed together through a table built for the frame's
// exponent (FixedPow), each equal to powFloat's.
//
// MorvekExposureRows8.cpp, MorvekExposureRows16.cpp and
// MorvekExposureRows32.cpp each hold one depth, its portable and AVX2 loops
// side by side; MorvekExposureRows.cpp and MorvekExposureRowsShared.h hold
// what the depths share (chunks, overflow rule, pixel words).
#ifndef MORVEK_FILTER_MORVEKEXPOSUREROWS_H
#define MORVEK_FILTER_MORVEKEXPOSUREROWS_H

#include "MorvekExposure.h"
#include "MorvekFixedPow.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Morvek {

class ExposureRows {
public:
    using Converter = Exposure::Impl::ColorConverter;

    // Derives the rounded tables from the converter's (8 or 16 bits) and the
    // 32-bit mode. Copies own their tables and share the read-only power
    // table.
    explicit ExposureRows(const Converter& converter);

    // Converts n pixels from src to dst (which may be src itself: every pixel
    // is read before it is written). `converter` must be the one these rows
    // were built from; the 8- and 16-bit forms need it built for that depth.
    // `vector` false forces the portable loops (for the tests).
    void convert8(const Converter& converter, const PF_Pixel* src, PF_Pixel* dst, std::ptrdiff_t n,
                  bool vector = true) const;
    void convert16(const Converter& converter, const PF_Pixel16* src, PF_Pixel16* dst, std::ptrdiff_t n,
                   bool vector = true) const;
    void convert32(const Converter& converter, const PF_PixelFloat* src, PF_PixelFloat* dst, std::ptrdiff_t n,
                   bool vector = true) const;

    // Whether the 16-bit vector loop computes the colour from a line rather
    // than looking it up (a straight curve, gamma 1; for the tests).
    bool linear16() const { return lineGain != 0; }
    // Whether the 8-bit vector loop takes the colour from lines through
    // blocks of the table rather than from shuffles of the whole table.
    bool lines8() const { return lineShift8 >= 0; }

private:
    // The tables of each depth, from the converter's (each in its depth's
    // file).
    void build8(const std::vector<double>& table);
    void build16(const Converter& converter);
    void build32(const Converter& converter);

    // 8 bits, for red, green and blue in turn (256 entries each): the rounded
    // value at its channel's byte of the pixel read as a little-endian 32-bit
    // word, bit 32 set when the entry overflows, bit 33 when it is not a
    // number.
    std::vector<std::uint64_t> table8;
    // 8 bits, for the vector code: the rounded values as sixteen tables of
    // sixteen, each in both halves of a block; then the blocks of constants
    // that code shuffles and compares with. The tables from shuffleBlocks8 on
    // hold only the last value, which a comparison gives instead.
    struct alignas(32) Block {
        std::uint8_t bytes[32];
    };
    std::vector<Block> shuffle8;
    int shuffleBlocks8 = 16;
    // 8 bits, vector code: when most blocks of sixteen entries lie on lines
    // (blocks 40 to 42 of shuffle8 hold their slopes, remainders and first
    // entries, checked against every entry), the shift of those lines, and
    // the blocks that do not, which their tables patch (patch8, with their
    // indices in every byte from block 43 on; the first block, when it is
    // patched, by lowBlock8 instead). -1 for the shuffles alone.
    int lineShift8 = -1;
    bool lowBlock8 = false;
    int patches8 = 0;
    std::uint8_t patch8[16] = {};
    // 16 bits: 65536 entries (indices above 32768 read entry 32768, as the
    // converter does), each the rounded value (0..32768). For a table that
    // decreases somewhere or holds NaNs, kOverflow16 marks an entry that
    // overflows and kNaN16 one that is not a number.
    std::vector<std::uint16_t> table16;
    // For tables that never decrease, the first channel value whose entry
    // overflows (every later one does too): 256 at 8 bits and 65536 at 16
    // when none does. -1 for other tables, which take the per-entry flags.
    int overflowFrom8 = -1;
    int overflowFrom16 = -1;
    // 16 bits, a curve that is a straight line (gamma 1): every rounded
    // entry below the overflow index is (v lineGain + lineOffset) >>
    // lineShift, and from there on that reaches 32768, as checked against
    // each entry when the rows are built; so the vector loop computes the
    // colour instead of looking it up. lineGain 0 when no such line exists.
    std::uint64_t lineGain = 0, lineOffset = 0;
    int lineShift = 0;
    // 16 bits: when every entry of the converter's table is exactly the
    // channel value times this (gamma 1), the overflow rule's vector code
    // computes the entries instead of reading them; 0 otherwise.
    double product16 = 0.0;
    bool identityPower = false; // 32 bits: exponent exactly 1
    // 32 bits, other exponents, for a converter built for float pixels:
    // powers of a run of channel values at once (shared by copies: it is
    // only read). Without it every power is powFloat's.
    std::shared_ptr<const FixedPow> power;
};

} // namespace Morvek

#endif // MORVEK_FILTER_MORVEKEXPOSUREROWS_H
