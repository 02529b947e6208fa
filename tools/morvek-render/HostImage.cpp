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

double HostImage::normalized(std::size_t i, int c) const {
    switch (depth) {
    case 8: {
        const PF_Pixel& p = pixels<PF_Pixel>()[i];
        const A_u_char v[4] = {p.alpha, p.red, p.green, p.blue};
        return v[c] / 255.0;
    }
    case 16: {
        const PF_Pixel16& p = pixels<PF_Pixel16>()[i];
        const A_u_short v[4] = {p.alpha, p.red, p.green, p.blue};
        return v[c] / 32768.0;
    }
    default: {
        const PF_PixelFloat& p = pixels<PF_PixelFloat>()[i];
        const float v[4] = {p.alpha, p.red, p.green, p.blue};
        return v[c];
    }
    }
}

void HostImage::setNormalized(std::size_t i, int c, double value) {
    switch (depth) {
    case 8: {
        PF_Pixel& p = pixels<PF_Pixel>()[i];
        A_u_char* v[4] = {&p.alpha, &p.red, &p.green, &p.blue};
        *v[c] = static_cast<A_u_char>(quantize(value, 255));
        break;
    }
    case 16: {
        PF_Pixel16& p = pixels<PF_Pixel16>()[i];
        A_u_short* v[4] = {&p.alpha, &p.red, &p.green, &p.blue};
        *v[c] = static_cast<A_u_short>(quantize(value, PF_MAX_CHAN16));
        break;
    }
    default: {
        PF_PixelFloat& p = pixels<PF_PixelFloat>()[i];
        float* v[4] = {&p.alpha, &p.red, &p.green, &p.blue};
        *v[c] = static_cast<float>(value);
        break;
    }
    }
}

HostImage convertDepth(const HostImage& image, int depth) {
    if (image.depth == depth) {
        return image;
    }
    HostImage out(image.width, image.height, depth);
    const std::size_t n = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    for (std::size_t i = 0; i < n; ++i) {
        for (int c = 0; c < 4; ++c) {
            out.setNormalized(i, c, image.normalized(i, c));
        }
    }
    return out;
}

} // namespace MorvekRender
