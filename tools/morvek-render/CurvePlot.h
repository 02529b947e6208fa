// --curve: the effect's transfer curve as a picture. A ramp of every value
// the file's depth holds (4097 steps at 32 bits) is rendered through the
// module twice, opaque and at half alpha, and what comes back is plotted:
// output against input for the colour channels, the half-transparent
// pixel's alpha, and the input from which colour folds into alpha.
#ifndef MORVEK_RENDER_CURVEPLOT_H
#define MORVEK_RENDER_CURVEPLOT_H

#include <cstdint>
#include <string>

namespace MorvekRender {

class EffectRunner;

// The picture's layout. Input value v (0..1) lies at column
// kPlotLeft + round(v * kPlotWidth); output value w at row
// kPlotTop + kPlotHeight - round(w / top * kPlotHeight), where top is the
// value of the plot's upper edge (1 unless a 32-bit output exceeds 1).
namespace Curve {
constexpr int kWidth = 760;
constexpr int kHeight = 640;
constexpr int kPlotLeft = 90;
constexpr int kPlotTop = 56;
constexpr int kPlotWidth = 600;
constexpr int kPlotHeight = 400;

struct Rgb {
    uint8_t r, g, b;
};
constexpr Rgb kOpaqueColour{255, 255, 255}; // colour of an opaque pixel
constexpr Rgb kHalfColour{255, 150, 30};    // colour of a pixel at half alpha
constexpr Rgb kHalfAlpha{60, 200, 255};     // alpha of that pixel
constexpr Rgb kFold{255, 60, 60};           // where colour starts to fold into alpha
} // namespace Curve

class LinearConversion;

struct CurveSettings {
    double exposure = 0.0;
    double gamma = 1.0;
    int depth = 8;     // the depth the effect renders at
    int fileDepth = 0; // depth of the values plotted, the file's; 0: `depth`
    // --working-space linear: the file's values are decoded to linear light
    // before the effect and encoded after; null: the effect sees them as stored.
    const LinearConversion* linear = nullptr;
};

struct CurveSummary {
    double top = 1.0;   // output value at the plot's upper edge
    double fold = -1.0; // first input whose half-alpha pixel gains alpha; -1 when none does
};

// Renders the ramps and writes the picture to `path` (PNG, or any format
// image files are written in). The axes are the file's values. Throws
// HostError or ImageError.
CurveSummary writeCurvePlot(EffectRunner& runner, const std::string& path, const CurveSettings& settings);

} // namespace MorvekRender

#endif
