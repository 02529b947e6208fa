// The smart-render pair. Pre-render reads the two sliders into the frame's
// pre-render data, asks for the input layer and announces the output
// rectangles; render reads the data back, wraps the input and output worlds
// and runs the exposure filter over the whole output world on the host's
// threads.
//
// The pre-render data belongs to the host from the moment pre-render stores
// it: the host calls pre-render without render (to learn the output
// rectangle, for a frame already cached, for a frame the user scrolled past)
// and may call it more than once before one render, so neither step frees
// it. The host frees every pre-render data it was handed through
// DeletePreRenderData, after render when render runs, on a failed
// pre-render too.
#include "MorvekRender.h"

#include "MorvekExposure.h"
#include "MorvekFilterMulti.h"
#include "MorvekGeneral.h"
#include "MorvekLayer.h"
#include "MorvekSourceInfo.h"
#include "Smart_Utils.h"

#include <cstring>
#include <new>

namespace {

// What travels from pre-render to render: exactly two doubles, exposure
// first, then gamma.
//
// The host's deleter receives nothing but this pointer, and the module keeps
// no global state in which to find a suite, so the data is module memory
// (new[] here, delete[] in the deleter): a host handle could only be given
// back through the handle suite, which the deleter cannot reach.
constexpr std::size_t kPreRenderValues = 2;

void DeletePreRenderData(void* data) {
    delete[] static_cast<double*>(data);
}

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
    if (extra == nullptr || extra->input == nullptr || extra->output == nullptr || extra->cb == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    PF_RenderRequest request = extra->input->output_request;

    double* const values = new (std::nothrow) double[kPreRenderValues]();
    if (values == nullptr) {
        return PF_Err_OUT_OF_MEMORY;
    }
    // The host owns the data from here on, on every path out.
    extra->output->pre_render_data = values;
    extra->output->delete_pre_render_data_func = DeletePreRenderData;

    PF_Err err = readSlider(in_data, 1, &values[0]);
    if (err == PF_Err_NONE) {
        err = readSlider(in_data, 2, &values[1]);
    }
    if (err != PF_Err_NONE) {
        return err;
    }

    request.preserve_rgb_of_zero_alpha = 1;
    PF_CheckoutResult result;
    std::memset(&result, 0, sizeof(result));
    err = extra->cb->checkout_layer(in_data->effect_ref, 0, 0, &request, in_data->current_time, in_data->time_step,
                                    in_data->time_scale, &result);
    if (err != PF_Err_NONE) {
        return err;
    }

    UnionLRect(&result.result_rect, &extra->output->result_rect);
    UnionLRect(&result.max_result_rect, &extra->output->max_result_rect);
    return PF_Err_NONE;
}

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
    if (extra == nullptr || extra->input == nullptr || extra->cb == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    // Read only: the host frees the data after this step.
    const auto* values = static_cast<const double*>(extra->input->pre_render_data);
    if (values == nullptr) {
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
