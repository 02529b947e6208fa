// Pixel worlds: geometry and formats, the world suites, the fill suite and
// utils->copy, with clipping and validation.
#include "StandInTesting.h"

#include <cstring>

using standin::Host;
using standin::World;

namespace {

template <class Suite> const Suite* acquire(Host& host, const char* name, int version) {
    const void* s = nullptr;
    host.broker()->AcquireSuite(name, version, &s);
    return static_cast<const Suite*>(s);
}

class Worlds : public ::testing::Test {
protected:
    Host host;
    standin::Effect& effect = host.createEffect();
    Host::Scope scope{host};
    PF_ProgPtr ref = effect.ref();
};

} // namespace

TEST(World, PaddedRowsFormatsAndRegistry) {
    World w(7, 3, PF_PixelFormat_ARGB32, 4);
    EXPECT_EQ(w.rowbytes(), 32);
    EXPECT_EQ(w.byteSize(), 96u);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(&w.at<PF_Pixel>(0, 1)) - w.bytes(), 32);
    World deep(5, 2, PF_PixelFormat_ARGB64, 3);
    EXPECT_EQ(deep.rowbytes(), 43);
    EXPECT_EQ(deep.def()->world_flags & PF_WorldFlag_DEEP, PF_WorldFlag_DEEP);
    World flt(2, 2, PF_PixelFormat_BGRA128);
    EXPECT_EQ(flt.pixelSize(), 16);
    EXPECT_EQ(flt.bitsPerChannel(), 32);
    World odd(3, 3, 0x12345678, 0, 6);
    EXPECT_EQ(odd.pixelSize(), 6);
    EXPECT_EQ(odd.bitsPerChannel(), 0);

    // A copy of the record is recognised by its data; a record that claims
    // more memory than the world has is not.
    PF_EffectWorld copy = *w.def();
    EXPECT_EQ(World::find(&copy), &w);
    copy.height = 4;
    EXPECT_EQ(World::find(&copy), nullptr);
    PF_EffectWorld stranger{};
    EXPECT_EQ(World::find(&stranger), nullptr);

    EXPECT_TRUE(w.guardIntact());
    w.bytes()[w.byteSize()] = 0;
    EXPECT_FALSE(w.guardIntact());
}

TEST_F(Worlds, WorldSuitesMakeCountAndDisposeWorlds) {
    auto* w1 = acquire<PF_WorldSuite1>(host, "PF World Suite", 1);
    auto* w2 = acquire<PF_WorldSuite2>(host, "PF World Suite", 2);
    PF_EffectWorld a{}, b{}, c{};
    EXPECT_EQ(w1->new_world(ref, 4, 3, PF_NewWorldFlag_CLEAR_PIXELS, &a), PF_Err_NONE);
    EXPECT_EQ(w1->new_world(ref, 4, 3, PF_NewWorldFlag_CLEAR_PIXELS | PF_NewWorldFlag_DEEP_PIXELS, &b), PF_Err_NONE);
    EXPECT_EQ(w2->PF_NewWorld(ref, 2, 2, 1, PF_PixelFormat_ARGB128, &c), PF_Err_NONE);
    EXPECT_EQ(host.liveWorlds(), 3);
    EXPECT_EQ(a.rowbytes, 16);
    EXPECT_EQ(b.rowbytes, 32);
    EXPECT_EQ(c.rowbytes, 32);
    for (int i = 0; i < 16 * 3; ++i) {
        EXPECT_EQ(reinterpret_cast<std::uint8_t*>(a.data)[i], 0);
    }
    PF_PixelFormat f = 0;
    EXPECT_EQ(w2->PF_GetPixelFormat(&a, &f), PF_Err_NONE);
    EXPECT_EQ(f, PF_PixelFormat_ARGB32);
    EXPECT_EQ(w2->PF_GetPixelFormat(&b, &f), PF_Err_NONE);
    EXPECT_EQ(f, PF_PixelFormat_ARGB64);
    EXPECT_EQ(w2->PF_GetPixelFormat(&c, &f), PF_Err_NONE);
    EXPECT_EQ(f, PF_PixelFormat_ARGB128);

    PF_EffectWorld bad{};
    EXPECT_EQ(w2->PF_NewWorld(ref, 2, 2, 1, 0x11111111, &bad), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(w1->new_world(ref, -1, 2, 0, &bad), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.liveWorlds(), 3);

    EXPECT_EQ(w1->dispose_world(ref, &a), PF_Err_NONE);
    EXPECT_EQ(w1->dispose_world(ref, &b), PF_Err_NONE);
    EXPECT_EQ(w2->PF_DisposeWorld(ref, &c), PF_Err_NONE);
    EXPECT_EQ(host.liveWorlds(), 0);
    // A world the host did not make cannot be disposed of.
    World mine(2, 2, PF_PixelFormat_ARGB32);
    EXPECT_EQ(w1->dispose_world(ref, mine.def()), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.leaks().misuse.size(), 1u);
    host.clearMisuse();
    host.broker()->ReleaseSuite("PF World Suite", 1);
    host.broker()->ReleaseSuite("PF World Suite", 2);
    EXPECT_NO_HOST_LEAKS(host);
}

TEST_F(Worlds, PixelFormatOfEveryKnownCodeAndOfStrangers) {
    auto* w2 = acquire<PF_WorldSuite2>(host, "PF World Suite", 2);
    for (PF_PixelFormat fmt : {PF_PixelFormat_ARGB32, PF_PixelFormat_BGRA32, PF_PixelFormat_ARGB64,
                               PF_PixelFormat_ARGB128, PF_PixelFormat_BGRA128}) {
        World w(3, 2, fmt, 5);
        PF_PixelFormat got = 0;
        EXPECT_EQ(w2->PF_GetPixelFormat(w.def(), &got), PF_Err_NONE);
        EXPECT_EQ(got, fmt);
    }
    PF_EffectWorld stranger{};
    PF_PixelFormat got = 0;
    EXPECT_EQ(w2->PF_GetPixelFormat(&stranger, &got), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(got, PF_PixelFormat_INVALID);
    host.clearMisuse();
    host.broker()->ReleaseSuite("PF World Suite", 2);
}

TEST_F(Worlds, FillClipsToTheWorldAndMatchesDepth) {
    auto* fm = acquire<PF_FillMatteSuite2>(host, "PF Fill Matte Suite", 2);
    World w(4, 3, PF_PixelFormat_ARGB32, 8);
    w.fillBytes(0x11);
    const PF_Pixel red{255, 200, 10, 20};
    const PF_LRect r{2, 1, 10, 10}; // reaches beyond the world
    EXPECT_EQ(fm->fill(ref, &red, &r, w.def()), PF_Err_NONE);
    for (A_long y = 0; y < 3; ++y) {
        for (A_long x = 0; x < 4; ++x) {
            const PF_Pixel& p = w.at<PF_Pixel>(x, y);
            const bool inside = x >= 2 && y >= 1;
            EXPECT_EQ(p.red, inside ? 200 : 0x11) << x << "," << y;
            EXPECT_EQ(p.alpha, inside ? 255 : 0x11);
        }
        // Padding untouched.
        EXPECT_EQ(w.row(y)[16], 0x11);
    }
    EXPECT_TRUE(w.guardIntact());

    const PF_Pixel16 grey{32768, 16384, 16384, 16384};
    EXPECT_EQ(fm->fill16(ref, &grey, nullptr, w.def()), PF_Err_BAD_CALLBACK_PARAM);
    World deep(2, 2, PF_PixelFormat_ARGB64);
    EXPECT_EQ(fm->fill16(ref, &grey, nullptr, deep.def()), PF_Err_NONE);
    EXPECT_EQ(deep.at<PF_Pixel16>(1, 1).alpha, 32768);

    World bgra(1, 1, PF_PixelFormat_BGRA128);
    const PF_PixelFloat c{1.0f, 0.25f, 0.5f, 0.75f};
    EXPECT_EQ(fm->fill_float(ref, &c, nullptr, bgra.def()), PF_Err_NONE);
    const float* mem = reinterpret_cast<const float*>(bgra.bytes());
    EXPECT_EQ(mem[0], 0.75f); // blue first in memory
    EXPECT_EQ(mem[3], 1.0f);  // alpha last
    host.clearMisuse();
    host.broker()->ReleaseSuite("PF Fill Matte Suite", 2);
}

TEST_F(Worlds, CopyWithRegionsClipsAndValidates) {
    standin::Records rec(host, effect);
    World src(4, 4, PF_PixelFormat_ARGB32, 4);
    World dst(3, 3, PF_PixelFormat_ARGB32, 12);
    for (A_long y = 0; y < 4; ++y) {
        for (A_long x = 0; x < 4; ++x) {
            src.at<PF_Pixel>(x, y) = PF_Pixel{255, static_cast<A_u_char>(x), static_cast<A_u_char>(y), 7};
        }
    }
    dst.fillBytes(0xEE);
    // Whole worlds: the overlap, 3 x 3 from the top-left corners.
    EXPECT_EQ(rec.in.utils->copy(ref, src.def(), dst.def(), nullptr, nullptr), PF_Err_NONE);
    EXPECT_EQ(dst.at<PF_Pixel>(2, 2).red, 2);
    EXPECT_EQ(dst.at<PF_Pixel>(2, 2).green, 2);
    EXPECT_EQ(dst.row(0)[12], 0xEE); // padding untouched

    // Regions: source (2,2)-(6,6) clips to 2 x 2; destination (1,0)-(3,3).
    dst.fillBytes(0);
    PF_LRect sr{2, 2, 6, 6}, dr{1, 0, 3, 3};
    EXPECT_EQ(rec.in.utils->copy(ref, src.def(), dst.def(), &sr, &dr), PF_Err_NONE);
    EXPECT_EQ(dst.at<PF_Pixel>(1, 0).red, 2);
    EXPECT_EQ(dst.at<PF_Pixel>(1, 0).green, 2);
    EXPECT_EQ(dst.at<PF_Pixel>(2, 1).red, 3);
    EXPECT_EQ(dst.at<PF_Pixel>(2, 1).green, 3);
    EXPECT_EQ(dst.at<PF_Pixel>(0, 0).alpha, 0);
    EXPECT_EQ(dst.at<PF_Pixel>(1, 2).alpha, 0);
    EXPECT_TRUE(dst.guardIntact());

    World deep(3, 3, PF_PixelFormat_ARGB64);
    EXPECT_EQ(rec.in.utils->copy(ref, src.def(), deep.def(), nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    PF_EffectWorld stranger = *src.def();
    stranger.rowbytes = 1000;
    EXPECT_EQ(rec.in.utils->copy(ref, &stranger, dst.def(), nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.leaks().misuse.size(), 2u);
}
