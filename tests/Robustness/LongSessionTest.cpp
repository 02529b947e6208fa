// One session rendering many frames at alternating depths, settings and
// thread counts: the host's live resources stay as they were after a warm-up,
// and so, within 1 MB, does the process's resident memory.
//
// CI runs 1,000 frames; MORVEK_LONG_SESSION_FRAMES=10000 runs the full form.
#include "StandInTesting.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

using standin::FrameOptions;
using standin::Session;
using standin::World;

// Resident memory in bytes, from /proc/self/statm (second field, in pages).
long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

int framesWanted() {
    const char* env = std::getenv("MORVEK_LONG_SESSION_FRAMES");
    const int n = env != nullptr ? std::atoi(env) : 0;
    return n > 0 ? n : 1000;
}

// Sanitizer builds keep freed memory in quarantine and grow their shadow
// memory; resident size says nothing about leaks there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMeasureResident = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kMeasureResident = false;
#else
constexpr bool kMeasureResident = true;
#endif
#else
constexpr bool kMeasureResident = true;
#endif

struct Counts {
    long handles, worlds, refs, streams, values, params;
    bool operator==(const Counts& o) const {
        return handles == o.handles && worlds == o.worlds && refs == o.refs && streams == o.streams &&
               values == o.values && params == o.params;
    }
};

Counts countsOf(const standin::Host& h) {
    return Counts{h.liveHandles(), h.liveWorlds(),       h.liveEffectRefs(),
                  h.liveStreams(), h.liveStreamValues(), h.checkedOutParams()};
}

} // namespace

TEST(LongSession, ThousandsOfFramesKeepResourcesAndMemoryConstant) {
    auto module = standin::testing::LoadPlugin();
    ASSERT_TRUE(module);
    Session s(module);
    s.host().setRecording(false);
    ASSERT_EQ(s.globalSetup(), PF_Err_NONE);
    ASSERT_EQ(s.paramsSetup(), PF_Err_NONE);

    // One input and output per depth, made once: the frames reuse them.
    std::vector<std::unique_ptr<World>> ins, outs;
    for (int bits : {8, 16, 32}) {
        ins.push_back(std::make_unique<World>(24, 9, standin::formatForBits(bits), 8));
        outs.push_back(std::make_unique<World>(24, 9, standin::formatForBits(bits)));
        ins.back()->fillBytes(0x3c); // in range at every depth
    }
    const double exposures[] = {-2.0, 0.0, 0.5, 1.75, -0.25};
    const double gammas[] = {1.0, 2.2, 0.5, 1.0, 3.0, 0.8, 1.6};

    const int frames = framesWanted();
    const int warmUp = frames < 1000 ? frames / 5 : 200;
    Counts atWarmUp{};
    long rssAtWarmUp = 0;
    long maxGrowth = 0;
    int failed = 0;
    for (int i = 0; i < frames; ++i) {
        const std::size_t d = static_cast<std::size_t>(i % 3);
        s.setSlider(1, exposures[i % 5]);
        s.setSlider(2, gammas[i % 7]);
        FrameOptions fo;
        fo.time = standin::TimeKey{i, 30};
        fo.threads = 1 + i % 4;
        if (s.renderFrame(*ins[d], *outs[d], fo) != PF_Err_NONE) {
            ++failed;
        }
        if (i + 1 == warmUp) {
            atWarmUp = countsOf(s.host());
            rssAtWarmUp = residentBytes();
        } else if (i + 1 > warmUp) {
            if (!(countsOf(s.host()) == atWarmUp)) {
                ADD_FAILURE() << "live host resources changed at frame " << i;
                break;
            }
            if (i % 100 == 99) {
                maxGrowth = std::max(maxGrowth, residentBytes() - rssAtWarmUp);
            }
        }
    }
    maxGrowth = std::max(maxGrowth, residentBytes() - rssAtWarmUp);
    EXPECT_EQ(failed, 0);
    EXPECT_TRUE(standin::testing::AllCommandsBalanced(s));
    EXPECT_EQ(s.globalSetdown(), PF_Err_NONE);
    EXPECT_EQ(s.host().liveHandles(), 0);
    EXPECT_NO_HOST_LEAKS(s.host());
    std::printf("long session: %d frames, resident memory growth after %d warm-up frames: %ld bytes%s\n", frames,
                warmUp, maxGrowth, kMeasureResident ? "" : " (not judged under a sanitizer)");
    if (kMeasureResident) {
        EXPECT_LT(maxGrowth, 1L << 20);
    }
}
