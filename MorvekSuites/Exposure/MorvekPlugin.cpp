// Entry point of the MorvekExposure module: command dispatch, the exception
// boundary, and the About, GlobalSetup, GlobalSetdown and ParamsSetup
// handlers.
#include "MorvekPlugin.h"

#include "AEGP_SuiteHandler.h"
#include "MorvekIdentity.h"
#include "MorvekRender.h"

#include <cstring>
#include <new>

namespace Morvek {
namespace Plugin {

namespace {

constexpr const char* kCopyright = "Copyright (c) Morvek. All rights reserved.";

// The global-data handle between allocation and hand-over: if GlobalSetup
// leaves without giving it to the host (a failed lock or registration, or a
// missing suite thrown past it), it is unlocked and disposed of here.
class PendingHandle {
public:
    PendingHandle(PF_HandleSuite2* suite, PF_Handle handle) : suite_(suite), handle_(handle) {}
    ~PendingHandle() {
        if (handle_) {
            if (locked_) {
                suite_->host_unlock_handle(handle_);
            }
            suite_->host_dispose_handle(handle_);
        }
    }
    PendingHandle(const PendingHandle&) = delete;
    PendingHandle& operator=(const PendingHandle&) = delete;

    void* lock() {
        void* p = suite_->host_lock_handle(handle_);
        locked_ = true;
        return p;
    }
    void unlock() {
        if (locked_) {
            suite_->host_unlock_handle(handle_);
            locked_ = false;
        }
    }
    // The host owns the handle from now on.
    PF_Handle handOver() {
        PF_Handle h = handle_;
        handle_ = nullptr;
        return h;
    }

private:
    PF_HandleSuite2* suite_;
    PF_Handle handle_;
    bool locked_ = false;
};

struct SliderSpec {
    const char* name;
    A_long id;
    PF_FpShort validMin, validMax, sliderMin, sliderMax, dephault;
    PF_FpLong value;
};

constexpr SliderSpec kSliders[] = {
    {"Exposure", 1, -100.0f, 100.0f, -4.0f, 4.0f, 0.0f, 0.0},
    {"Gamma Correction", 2, 0.1f, 10.0f, 0.1f, 10.0f, 1.0f, 1.0},
};

} // namespace

PF_Err About(PF_InData* in_data, PF_OutData* out_data) {
    in_data->utils->ansi.sprintf(out_data->return_msg, "%s, v%d.%d.%d\r%s", Identity::kName, Identity::kMajorVersion,
                                 Identity::kMinorVersion, Identity::kBugVersion, kCopyright);
    return PF_Err_NONE;
}

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data) {
    // Version and flags come first so that they stand even when a suite is
    // missing below.
    out_data->my_version = Identity::kVersionWord;
    out_data->out_flags |= Identity::kOutFlags;
    out_data->out_flags2 |= Identity::kOutFlags2;

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_HandleSuite2* handles = suites.HandleSuite2();
    PF_Handle handle = handles->host_new_handle(sizeof(AEGP_PluginID));
    if (!handle) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    PendingHandle pending(handles, handle);

    PF_Err err = PF_Err_NONE;
    void* idP = pending.lock();
    if (idP) {
        err = suites.UtilitySuite7()->AEGP_RegisterWithAEGP(nullptr, Identity::kRegistrationName,
                                                            static_cast<AEGP_PluginID*>(idP));
    }
    pending.unlock();
    // A handle that could not be locked, or whose registration failed, is
    // disposed of by `pending`; the effect then runs without global data,
    // which nothing reads.
    if (idP && err == PF_Err_NONE) {
        out_data->global_data = pending.handOver();
    }
    return err;
}

PF_Err GlobalSetdown(PF_InData* in_data, PF_OutData*) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    if (in_data->global_data) {
        suites.HandleSuite2()->host_dispose_handle(in_data->global_data);
    }
    return PF_Err_NONE;
}

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data) {
    for (const SliderSpec& s : kSliders) {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof(def));
        def.param_type = PF_Param_FLOAT_SLIDER;
        in_data->utils->ansi.strcpy(def.name, s.name);
        def.uu.id = s.id;
        PF_FloatSliderDef& fs = def.u.fs_d;
        fs.valid_min = s.validMin;
        fs.valid_max = s.validMax;
        fs.slider_min = s.sliderMin;
        fs.slider_max = s.sliderMax;
        fs.value = s.value;
        fs.dephault = s.dephault;
        fs.precision = 2;
        fs.display_flags = 0;
        fs.curve_tolerance = 0.05f;
        const PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
        if (err != PF_Err_NONE) {
            return err;
        }
    }
    out_data->num_params = 3;
    return PF_Err_NONE;
}

} // namespace Plugin
} // namespace Morvek

namespace {

PF_Err Dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, void* extra) {
    using namespace Morvek::Plugin;
    switch (cmd) {
    case PF_Cmd_ABOUT:
    case PF_Cmd_GLOBAL_SETUP:
    case PF_Cmd_GLOBAL_SETDOWN:
    case PF_Cmd_PARAMS_SETUP:
    case PF_Cmd_SMART_PRE_RENDER:
    case PF_Cmd_SMART_RENDER:
        // Every handled command reads both records.
        if (!in_data || !out_data) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        break;
    default:
        return PF_Err_NONE;
    }
    switch (cmd) {
    case PF_Cmd_ABOUT:
        return About(in_data, out_data);
    case PF_Cmd_GLOBAL_SETUP:
        return GlobalSetup(in_data, out_data);
    case PF_Cmd_GLOBAL_SETDOWN:
        return GlobalSetdown(in_data, out_data);
    case PF_Cmd_PARAMS_SETUP:
        return ParamsSetup(in_data, out_data);
    case PF_Cmd_SMART_PRE_RENDER:
        return SmartPreRender(in_data, out_data, static_cast<PF_PreRenderExtra*>(extra));
    case PF_Cmd_SMART_RENDER:
        return SmartRender(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
    default:
        return PF_Err_NONE;
    }
}

} // namespace

extern "C" PF_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[],
                                           PF_LayerDef*, void* extra) {
    try {
        return Dispatch(cmd, in_data, out_data, extra);
    } catch (PF_Err thrown) {
        return thrown;
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}
