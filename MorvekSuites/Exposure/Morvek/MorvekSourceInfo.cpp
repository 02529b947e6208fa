// Morvek::SourceInfo: checkouts of a smart render and the depth found from the
// input world's pixel format.
#include "MorvekSourceInfo.h"

#include "AEFX_SuiteHelper.h"
#include "AEGP_SuiteHandler.h"

namespace Morvek {

namespace {

// BPC code of a pixel format, -1 for a format outside the known five.
int bpcOfFormat(PF_PixelFormat format) {
    switch (format) {
    case PF_PixelFormat_ARGB32:
    case PF_PixelFormat_BGRA32:
        return 0;
    case PF_PixelFormat_ARGB64:
        return 1;
    case PF_PixelFormat_ARGB128:
    case PF_PixelFormat_BGRA128:
        return 2;
    default:
        return -1;
    }
}

double ratio(const PF_RationalScale& s) {
    return static_cast<double>(s.num) / static_cast<double>(s.den);
}

Vector<double> originOf(const PF_LayerDef* world) {
    if (world == nullptr) {
        return Vector<double>(0.0, 0.0);
    }
    return Vector<double>(static_cast<double>(world->origin_x), static_cast<double>(world->origin_y));
}

} // namespace

class SourceInfo::Impl {
public:
    Impl(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra_)
        : inData(in_data), outData(out_data), extra(extra_), suites(in_data->pica_basicP) {}

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void _initialize() {
        // A checkout that reports success but hands back no world would
        // otherwise render nothing and report success: it is a host error.
        if (error == PF_Err_NONE) {
            error = extra->cb->checkout_layer_pixels(inData->effect_ref, 0, &inputWorld);
            if (error == PF_Err_NONE && inputWorld == nullptr) {
                error = PF_Err_INTERNAL_STRUCT_DAMAGED;
            }
        }
        if (error == PF_Err_NONE) {
            error = extra->cb->checkout_output(inData->effect_ref, &outputWorld);
            if (error == PF_Err_NONE && outputWorld == nullptr) {
                error = PF_Err_INTERNAL_STRUCT_DAMAGED;
            }
        }
        PF_PixelFormat format = PF_PixelFormat_INVALID;
        if (error != PF_Err_NONE) {
            return;
        }
        PF_WorldSuite2* worldSuite = nullptr;
        error = AEFX_AcquireSuite(inData, outData, kPFWorldSuite, kPFWorldSuiteVersion2, "Couldn't load suite.",
                                  reinterpret_cast<void**>(&worldSuite));
        if (error != PF_Err_NONE) {
            return;
        }
        error = worldSuite->PF_GetPixelFormat(inputWorld, &format);
        const int code = bpcOfFormat(format);
        if (code >= 0) {
            bpc = code;
        }
        AEFX_ReleaseSuite(inData, outData, kPFWorldSuite, kPFWorldSuiteVersion2, "Couldn't release suite.");
    }

    int getThreadNum() {
        if (error != PF_Err_NONE) {
            return 1;
        }
        A_long count = 0;
        error = suites.IterateSuite1()->AEGP_GetNumThreads(&count);
        if (error != PF_Err_NONE || count < 1) {
            return 1;
        }
        return count;
    }

    int error = PF_Err_NONE;
    PF_InData* inData;
    PF_OutData* outData;
    PF_SmartRenderExtra* extra;
    int bpc = -1;
    PF_LayerDef* inputWorld = nullptr;
    PF_LayerDef* outputWorld = nullptr;
    AEGP_SuiteHandler suites;
};

SourceInfo::SourceInfo(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra)
    : impl(std::make_shared<Impl>(in_data, out_data, extra)) {
    impl->_initialize();
}

int SourceInfo::getError() {
    return impl->error;
}

int SourceInfo::getBPC() {
    return impl->bpc;
}

int SourceInfo::getWidth() {
    return impl->inData->width;
}

int SourceInfo::getHeight() {
    return impl->inData->height;
}

double SourceInfo::getDownSampleX() {
    return ratio(impl->inData->downsample_x);
}

double SourceInfo::getDownSampleY() {
    return ratio(impl->inData->downsample_y);
}

int SourceInfo::getThreadNum() {
    return impl->getThreadNum();
}

PF_LayerDef* SourceInfo::getInputWorld() {
    return impl->inputWorld;
}

PF_LayerDef* SourceInfo::getOutputWorld() {
    return impl->outputWorld;
}

int SourceInfo::getInputWidth() {
    return impl->inputWorld != nullptr ? impl->inputWorld->width : 0;
}

int SourceInfo::getInputHeight() {
    return impl->inputWorld != nullptr ? impl->inputWorld->height : 0;
}

int SourceInfo::getOutputWidth() {
    return impl->outputWorld != nullptr ? impl->outputWorld->width : 0;
}

int SourceInfo::getOutputHeight() {
    return impl->outputWorld != nullptr ? impl->outputWorld->height : 0;
}

Vector<double> SourceInfo::getInputOrigin() {
    return originOf(impl->inputWorld);
}

Vector<double> SourceInfo::getOutputOrigin() {
    return originOf(impl->outputWorld);
}

} // namespace Morvek
