// Several effect instances of one loaded module rendering at the same time on
// different host threads, as a host that renders several frames at once does:
// each gives the pixels it gives alone. Run under ThreadSanitizer by CI, this
// also shows that the module keeps no shared mutable state.
#include "StandInTesting.h"

#include <memory>
#include <thread>
#include <vector>

namespace {

using standin::FrameOptions;
using standin::Session;
using standin::World;

struct Job {
    int bits;
    double exposure;
    double gamma;
};

const Job kJobs[] = {{8, 1.25, 1.0}, {16, -0.5, 2.2}, {32, 3.0, 0.45}, {16, 0.75, 1.0}};
constexpr A_long kWidth = 29, kHeight = 13;

// Input pixels valid at every depth: 16-bit channels no higher than full
// scale, float channels finite.
void fillInput(World& w, std::uint32_t seed) {
    w.fillRandom(seed);
    for (A_long y = 0; y < w.height(); ++y) {
        for (A_long x = 0; x < w.width(); ++x) {
            if (w.bitsPerChannel() == 16) {
                PF_Pixel16& p = w.at<PF_Pixel16>(x, y);
                for (A_u_short* c : {&p.alpha, &p.red, &p.green, &p.blue}) {
                    *c = static_cast<A_u_short>(*c % 32769);
                }
            } else if (w.bitsPerChannel() == 32) {
                PF_PixelFloat& p = w.at<PF_PixelFloat>(x, y);
                const std::uint32_t h = seed * 2654435761u + static_cast<std::uint32_t>(y * kWidth + x) * 40503u;
                p = PF_PixelFloat{static_cast<float>(h % 1001) / 1000.0f, static_cast<float>(h % 997) / 500.0f,
                                  static_cast<float>(h % 991) / 990.0f - 0.25f, static_cast<float>(h % 983) / 700.0f};
            }
        }
    }
}

PF_Err renderFrames(Session& s, const Job& job, World& in, World& out, int frames) {
    s.setSlider(1, job.exposure);
    s.setSlider(2, job.gamma);
    FrameOptions fo;
    fo.threads = 3;
    for (int i = 0; i < frames; ++i) {
        const PF_Err err = s.renderFrame(in, out, fo);
        if (err != PF_Err_NONE) {
            return err;
        }
    }
    return PF_Err_NONE;
}

} // namespace

TEST(ConcurrentInstances, EffectsRenderingAtOnceGiveTheirOwnPixels) {
    auto module = standin::testing::LoadPlugin();
    ASSERT_TRUE(module);
    const std::size_t n = std::size(kJobs);
    std::vector<std::unique_ptr<World>> inputs, refs;
    {
        Session alone(module);
        ASSERT_EQ(alone.globalSetup(), PF_Err_NONE);
        ASSERT_EQ(alone.paramsSetup(), PF_Err_NONE);
        for (std::size_t i = 0; i < n; ++i) {
            const PF_PixelFormat f = standin::formatForBits(kJobs[i].bits);
            // Padded rows, whole pixels of padding (the library's stride).
            inputs.push_back(std::make_unique<World>(kWidth, kHeight, f, 16 * static_cast<A_long>(i)));
            fillInput(*inputs.back(), static_cast<std::uint32_t>(i + 11));
            refs.push_back(std::make_unique<World>(kWidth, kHeight, f));
            ASSERT_EQ(renderFrames(alone, kJobs[i], *inputs[i], *refs[i], 1), PF_Err_NONE);
            ASSERT_FALSE(refs[i]->samePixels(*inputs[i])) << "job " << i << " changes nothing";
        }
        EXPECT_EQ(alone.globalSetdown(), PF_Err_NONE);
    }
    ASSERT_FALSE(refs[1]->samePixels(*refs[3])); // same depth, other settings

    standin::Host shared;
    for (bool oneHost : {true, false}) {
        SCOPED_TRACE(oneHost ? "several effects on one host" : "one host per effect");
        std::vector<std::unique_ptr<Session>> sessions;
        std::vector<std::unique_ptr<World>> outs;
        for (std::size_t i = 0; i < n; ++i) {
            sessions.push_back(std::make_unique<Session>(module, oneHost ? &shared : nullptr));
            ASSERT_EQ(sessions[i]->globalSetup(), PF_Err_NONE);
            ASSERT_EQ(sessions[i]->paramsSetup(), PF_Err_NONE);
            outs.push_back(std::make_unique<World>(kWidth, kHeight, standin::formatForBits(kJobs[i].bits), 16));
        }
        std::vector<PF_Err> results(n, PF_Err_NONE);
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < n; ++i) {
            threads.emplace_back(
                [&, i] { results[i] = renderFrames(*sessions[i], kJobs[i], *inputs[i], *outs[i], 20); });
        }
        for (std::thread& t : threads) {
            t.join();
        }
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(results[i], PF_Err_NONE) << "job " << i;
            EXPECT_TRUE(outs[i]->samePixels(*refs[i])) << "job " << i;
            EXPECT_TRUE(outs[i]->guardIntact()) << "job " << i;
            EXPECT_EQ(sessions[i]->globalSetdown(), PF_Err_NONE);
            if (!oneHost) {
                // On a shared host one effect's report would count what the
                // others hold at that moment; the host is checked at the end.
                EXPECT_TRUE(standin::testing::AllCommandsBalanced(*sessions[i]));
            }
        }
        for (auto& s : sessions) {
            EXPECT_NO_HOST_LEAKS(s->host());
        }
    }
}
