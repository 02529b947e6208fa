// Morvek::Layer against the stand-in host: strides and pixel reads, identity
// and size tests, layers without pixels, created and checked-out worlds and
// their release by the last copy, fills and copies through the host, and the
// first-error-wins rule.
#include "Host.h"
#include "MorvekLayer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

using Morvek::ColorFloat;
using Morvek::Layer;
using Morvek::Rect;
using standin::World;

class LayerTest : public ::testing::Test {
protected:
    void SetUp() override { host.prepareRecords(effect, &in, &out); }
    void TearDown() override { EXPECT_TRUE(host.leaks().clean()) << host.leaks().describe(); }

    standin::Host host;
    standin::Host::Scope scope{host};
    standin::Effect& effect = host.createEffect();
    PF_InData in{};
    PF_OutData out{};
};

void expectColor(const ColorFloat<float>& c, float a, float r, float g, float b) {
    EXPECT_EQ(c.alpha, a);
    EXPECT_EQ(c.red, r);
    EXPECT_EQ(c.green, g);
    EXPECT_EQ(c.blue, b);
}

void randomBytes(World& w, unsigned seed) {
    std::mt19937 rng(seed);
    for (A_long y = 0; y < w.height(); ++y) {
        for (A_long b = 0; b < w.width() * w.pixelSize(); ++b) {
            w.row(y)[b] = static_cast<std::uint8_t>(rng() & 0x7F); // keeps 16-bit channels in range
        }
    }
}

World* hostWorld(Layer& layer) {
    return World::find(layer.getWorld());
}

// ---- Strides, reads, sizes ----------------------------------------------------

TEST_F(LayerTest, EightBitRowsAreAddressedByTheirRowbytes) {
    World w(7, 2, PF_PixelFormat_ARGB32, 4); // rowbytes 32: eight pixels per row
    ASSERT_EQ(w.rowbytes(), 32);
    const PF_Pixel p{255, 51, 102, 0};
    std::memcpy(w.bytes() + 32, &p, sizeof(p)); // pixel (0, 1)
    Layer layer(&in, &out, w.def(), 0);
    expectColor(layer.getPixel(0, 1), 1.0f, 0.2f, 0.4f, 0.0f);
}

TEST_F(LayerTest, SixteenBitStrideDropsTheRemainder) {
    World w(7, 2, PF_PixelFormat_ARGB64, 4); // rowbytes 60: seven pixels and 4 spare bytes
    ASSERT_EQ(w.rowbytes(), 60);
    const PF_Pixel16 p{32768, 16384, 8192, 0};
    std::memcpy(w.bytes() + 56, &p, sizeof(p)); // row 1 begins 7 pixels (56 bytes) in
    Layer layer(&in, &out, w.def(), 1);
    expectColor(layer.getPixel(0, 1), 1.0f, 0.5f, 0.25f, 0.0f);
}

TEST_F(LayerTest, FloatPixelsAreReadAsTheyAre) {
    World w(3, 2, PF_PixelFormat_ARGB128, 16);
    w.at<PF_PixelFloat>(2, 1) = PF_PixelFloat{0.75f, 1.5f, -0.25f, 0.125f};
    Layer layer(&in, &out, w.def(), 2);
    expectColor(layer.getPixel(2, 1), 0.75f, 1.5f, -0.25f, 0.125f);
}

TEST_F(LayerTest, SizeIsTheWorldsRectangle) {
    World w(640, 480, PF_PixelFormat_ARGB32, 0);
    Layer layer(&in, &out, w.def(), 0);
    EXPECT_EQ(layer.getSize(), Rect(0, 0, 640, 480));
    EXPECT_EQ(layer.getWidth(), 640);
    EXPECT_EQ(layer.getHeight(), 480);
    EXPECT_EQ(layer.getWorld(), w.def());
    // Width and height are read from the world, not from a cache.
    w.def()->width = 320;
    EXPECT_EQ(layer.getWidth(), 320);
}

TEST_F(LayerTest, EqualToMeansTheSamePixelMemory) {
    World a(4, 4, PF_PixelFormat_ARGB32, 0);
    World b(4, 4, PF_PixelFormat_ARGB32, 0); // identical (cleared) pixels
    World c(4, 5, PF_PixelFormat_ARGB128, 0);
    World d(4, 4, PF_PixelFormat_ARGB128, 0);
    Layer a1(&in, &out, a.def(), 0);
    Layer a2(&in, &out, a.def(), 0);
    Layer bl(&in, &out, b.def(), 0);
    Layer cl(&in, &out, c.def(), 2);
    Layer dl(&in, &out, d.def(), 2);
    EXPECT_TRUE(a1.equalTo(a2));
    EXPECT_FALSE(a1.equalTo(bl));
    EXPECT_TRUE(a1.equalInSize(bl));
    EXPECT_TRUE(a1.equalInSize(dl)); // depth does not matter
    EXPECT_FALSE(a1.equalInSize(cl));
}

// ---- Layers without pixels --------------------------------------------------------

TEST_F(LayerTest, NullWorldAnswersZeroAndRefusesHostWork) {
    World real(3, 3, PF_PixelFormat_ARGB32, 0);
    real.fillBytes(0x21);
    Layer none(&in, &out, nullptr, 0);
    Layer other(&in, &out, nullptr, 0);
    Layer layer(&in, &out, real.def(), 0);
    EXPECT_EQ(none.getError(), PF_Err_NONE);
    EXPECT_EQ(none.getWorld(), nullptr);
    EXPECT_EQ(none.getWidth(), 0);
    EXPECT_EQ(none.getHeight(), 0);
    EXPECT_TRUE(none.getSize().isEmpty());
    expectColor(none.getPixel(0, 0), 0.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_FALSE(none.equalTo(other));
    EXPECT_FALSE(none.equalTo(layer));
    EXPECT_TRUE(none.equalInSize(other));
    EXPECT_FALSE(none.equalInSize(layer));

    none.copyTo(layer);
    EXPECT_EQ(none.getError(), PF_Err_BAD_CALLBACK_PARAM);
    layer.copyTo(other);
    EXPECT_EQ(layer.getError(), PF_Err_BAD_CALLBACK_PARAM);
    other.fill(ColorFloat<float>(1.0f, 1.0f, 1.0f, 1.0f));
    EXPECT_EQ(other.getError(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.callCount("utils.copy"), 0);
    std::vector<std::uint8_t> expected(real.byteSize(), 0x21);
    EXPECT_EQ(std::vector<std::uint8_t>(real.bytes(), real.bytes() + real.byteSize()), expected);
}

// ---- Created worlds -------------------------------------------------------------------

struct DepthCase {
    int bpc;
    PF_PixelFormat format;
};
const DepthCase kDepths[] = {{0, PF_PixelFormat_ARGB32}, {1, PF_PixelFormat_ARGB64}, {2, PF_PixelFormat_ARGB128}};

TEST_F(LayerTest, CreatedWorldsAreClearedAndDisposedByTheLastCopy) {
    for (const DepthCase& d : kDepths) {
        std::unique_ptr<Layer> keep;
        {
            Layer layer(&in, &out, 5, 4, d.bpc);
            ASSERT_EQ(layer.getError(), PF_Err_NONE) << d.bpc;
            EXPECT_EQ(layer.getBPC(), d.bpc);
            EXPECT_EQ(layer.getSize(), Rect(0, 0, 5, 4));
            ASSERT_NE(hostWorld(layer), nullptr);
            EXPECT_EQ(hostWorld(layer)->format(), d.format);
            for (int y = 0; y < 4; ++y) {
                for (int x = 0; x < 5; ++x) {
                    expectColor(layer.getPixel(x, y), 0.0f, 0.0f, 0.0f, 0.0f);
                }
            }
            EXPECT_EQ(host.liveWorlds(), 1);
            keep = std::make_unique<Layer>(layer);
        }
        EXPECT_EQ(host.liveWorlds(), 1) << "a copy still holds the world";
        keep.reset();
        EXPECT_EQ(host.liveWorlds(), 0);
    }
    // Float worlds take the version 2 suite around each call.
    EXPECT_EQ(host.acquireCount("PF World Suite", 2), host.releaseCount("PF World Suite", 2));
    EXPECT_EQ(host.acquireCount("PF World Suite", 2), 2);
}

TEST_F(LayerTest, FailedCreationKeepsTheErrorAndDisposesNothing) {
    host.failCall("PF World Suite 1/new_world", PF_Err_OUT_OF_MEMORY);
    host.failCall("PF World Suite 2/PF_NewWorld", PF_Err_OUT_OF_MEMORY);
    for (const DepthCase& d : kDepths) {
        {
            Layer layer(&in, &out, 8, 8, d.bpc);
            EXPECT_EQ(layer.getError(), PF_Err_OUT_OF_MEMORY);
            EXPECT_TRUE(layer.getWorld() == nullptr || layer.getWorld()->data == nullptr);
            EXPECT_EQ(layer.getWidth(), 0);
            layer.fill(ColorFloat<float>(1.0f, 1.0f, 1.0f, 1.0f));
            EXPECT_EQ(layer.getError(), PF_Err_OUT_OF_MEMORY);
        }
        EXPECT_EQ(host.liveWorlds(), 0);
    }
    EXPECT_EQ(host.callCount("PF World Suite 1/dispose_world"), 0);
    EXPECT_EQ(host.callCount("PF World Suite 2/PF_DisposeWorld"), 0);
}

TEST_F(LayerTest, MissingWorldSuites) {
    host.withholdSuite("PF World Suite", 2);
    {
        Layer layer(&in, &out, 4, 4, 2);
        EXPECT_EQ(layer.getError(), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_STREQ(out.return_msg, "Couldn't load suite.");
        EXPECT_NE(out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
    }
    host.withholdSuite("PF World Suite", 1);
    EXPECT_THROW(Layer(&in, &out, 4, 4, 0), PF_Err);
    EXPECT_EQ(host.liveWorlds(), 0);
}

TEST_F(LayerTest, UnknownDepthCreatesNothing) {
    Layer layer(&in, &out, 4, 4, 9);
    EXPECT_EQ(layer.getError(), PF_Err_NONE);
    EXPECT_EQ(host.liveWorlds(), 0);
    layer.fill(ColorFloat<float>(1.0f, 1.0f, 1.0f, 1.0f));
    EXPECT_EQ(layer.getError(), PF_Err_NONE);
    EXPECT_EQ(host.acquireCount("PF Fill Matte Suite", 2), 0);
}

// ---- Fills ------------------------------------------------------------------------------

TEST_F(LayerTest, FillWholeWorldAndRegionAtEveryDepth) {
    const ColorFloat<float> orange(1.0f, 0.5f, 0.25f, 0.0f);
    const ColorFloat<float> blue(0.5f, 0.0f, 0.0f, 1.0f);
    Layer l8(&in, &out, 6, 4, 0);
    Layer l16(&in, &out, 6, 4, 1);
    Layer l32(&in, &out, 6, 4, 2);
    for (Layer* l : {&l8, &l16, &l32}) {
        l->fill(orange);
        l->fill(blue, Rect(1, 1, 3, 3));
        ASSERT_EQ(l->getError(), PF_Err_NONE);
    }
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 1 && x < 3 && y >= 1 && y < 3;
            // 0.5 of 255 truncates to 127, 0.25 to 63.
            const PF_Pixel e8 = inside ? PF_Pixel{127, 0, 0, 255} : PF_Pixel{255, 127, 63, 0};
            const PF_Pixel16 e16 = inside ? PF_Pixel16{16384, 0, 0, 32768} : PF_Pixel16{32768, 16384, 8192, 0};
            const PF_PixelFloat e32 =
                inside ? PF_PixelFloat{0.5f, 0.0f, 0.0f, 1.0f} : PF_PixelFloat{1.0f, 0.5f, 0.25f, 0.0f};
            EXPECT_EQ(std::memcmp(&hostWorld(l8)->at<PF_Pixel>(x, y), &e8, sizeof(e8)), 0) << x << "," << y;
            EXPECT_EQ(std::memcmp(&hostWorld(l16)->at<PF_Pixel16>(x, y), &e16, sizeof(e16)), 0) << x << "," << y;
            const PF_PixelFloat& f = hostWorld(l32)->at<PF_PixelFloat>(x, y);
            EXPECT_TRUE(f.alpha == e32.alpha && f.red == e32.red && f.green == e32.green && f.blue == e32.blue)
                << x << "," << y;
        }
    }
}

TEST_F(LayerTest, FillWithoutTheSuiteThrowsAndStillDisposes) {
    host.withholdSuite("PF Fill Matte Suite", 2);
    {
        Layer layer(&in, &out, 3, 3, 0);
        EXPECT_THROW(layer.fill(ColorFloat<float>(1.0f, 1.0f, 1.0f, 1.0f)), PF_Err);
    }
    EXPECT_EQ(host.liveWorlds(), 0);
}

// ---- Copies and clones -------------------------------------------------------------------

TEST_F(LayerTest, CopyWholeWorldAndRegions) {
    World src(5, 4, PF_PixelFormat_ARGB64, 16);
    World dst(5, 4, PF_PixelFormat_ARGB64, 0);
    World part(5, 4, PF_PixelFormat_ARGB64, 8);
    randomBytes(src, 4);
    Layer s(&in, &out, src.def(), 1);
    Layer d(&in, &out, dst.def(), 1);
    Layer p(&in, &out, part.def(), 1);
    s.copyTo(d);
    ASSERT_EQ(s.getError(), PF_Err_NONE);
    EXPECT_TRUE(src.samePixels(dst));

    Rect from(0, 0, 2, 2);
    Rect to(3, 1, 5, 3);
    s.copyTo(p, from, to);
    ASSERT_EQ(s.getError(), PF_Err_NONE);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            const bool inside = x >= 3 && y >= 1 && y < 3;
            const PF_Pixel16 zero{0, 0, 0, 0};
            const PF_Pixel16& expected = inside ? src.at<PF_Pixel16>(x - 3, y - 1) : zero;
            EXPECT_EQ(std::memcmp(&part.at<PF_Pixel16>(x, y), &expected, sizeof(expected)), 0) << x << "," << y;
        }
    }
}

TEST_F(LayerTest, CloneIsAnIndependentCreatedCopy) {
    World src(6, 3, PF_PixelFormat_ARGB32, 8);
    randomBytes(src, 8);
    const std::vector<std::uint8_t> original(src.bytes(), src.bytes() + src.byteSize());
    Layer s(&in, &out, src.def(), 0);
    {
        Layer c = s.clone();
        ASSERT_EQ(c.getError(), PF_Err_NONE);
        ASSERT_EQ(s.getError(), PF_Err_NONE);
        EXPECT_FALSE(c.equalTo(s));
        EXPECT_TRUE(c.equalInSize(s));
        ASSERT_NE(hostWorld(c), nullptr);
        EXPECT_TRUE(hostWorld(c)->samePixels(src));
        EXPECT_EQ(host.liveWorlds(), 1);
        c.fill(ColorFloat<float>(0.0f, 0.0f, 0.0f, 0.0f));
    }
    EXPECT_EQ(host.liveWorlds(), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(src.bytes(), src.bytes() + src.byteSize()), original);
}

TEST_F(LayerTest, FirstErrorSticksAndStopsFurtherHostCalls) {
    World a(4, 4, PF_PixelFormat_ARGB32, 0);
    World b(4, 4, PF_PixelFormat_ARGB32, 0);
    randomBytes(a, 1);
    b.fillBytes(0x99);
    const std::vector<std::uint8_t> before(b.bytes(), b.bytes() + b.byteSize());
    Layer la(&in, &out, a.def(), 0);
    Layer lb(&in, &out, b.def(), 0);
    host.failCall("utils.copy", PF_Err_INVALID_INDEX, 1);
    la.copyTo(lb);
    EXPECT_EQ(la.getError(), PF_Err_INVALID_INDEX); // recorded on the source
    EXPECT_EQ(lb.getError(), PF_Err_NONE);

    la.copyTo(lb);
    la.fill(ColorFloat<float>(1.0f, 1.0f, 1.0f, 1.0f));
    Layer c = la.clone();
    EXPECT_EQ(host.callCount("utils.copy"), 1);
    EXPECT_EQ(host.callCount("PF Fill Matte Suite 2/fill"), 0);
    EXPECT_EQ(la.getError(), PF_Err_INVALID_INDEX);
    EXPECT_EQ(c.getError(), PF_Err_NONE);
    EXPECT_EQ(std::vector<std::uint8_t>(b.bytes(), b.bytes() + b.byteSize()), before);
}

// ---- Checked-out layers --------------------------------------------------------------------

TEST_F(LayerTest, CheckedOutLayerIsCheckedInByTheLastCopy) {
    World input(8, 6, PF_PixelFormat_ARGB32, 16);
    randomBytes(input, 3);
    effect.setInputLayer(&input);
    std::unique_ptr<Layer> keep;
    {
        Layer layer(&in, &out, 0, A_Time{0, 30}, 0);
        ASSERT_EQ(layer.getError(), PF_Err_NONE);
        ASSERT_NE(layer.getWorld(), nullptr);
        EXPECT_EQ(static_cast<void*>(layer.getWorld()->data), static_cast<void*>(input.bytes()));
        EXPECT_EQ(layer.getSize(), Rect(0, 0, 8, 6));
        EXPECT_EQ(host.checkedOutParams(), 1);
        keep = std::make_unique<Layer>(layer);
    }
    EXPECT_EQ(host.checkedOutParams(), 1);
    keep.reset();
    EXPECT_EQ(host.checkedOutParams(), 0);
}

// A layer parameter set to no layer checks out without pixels; the host holds
// nothing for it and nothing is checked back in.
TEST_F(LayerTest, CheckoutWithoutPixelsLeavesTheLayerEmpty) {
    effect.setInputLayer(nullptr);
    {
        Layer layer(&in, &out, 0, A_Time{0, 30}, 0);
        EXPECT_EQ(layer.getError(), PF_Err_NONE);
        EXPECT_EQ(layer.getWorld(), nullptr);
        EXPECT_EQ(layer.getWidth(), 0);
        EXPECT_TRUE(layer.getSize().isEmpty());
    }
    EXPECT_EQ(host.checkedOutParams(), 0);
    EXPECT_EQ(host.callCount("inter.checkin_param"), 0);
}

TEST_F(LayerTest, FailedCheckoutKeepsItsCodeAndChecksNothingIn) {
    World input(2, 2, PF_PixelFormat_ARGB32, 0);
    effect.setInputLayer(&input);
    host.failCall("inter.checkout_param", PF_Err_INVALID_CALLBACK);
    {
        Layer layer(&in, &out, 0, A_Time{0, 30}, 0);
        EXPECT_EQ(layer.getError(), PF_Err_INVALID_CALLBACK);
        EXPECT_EQ(layer.getWorld(), nullptr);
    }
    EXPECT_EQ(host.callCount("inter.checkin_param"), 0);
}

} // namespace
