// Whole frames through the loaded module and the stand-in host: smart
// pre-render then smart render at every depth, compared pixel for pixel with
// the colour converter applied directly; thread counts; the pre-render data;
// every failure of the two steps; balance over a long session.
#include "MorvekExposure.h"
#include "Session.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Converter = Morvek::Exposure::Impl::ColorConverter;
using standin::FrameOptions;
using standin::World;

int bpcOfBits(int bits) {
    return bits == 8 ? 0 : (bits == 16 ? 1 : 2);
}

// Random content a host can deliver: any 8-bit value, 16-bit channels in
// 0..32768, floats in -0.25..2.0 (over-range and negative colour included).
void fillRandom(World& w, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d8(0, 255);
    std::uniform_int_distribution<int> d16(0, 32768);
    std::uniform_real_distribution<float> df(-0.25f, 2.0f);
    for (A_long y = 0; y < w.height(); ++y) {
        for (A_long x = 0; x < w.width(); ++x) {
            switch (w.bitsPerChannel()) {
            case 8: {
                PF_Pixel& p = w.at<PF_Pixel>(x, y);
                p.alpha = static_cast<A_u_char>(d8(rng));
                p.red = static_cast<A_u_char>(d8(rng));
                p.green = static_cast<A_u_char>(d8(rng));
                p.blue = static_cast<A_u_char>(d8(rng));
                break;
            }
            case 16: {
                PF_Pixel16& p = w.at<PF_Pixel16>(x, y);
                p.alpha = static_cast<A_u_short>(d16(rng));
                p.red = static_cast<A_u_short>(d16(rng));
                p.green = static_cast<A_u_short>(d16(rng));
                p.blue = static_cast<A_u_short>(d16(rng));
                break;
            }
            default: {
                PF_PixelFloat& p = w.at<PF_PixelFloat>(x, y);
                // Alpha stays in 0..1; colour may be out of range.
                p.alpha = std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
                p.red = df(rng);
                p.green = df(rng);
                p.blue = df(rng);
                break;
            }
            }
        }
    }
}

Morvek::Exposure::Parameter parameter(int bits, double exposure, double gamma) {
    Morvek::Exposure::Parameter p;
    p.bpc = bpcOfBits(bits);
    p.exposure = exposure;
    p.gamma = gamma;
    return p;
}

template <class P> P convertOne(const Converter& c, const P& src) {
    P dst;
    c.convert(src, dst);
    return dst;
}

// Every visible pixel of `out` equals the converter's result for the same
// pixel of `in`, bit for bit.
::testing::AssertionResult convertedFrom(const World& in, const World& out, double exposure, double gamma) {
    if (in.width() != out.width() || in.height() != out.height()) {
        return ::testing::AssertionFailure() << "sizes differ";
    }
    const Converter converter(parameter(in.bitsPerChannel(), exposure, gamma));
    for (A_long y = 0; y < in.height(); ++y) {
        for (A_long x = 0; x < in.width(); ++x) {
            bool same = false;
            switch (in.bitsPerChannel()) {
            case 8: {
                const PF_Pixel e = convertOne(converter, in.at<PF_Pixel>(x, y));
                same = std::memcmp(&e, &out.at<PF_Pixel>(x, y), sizeof(e)) == 0;
                break;
            }
            case 16: {
                const PF_Pixel16 e = convertOne(converter, in.at<PF_Pixel16>(x, y));
                same = std::memcmp(&e, &out.at<PF_Pixel16>(x, y), sizeof(e)) == 0;
                break;
            }
            default: {
                const PF_PixelFloat e = convertOne(converter, in.at<PF_PixelFloat>(x, y));
                // Bit for bit, so that NaN patterns and signed zeros count too.
                // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
                same = std::memcmp(&e, &out.at<PF_PixelFloat>(x, y), sizeof(e)) == 0;
                break;
            }
            }
            if (!same) {
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The padding bytes after each row's last pixel still hold `value`.
::testing::AssertionResult paddingHolds(const World& w, std::uint8_t value) {
    for (A_long y = 0; y < w.height(); ++y) {
        for (A_long b = w.width() * w.pixelSize(); b < w.rowbytes(); ++b) {
            if (w.row(y)[b] != value) {
                return ::testing::AssertionFailure() << "padding byte " << b << " of row " << y << " written";
            }
        }
    }
    if (!w.guardIntact()) {
        return ::testing::AssertionFailure() << "written past the last row";
    }
    return ::testing::AssertionSuccess();
}

std::array<A_long, 4> corners(const PF_LRect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

std::vector<std::uint8_t> bytesOf(const World& w) {
    return std::vector<std::uint8_t>(w.bytes(), w.bytes() + w.byteSize());
}

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        session = standin::Session::open(MORVEK_PLUGIN_PATH, &why);
        ASSERT_TRUE(session) << why;
        ASSERT_EQ(session->globalSetup(), PF_Err_NONE);
        ASSERT_EQ(session->paramsSetup(), PF_Err_NONE);
    }
    void TearDown() override {
        if (session) {
            EXPECT_EQ(session->globalSetdown(), PF_Err_NONE);
            EXPECT_TRUE(session->reportsClean()) << session->firstLeak();
        }
    }
    standin::Host& host() { return session->host(); }

    std::unique_ptr<standin::Session> session;
};

class RenderAtDepth : public Render, public ::testing::WithParamInterface<int> {
protected:
    PF_PixelFormat format() const { return standin::formatForBits(GetParam()); }
};

TEST_P(RenderAtDepth, WholeFrameWithPaddedRowsEqualsTheDirectConversion) {
    // Input and output rows are padded differently.
    World in(37, 23, format(), 3 * 16);
    World out(37, 23, format(), 5 * 16);
    fillRandom(in, 7u + static_cast<unsigned>(GetParam()));
    out.fillBytes(0xCD);
    session->setSlider(1, 1.25);
    session->setSlider(2, 0.7);
    FrameOptions options;
    options.threads = 4;
    ASSERT_EQ(session->renderFrame(in, out, options), PF_Err_NONE);
    EXPECT_TRUE(convertedFrom(in, out, 1.25, 0.7));
    EXPECT_TRUE(paddingHolds(out, 0xCD));
    EXPECT_TRUE(session->lastReport().clean()) << session->lastReport().describe();
}

TEST_P(RenderAtDepth, EveryThreadCountGivesTheSameOutput) {
    World in(29, 41, format(), 16);
    fillRandom(in, 99);
    session->setSlider(1, -0.8);
    session->setSlider(2, 2.4);
    std::vector<std::uint8_t> first;
    for (int threads : {1, 2, 3, 7, 16}) {
        World out(29, 41, format(), 32);
        out.fillBytes(0x5A);
        FrameOptions options;
        options.threads = threads;
        ASSERT_EQ(session->renderFrame(in, out, options), PF_Err_NONE) << threads;
        EXPECT_TRUE(convertedFrom(in, out, -0.8, 2.4)) << threads << " threads";
        EXPECT_TRUE(paddingHolds(out, 0x5A));
        // One call per thread, each index once.
        EXPECT_EQ(host().lastIterationCounts(), std::vector<int>(static_cast<std::size_t>(threads), 1));
        if (first.empty()) {
            first = bytesOf(out);
        } else {
            EXPECT_EQ(bytesOf(out), first) << threads << " threads";
        }
    }
}

TEST_P(RenderAtDepth, FewerRowsThanThreads) {
    World in(11, 3, format(), 0);
    World out(11, 3, format(), 16);
    fillRandom(in, 5);
    out.fillBytes(0x11);
    session->setSlider(1, 3.0);
    session->setSlider(2, 1.0);
    FrameOptions options;
    options.threads = 16;
    ASSERT_EQ(session->renderFrame(in, out, options), PF_Err_NONE);
    EXPECT_TRUE(convertedFrom(in, out, 3.0, 1.0));
    EXPECT_TRUE(paddingHolds(out, 0x11));
}

// A host that reports no worker thread (or a negative count) still gets the
// whole frame rendered, in one band.
TEST_P(RenderAtDepth, ReportedThreadCountBelowOneRendersAsOneBand) {
    World in(13, 9, format(), 16);
    fillRandom(in, 17);
    session->setSlider(1, 0.5);
    session->setSlider(2, 1.3);
    for (int reported : {0, -3}) {
        World out(13, 9, format(), 0);
        out.fillBytes(0x77);
        FrameOptions options;
        options.threads = 4;
        options.reportedThreads = reported;
        ASSERT_EQ(session->renderFrame(in, out, options), PF_Err_NONE);
        EXPECT_TRUE(convertedFrom(in, out, 0.5, 1.3)) << reported;
        EXPECT_EQ(host().lastIterationCounts(), std::vector<int>{1}) << reported;
    }
}

TEST_P(RenderAtDepth, ZeroSizedOutputDoesNoWork) {
    for (const auto& size : {std::pair<A_long, A_long>{0, 6}, {6, 0}, {0, 0}}) {
        World in(size.first, size.second, format(), 16);
        World out(size.first, size.second, format(), 16);
        host().clearCalls();
        ASSERT_EQ(session->renderFrame(in, out), PF_Err_NONE);
        EXPECT_EQ(host().callCount("PF Iterate8 Suite 1/iterate_generic"), 0);
        EXPECT_TRUE(session->lastReport().clean()) << session->lastReport().describe();
    }
}

// The call orders a real host uses. In each, the host frees every pre-render
// data it was handed exactly once, through the deleter pre-render registered,
// after render when render runs; nothing is left behind, and an output that
// no render reached is untouched.
TEST_P(RenderAtDepth, EveryCallOrderFreesEachPreRenderDataOnce) {
    struct Case {
        standin::CallOrder order;
        int preRenders;
        bool renders;
    };
    const Case cases[] = {
        {standin::CallOrder::PreRenderThenRender, 1, true},
        {standin::CallOrder::PreRenderOnly, 1, false},
        {standin::CallOrder::PreRenderTwiceThenRender, 2, true},
        {standin::CallOrder::RenderAbandoned, 1, false},
    };
    World in(9, 7, format(), 16);
    fillRandom(in, 31);
    session->setSlider(1, 1.5);
    session->setSlider(2, 0.8);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.order));
        World out(9, 7, format(), 0);
        out.fillBytes(0x5A);
        const std::vector<std::uint8_t> before = bytesOf(out);
        FrameOptions options;
        options.threads = 2;
        ASSERT_EQ(session->runFrame(in, out, c.order, options), PF_Err_NONE);
        if (c.renders) {
            EXPECT_TRUE(convertedFrom(in, out, 1.5, 0.8));
        } else {
            EXPECT_EQ(bytesOf(out), before);
        }
        const auto& data = session->lastPreRenderData();
        ASSERT_EQ(data.size(), static_cast<std::size_t>(c.preRenders));
        for (const standin::Frame::PreRenderData& d : data) {
            EXPECT_NE(d.deleter, nullptr);
            EXPECT_TRUE(d.deleted);
            EXPECT_EQ(d.deletedAfterRender, c.renders);
        }
        EXPECT_TRUE(session->reportsClean()) << session->firstLeak();
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, RenderAtDepth, ::testing::Values(8, 16, 32),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param) + "bit"; });

TEST_F(Render, DefaultSlidersLeaveIntegerPixelsUnchanged) {
    for (int bits : {8, 16}) {
        World in(16, 8, standin::formatForBits(bits), 16);
        World out(16, 8, standin::formatForBits(bits), 0);
        fillRandom(in, 3);
        session->setSlider(1, 0.0);
        session->setSlider(2, 1.0);
        ASSERT_EQ(session->renderFrame(in, out), PF_Err_NONE);
        EXPECT_TRUE(in.samePixels(out)) << bits;
    }
}

// Values typed beyond the slider range (but within the valid range) travel
// in the 16-byte pre-render data unchanged, exposure first; the data stays
// the host's to free through the deleter pre-render registered.
TEST_F(Render, SliderValuesTravelInThePreRenderData) {
    World in(10, 6, PF_PixelFormat_ARGB32, 0);
    World out(10, 6, PF_PixelFormat_ARGB32, 0);
    fillRandom(in, 12);
    session->setSlider(1, 7.5);
    session->setSlider(2, 9.25);
    auto frame = host().beginFrame(session->effect(), &in, &out);
    ASSERT_EQ(session->preRender(*frame), PF_Err_NONE);
    const PF_PreRenderOutput& o = *frame->preRenderExtra().output;
    ASSERT_NE(o.pre_render_data, nullptr);
    ASSERT_NE(o.delete_pre_render_data_func, nullptr);
    double stored[2];
    std::memcpy(stored, o.pre_render_data, sizeof(stored));
    EXPECT_EQ(stored[0], 7.5);
    EXPECT_EQ(stored[1], 9.25);
    EXPECT_EQ(host().checkedOutParams(), 0);

    frame->passPreRenderData();
    ASSERT_EQ(session->smartRender(*frame), PF_Err_NONE);
    frame->finish();
    EXPECT_TRUE(convertedFrom(in, out, 7.5, 9.25));
    EXPECT_TRUE(host().leaks().clean()) << host().leaks().describe();
}

// Animated sliders are read at the frame's own time, with the host's time
// step and scale; the input layer is asked for with the same three.
TEST_F(Render, SlidersAndInputAreReadAtTheFramesTime) {
    World in(7, 3, PF_PixelFormat_ARGB64, 0);
    World out(7, 3, PF_PixelFormat_ARGB64, 0);
    fillRandom(in, 21);
    const standin::TimeKey at{7, 24};
    session->setSlider(1, -3.0); // at every other time
    session->setSlider(1, 1.75, at);
    session->setSlider(2, 1.6, at);
    FrameOptions options;
    options.time = at;
    options.timeStep = 2;
    host().clearCalls();
    ASSERT_EQ(session->renderFrame(in, out, options), PF_Err_NONE);
    EXPECT_TRUE(convertedFrom(in, out, 1.75, 1.6));
    const std::vector<standin::HostCall> params = host().callRecords("inter.checkout_param");
    const std::vector<standin::HostCall> layers = host().callRecords("PreRender/checkout_layer");
    ASSERT_EQ(params.size(), 2u);
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(params[0].arg("index"), 1);
    EXPECT_EQ(params[1].arg("index"), 2);
    for (const standin::HostCall& c : {params[0], params[1], layers[0]}) {
        SCOPED_TRACE(c.describe());
        EXPECT_EQ(c.arg("what_time"), 7);
        EXPECT_EQ(c.arg("time_step"), 2);
        EXPECT_EQ(c.arg("time_scale"), 24);
    }
}

TEST_F(Render, PreRenderAsksForTheInputAndMergesItsRectangles) {
    World in(20, 10, PF_PixelFormat_ARGB64, 0);
    World out(20, 10, PF_PixelFormat_ARGB64, 0);
    FrameOptions options;
    options.request = PF_LRect{2, 3, 12, 8};
    {
        auto frame = host().beginFrame(session->effect(), &in, &out, options);
        frame->preRenderExtra().input->output_request.channel_mask = PF_ChannelMask_RED;
        frame->preRenderExtra().input->output_request.preserve_rgb_of_zero_alpha = 0;
        frame->preRenderExtra().output->result_rect = PF_LRect{0, 0, 0, 0};
        frame->preRenderExtra().output->max_result_rect = PF_LRect{0, 0, 0, 0};
        ASSERT_EQ(session->preRender(*frame), PF_Err_NONE);
        ASSERT_EQ(frame->checkouts().size(), 1u);
        const auto& checkout = frame->checkouts().at(0);
        EXPECT_EQ(checkout.index, 0);
        EXPECT_EQ(checkout.request.preserve_rgb_of_zero_alpha, 1);
        EXPECT_EQ(checkout.request.channel_mask, PF_ChannelMask_RED);
        EXPECT_EQ(checkout.request.rect.left, 2);
        EXPECT_EQ(checkout.request.rect.bottom, 8);
        // An empty output rectangle takes the checkout's rectangles as they
        // are: the request clipped to the 20 x 10 input, and the whole input.
        const PF_PreRenderOutput& o = *frame->preRenderExtra().output;
        EXPECT_EQ(corners(o.result_rect), corners(PF_LRect{2, 3, 12, 8}));
        EXPECT_EQ(corners(o.max_result_rect), corners(PF_LRect{0, 0, 20, 10}));
        EXPECT_NE(o.delete_pre_render_data_func, nullptr);
        ASSERT_EQ(session->smartRender(*frame), PF_Err_NONE);
    }
    {
        // A non-empty output rectangle grows to the bounding box of both.
        auto frame = host().beginFrame(session->effect(), &in, &out, options);
        frame->preRenderExtra().output->result_rect = PF_LRect{-5, -4, 1, 1};
        frame->preRenderExtra().output->max_result_rect = PF_LRect{30, 30, 40, 40};
        ASSERT_EQ(session->preRender(*frame), PF_Err_NONE);
        const PF_PreRenderOutput& o = *frame->preRenderExtra().output;
        EXPECT_EQ(corners(o.result_rect), corners(PF_LRect{-5, -4, 12, 8}));
        EXPECT_EQ(corners(o.max_result_rect), corners(PF_LRect{0, 0, 40, 40}));
        ASSERT_EQ(session->smartRender(*frame), PF_Err_NONE);
    }
    EXPECT_TRUE(host().leaks().clean()) << host().leaks().describe();
}

// ---- Failures ----------------------------------------------------------------

struct Failure {
    const char* name;
    std::function<void(standin::Session&)> inject;
    PF_Err expected;
};

void failCall(standin::Session& s, const char* call, PF_Err code, long occurrence = 0) {
    s.host().failCall(call, code, occurrence);
}

TEST_F(Render, EveryFailureReturnsItsCodeAndLeavesTheOutputAlone) {
    const std::vector<Failure> failures = {
        {"no broker", [](standin::Session& s) { s.setBrokerAvailable(false); }, PF_Err_BAD_CALLBACK_PARAM},
        {"exposure checkout", [](standin::Session& s) { failCall(s, "inter.checkout_param", 513, 1); }, 513},
        {"gamma checkout", [](standin::Session& s) { failCall(s, "inter.checkout_param", 518, 2); }, 518},
        {"layer checkout", [](standin::Session& s) { failCall(s, "PreRender/checkout_layer", 517); }, 517},
        {"input pixels", [](standin::Session& s) { failCall(s, "SmartRender/checkout_layer_pixels", 515); }, 515},
        {"output world", [](standin::Session& s) { failCall(s, "SmartRender/checkout_output", 514); }, 514},
        {"no world suite", [](standin::Session& s) { s.host().withholdSuite("PF World Suite", 2); },
         PF_Err_BAD_CALLBACK_PARAM},
        {"pixel format", [](standin::Session& s) { failCall(s, "PF World Suite 2/PF_GetPixelFormat", 512); }, 512},
        {"no iterate suite", [](standin::Session& s) { s.host().withholdSuite("AEGP Iterate Suite", 1); },
         PF_Err_BAD_CALLBACK_PARAM},
        {"thread count", [](standin::Session& s) { failCall(s, "AEGP Iterate Suite 1/AEGP_GetNumThreads", 513); }, 513},
        {"no iterate8 suite", [](standin::Session& s) { s.host().withholdSuite("PF Iterate8 Suite", 1); },
         PF_Err_BAD_CALLBACK_PARAM},
        {"iteration", [](standin::Session& s) { failCall(s, "PF Iterate8 Suite 1/iterate_generic", 517); }, 517},
    };
    for (int bits : {8, 16, 32}) {
        for (const Failure& f : failures) {
            World in(8, 5, standin::formatForBits(bits), 16);
            World out(8, 5, standin::formatForBits(bits), 16);
            fillRandom(in, 1);
            out.fillBytes(0x3C);
            const std::vector<std::uint8_t> before = bytesOf(out);
            session->setSlider(1, 2.0);
            host().clearCalls();
            f.inject(*session);
            EXPECT_EQ(session->renderFrame(in, out), f.expected) << f.name << " at " << bits;
            EXPECT_EQ(bytesOf(out), before) << f.name << " at " << bits;
            EXPECT_TRUE(session->lastReport().clean()) << f.name << ": " << session->lastReport().describe();

            host().clearFaults();
            host().withholdSuite("PF World Suite", 2, false);
            host().withholdSuite("AEGP Iterate Suite", 1, false);
            host().withholdSuite("PF Iterate8 Suite", 1, false);
            session->setBrokerAvailable(true);
            // The next frame renders again.
            ASSERT_EQ(session->renderFrame(in, out), PF_Err_NONE) << "after " << f.name;
            EXPECT_TRUE(convertedFrom(in, out, 2.0, 1.0)) << "after " << f.name;
        }
    }
}

// A host that passes no extra record, or one without its parts, gets 516
// from either step instead of a crash.
TEST_F(Render, MissingExtraRecordsAreRefused) {
    PF_PreRenderExtra pre{};
    PF_SmartRenderExtra smart{};
    for (void* extra : {static_cast<void*>(nullptr), static_cast<void*>(&pre)}) {
        EXPECT_EQ(session->command(PF_Cmd_SMART_PRE_RENDER, extra), PF_Err_BAD_CALLBACK_PARAM);
    }
    for (void* extra : {static_cast<void*>(nullptr), static_cast<void*>(&smart)}) {
        EXPECT_EQ(session->command(PF_Cmd_SMART_RENDER, extra), PF_Err_BAD_CALLBACK_PARAM);
    }
}

TEST_F(Render, WorldSuiteRefusalExplainsItself) {
    World in(4, 4, PF_PixelFormat_ARGB32, 0);
    World out(4, 4, PF_PixelFormat_ARGB32, 0);
    host().withholdSuite("PF World Suite", 2);
    EXPECT_EQ(session->renderFrame(in, out), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(session->lastOutData().return_msg, "Couldn't load suite.");
    EXPECT_NE(session->lastOutData().out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
    host().withholdSuite("PF World Suite", 2, false);
}

TEST_F(Render, RenderWithoutPreRenderDataTouchesNoPixels) {
    World in(6, 6, PF_PixelFormat_ARGB32, 0);
    World out(6, 6, PF_PixelFormat_ARGB32, 0);
    out.fillBytes(0x42);
    const std::vector<std::uint8_t> before = bytesOf(out);
    auto frame = host().beginFrame(session->effect(), &in, &out);
    frame->smartRenderExtra().input->pre_render_data = nullptr;
    EXPECT_EQ(session->smartRender(*frame), PF_Err_BAD_CALLBACK_PARAM);
    frame->finish();
    EXPECT_EQ(bytesOf(out), before);
    EXPECT_TRUE(host().leaks().clean()) << host().leaks().describe();
}

// ---- A long session ------------------------------------------------------------

TEST_F(Render, ThousandFramesLeaveNothingBehind) {
    const long handlesBefore = host().liveHandles();
    for (int frame = 0; frame < 1000; ++frame) {
        const int bits = frame % 3 == 0 ? 8 : (frame % 3 == 1 ? 16 : 32);
        World in(5, 3, standin::formatForBits(bits), 16);
        World out(5, 3, standin::formatForBits(bits), 0);
        fillRandom(in, static_cast<unsigned>(frame));
        const double exposure = (frame % 17) * 0.25 - 2.0;
        session->setSlider(1, exposure);
        session->setSlider(2, 1.0 + (frame % 5) * 0.5);
        FrameOptions options;
        options.threads = 1 + frame % 4;
        ASSERT_EQ(session->renderFrame(in, out, options), PF_Err_NONE) << frame;
        if (frame % 97 == 0) {
            EXPECT_TRUE(convertedFrom(in, out, exposure, 1.0 + (frame % 5) * 0.5)) << frame;
        }
        ASSERT_TRUE(session->lastReport().clean()) << frame << ": " << session->lastReport().describe();
    }
    EXPECT_EQ(host().liveHandles(), handlesBefore);
    EXPECT_EQ(host().liveWorlds(), 0);
    EXPECT_EQ(host().checkedOutParams(), 0);
    EXPECT_TRUE(session->reportsClean()) << session->firstLeak();
}

} // namespace
