// Morvek::Layer: wrapped, checked-out and created host worlds behind one
// reference-counted implementation. Every host call's error is kept (the first
// one wins) and later host calls are skipped once an error is recorded.
#include "MorvekLayer.h"

#include "AEFX_SuiteHelper.h"
#include "AEGP_SuiteHandler.h"

#include <algorithm>
#include <cstddef>

namespace Morvek {

namespace {

const char kLoadSuiteMessage[] = "Couldn't load suite.";
const char kReleaseSuiteMessage[] = "Couldn't release suite.";

// Pixel size in bytes of a BPC code, 0 for an unknown code.
int pixelSize(int bpc) {
    switch (bpc) {
    case 0:
        return static_cast<int>(sizeof(PF_Pixel));
    case 1:
        return static_cast<int>(sizeof(PF_Pixel16));
    case 2:
        return static_cast<int>(sizeof(PF_PixelFloat));
    default:
        return 0;
    }
}

bool hasPixels(const PF_LayerDef* world) {
    return world != nullptr && world->data != nullptr;
}

} // namespace

class Layer::Impl {
public:
    enum Kind { kWrapped = 0, kCheckedOut = 1, kCreated = 2 };

    Impl(PF_InData* in_data, PF_OutData* out_data, int kind_, int bpc_)
        : inData(in_data), outData(out_data), kind(kind_), bpc(bpc_) {}

    // Never throws: a host that has lost the suite by now keeps its world.
    ~Impl() {
        try {
            if (kind == kCreated) {
                _disposeWorld();
            } else if (kind == kCheckedOut) {
                _checkinWorld();
            }
        } catch (...) {
        }
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void wrap(PF_LayerDef* w) {
        world = w;
        if (hasPixels(world)) {
            _calcWidth();
        }
    }

    void _calcWidth() {
        data8 = world->data;
        data16 = reinterpret_cast<PF_Pixel16*>(world->data);
        data32 = reinterpret_cast<PF_PixelFloat*>(world->data);
        width = world->width;
        height = world->height;
        const int size = pixelSize(bpc);
        if (size != 0) {
            rowPixels = world->rowbytes / size;
        }
    }

    void _checkoutWorld(int index, const A_Time& time) {
        world = nullptr;
        if (error != PF_Err_NONE) {
            return;
        }
        if (inData == nullptr || inData->inter.checkout_param == nullptr) {
            error = PF_Err_BAD_CALLBACK_PARAM;
            return;
        }
        error = inData->inter.checkout_param(inData->effect_ref, index, time.value, inData->time_step, time.scale,
                                             &checkoutParam);
        if (error != PF_Err_NONE) {
            return;
        }
        // A layer parameter set to no layer checks out without pixels; the
        // host holds nothing for it, so there is nothing to check back in.
        if (checkoutParam.u.ld.data != nullptr) {
            world = &checkoutParam.u.ld;
            checkedOut = true;
            _calcWidth();
        }
    }

    void _checkinWorld() {
        if (!checkedOut) {
            return;
        }
        checkedOut = false;
        world = nullptr;
        if (inData->inter.checkin_param != nullptr) {
            inData->inter.checkin_param(inData->effect_ref, &checkoutParam);
        }
    }

    void _createWorld(int w, int h) {
        createdWorld.reset(new PF_LayerDef());
        createdWorld->data = nullptr;
        world = createdWorld.get();
        if (inData == nullptr) {
            error = PF_Err_BAD_CALLBACK_PARAM;
            return;
        }
        switch (bpc) {
        case 2: {
            PF_WorldSuite2* suite = nullptr;
            const PF_Err acquired = AEFX_AcquireSuite(inData, outData, kPFWorldSuite, kPFWorldSuiteVersion2,
                                                      kLoadSuiteMessage, reinterpret_cast<void**>(&suite));
            if (acquired != PF_Err_NONE) {
                error = acquired;
                break;
            }
            if (error == PF_Err_NONE) {
                error = suite->PF_NewWorld(inData->effect_ref, w, h, 1, PF_PixelFormat_ARGB128, world);
            }
            AEFX_ReleaseSuite(inData, outData, kPFWorldSuite, kPFWorldSuiteVersion2, kReleaseSuiteMessage);
            break;
        }
        case 1:
        case 0:
            if (error == PF_Err_NONE) {
                AEGP_SuiteHandler suites(inData->pica_basicP);
                const PF_NewWorldFlags flags = bpc == 1 ? (PF_NewWorldFlag_CLEAR_PIXELS | PF_NewWorldFlag_DEEP_PIXELS)
                                                        : PF_NewWorldFlag_CLEAR_PIXELS;
                error = suites.WorldSuite1()->new_world(inData->effect_ref, w, h, flags, world);
            }
            break;
        default:
            break;
        }
        if (hasPixels(world)) {
            _calcWidth();
            _holdDisposer();
        }
    }

    // A created world must be disposed of by the suite that made it. Keeping
    // that suite from creation on means a host that refuses it later cannot
    // make the world outlive the layer. Without the hold, disposal acquires
    // the suite again as it goes.
    void _holdDisposer() {
        if (inData->pica_basicP == nullptr) {
            return;
        }
        const A_long version = bpc == 2 ? kPFWorldSuiteVersion2 : kPFWorldSuiteVersion1;
        if (inData->pica_basicP->AcquireSuite(kPFWorldSuite, version, &disposer) != kSPNoError) {
            disposer = nullptr;
        }
    }

    void _disposeWorld() {
        if (!hasPixels(createdWorld.get())) {
            return;
        }
        PF_LayerDef* w = createdWorld.get();
        if (disposer != nullptr) {
            const void* suite = disposer;
            disposer = nullptr;
            if (bpc == 2) {
                static_cast<const PF_WorldSuite2*>(suite)->PF_DisposeWorld(inData->effect_ref, w);
            } else {
                static_cast<const PF_WorldSuite1*>(suite)->dispose_world(inData->effect_ref, w);
            }
            inData->pica_basicP->ReleaseSuite(kPFWorldSuite, bpc == 2 ? kPFWorldSuiteVersion2 : kPFWorldSuiteVersion1);
            return;
        }
        if (bpc == 2) {
            PF_WorldSuite2* suite = nullptr;
            if (AEFX_AcquireSuite(inData, outData, kPFWorldSuite, kPFWorldSuiteVersion2, kLoadSuiteMessage,
                                  reinterpret_cast<void**>(&suite)) == PF_Err_NONE) {
                suite->PF_DisposeWorld(inData->effect_ref, w);
                AEFX_ReleaseSuite(inData, outData, kPFWorldSuite, kPFWorldSuiteVersion2, kReleaseSuiteMessage);
            }
        } else if (bpc == 0 || bpc == 1) {
            AEGP_SuiteHandler suites(inData->pica_basicP);
            suites.WorldSuite1()->dispose_world(inData->effect_ref, w);
        }
    }

    PF_Pixel* _pixel8(int x, int y) const { return data8 + (static_cast<std::ptrdiff_t>(y) * rowPixels + x); }
    PF_Pixel16* _pixel16(int x, int y) const { return data16 + (static_cast<std::ptrdiff_t>(y) * rowPixels + x); }
    PF_PixelFloat* _pixel32(int x, int y) const { return data32 + (static_cast<std::ptrdiff_t>(y) * rowPixels + x); }

    // Moves each edge inward to `r` where it lies outside it.
    static void _restrictRegion(int& left, int& top, int& right, int& bottom, const Rect& r) {
        left = std::max(left, r.left);
        top = std::max(top, r.top);
        right = std::min(right, r.right);
        bottom = std::min(bottom, r.bottom);
    }

    int currentWidth() const { return world != nullptr ? world->width : 0; }
    int currentHeight() const { return world != nullptr ? world->height : 0; }

    ColorFloat<float> getPixel(int x, int y) const {
        if (data8 == nullptr) {
            return ColorFloat<float>();
        }
        switch (bpc) {
        case 0:
            return ColorFloat<float>(*_pixel8(x, y));
        case 1:
            return ColorFloat<float>(*_pixel16(x, y));
        case 2:
            return ColorFloat<float>(*_pixel32(x, y));
        default:
            return ColorFloat<float>();
        }
    }

    void fill(const ColorFloat<float>& color, const Rect* region) {
        if (bpc < 0 || bpc > 2) {
            return;
        }
        const PF_Pixel color8 = aePixel8(color);
        const PF_Pixel16 color16 = aePixel16(color);
        const PF_PixelFloat color32 = aePixel32(color);
        if (error != PF_Err_NONE) {
            return;
        }
        if (!hasPixels(world)) {
            error = PF_Err_BAD_CALLBACK_PARAM;
            return;
        }
        PF_LRect rect{};
        const PF_LRect* rectP = nullptr;
        if (region != nullptr) {
            rect = aeRect(*region);
            rectP = &rect;
        }
        AEGP_SuiteHandler suites(inData->pica_basicP);
        PF_FillMatteSuite2* fillSuite = suites.FillMatteSuite2();
        switch (bpc) {
        case 0:
            error = fillSuite->fill(inData->effect_ref, &color8, rectP, world);
            break;
        case 1:
            error = fillSuite->fill16(inData->effect_ref, &color16, rectP, world);
            break;
        default:
            error = fillSuite->fill_float(inData->effect_ref, &color32, rectP, world);
            break;
        }
    }

    void copyTo(Impl& dst, const Rect* srcRegion, const Rect* dstRegion) {
        if (error != PF_Err_NONE) {
            return;
        }
        if (!hasPixels(world) || !hasPixels(dst.world) || inData == nullptr || inData->utils == nullptr ||
            inData->utils->copy == nullptr) {
            error = PF_Err_BAD_CALLBACK_PARAM;
            return;
        }
        PF_LRect srcRect{};
        PF_LRect dstRect{};
        PF_LRect* srcP = nullptr;
        PF_LRect* dstP = nullptr;
        if (srcRegion != nullptr && dstRegion != nullptr) {
            srcRect = aeRect(*srcRegion);
            dstRect = aeRect(*dstRegion);
            srcP = &srcRect;
            dstP = &dstRect;
        }
        error = inData->utils->copy(inData->effect_ref, world, dst.world, srcP, dstP);
    }

    PF_InData* inData;
    PF_OutData* outData;
    int error = PF_Err_NONE;
    int kind;
    int bpc;
    PF_LayerDef* world = nullptr;
    PF_ParamDef checkoutParam{};
    PF_Pixel* data8 = nullptr;
    PF_Pixel16* data16 = nullptr;
    PF_PixelFloat* data32 = nullptr;
    int width = 0;
    int height = 0;
    int rowPixels = 0;

private:
    bool checkedOut = false;
    std::unique_ptr<PF_LayerDef> createdWorld;
    const void* disposer = nullptr; // the world suite held for disposal, or null
};

// Each constructor builds the implementation first and talks to the host
// afterwards, so that whatever the host handed out before a throw is given back
// by the implementation's destructor.
Layer::Layer(PF_InData* in_data, PF_OutData* out_data, PF_LayerDef* world, int bpc)
    : impl(std::make_shared<Impl>(in_data, out_data, Impl::kWrapped, bpc)) {
    impl->wrap(world);
}

Layer::Layer(PF_InData* in_data, PF_OutData* out_data, int index, const A_Time& time, int bpc)
    : impl(std::make_shared<Impl>(in_data, out_data, Impl::kCheckedOut, bpc)) {
    impl->_checkoutWorld(index, time);
}

Layer::Layer(PF_InData* in_data, PF_OutData* out_data, int width, int height, int bpc)
    : impl(std::make_shared<Impl>(in_data, out_data, Impl::kCreated, bpc)) {
    impl->_createWorld(width, height);
}

int Layer::getError() const {
    return impl->error;
}

int Layer::getBPC() const {
    return impl->bpc;
}

PF_LayerDef* Layer::getWorld() {
    return impl->world;
}

int Layer::getWidth() const {
    return impl->currentWidth();
}

int Layer::getHeight() const {
    return impl->currentHeight();
}

Rect Layer::getSize() const {
    return Rect(0, 0, impl->currentWidth(), impl->currentHeight());
}

ColorFloat<float> Layer::getPixel(int x, int y) {
    return impl->getPixel(x, y);
}

bool Layer::equalTo(Layer& other) {
    const PF_LayerDef* a = impl->world;
    const PF_LayerDef* b = other.impl->world;
    return hasPixels(a) && hasPixels(b) && a->data == b->data;
}

bool Layer::equalInSize(Layer& other) {
    return impl->currentWidth() == other.impl->currentWidth() && impl->currentHeight() == other.impl->currentHeight();
}

Layer Layer::clone() {
    Layer copy(impl->inData, impl->outData, impl->width, impl->height, impl->bpc);
    if (impl->error != PF_Err_NONE || copy.impl->error != PF_Err_NONE) {
        return copy;
    }
    impl->copyTo(*copy.impl, nullptr, nullptr);
    return copy;
}

void Layer::fill(const ColorFloat<float>& color) {
    impl->fill(color, nullptr);
}

void Layer::fill(const ColorFloat<float>& color, const Rect& region) {
    impl->fill(color, &region);
}

void Layer::copyTo(Layer& dst) {
    impl->copyTo(*dst.impl, nullptr, nullptr);
}

void Layer::copyTo(Layer& dst, Rect& srcRegion, Rect& dstRegion) {
    impl->copyTo(*dst.impl, &srcRegion, &dstRegion);
}

} // namespace Morvek
