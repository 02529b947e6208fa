// The module's own memory allocations failed in turn: each one throws
// std::bad_alloc where the module's code made it, and the exception must stop
// at the boundary the host called (the entry point, or the per-band callback
// on a worker thread), turning into an error code with every host resource
// given back and the output world untouched.
//
// The program replaces the global operator new; it fails only allocations
// whose caller lies inside the loaded module, and only when a test arms it.
// Sanitizer runtimes bring their own operator new, so those builds skip this.
#include "StandInTesting.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <dlfcn.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MORVEK_OWN_OPERATOR_NEW 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define MORVEK_OWN_OPERATOR_NEW 0
#endif
#endif
#ifndef MORVEK_OWN_OPERATOR_NEW
#define MORVEK_OWN_OPERATOR_NEW 1
#endif

#if MORVEK_OWN_OPERATOR_NEW

namespace {

std::atomic<void*> g_moduleBase{nullptr}; // load address of the module; null: fail nothing
std::atomic<long> g_countdown{-1};        // module allocations to let through before one fails; -1: none
std::atomic<long> g_moduleAllocations{0};
std::atomic<long> g_failedOnWorker{0}; // failures thrown on a thread other than the arming one
thread_local bool t_arming = false;

bool fromModule(void* caller) {
    void* base = g_moduleBase.load(std::memory_order_relaxed);
    if (base == nullptr) {
        return false;
    }
    Dl_info info;
    return dladdr(caller, &info) != 0 && info.dli_fbase == base;
}

void* allocate(std::size_t size, void* caller) {
    if (fromModule(caller)) {
        g_moduleAllocations.fetch_add(1, std::memory_order_relaxed);
        long left = g_countdown.load(std::memory_order_relaxed);
        while (left >= 0 && !g_countdown.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
        }
        if (left == 0) {
            if (!t_arming) {
                g_failedOnWorker.fetch_add(1, std::memory_order_relaxed);
            }
            throw std::bad_alloc();
        }
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size, __builtin_return_address(0));
}
void* operator new[](std::size_t size) {
    return allocate(size, __builtin_return_address(0));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size, __builtin_return_address(0));
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size, __builtin_return_address(0));
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using standin::FrameOptions;
using standin::Session;
using standin::World;

// Arms the failure of the module's allocation number `n` (0-based) from now.
struct FailAllocation {
    explicit FailAllocation(long n) {
        t_arming = true;
        g_countdown.store(n);
    }
    ~FailAllocation() {
        g_countdown.store(-1);
        t_arming = false;
    }
};

struct Outcome {
    PF_Err code;
    bool untouched;
};

// GlobalSetup, ParamsSetup, a frame at each depth, GlobalSetdown.
std::vector<Outcome> session(Session& s) {
    std::vector<Outcome> r;
    r.push_back({s.globalSetup(), true});
    r.push_back({s.paramsSetup(), true});
    s.setSlider(1, 0.75);
    s.setSlider(2, 1.8);
    for (int bits : {8, 16, 32}) {
        World in(11, 6, standin::formatForBits(bits), 32);
        World out(11, 6, standin::formatForBits(bits));
        in.fillBytes(0x21);
        out.fillRandom(static_cast<std::uint32_t>(bits));
        std::vector<std::uint8_t> before(out.bytes(), out.bytes() + out.byteSize());
        FrameOptions fo;
        fo.threads = 3;
        const PF_Err code = s.renderFrame(in, out, fo);
        r.push_back({code, code == PF_Err_NONE || std::memcmp(before.data(), out.bytes(), before.size()) == 0});
    }
    r.push_back({s.globalSetdown(), true});
    return r;
}

} // namespace

TEST(AllocationFailure, EveryAllocationOfTheModuleFailedInTurnBecomesOutOfMemory) {
    auto module = standin::testing::LoadPlugin();
    ASSERT_TRUE(module);
    Dl_info info;
    ASSERT_NE(dladdr(reinterpret_cast<void*>(module->entryPoint()), &info), 0);
    g_moduleBase.store(info.dli_fbase);

    long total = 0;
    {
        Session probe(module);
        const long before = g_moduleAllocations.load();
        for (const Outcome& o : session(probe)) {
            ASSERT_EQ(o.code, PF_Err_NONE);
        }
        total = g_moduleAllocations.load() - before;
    }
    ASSERT_GT(total, 0) << "the module allocates nothing through operator new";

    int failedSteps = 0;
    for (long n = 0; n < total; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        Session s(module);
        std::vector<Outcome> got;
        {
            FailAllocation arm(n);
            got = session(s);
            EXPECT_EQ(g_countdown.load(), -1) << "the allocation did not happen";
        }
        int failures = 0;
        for (const Outcome& o : got) {
            EXPECT_TRUE(o.untouched) << "a failed frame wrote to its output";
            if (o.code != PF_Err_NONE) {
                ++failures;
                EXPECT_EQ(o.code, PF_Err_OUT_OF_MEMORY);
            }
        }
        // The bad_alloc either ended one step with "out of memory" or hit a
        // band on a worker, whose failure the driver reports the same way.
        EXPECT_LE(failures, 1);
        failedSteps += failures;
        EXPECT_TRUE(standin::testing::AllCommandsBalanced(s));
        EXPECT_NO_HOST_LEAKS(s.host());
    }
    g_moduleBase.store(nullptr);
    std::printf("allocation failure: %ld allocations of the module failed in turn, %d steps returned out of memory, "
                "%ld failures on worker threads\n",
                total, failedSteps, g_failedOnWorker.load());
}

#else

TEST(AllocationFailure, EveryAllocationOfTheModuleFailedInTurnBecomesOutOfMemory) {
    GTEST_SKIP() << "sanitizer builds keep their own operator new";
}

#endif
