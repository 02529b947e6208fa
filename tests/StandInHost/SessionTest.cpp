// The session API with the real module: frames rendered through it, the
// host's checks around each command, and its refusal of mismatched worlds.
#include "StandInTesting.h"

#include <cstdio>
#include <map>
#include <thread>

using standin::FrameOptions;
using standin::Session;
using standin::World;
using standin::testing::AllCommandsBalanced;
using standin::testing::LoadPlugin;

TEST(SessionApi, RendersFramesAndStaysBalanced) {
    auto module = LoadPlugin();
    ASSERT_TRUE(module);
    Session s(module);
    ASSERT_EQ(s.globalSetup(), PF_Err_NONE);
    ASSERT_EQ(s.paramsSetup(), PF_Err_NONE);
    for (int bits : {8, 16, 32}) {
        SCOPED_TRACE(bits);
        World in(9, 5, standin::formatForBits(bits), 12);
        World out(9, 5, standin::formatForBits(bits), 4);
        in.fillRandom(static_cast<std::uint32_t>(bits));
        FrameOptions fo;
        fo.threads = 3;
        EXPECT_EQ(s.renderFrame(in, out, fo), PF_Err_NONE);
        EXPECT_TRUE(out.guardIntact());
        EXPECT_EQ(s.host().workerThreads(), 3);
        EXPECT_EQ(s.host().callCount("SmartRender/checkout_output"), bits == 8 ? 1 : bits == 16 ? 2 : 3);
    }
    EXPECT_EQ(s.globalSetdown(), PF_Err_NONE);
    EXPECT_TRUE(AllCommandsBalanced(s));
    EXPECT_EQ(s.host().liveHandles(), 0);
}

TEST(SessionApi, MismatchedWorldsAreRefusedBeforeTheModuleRuns) {
    auto module = LoadPlugin();
    ASSERT_TRUE(module);
    Session s(module);
    World in(4, 4, PF_PixelFormat_ARGB32);
    World out(4, 4, PF_PixelFormat_ARGB64);
    EXPECT_EQ(s.renderFrame(in, out), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(s.host().calls().empty());
}

TEST(SessionApi, NullBrokerReachesTheModule) {
    auto module = LoadPlugin();
    ASSERT_TRUE(module);
    Session s(module);
    s.setBrokerAvailable(false);
    EXPECT_EQ(s.globalSetup(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(s.lastInData().pica_basicP, nullptr);
    s.setBrokerAvailable(true);
    EXPECT_EQ(s.globalSetup(), PF_Err_NONE);
    EXPECT_NE(s.globalData(), nullptr);
    EXPECT_EQ(s.globalSetdown(), PF_Err_NONE);
    EXPECT_EQ(s.globalData(), nullptr);
    EXPECT_TRUE(AllCommandsBalanced(s));
}

TEST(ModuleLoading, MissingFilesAndLibrariesWithoutTheEntryPointAreRefused) {
    std::string why;
    EXPECT_EQ(standin::Module::load("/nonexistent/MorvekExposure.so", &why), nullptr);
    EXPECT_FALSE(why.empty());
    why.clear();
    EXPECT_EQ(standin::Module::load("libm.so.6", &why), nullptr);
    EXPECT_NE(why.find("EntryPointFunc"), std::string::npos) << why;
    EXPECT_EQ(standin::Session::open("/nonexistent.so"), nullptr);
}

namespace {

// Renders `frames` frames of `in` with exposure `exposure` and keeps the last.
void renderMany(Session& s, World& in, World& out, double exposure, int frames) {
    s.setSlider(1, exposure);
    FrameOptions fo;
    fo.threads = 3;
    for (int i = 0; i < frames; ++i) {
        if (s.renderFrame(in, out, fo) != PF_Err_NONE) {
            return;
        }
    }
}

} // namespace

TEST(SessionApi, ConcurrentEffectsOnOneHostAndOnTwoHostsMatchSequentialFrames) {
    auto module = LoadPlugin();
    ASSERT_TRUE(module);
    World in(33, 17, PF_PixelFormat_ARGB64, 8);
    in.fillRandom(7);
    // Channels above full scale are not valid 16-bit pixels: fold them in.
    for (A_long y = 0; y < in.height(); ++y) {
        for (A_long x = 0; x < in.width(); ++x) {
            PF_Pixel16& p = in.at<PF_Pixel16>(x, y);
            for (A_u_short* c : {&p.alpha, &p.red, &p.green, &p.blue}) {
                *c = static_cast<A_u_short>(*c % 32769);
            }
        }
    }

    World refA(33, 17, PF_PixelFormat_ARGB64), refB(33, 17, PF_PixelFormat_ARGB64);
    {
        Session s(module);
        ASSERT_EQ(s.globalSetup(), PF_Err_NONE);
        ASSERT_EQ(s.paramsSetup(), PF_Err_NONE);
        renderMany(s, in, refA, 1.5, 1);
        renderMany(s, in, refB, -0.75, 1);
        s.globalSetdown();
    }
    ASSERT_FALSE(refA.samePixels(refB));

    standin::Host shared;
    for (bool oneHost : {true, false}) {
        SCOPED_TRACE(oneHost ? "one host" : "two hosts");
        Session a(module, oneHost ? &shared : nullptr);
        Session b(module, oneHost ? &shared : nullptr);
        for (Session* s : {&a, &b}) {
            ASSERT_EQ(s->globalSetup(), PF_Err_NONE);
            ASSERT_EQ(s->paramsSetup(), PF_Err_NONE);
        }
        World outA(33, 17, PF_PixelFormat_ARGB64), outB(33, 17, PF_PixelFormat_ARGB64);
        std::thread ta([&] { renderMany(a, in, outA, 1.5, 25); });
        std::thread tb([&] { renderMany(b, in, outB, -0.75, 25); });
        ta.join();
        tb.join();
        EXPECT_TRUE(outA.samePixels(refA));
        EXPECT_TRUE(outB.samePixels(refB));
        for (Session* s : {&a, &b}) {
            EXPECT_EQ(s->globalSetdown(), PF_Err_NONE);
        }
        EXPECT_NO_HOST_LEAKS(a.host());
        EXPECT_NO_HOST_LEAKS(b.host());
    }
}

namespace {

// GlobalSetup, ParamsSetup, one small frame at each depth, GlobalSetdown.
void wholeSession(Session& s, bool& guardsIntact) {
    s.globalSetup();
    s.paramsSetup();
    for (int bits : {8, 16, 32}) {
        World in(7, 5, standin::formatForBits(bits), 4);
        World out(7, 5, standin::formatForBits(bits));
        FrameOptions fo;
        fo.threads = 2;
        s.renderFrame(in, out, fo);
        guardsIntact = guardsIntact && in.guardIntact() && out.guardIntact();
    }
    s.globalSetdown();
}

} // namespace

TEST(SessionApi, EveryHostCallOfASessionWithFramesFailedInTurnLeavesNothingBehind) {
    auto module = LoadPlugin();
    ASSERT_TRUE(module);
    Session probe(module);
    bool intact = true;
    wholeSession(probe, intact);
    ASSERT_TRUE(AllCommandsBalanced(probe));
    std::map<std::string, long> seen;
    std::vector<std::pair<standin::HostCall, long>> points;
    for (const standin::HostCall& c : probe.host().callRecords()) {
        points.emplace_back(c, ++seen[c.name]);
    }
    ASSERT_GE(points.size(), 50u);
    int runs = 0;
    for (const auto& [call, nth] : points) {
        for (standin::FaultKind kind : {standin::FaultKind::Error, standin::FaultKind::NullResult}) {
            SCOPED_TRACE(call.describe() + " #" + std::to_string(nth) +
                         (kind == standin::FaultKind::Error ? " error" : " null"));
            Session s(module);
            s.host().addFault(standin::FaultRule{call.name, kind, 999, nth});
            wholeSession(s, intact);
            EXPECT_EQ(s.host().faultsFired(), 1);
            if (standin::testing::IsGlobalSetdownHandleSuite(call)) {
                EXPECT_TRUE(standin::testing::OnlyGlobalDataLeft(s, sizeof(AEGP_PluginID)));
            } else {
                EXPECT_TRUE(AllCommandsBalanced(s));
                EXPECT_EQ(s.host().liveHandles(), 0);
            }
            ++runs;
        }
    }
    EXPECT_TRUE(intact);
    std::printf("fault injection: %zu host calls, %d sessions\n", points.size(), runs);
}
