// Draws the transfer curve from the module's own output: nothing here
// recomputes the effect, so the picture shows what the module does.
#include "CurvePlot.h"

#include "BitmapFont.h"
#include "EffectRunner.h"
#include "ImageIO.h"
#include "InfoText.h"
#include "WorkingSpace.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace MorvekRender {

namespace {

using Curve::Rgb;

constexpr Rgb kBackground{24, 24, 24};
constexpr Rgb kGrid{58, 58, 58};
constexpr Rgb kFrame{150, 150, 150};
constexpr Rgb kText{220, 220, 220};
constexpr Rgb kIdentity{110, 110, 110};
constexpr int kTextScale = 2;
constexpr int kAdvance = (kGlyphWidth + 1) * kTextScale;

class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height), px_(static_cast<std::size_t>(width) * height) {
        std::fill(px_.begin(), px_.end(), kBackground);
    }

    void set(int x, int y, Rgb c) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_) {
            px_[static_cast<std::size_t>(y) * width_ + x] = c;
        }
    }

    // A square of side 2 * half + 1 at every point of the line; `dash` > 0
    // leaves gaps of that many points after as many drawn.
    void line(int x0, int y0, int x1, int y1, Rgb c, int half = 0, int dash = 0) {
        const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        for (int n = 0;; ++n) {
            if (dash == 0 || (n / dash) % 2 == 0) {
                for (int oy = -half; oy <= half; ++oy) {
                    for (int ox = -half; ox <= half; ++ox) {
                        set(x0 + ox, y0 + oy, c);
                    }
                }
            }
            if (x0 == x1 && y0 == y1) {
                break;
            }
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
    }

    // Text with its top-left corner at (x, y).
    void text(int x, int y, const std::string& s, Rgb c) {
        for (char ch : s) {
            for (int gy = 0; gy < kGlyphHeight * kTextScale; ++gy) {
                for (int gx = 0; gx < kGlyphWidth * kTextScale; ++gx) {
                    if (glyphInk(ch, gx / kTextScale, gy / kTextScale)) {
                        set(x + gx, y + gy, c);
                    }
                }
            }
            x += kAdvance;
        }
    }

    HostImage image() const {
        HostImage img(width_, height_, 8);
        PF_Pixel* p = img.pixels<PF_Pixel>();
        for (std::size_t i = 0; i < px_.size(); ++i) {
            p[i] = PF_Pixel{255, px_[i].r, px_[i].g, px_[i].b};
        }
        return img;
    }

private:
    int width_, height_;
    std::vector<Rgb> px_;
};

int textWidth(const std::string& s) {
    return static_cast<int>(s.size()) * kAdvance;
}

std::string number(const char* format, double v) {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// The plot's upper edge: 1, or the first of a few round values that holds
// the largest output (32-bit colour is not clipped at 1).
double plotTop(double largest) {
    for (double top : {1.0, 1.5, 2.0, 3.0, 4.0, 6.0, 8.0, 12.0, 16.0}) {
        if (largest <= top) {
            return top;
        }
    }
    return 16.0;
}

double tickStep(double top) {
    return top <= 1.0 ? 0.25 : top <= 2.0 ? 0.5 : top <= 4.0 ? 1.0 : top <= 8.0 ? 2.0 : 4.0;
}

int columnOf(double input) {
    return Curve::kPlotLeft + static_cast<int>(std::lround(input * Curve::kPlotWidth));
}

int rowOf(double output, double top) {
    const double clipped = std::min(std::max(output, 0.0), top);
    return Curve::kPlotTop + Curve::kPlotHeight - static_cast<int>(std::lround(clipped / top * Curve::kPlotHeight));
}

// Input values of the ramp: every value the depth holds, 4097 at 32 bits.
int rampLength(int depth) {
    return depth == 8 ? 256 : depth == 16 ? 32769 : 4097;
}

double fullValue(int depth) {
    return depth == 8 ? 255.0 : depth == 16 ? 32768.0 : 4096.0;
}

std::string depthName(int depth) {
    return depth == 32 ? "32-bit float" : std::to_string(depth) + " bits";
}

std::string halfAlphaName(int depth) {
    return depth == 8 ? "128/255" : depth == 16 ? "16384/32768" : "0.5";
}

} // namespace

CurveSummary writeCurvePlot(EffectRunner& runner, const std::string& path, const CurveSettings& settings) {
    using namespace Curve;
    const int depth = settings.fileDepth != 0 ? settings.fileDepth : settings.depth;
    const int n = rampLength(depth);
    const double full = fullValue(depth);

    // Row 0 opaque, row 1 at half alpha; grey, so the brightest channel is
    // the one plotted.
    HostImage ramp(n, 2, depth);
    const std::size_t count = static_cast<std::size_t>(n);
    for (std::size_t i = 0; i < count; ++i) {
        const double v = static_cast<double>(i) / full;
        for (int c = 1; c < 4; ++c) {
            ramp.setNormalized(i, c, v);
            ramp.setNormalized(count + i, c, v);
        }
        ramp.setNormalized(i, 0, 1.0);
        ramp.setNormalized(count + i, 0, depth == 8 ? 128.0 / 255.0 : 0.5);
    }
    HostImage out;
    if (settings.linear) {
        HostImage linear = convertDepth(ramp, 32);
        settings.linear->toLinear(linear);
        out = convertDepth(runner.render(convertDepth(linear, settings.depth), settings.exposure, settings.gamma), 32);
        settings.linear->fromLinear(out);
        out = convertDepth(out, depth);
    } else {
        out = convertDepth(runner.render(convertDepth(ramp, settings.depth), settings.exposure, settings.gamma), depth);
    }

    std::vector<double> input(count), opaque(count), halfColour(count), halfAlpha(count);
    CurveSummary summary;
    double largest = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        input[i] = ramp.normalized(i, 1);
        opaque[i] = out.normalized(i, 1);
        halfColour[i] = out.normalized(count + i, 1);
        halfAlpha[i] = out.normalized(count + i, 0);
        if (summary.fold < 0 && halfAlpha[i] > ramp.normalized(count + i, 0)) {
            summary.fold = input[i];
        }
        for (double v : {opaque[i], halfColour[i]}) {
            if (std::isfinite(v)) {
                largest = std::max(largest, v);
            }
        }
    }
    summary.top = plotTop(largest);
    const double top = summary.top;

    Canvas canvas(kWidth, kHeight);
    const int left = kPlotLeft, right = kPlotLeft + kPlotWidth;
    const int upper = kPlotTop, lower = kPlotTop + kPlotHeight;

    // Grid, ticks and axis labels.
    for (int k = 0; k <= 4; ++k) {
        const double v = k * 0.25;
        const int x = columnOf(v);
        canvas.line(x, upper, x, lower, kGrid);
        const std::string label = number("%g", v);
        canvas.text(x - textWidth(label) / 2, lower + 8, label, kText);
    }
    const double step = tickStep(top);
    for (int k = 0; k * step <= top + 1e-9; ++k) {
        const double v = k * step;
        const int y = rowOf(v, top);
        canvas.line(left, y, right, y, kGrid);
        const std::string label = number("%g", v);
        canvas.text(left - 8 - textWidth(label), y - kGlyphHeight * kTextScale / 2 + 2, label, kText);
    }
    if (top > 1.0) {
        const int y = rowOf(1.0, top);
        canvas.line(left, y, right, y, kFrame, 0, 4);
        canvas.text(right - textWidth("full") - 4, y - kGlyphHeight * kTextScale - 2, "full", kText);
    }
    canvas.line(left, upper, right, upper, kFrame);
    canvas.line(left, lower, right, lower, kFrame);
    canvas.line(left, upper, left, lower, kFrame);
    canvas.line(right, upper, right, lower, kFrame);
    const std::string xLabel =
        settings.linear ? "input value (" + settings.linear->colourSpace() + ", as stored)" : "input value (as stored)";
    canvas.text(left + (kPlotWidth - textWidth(xLabel)) / 2, lower + 32, xLabel, kText);
    canvas.text(left - 60, upper - 26, "output value", kText);

    // Input = output, then the fold marker, then the curves, the opaque colour
    // over the half-alpha colour where the two agree.
    canvas.line(columnOf(0.0), rowOf(0.0, top), columnOf(std::min(1.0, top)), rowOf(std::min(1.0, top), top), kIdentity,
                0, 3);
    if (summary.fold >= 0) {
        const int x = columnOf(summary.fold);
        canvas.line(x, upper + 1, x, lower - 1, kFold, 0, 6);
    }
    auto curve = [&](const std::vector<double>& values, Rgb c, int width) {
        for (std::size_t i = 1; i < count; ++i) {
            if (std::isfinite(values[i - 1]) && std::isfinite(values[i])) {
                canvas.line(columnOf(input[i - 1]), rowOf(values[i - 1], top), columnOf(input[i]),
                            rowOf(values[i], top), c, width);
            }
        }
    };
    curve(halfColour, kHalfColour, 2);
    curve(opaque, kOpaqueColour, 1);
    curve(halfAlpha, kHalfAlpha, 1);

    const std::string title = "exposure " + number("%+.2f", settings.exposure) + " (x" +
                              number("%.3g", exposureGain(settings.exposure)) + "), gamma " +
                              number("%.2f", settings.gamma) + ", " + depthName(settings.depth) +
                              (settings.linear ? ", linear light" : "");
    canvas.text(left - 60, 6, title, kText);

    // Legend.
    struct Entry {
        Rgb colour;
        int dash;
        std::string text;
    };
    const std::string fold = summary.fold >= 0 ? "colour folds into alpha from input " + number("%.3f", summary.fold)
                                               : "colour never passes full: nothing folds into alpha";
    const Entry entries[] = {
        {kOpaqueColour, 0, "colour of an opaque pixel"},
        {kHalfColour, 0, "colour of a pixel at half alpha (" + halfAlphaName(depth) + ")"},
        {kHalfAlpha, 0, "alpha of that pixel"},
        {kFold, 6, fold},
        {kIdentity, 3, "input = output"},
    };
    int y = lower + 62;
    for (const Entry& e : entries) {
        const int mid = y + kGlyphHeight * kTextScale / 2 - 3;
        canvas.line(left - 60, mid, left - 20, mid, e.colour, e.dash == 0 ? 1 : 0, e.dash);
        canvas.text(left - 8, y, e.text, kText);
        y += 22;
    }

    FileLayout rgb;
    rgb.channels = 3;
    rgb.sampleType = SampleType::UInt8;
    writeImageFile(path, canvas.image(), rgb);
    return summary;
}

} // namespace MorvekRender
