// The stand-in host's own behaviour: the broker, handles, fault injection,
// the call log, leak reports, text bounds and several hosts at once.
#include "StandInTesting.h"

#include <atomic>
#include <cstring>
#include <thread>

using standin::FaultKind;
using standin::FaultRule;
using standin::Host;

namespace {

template <class Suite> const Suite* acquire(Host& host, const char* name, int version) {
    const void* s = nullptr;
    host.broker()->AcquireSuite(name, version, &s);
    return static_cast<const Suite*>(s);
}

} // namespace

TEST(Broker, ServesExactNamesAndVersionsAndCountsBothWays) {
    Host host;
    Host::Scope scope(host);
    const SPBasicSuite* b = host.broker();
    const void* s = nullptr;
    EXPECT_EQ(b->AcquireSuite("PF Handle Suite", 2, &s), kSPNoError);
    EXPECT_NE(s, nullptr);
    const void* wrongVersion = &host;
    EXPECT_NE(b->AcquireSuite("PF Handle Suite", 1, &wrongVersion), kSPNoError);
    EXPECT_EQ(wrongVersion, nullptr);
    const void* wrongCase = nullptr;
    EXPECT_NE(b->AcquireSuite("PF handle Suite", 2, &wrongCase), kSPNoError);
    EXPECT_EQ(wrongCase, nullptr);
    EXPECT_EQ(host.acquireCount("PF Handle Suite", 2), 1);

    EXPECT_FALSE(host.leaks().clean());
    EXPECT_EQ(host.leaks().unreleasedSuites.size(), 1u);
    EXPECT_EQ(b->ReleaseSuite("PF Handle Suite", 2), kSPNoError);
    EXPECT_NO_HOST_LEAKS(host);
    // One release too many is reported.
    EXPECT_NE(b->ReleaseSuite("PF Handle Suite", 2), kSPNoError);
    EXPECT_FALSE(host.leaks().misuse.empty());
}

TEST(Broker, WithheldSuiteIsRefusedUntilGivenBack) {
    Host host;
    Host::Scope scope(host);
    host.withholdSuite("AEGP Iterate Suite", 1);
    EXPECT_EQ(acquire<AEGP_IterateSuite1>(host, "AEGP Iterate Suite", 1), nullptr);
    host.withholdSuite("AEGP Iterate Suite", 1, false);
    EXPECT_NE(acquire<AEGP_IterateSuite1>(host, "AEGP Iterate Suite", 1), nullptr);
    host.broker()->ReleaseSuite("AEGP Iterate Suite", 1);
    EXPECT_NO_HOST_LEAKS(host);
}

TEST(Handles, LiveCountValidationAndResize) {
    Host host;
    Host::Scope scope(host);
    auto* hs = acquire<PF_HandleSuite2>(host, "PF Handle Suite", 2);
    ASSERT_NE(hs, nullptr);
    PF_Handle h = hs->host_new_handle(16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(host.liveHandles(), 1);
    EXPECT_EQ(hs->host_get_handle_size(h), 16u);
    auto* p = static_cast<unsigned char*>(hs->host_lock_handle(h));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(p[i], 0);
        p[i] = static_cast<unsigned char>(i + 1);
    }
    hs->host_unlock_handle(h);
    EXPECT_EQ(hs->host_resize_handle(32, &h), PF_Err_NONE);
    EXPECT_EQ(hs->host_get_handle_size(h), 32u);
    auto* q = static_cast<unsigned char*>(hs->host_lock_handle(h));
    EXPECT_EQ(q[15], 16);
    EXPECT_EQ(q[31], 0);

    // Leaks and holds.
    host.broker()->ReleaseSuite("PF Handle Suite", 2);
    EXPECT_EQ(host.leaks().liveHandles, 1);
    host.holdHandle(h);
    EXPECT_NO_HOST_LEAKS(host);
    host.releaseHold(h);

    hs->host_dispose_handle(h);
    EXPECT_EQ(host.liveHandles(), 0);
    EXPECT_NO_HOST_LEAKS(host);
    // Using a disposed handle is misuse, answered with nothing.
    EXPECT_EQ(hs->host_lock_handle(h), nullptr);
    hs->host_dispose_handle(h);
    EXPECT_EQ(host.leaks().misuse.size(), 2u) << host.leaks().describe();
}

TEST(Faults, FireOnTheNthOccurrenceOrEveryTime) {
    Host host;
    Host::Scope scope(host);
    auto* hs = acquire<PF_HandleSuite2>(host, "PF Handle Suite", 2);
    host.nullResult("PF Handle Suite 2/host_new_handle", 2);
    PF_Handle a = hs->host_new_handle(4);
    PF_Handle b = hs->host_new_handle(4);
    PF_Handle c = hs->host_new_handle(4);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(c, nullptr);
    EXPECT_EQ(host.faultsFired(), 1);
    EXPECT_EQ(host.callCount("PF Handle Suite 2/host_new_handle"), 3);

    auto* us = acquire<AEGP_UtilitySuite7>(host, "AEGP Utility Suite", 7);
    host.failCall("AEGP Utility Suite 7/AEGP_RegisterWithAEGP", 321);
    AEGP_PluginID id = -5;
    EXPECT_EQ(us->AEGP_RegisterWithAEGP(nullptr, "x", &id), 321);
    EXPECT_EQ(us->AEGP_RegisterWithAEGP(nullptr, "x", &id), 321);
    EXPECT_EQ(id, -5);
    host.clearFaults();
    EXPECT_EQ(us->AEGP_RegisterWithAEGP(nullptr, "x", &id), PF_Err_NONE);
    EXPECT_NE(id, -5);

    // A suite acquisition can fail with a code or come back empty.
    host.addFault(FaultRule{"SPBasic/AcquireSuite:PF World Suite 2", FaultKind::Error, 77, 0});
    const void* s = &host;
    EXPECT_EQ(host.broker()->AcquireSuite("PF World Suite", 2, &s), 77);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(host.acquireCount("PF World Suite", 2), 0);

    hs->host_dispose_handle(a);
    hs->host_dispose_handle(c);
    host.broker()->ReleaseSuite("PF Handle Suite", 2);
    host.broker()->ReleaseSuite("AEGP Utility Suite", 7);
    EXPECT_NO_HOST_LEAKS(host);
}

TEST(Faults, CallLogNamesEveryCallInOrder) {
    Host host;
    Host::Scope scope(host);
    auto* hs = acquire<PF_HandleSuite2>(host, "PF Handle Suite", 2);
    PF_Handle h = hs->host_new_handle(1);
    hs->host_dispose_handle(h);
    host.broker()->ReleaseSuite("PF Handle Suite", 2);
    const std::vector<std::string> expected = {
        "SPBasic/AcquireSuite:PF Handle Suite 2", "PF Handle Suite 2/host_new_handle",
        "PF Handle Suite 2/host_dispose_handle", "SPBasic/ReleaseSuite:PF Handle Suite 2"};
    EXPECT_EQ(host.calls(), expected);
    host.clearCalls();
    EXPECT_TRUE(host.calls().empty());
    EXPECT_EQ(host.callCount("PF Handle Suite 2/host_new_handle"), 0);
}

TEST(Text, AnsiCallbacksAreBoundedToTheBufferTheHostKnows) {
    Host host;
    standin::Effect& effect = host.createEffect();
    standin::Records rec(host, effect);
    const std::string longText(400, 'a');
    std::memset(rec.out.return_msg, 'z', sizeof rec.out.return_msg);
    const A_long n = rec.in.utils->ansi.sprintf(rec.out.return_msg, "%s", longText.c_str());
    EXPECT_EQ(n, 255);
    EXPECT_EQ(std::strlen(rec.out.return_msg), 255u);

    // An unknown destination is taken as a parameter name: 32 bytes.
    char name[64];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(rec.in.utils->ansi.strcpy(name, longText.c_str()), name);
    EXPECT_EQ(std::strlen(name), 31u);
    EXPECT_EQ(name[32], 'x');
    EXPECT_EQ(name[63], 'x');
}

TEST(Hosts, SeveralHostsOnSeveralThreadsKeepTheirOwnBooks) {
    Host first;
    Host second;
    std::atomic<int> failures{0};
    auto work = [&failures](Host& host, int handles) {
        Host::Scope scope(host);
        auto* hs = acquire<PF_HandleSuite2>(host, "PF Handle Suite", 2);
        std::vector<PF_Handle> hv;
        for (int i = 0; i < handles; ++i) {
            hv.push_back(hs->host_new_handle(8));
        }
        if (host.liveHandles() != handles) {
            ++failures;
        }
        for (PF_Handle h : hv) {
            hs->host_dispose_handle(h);
        }
        host.broker()->ReleaseSuite("PF Handle Suite", 2);
    };
    std::thread a([&] { work(first, 50); });
    std::thread b([&] { work(second, 70); });
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(first.callCount("PF Handle Suite 2/host_new_handle"), 50);
    EXPECT_EQ(second.callCount("PF Handle Suite 2/host_new_handle"), 70);
    EXPECT_NO_HOST_LEAKS(first);
    EXPECT_NO_HOST_LEAKS(second);
}
