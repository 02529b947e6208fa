// Effect instances: parameters added by the module, checkouts at a time,
// smart-render frames and parameter streams.
#include "StandInTesting.h"

#include <cstring>

using standin::Effect;
using standin::Host;
using standin::TimeKey;
using standin::World;

namespace {

template <class Suite> const Suite* acquire(Host& host, const char* name, int version) {
    const void* s = nullptr;
    host.broker()->AcquireSuite(name, version, &s);
    return static_cast<const Suite*>(s);
}

PF_ParamDef slider(const char* name, double value) {
    PF_ParamDef d;
    std::memset(&d, 0, sizeof d);
    d.param_type = PF_Param_FLOAT_SLIDER;
    std::strcpy(d.name, name);
    d.u.fs_d.value = value;
    return d;
}

} // namespace

TEST(Effects, CheckoutParamServesSliderValuesPerTimeAndLayers) {
    Host host;
    Effect& e = host.createEffect();
    standin::Records rec(host, e);
    PF_ParamDef s1 = slider("A", 0.5);
    ASSERT_EQ(rec.in.inter.add_param(e.ref(), -1, &s1), PF_Err_NONE);
    EXPECT_EQ(rec.in.inter.add_param(e.ref(), 7, &s1), PF_Err_INVALID_INDEX);
    EXPECT_EQ(e.numParams(), 2);
    e.setSlider(1, 2.5, TimeKey{10, 30});

    PF_ParamDef p;
    EXPECT_EQ(rec.in.inter.checkout_param(e.ref(), 1, 10, 1, 30, &p), PF_Err_NONE);
    EXPECT_EQ(p.u.fs_d.value, 2.5);
    PF_ParamDef q;
    EXPECT_EQ(rec.in.inter.checkout_param(e.ref(), 1, 20, 1, 60, &q), PF_Err_NONE); // same time, other scale
    EXPECT_EQ(q.u.fs_d.value, 2.5);
    PF_ParamDef other;
    EXPECT_EQ(rec.in.inter.checkout_param(e.ref(), 1, 11, 1, 30, &other), PF_Err_NONE);
    EXPECT_EQ(other.u.fs_d.value, 0.5);
    EXPECT_EQ(host.checkedOutParams(), 3);

    World layer(5, 4, PF_PixelFormat_ARGB64, 8);
    e.setInputLayer(&layer);
    PF_ParamDef l;
    EXPECT_EQ(rec.in.inter.checkout_param(e.ref(), 0, 0, 1, 30, &l), PF_Err_NONE);
    EXPECT_EQ(l.param_type, PF_Param_LAYER);
    EXPECT_EQ(l.u.ld.data, layer.def()->data);
    EXPECT_EQ(l.u.ld.rowbytes, 48);
    EXPECT_EQ(host.checkedOutParams(), 4);
    PF_ParamDef bad;
    EXPECT_EQ(rec.in.inter.checkout_param(e.ref(), 5, 0, 1, 30, &bad), PF_Err_INVALID_INDEX);

    EXPECT_FALSE(host.leaks().clean());
    for (PF_ParamDef* d : {&p, &q, &other, &l}) {
        EXPECT_EQ(rec.in.inter.checkin_param(e.ref(), d), PF_Err_NONE);
    }
    EXPECT_EQ(rec.in.inter.checkin_param(e.ref(), &p), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.checkedOutParams(), 0);
    host.clearMisuse();
    EXPECT_NO_HOST_LEAKS(host);

    // A layer parameter without pixels checks out empty and is not counted.
    e.setInputLayer(nullptr);
    PF_ParamDef none;
    EXPECT_EQ(rec.in.inter.checkout_param(e.ref(), 0, 0, 1, 30, &none), PF_Err_NONE);
    EXPECT_EQ(none.u.ld.data, nullptr);
    EXPECT_EQ(host.checkedOutParams(), 0);
}

TEST(Effects, FrameRecordsCheckoutsAndServesThemAgain) {
    Host host;
    Effect& e = host.createEffect();
    World in(10, 8, PF_PixelFormat_ARGB128, 16);
    World out(10, 8, PF_PixelFormat_ARGB128);
    standin::FrameOptions fo;
    fo.request = PF_LRect{-5, 2, 6, 20};
    auto frame = host.beginFrame(e, &in, &out, fo);
    Host::Scope scope(host);
    PF_PreRenderExtra& pre = frame->preRenderExtra();
    EXPECT_EQ(pre.input->bitdepth, 32);
    EXPECT_EQ(pre.input->output_request.rect.left, -5);

    PF_CheckoutResult result;
    EXPECT_EQ(pre.cb->checkout_layer(e.ref(), 0, 3, &pre.input->output_request, 0, 1, 30, &result), PF_Err_NONE);
    EXPECT_EQ(result.result_rect.left, 0);
    EXPECT_EQ(result.result_rect.top, 2);
    EXPECT_EQ(result.result_rect.right, 6);
    EXPECT_EQ(result.result_rect.bottom, 8);
    EXPECT_EQ(result.max_result_rect.right, 10);
    EXPECT_EQ(result.max_result_rect.bottom, 8);
    ASSERT_EQ(frame->checkouts().count(3), 1u);
    EXPECT_EQ(frame->checkouts().at(3).request.rect.left, -5);
    EXPECT_EQ(pre.cb->checkout_layer(e.ref(), 1, 4, &pre.input->output_request, 0, 1, 30, &result),
              PF_Err_INVALID_INDEX);

    PF_SmartRenderExtra& sr = frame->smartRenderExtra();
    PF_EffectWorld* pixels = nullptr;
    EXPECT_EQ(sr.cb->checkout_layer_pixels(e.ref(), 3, &pixels), PF_Err_NONE);
    EXPECT_EQ(pixels, in.def());
    EXPECT_EQ(sr.cb->checkout_layer_pixels(e.ref(), 0, &pixels), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(pixels, nullptr);
    PF_EffectWorld* output = nullptr;
    EXPECT_EQ(sr.cb->checkout_output(e.ref(), &output), PF_Err_NONE);
    EXPECT_EQ(output, out.def());

    host.nullResult("SmartRender/checkout_output");
    EXPECT_EQ(sr.cb->checkout_output(e.ref(), &output), PF_Err_NONE);
    EXPECT_EQ(output, nullptr);
}

namespace {
int g_deleted = 0;
void deleteData(void* data) {
    Host* host = Host::current();
    const void* s = nullptr;
    host->broker()->AcquireSuite("PF Handle Suite", 2, &s);
    static_cast<const PF_HandleSuite2*>(s)->host_dispose_handle(static_cast<PF_Handle>(data));
    host->broker()->ReleaseSuite("PF Handle Suite", 2);
    ++g_deleted;
}
} // namespace

TEST(Effects, PreRenderDataIsHeldBetweenStepsThenDeletedOrReported) {
    Host host;
    Effect& e = host.createEffect();
    World in(2, 2, PF_PixelFormat_ARGB32), out(2, 2, PF_PixelFormat_ARGB32);
    auto* hs = acquire<PF_HandleSuite2>(host, "PF Handle Suite", 2);
    {
        auto frame = host.beginFrame(e, &in, &out);
        frame->preRenderExtra().output->pre_render_data = hs->host_new_handle(16);
        frame->preRenderExtra().output->delete_pre_render_data_func = deleteData;
        frame->preRenderReturned(PF_Err_NONE);
        frame->passPreRenderData();
        EXPECT_EQ(frame->smartRenderExtra().input->pre_render_data, frame->preRenderExtra().output->pre_render_data);
        EXPECT_EQ(host.leaks().liveHandles, 0); // held by the host
        g_deleted = 0;
        frame->finish();
        EXPECT_EQ(g_deleted, 1);
        EXPECT_EQ(host.liveHandles(), 0);
    }
    {
        auto frame = host.beginFrame(e, &in, &out);
        frame->preRenderExtra().output->pre_render_data = hs->host_new_handle(16);
        frame->preRenderReturned(PF_Err_NONE);
        frame->finish();
        // Nobody gave it back: a leak.
        EXPECT_EQ(host.leaks().liveHandles, 1);
    }
}

TEST(Effects, StreamsReadWriteAndCountEveryReference) {
    Host host;
    Effect& e = host.createEffect();
    AEGP_StreamVal2 v{};
    v.color = AEGP_ColorVal{1.0, 0.1, 0.2, 0.3};
    e.defineParam(1, standin::StreamKind::Color, v, "Tint");
    AEGP_StreamVal2 p{};
    p.two_d = AEGP_TwoDVal{3.0, 4.0};
    e.defineParam(2, standin::StreamKind::TwoD, p, "Centre");
    AEGP_StreamVal2 x{};
    x.two_d = AEGP_TwoDVal{9.0, 9.5};
    e.setExpressionValue(2, x, TimeKey{1, 1});

    standin::Records rec(host, e);
    auto* pfi = acquire<AEGP_PFInterfaceSuite1>(host, "AEGP PF Interface Suite", 1);
    auto* ss = acquire<AEGP_StreamSuite9>(host, "AEGP Stream Suite", 9);
    auto* es = acquire<AEGP_EffectSuite2>(host, "AEGP Effect Suite", 2);
    AEGP_EffectRefH effectH = nullptr;
    ASSERT_EQ(pfi->AEGP_GetNewEffectForEffect(1, rec.in.effect_ref, &effectH), PF_Err_NONE);
    AEGP_StreamRefH s1 = nullptr, s2 = nullptr, none = nullptr;
    ASSERT_EQ(ss->AEGP_GetNewEffectStreamByIndex(1, effectH, 1, &s1), PF_Err_NONE);
    ASSERT_EQ(ss->AEGP_GetNewEffectStreamByIndex(1, effectH, 2, &s2), PF_Err_NONE);
    EXPECT_EQ(ss->AEGP_GetNewEffectStreamByIndex(1, effectH, 3, &none), PF_Err_INVALID_INDEX);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(host.liveStreams(), 2);

    const A_Time t{1, 1};
    AEGP_StreamValue2 val;
    ASSERT_EQ(ss->AEGP_GetNewStreamValue(1, s1, AEGP_LTimeMode_LayerTime, &t, false, &val), PF_Err_NONE);
    EXPECT_EQ(val.val.color.greenF, 0.2);
    EXPECT_EQ(host.liveStreamValues(), 1);
    val.val.color.greenF = 0.9;
    EXPECT_EQ(ss->AEGP_SetStreamValue(1, s1, &val), PF_Err_NONE);
    EXPECT_EQ(ss->AEGP_DisposeStreamValue(&val), PF_Err_NONE);
    EXPECT_EQ(e.valueAt(1, TimeKey{0, 1}).color.greenF, 0.9);
    EXPECT_EQ(e.valueAt(1, TimeKey{0, 1}).color.blueF, 0.3);

    AEGP_StreamValue2 pre, post;
    ASSERT_EQ(ss->AEGP_GetNewStreamValue(1, s2, AEGP_LTimeMode_LayerTime, &t, true, &pre), PF_Err_NONE);
    ASSERT_EQ(ss->AEGP_GetNewStreamValue(1, s2, AEGP_LTimeMode_LayerTime, &t, false, &post), PF_Err_NONE);
    EXPECT_EQ(pre.val.two_d.x, 3.0);
    EXPECT_EQ(post.val.two_d.x, 9.0);
    EXPECT_EQ(host.liveStreamValues(), 2);
    ss->AEGP_DisposeStreamValue(&pre);
    ss->AEGP_DisposeStreamValue(&post);

    EXPECT_FALSE(host.leaks().clean());
    ss->AEGP_DisposeStream(s1);
    ss->AEGP_DisposeStream(s2);
    es->AEGP_DisposeEffect(effectH);
    EXPECT_EQ(es->AEGP_DisposeEffect(effectH), PF_Err_BAD_CALLBACK_PARAM);
    host.clearMisuse();
    for (auto [name, version] : std::vector<std::pair<const char*, int>>{
             {"AEGP PF Interface Suite", 1}, {"AEGP Stream Suite", 9}, {"AEGP Effect Suite", 2}}) {
        host.broker()->ReleaseSuite(name, version);
    }
    EXPECT_NO_HOST_LEAKS(host);
}

TEST(Effects, InjectedFaultsOnStreamsLeaveNothingLive) {
    Host host;
    Effect& e = host.createEffect();
    e.defineParam(1, standin::StreamKind::OneD, AEGP_StreamVal2{}, "S");
    standin::Records rec(host, e);
    auto* pfi = acquire<AEGP_PFInterfaceSuite1>(host, "AEGP PF Interface Suite", 1);
    auto* ss = acquire<AEGP_StreamSuite9>(host, "AEGP Stream Suite", 9);
    host.nullResult("AEGP PF Interface Suite 1/AEGP_GetNewEffectForEffect", 1);
    AEGP_EffectRefH effectH = reinterpret_cast<AEGP_EffectRefH>(&host);
    EXPECT_EQ(pfi->AEGP_GetNewEffectForEffect(1, rec.in.effect_ref, &effectH), PF_Err_NONE);
    EXPECT_EQ(effectH, nullptr);
    EXPECT_EQ(host.liveEffectRefs(), 0);
    ASSERT_EQ(pfi->AEGP_GetNewEffectForEffect(1, rec.in.effect_ref, &effectH), PF_Err_NONE);
    host.failCall("AEGP Stream Suite 9/AEGP_GetNewEffectStreamByIndex", 55);
    AEGP_StreamRefH s = reinterpret_cast<AEGP_StreamRefH>(&host);
    EXPECT_EQ(ss->AEGP_GetNewEffectStreamByIndex(1, effectH, 1, &s), 55);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(host.liveStreams(), 0);
    // A failed disposal is reported, and the reference is gone all the same.
    host.failCall("AEGP Effect Suite 2/AEGP_DisposeEffect", 66);
    auto* es = acquire<AEGP_EffectSuite2>(host, "AEGP Effect Suite", 2);
    EXPECT_EQ(es->AEGP_DisposeEffect(effectH), 66);
    EXPECT_EQ(host.liveEffectRefs(), 0);
}

TEST(Effects, SilentCheckoutFaultsGiveLayersWithoutPixels) {
    Host host;
    Effect& e = host.createEffect();
    World in(4, 4, PF_PixelFormat_ARGB32), out(4, 4, PF_PixelFormat_ARGB32);
    auto frame = host.beginFrame(e, &in, &out);
    Host::Scope scope(host);
    host.nullResult("PreRender/checkout_layer");
    PF_PreRenderExtra& pre = frame->preRenderExtra();
    PF_CheckoutResult result;
    EXPECT_EQ(pre.cb->checkout_layer(e.ref(), 0, 0, &pre.input->output_request, 0, 1, 30, &result), PF_Err_NONE);
    EXPECT_EQ(result.result_rect.right, 0);
    EXPECT_EQ(result.max_result_rect.right, 0);
    PF_EffectWorld* pixels = in.def();
    EXPECT_EQ(frame->smartRenderExtra().cb->checkout_layer_pixels(e.ref(), 0, &pixels), PF_Err_NONE);
    EXPECT_EQ(pixels, nullptr);

    // A slider checked out under a silent fault is empty but still to be
    // checked in.
    standin::Records rec(host, e);
    PF_ParamDef s1 = slider("A", 0.5);
    ASSERT_EQ(rec.in.inter.add_param(e.ref(), -1, &s1), PF_Err_NONE);
    host.nullResult("inter.checkout_param");
    PF_ParamDef p;
    EXPECT_EQ(rec.in.inter.checkout_param(e.ref(), 1, 0, 1, 30, &p), PF_Err_NONE);
    EXPECT_EQ(p.u.fs_d.value, 0.0);
    EXPECT_EQ(host.checkedOutParams(), 1);
    EXPECT_EQ(rec.in.inter.checkin_param(e.ref(), &p), PF_Err_NONE);
    EXPECT_NO_HOST_LEAKS(host);
}
