// Blend modes: composites one pixel over another in one of seventeen modes, at
// the library's four colour representations (ColorFloat<float>, and the host's
// 8-bit, 16-bit and float pixels). Every function takes the lower pixel
// (destination) first and the upper pixel (source) second and returns the
// source composited over the destination; colour is straight, not
// premultiplied. The lookups turn a mode into a function pointer once per
// render, and aeBlendMode turns it into the host's transfer-mode code.
#ifndef MORVEK_MORVEKBLEND_H
#define MORVEK_MORVEKBLEND_H

#include "MorvekGeneral.h"

namespace Morvek {

enum BlendMode : int {
    BLEND_NORMAL = 0,
    BLEND_ADD,
    BLEND_MULTIPLY,
    BLEND_SCREEN,
    BLEND_OVERLAY,
    BLEND_SOFTLIGHT,
    BLEND_HARDLIGHT,
    BLEND_DODGE,
    BLEND_BURN,
    BLEND_DARKEN,
    BLEND_LIGHTEN,
    BLEND_DIFFERENCE,
    BLEND_EXCLUSION,
    BLEND_HUE,
    BLEND_SATURATION,
    BLEND_LUMINOSITY,
    BLEND_ALPHA_ADD
};

namespace Blend {

// normal: source over destination
ColorFloat<float> normal(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel normal(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 normal(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat normal(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// add: Cd + Cs
ColorFloat<float> add(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel add(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 add(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat add(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// multiply: Cd x Cs
ColorFloat<float> multiply(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel multiply(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 multiply(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat multiply(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// screen: 1 - (1 - Cd)(1 - Cs)
ColorFloat<float> screen(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel screen(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 screen(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat screen(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// overlay: multiply or screen, chosen by the destination
ColorFloat<float> overlay(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel overlay(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 overlay(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat overlay(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// softlight: destination raised to a power set by the source
ColorFloat<float> softlight(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel softlight(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 softlight(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat softlight(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// hardlight: multiply or screen, chosen by the source
ColorFloat<float> hardlight(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel hardlight(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 hardlight(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat hardlight(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// dodge: destination brightened by the source
ColorFloat<float> dodge(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel dodge(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 dodge(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat dodge(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// burn: destination darkened by the source
ColorFloat<float> burn(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel burn(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 burn(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat burn(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// darken: the smaller channel
ColorFloat<float> darken(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel darken(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 darken(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat darken(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// lighten: the larger channel
ColorFloat<float> lighten(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel lighten(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 lighten(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat lighten(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// difference: |Cd - Cs|
ColorFloat<float> difference(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel difference(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 difference(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat difference(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// exclusion: Cd + Cs - 2 Cd Cs
ColorFloat<float> exclusion(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel exclusion(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 exclusion(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat exclusion(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// hue: the source's hue with the destination's lightness and saturation
ColorFloat<float> hue(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel hue(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 hue(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat hue(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// saturation: the source's saturation with the destination's hue and lightness
ColorFloat<float> saturation(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel saturation(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 saturation(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat saturation(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// luminosity: the source's lightness with the destination's hue and saturation
ColorFloat<float> luminosity(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel luminosity(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 luminosity(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat luminosity(const PF_PixelFloat& dst, const PF_PixelFloat& src);

// alpha_add: alphas added, colours weighted by their alphas
ColorFloat<float> alpha_add(const ColorFloat<float>& dst, const ColorFloat<float>& src);
PF_Pixel alpha_add(const PF_Pixel& dst, const PF_Pixel& src);
PF_Pixel16 alpha_add(const PF_Pixel16& dst, const PF_Pixel16& src);
PF_PixelFloat alpha_add(const PF_PixelFloat& dst, const PF_PixelFloat& src);

} // namespace Blend

using BlendFunction = ColorFloat<float> (*)(const ColorFloat<float>&, const ColorFloat<float>&);
using BlendFunction8 = PF_Pixel (*)(const PF_Pixel&, const PF_Pixel&);
using BlendFunction16 = PF_Pixel16 (*)(const PF_Pixel16&, const PF_Pixel16&);
using BlendFunction32 = PF_PixelFloat (*)(const PF_PixelFloat&, const PF_PixelFloat&);

// The blend function of a mode at one representation; any value outside
// BLEND_ADD..BLEND_ALPHA_ADD gives `normal`.
BlendFunction getBlendFunction(BlendMode mode);
BlendFunction8 getBlendFunction8(BlendMode mode);
BlendFunction16 getBlendFunction16(BlendMode mode);
BlendFunction32 getBlendFunction32(BlendMode mode);

// The host's transfer-mode code for a mode; any unknown value gives the code of
// plain "in front" compositing (2).
int aeBlendMode(BlendMode mode);

} // namespace Morvek

#endif // MORVEK_MORVEKBLEND_H
