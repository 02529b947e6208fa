// Morvek::SourceInfo against the stand-in host's smart-render records: pixel
// formats to depth codes, the order in which failures stop the host calls,
// the suites it takes and gives back, thread counts, down-sampling, origins.
#include "Host.h"
#include "MorvekSourceInfo.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using Morvek::SourceInfo;
using standin::World;

class SourceInfoTest : public ::testing::Test {
protected:
    void TearDown() override {
        frame.reset();
        EXPECT_TRUE(host.leaks().clean()) << host.leaks().describe();
    }

    // A frame whose input was checked out under id 0, as the pre-render step does.
    void begin(World& input, World& output, const standin::FrameOptions& options = {}) {
        frame = host.beginFrame(effect, &input, &output, options);
        PF_RenderRequest request = frame->preRenderExtra().input->output_request;
        PF_CheckoutResult result{};
        PF_InData& inData = frame->inData();
        ASSERT_EQ(frame->preRenderExtra().cb->checkout_layer(inData.effect_ref, 0, 0, &request, inData.current_time,
                                                             inData.time_step, inData.time_scale, &result),
                  PF_Err_NONE);
        host.clearCalls();
    }
    std::unique_ptr<SourceInfo> make() {
        return std::make_unique<SourceInfo>(&frame->inData(), &frame->outData(), &frame->smartRenderExtra());
    }

    standin::Host host;
    standin::Host::Scope scope{host};
    standin::Effect& effect = host.createEffect();
    std::unique_ptr<standin::Frame> frame;
};

TEST_F(SourceInfoTest, PixelFormatsGiveDepthCodes) {
    const std::pair<PF_PixelFormat, int> formats[] = {{PF_PixelFormat_ARGB32, 0},
                                                      {PF_PixelFormat_BGRA32, 0},
                                                      {PF_PixelFormat_ARGB64, 1},
                                                      {PF_PixelFormat_ARGB128, 2},
                                                      {PF_PixelFormat_BGRA128, 2}};
    for (const auto& f : formats) {
        World in(6, 4, f.first, 0);
        World out(6, 4, f.first, 16);
        begin(in, out);
        auto info = make();
        EXPECT_EQ(info->getError(), PF_Err_NONE);
        EXPECT_EQ(info->getBPC(), f.second) << std::hex << f.first;
        ASSERT_NE(info->getInputWorld(), nullptr);
        ASSERT_NE(info->getOutputWorld(), nullptr);
        EXPECT_EQ(static_cast<void*>(info->getInputWorld()->data), static_cast<void*>(in.bytes()));
        EXPECT_EQ(static_cast<void*>(info->getOutputWorld()->data), static_cast<void*>(out.bytes()));
        EXPECT_EQ(info->getInputWidth(), 6);
        EXPECT_EQ(info->getOutputHeight(), 4);
        info.reset();
        // The world suite was taken once for the format and given back.
        EXPECT_EQ(host.acquireCount("PF World Suite", 2), host.releaseCount("PF World Suite", 2));
        frame.reset();
    }
}

TEST_F(SourceInfoTest, FailedInputCheckoutStopsEverythingAfterIt) {
    World in(4, 4, PF_PixelFormat_ARGB32, 0);
    World out(4, 4, PF_PixelFormat_ARGB32, 0);
    begin(in, out);
    host.failCall("SmartRender/checkout_layer_pixels", PF_Err_INVALID_INDEX);
    auto info = make();
    EXPECT_EQ(info->getError(), PF_Err_INVALID_INDEX);
    EXPECT_EQ(host.callCount("SmartRender/checkout_output"), 0);
    EXPECT_EQ(host.callCount("SPBasic/AcquireSuite:PF World Suite 2"), 0);
    EXPECT_EQ(host.callCount("SPBasic/ReleaseSuite:PF World Suite 2"), 0);
    // No thread count is asked for once an error is recorded.
    EXPECT_EQ(info->getThreadNum(), 1);
    EXPECT_EQ(host.callCount("SPBasic/AcquireSuite:AEGP Iterate Suite 1"), 0);
    EXPECT_EQ(info->getError(), PF_Err_INVALID_INDEX);
}

TEST_F(SourceInfoTest, FailedOutputCheckoutSkipsTheFormat) {
    World in(4, 4, PF_PixelFormat_ARGB32, 0);
    World out(4, 4, PF_PixelFormat_ARGB32, 0);
    begin(in, out);
    host.failCall("SmartRender/checkout_output", PF_Err_INVALID_CALLBACK);
    auto info = make();
    EXPECT_EQ(info->getError(), PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(host.callCount("SPBasic/AcquireSuite:PF World Suite 2"), 0);
}

// A host that reports success but hands back no world: the render must not
// go on with nothing to write and report success.
TEST_F(SourceInfoTest, CheckoutWithoutAWorldIsAnError) {
    for (const char* call : {"SmartRender/checkout_layer_pixels", "SmartRender/checkout_output"}) {
        SCOPED_TRACE(call);
        World in(4, 4, PF_PixelFormat_ARGB32, 0);
        World out(4, 4, PF_PixelFormat_ARGB32, 0);
        begin(in, out);
        host.nullResult(call);
        auto info = make();
        EXPECT_EQ(info->getError(), PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_EQ(host.callCount("SPBasic/AcquireSuite:PF World Suite 2"), 0);
        info.reset();
        frame.reset();
        host.clearFaults();
    }
}

TEST_F(SourceInfoTest, FailedFormatReadKeepsItsCodeAndReleasesTheSuiteOnce) {
    World in(4, 4, PF_PixelFormat_ARGB64, 0);
    World out(4, 4, PF_PixelFormat_ARGB64, 0);
    begin(in, out);
    host.failCall("PF World Suite 2/PF_GetPixelFormat", PF_Err_INTERNAL_STRUCT_DAMAGED);
    auto info = make();
    EXPECT_EQ(info->getError(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_NE(info->getBPC(), 1);
    EXPECT_EQ(host.callCount("SPBasic/AcquireSuite:PF World Suite 2"), 1);
    EXPECT_EQ(host.callCount("SPBasic/ReleaseSuite:PF World Suite 2"), 1);
}

TEST_F(SourceInfoTest, MissingWorldSuiteIsReportedWithItsMessage) {
    World in(4, 4, PF_PixelFormat_ARGB32, 0);
    World out(4, 4, PF_PixelFormat_ARGB32, 0);
    begin(in, out);
    host.withholdSuite("PF World Suite", 2);
    auto info = make();
    EXPECT_EQ(info->getError(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(frame->outData().return_msg, "Couldn't load suite.");
    EXPECT_EQ(host.callCount("SPBasic/ReleaseSuite:PF World Suite 2"), 0);
}

TEST_F(SourceInfoTest, ThreadCountTakesTheIterateSuiteOnce) {
    World in(4, 4, PF_PixelFormat_ARGB32, 0);
    World out(4, 4, PF_PixelFormat_ARGB32, 0);
    standin::FrameOptions options;
    options.threads = 3;
    begin(in, out, options);
    auto info = make();
    EXPECT_EQ(host.callCount("SPBasic/AcquireSuite:AEGP Iterate Suite 1"), 0);
    EXPECT_EQ(info->getThreadNum(), 3);
    EXPECT_EQ(info->getThreadNum(), 3);
    EXPECT_EQ(host.callCount("SPBasic/AcquireSuite:AEGP Iterate Suite 1"), 1);
    EXPECT_EQ(host.callCount("SPBasic/ReleaseSuite:AEGP Iterate Suite 1"), 0);
    info.reset();
    EXPECT_EQ(host.callCount("SPBasic/ReleaseSuite:AEGP Iterate Suite 1"), 1);
}

TEST_F(SourceInfoTest, ThreadCountBelowOneOrFailingIsAnsweredAsOne) {
    World in(4, 4, PF_PixelFormat_ARGB32, 0);
    World out(4, 4, PF_PixelFormat_ARGB32, 0);
    standin::FrameOptions options;
    options.threads = 2;
    options.reportedThreads = 0;
    begin(in, out, options);
    auto info = make();
    EXPECT_EQ(info->getThreadNum(), 1);
    EXPECT_EQ(info->getError(), PF_Err_NONE);
    host.failCall("AEGP Iterate Suite 1/AEGP_GetNumThreads", PF_Err_INVALID_INDEX);
    EXPECT_EQ(info->getThreadNum(), 1);
    EXPECT_EQ(info->getError(), PF_Err_INVALID_INDEX);
}

TEST_F(SourceInfoTest, MissingIterateSuiteThrows) {
    World in(4, 4, PF_PixelFormat_ARGB32, 0);
    World out(4, 4, PF_PixelFormat_ARGB32, 0);
    begin(in, out);
    host.withholdSuite("AEGP Iterate Suite", 1);
    auto info = make();
    EXPECT_THROW(info->getThreadNum(), PF_Err);
}

TEST_F(SourceInfoTest, DownSamplingSizesAndOrigins) {
    World in(10, 8, PF_PixelFormat_ARGB128, 0);
    World out(10, 8, PF_PixelFormat_ARGB128, 0);
    in.setOrigin(-3, 5);
    out.setOrigin(7, -2);
    standin::FrameOptions options;
    options.downsampleX = PF_RationalScale{1, 2};
    options.downsampleY = PF_RationalScale{3, 3000000000u}; // a denominator beyond the signed range
    begin(in, out, options);
    auto info = make();
    EXPECT_EQ(info->getDownSampleX(), 0.5);
    EXPECT_EQ(info->getDownSampleY(), 1e-9);
    EXPECT_EQ(info->getWidth(), frame->inData().width);
    EXPECT_EQ(info->getHeight(), frame->inData().height);
    EXPECT_EQ(info->getInputOrigin().x, -3.0);
    EXPECT_EQ(info->getInputOrigin().y, 5.0);
    EXPECT_EQ(info->getOutputOrigin().x, 7.0);
    EXPECT_EQ(info->getOutputOrigin().y, -2.0);
}

TEST_F(SourceInfoTest, CopiesShareOneImplementation) {
    World in(4, 4, PF_PixelFormat_ARGB32, 0);
    World out(4, 4, PF_PixelFormat_ARGB32, 0);
    begin(in, out);
    auto info = make();
    SourceInfo copy = *info;
    EXPECT_EQ(copy.getThreadNum(), info->getThreadNum());
    info.reset();
    EXPECT_EQ(host.callCount("SPBasic/ReleaseSuite:AEGP Iterate Suite 1"), 0);
    EXPECT_EQ(copy.getInputWorld()->width, 4);
}

} // namespace
