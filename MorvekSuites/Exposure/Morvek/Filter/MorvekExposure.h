// The exposure effect's arithmetic: the per-render parameter record and the
// colour converter that exposes and gamma-corrects one pixel at 8, 16 and
// 32 bits per channel, folding overexposed colour into alpha.
#ifndef MORVEK_FILTER_MORVEKEXPOSURE_H
#define MORVEK_FILTER_MORVEKEXPOSURE_H

#include "HostAPI.h"
#include "MorvekFilter.h"
#include "Pimpl.h"

#include <cmath>
#include <memory>
#include <vector>

namespace Morvek {

class ExposureRows;

class Exposure : public IFilterWithRegion {
public:
    // What one render needs: the pixel depth of its layers (0 = 8 bits,
    // 1 = 16 bits, 2 = 32-bit float) and the two slider values.
    struct Parameter {
        A_long bpc = 0;
        double exposure = 0.0;
        double gamma = 1.0;
    };

    class Impl {
    public:
        // Built once per render before any worker thread starts, then only
        // read. At 8 and 16 bits the curve is tabulated here; at 32 bits it is
        // evaluated per pixel in single precision. Copies are deep (each copy
        // owns its table).
        class ColorConverter {
        public:
            explicit ColorConverter(const Parameter& parameter);

            // Each form reads the whole source pixel before writing, so src and
            // dst may be the same pixel. The 8-bit form needs a converter built
            // for bpc 0 and the 16-bit form one built for bpc 1; the 32-bit
            // form works for any bpc.
            void convert(const PF_Pixel& src, PF_Pixel& dst) const;
            void convert(const PF_Pixel16& src, PF_Pixel16& dst) const;
            void convert(const PF_PixelFloat& src, PF_PixelFloat& dst) const;

            // The float pixel's overflow rule and alpha clamp, applied to the
            // exposed colour (r, g, b) of a pixel with alpha a. Shared with the
            // row conversions, which compute the powers their own way.
            static void finishFloat(float a, float r, float g, float b, PF_PixelFloat& dst) {
                const float gb = g > b ? g : b;
                const float brightest = r > gb ? r : gb;
                if (brightest > 1.0f) {
                    // A' = min(1, M * A); the colour is scaled back by A / A'.
                    float aNew = brightest * a;
                    if (aNew > 1.0f) {
                        aNew = 1.0f;
                    }
                    if (aNew != 0.0f && !std::isnan(aNew)) {
                        const float k = a / aNew;
                        r *= k;
                        g *= k;
                        b *= k;
                    } else {
                        // Transparent (or undefined) alpha: the scale-back
                        // factor would be 0/0, so no colour is kept.
                        r = 0.0f;
                        g = 0.0f;
                        b = 0.0f;
                    }
                    a = aNew;
                }
                dst.alpha = !(a >= 0.0f) ? 0.0f : (a > 1.0f ? 1.0f : a);
                dst.red = r;
                dst.green = g;
                dst.blue = b;
            }

            const Parameter& getParameter() const { return parameter; }
            const std::vector<double>& getTable() const { return table; }
            double getScale() const { return scale; }
            float getScaleFloat() const { return scaleFloat; }
            double getInverseGamma() const { return inverseGamma; }
            float getInverseGammaFloat() const { return inverseGammaFloat; }

        private:
            Parameter parameter;
            // 256 entries for bpc 0, 32769 for bpc 1, empty otherwise; entries
            // are neither rounded nor clamped.
            std::vector<double> table;
            double scale;            // exposure gain
            float scaleFloat;        // the gain in single precision
            double inverseGamma;     // 1 / gamma
            float inverseGammaFloat; // 1 / gamma in single precision
        };

        // Builds the converter and the row conversions derived from it.
        explicit Impl(const Parameter& parameter);

        // Converts `region` of `in` into the same pixels of `out`, at the
        // depth of `in`. Layers of different size or depth, an unknown depth,
        // a layer without pixels and a region empty after clipping to the
        // input world leave `out` untouched. Safe to run concurrently on
        // disjoint regions.
        void execute(Layer& in, Layer& out, const Rect& region) const;
        void _execute8(Layer& in, Layer& out, const Rect& region) const;
        void _execute16(Layer& in, Layer& out, const Rect& region) const;
        void _execute32(Layer& in, Layer& out, const Rect& region) const;

        ColorConverter converter;
        // Whole rows at once, bit-identical to the converter (read-only, so
        // copies of the Impl may share it).
        std::shared_ptr<const ExposureRows> rows;
    };

    // ---- The filter -------------------------------------------------------
    // Builds the converter (and its table) once; the filter is then only read.
    explicit Exposure(const Parameter& parameter);
    // Copies are deep: each copy owns its converter.
    Exposure(const Exposure& other);
    Exposure& operator=(const Exposure& other);
    ~Exposure() override;

    // The whole input layer: the region (0, 0, width, height) of `in`.
    void execute(Layer& in, Layer& out) override;
    void execute(Layer& in, Layer& out, const Rect& region) override;

private:
    ImplHolderBase* holder;
};

} // namespace Morvek

#endif // MORVEK_FILTER_MORVEKEXPOSURE_H
