// The session API with the real module: frames rendered through it, the
// host's checks around each command, and its refusal of mismatched worlds.
#include "StandInTesting.h"

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
