// The iterate suites: the thread count a host reports, and iterate_generic on
// the worker pool (each index exactly once, all done before it returns).
#include "StandInTesting.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using standin::Host;

namespace {

struct Tally {
    std::vector<std::atomic<int>> runs;
    std::atomic<int> inFlight{0};
    std::atomic<int> maxThreadIndex{-1};
    explicit Tally(int n) : runs(n) {}
};

PF_Err countIndex(void* refcon, A_long threadIndex, A_long i, A_long) {
    auto* t = static_cast<Tally*>(refcon);
    t->runs[i].fetch_add(1);
    int prev = t->maxThreadIndex.load();
    while (threadIndex > prev && !t->maxThreadIndex.compare_exchange_weak(prev, threadIndex)) {
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    return PF_Err_NONE;
}

PF_Err failAtSeven(void*, A_long, A_long i, A_long) {
    return i == 7 ? 4321 : PF_Err_NONE;
}

PF_Err throwAtThree(void*, A_long, A_long i, A_long) {
    if (i == 3) {
        throw std::runtime_error("callback failure");
    }
    return PF_Err_NONE;
}

// Calls back into the host from a worker: the current host must be set there.
PF_Err allocateOnWorker(void* refcon, A_long, A_long, A_long) {
    Host* host = Host::current();
    if (host != static_cast<Host*>(refcon)) {
        return 1;
    }
    const void* s = nullptr;
    host->broker()->AcquireSuite("PF Handle Suite", 2, &s);
    auto* hs = static_cast<const PF_HandleSuite2*>(s);
    PF_Handle h = hs->host_new_handle(8);
    hs->host_dispose_handle(h);
    host->broker()->ReleaseSuite("PF Handle Suite", 2);
    return h ? PF_Err_NONE : 2;
}

const PF_Iterate8Suite1* iterateSuite(Host& host) {
    const void* s = nullptr;
    host.broker()->AcquireSuite("PF Iterate8 Suite", 1, &s);
    return static_cast<const PF_Iterate8Suite1*>(s);
}

} // namespace

TEST(Iterate, EveryIndexRunsExactlyOnceOnThePool) {
    Host host;
    Host::Scope scope(host);
    const PF_Iterate8Suite1* it = iterateSuite(host);
    ASSERT_NE(it, nullptr);
    for (int workers : {1, 3, 8}) {
        for (int n : {0, 1, 5, 64}) {
            SCOPED_TRACE(std::to_string(workers) + " workers, " + std::to_string(n) + " iterations");
            host.setWorkerThreads(workers);
            Tally t(n);
            EXPECT_EQ(it->iterate_generic(n, &t, countIndex), PF_Err_NONE);
            for (int i = 0; i < n; ++i) {
                EXPECT_EQ(t.runs[i].load(), 1) << "index " << i;
            }
            EXPECT_LT(t.maxThreadIndex.load(), workers);
            const std::vector<int> counts = host.lastIterationCounts();
            EXPECT_EQ(counts, std::vector<int>(n, 1));
            EXPECT_LE(host.lastIterationThreads(), workers);
        }
    }
    host.broker()->ReleaseSuite("PF Iterate8 Suite", 1);
    EXPECT_NO_HOST_LEAKS(host);
}

TEST(Iterate, CallbackErrorsAndExceptionsComeBackAsCodes) {
    Host host;
    Host::Scope scope(host);
    host.setWorkerThreads(4);
    const PF_Iterate8Suite1* it = iterateSuite(host);
    EXPECT_EQ(it->iterate_generic(16, nullptr, failAtSeven), 4321);
    EXPECT_EQ(it->iterate_generic(16, nullptr, throwAtThree), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(host.lastIterationCounts(), std::vector<int>(16, 1));
    EXPECT_EQ(it->iterate_generic(-1, nullptr, failAtSeven), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(it->iterate_generic(4, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    host.broker()->ReleaseSuite("PF Iterate8 Suite", 1);
    // The exception is a finding against the callback.
    EXPECT_EQ(host.leaks().misuse.size(), 1u);
}

TEST(Iterate, WorkersSeeTheirHost) {
    Host other; // the most recent host: a worker must not fall back to it
    Host host;
    Host::Scope scope(host);
    host.setWorkerThreads(3);
    const PF_Iterate8Suite1* it = iterateSuite(host);
    EXPECT_EQ(it->iterate_generic(12, &host, allocateOnWorker), PF_Err_NONE);
    host.broker()->ReleaseSuite("PF Iterate8 Suite", 1);
    EXPECT_NO_HOST_LEAKS(host);
    EXPECT_EQ(host.callCount("PF Handle Suite 2/host_new_handle"), 12);
}

TEST(Iterate, ReportedThreadCountIsTheConfiguredOne) {
    Host host;
    Host::Scope scope(host);
    const void* s = nullptr;
    host.broker()->AcquireSuite("AEGP Iterate Suite", 1, &s);
    auto* is = static_cast<const AEGP_IterateSuite1*>(s);
    A_long n = -1;
    host.setWorkerThreads(6);
    EXPECT_EQ(is->AEGP_GetNumThreads(&n), PF_Err_NONE);
    EXPECT_EQ(n, 6);
    for (int reported : {0, -3, 64}) {
        host.setReportedThreads(reported);
        EXPECT_EQ(is->AEGP_GetNumThreads(&n), PF_Err_NONE);
        EXPECT_EQ(n, reported);
    }
    EXPECT_EQ(host.workerThreads(), 6);
    host.failCall("AEGP Iterate Suite 1/AEGP_GetNumThreads", 9);
    EXPECT_EQ(is->AEGP_GetNumThreads(&n), 9);
    host.broker()->ReleaseSuite("AEGP Iterate Suite", 1);
}
