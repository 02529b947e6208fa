// Exposure colour converter: the lookup tables for the integer depths and the
// per-pixel conversions at 8, 16 and 32 bits per channel.
#include "MorvekExposure.h"
#include "MorvekExposureRows.h"
#include "MorvekPow.h"
#include "MorvekPowRun.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>

namespace Morvek {

namespace {

// The two power functions of the transform. Everything that evaluates the
// curve goes through these (or through powDoubleRun, which gives powDouble's
// bits a table at a time): the library's own, correctly rounded and built from
// plain IEEE arithmetic, so that every platform renders the same pixels.
inline double powD(double base, double exponent) {
    return powDouble(base, exponent);
}
inline float powF(float base, float exponent) {
    return powFloat(base, exponent);
}

// Gain per exposure step. Close to 2^(1/2.2) but not equal to it: an exposure
// of +2.2 multiplies by 1.99999991, not by 2.
constexpr double kExposureBase = 1.37035095691681;

// 1/32768, exactly 2^-15.
constexpr double kInverse16 = 3.0517578125e-05;

// What differs between the two tabulated depths.
struct Depth8 {
    using Pixel = PF_Pixel;
    using Channel = A_u_char;
    static constexpr double top = 255.0;
    // The rule fires half a step above the top, where rounding would clip.
    static constexpr double threshold = 255.5;
    static double newAlpha(double brightest, double alpha) { return (brightest * alpha) / 255.0; }
    static unsigned index(Channel c) { return c; }
};

struct Depth16 {
    using Pixel = PF_Pixel16;
    using Channel = A_u_short;
    static constexpr double top = 32768.0;
    static constexpr double threshold = 32768.5;
    static double newAlpha(double brightest, double alpha) { return (brightest * alpha) * kInverse16; }
    // The table ends at 32768; larger 16-bit values read its last entry.
    static unsigned index(Channel c) { return c > 32768u ? 32768u : c; }
};

// Round half up and clamp to 0..top. A NaN (possible only with a degenerate
// gamma or an infinite exposure) becomes 0 instead of reaching the integer
// conversion.
template <typename D> inline typename D::Channel roundClamp(double v) {
    const double x = v + 0.5;
    if (!(x >= 0.0)) {
        return 0;
    }
    if (x > D::top) {
        return static_cast<typename D::Channel>(D::top);
    }
    return static_cast<typename D::Channel>(x);
}

// One pixel at 8 or 16 bits: look the colour up, fold overflow into alpha,
// round. In double precision throughout.
template <typename D>
inline void convertTabulated(const double* table, const typename D::Pixel& src, typename D::Pixel& dst) {
    double a = static_cast<double>(src.alpha);
    double r = table[D::index(src.red)];
    double g = table[D::index(src.green)];
    double b = table[D::index(src.blue)];

    const double gb = g > b ? g : b;
    const double brightest = r > gb ? r : gb;

    // Overexposed colour: raise alpha by brightest/top (capped at top) and
    // scale the colour back by the same factor, so that the brightest channel
    // lands on the top and the others keep their ratios to it.
    if (brightest >= D::threshold) {
        double aNew = D::newAlpha(brightest, a);
        if (aNew > D::top) {
            aNew = D::top;
        }
        if (aNew > 0.0) {
            const double k = a / aNew;
            r *= k;
            g *= k;
            b *= k;
        } else {
            // Fully transparent: there is no colour to keep.
            aNew = 0.0;
            r = 0.0;
            g = 0.0;
            b = 0.0;
        }
        a = aNew;
    }

    dst.alpha = roundClamp<D>(a);
    dst.red = roundClamp<D>(r);
    dst.green = roundClamp<D>(g);
    dst.blue = roundClamp<D>(b);
}

} // namespace

Exposure::Impl::ColorConverter::ColorConverter(const Parameter& p)
    : parameter(p), scale(powD(kExposureBase, p.exposure)), scaleFloat(static_cast<float>(scale)),
      inverseGamma(1.0 / p.gamma), inverseGammaFloat(static_cast<float>(inverseGamma)) {
    // Power, then times the range top, then times the gain, in that order.
    // The powers of the whole table come from one run of powDouble.
    if (parameter.bpc == 1) {
        table.resize(32769);
        for (std::size_t i = 0; i <= 32768; ++i) {
            table[i] = static_cast<double>(i) * kInverse16;
        }
        powDoubleRun(table.data(), inverseGamma, table.data(), static_cast<std::ptrdiff_t>(table.size()));
        for (double& v : table) {
            v = (v * 32768.0) * scale;
        }
    } else if (parameter.bpc == 0) {
        table.resize(256);
        for (std::size_t i = 0; i <= 255; ++i) {
            table[i] = static_cast<double>(i) / 255.0;
        }
        powDoubleRun(table.data(), inverseGamma, table.data(), static_cast<std::ptrdiff_t>(table.size()));
        for (double& v : table) {
            v = (v * 255.0) * scale;
        }
    }
}

void Exposure::Impl::ColorConverter::convert(const PF_Pixel& src, PF_Pixel& dst) const {
    convertTabulated<Depth8>(table.data(), src, dst);
}

void Exposure::Impl::ColorConverter::convert(const PF_Pixel16& src, PF_Pixel16& dst) const {
    convertTabulated<Depth16>(table.data(), src, dst);
}

// Float pixels: the curve per pixel in single precision. Colour is left
// unclamped (float pixels may hold over-range values); alpha is kept in 0..1.
void Exposure::Impl::ColorConverter::convert(const PF_PixelFloat& src, PF_PixelFloat& dst) const {
    const float a = src.alpha;
    const float r = powF(src.red, inverseGammaFloat) * scaleFloat;
    const float g = powF(src.green, inverseGammaFloat) * scaleFloat;
    const float b = powF(src.blue, inverseGammaFloat) * scaleFloat;
    finishFloat(a, r, g, b, dst);
}

} // namespace Morvek

// ---------------------------------------------------------------------------
// The exposure filter: the region loops over host worlds and the filter object
// that owns the converter through its implementation holder.
// ---------------------------------------------------------------------------

namespace Morvek {

namespace {

// Table size a converter needs for a tabulated pixel type; 0 when it needs none.
template <class Pixel> constexpr std::size_t requiredTableSize() {
    return std::is_same<Pixel, PF_Pixel>::value ? 256 : (std::is_same<Pixel, PF_Pixel16>::value ? 32769 : 0);
}

// One row through the row conversions: the converter's pixels, row at a time.
inline void convertRow(const Exposure::Impl& impl, const PF_Pixel* s, PF_Pixel* d, std::ptrdiff_t n) {
    impl.rows->convert8(impl.converter, s, d, n);
}
inline void convertRow(const Exposure::Impl& impl, const PF_Pixel16* s, PF_Pixel16* d, std::ptrdiff_t n) {
    impl.rows->convert16(impl.converter, s, d, n);
}
inline void convertRow(const Exposure::Impl& impl, const PF_PixelFloat* s, PF_PixelFloat* d, std::ptrdiff_t n) {
    impl.rows->convert32(impl.converter, s, d, n);
}

// Converts `region`, clipped to the input world, row by row from the input
// world into the output world. Each world is addressed with its own stride
// (rowbytes / pixel size, remainder dropped). Every check is made once, before
// the loops.
template <class Pixel> void convertRegion(const Exposure::Impl& impl, Layer& in, Layer& out, const Rect& region) {
    const Exposure::Impl::ColorConverter& converter = impl.converter;
    const PF_LayerDef* src = in.getWorld();
    const PF_LayerDef* dst = out.getWorld();
    if (src == nullptr || dst == nullptr || src->data == nullptr || dst->data == nullptr) {
        return;
    }
    // A converter built for another integer depth has a table of the wrong
    // size: running it would read past the table.
    constexpr std::size_t tableSize = requiredTableSize<Pixel>();
    if (tableSize != 0 && converter.getTable().size() != tableSize) {
        return;
    }
    const A_long x0 = std::max<A_long>(region.left, 0);
    const A_long x1 = std::min<A_long>(region.right, src->width);
    const A_long y0 = std::max<A_long>(region.top, 0);
    const A_long y1 = std::min<A_long>(region.bottom, src->height);
    if (y1 - y0 <= 0 || x1 - x0 <= 0) {
        return;
    }
    const std::ptrdiff_t srcStride = src->rowbytes / static_cast<A_long>(sizeof(Pixel));
    const std::ptrdiff_t dstStride = dst->rowbytes / static_cast<A_long>(sizeof(Pixel));
    const Pixel* srcData = reinterpret_cast<const Pixel*>(src->data);
    Pixel* dstData = reinterpret_cast<Pixel*>(dst->data);
    const std::ptrdiff_t width = x1 - x0;
    for (A_long y = y0; y < y1; ++y) {
        const Pixel* s = srcData + (y * srcStride + x0);
        Pixel* d = dstData + (y * dstStride + x0);
        convertRow(impl, s, d, width);
    }
}

} // namespace

Exposure::Impl::Impl(const Parameter& parameter)
    : converter(parameter), rows(std::make_shared<const ExposureRows>(converter)) {}

void Exposure::Impl::execute(Layer& in, Layer& out, const Rect& region) const {
    // The output is written at the input's depth, so both must have it.
    if (!in.equalInSize(out) || in.getBPC() != out.getBPC()) {
        return;
    }
    switch (in.getBPC()) {
    case 0:
        _execute8(in, out, region);
        break;
    case 1:
        _execute16(in, out, region);
        break;
    case 2:
        _execute32(in, out, region);
        break;
    default:
        break;
    }
}

void Exposure::Impl::_execute8(Layer& in, Layer& out, const Rect& region) const {
    convertRegion<PF_Pixel>(*this, in, out, region);
}

void Exposure::Impl::_execute16(Layer& in, Layer& out, const Rect& region) const {
    convertRegion<PF_Pixel16>(*this, in, out, region);
}

void Exposure::Impl::_execute32(Layer& in, Layer& out, const Rect& region) const {
    convertRegion<PF_PixelFloat>(*this, in, out, region);
}

Exposure::Exposure(const Parameter& parameter) : holder(nullptr) {
    std::unique_ptr<Impl> impl(new Impl(parameter));
    holder = new ImplHolder<Impl>(std::move(impl));
}

Exposure::Exposure(const Exposure& other) : IFilterWithRegion(other), holder(other.holder->Clone()) {}

Exposure& Exposure::operator=(const Exposure& other) {
    if (this != &other) {
        other.holder->CopyTo(holder);
    }
    return *this;
}

Exposure::~Exposure() {
    delete holder;
}

void Exposure::execute(Layer& in, Layer& out) {
    execute(in, out, in.getSize());
}

void Exposure::execute(Layer& in, Layer& out, const Rect& region) {
    static_cast<const Impl*>(holder->GetPtr())->execute(in, out, region);
}

} // namespace Morvek
