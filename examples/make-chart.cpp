// Makes the project's test chart and the before/after strip of the README.
//
//   morvek-make-chart chart DIR                     writes DIR/chart.png (8-bit) and DIR/chart.exr (float)
//   morvek-make-chart strip OUT IN LABEL [IN LABEL]...
//                                                   lays the images side by side over a checkerboard,
//                                                   each with its label below it
//
// The chart, 320 x 200: a grey ramp, red, green and blue ramps, sixteen
// colour patches and an alpha ramp (orange above, white below), all in
// straight colour with values 0..1.
#include "BitmapFont.h"
#include "ImageIO.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using namespace MorvekRender;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 200;

void set(HostImage& img, int x, int y, double a, double r, double g, double b) {
    const std::size_t i = static_cast<std::size_t>(y) * img.width + x;
    img.setNormalized(i, 0, a);
    img.setNormalized(i, 1, r);
    img.setNormalized(i, 2, g);
    img.setNormalized(i, 3, b);
}

HostImage makeChart() {
    HostImage img(kWidth, kHeight, 32);
    static const double patches[16][3] = {
        {0.0, 0.0, 0.0},    {0.18, 0.18, 0.18}, {0.5, 0.5, 0.5},   {1.0, 1.0, 1.0},  {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0},
        {0.0, 0.0, 1.0},    {0.0, 1.0, 1.0},    {1.0, 0.0, 1.0},   {1.0, 1.0, 0.0},  {1.0, 0.5, 0.0}, {0.85, 0.6, 0.45},
        {0.35, 0.55, 0.85}, {0.25, 0.45, 0.15}, {0.3, 0.18, 0.08}, {0.95, 0.9, 0.6},
    };
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double t = static_cast<double>(x) / (kWidth - 1);
            if (y < 40) { // grey ramp
                set(img, x, y, 1.0, t, t, t);
            } else if (y < 80) { // red, green, blue ramps
                const int band = (y - 40) * 3 / 40;
                set(img, x, y, 1.0, band == 0 ? t : 0.0, band == 1 ? t : 0.0, band == 2 ? t : 0.0);
            } else if (y < 140) { // two rows of eight patches
                const int column = x / 40;
                const int row = (y - 80) / 30;
                const double* c = patches[row * 8 + column];
                set(img, x, y, 1.0, c[0], c[1], c[2]);
            } else if (y < 170) { // alpha ramp, orange
                set(img, x, y, t, 1.0, 0.5, 0.1);
            } else { // alpha ramp, white
                set(img, x, y, t, 1.0, 1.0, 1.0);
            }
        }
    }
    return img;
}

constexpr int kScale = 2;                                      // each font pixel as 2 x 2
constexpr int kAdvance = (MorvekRender::kGlyphWidth + 1) * kScale; // a letter and its space
constexpr int kLabelHeight = MorvekRender::kGlyphHeight * kScale;

// Writes `text` in light grey with its top left corner at (left, top).
void drawLabel(HostImage& img, const std::string& text, int left, int top) {
    for (std::size_t k = 0; k < text.size(); ++k) {
        for (int row = 0; row < kLabelHeight; ++row) {
            for (int col = 0; col < MorvekRender::kGlyphWidth * kScale; ++col) {
                if (MorvekRender::glyphInk(text[k], col / kScale, row / kScale)) {
                    set(img, left + static_cast<int>(k) * kAdvance + col, top + row, 1.0, 0.85, 0.85, 0.85);
                }
            }
        }
    }
}

// Composites each image over a grey checkerboard (so transparency shows)
// and lays them out left to right with a gap, each label centred below its
// image.
HostImage makeStrip(const std::vector<HostImage>& panels, const std::vector<std::string>& labels) {
    constexpr int gap = 6;
    int width = gap;
    int height = 0;
    for (const HostImage& p : panels) {
        width += p.width + gap;
        height = std::max(height, p.height);
    }
    const int labelTop = gap + height + gap;
    height += 3 * gap + kLabelHeight;
    HostImage strip(width, height, 32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            set(strip, x, y, 1.0, 0.12, 0.12, 0.12);
        }
    }
    int left = gap;
    for (std::size_t n = 0; n < panels.size(); ++n) {
        const HostImage& p = panels[n];
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * p.width + x;
                const double checker = ((x / 10 + y / 10) % 2) ? 0.6 : 0.4;
                const double a = std::min(1.0, std::max(0.0, p.normalized(i, 0)));
                double rgb[3];
                for (int c = 0; c < 3; ++c) {
                    rgb[c] = p.normalized(i, c + 1) * a + checker * (1.0 - a);
                }
                set(strip, left + x, gap + y, 1.0, rgb[0], rgb[1], rgb[2]);
            }
        }
        const int labelWidth = static_cast<int>(labels[n].size()) * kAdvance - kScale;
        drawLabel(strip, labels[n], left + std::max(0, (p.width - labelWidth) / 2), labelTop);
        left += p.width + gap;
    }
    return strip;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "chart" && argc == 3) {
            const std::string dir = argv[2];
            const HostImage chart = makeChart();
            FileLayout png;
            png.channels = 4;
            png.sampleType = SampleType::UInt8;
            writeImageFile(dir + "/chart.png", chart, png);
            FileLayout exr;
            exr.channels = 4;
            exr.sampleType = SampleType::Float;
            writeImageFile(dir + "/chart.exr", chart, exr);
            return 0;
        }
        if (mode == "strip" && argc >= 5 && argc % 2 == 1) {
            std::vector<HostImage> panels;
            std::vector<std::string> labels;
            for (int i = 3; i + 1 < argc; i += 2) {
                panels.push_back(readImageFile(argv[i], 32).image);
                labels.emplace_back(argv[i + 1]);
            }
            FileLayout rgb;
            rgb.channels = 3;
            rgb.sampleType = SampleType::UInt8;
            writeImageFile(argv[2], makeStrip(panels, labels), rgb);
            return 0;
        }
    } catch (const ImageError& e) {
        std::fprintf(stderr, "morvek-make-chart: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: morvek-make-chart chart DIR | strip OUT IN LABEL [IN LABEL]...\n");
    return 2;
}
