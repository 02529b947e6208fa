// The threaded driver against the stand-in host's iterate suites: one filter
// per call, one band per reported thread, bands that tile the region on real
// worker threads, and the host's failures passed on after the filter is gone.
#include "Host.h"
#include "MorvekFilterMulti.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace {

using Morvek::Layer;
using Morvek::Rect;

struct Recorder {
    std::mutex mutex;
    std::vector<Rect> bands;
    std::atomic<int> built{0};
    std::atomic<int> destroyed{0};
};

class RecordingFilter : public Morvek::IFilterWithRegion {
public:
    struct Parameter {
        Recorder* recorder;
    };
    explicit RecordingFilter(const Parameter& p) : recorder(p.recorder) { ++recorder->built; }
    ~RecordingFilter() override { ++recorder->destroyed; }
    RecordingFilter(const RecordingFilter&) = delete;
    RecordingFilter& operator=(const RecordingFilter&) = delete;
    void execute(Layer& in, Layer& out) override { execute(in, out, in.getSize()); }
    void execute(Layer&, Layer&, const Rect& region) override {
        std::lock_guard<std::mutex> lock(recorder->mutex);
        recorder->bands.push_back(region);
    }

private:
    Recorder* recorder;
};

class FilterMultiTest : public ::testing::Test {
protected:
    void SetUp() override { host.prepareRecords(effect, &in, &out); }
    void TearDown() override { EXPECT_TRUE(host.leaks().clean()) << host.leaks().describe(); }

    int run(const Rect& region) {
        Layer input(&in, &out, world.def(), 0);
        Layer output(&in, &out, world.def(), 0);
        return Morvek::FilterMulti<RecordingFilter>(&in, input, output, region, {&recorder});
    }
    // Bands sorted by their top row (the workers finish in any order).
    std::vector<Rect> bands() {
        std::vector<Rect> b = recorder.bands;
        std::sort(b.begin(), b.end(),
                  [](const Rect& x, const Rect& y) { return x.top != y.top ? x.top < y.top : x.bottom < y.bottom; });
        return b;
    }

    standin::Host host;
    standin::Host::Scope scope{host};
    standin::Effect& effect = host.createEffect();
    PF_InData in{};
    PF_OutData out{};
    standin::World world{40, 300, PF_PixelFormat_ARGB32, 0};
    Recorder recorder;
};

TEST_F(FilterMultiTest, RegionOffRowZeroIsTiledByOneBandPerThread) {
    host.setWorkerThreads(4);
    ASSERT_EQ(run(Rect(3, 100, 9, 200)), PF_Err_NONE);
    const std::vector<Rect> b = bands();
    ASSERT_EQ(b.size(), 4u);
    const A_long tops[] = {100, 125, 150, 175, 200};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(b[i], Rect(3, tops[i], 9, tops[i + 1]));
    }
    EXPECT_EQ(recorder.built, 1);
    EXPECT_EQ(recorder.destroyed, 1);
    EXPECT_EQ(host.lastIterationCounts(), std::vector<int>(4, 1));
}

TEST_F(FilterMultiTest, TenRowsOnFourThreads) {
    host.setWorkerThreads(4);
    ASSERT_EQ(run(Rect(0, 0, 5, 10)), PF_Err_NONE);
    const std::vector<Rect> b = bands();
    ASSERT_EQ(b.size(), 4u);
    EXPECT_EQ(b[0], Rect(0, 0, 5, 2));
    EXPECT_EQ(b[1], Rect(0, 2, 5, 5));
    EXPECT_EQ(b[2], Rect(0, 5, 5, 7));
    EXPECT_EQ(b[3], Rect(0, 7, 5, 10));
}

// The band count is the reported thread count, however many workers run them.
TEST_F(FilterMultiTest, BandsFollowTheReportedCount) {
    host.setWorkerThreads(2);
    host.setReportedThreads(5);
    ASSERT_EQ(run(Rect(0, 0, 1, 10)), PF_Err_NONE);
    const std::vector<Rect> b = bands();
    ASSERT_EQ(b.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(b[i], Rect(0, 2 * static_cast<A_long>(i), 1, 2 * static_cast<A_long>(i) + 2));
    }
}

TEST_F(FilterMultiTest, NoReportedThreadStillRendersTheWholeRegion) {
    host.setWorkerThreads(3);
    for (int reported : {0, -7}) {
        recorder.bands.clear();
        host.setReportedThreads(reported);
        ASSERT_EQ(run(Rect(2, 4, 6, 9)), PF_Err_NONE);
        ASSERT_EQ(bands().size(), 1u) << reported;
        EXPECT_EQ(bands()[0], Rect(2, 4, 6, 9));
    }
}

TEST_F(FilterMultiTest, EmptyRegionTouchesNoSuiteAndBuildsNoFilter) {
    for (const Rect& r : {Rect(0, 0, 0, 10), Rect(0, 5, 10, 5), Rect(4, 0, 2, 10), Rect(0, 9, 10, 3)}) {
        EXPECT_EQ(run(r), PF_Err_NONE);
    }
    EXPECT_EQ(recorder.built, 0);
    EXPECT_TRUE(host.calls().empty());
}

TEST_F(FilterMultiTest, WholeOutputForm) {
    host.setWorkerThreads(1);
    Layer input(&in, &out, world.def(), 0);
    Layer output(&in, &out, world.def(), 0);
    ASSERT_EQ(Morvek::FilterMulti<RecordingFilter>(&in, input, output, {&recorder}), PF_Err_NONE);
    ASSERT_EQ(bands().size(), 1u);
    EXPECT_EQ(bands()[0], Rect(0, 0, 40, 300));
}

TEST_F(FilterMultiTest, FailedThreadCountBuildsNoFilter) {
    host.failCall("AEGP Iterate Suite 1/AEGP_GetNumThreads", PF_Err_INVALID_INDEX);
    EXPECT_EQ(run(Rect(0, 0, 4, 4)), PF_Err_INVALID_INDEX);
    EXPECT_EQ(recorder.built, 0);
    EXPECT_EQ(host.callCount("SPBasic/AcquireSuite:PF Iterate8 Suite 1"), 0);
}

TEST_F(FilterMultiTest, FailedIterationIsReturnedAfterTheFilterIsGone) {
    host.failCall("PF Iterate8 Suite 1/iterate_generic", PF_Interrupt_CANCEL);
    EXPECT_EQ(run(Rect(0, 0, 4, 4)), PF_Interrupt_CANCEL);
    EXPECT_EQ(recorder.built, 1);
    EXPECT_EQ(recorder.destroyed, 1);
}

TEST_F(FilterMultiTest, MissingSuitesThrowAfterCleaningUp) {
    host.withholdSuite("PF Iterate8 Suite", 1);
    EXPECT_THROW(run(Rect(0, 0, 4, 4)), PF_Err);
    EXPECT_EQ(recorder.built, 1);
    EXPECT_EQ(recorder.destroyed, 1);
    host.withholdSuite("PF Iterate8 Suite", 1, false);
    host.withholdSuite("AEGP Iterate Suite", 1);
    EXPECT_THROW(run(Rect(0, 0, 4, 4)), PF_Err);
    EXPECT_EQ(recorder.built, 1);
    in.pica_basicP = nullptr;
    EXPECT_THROW(run(Rect(0, 0, 4, 4)), PF_Err);
}

} // namespace
