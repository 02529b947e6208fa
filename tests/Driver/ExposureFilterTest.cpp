// The exposure filter over host worlds: region clipping, per-world strides,
// depth dispatch, refusals that leave the output alone, in-place filtering and
// filter copies. The converter (tested on its own) is the reference for
// every converted pixel.
#include "MorvekExposure.h"
#include "Pimpl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Morvek::Exposure;
using Morvek::Layer;
using Morvek::Rect;
using Converter = Exposure::Impl::ColorConverter;

// A world with padded rows, built without a host. Padding is kept to a
// multiple of every pixel size, as the host's worlds have it.
struct TestWorld {
    std::vector<std::uint8_t> bytes;
    PF_LayerDef def{};
    int pixelSize;

    TestWorld(int width, int height, int pixelSize_, int padBytes) : pixelSize(pixelSize_) {
        def.width = width;
        def.height = height;
        def.rowbytes = width * pixelSize + padBytes;
        bytes.assign(static_cast<std::size_t>(def.rowbytes) * (height > 0 ? height : 0) + 16, 0xCD);
        def.data = reinterpret_cast<PF_Pixel*>(bytes.data());
    }
    template <class P> P& at(int x, int y) {
        return *reinterpret_cast<P*>(bytes.data() + static_cast<std::size_t>(y) * def.rowbytes +
                                     static_cast<std::size_t>(x) * sizeof(P));
    }
};

template <class P> struct DepthOf;
template <> struct DepthOf<PF_Pixel> { static constexpr int bpc = 0; };
template <> struct DepthOf<PF_Pixel16> { static constexpr int bpc = 1; };
template <> struct DepthOf<PF_PixelFloat> { static constexpr int bpc = 2; };

void randomPixel(std::mt19937& rng, PF_Pixel& p) {
    std::uniform_int_distribution<int> d(0, 255);
    p = PF_Pixel{static_cast<A_u_char>(d(rng)), static_cast<A_u_char>(d(rng)), static_cast<A_u_char>(d(rng)),
                 static_cast<A_u_char>(d(rng))};
}
void randomPixel(std::mt19937& rng, PF_Pixel16& p) {
    std::uniform_int_distribution<int> d(0, 32768);
    p = PF_Pixel16{static_cast<A_u_short>(d(rng)), static_cast<A_u_short>(d(rng)), static_cast<A_u_short>(d(rng)),
                   static_cast<A_u_short>(d(rng))};
}
void randomPixel(std::mt19937& rng, PF_PixelFloat& p) {
    std::uniform_real_distribution<float> d(0.0f, 1.5f);
    p = PF_PixelFloat{d(rng), d(rng), d(rng), d(rng)};
}

template <class P> TestWorld randomWorld(int width, int height, int pad, unsigned seed) {
    TestWorld w(width, height, sizeof(P), pad);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            randomPixel(rng, w.at<P>(x, y));
        }
    }
    return w;
}

template <class P> bool samePixel(const P& a, const P& b) {
    return std::memcmp(&a, &b, sizeof(P)) == 0;
}

Exposure::Parameter parameter(int bpc, double exposure, double gamma) {
    Exposure::Parameter p;
    p.bpc = bpc;
    p.exposure = exposure;
    p.gamma = gamma;
    return p;
}

// Runs the region form on random content and checks every pixel of the output
// world: converted from the input inside the clipped region, untouched
// outside it, and padding bytes never written.
template <class P> void checkRegion(const Rect& region, const Rect& clipped) {
    const int width = 9;
    const int height = 7;
    TestWorld in = randomWorld<P>(width, height, 16, 11);
    TestWorld out(width, height, sizeof(P), 48);
    const TestWorld before = out;
    const Exposure::Parameter p = parameter(DepthOf<P>::bpc, 0.7, 1.6);
    Layer inLayer(nullptr, nullptr, &in.def, DepthOf<P>::bpc);
    Layer outLayer(nullptr, nullptr, &out.def, DepthOf<P>::bpc);
    Exposure filter(p);
    filter.execute(inLayer, outLayer, region);

    const Converter converter(p);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool inside = x >= clipped.left && x < clipped.right && y >= clipped.top && y < clipped.bottom;
            P expected = const_cast<TestWorld&>(before).at<P>(x, y);
            if (inside) {
                converter.convert(in.at<P>(x, y), expected);
            }
            ASSERT_TRUE(samePixel(out.at<P>(x, y), expected)) << "pixel " << x << ", " << y;
        }
        // The row padding after the last pixel keeps its bytes.
        for (int b = width * static_cast<int>(sizeof(P)); b < out.def.rowbytes; ++b) {
            ASSERT_EQ(out.bytes[static_cast<std::size_t>(y) * out.def.rowbytes + b], 0xCD);
        }
    }
}

template <class P> class ExposureFilterAtDepth : public ::testing::Test {};
using PixelTypes = ::testing::Types<PF_Pixel, PF_Pixel16, PF_PixelFloat>;
TYPED_TEST_SUITE(ExposureFilterAtDepth, PixelTypes);

TYPED_TEST(ExposureFilterAtDepth, RegionInsideTheWorldWithDifferentRowbytes) {
    checkRegion<TypeParam>(Rect(2, 1, 7, 5), Rect(2, 1, 7, 5));
}

TYPED_TEST(ExposureFilterAtDepth, RegionIsClippedToTheInputWorld) {
    checkRegion<TypeParam>(Rect(-3, -2, 4, 3), Rect(0, 0, 4, 3));
    checkRegion<TypeParam>(Rect(5, 4, 40, 30), Rect(5, 4, 9, 7));
    checkRegion<TypeParam>(Rect(-100, -100, 100, 100), Rect(0, 0, 9, 7));
}

TYPED_TEST(ExposureFilterAtDepth, EmptyOrOutsideRegionsChangeNothing) {
    const Rect nothing(0, 0, 0, 0);
    checkRegion<TypeParam>(Rect(9, 0, 20, 7), nothing);
    checkRegion<TypeParam>(Rect(0, -5, 9, 0), nothing);
    checkRegion<TypeParam>(Rect(5, 2, 5, 6), nothing);
    checkRegion<TypeParam>(Rect(6, 2, 3, 6), nothing);
    checkRegion<TypeParam>(Rect(1, 6, 8, 2), nothing);
}

TYPED_TEST(ExposureFilterAtDepth, LayersOfDifferentSizeAreLeftAlone) {
    using P = TypeParam;
    const int bpc = DepthOf<P>::bpc;
    TestWorld in = randomWorld<P>(6, 4, 0, 3);
    for (const auto& size : {std::pair<int, int>{6, 5}, {5, 4}, {7, 3}}) {
        TestWorld out(size.first, size.second, sizeof(P), 8);
        const std::vector<std::uint8_t> before = out.bytes;
        Layer inLayer(nullptr, nullptr, &in.def, bpc);
        Layer outLayer(nullptr, nullptr, &out.def, bpc);
        Exposure filter(parameter(bpc, 1.0, 1.0));
        filter.execute(inLayer, outLayer, Rect(0, 0, 6, 4));
        filter.execute(inLayer, outLayer);
        EXPECT_EQ(out.bytes, before);
    }
}

TYPED_TEST(ExposureFilterAtDepth, InPlaceEqualsSeparateOutput) {
    using P = TypeParam;
    const int bpc = DepthOf<P>::bpc;
    TestWorld in = randomWorld<P>(8, 5, 32, 21);
    TestWorld separate(8, 5, sizeof(P), 16);
    TestWorld inPlace = in;
    inPlace.def.data = reinterpret_cast<PF_Pixel*>(inPlace.bytes.data());
    Exposure filter(parameter(bpc, 2.2, 0.8));
    Layer inLayer(nullptr, nullptr, &in.def, bpc);
    Layer outLayer(nullptr, nullptr, &separate.def, bpc);
    filter.execute(inLayer, outLayer);
    Layer same(nullptr, nullptr, &inPlace.def, bpc);
    filter.execute(same, same);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 8; ++x) {
            ASSERT_TRUE(samePixel(inPlace.at<P>(x, y), separate.at<P>(x, y))) << x << ", " << y;
        }
    }
}

TYPED_TEST(ExposureFilterAtDepth, WholeLayerFormCoversExactlyTheInputWorld) {
    using P = TypeParam;
    const int bpc = DepthOf<P>::bpc;
    TestWorld in = randomWorld<P>(4, 3, 0, 5);
    TestWorld out(4, 3, sizeof(P), 0);
    Layer inLayer(nullptr, nullptr, &in.def, bpc);
    Layer outLayer(nullptr, nullptr, &out.def, bpc);
    const Exposure::Parameter p = parameter(bpc, -1.5, 2.0);
    Exposure filter(p);
    filter.execute(inLayer, outLayer);
    const Converter converter(p);
    int converted = 0;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            P expected;
            converter.convert(in.at<P>(x, y), expected);
            converted += samePixel(out.at<P>(x, y), expected) ? 1 : 0;
        }
    }
    EXPECT_EQ(converted, 12);
    // Nothing after the 12 pixels was written.
    for (std::size_t b = 12 * sizeof(P); b < out.bytes.size(); ++b) {
        ASSERT_EQ(out.bytes[b], 0xCD);
    }
}

TEST(ExposureFilter, UnknownDepthWritesNothing) {
    TestWorld in = randomWorld<PF_Pixel>(5, 5, 0, 1);
    TestWorld out(5, 5, 4, 0);
    const std::vector<std::uint8_t> before = out.bytes;
    for (int bpc : {-1, 3, 7}) {
        Layer inLayer(nullptr, nullptr, &in.def, bpc);
        Layer outLayer(nullptr, nullptr, &out.def, bpc);
        Exposure filter(parameter(bpc, 1.0, 1.0));
        filter.execute(inLayer, outLayer);
        EXPECT_EQ(out.bytes, before);
    }
}

// Writing at the input's depth into a layer of another depth would run past
// the output's rows; a converter tabulated for another integer depth would
// read past its table. Both are refused.
TEST(ExposureFilter, MismatchedDepthsWriteNothing) {
    TestWorld in8 = randomWorld<PF_Pixel>(6, 4, 0, 1);
    TestWorld out32(6, 4, 16, 0);
    const std::vector<std::uint8_t> before32 = out32.bytes;
    {
        Layer in(nullptr, nullptr, &in8.def, 0);
        Layer out(nullptr, nullptr, &out32.def, 2);
        Exposure(parameter(0, 1.0, 1.0)).execute(in, out);
        EXPECT_EQ(out32.bytes, before32);
    }
    TestWorld in16 = randomWorld<PF_Pixel16>(6, 4, 0, 2);
    TestWorld out16(6, 4, 8, 0);
    const std::vector<std::uint8_t> before16 = out16.bytes;
    {
        Layer in(nullptr, nullptr, &in16.def, 1);
        Layer out(nullptr, nullptr, &out16.def, 1);
        Exposure(parameter(0, 1.0, 1.0)).execute(in, out);
        Exposure(parameter(2, 1.0, 1.0)).execute(in, out);
        EXPECT_EQ(out16.bytes, before16);
    }
    // At 32 bits no table is needed: a record of any depth converts.
    TestWorld inF = randomWorld<PF_PixelFloat>(2, 2, 0, 3);
    TestWorld outF(2, 2, 16, 0);
    Layer in(nullptr, nullptr, &inF.def, 2);
    Layer out(nullptr, nullptr, &outF.def, 2);
    Exposure(parameter(0, 1.0, 1.0)).execute(in, out);
    PF_PixelFloat expected;
    Converter(parameter(2, 1.0, 1.0)).convert(inF.at<PF_PixelFloat>(1, 1), expected);
    EXPECT_TRUE(samePixel(outF.at<PF_PixelFloat>(1, 1), expected));
}

TEST(ExposureFilter, LayersWithoutPixelsAreLeftAlone) {
    TestWorld world = randomWorld<PF_Pixel>(3, 3, 0, 9);
    const std::vector<std::uint8_t> before = world.bytes;
    PF_LayerDef noData = world.def;
    noData.data = nullptr;
    Layer real(nullptr, nullptr, &world.def, 0);
    Layer none(nullptr, nullptr, nullptr, 0);
    Layer empty(nullptr, nullptr, &noData, 0);
    Exposure filter(parameter(0, 3.0, 1.0));
    filter.execute(none, real, Rect(0, 0, 3, 3));
    filter.execute(real, none, Rect(0, 0, 3, 3));
    filter.execute(empty, real, Rect(0, 0, 3, 3));
    filter.execute(real, empty, Rect(0, 0, 3, 3));
    filter.execute(none, none);
    EXPECT_EQ(world.bytes, before);
}

TEST(ExposureFilter, CopiesAreIndependentFilters) {
    TestWorld in = randomWorld<PF_Pixel>(5, 3, 0, 4);
    TestWorld a(5, 3, 4, 0);
    TestWorld b(5, 3, 4, 0);
    TestWorld c(5, 3, 4, 0);
    Layer inLayer(nullptr, nullptr, &in.def, 0);
    Layer aLayer(nullptr, nullptr, &a.def, 0);
    Layer bLayer(nullptr, nullptr, &b.def, 0);
    Layer cLayer(nullptr, nullptr, &c.def, 0);

    const Exposure::Parameter bright = parameter(0, 2.0, 1.0);
    const Exposure::Parameter dark = parameter(0, -2.0, 0.5);
    auto original = std::make_unique<Exposure>(bright);
    Exposure copy(*original);
    original.reset();
    copy.execute(inLayer, aLayer);

    Exposure assigned(dark);
    assigned = copy;
    assigned.execute(inLayer, bLayer);
    Exposure(dark).execute(inLayer, cLayer);

    const Converter brightConverter(bright);
    const Converter darkConverter(dark);
    for (int x = 0; x < 5; ++x) {
        PF_Pixel expectBright;
        PF_Pixel expectDark;
        brightConverter.convert(in.at<PF_Pixel>(x, 2), expectBright);
        darkConverter.convert(in.at<PF_Pixel>(x, 2), expectDark);
        EXPECT_TRUE(samePixel(a.at<PF_Pixel>(x, 2), expectBright));
        EXPECT_TRUE(samePixel(b.at<PF_Pixel>(x, 2), expectBright));
        EXPECT_TRUE(samePixel(c.at<PF_Pixel>(x, 2), expectDark));
    }
}

// ---- Implementation holders ------------------------------------------------

struct Tracked {
    static int alive;
    std::vector<int> values;
    explicit Tracked(std::vector<int> v) : values(std::move(v)) { ++alive; }
    Tracked(const Tracked& o) : values(o.values) { ++alive; }
    Tracked& operator=(const Tracked&) = default;
    ~Tracked() { --alive; }
};
int Tracked::alive = 0;

TEST(ImplHolder, CloneIsDeepAndEachHolderDeletesItsOwn) {
    {
        Morvek::ImplHolder<Tracked> holder(new Tracked({1, 2, 3}));
        std::unique_ptr<Morvek::ImplHolderBase> clone(holder.Clone());
        EXPECT_EQ(Tracked::alive, 2);
        auto* copy = static_cast<Tracked*>(clone->GetPtr());
        EXPECT_NE(copy, holder.GetPtr());
        copy->values[0] = 42;
        EXPECT_EQ(static_cast<const Tracked*>(static_cast<const Morvek::ImplHolderBase&>(holder).GetPtr())->values,
                  (std::vector<int>{1, 2, 3}));
    }
    EXPECT_EQ(Tracked::alive, 0);
}

TEST(ImplHolder, CopyToAssignsIntoHoldersOfTheSameTypeOnly) {
    Morvek::ImplHolder<Tracked> source(new Tracked({7, 8}));
    Morvek::ImplHolder<Tracked> target(new Tracked({1}));
    void* targetObject = target.GetPtr();
    source.CopyTo(&target);
    EXPECT_EQ(target.GetPtr(), targetObject);
    EXPECT_EQ(static_cast<Tracked*>(target.GetPtr())->values, (std::vector<int>{7, 8}));

    Morvek::ImplHolder<std::string> other(new std::string("kept"));
    source.CopyTo(&other);
    source.CopyTo(nullptr);
    EXPECT_EQ(*static_cast<std::string*>(other.GetPtr()), "kept");
}

} // namespace
