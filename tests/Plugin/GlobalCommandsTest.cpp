// The module's global commands as a host sees them: About, GlobalSetup,
// GlobalSetdown, ParamsSetup, the dispatch of unhandled commands, their
// failure paths and the balance of host resources after each.
#include "StandInTesting.h"

#include <cstring>
#include <map>
#include <new>
#include <stdexcept>

using standin::Host;
using standin::Session;
using standin::testing::AllCommandsBalanced;
using standin::testing::LoadPlugin;

namespace {

constexpr const char* kAcquireUtility = "SPBasic/AcquireSuite:AEGP Utility Suite 7";

std::uint32_t bits(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

long acquisitions(const Host& host) {
    long n = 0;
    for (const std::string& c : host.calls()) {
        n += c.rfind("SPBasic/AcquireSuite:", 0) == 0 ? 1 : 0;
    }
    return n;
}

class GlobalCommands : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadPlugin();
        ASSERT_TRUE(module_);
        session_ = std::make_unique<Session>(module_);
    }
    Host& host() { return session_->host(); }
    Session& s() { return *session_; }

    std::shared_ptr<standin::Module> module_;
    std::unique_ptr<Session> session_;
};

} // namespace

TEST_F(GlobalCommands, AboutWritesNameVersionAndNoticeWithoutSuites) {
    std::string text;
    EXPECT_EQ(s().about(&text), PF_Err_NONE);
    const std::string head = "MorvekExposure, v1.0.0\r";
    ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
    const std::string notice = text.substr(head.size());
    EXPECT_FALSE(notice.empty());
    EXPECT_EQ(notice.find('\r'), std::string::npos);
    EXPECT_EQ(notice.find('\n'), std::string::npos);
    EXPECT_EQ(acquisitions(host()), 0);
    EXPECT_EQ(s().lastOutData().global_data, nullptr);
    EXPECT_TRUE(AllCommandsBalanced(s()));
}

TEST_F(GlobalCommands, GlobalSetupReportsVersionFlagsAndRegistersWithGlobalHandle) {
    s().beforeCommand = [](PF_Cmd, PF_InData&, PF_OutData& out) {
        out.out_flags = 0x1; // bits the host already set stay set
        out.out_flags2 = 0x2;
    };
    ASSERT_EQ(s().globalSetup(), PF_Err_NONE);
    const PF_OutData& out = s().lastOutData();
    EXPECT_EQ(out.my_version, 525825u);
    // major 1 in bits 19+, minor 0, fix 0, stage 3 (release), build 1
    EXPECT_EQ(out.my_version >> 19, 1u);
    EXPECT_EQ((out.my_version >> 15) & 0xF, 0u);
    EXPECT_EQ((out.my_version >> 11) & 0xF, 0u);
    EXPECT_EQ((out.my_version >> 9) & 0x3, 3u);
    EXPECT_EQ(out.my_version & 0x1FF, 1u);
    EXPECT_EQ(out.out_flags, 0x02000001);
    EXPECT_EQ(out.out_flags2, 0x1402);

    ASSERT_NE(out.global_data, nullptr);
    EXPECT_EQ(host().handleSize(out.global_data), 4u);
    const auto regs = host().registrations();
    ASSERT_EQ(regs.size(), 1u);
    EXPECT_EQ(regs[0].second, "Error!");
    AEGP_PluginID stored;
    std::memcpy(&stored, host().handleData(out.global_data), sizeof stored);
    EXPECT_EQ(stored, regs[0].first);

    EXPECT_EQ(host().acquireCount("PF Handle Suite", 2), 1);
    EXPECT_EQ(host().releaseCount("PF Handle Suite", 2), 1);
    EXPECT_EQ(host().acquireCount("AEGP Utility Suite", 7), 1);
    EXPECT_EQ(host().releaseCount("AEGP Utility Suite", 7), 1);
    // The global handle is the only live handle, and the host holds it.
    EXPECT_EQ(host().liveHandles(), 1);
    EXPECT_TRUE(AllCommandsBalanced(s()));

    EXPECT_EQ(s().globalSetdown(), PF_Err_NONE);
    EXPECT_EQ(host().liveHandles(), 0);
    EXPECT_TRUE(AllCommandsBalanced(s()));
}

TEST_F(GlobalCommands, GlobalSetdownWithoutGlobalDataAcquiresNothing) {
    EXPECT_EQ(s().globalSetdown(), PF_Err_NONE);
    EXPECT_EQ(acquisitions(host()), 0);
    EXPECT_TRUE(AllCommandsBalanced(s()));
}

TEST_F(GlobalCommands, ParamsSetupAddsTwoFloatSlidersFieldByField) {
    ASSERT_EQ(s().paramsSetup(), PF_Err_NONE);
    EXPECT_EQ(s().lastOutData().num_params, 3);
    EXPECT_EQ(acquisitions(host()), 0);
    ASSERT_EQ(s().effect().addedParams(), 2);

    struct Expected {
        const char* name;
        A_long id;
        std::uint32_t validMin, validMax, sliderMin, sliderMax, dephault;
        double value;
    };
    const Expected expected[] = {
        {"Exposure", 1, 0xC2C80000, 0x42C80000, 0xC0800000, 0x40800000, 0x00000000, 0.0},
        {"Gamma Correction", 2, 0x3DCCCCCD, 0x41200000, 0x3DCCCCCD, 0x41200000, 0x3F800000, 1.0},
    };
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(expected[i].name);
        const PF_ParamDef* d = s().effect().paramDef(i + 1);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->param_type, PF_Param_FLOAT_SLIDER);
        EXPECT_STREQ(d->name, expected[i].name);
        EXPECT_EQ(d->uu.id, expected[i].id);
        EXPECT_EQ(d->ui_flags, 0);
        EXPECT_EQ(d->ui_width, 0);
        EXPECT_EQ(d->ui_height, 0);
        EXPECT_EQ(d->flags, 0);
        const PF_FloatSliderDef& fs = d->u.fs_d;
        EXPECT_EQ(bits(fs.valid_min), expected[i].validMin);
        EXPECT_EQ(bits(fs.valid_max), expected[i].validMax);
        EXPECT_EQ(bits(fs.slider_min), expected[i].sliderMin);
        EXPECT_EQ(bits(fs.slider_max), expected[i].sliderMax);
        EXPECT_EQ(bits(fs.dephault), expected[i].dephault);
        EXPECT_EQ(fs.value, expected[i].value);
        EXPECT_EQ(fs.precision, 2);
        EXPECT_EQ(fs.display_flags, 0);
        EXPECT_EQ(bits(fs.curve_tolerance), 0x3D4CCCCDu);
        EXPECT_EQ(fs.phase, 0.0);
        EXPECT_EQ(fs.fs_flags, 0);
        EXPECT_EQ(fs.value_desc[0], 0);
    }
    EXPECT_TRUE(AllCommandsBalanced(s()));
}

TEST_F(GlobalCommands, AddParamFailingOnExposureStopsBeforeGamma) {
    host().failCall("inter.add_param", 1234, 1);
    EXPECT_EQ(s().paramsSetup(), 1234);
    EXPECT_EQ(s().effect().addedParams(), 0);
    EXPECT_EQ(host().callCount("inter.add_param"), 1);
    EXPECT_EQ(s().lastOutData().num_params, 0);
}

TEST_F(GlobalCommands, AddParamFailingOnGammaLeavesNumParamsUnwritten) {
    host().failCall("inter.add_param", 77, 2);
    EXPECT_EQ(s().paramsSetup(), 77);
    EXPECT_EQ(s().effect().addedParams(), 1);
    EXPECT_EQ(s().lastOutData().num_params, 0);
}

TEST_F(GlobalCommands, UnhandledCommandsAnswerZeroAndTouchNothing) {
    PF_Pixel px[4] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
    PF_LayerDef output{};
    output.data = px;
    output.width = 2;
    output.height = 2;
    output.rowbytes = 8;
    for (PF_Cmd cmd : std::vector<PF_Cmd>{PF_Cmd_UNUSED_0, PF_Cmd_SEQUENCE_SETUP, PF_Cmd_FRAME_SETUP, PF_Cmd_RENDER, 22,
                                          25, 1000, -1}) {
        SCOPED_TRACE(cmd);
        EXPECT_EQ(s().command(cmd, nullptr, &output), PF_Err_NONE);
        EXPECT_EQ(s().lastOutData().my_version, 0u);
        EXPECT_EQ(s().lastOutData().out_flags, 0);
        EXPECT_EQ(s().lastOutData().return_msg[0], 0);
    }
    EXPECT_EQ(px[3].blue, 16);
    EXPECT_EQ(px[0].alpha, 1);
    EXPECT_EQ(acquisitions(host()), 0);
}

// ---- GlobalSetup failure paths ---------------------------------------------

TEST_F(GlobalCommands, NullBrokerFailsWith516AfterVersionAndFlags) {
    s().setBrokerAvailable(false);
    EXPECT_EQ(s().globalSetup(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(s().lastOutData().my_version, 525825u);
    EXPECT_EQ(s().lastOutData().out_flags, 0x02000000);
    EXPECT_EQ(s().lastOutData().out_flags2, 0x1400);
    EXPECT_EQ(s().lastOutData().global_data, nullptr);
    EXPECT_EQ(host().liveHandles(), 0);
    EXPECT_TRUE(AllCommandsBalanced(s()));
}

TEST_F(GlobalCommands, RefusedHandleFailsWith512) {
    host().nullResult("PF Handle Suite 2/host_new_handle");
    EXPECT_EQ(s().globalSetup(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(s().lastOutData().global_data, nullptr);
    EXPECT_EQ(host().liveHandles(), 0);
    EXPECT_EQ(host().callCount(kAcquireUtility), 0);
    EXPECT_TRUE(AllCommandsBalanced(s()));
}

TEST_F(GlobalCommands, LockFailureDisposesTheHandleAndRunsWithoutGlobalData) {
    host().nullResult("PF Handle Suite 2/host_lock_handle");
    EXPECT_EQ(s().globalSetup(), PF_Err_NONE);
    EXPECT_EQ(s().lastOutData().global_data, nullptr);
    EXPECT_EQ(host().callCount("AEGP Utility Suite 7/AEGP_RegisterWithAEGP"), 0);
    EXPECT_EQ(host().callCount("PF Handle Suite 2/host_unlock_handle"), 1);
    EXPECT_EQ(host().liveHandles(), 0);
    EXPECT_TRUE(AllCommandsBalanced(s()));
    EXPECT_EQ(s().globalSetdown(), PF_Err_NONE);
}

TEST_F(GlobalCommands, RegistrationFailureReturnsItsCodeWithoutLeak) {
    host().failCall("AEGP Utility Suite 7/AEGP_RegisterWithAEGP", 4242);
    EXPECT_EQ(s().globalSetup(), 4242);
    EXPECT_EQ(s().lastOutData().global_data, nullptr);
    EXPECT_EQ(host().liveHandles(), 0);
    EXPECT_TRUE(AllCommandsBalanced(s()));
}

TEST_F(GlobalCommands, MissingSuitesReturn516WithoutLeak) {
    for (const char* suite : {"PF Handle Suite", "AEGP Utility Suite"}) {
        SCOPED_TRACE(suite);
        Session fresh(module_);
        fresh.host().withholdSuite(suite, std::string(suite) == "PF Handle Suite" ? 2 : 7);
        EXPECT_EQ(fresh.globalSetup(), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(fresh.lastOutData().global_data, nullptr);
        EXPECT_EQ(fresh.host().liveHandles(), 0);
        EXPECT_TRUE(AllCommandsBalanced(fresh));
    }
}

TEST_F(GlobalCommands, EveryCallOfASessionFailedInTurnLeavesNothingBehind) {
    // Record one clean session, then fail each recorded call once.
    {
        Session probe(module_);
        probe.globalSetup();
        probe.paramsSetup();
        probe.globalSetdown();
        ASSERT_TRUE(AllCommandsBalanced(probe));
        std::map<std::string, long> seen;
        std::vector<std::pair<standin::HostCall, long>> points;
        for (const standin::HostCall& c : probe.host().callRecords()) {
            points.emplace_back(c, ++seen[c.name]);
        }
        ASSERT_GE(points.size(), 8u);
        for (const auto& [call, nth] : points) {
            for (standin::FaultKind kind : {standin::FaultKind::Error, standin::FaultKind::NullResult}) {
                SCOPED_TRACE(call.describe() + " #" + std::to_string(nth));
                Session s2(module_);
                s2.host().addFault(standin::FaultRule{call.name, kind, 999, nth});
                s2.globalSetup();
                s2.paramsSetup();
                s2.globalSetdown();
                EXPECT_EQ(s2.host().faultsFired(), 1);
                if (standin::testing::IsGlobalSetdownHandleSuite(call)) {
                    EXPECT_TRUE(standin::testing::OnlyGlobalDataLeft(s2, sizeof(AEGP_PluginID)));
                } else {
                    EXPECT_TRUE(AllCommandsBalanced(s2));
                    EXPECT_EQ(s2.host().liveHandles(), 0);
                }
            }
        }
    }
}

// ---- The exception boundary --------------------------------------------------

namespace {
int g_throwKind = 0;
PF_Err ThrowingAddParam(PF_ProgPtr, PF_ParamIndex, PF_ParamDefPtr) {
    switch (g_throwKind) {
    case 0:
        throw std::bad_alloc();
    case 1:
        throw std::runtime_error("boom");
    case 2:
        throw static_cast<PF_Err>(5555);
    default:
        throw 3.5;
    }
}
} // namespace

TEST_F(GlobalCommands, EntryPointTurnsEveryExceptionIntoACode) {
    s().beforeCommand = [](PF_Cmd, PF_InData& in, PF_OutData&) { in.inter.add_param = ThrowingAddParam; };
    const PF_Err expected[] = {PF_Err_OUT_OF_MEMORY, PF_Err_INTERNAL_STRUCT_DAMAGED, 5555,
                               PF_Err_INTERNAL_STRUCT_DAMAGED};
    for (int k = 0; k < 4; ++k) {
        g_throwKind = k;
        EXPECT_EQ(s().paramsSetup(), expected[k]) << "kind " << k;
    }
    // Nothing reached the host's own exception guard.
    EXPECT_TRUE(host().leaks().misuse.empty()) << host().leaks().describe();
}

TEST_F(GlobalCommands, NullRecordsAreRefused) {
    const PF_EntryPointFunc entry = module_->entryPoint();
    PF_OutData out{};
    EXPECT_EQ(entry(PF_Cmd_ABOUT, nullptr, &out, nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(entry(PF_Cmd_GLOBAL_SETUP, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(entry(PF_Cmd_RENDER, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_NONE);
}
