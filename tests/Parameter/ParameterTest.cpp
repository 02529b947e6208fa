// Morvek::Parameter against the stand-in host's parameter streams: reads and
// writes of the four value types at a time, the host's value record after a
// write, the sticky error shared by copies, failed construction, suites the
// host cannot supply, and the effect references, streams and values left
// live (none) once the last copy goes.
#include "MorvekParameter.h"
#include "StandInTesting.h"

#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using Morvek::ColorFloat;
using Morvek::Parameter;
using Morvek::Vector;
using Morvek::Vector3d;
using standin::StreamKind;
using standin::TimeKey;

constexpr int kPluginId = 7;
constexpr int kSlider = 1;
constexpr int kPoint = 2;
constexpr int kPoint3d = 3;
constexpr int kColor = 4;

constexpr const char* kStreamSuite = "AEGP Stream Suite";
constexpr const char* kEffectSuite = "AEGP Effect Suite";
constexpr const char* kInterfaceSuite = "AEGP PF Interface Suite";
constexpr const char* kGetEffect = "AEGP PF Interface Suite 1/AEGP_GetNewEffectForEffect";
constexpr const char* kGetStream = "AEGP Stream Suite 9/AEGP_GetNewEffectStreamByIndex";
constexpr const char* kGetValue = "AEGP Stream Suite 9/AEGP_GetNewStreamValue";
constexpr const char* kSetValue = "AEGP Stream Suite 9/AEGP_SetStreamValue";
constexpr const char* kDisposeValue = "AEGP Stream Suite 9/AEGP_DisposeStreamValue";
constexpr const char* kDisposeStream = "AEGP Stream Suite 9/AEGP_DisposeStream";
constexpr const char* kDisposeEffect = "AEGP Effect Suite 2/AEGP_DisposeEffect";

const A_Time kAt{15, 30};      // half a second in
const TimeKey kAtKey{15, 30};  // the same time for the host's tables
const TimeKey kOtherKey{2, 3}; // two thirds of a second

// A value record with all four doubles of the union set, whatever the kind.
AEGP_StreamVal2 record(double a, double b, double c, double d) {
    AEGP_StreamVal2 v{};
    v.color.alphaF = a;
    v.color.redF = b;
    v.color.greenF = c;
    v.color.blueF = d;
    return v;
}

void expectRecord(const AEGP_StreamVal2& v, double a, double b, double c, double d) {
    EXPECT_EQ(v.color.alphaF, a);
    EXPECT_EQ(v.color.redF, b);
    EXPECT_EQ(v.color.greenF, c);
    EXPECT_EQ(v.color.blueF, d);
}

// The code a call throws, or nothing when it returns.
std::optional<PF_Err> thrownCode(const std::function<void()>& call) {
    try {
        call();
    } catch (PF_Err e) {
        return e;
    }
    return std::nullopt;
}

class ParameterTest : public ::testing::Test {
protected:
    void SetUp() override {
        effect.defineParam(kSlider, StreamKind::OneD, record(0.5, 91, 92, 93), "Slider");
        effect.defineParam(kPoint, StreamKind::TwoD, record(10, 20, 93, 94), "Point");
        effect.defineParam(kPoint3d, StreamKind::ThreeD, record(1, 2, 3, 95), "Point 3D");
        effect.defineParam(kColor, StreamKind::Color, record(1, 0.1, 0.2, 0.3), "Colour");
    }
    void TearDown() override {
        if (checkLeaks) {
            EXPECT_NO_HOST_LEAKS(host);
        }
    }

    // Stream-suite calls made since the last clearCalls.
    std::vector<std::string> streamCalls() const {
        std::vector<std::string> out;
        for (const std::string& c : host.calls()) {
            if (c.rfind("AEGP Stream Suite 9/", 0) == 0) {
                out.push_back(c);
            }
        }
        return out;
    }

    standin::Host host;
    standin::Effect& effect = host.createEffect();
    standin::Records rec{host, effect};
    bool checkLeaks = true;
};

// ---- Reads ------------------------------------------------------------------

TEST_F(ParameterTest, ReadsEachTypeAtTheGivenTimeAfterExpressions) {
    effect.setValue(kSlider, record(-3.25, 0, 0, 0), kAtKey);
    effect.setValue(kPoint, record(640.5, -12, 0, 0), kAtKey);
    effect.setExpressionValue(kPoint3d, record(7, 8, 9, 0), kAtKey); // an expression overrides the stored value
    effect.setValue(kColor, record(0.5, 0.25, 0.75, 1), kOtherKey);
    Parameter p(kPluginId, &rec.in);

    double d = 0;
    Vector<double> v;
    Vector3d<double> v3;
    ColorFloat<float> c;
    p.getParameter(d, kSlider, kAt);
    p.getParameter(v, kPoint, kAt);
    p.getParameter(v3, kPoint3d, kAt);
    p.getParameter(c, kColor, kAt); // no value of its own at kAt: the constant one
    EXPECT_EQ(d, -3.25);
    EXPECT_EQ(v.x, 640.5);
    EXPECT_EQ(v.y, -12.0);
    EXPECT_EQ(v3.x, 7.0);
    EXPECT_EQ(v3.y, 8.0);
    EXPECT_EQ(v3.z, 9.0);
    EXPECT_EQ(c.alpha, 1.0f);
    EXPECT_EQ(c.red, 0.1f);
    EXPECT_EQ(c.green, 0.2f);
    EXPECT_EQ(c.blue, 0.3f);

    p.getParameter(d, kSlider, A_Time{0, 1});
    p.getParameter(c, kColor, A_Time{40, 60}); // kOtherKey at another scale
    EXPECT_EQ(d, 0.5);
    EXPECT_EQ(c.alpha, 0.5f);
    EXPECT_EQ(c.red, 0.25f);
    EXPECT_EQ(c.green, 0.75f);
    EXPECT_EQ(c.blue, 1.0f);
    EXPECT_EQ(p.getError(), PF_Err_NONE);
}

// Times are the layer's own: on a layer that starts two seconds into the
// composition, half a second of layer time is two and a half seconds of
// composition time.
TEST_F(ParameterTest, TimesAreTheLayersOnALayerThatStartsLate) {
    effect.setLayerStart(TimeKey{2, 1});
    effect.setValue(kSlider, record(-3.25, 0, 0, 0), kAtKey);
    effect.setValue(kSlider, record(8.5, 0, 0, 0), TimeKey{-3, 2}); // kAt as composition time
    Parameter p(kPluginId, &rec.in);
    double d = 0;
    p.getParameter(d, kSlider, kAt);
    EXPECT_EQ(d, -3.25);
}

TEST_F(ParameterTest, ColourChannelsAreNarrowedToTheNearestFloat) {
    const double third = 1.0 / 3.0;
    const double big = 16777217.0; // 2^24 + 1 lies halfway between two floats: ties go to the even one, 2^24
    effect.setValue(kColor, record(third, -third, big, 1e-3));
    Parameter p(kPluginId, &rec.in);
    ColorFloat<float> c;
    p.getParameter(c, kColor, kAt);

    const double channels[] = {third, -third, 1e-3};
    const float got[] = {c.alpha, c.red, c.blue};
    for (int i = 0; i < 3; ++i) {
        const double x = channels[i];
        const float f = got[i];
        const double err = std::fabs(static_cast<double>(f) - x);
        EXPECT_LE(err, std::fabs(static_cast<double>(std::nextafter(f, 1e30f)) - x)) << i;
        EXPECT_LE(err, std::fabs(static_cast<double>(std::nextafter(f, -1e30f)) - x)) << i;
        EXPECT_NE(static_cast<double>(f), x) << i;
    }
    EXPECT_EQ(c.green, 16777216.0f);
}

TEST_F(ParameterTest, AReadUsesOneStreamAndOneValueAndGivesBothBack) {
    Parameter p(kPluginId, &rec.in);
    host.clearCalls();
    double d = 0;
    p.getParameter(d, kSlider, kAt);
    const std::vector<std::string> expected = {kGetStream, kGetValue, kDisposeValue, kDisposeStream};
    EXPECT_EQ(streamCalls(), expected);
    EXPECT_EQ(host.liveStreams(), 0);
    EXPECT_EQ(host.liveStreamValues(), 0);
}

// ---- Writes -----------------------------------------------------------------

TEST_F(ParameterTest, AWriteReplacesOnlyItsOwnMemberOfTheRecord) {
    Parameter p(kPluginId, &rec.in);
    p.setParameter(4.5, kSlider, kAt);
    p.setParameter(Vector<double>(-1.5, 2.5), kPoint, kAt);
    p.setParameter(Vector3d<double>(11, 12, 13), kPoint3d, kAt);
    EXPECT_EQ(p.getError(), PF_Err_NONE);

    // What the host holds at any time afterwards: the new member, and the
    // rest of the record as the host had it.
    expectRecord(effect.valueAt(kSlider, kOtherKey), 4.5, 91, 92, 93);
    expectRecord(effect.valueAt(kPoint, kOtherKey), -1.5, 2.5, 93, 94);
    expectRecord(effect.valueAt(kPoint3d, kOtherKey), 11, 12, 13, 95);

    // A type smaller than the stream's record leaves the rest of it alone.
    p.setParameter(Vector<double>(0.25, 0.5), kColor, kAt);
    expectRecord(effect.valueAt(kColor, kOtherKey), 0.25, 0.5, 0.2, 0.3);
}

TEST_F(ParameterTest, AWriteStartsFromTheRecordAtItsTime) {
    effect.setValue(kPoint3d, record(-1, -2, -3, -4), kAtKey);
    Parameter p(kPluginId, &rec.in);
    p.setParameter(Vector<double>(5, 6), kPoint3d, kAt);
    expectRecord(effect.valueAt(kPoint3d, kOtherKey), 5, 6, -3, -4);
}

TEST_F(ParameterTest, ColourChannelsAreWidenedExactly) {
    Parameter p(kPluginId, &rec.in);
    p.setParameter(ColorFloat<float>(0.5f, 0.1f, 0.2f, 3.0f), kColor, kAt);
    // The exact decimal values of the floats nearest 0.1 and 0.2.
    expectRecord(effect.valueAt(kColor, kOtherKey), 0.5, 0.100000001490116119384765625, 0.20000000298023223876953125,
                 3.0);

    ColorFloat<float> back;
    p.getParameter(back, kColor, kAt);
    EXPECT_EQ(back.alpha, 0.5f);
    EXPECT_EQ(back.red, 0.1f);
    EXPECT_EQ(back.green, 0.2f);
    EXPECT_EQ(back.blue, 3.0f);
}

TEST_F(ParameterTest, AWriteSetsTheValueAndGivesStreamAndValueBack) {
    Parameter p(kPluginId, &rec.in);
    host.clearCalls();
    p.setParameter(1.0, kSlider, kAt);
    const std::vector<std::string> expected = {kGetStream, kGetValue, kSetValue, kDisposeValue, kDisposeStream};
    EXPECT_EQ(streamCalls(), expected);
}

// ---- Host errors --------------------------------------------------------------

TEST_F(ParameterTest, AnIndexTheEffectLacksStopsEveryLaterCall) {
    Parameter p(kPluginId, &rec.in);
    double d = 42.0;
    p.getParameter(d, 9, kAt);
    EXPECT_EQ(p.getError(), PF_Err_INVALID_INDEX);
    EXPECT_EQ(d, 42.0);

    host.clearCalls();
    Vector<double> v(3, 4);
    ColorFloat<float> c(0.5f, 0.25f, 0.125f, 0.0625f);
    p.getParameter(d, kSlider, kAt);
    p.getParameter(v, kPoint, kAt);
    p.getParameter(c, kColor, kAt);
    p.setParameter(Vector3d<double>(0, 0, 0), kPoint3d, kAt);
    EXPECT_TRUE(streamCalls().empty());
    EXPECT_EQ(d, 42.0);
    EXPECT_EQ(v.x, 3.0);
    EXPECT_EQ(v.y, 4.0);
    EXPECT_EQ(c.alpha, 0.5f);
    EXPECT_EQ(c.blue, 0.0625f);
    expectRecord(effect.valueAt(kPoint3d, kOtherKey), 1, 2, 3, 95);
    EXPECT_EQ(p.getError(), PF_Err_INVALID_INDEX);
}

TEST_F(ParameterTest, CopiesShareTheErrorAndTheLastCopyGivesTheEffectBack) {
    std::optional<Parameter> first(std::in_place, kPluginId, &rec.in);
    Parameter second = *first;
    EXPECT_EQ(host.liveEffectRefs(), 1);

    Vector<double> v(8, 9);
    second.getParameter(v, 0, kAt); // index 0 is the layer: no stream
    EXPECT_EQ(first->getError(), PF_Err_INVALID_INDEX);
    host.clearCalls();
    first->getParameter(v, kPoint, kAt);
    EXPECT_TRUE(streamCalls().empty());
    EXPECT_EQ(v.x, 8.0);

    first.reset();
    EXPECT_EQ(host.liveEffectRefs(), 1);
    EXPECT_EQ(host.callCount(kDisposeEffect), 0);
}

TEST_F(ParameterTest, EveryCopyGoneLeavesNothingLive) {
    {
        Parameter a(kPluginId, &rec.in);
        Parameter b(a);
        Parameter c(kPluginId, &rec.in);
        c = b;
        double d = 0;
        a.getParameter(d, kSlider, kAt);
        c.setParameter(d + 1, kSlider, kAt);
        EXPECT_EQ(host.liveEffectRefs(), 1); // c's own reference went with the assignment
    }
    EXPECT_EQ(host.callCount(kDisposeEffect), 2);
    EXPECT_EQ(host.liveEffectRefs(), 0);
    EXPECT_EQ(host.liveStreams(), 0);
    EXPECT_EQ(host.liveStreamValues(), 0);
    EXPECT_EQ(host.acquireCount(kStreamSuite, 9), host.releaseCount(kStreamSuite, 9));
}

TEST_F(ParameterTest, AFailedValueFetchGivesTheStreamBack) {
    host.failCall(kGetValue, PF_Err_OUT_OF_MEMORY);
    Parameter p(kPluginId, &rec.in);
    ColorFloat<float> c(0.5f, 0.5f, 0.5f, 0.5f);
    p.getParameter(c, kColor, kAt);
    EXPECT_EQ(p.getError(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(c.red, 0.5f);
    EXPECT_EQ(host.callCount(kDisposeStream), 1);
    EXPECT_EQ(host.callCount(kDisposeValue), 0); // nothing was handed out
    EXPECT_EQ(host.liveStreams(), 0);
}

TEST_F(ParameterTest, AFailedWriteIsRecordedAndGivesEverythingBack) {
    host.failCall(kSetValue, PF_Err_INTERNAL_STRUCT_DAMAGED);
    Parameter p(kPluginId, &rec.in);
    p.setParameter(2.0, kSlider, kAt);
    EXPECT_EQ(p.getError(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    expectRecord(effect.valueAt(kSlider, kOtherKey), 0.5, 91, 92, 93);
    EXPECT_EQ(host.liveStreams(), 0);
    EXPECT_EQ(host.liveStreamValues(), 0);
}

TEST_F(ParameterTest, AStreamHandedOutAsNothingIsAnError) {
    host.nullResult(kGetStream); // success, but no stream
    Parameter p(kPluginId, &rec.in);
    double d = 6.0;
    p.getParameter(d, kSlider, kAt);
    EXPECT_EQ(p.getError(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(d, 6.0);
    EXPECT_EQ(host.callCount(kGetValue), 0);
    EXPECT_EQ(host.callCount(kDisposeStream), 0);
}

// ---- Construction ---------------------------------------------------------------

TEST_F(ParameterTest, AFailedConstructionHoldsNoEffectAndDisposesNone) {
    host.failCall(kGetEffect, PF_Err_OUT_OF_MEMORY);
    {
        Parameter p(kPluginId, &rec.in);
        EXPECT_EQ(p.getError(), PF_Err_OUT_OF_MEMORY);
        double d = 1.5;
        p.getParameter(d, kSlider, kAt);
        p.setParameter(d, kSlider, kAt);
        EXPECT_EQ(d, 1.5);
    }
    EXPECT_TRUE(streamCalls().empty());
    EXPECT_EQ(host.callCount(kDisposeEffect), 0);
}

TEST_F(ParameterTest, AnEffectHandedOutAsNothingIsAnError) {
    host.nullResult(kGetEffect); // success, but no reference
    {
        Parameter p(kPluginId, &rec.in);
        EXPECT_EQ(p.getError(), PF_Err_INTERNAL_STRUCT_DAMAGED);
        double d = 1.5;
        p.getParameter(d, kSlider, kAt);
    }
    EXPECT_TRUE(streamCalls().empty());
    EXPECT_EQ(host.callCount(kDisposeEffect), 0);
}

TEST_F(ParameterTest, OutsideAnEffectsCommandTheHostsErrorIsRecorded) {
    rec.in.effect_ref = nullptr;
    {
        Parameter p(kPluginId, &rec.in);
        EXPECT_NE(p.getError(), PF_Err_NONE);
        double d = 0;
        p.getParameter(d, kSlider, kAt);
    }
    EXPECT_TRUE(streamCalls().empty());
    EXPECT_EQ(host.callCount(kDisposeEffect), 0);
    host.clearMisuse(); // the host notes the unknown effect_ref
}

// ---- Suites the host cannot supply ---------------------------------------------

TEST_F(ParameterTest, AMissingInterfaceSuiteFailsTheConstructor) {
    host.withholdSuite(kInterfaceSuite, 1);
    EXPECT_EQ(thrownCode([&] { Parameter p(kPluginId, &rec.in); }), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.liveEffectRefs(), 0);
}

TEST_F(ParameterTest, NoBrokerFailsTheConstructor) {
    rec.in.pica_basicP = nullptr;
    EXPECT_EQ(thrownCode([&] { Parameter p(kPluginId, &rec.in); }), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(thrownCode([&] { Parameter p(kPluginId, nullptr); }), PF_Err_BAD_CALLBACK_PARAM);
}

// Without the effect suite a reference could never be given back, so none is taken.
TEST_F(ParameterTest, AMissingEffectSuiteFailsTheConstructorBeforeAnyReference) {
    host.withholdSuite(kEffectSuite, 2);
    EXPECT_EQ(thrownCode([&] { Parameter p(kPluginId, &rec.in); }), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.callCount(kGetEffect), 0);
    EXPECT_EQ(host.liveEffectRefs(), 0);
}

TEST_F(ParameterTest, AMissingStreamSuiteFailsTheCallOnly) {
    Parameter p(kPluginId, &rec.in);
    host.withholdSuite(kStreamSuite, 9);
    Vector3d<double> v(4, 5, 6);
    EXPECT_EQ(thrownCode([&] { p.getParameter(v, kPoint3d, kAt); }), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(thrownCode([&] { p.setParameter(v, kPoint3d, kAt); }), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(v.x, 4.0);
    EXPECT_EQ(p.getError(), PF_Err_NONE);
    expectRecord(effect.valueAt(kPoint3d, kOtherKey), 1, 2, 3, 95);

    host.withholdSuite(kStreamSuite, 9, false);
    p.getParameter(v, kPoint3d, kAt);
    EXPECT_EQ(v.z, 3.0);
}

TEST_F(ParameterTest, DestructionWithTheEffectSuiteGoneStillGivesTheReferenceBack) {
    std::optional<Parameter> p(std::in_place, kPluginId, &rec.in);
    host.withholdSuite(kEffectSuite, 2);
    EXPECT_EQ(thrownCode([&] { p.reset(); }), std::nullopt);
    EXPECT_EQ(host.callCount(kDisposeEffect), 1);
    EXPECT_EQ(host.liveEffectRefs(), 0);
}

TEST_F(ParameterTest, AFailingDisposalDoesNotEscapeTheDestructor) {
    host.failCall(kDisposeEffect, PF_Err_INTERNAL_STRUCT_DAMAGED);
    std::optional<Parameter> p(std::in_place, kPluginId, &rec.in);
    EXPECT_EQ(thrownCode([&] { p.reset(); }), std::nullopt);
    EXPECT_EQ(host.callCount(kDisposeEffect), 1);
}

} // namespace
