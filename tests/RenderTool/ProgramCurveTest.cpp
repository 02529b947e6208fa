// --curve: the picture's curves sit where the 8-bit rule, worked out here
// from its formula, puts three points; and the texts for the user name the
// sliders' units.
#include "CurvePlot.h"
#include "RenderToolSupport.h"

#include <cmath>

namespace {

namespace C = MorvekRender::Curve;

// Mean row of the pixels of colour `c` in column x of the plot; -1 when none.
double meanRow(const rt::Pixels<uint8_t>& png, int x, C::Rgb c) {
    double sum = 0;
    int count = 0;
    for (int y = C::kPlotTop; y <= C::kPlotTop + C::kPlotHeight; ++y) {
        if (png.at(x, y, 0) == c.r && png.at(x, y, 1) == c.g && png.at(x, y, 2) == c.b) {
            sum += y;
            ++count;
        }
    }
    return count ? sum / count : -1.0;
}

int column(double input) {
    return C::kPlotLeft + static_cast<int>(std::floor(input * C::kPlotWidth + 0.5));
}

int row(double output) {
    return C::kPlotTop + C::kPlotHeight - static_cast<int>(std::floor(output * C::kPlotHeight + 0.5));
}

TEST(ProgramCurve, EightBitCurvesSitWhereTheRulePutsThem) {
    const std::string dir = rt::scratchDir();
    const std::string png = dir + "/curve.png";
    const rt::RunResult r = rt::runTool(dir, {"--quiet", "--exposure", "2.2", "--curve", png});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const rt::Pixels<uint8_t> px = rt::readFile<uint8_t>(png);
    ASSERT_EQ(px.width, C::kWidth);
    ASSERT_EQ(px.height, C::kHeight);
    ASSERT_EQ(px.channels, 3);

    // At 8 bits and gamma 1, value v becomes M = v * 1.37035095691681^2.2;
    // a pixel of alpha 128 whose M reaches 255.5 takes alpha M * 128 / 255
    // (at most 255), rounded half up.
    const double gain = std::pow(1.37035095691681, 2.2);
    auto alphaAtHalf = [&](int v) {
        const double m = v * gain;
        return m >= 255.5 ? std::floor(std::min(255.0, m * 128.0 / 255.0) + 0.5) : 128.0;
    };
    int fold = 0;
    while (alphaAtHalf(fold) <= 128.0) {
        ++fold;
    }

    // Opaque colour at input 32: 32 * gain rounds to 64.
    EXPECT_NEAR(meanRow(px, column(32 / 255.0), C::kOpaqueColour), row(std::floor(32 * gain + 0.5) / 255.0), 1.5);
    // Alpha of the half-alpha pixel at input 191.
    EXPECT_NEAR(meanRow(px, column(191 / 255.0), C::kHalfAlpha), row(alphaAtHalf(191) / 255.0), 1.5);
    // The fold marker stands in one column, at the first input that gains alpha.
    std::vector<int> markerColumns;
    for (int x = C::kPlotLeft; x <= C::kPlotLeft + C::kPlotWidth; ++x) {
        int n = 0;
        for (int y = C::kPlotTop; y <= C::kPlotTop + C::kPlotHeight; ++y) {
            n += px.at(x, y, 0) == C::kFold.r && px.at(x, y, 1) == C::kFold.g && px.at(x, y, 2) == C::kFold.b;
        }
        if (n > C::kPlotHeight / 4) {
            markerColumns.push_back(x);
        }
    }
    EXPECT_EQ(markerColumns, std::vector<int>{column(fold / 255.0)});
}

TEST(ProgramCurve, HelpAndInfoSpeakInTheSlidersUnits) {
    const std::string dir = rt::scratchDir();
    const rt::RunResult help = rt::runTool(dir, {"--help"});
    ASSERT_EQ(help.status, 0);
    const rt::RunResult info = rt::runTool(dir, {"--info"});
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* text :
         {"+2.2 doubles it, -2.2 halves it", "v^(1/G)", "0..65535", "folds into alpha", "--working-space linear"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    for (const char* text : {"+2.2 doubles it, -2.2 halves it", "v^(1/gamma)", "slider -4.00..4.00",
                             "registration name \"Error!\"", "not a failure"}) {
        EXPECT_NE(info.out.find(text), std::string::npos) << text << "\n" << info.out;
    }
    // The artist's view comes first.
    EXPECT_LT(info.out.find("in the effect category \"Morvek\""), info.out.find("For plug-in developers"));
}

} // namespace
