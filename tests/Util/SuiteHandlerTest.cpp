// The suite handler and the single-suite helpers against a broker: lazy
// acquisition, one release per acquisition, the 516 failure and the error
// messages.
#include "AEFX_SuiteHelper.h"
#include "AEGP_SuiteHandler.h"
#include "StandInTesting.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using standin::Host;

namespace {

constexpr const char* kAcquireHandle = "SPBasic/AcquireSuite:PF Handle Suite 2";

PF_Err thrownCode(const std::function<void()>& f) {
    try {
        f();
    } catch (PF_Err e) {
        return e;
    }
    return PF_Err_NONE;
}

} // namespace

TEST(SuiteHandler, AcquiresOnFirstUseOnlyAndReleasesOnceAtTheEnd) {
    Host host;
    {
        AEGP_SuiteHandler suites(host.broker());
        EXPECT_EQ(host.acquireCount("PF Handle Suite", 2), 0);
        PF_HandleSuite2* a = suites.HandleSuite2();
        PF_HandleSuite2* b = suites.HandleSuite2();
        EXPECT_EQ(a, b);
        EXPECT_NE(a, nullptr);
        suites.Iterate8Suite1();
        EXPECT_EQ(host.acquireCount("PF Handle Suite", 2), 1);
        EXPECT_EQ(host.acquireCount("PF Iterate8 Suite", 1), 1);
        EXPECT_EQ(host.releaseCount("PF Handle Suite", 2), 0);
    }
    EXPECT_EQ(host.releaseCount("PF Handle Suite", 2), 1);
    EXPECT_EQ(host.releaseCount("PF Iterate8 Suite", 1), 1);
    EXPECT_NO_HOST_LEAKS(host);
}

TEST(SuiteHandler, EveryAccessorReachesItsOwnSuite) {
    Host host;
    AEGP_SuiteHandler suites(host.broker());
    suites.HandleSuite2();
    suites.UtilitySuite7();
    suites.IterateSuite1();
    suites.Iterate8Suite1();
    suites.WorldSuite1();
    suites.WorldSuite2();
    suites.FillMatteSuite2();
    suites.StreamSuite9();
    suites.EffectSuite2();
    suites.PFInterfaceSuite1();
    const std::pair<const char*, int> expected[] = {
        {"PF Handle Suite", 2},   {"AEGP Utility Suite", 7},     {"AEGP Iterate Suite", 1},  {"PF Iterate8 Suite", 1},
        {"PF World Suite", 1},    {"PF World Suite", 2},         {"PF Fill Matte Suite", 2}, {"AEGP Stream Suite", 9},
        {"AEGP Effect Suite", 2}, {"AEGP PF Interface Suite", 1}};
    for (const auto& [name, version] : expected) {
        EXPECT_EQ(host.acquireCount(name, version), 1) << name << " " << version;
    }
    suites.ReleaseAllSuites();
    for (const auto& [name, version] : expected) {
        EXPECT_EQ(host.releaseCount(name, version), 1) << name << " " << version;
    }
}

TEST(SuiteHandler, UnusedHandlerReleasesNothing) {
    Host host;
    { AEGP_SuiteHandler suites(host.broker()); }
    EXPECT_TRUE(host.calls().empty());
}

TEST(SuiteHandler, NullBrokerThrows516) {
    EXPECT_EQ(thrownCode([] { AEGP_SuiteHandler suites(nullptr); }), PF_Err_BAD_CALLBACK_PARAM);
}

TEST(SuiteHandler, RefusedOrEmptySuiteThrows516AndKeepsOthersBalanced) {
    Host host;
    host.nullResult(kAcquireHandle); // success code, no table
    EXPECT_EQ(thrownCode([&] {
                  AEGP_SuiteHandler suites(host.broker());
                  suites.UtilitySuite7();
                  suites.HandleSuite2();
              }),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.releaseCount("AEGP Utility Suite", 7), 1);
    EXPECT_NO_HOST_LEAKS(host);

    Host other;
    other.withholdSuite("PF World Suite", 1);
    EXPECT_EQ(thrownCode([&] {
                  AEGP_SuiteHandler suites(other.broker());
                  suites.WorldSuite1();
              }),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_NO_HOST_LEAKS(other);
}

TEST(SuiteHandler, ExplicitReleaseIsNotRepeatedByTheDestructor) {
    Host host;
    {
        AEGP_SuiteHandler suites(host.broker());
        suites.HandleSuite2();
        EXPECT_EQ(suites.ReleaseSuite("PF Handle Suite", 2), kSPNoError);
    }
    EXPECT_EQ(host.releaseCount("PF Handle Suite", 2), 1);
    EXPECT_NO_HOST_LEAKS(host);
}

// ---- AEFX helpers -------------------------------------------------------------

class AefxHelpers : public ::testing::Test {
protected:
    Host host;
    standin::Effect& effect = host.createEffect();
};

TEST_F(AefxHelpers, AcquireAndReleaseThroughTheBroker) {
    standin::Records rec(host, effect);
    void* suite = nullptr;
    EXPECT_EQ(AEFX_AcquireSuite(&rec.in, &rec.out, "PF World Suite", 2, nullptr, &suite), PF_Err_NONE);
    EXPECT_NE(suite, nullptr);
    EXPECT_EQ(AEFX_ReleaseSuite(&rec.in, &rec.out, "PF World Suite", 2, nullptr), PF_Err_NONE);
    EXPECT_EQ(rec.out.out_flags, 0);
    EXPECT_EQ(rec.out.return_msg[0], 0);
    EXPECT_NO_HOST_LEAKS(host);
}

TEST_F(AefxHelpers, NoBrokerGivesTheDefaultMessagesAndKeepsFlags) {
    standin::Records rec(host, effect);
    rec.in.pica_basicP = nullptr;
    rec.out.out_flags = 0x4;
    void* suite = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(AEFX_AcquireSuite(&rec.in, &rec.out, "PF World Suite", 2, nullptr, &suite), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(suite, nullptr);
    EXPECT_EQ(rec.out.out_flags, 0x104);
    EXPECT_STREQ(rec.out.return_msg, "Not able to acquire AEFX Suite.");

    rec.out.out_flags = 0;
    EXPECT_EQ(AEFX_ReleaseSuite(&rec.in, &rec.out, "PF World Suite", 2, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(rec.out.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_STREQ(rec.out.return_msg, "Not able to release AEFX Suite.");
}

TEST_F(AefxHelpers, EmptySuiteFromTheBrokerIsAFailureWithTheCallersMessage) {
    standin::Records rec(host, effect);
    host.nullResult("SPBasic/AcquireSuite:PF World Suite 2");
    void* suite = nullptr;
    EXPECT_EQ(AEFX_AcquireSuite(&rec.in, &rec.out, "PF World Suite", 2, "Couldn't load suite.", &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(suite, nullptr);
    EXPECT_EQ(rec.out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_STREQ(rec.out.return_msg, "Couldn't load suite.");
}

TEST_F(AefxHelpers, SuccessIsJudgedByThePointerAlone) {
    // A broker that reports an error yet hands out the suite.
    struct Broker {
        static SPErr acquire(const char*, A_long, const void** s) {
            static int table;
            *s = &table;
            return 99;
        }
    };
    SPBasicSuite broker{};
    broker.AcquireSuite = Broker::acquire;
    standin::Records rec(host, effect);
    rec.in.pica_basicP = &broker;
    void* suite = nullptr;
    EXPECT_EQ(AEFX_AcquireSuite(&rec.in, &rec.out, "Any", 1, nullptr, &suite), PF_Err_NONE);
    EXPECT_NE(suite, nullptr);
}

TEST_F(AefxHelpers, MessageTextIsNotAFormat) {
    standin::Records rec(host, effect);
    rec.in.pica_basicP = nullptr;
    void* suite = nullptr;
    AEFX_AcquireSuite(&rec.in, &rec.out, "X", 1, "100%s %n done", &suite);
    EXPECT_STREQ(rec.out.return_msg, "100%s %n done");
}

namespace {
std::vector<std::string> g_order;
bool g_refuse = false;
SPErr recordingAcquire(const char* name, A_long version, const void** s) {
    static int table;
    g_order.push_back(std::string("+") + name + " " + std::to_string(version));
    *s = (g_refuse && std::strcmp(name, "DRAWBOT Surface Suite") == 0) ? nullptr : &table;
    return 0;
}
SPErr recordingRelease(const char* name, A_long version) {
    g_order.push_back(std::string("-") + name + " " + std::to_string(version));
    return 0;
}
} // namespace

TEST_F(AefxHelpers, DrawbotSuitesInRecordOrderStoppingAtTheFirstFailure) {
    SPBasicSuite broker{};
    broker.AcquireSuite = recordingAcquire;
    broker.ReleaseSuite = recordingRelease;
    standin::Records rec(host, effect);
    rec.in.pica_basicP = &broker;

    g_order.clear();
    g_refuse = false;
    DRAWBOT_Suites suites{};
    EXPECT_EQ(AEFX_AcquireDrawbotSuites(&rec.in, &rec.out, &suites), PF_Err_NONE);
    EXPECT_NE(suites.drawbot_suiteP, nullptr);
    EXPECT_NE(suites.path_suiteP, nullptr);
    EXPECT_EQ(AEFX_ReleaseDrawbotSuites(&rec.in, &rec.out), PF_Err_NONE);
    const std::vector<std::string> expected = {
        "+DRAWBOT Draw Suite 1", "+DRAWBOT Supplier Suite 1", "+DRAWBOT Surface Suite 1", "+DRAWBOT Path Suite 1",
        "-DRAWBOT Draw Suite 1", "-DRAWBOT Supplier Suite 1", "-DRAWBOT Surface Suite 1", "-DRAWBOT Path Suite 1"};
    EXPECT_EQ(g_order, expected);

    g_order.clear();
    g_refuse = true;
    DRAWBOT_Suites partial{};
    EXPECT_EQ(AEFX_AcquireDrawbotSuites(&rec.in, &rec.out, &partial), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(g_order.size(), 3u);
    EXPECT_EQ(partial.path_suiteP, nullptr);
    EXPECT_STREQ(rec.out.return_msg, "Not able to acquire AEFX Suite.");

    rec.in.pica_basicP = nullptr;
    rec.out.return_msg[0] = 0;
    EXPECT_EQ(AEFX_ReleaseDrawbotSuites(&rec.in, &rec.out), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(rec.out.return_msg, "Not able to release AEFX Suite.");
}
