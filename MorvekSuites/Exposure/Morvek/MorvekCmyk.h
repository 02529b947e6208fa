// Subtractive colour: cyan, magenta, yellow and black (key) ink amounts.
// Cmyksys reads the components of one host pixel at the pixel's own depth;
// Cmyk is a float CMYK colour with alpha built from any host pixel or colour;
// Cmyk8, Cmyk16 and Cmyk32 are compact records at the three host depths that
// turn themselves back into host pixels, optionally with the paper white made
// transparent. Ink runs from 0 (none) to full: 1.0, 255 or 32768.
#ifndef MORVEK_MORVEKCMYK_H
#define MORVEK_MORVEKCMYK_H

#include "MorvekGeneral.h"

namespace Morvek {

namespace Cmyksys {

A_u_char C(const PF_Pixel& p);
A_u_char M(const PF_Pixel& p);
A_u_char Y(const PF_Pixel& p);
A_u_char K(const PF_Pixel& p);

A_u_short C(const PF_Pixel16& p);
A_u_short M(const PF_Pixel16& p);
A_u_short Y(const PF_Pixel16& p);
A_u_short K(const PF_Pixel16& p);

float C(const PF_PixelFloat& p);
float M(const PF_PixelFloat& p);
float Y(const PF_PixelFloat& p);
float K(const PF_PixelFloat& p);

} // namespace Cmyksys

class Cmyk {
public:
    float alpha;
    float cyan;
    float magenta;
    float yellow;
    float black;

    Cmyk();
    Cmyk(float c, float m, float y, float k); // opaque
    Cmyk(float a, float c, float m, float y, float k);

    // From RGB. Integer pixels are normalised first (8 bits / 255, 16 bits
    // / 32768). With `flattenAlpha` the colour is laid onto black first
    // (colour times alpha) and the result is opaque.
    Cmyk(const ColorFloat<float>& c);
    Cmyk(const ColorFloat<float>& c, bool flattenAlpha);
    Cmyk(const PF_PixelFloat& p);
    Cmyk(const PF_PixelFloat& p, bool flattenAlpha);
    Cmyk(const PF_Pixel& p);
    Cmyk(const PF_Pixel& p, bool flattenAlpha);
    Cmyk(const PF_Pixel16& p);
    Cmyk(const PF_Pixel16& p, bool flattenAlpha);

    // Limits the four inks to [0, 1]; alpha unchanged.
    void clamp();

    // (alpha, (1 - cyan)(1 - black), (1 - magenta)(1 - black), (1 - yellow)(1 - black)),
    // not clamped.
    ColorFloat<float> toRgb() const;
};

// toRgb() as host pixels; the integer forms scale, clamp and truncate.
PF_PixelFloat aePixel32(const Cmyk& c);
PF_Pixel aePixel8(const Cmyk& c);
PF_Pixel16 aePixel16(const Cmyk& c);

// With `whiteToAlpha` the ink coverage becomes the pixel's alpha and the colour
// is un-composited from white, so that paper white turns transparent.
struct Cmyk8 {
    A_u_char cyan;
    A_u_char magenta;
    A_u_char yellow;
    A_u_char black;

    PF_Pixel toPixel(bool whiteToAlpha) const;
};

// Components above 32768 lie outside the domain.
struct Cmyk16 {
    A_u_short cyan;
    A_u_short magenta;
    A_u_short yellow;
    A_u_short black;

    PF_Pixel16 toPixel(bool whiteToAlpha) const;
};

struct Cmyk32 {
    float cyan;
    float magenta;
    float yellow;
    float black;

    // Caps the record's inks at 1 (in place) before converting.
    PF_PixelFloat toPixel(bool whiteToAlpha);
};

} // namespace Morvek

#endif // MORVEK_MORVEKCMYK_H
