// Host-layout frames and the sample conversions shared by every file format.
#include "HostImage.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace MorvekRender {

bool isValidDepth(int depth) {
    return depth == 8 || depth == 16 || depth == 32;
}

std::size_t pixelBytes(int depth) {
    switch (depth) {
    case 8:
        return sizeof(PF_Pixel);
    case 16:
        return sizeof(PF_Pixel16);
    case 32:
        return sizeof(PF_PixelFloat);
    default:
        return 0;
    }
}

std::size_t frameBytes(int width, int height, int depth) {
    if (!isValidDepth(depth)) {
        throw ImageError("depth must be 8, 16 or 32, not " + std::to_string(depth));
    }
    if (width <= 0 || height <= 0) {
        throw ImageError("image size must be positive, not " + std::to_string(width) + "x" + std::to_string(height));
    }
    const std::size_t limit = std::numeric_limits<std::size_t>::max() / 16;
    if (static_cast<std::size_t>(width) > limit / static_cast<std::size_t>(height)) {
        throw ImageError("image is too large: " + std::to_string(width) + "x" + std::to_string(height));
    }
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * pixelBytes(depth);
}

HostImage::HostImage(int w, int h, int d) : width(w), height(h), depth(d) {
    data.assign(frameBytes(w, h, d), 0);
}

uint32_t quantize(double fraction, uint32_t top) {
    if (!(fraction > 0.0)) { // also catches not-a-number
        return 0;
    }
    const double x = fraction * top + 0.5;
    if (x >= top) {
        return top;
    }
    return static_cast<uint32_t>(x);
}

uint16_t fileToHost16(uint16_t fileValue) {
    // v * 32768 / 65535 never lies exactly half-way between two integers
    // (65535 is odd), so the integer form below is exact rounding.
    const uint64_t v = fileValue;
    return static_cast<uint16_t>((v * 65536u + 65535u) / 131070u);
}

uint16_t hostToFile16(uint16_t hostValue) {
    const uint32_t h = hostValue > PF_MAX_CHAN16 ? PF_MAX_CHAN16 : hostValue;
    // round(h * 65535 / 32768), halves up (only h = 16384 is a tie).
    return static_cast<uint16_t>((h * 65535u + 16384u) >> 15);
}

double normalizedSample(const unsigned char* pixel, int depth, int c) {
    switch (depth) {
    case 8:
        return pixel[c] / 255.0;
    case 16: {
        A_u_short v;
        std::memcpy(&v, pixel + 2 * c, sizeof v);
        return v / 32768.0;
    }
    default: {
        float v;
        std::memcpy(&v, pixel + 4 * c, sizeof v);
        return v;
    }
    }
}

void setNormalizedSample(unsigned char* pixel, int depth, int c, double value) {
    switch (depth) {
    case 8:
        pixel[c] = static_cast<A_u_char>(quantize(value, 255));
        break;
    case 16: {
        const auto v = static_cast<A_u_short>(quantize(value, PF_MAX_CHAN16));
        std::memcpy(pixel + 2 * c, &v, sizeof v);
        break;
    }
    default: {
        const auto v = static_cast<float>(value);
        std::memcpy(pixel + 4 * c, &v, sizeof v);
        break;
    }
    }
}

double HostImage::normalized(std::size_t i, int c) const {
    return normalizedSample(data.data() + i * pixelBytes(depth), depth, c);
}

void HostImage::setNormalized(std::size_t i, int c, double value) {
    setNormalizedSample(data.data() + i * pixelBytes(depth), depth, c, value);
}

void convertDepth(const FrameRows& from, const FrameRows& to) {
    const std::size_t fromPixel = pixelBytes(from.depth);
    const std::size_t toPixel = pixelBytes(to.depth);
    for (int y = 0; y < from.height; ++y) {
        const unsigned char* src = from.row(y);
        unsigned char* dst = to.row(y);
        for (int x = 0; x < from.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                setNormalizedSample(dst + x * toPixel, to.depth, c,
                                    normalizedSample(src + x * fromPixel, from.depth, c));
            }
        }
    }
}

HostImage convertDepth(const HostImage& image, int depth) {
    if (image.depth == depth) {
        return image;
    }
    HostImage out(image.width, image.height, depth);
    convertDepth(image.rows(), out.rows());
    return out;
}

} // namespace MorvekRender
