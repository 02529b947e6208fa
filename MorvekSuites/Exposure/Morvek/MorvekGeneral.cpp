// Fixed-point rotation and border folding for the geometry value types.
#include "MorvekGeneral.h"

#include <cmath>
#include <cstdint>

namespace Morvek {

namespace {

constexpr std::int32_t kOne = 65536; // one pixel in 16.16

// Half away from zero: add 0.5 to a non-negative value, -0.5 to a negative
// one, then truncate.
int roundAwayFromZero(double v) {
    return detail::truncToInt(v >= 0.0 ? v + 0.5 : v - 0.5);
}

std::int32_t wrapMul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

std::int32_t toFixed(int size, bool sizeIsFixed) {
    return sizeIsFixed ? size : static_cast<std::int32_t>(static_cast<std::uint32_t>(size) << 16);
}

// The 16.16 fold with the image size s and the largest allowed position
// last. Twice the size is formed in 64 bits so that wide images do not
// overflow.
std::int32_t foldFixed(std::int32_t pos, std::int32_t s, std::int32_t last, int mode) {
    switch (mode) {
    case Border::Mirror: {
        if (s <= 0) {
            return pos;
        }
        std::int64_t r = pos;
        if (pos < 0 || pos >= s) {
            // Reflection about -0.5 pixel: -0.5 - x - 0.5 = -1.0 - x.
            const std::int64_t q = pos < 0 ? -static_cast<std::int64_t>(kOne) - pos : pos;
            const std::int64_t period = 2 * static_cast<std::int64_t>(s);
            r = q % period;
            if (r >= s) {
                r = period - kOne - r;
            }
        }
        if (r > last) {
            return last;
        }
        return r < 0 ? 0 : static_cast<std::int32_t>(r);
    }
    case Border::Wrap: {
        if (s <= 0) {
            return pos;
        }
        std::int32_t r = pos % s;
        if (r < 0) {
            r += s;
        }
        return r < last ? r : last;
    }
    case Border::Clamp:
        if (pos < 0) {
            return 0;
        }
        return pos < last ? pos : last;
    default:
        return pos;
    }
}

} // namespace

VectorFixed VectorFixed::rotate(const VectorFixed& r) const {
    const std::int32_t vx = x >> 12;
    const std::int32_t vy = y >> 12;
    const std::int32_t rx = r.x >> 4;
    const std::int32_t ry = r.y >> 4;
    return VectorFixed(detail::Arith<int>::sub(wrapMul(vx, rx), wrapMul(vy, ry)),
                       detail::Arith<int>::add(wrapMul(rx, vy), wrapMul(ry, vx)));
}

VectorFixed createRotatedFixed(double angle) {
    return VectorFixed(roundAwayFromZero(std::cos(angle) * 65536.0), roundAwayFromZero(-std::sin(angle) * 65536.0));
}

namespace Border {

int offset(int pos, int size, int mode) {
    switch (mode) {
    case Mirror: {
        if (size <= 0) {
            return pos;
        }
        if (pos >= 0 && pos < size) {
            return pos;
        }
        // -1 reflects onto 0, -2 onto 1, ...; written so that the most
        // negative int does not overflow.
        const std::int64_t p = pos < 0 ? -(static_cast<std::int64_t>(pos) + 1) : pos;
        const std::int64_t period = 2 * static_cast<std::int64_t>(size);
        const std::int64_t r = p % period;
        return static_cast<int>(r < size ? r : period - 1 - r);
    }
    case Wrap: {
        if (size <= 0) {
            return pos;
        }
        const int r = pos % size;
        return r < 0 ? r + size : r;
    }
    case Clamp:
        if (pos < 0) {
            return 0;
        }
        // size - 1 wraps for the most negative size rather than overflowing.
        return pos >= size ? detail::Arith<int>::sub(size, 1) : pos;
    default:
        return pos;
    }
}

int offsetF(int pos, int size, int mode, bool sizeIsFixed) {
    const std::int32_t s = toFixed(size, sizeIsFixed);
    return foldFixed(pos, s, detail::Arith<int>::sub(s, kOne), mode);
}

void offsetF(VectorFixed& v, int width, int height, int mode, bool sizeIsFixed) {
    v.x = offsetF(v.x, width, mode, sizeIsFixed);
    v.y = offsetF(v.y, height, mode, sizeIsFixed);
}

void offsetF(VectorFixed& v, int width, int lastX, int height, int lastY, int mode) {
    v.x = foldFixed(v.x, width, lastX, mode);
    v.y = foldFixed(v.y, height, lastY, mode);
}

} // namespace Border

} // namespace Morvek
