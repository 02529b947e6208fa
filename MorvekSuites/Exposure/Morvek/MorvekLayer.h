// Morvek::Layer: a shared handle to one host pixel world and the depth at which
// its pixels are read. A layer wraps a world the host handed over, checks out a
// layer parameter, or creates a world of its own; the last copy of the handle
// gives back what was checked out or created.
#ifndef MORVEK_MORVEKLAYER_H
#define MORVEK_MORVEKLAYER_H

#include "HostAPI.h"
#include "MorvekGeneral.h"

#include <memory>

namespace Morvek {

class Layer {
public:
    // Wraps `world` as it is; makes no host call. A null world gives a layer
    // without pixels: zero sizes, an empty rectangle, and fills and copies
    // that fail with PF_Err_BAD_CALLBACK_PARAM.
    Layer(PF_InData* in_data, PF_OutData* out_data, PF_LayerDef* world, int bpc);
    // Checks out the layer parameter `index` at `time`; checked back in by the last copy.
    Layer(PF_InData* in_data, PF_OutData* out_data, int index, const A_Time& time, int bpc);
    // Creates a cleared world of width x height at depth `bpc`; disposed by the last copy.
    Layer(PF_InData* in_data, PF_OutData* out_data, int width, int height, int bpc);

    // The first host error met by this layer (0 when none); later host calls are skipped.
    int getError() const;
    // 0 = 8 bits, 1 = 16 bits, 2 = 32-bit float.
    int getBPC() const;
    // The world in use, null when none was obtained.
    PF_LayerDef* getWorld();

    int getWidth() const;
    int getHeight() const;
    // (0, 0, width, height).
    Rect getSize() const;
    // Pixel (x, y) on the normalised scale. No bounds check: 0 <= x < width, 0 <= y < height.
    // A layer without pixels, or of an unknown depth, reads transparent black.
    ColorFloat<float> getPixel(int x, int y);

    // Same pixel memory (not merely equal pixels).
    bool equalTo(Layer& other);
    // Same width and height; depth is not compared.
    bool equalInSize(Layer& other);

    // A created layer of this size and depth holding a copy of these pixels.
    Layer clone();
    void fill(const ColorFloat<float>& color);
    void fill(const ColorFloat<float>& color, const Rect& region);
    // Copies through the host; a failure is recorded on this (the source) layer.
    void copyTo(Layer& dst);
    void copyTo(Layer& dst, Rect& srcRegion, Rect& dstRegion);

    class Impl;

private:
    std::shared_ptr<Impl> impl;
};

} // namespace Morvek

#endif
