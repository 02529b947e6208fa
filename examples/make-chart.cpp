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
#include "ImageIO.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
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

// The labels' letters: 5 x 7 pixels, one row of five bits (leftmost the
// highest) per byte, top row first.
struct Glyph {
    char c;
    std::uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}}, {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}}, {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'=', {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}}, {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}}, {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}}, {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}}, {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}}, {'a', {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F}},
    {'b', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E}}, {'c', {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E}},
    {'d', {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}}, {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}},
    {'f', {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08}}, {'g', {0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {'h', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}}, {'i', {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E}},
    {'l', {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}}, {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}},
    {'p', {0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10}}, {'r', {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}},
    {'s', {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E}}, {'t', {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}},
    {'u', {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D}}, {'x', {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}},
    {'y', {0x00, 0x00, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
};
constexpr int kScale = 2;            // each font pixel as 2 x 2
constexpr int kAdvance = 6 * kScale; // a letter and its space
constexpr int kLabelHeight = 7 * kScale;

const Glyph& glyphOf(char c) {
    for (const Glyph& g : kGlyphs) {
        if (g.c == c) {
            return g;
        }
    }
    throw ImageError(std::string("no letter for '") + c + "' in a label");
}

// Writes `text` in light grey with its top left corner at (left, top).
void drawLabel(HostImage& img, const std::string& text, int left, int top) {
    for (std::size_t k = 0; k < text.size(); ++k) {
        const Glyph& g = glyphOf(text[k]);
        for (int row = 0; row < 7 * kScale; ++row) {
            for (int col = 0; col < 5 * kScale; ++col) {
                if ((g.rows[row / kScale] >> (4 - col / kScale)) & 1) {
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
