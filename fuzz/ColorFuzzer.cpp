// Fuzzes the colour library with arbitrary pixels and values: every blend
// mode (and modes outside the list) at the three depths and on float colours
// through the lookups, the colour systems and their round trips, CMYK in all
// its forms, the conversions between float colours and host pixels, and the
// border folds. The sanitizers judge memory and undefined arithmetic (a float
// outside an integer's range converted to it, shifts, overflow); the folds are
// also checked to land inside the image.
#include "FuzzInput.h"
#include "MorvekBlend.h"
#include "MorvekCmyk.h"
#include "MorvekColorsys.h"
#include "MorvekGeneral.h"

#include <cstdio>
#include <cstdlib>

namespace {

using Morvek::ColorFloat;

template <class P> P takePixel(fuzz::Input& in) {
    return in.take<P>();
}

ColorFloat<float> takeColor(fuzz::Input& in) {
    const float a = in.take<float>(), r = in.take<float>(), g = in.take<float>(), b = in.take<float>();
    return ColorFloat<float>(a, r, g, b);
}

// Keeps a result alive so that no call is optimised away.
template <class T> void keep(const T& v) {
    asm volatile("" : : "g"(&v) : "memory");
}

void blends(fuzz::Input& in) {
    const auto mode = static_cast<Morvek::BlendMode>(in.take<std::int32_t>() % 40 - 8);
    keep(Morvek::getBlendFunction8(mode)(takePixel<PF_Pixel>(in), takePixel<PF_Pixel>(in)));
    keep(Morvek::getBlendFunction16(mode)(takePixel<PF_Pixel16>(in), takePixel<PF_Pixel16>(in)));
    keep(Morvek::getBlendFunction32(mode)(takePixel<PF_PixelFloat>(in), takePixel<PF_PixelFloat>(in)));
    keep(Morvek::getBlendFunction(mode)(takeColor(in), takeColor(in)));
    keep(Morvek::aeBlendMode(mode));
}

void colorSystems(fuzz::Input& in) {
    namespace C = Morvek::Colorsys;
    const ColorFloat<float> c = takeColor(in);
    const PF_Pixel p8 = takePixel<PF_Pixel>(in);
    const PF_Pixel16 p16 = takePixel<PF_Pixel16>(in);
    const PF_PixelFloat p32 = takePixel<PF_PixelFloat>(in);
    keep(C::Hue(c));
    keep(C::Saturation(c));
    keep(C::Saturation(p8));
    keep(C::Saturation(p16));
    keep(C::Saturation(p32));
    keep(C::Lightness(c));
    keep(C::Lightness(p8));
    keep(C::Lightness(p16));
    keep(C::Lightness(p32));
    keep(C::Brightness(c));
    keep(C::Brightness(p8));
    keep(C::Brightness(p16));
    keep(C::Brightness(p32));
    keep(C::Luminance(c));
    keep(C::Luminance(p8));
    keep(C::Luminance(p16));
    keep(C::Luminance(p32));
    keep(C::HlsToRgb(C::RgbToHls(c)));
    keep(C::HsbToRgb(C::RgbToHsb(c)));
    keep(C::YuvToRgb(C::RgbToYuv(c)));
    keep(C::HlsToRgb(c));
    keep(C::HsbToRgb(c));
    ColorFloat<float> a = c, b = takeColor(in), d = takeColor(in);
    C::Normalize(a, b, d);
    keep(a);
    keep(b);
    keep(d);
}

void cmyk(fuzz::Input& in) {
    namespace K = Morvek::Cmyksys;
    const PF_Pixel p8 = takePixel<PF_Pixel>(in);
    const PF_Pixel16 p16 = takePixel<PF_Pixel16>(in);
    const PF_PixelFloat p32 = takePixel<PF_PixelFloat>(in);
    keep(K::C(p8) + K::M(p8) + K::Y(p8) + K::K(p8));
    keep(K::C(p16) + K::M(p16) + K::Y(p16) + K::K(p16));
    keep(K::C(p32) + K::M(p32) + K::Y(p32) + K::K(p32));
    const bool flatten = in.flag();
    Morvek::Cmyk forms[] = {
        Morvek::Cmyk(takeColor(in), flatten), Morvek::Cmyk(p8, flatten), Morvek::Cmyk(p16, flatten),
        Morvek::Cmyk(p32, flatten),
        Morvek::Cmyk(in.take<float>(), in.take<float>(), in.take<float>(), in.take<float>(), in.take<float>())};
    for (Morvek::Cmyk& k : forms) {
        keep(k.toRgb());
        keep(Morvek::aePixel8(k));
        keep(Morvek::aePixel16(k));
        keep(Morvek::aePixel32(k));
        k.clamp();
        keep(Morvek::aePixel8(k));
    }
    const bool white = in.flag();
    keep(in.take<Morvek::Cmyk8>().toPixel(white));
    keep(in.take<Morvek::Cmyk16>().toPixel(white));
    Morvek::Cmyk32 k32 = in.take<Morvek::Cmyk32>();
    keep(k32.toPixel(white));
}

void conversions(fuzz::Input& in) {
    const bool normalized = in.flag();
    const ColorFloat<float> f = takeColor(in);
    const ColorFloat<double> d(in.take<double>(), in.take<double>(), in.take<double>(), in.take<double>());
    keep(Morvek::aePixel8(f, normalized));
    keep(Morvek::aePixel16(f, normalized));
    keep(Morvek::aePixel32(f));
    keep(Morvek::aePixel8(d, normalized));
    keep(Morvek::aePixel16(d, normalized));
    keep(Morvek::aePixel32(d));
    keep(ColorFloat<float>(takePixel<PF_Pixel>(in), normalized));
    keep(ColorFloat<float>(takePixel<PF_Pixel16>(in), normalized));
    keep(ColorFloat<double>(takePixel<PF_PixelFloat>(in)));
    const Morvek::ColorInt<int> i(in.take<int>(), in.take<int>(), in.take<int>(), in.take<int>());
    keep(Morvek::aePixel8(i));
    keep(Morvek::aePixel16(i));
    const Morvek::ColorInt<unsigned int> u(in.take<unsigned>(), in.take<unsigned>(), in.take<unsigned>(),
                                           in.take<unsigned>());
    keep(Morvek::aePixel8(u));
    keep(Morvek::aePixel16(u));
}

void borders(fuzz::Input& in) {
    const int mode = in.range(0, 5);
    const int pos = in.take<int>();
    const int size = in.take<int>();
    const int folded = Morvek::Border::offset(pos, size, mode);
    const bool folds = mode == Morvek::Border::Clamp || mode == Morvek::Border::Wrap || mode == Morvek::Border::Mirror;
    if (folds && size > 0 && (folded < 0 || folded >= size)) {
        std::fprintf(stderr, "Border::offset(%d, %d, %d) = %d lies outside the image\n", pos, size, mode, folded);
        std::abort();
    }
    const bool sizeIsFixed = in.flag();
    keep(Morvek::Border::offsetF(pos, size, mode, sizeIsFixed));
    Morvek::VectorFixed v(in.take<A_long>(), in.take<A_long>());
    Morvek::Border::offsetF(v, size, in.take<int>(), mode, sizeIsFixed);
    keep(v);
    Morvek::Border::offsetF(v, in.take<int>(), in.take<int>(), in.take<int>(), in.take<int>(), mode);
    keep(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    switch (in.range(0, 4)) {
    case 0:
        blends(in);
        break;
    case 1:
        colorSystems(in);
        break;
    case 2:
        cmyk(in);
        break;
    case 3:
        conversions(in);
        break;
    default:
        borders(in);
        break;
    }
    return 0;
}
