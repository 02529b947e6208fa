// The smart-render pair. Pre-render reads the two sliders into a 16-byte host
// handle, asks for the input layer and announces the output rectangles; render
// reads the handle back, gives it up, wraps the input and output worlds and
// runs the exposure filter over the whole output world on the host's threads.
//
// The pre-render handle belongs to this effect from its allocation until the
// render step has read it: render unlocks and disposes of it right after
// reading, and pre-render disposes of it itself when it fails after the
// allocation (the host then never calls render for the frame).
#include "MorvekRender.h"

#include "AEGP_SuiteHandler.h"
#include "MorvekExposure.h"
#include "MorvekFilterMulti.h"
#include "MorvekGeneral.h"
#include "MorvekLayer.h"
#include "MorvekSourceInfo.h"
#include "Smart_Utils.h"

#include <cstring>

namespace {

// What travels from pre-render to render: exactly two doubles, exposure first.
constexpr A_u_longlong kPreRenderDataSize = 2 * sizeof(double);

// Disposes of the pre-render handle on every path out of pre-render unless the
// frame's data was completely stored; a stored handle is left to render.
class PreRenderHandleGuard {
public:
    PreRenderHandleGuard(PF_HandleSuite2* handles, PF_Handle handle) : handles_(handles), handle_(handle) {}
    ~PreRenderHandleGuard() {
        if (handle_ == nullptr) {
            return;
        }
        if (locked_) {
            handles_->host_unlock_handle(handle_);
        }
        handles_->host_dispose_handle(handle_);
    }
    PreRenderHandleGuard(const PreRenderHandleGuard&) = delete;
    PreRenderHandleGuard& operator=(const PreRenderHandleGuard&) = delete;

    void setLocked(bool locked) { locked_ = locked; }
    // The handle outlives pre-render from here on.
    void keep() { handle_ = nullptr; }

private:
    PF_HandleSuite2* handles_;
    PF_Handle handle_;
    bool locked_ = false;
};

// Checks out slider `index` at the command's time, reads its value and checks
// it back in.
PF_Err readSlider(PF_InData* in_data, PF_ParamIndex index, double* value) {
    PF_ParamDef param;
    std::memset(&param, 0, sizeof(param));
    const PF_Err err = in_data->inter.checkout_param(in_data->effect_ref, index, in_data->current_time,
                                                     in_data->time_step, in_data->time_scale, &param);
    if (err != PF_Err_NONE) {
        return err;
    }
    *value = param.u.fs_d.value;
    in_data->inter.checkin_param(in_data->effect_ref, &param);
    return PF_Err_NONE;
}

} // namespace

PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* /*out_data*/, PF_PreRenderExtra* extra) {
    PF_RenderRequest request = extra->input->output_request;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_HandleSuite2* handles = suites.HandleSuite2();

    const PF_Handle handle = handles->host_new_handle(kPreRenderDataSize);
    if (handle == nullptr) {
        return PF_Err_OUT_OF_MEMORY;
    }
    PreRenderHandleGuard guard(handles, handle);
    void* memory = handles->host_lock_handle(handle);
    if (memory == nullptr) {
        return PF_Err_OUT_OF_MEMORY;
    }
    guard.setLocked(true);
    extra->output->pre_render_data = handle;

    double values[2] = {0.0, 0.0};
    PF_Err err = readSlider(in_data, 1, &values[0]);
    if (err == PF_Err_NONE) {
        err = readSlider(in_data, 2, &values[1]);
    }
    if (err != PF_Err_NONE) {
        // The host will not call render for this frame: nothing must point at
        // the handle the guard is about to dispose of.
        extra->output->pre_render_data = nullptr;
        return err;
    }
    std::memset(memory, 0, static_cast<std::size_t>(kPreRenderDataSize));
    std::memcpy(memory, values, sizeof(values));
    handles->host_unlock_handle(handle);
    guard.setLocked(false);

    request.preserve_rgb_of_zero_alpha = 1;
    PF_CheckoutResult result;
    std::memset(&result, 0, sizeof(result));
    err = extra->cb->checkout_layer(in_data->effect_ref, 0, 0, &request, in_data->current_time, in_data->time_step,
                                    in_data->time_scale, &result);
    if (err != PF_Err_NONE) {
        extra->output->pre_render_data = nullptr;
        return err;
    }
    guard.keep();

    UnionLRect(&result.result_rect, &extra->output->result_rect);
    UnionLRect(&result.max_result_rect, &extra->output->max_result_rect);
    return PF_Err_NONE;
}

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_HandleSuite2* handles = suites.HandleSuite2();

    // Read the two values and give the handle up at once, so that no later
    // failure can leave it behind.
    const PF_Handle handle = static_cast<PF_Handle>(extra->input->pre_render_data);
    if (handle == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    double values[2] = {0.0, 0.0};
    const void* memory = handles->host_lock_handle(handle);
    if (memory != nullptr) {
        std::memcpy(values, memory, sizeof(values));
        handles->host_unlock_handle(handle);
    }
    handles->host_dispose_handle(handle);
    extra->input->pre_render_data = nullptr;
    if (memory == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }

    Morvek::SourceInfo source(in_data, out_data, extra);
    if (source.getError() != PF_Err_NONE) {
        return source.getError();
    }
    Morvek::Layer input(in_data, out_data, source.getInputWorld(), source.getBPC());
    if (input.getError() != PF_Err_NONE) {
        return input.getError();
    }
    Morvek::Layer output(in_data, out_data, source.getOutputWorld(), source.getBPC());
    if (output.getError() != PF_Err_NONE) {
        return output.getError();
    }
    // Only for its side effect: a host without the iterate suite fails here,
    // whatever the size of the region.
    source.getThreadNum();

    Morvek::Exposure::Parameter parameter;
    parameter.bpc = source.getBPC();
    parameter.exposure = values[0];
    parameter.gamma = values[1];
    const Morvek::Rect region = output.getSize();
    return Morvek::FilterMulti<Morvek::Exposure>(in_data, input, output, region, parameter);
}
