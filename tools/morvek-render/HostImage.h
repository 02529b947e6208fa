// A frame in the host's own pixel layout, and the sample conversions between
// file values and host values that every reader and writer shares.
//
// Rows are packed top to bottom, every pixel is alpha, red, green, blue with
// straight colour. Depth 8 holds PF_Pixel (full 255), depth 16 PF_Pixel16
// (full 32768) and depth 32 PF_PixelFloat (full 1.0).
#ifndef MORVEK_RENDER_HOSTIMAGE_H
#define MORVEK_RENDER_HOSTIMAGE_H

#include "HostTypes.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace MorvekRender {

// Any failure to read, convert or write an image; the text is one line meant
// for the user.
class ImageError : public std::runtime_error {
public:
    explicit ImageError(const std::string& what) : std::runtime_error(what) {}
};

bool isValidDepth(int depth);
std::size_t pixelBytes(int depth); // 4, 8 or 16
// Bytes of a packed frame; throws ImageError on a bad size or depth.
std::size_t frameBytes(int width, int height, int depth);

// The rows of a frame in the host's layout, wherever they are held (a
// HostImage, a host world): `rowBytes` apart, each row width pixels of
// pixelBytes(depth).
struct FrameRows {
    unsigned char* data = nullptr;
    std::size_t rowBytes = 0;
    int width = 0;
    int height = 0;
    int depth = 8;

    unsigned char* row(int y) const { return data + static_cast<std::size_t>(y) * rowBytes; }
};

// Channel c (0 alpha, 1 red, 2 green, 3 blue) of the pixel at `pixel` as a
// fraction of full, and the reverse, rounded to nearest and clamped at the
// integer depths.
double normalizedSample(const unsigned char* pixel, int depth, int c);
void setNormalizedSample(unsigned char* pixel, int depth, int c, double value);

struct HostImage {
    int width = 0;
    int height = 0;
    int depth = 8;
    std::vector<unsigned char> data;

    HostImage() = default;
    HostImage(int w, int h, int d); // zero-filled; throws ImageError on a bad size or depth

    std::size_t rowBytes() const { return static_cast<std::size_t>(width) * pixelBytes(depth); }
    std::size_t byteCount() const { return data.size(); }

    FrameRows rows() { return FrameRows{data.data(), rowBytes(), width, height, depth}; }
    // For reading only.
    FrameRows rows() const {
        return FrameRows{const_cast<unsigned char*>(data.data()), rowBytes(), width, height, depth};
    }

    template <class Pixel> Pixel* pixels() { return reinterpret_cast<Pixel*>(data.data()); }
    template <class Pixel> const Pixel* pixels() const { return reinterpret_cast<const Pixel*>(data.data()); }

    // Channel c (0 alpha, 1 red, 2 green, 3 blue) of pixel i as a fraction of
    // full (1.0 = full), and the reverse, rounded to nearest and clamped at
    // the integer depths.
    double normalized(std::size_t i, int c) const;
    void setNormalized(std::size_t i, int c, double value);
};

// 16-bit file samples (0..65535) and host samples (0..32768), rounded to
// nearest. Host to file to host gives back the same value.
uint16_t fileToHost16(uint16_t fileValue);
uint16_t hostToFile16(uint16_t hostValue); // values above 32768 count as full

// A fraction of full to an integer sample 0..top: round half up, clamped.
// Not-a-number gives 0.
uint32_t quantize(double fraction, uint32_t top);

// The same frame at another depth.
HostImage convertDepth(const HostImage& image, int depth);
// The pixels of `from` into `to`, a frame of the same size at its own depth.
void convertDepth(const FrameRows& from, const FrameRows& to);

} // namespace MorvekRender

#endif
