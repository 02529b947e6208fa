// Pixel worlds of the stand-in host: a PF_EffectWorld record together with the
// memory behind it, its pixel format and its row padding.
//
// Every World registers itself in a process-wide registry, so the host can
// validate any world record a module hands back (utils->copy, the fill and
// world suites) and can tell its pixel format, even when the module passes a
// copy of the record rather than the record itself. Worlds that tests make and
// worlds the module creates through the world suites are the same class.
#ifndef STANDIN_WORLD_H
#define STANDIN_WORLD_H

#include "HostAPI.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace standin {

// Bytes per pixel of a known format (4, 8 or 16); 0 for an unknown code.
int pixelSizeOf(PF_PixelFormat format);
// Bits per channel of a known format (8, 16 or 32); 0 for an unknown code.
int bitsPerChannelOf(PF_PixelFormat format);
// True for the two formats whose memory order is blue, green, red, alpha.
bool isBgraFormat(PF_PixelFormat format);
// The usual format for 8, 16 or 32 bits per channel (ARGB order).
PF_PixelFormat formatForBits(int bitsPerChannel);

class World {
public:
    // A cleared world of width x height pixels. `extraRowBytes` pads every
    // row, so rowbytes = width * pixel size + extraRowBytes. An unknown format
    // needs `pixelSizeOverride` (bytes per pixel) to size its rows; for a
    // known format the override is ignored.
    World(A_long width, A_long height, PF_PixelFormat format, A_long extraRowBytes = 0, int pixelSizeOverride = 0);
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // The record to hand to a module. Its address never changes.
    PF_EffectWorld* def() { return &def_; }
    const PF_EffectWorld* def() const { return &def_; }

    PF_PixelFormat format() const { return format_; }
    A_long width() const { return def_.width; }
    A_long height() const { return def_.height; }
    A_long rowbytes() const { return def_.rowbytes; }
    int pixelSize() const { return pixelSize_; }
    int bitsPerChannel() const { return bitsPerChannelOf(format_); }

    // Raw bytes: rowbytes * height of them.
    std::uint8_t* bytes() { return data_; }
    const std::uint8_t* bytes() const { return data_; }
    std::size_t byteSize() const { return byteSize_; }

    std::uint8_t* row(A_long y) { return data_ + static_cast<std::size_t>(y) * def_.rowbytes; }
    const std::uint8_t* row(A_long y) const { return data_ + static_cast<std::size_t>(y) * def_.rowbytes; }
    // Pixel (x, y) seen as type P (PF_Pixel, PF_Pixel16 or PF_PixelFloat).
    template <class P> P& at(A_long x, A_long y) { return reinterpret_cast<P*>(row(y))[x]; }
    template <class P> const P& at(A_long x, A_long y) const { return reinterpret_cast<const P*>(row(y))[x]; }

    void setOrigin(A_long x, A_long y);
    // Sets every byte of the pixel memory (padding included).
    void fillBytes(std::uint8_t value);
    // Fills every byte with a deterministic pseudo-random sequence.
    void fillRandom(std::uint32_t seed);
    // True when the guard bytes after the pixel memory are untouched (a
    // module wrote past the last row if not).
    bool guardIntact() const;
    // Byte-wise equality of the visible pixels (padding ignored).
    bool samePixels(const World& other) const;

    // The registered world that `record` describes: the same record, or a
    // record whose data pointer is this world's data and whose geometry fits
    // inside this world's memory. Null when none does.
    static World* find(const PF_EffectWorld* record);
    // True when `record` addresses memory that lies inside this world.
    bool covers(const PF_EffectWorld& record) const;

private:
    PF_EffectWorld def_{};
    PF_PixelFormat format_;
    int pixelSize_;
    // calloc'd: the system hands out large blocks as zero pages on demand,
    // so a world costs memory and page faults only where it is written.
    struct Free {
        void operator()(std::uint8_t* p) const;
    };
    std::unique_ptr<std::uint8_t, Free> storage_;
    std::uint8_t* data_ = nullptr;
    std::size_t byteSize_ = 0;
};

} // namespace standin

#endif
