// --working-space linear: files decoded to linear light before the effect
// and encoded after; at exposure 0 and gamma 1 every file comes back as it
// was, and +2.2 doubles the linear value, worked out here with the sRGB
// formulas.
#include "RenderToolSupport.h"

#include <OpenImageIO/half.h>

namespace {

using rt::Pixels;

template <class T>
void expectUnchanged(const std::string& dir, const std::string& name, const Pixels<T>& in, OIIO::TypeDesc type) {
    SCOPED_TRACE(name);
    const std::string src = dir + "/" + name, dst = dir + "/out-" + name;
    rt::writeFile(src, in, type, type.basetype != OIIO::TypeDesc::HALF && type.basetype != OIIO::TypeDesc::FLOAT);
    const rt::RunResult r = rt::runTool(dir, {"--working-space", "linear", src, dst});
    ASSERT_EQ(r.status, 0) << r.err;
    const Pixels<T> stored = rt::readFile<T>(src), out = rt::readFile<T>(dst);
    ASSERT_EQ(out.data.size(), stored.data.size());
    for (std::size_t i = 0; i < stored.data.size(); ++i) {
        ASSERT_EQ(out.data[i], stored.data[i]) << "sample " << i;
    }
}

TEST(ProgramWorkingSpace, LinearRoundTripAtExposureZeroIsExact) {
    const std::string dir = rt::scratchDir();
    // Every 8-bit value in every channel, under four alphas.
    Pixels<uint8_t> p8{256, 4, 4, {}};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 256; ++x) {
            p8.data.insert(p8.data.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(255 - x),
                                           static_cast<uint8_t>((x * 7) % 256), static_cast<uint8_t>(y * 85)});
        }
    }
    expectUnchanged(dir, "srgb8.png", p8, OIIO::TypeDesc::UINT8);

    Pixels<uint16_t> p16{512, 2, 4, {}};
    for (int i = 0; i < 1024; ++i) {
        const auto v = static_cast<uint16_t>((i * 64 + i / 7) % 65536);
        p16.data.insert(p16.data.end(), {v, static_cast<uint16_t>(65535 - v), static_cast<uint16_t>(v / 3),
                                         static_cast<uint16_t>(i < 512 ? 65535 : 32768 + i)});
    }
    expectUnchanged(dir, "srgb16.png", p16, OIIO::TypeDesc::UINT16);

    // Linear, premultiplied, values the half type holds, opaque and not.
    Pixels<float> pf{64, 2, 4, {}};
    for (int i = 0; i < 128; ++i) {
        const float a = i < 64 ? 1.0f : static_cast<float>(half(i / 128.0f));
        const float v = static_cast<float>(half(i / 127.0f));
        pf.data.insert(pf.data.end(), {v * a, static_cast<float>(half(v * v)) * a, 0.25f * a, a});
    }
    expectUnchanged(dir, "linear.exr", pf, OIIO::TypeDesc::FLOAT);
    expectUnchanged(dir, "linear-half.exr", pf, OIIO::TypeDesc::HALF);
}

// sRGB's transfer function and its inverse (IEC 61966-2-1).
double srgbToLinear(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double linearToSrgb(double l) {
    return l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
}

TEST(ProgramWorkingSpace, ExposureTwoPointTwoDoublesTheLinearValue) {
    const std::string dir = rt::scratchDir();
    // A 16-bit TIFF declares no colour space and counts as sRGB; the greys
    // are 0.09, 0.18 (mid-grey) and 0.36 of linear light.
    Pixels<uint16_t> in{3, 1, 3, {}};
    for (double linear : {0.09, 0.18, 0.36}) {
        const auto v = static_cast<uint16_t>(std::floor(linearToSrgb(linear) * 65535.0 + 0.5));
        in.data.insert(in.data.end(), {v, v, v});
    }
    rt::writeFile(dir + "/grey.tif", in, OIIO::TypeDesc::UINT16);
    const rt::RunResult r = rt::runTool(
        dir, {"--quiet", "--working-space", "linear", "--exposure", "2.2", dir + "/grey.tif", dir + "/out.tif"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const Pixels<uint16_t> out = rt::readFile<uint16_t>(dir + "/out.tif");
    const double gain = std::pow(1.37035095691681, 2.2);
    for (int x = 0; x < 3; ++x) {
        const double doubled = gain * srgbToLinear(in.at(x, 0, 0) / 65535.0);
        const long want = static_cast<long>(std::floor(linearToSrgb(doubled) * 65535.0 + 0.5));
        EXPECT_EQ(out.at(x, 0, 0), want) << x;
        EXPECT_EQ(out.at(x, 0, 2), want) << x;
    }
}

} // namespace
