// Every host call of a whole session failed in turn. A probe session records
// each call the module and the library make: GlobalSetup, ParamsSetup, the
// library's layer operations and parameter access at each depth, one frame at
// each depth, GlobalSetdown. The sweep then replays the session once per
// recorded call with that call failing (with an error, and with a null
// result), and checks the code each step returns, that every host resource
// is given back (all but the global data, when the host refuses GlobalSetdown
// the suite to free it) and that a failed frame leaves its output world as
// it was.
//
// The list of injection points comes from the recording, so a host call added
// later is swept without touching this file.
#include "MorvekLayer.h"
#include "MorvekParameter.h"
#include "StandInTesting.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using standin::FaultKind;
using standin::FrameOptions;
using standin::Session;
using standin::World;

constexpr PF_Err kInjected = 1234; // a code no host call returns by itself
constexpr int kPluginId = 3;
constexpr int kPoint = 3, kPoint3d = 4, kColor = 5;

enum class Step { GlobalSetup, ParamsSetup, Layers, Parameters, Frame, GlobalSetdown };

const char* stepName(Step s) {
    switch (s) {
    case Step::GlobalSetup:
        return "GlobalSetup";
    case Step::ParamsSetup:
        return "ParamsSetup";
    case Step::Layers:
        return "layer operations";
    case Step::Parameters:
        return "parameter access";
    case Step::Frame:
        return "frame";
    case Step::GlobalSetdown:
        return "GlobalSetdown";
    }
    return "?";
}

struct StepResult {
    Step step;
    int bits; // 0 for the steps without a depth
    PF_Err code;
    std::size_t callsAfter; // length of the call log once the step ended
    bool outputUntouched;   // frames: the output world is as it was, or the frame succeeded
};

// What a library user does between commands: each operation checked as it is
// made, the first failure ends the sequence. A missing suite arrives as the
// suite handler's thrown code, caught where a command's boundary would.
PF_Err layerOperations(Session& s, int bits) {
    const int bpc = bits == 8 ? 0 : bits == 16 ? 1 : 2;
    World input(6, 4, standin::formatForBits(bits), 8);
    input.fillRandom(static_cast<std::uint32_t>(bits));
    s.effect().setInputLayer(&input);
    PF_Err code = PF_Err_NONE;
    {
        standin::Records rec(s.host(), s.effect());
        try {
            Morvek::Layer checkedOut(&rec.in, &rec.out, 0, A_Time{0, 30}, bpc);
            Morvek::Layer made(&rec.in, &rec.out, 6, 4, bpc);
            code = checkedOut.getError() != PF_Err_NONE ? checkedOut.getError() : made.getError();
            if (code == PF_Err_NONE) {
                made.fill(Morvek::ColorFloat<float>(1.0f, 0.5f, 0.25f, 0.0f));
                code = made.getError();
            }
            if (code == PF_Err_NONE) {
                checkedOut.copyTo(made);
                code = checkedOut.getError();
            }
            if (code == PF_Err_NONE) {
                Morvek::Layer copy = made.clone();
                code = made.getError() != PF_Err_NONE ? made.getError() : copy.getError();
                if (code == PF_Err_NONE) {
                    copy.fill(Morvek::ColorFloat<float>(0.5f, 0.0f, 1.0f, 0.0f), Morvek::Rect(1, 1, 3, 2));
                    code = copy.getError();
                }
            }
        } catch (PF_Err thrown) {
            code = thrown;
        }
    }
    s.effect().setInputLayer(nullptr);
    return code;
}

PF_Err parameterAccess(Session& s) {
    standin::Records rec(s.host(), s.effect());
    try {
        Morvek::Parameter p(kPluginId, &rec.in);
        const A_Time at{0, 30};
        double d = 0.0;
        Morvek::Vector<double> v;
        Morvek::Vector3d<double> v3;
        Morvek::ColorFloat<float> c;
        p.getParameter(d, 1, at);
        p.setParameter(d + 1.0, 1, at);
        p.getParameter(v, kPoint, at);
        p.setParameter(v, kPoint, at);
        p.getParameter(v3, kPoint3d, at);
        p.setParameter(v3, kPoint3d, at);
        p.getParameter(c, kColor, at);
        p.setParameter(c, kColor, at);
        return p.getError();
    } catch (PF_Err thrown) {
        return thrown;
    }
}

// The whole session; one result per step.
std::vector<StepResult> wholeSession(Session& s) {
    std::vector<StepResult> r;
    auto note = [&](Step step, int bits, PF_Err code, bool untouched = true) {
        r.push_back(StepResult{step, bits, code, s.host().calls().size(), untouched});
    };
    note(Step::GlobalSetup, 0, s.globalSetup());
    note(Step::ParamsSetup, 0, s.paramsSetup());
    AEGP_StreamVal2 v{};
    v.two_d = AEGP_TwoDVal{10.0, 20.0};
    s.effect().defineParam(kPoint, standin::StreamKind::TwoD, v, "Point");
    v.three_d = AEGP_ThreeDVal{1.0, 2.0, 3.0};
    s.effect().defineParam(kPoint3d, standin::StreamKind::ThreeD, v, "Point 3D");
    v.color = AEGP_ColorVal{1.0, 0.1, 0.2, 0.3};
    s.effect().defineParam(kColor, standin::StreamKind::Color, v, "Colour");
    for (int bits : {8, 16, 32}) {
        note(Step::Layers, bits, layerOperations(s, bits));
    }
    note(Step::Parameters, 0, parameterAccess(s));
    for (int bits : {8, 16, 32}) {
        World in(5, 3, standin::formatForBits(bits), 4);
        World out(5, 3, standin::formatForBits(bits), 8);
        in.fillRandom(static_cast<std::uint32_t>(bits + 1));
        out.fillRandom(static_cast<std::uint32_t>(bits + 2));
        std::vector<std::uint8_t> before(out.bytes(), out.bytes() + out.byteSize());
        FrameOptions fo;
        fo.threads = 2;
        const PF_Err code = s.renderFrame(in, out, fo);
        const bool same = std::memcmp(before.data(), out.bytes(), before.size()) == 0;
        note(Step::Frame, bits, code, code == PF_Err_NONE || same);
        EXPECT_TRUE(in.guardIntact() && out.guardIntact());
    }
    note(Step::GlobalSetdown, 0, s.globalSetdown());
    return r;
}

bool contains(const std::string& s, const char* part) {
    return s.find(part) != std::string::npos;
}

// The code a step returns when `call` fails with an error inside it: 516
// for a suite the host refuses; 512 when GlobalSetup gets no handle, 4 when
// another step does; 516 when a lock outside GlobalSetup and pre-render
// yields nothing; otherwise the host's own code, passed through (a failed
// parameter write included: it is reported, not lost). Failed releases,
// disposals, check-ins and unlocks cannot be mended by the caller and change
// no result; nor does the thread count render asks for and discards (the
// driver asks again), nor strcpy, whose null the name buffer survives, nor
// the world suite a created layer holds for its disposal (without it the
// layer acquires the suite again when it disposes of the world).
PF_Err expectedError(const std::string& call, const std::string& previous, Step step, bool preRender,
                     bool firstInStep) {
    if (contains(call, "SPBasic/AcquireSuite:PF World Suite") &&
        (contains(previous, "/new_world") || contains(previous, "/PF_NewWorld"))) {
        return PF_Err_NONE;
    }
    if (contains(call, "SPBasic/AcquireSuite:")) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (contains(call, "SPBasic/ReleaseSuite:") || contains(call, "ispose") || contains(call, "checkin") ||
        contains(call, "unlock") || contains(call, "ansi.strcpy")) {
        return PF_Err_NONE;
    }
    if (contains(call, "AEGP_GetNumThreads") && firstInStep) {
        return PF_Err_NONE;
    }
    if (contains(call, "host_new_handle")) {
        return step == Step::GlobalSetup ? PF_Err_INTERNAL_STRUCT_DAMAGED : PF_Err_OUT_OF_MEMORY;
    }
    if (contains(call, "host_lock_handle")) {
        if (step == Step::GlobalSetup) {
            return PF_Err_NONE; // no global data, and no error
        }
        return preRender ? PF_Err_OUT_OF_MEMORY : PF_Err_BAD_CALLBACK_PARAM;
    }
    return kInjected;
}

// The same for a call that hands back nothing (null handle, pointer, suite,
// world, no pixels) or, when it has nothing to hand back, does nothing, while
// reporting success. -1: the step may take it either way, as long as it
// invents no code and leaves nothing behind.
PF_Err expectedNull(const std::string& call, const std::string& previous, Step step, bool preRender, bool firstInStep) {
    if (contains(call, "SPBasic/AcquireSuite:") || contains(call, "host_new_handle") ||
        contains(call, "host_lock_handle")) {
        return expectedError(call, previous, step, preRender, firstInStep);
    }
    if (contains(call, "SPBasic/ReleaseSuite:") || contains(call, "ispose") || contains(call, "checkin") ||
        contains(call, "unlock") || contains(call, "ansi.strcpy") || contains(call, "AEGP_RegisterWithAEGP") ||
        contains(call, "AEGP_GetNumThreads")) {
        return PF_Err_NONE; // an id never used; at least one band all the same
    }
    if (step == Step::Frame && contains(call, "inter.checkout_param")) {
        return PF_Err_NONE; // an empty definition reads as zero
    }
    return -1;
}
} // namespace

TEST(FaultSweep, EveryHostCallOfAWholeSessionFailedInTurn) {
    auto module = standin::testing::LoadPlugin();
    ASSERT_TRUE(module);
    Session probe(module);
    const std::vector<StepResult> clean = wholeSession(probe);
    ASSERT_TRUE(standin::testing::AllCommandsBalanced(probe));
    for (const StepResult& r : clean) {
        ASSERT_EQ(r.code, PF_Err_NONE) << stepName(r.step) << " " << r.bits;
    }
    const std::vector<standin::HostCall> calls = probe.host().callRecords();
    ASSERT_EQ(calls.size(), clean.back().callsAfter);

    struct Point {
        std::string call;
        standin::HostCall record;
        long nth;
        std::size_t step; // index into the step results
        bool preRender;
        bool firstInStep;     // the first call of its name in its step
        std::string previous; // the two calls before it
    };
    std::vector<Point> points;
    std::map<std::string, long> seen;
    std::map<std::string, std::size_t> lastStep;
    std::size_t step = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        while (i >= clean[step].callsAfter) {
            ++step;
        }
        const std::string& name = calls[i].name;
        const long nth = ++seen[name];
        const bool first = nth == 1 || lastStep[name] != step;
        lastStep[name] = step;
        // The two calls before this one, for the expectations that depend on them.
        std::string previous = i > 0 ? calls[i - 1].name : std::string();
        if (i > 1) {
            previous += " " + calls[i - 2].name;
        }
        const bool preRender = calls[i].command == standin::commandName(PF_Cmd_SMART_PRE_RENDER);
        points.push_back(Point{name, calls[i], nth, step, preRender, first, previous});
    }

    int runs = 0;
    for (const Point& p : points) {
        for (FaultKind kind : {FaultKind::Error, FaultKind::NullResult}) {
            const char* kindName = kind == FaultKind::Error ? "error" : "null";
            SCOPED_TRACE(p.call + " #" + std::to_string(p.nth) + " " + kindName + " in " +
                         stepName(clean[p.step].step) + " " + std::to_string(clean[p.step].bits));
            Session s(module);
            s.host().addFault(standin::FaultRule{p.call, kind, kInjected, p.nth});
            const std::vector<StepResult> got = wholeSession(s);
            ++runs;
            EXPECT_EQ(s.host().faultsFired(), 1);
            if (standin::testing::IsGlobalSetdownHandleSuite(p.record)) {
                EXPECT_TRUE(standin::testing::OnlyGlobalDataLeft(s, sizeof(AEGP_PluginID)));
            } else {
                EXPECT_TRUE(standin::testing::AllCommandsBalanced(s));
                EXPECT_EQ(s.host().liveHandles(), 0);
                EXPECT_NO_HOST_LEAKS(s.host());
            }
            ASSERT_EQ(got.size(), clean.size());
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_TRUE(got[i].outputUntouched)
                    << "frame " << got[i].bits << " failed with " << got[i].code << " but wrote to its output";
                if (i < p.step) {
                    EXPECT_EQ(got[i].code, PF_Err_NONE) << stepName(got[i].step) << " " << got[i].bits;
                    continue;
                }
                if (i > p.step) {
                    // One failure, once: later steps are unaffected, except
                    // that an effect whose parameters were not all added
                    // has none to read.
                    if (clean[p.step].step == Step::ParamsSetup) {
                        EXPECT_NE(got[i].code, kInjected);
                    } else {
                        EXPECT_EQ(got[i].code, PF_Err_NONE) << stepName(got[i].step) << " " << got[i].bits;
                    }
                    continue;
                }
                const PF_Err want = kind == FaultKind::Error
                                        ? expectedError(p.call, p.previous, clean[i].step, p.preRender, p.firstInStep)
                                        : expectedNull(p.call, p.previous, clean[i].step, p.preRender, p.firstInStep);
                if (want >= 0) {
                    EXPECT_EQ(got[i].code, want) << "from the failing step";
                } else {
                    // An empty result taken as success: the step reports it
                    // as a host error of its own or goes on without it, but
                    // never passes off a code it was not given.
                    EXPECT_NE(got[i].code, kInjected);
                }
            }
        }
    }
    std::printf("fault injection: %zu injection points (host calls of the session), %d sessions replayed\n",
                points.size(), runs);
}

// A created world goes back to the suite that made it, held from creation on:
// a host that refuses that suite by the time the layer is destroyed does not
// keep the world alive.
TEST(FaultSweep, CreatedWorldsGoBackWhenTheWorldSuiteIsRefusedAtDisposal) {
    for (int bpc : {0, 1, 2}) {
        SCOPED_TRACE(bpc);
        standin::Host host;
        standin::Effect& effect = host.createEffect();
        {
            standin::Records rec(host, effect);
            Morvek::Layer made(&rec.in, &rec.out, 5, 3, bpc);
            ASSERT_EQ(made.getError(), PF_Err_NONE);
            EXPECT_EQ(host.liveWorlds(), 1);
            host.withholdSuite("PF World Suite", bpc == 2 ? 2 : 1);
        }
        EXPECT_EQ(host.liveWorlds(), 0);
        EXPECT_NO_HOST_LEAKS(host);
    }
}
