// The threaded driver's band cutting: ExecuteFilter called by hand with a
// filter that records the rectangles it is given.
#include "MorvekFilterMulti.h"

#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <vector>

namespace {

using Morvek::ExecuteFilter;
using Morvek::FilterRefcon;
using Morvek::Layer;
using Morvek::Rect;

struct Recorder {
    std::mutex mutex;
    std::vector<Rect> bands;
};

enum class Throw { Nothing, HostError, BadAlloc, Other };

class RecordingFilter : public Morvek::IFilterWithRegion {
public:
    struct Parameter {
        Recorder* recorder;
        Throw thrown;
    };
    explicit RecordingFilter(const Parameter& p) : parameter(p) {}
    void execute(Layer& in, Layer& out) override { execute(in, out, in.getSize()); }
    void execute(Layer&, Layer&, const Rect& region) override {
        {
            std::lock_guard<std::mutex> lock(parameter.recorder->mutex);
            parameter.recorder->bands.push_back(region);
        }
        switch (parameter.thrown) {
        case Throw::HostError:
            throw PF_Err(PF_Interrupt_CANCEL);
        case Throw::BadAlloc:
            throw std::bad_alloc();
        case Throw::Other:
            throw std::runtime_error("band failed");
        case Throw::Nothing:
            break;
        }
    }

private:
    Parameter parameter;
};

// Calls the band callback for every index 0..count-1 (as the host would) and
// returns the bands in index order.
std::vector<Rect> cut(const Rect& region, A_long count) {
    Recorder recorder;
    RecordingFilter filter({&recorder, Throw::Nothing});
    Layer none(nullptr, nullptr, nullptr, 0);
    FilterRefcon refcon{nullptr, &filter, &none, &none, region, count};
    for (A_long i = 0; i < count; ++i) {
        // thread_index and iterations carry nothing the band depends on.
        EXPECT_EQ(ExecuteFilter<RecordingFilter>(&refcon, 1000 + i, i, 3 * count + 5), PF_Err_NONE);
    }
    return recorder.bands;
}

::testing::AssertionResult rowsAre(const std::vector<Rect>& bands, const Rect& region,
                                   const std::vector<std::pair<A_long, A_long>>& rows) {
    if (bands.size() != rows.size()) {
        return ::testing::AssertionFailure() << bands.size() << " bands, expected " << rows.size();
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Rect& b = bands[i];
        if (b.left != region.left || b.right != region.right || b.top != rows[i].first || b.bottom != rows[i].second) {
            return ::testing::AssertionFailure()
                   << "band " << i << " is (" << b.left << ", " << b.top << ", " << b.right << ", " << b.bottom << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(Bands, TenRowsOnFourThreadsAlternateTwoAndThree) {
    const Rect region(0, 0, 16, 10);
    EXPECT_TRUE(rowsAre(cut(region, 4), region, {{0, 2}, {2, 5}, {5, 7}, {7, 10}}));
}

TEST(Bands, FewerRowsThanThreadsLeavesSomeBandsEmpty) {
    const Rect region(0, 0, 3, 2);
    EXPECT_TRUE(rowsAre(cut(region, 4), region, {{0, 0}, {0, 1}, {1, 1}, {1, 2}}));
    const Rect one(2, 7, 9, 8);
    EXPECT_TRUE(rowsAre(cut(one, 3), one, {{7, 7}, {7, 7}, {7, 8}}));
}

TEST(Bands, RegionNotAtRowZeroIsCutRelativeToItsTop) {
    const Rect region(5, 100, 9, 200);
    EXPECT_TRUE(rowsAre(cut(region, 3), region, {{100, 133}, {133, 166}, {166, 200}}));
    const Rect negative(-4, -6, 4, 5);
    EXPECT_TRUE(rowsAre(cut(negative, 2), negative, {{-6, -1}, {-1, 5}}));
}

TEST(Bands, OneThreadTakesTheWholeRegion) {
    const Rect region(1, 2, 30, 40);
    EXPECT_TRUE(rowsAre(cut(region, 1), region, {{2, 40}}));
}

TEST(Bands, TileEveryRowExactlyOnceForManyShapes) {
    for (A_long height : {0, 1, 2, 3, 7, 10, 31, 64, 1000}) {
        for (A_long count : {1, 2, 3, 4, 7, 16, 33}) {
            const Rect region(0, 13, 2, 13 + height);
            const std::vector<Rect> bands = cut(region, count);
            ASSERT_EQ(bands.size(), static_cast<std::size_t>(count));
            EXPECT_EQ(bands.front().top, region.top);
            EXPECT_EQ(bands.back().bottom, region.bottom);
            for (std::size_t i = 0; i < bands.size(); ++i) {
                const A_long rows = bands[i].bottom - bands[i].top;
                // Heights differ by at most one row.
                EXPECT_TRUE(rows == height / count || rows == height / count + 1) << height << "/" << count;
                if (i > 0) {
                    EXPECT_EQ(bands[i].top, bands[i - 1].bottom);
                }
            }
        }
    }
}

TEST(Bands, HugeRegionsDoNotOverflow) {
    const Rect region(0, -2000000000, 1, 2000000000);
    const std::vector<Rect> bands = cut(region, 4);
    ASSERT_EQ(bands.size(), 4u);
    EXPECT_EQ(bands[0].top, -2000000000);
    EXPECT_EQ(bands[1].top, -1000000000);
    EXPECT_EQ(bands[2].top, 0);
    EXPECT_EQ(bands[3].top, 1000000000);
    EXPECT_EQ(bands[3].bottom, 2000000000);
}

TEST(Bands, IndexOutsideTheRecordedCountRunsNothing) {
    Recorder recorder;
    RecordingFilter filter({&recorder, Throw::Nothing});
    Layer none(nullptr, nullptr, nullptr, 0);
    FilterRefcon refcon{nullptr, &filter, &none, &none, Rect(0, 0, 4, 4), 2};
    EXPECT_EQ(ExecuteFilter<RecordingFilter>(&refcon, 0, 2, 2), PF_Err_NONE);
    EXPECT_EQ(ExecuteFilter<RecordingFilter>(&refcon, 0, -1, 2), PF_Err_NONE);
    refcon.thread_count = 0;
    EXPECT_EQ(ExecuteFilter<RecordingFilter>(&refcon, 0, 0, 1), PF_Err_NONE);
    EXPECT_TRUE(recorder.bands.empty());
    EXPECT_EQ(ExecuteFilter<RecordingFilter>(nullptr, 0, 0, 1), PF_Err_NONE);
}

TEST(Bands, NothingThrownEscapesTheCallback) {
    const std::pair<Throw, PF_Err> cases[] = {{Throw::HostError, PF_Interrupt_CANCEL},
                                              {Throw::BadAlloc, PF_Err_OUT_OF_MEMORY},
                                              {Throw::Other, PF_Err_INTERNAL_STRUCT_DAMAGED}};
    for (const auto& c : cases) {
        Recorder recorder;
        RecordingFilter filter({&recorder, c.first});
        Layer none(nullptr, nullptr, nullptr, 0);
        FilterRefcon refcon{nullptr, &filter, &none, &none, Rect(0, 0, 4, 4), 1};
        PF_Err result = PF_Err_NONE;
        EXPECT_NO_THROW(result = ExecuteFilter<RecordingFilter>(&refcon, 0, 0, 1));
        EXPECT_EQ(result, c.second);
        EXPECT_EQ(recorder.bands.size(), 1u);
    }
}

} // namespace
