// Colour systems: perceptual components of a colour (hue, saturation,
// lightness, brightness, luminance) and conversions between RGB and the HLS,
// HSB and YUV models. A colour in another model travels in a ColorFloat<float>:
// alpha stays in the alpha slot and the model's three components take the
// red, green and blue slots in the order of the model's name.
//
// All arithmetic is single precision in a fixed order, so results are
// bit-exact across builds. Every function is stateless.
#ifndef MORVEK_MORVEKCOLORSYS_H
#define MORVEK_MORVEKCOLORSYS_H

#include "MorvekGeneral.h"

namespace Morvek {
namespace Colorsys {

// Hue in degrees, [0, 360); 0 for greys.
float Hue(const ColorFloat<float>& c);

// HLS saturation. The integer forms scale the result to the pixel's full value.
float Saturation(const ColorFloat<float>& c);
float Saturation(const PF_PixelFloat& p);
A_u_char Saturation(const PF_Pixel& p);
A_u_short Saturation(const PF_Pixel16& p);

// HLS lightness, (max + min) / 2; the integer forms truncate.
float Lightness(const ColorFloat<float>& c);
float Lightness(const PF_PixelFloat& p);
A_u_char Lightness(const PF_Pixel& p);
A_u_short Lightness(const PF_Pixel16& p);

// HSB brightness: the largest of red, green and blue.
float Brightness(const ColorFloat<float>& c);
float Brightness(const PF_PixelFloat& p);
A_u_char Brightness(const PF_Pixel& p);
A_u_short Brightness(const PF_Pixel16& p);

// Luma (0.299 R + 0.587 G) + 0.114 B; the integer forms truncate the float sum.
float Luminance(const ColorFloat<float>& c);
float Luminance(const PF_PixelFloat& p);
A_u_char Luminance(const PF_Pixel& p);
A_u_short Luminance(const PF_Pixel16& p);

// (alpha, red, green, blue) <-> (alpha, hue, lightness, saturation)
ColorFloat<float> RgbToHls(const ColorFloat<float>& c);
ColorFloat<float> HlsToRgb(const ColorFloat<float>& hls);

// (alpha, red, green, blue) <-> (alpha, hue, saturation, brightness).
// HsbToRgb expects a hue in [0, 360): a negative hue gives black with the
// alpha kept, a hue of 360 or more gives channels outside [0, 1].
ColorFloat<float> RgbToHsb(const ColorFloat<float>& c);
ColorFloat<float> HsbToRgb(const ColorFloat<float>& hsb);

// (alpha, red, green, blue) <-> (alpha, Y, U, V). The two matrices are not exact
// inverses; a round trip moves a colour by rounding amounts.
ColorFloat<float> RgbToYuv(const ColorFloat<float>& c);
ColorFloat<float> YuvToRgb(const ColorFloat<float>& yuv);

// Divides each colour channel of the three colours by that channel's sum over
// the three, so the three add up to one. A channel whose sum is 0 becomes
// (0, 1, 0). Alpha is left alone.
void Normalize(ColorFloat<float>& a, ColorFloat<float>& b, ColorFloat<float>& c);

} // namespace Colorsys
} // namespace Morvek

#endif // MORVEK_MORVEKCOLORSYS_H
