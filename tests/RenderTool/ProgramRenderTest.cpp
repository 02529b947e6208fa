// morvek-render end to end: the built program renders files through the real
// module, and every output sample is compared with the colour converter
// applied directly to the input, with the file scalings written out here.
#include "RawIO.h"
#include "RenderToolSupport.h"

#include <OpenImageIO/half.h>

#include <algorithm>
#include <cstring>

namespace {

using rt::Converters;
using rt::Pixels;

constexpr double kExposure = 1.3;
constexpr double kGamma = 0.8;

std::vector<std::string> effectArgs(const std::string& in, const std::string& out) {
    return {"--exposure", "1.3", "--gamma", "0.8", in, out};
}

// RGBA test pixels, opaque, covering the range; `top` is the file's full value.
template <class T> Pixels<T> opaqueRamp(int width, int height, double top) {
    Pixels<T> px{width, height, 4, {}};
    px.data.resize(static_cast<std::size_t>(width) * height * 4);
    const int n = width * height;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / (n - 1);
        px.data[i * 4 + 0] = static_cast<T>(std::floor(t * top));
        px.data[i * 4 + 1] = static_cast<T>(std::floor((1.0 - t) * top));
        px.data[i * 4 + 2] = static_cast<T>(std::floor(std::fmod(t * 7.0, 1.0) * top));
        px.data[i * 4 + 3] = static_cast<T>(top);
    }
    return px;
}

void expectRendered(const rt::RunResult& r) {
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST(ProgramFormats, EightBitPngAndTiff) {
    const std::string dir = rt::scratchDir();
    const Converters effect(kExposure, kGamma);
    Pixels<uint8_t> in{256, 1, 4, {}};
    for (int i = 0; i < 256; ++i) {
        in.data.insert(in.data.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                                       static_cast<uint8_t>((i * 37) % 256), 255});
    }
    for (const char* ext : {"png", "tif"}) {
        SCOPED_TRACE(ext);
        const std::string src = dir + "/in." + ext, dst = dir + "/out." + ext;
        rt::writeFile(src, in, OIIO::TypeDesc::UINT8, true);
        expectRendered(rt::runTool(dir, effectArgs(src, dst)));
        EXPECT_EQ(rt::fileInfo(dst).format, OIIO::TypeDesc::UINT8);
        const Pixels<uint8_t> out = rt::readFile<uint8_t>(dst);
        ASSERT_EQ(out.channels, 4);
        for (int x = 0; x < 256; ++x) {
            const PF_Pixel e = effect(PF_Pixel{255, in.at(x, 0, 0), in.at(x, 0, 1), in.at(x, 0, 2)});
            ASSERT_EQ(out.at(x, 0, 0), e.red) << x;
            ASSERT_EQ(out.at(x, 0, 1), e.green) << x;
            ASSERT_EQ(out.at(x, 0, 2), e.blue) << x;
            ASSERT_EQ(out.at(x, 0, 3), e.alpha) << x;
        }
    }
}

TEST(ProgramFormats, SixteenBitPngAndTiffScaleToTheHostRange) {
    const std::string dir = rt::scratchDir();
    const Converters effect(kExposure, kGamma);
    const Pixels<uint16_t> in = opaqueRamp<uint16_t>(64, 16, 65535);
    for (const char* ext : {"png", "tif"}) {
        SCOPED_TRACE(ext);
        const std::string src = dir + "/in." + ext, dst = dir + "/out." + ext;
        rt::writeFile(src, in, OIIO::TypeDesc::UINT16, true);
        expectRendered(rt::runTool(dir, effectArgs(src, dst)));
        EXPECT_EQ(rt::fileInfo(dst).format, OIIO::TypeDesc::UINT16);
        const Pixels<uint16_t> out = rt::readFile<uint16_t>(dst);
        for (int y = 0; y < in.height; ++y) {
            for (int x = 0; x < in.width; ++x) {
                const PF_Pixel16 e = effect(PF_Pixel16{rt::toHost16(in.at(x, y, 3)), rt::toHost16(in.at(x, y, 0)),
                                                       rt::toHost16(in.at(x, y, 1)), rt::toHost16(in.at(x, y, 2))});
                ASSERT_EQ(out.at(x, y, 0), rt::toFile16(e.red)) << x << "," << y;
                ASSERT_EQ(out.at(x, y, 1), rt::toFile16(e.green)) << x << "," << y;
                ASSERT_EQ(out.at(x, y, 2), rt::toFile16(e.blue)) << x << "," << y;
                ASSERT_EQ(out.at(x, y, 3), rt::toFile16(e.alpha)) << x << "," << y;
            }
        }
    }
}

TEST(ProgramFormats, FloatTiffAndExrHalfAndFloat) {
    const std::string dir = rt::scratchDir();
    const Converters effect(kExposure, kGamma);
    Pixels<float> in = opaqueRamp<float>(64, 8, 1.0);
    // Values the half type holds exactly, some above 1.
    for (std::size_t i = 0; i < in.data.size(); ++i) {
        if (i % 4 != 3) {
            in.data[i] = static_cast<float>(half(in.data[i] * 2.5f));
        }
    }
    struct Case {
        const char* ext;
        OIIO::TypeDesc type;
    };
    for (const Case& c :
         {Case{"tif", OIIO::TypeDesc::FLOAT}, Case{"exr", OIIO::TypeDesc::FLOAT}, Case{"exr", OIIO::TypeDesc::HALF}}) {
        SCOPED_TRACE(std::string(c.ext) + " " + c.type.c_str());
        const std::string src = dir + "/in." + c.ext, dst = dir + "/out." + c.ext;
        rt::writeFile(src, in, c.type);
        expectRendered(rt::runTool(dir, effectArgs(src, dst)));
        EXPECT_EQ(rt::fileInfo(dst).format, c.type);
        const Pixels<float> out = rt::readFile<float>(dst);
        for (int y = 0; y < in.height; ++y) {
            for (int x = 0; x < in.width; ++x) {
                const PF_PixelFloat e =
                    effect(PF_PixelFloat{in.at(x, y, 3), in.at(x, y, 0), in.at(x, y, 1), in.at(x, y, 2)});
                const float want[4] = {e.red, e.green, e.blue, e.alpha};
                for (int k = 0; k < 4; ++k) {
                    const float w = c.type == OIIO::TypeDesc::HALF ? static_cast<float>(half(want[k])) : want[k];
                    ASSERT_EQ(out.at(x, y, k), w) << x << "," << y << " channel " << k;
                }
            }
        }
    }
}

TEST(ProgramFormats, JpegWithinCompressionError) {
    const std::string dir = rt::scratchDir();
    const Converters effect(kExposure, kGamma);
    Pixels<uint8_t> in{32, 32, 3, std::vector<uint8_t>(32 * 32 * 3)};
    for (int i = 0; i < 32 * 32; ++i) {
        in.data[i * 3 + 0] = 120;
        in.data[i * 3 + 1] = 60;
        in.data[i * 3 + 2] = 200;
    }
    rt::writeFile(dir + "/in.jpg", in, OIIO::TypeDesc::UINT8);
    expectRendered(rt::runTool(dir, effectArgs(dir + "/in.jpg", dir + "/out.jpg")));
    const Pixels<uint8_t> decoded = rt::readFile<uint8_t>(dir + "/in.jpg");
    const Pixels<uint8_t> out = rt::readFile<uint8_t>(dir + "/out.jpg");
    ASSERT_EQ(out.channels, 3);
    // JPEG is lossy: the output may differ from the effect on the decoded
    // input by a few levels of re-compression, no more.
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const PF_Pixel e = effect(PF_Pixel{255, decoded.at(x, y, 0), decoded.at(x, y, 1), decoded.at(x, y, 2)});
            ASSERT_NEAR(out.at(x, y, 0), e.red, 4);
            ASSERT_NEAR(out.at(x, y, 1), e.green, 4);
            ASSERT_NEAR(out.at(x, y, 2), e.blue, 4);
        }
    }
}

TEST(ProgramRaw, EveryDepthMatchesTheConverter) {
    const std::string dir = rt::scratchDir();
    const Converters effect(kExposure, kGamma);
    const int w = 37, h = 5; // odd width: rows of every byte length
    const int n = w * h;
    {
        std::vector<unsigned char> bytes(n * 4);
        for (int i = 0; i < n * 4; ++i) {
            bytes[i] = static_cast<unsigned char>((i * 53 + 11) % 256);
        }
        std::ofstream(dir + "/in8.raw", std::ios::binary).write(reinterpret_cast<char*>(bytes.data()), n * 4);
        expectRendered(rt::runTool(dir, {"--size", "37x5", "--depth", "8", "--exposure", "1.3", "--gamma", "0.8",
                                         dir + "/in8.raw", dir + "/out8.raw"}));
        const std::string out = rt::slurp(dir + "/out8.raw");
        ASSERT_EQ(out.size(), bytes.size());
        for (int i = 0; i < n; ++i) {
            const PF_Pixel e = effect(PF_Pixel{bytes[i * 4], bytes[i * 4 + 1], bytes[i * 4 + 2], bytes[i * 4 + 3]});
            const unsigned char want[4] = {e.alpha, e.red, e.green, e.blue};
            ASSERT_EQ(std::memcmp(out.data() + i * 4, want, 4), 0) << i;
        }
    }
    {
        std::vector<uint16_t> v(n * 4);
        for (int i = 0; i < n * 4; ++i) {
            v[i] = static_cast<uint16_t>((i * 4099 + 7) % 32769);
        }
        std::string bytes;
        for (uint16_t s : v) {
            bytes += static_cast<char>(s & 0xFF);
            bytes += static_cast<char>(s >> 8);
        }
        std::ofstream(dir + "/in16.raw", std::ios::binary) << bytes;
        expectRendered(rt::runTool(dir, {"--size=37x5", "--depth=16", "--exposure=1.3", "--gamma=0.8",
                                         dir + "/in16.raw", dir + "/out16.raw"}));
        const std::string out = rt::slurp(dir + "/out16.raw");
        ASSERT_EQ(out.size(), bytes.size());
        auto le16 = [&](int k) {
            return static_cast<uint16_t>(static_cast<unsigned char>(out[2 * k]) |
                                         (static_cast<unsigned char>(out[2 * k + 1]) << 8));
        };
        for (int i = 0; i < n; ++i) {
            const PF_Pixel16 e = effect(PF_Pixel16{v[i * 4], v[i * 4 + 1], v[i * 4 + 2], v[i * 4 + 3]});
            ASSERT_EQ(le16(i * 4 + 0), e.alpha) << i;
            ASSERT_EQ(le16(i * 4 + 1), e.red) << i;
            ASSERT_EQ(le16(i * 4 + 2), e.green) << i;
            ASSERT_EQ(le16(i * 4 + 3), e.blue) << i;
        }
    }
    {
        std::vector<float> v(n * 4);
        for (int i = 0; i < n * 4; ++i) {
            v[i] = static_cast<float>((i * 29) % 97) / 64.0f; // 0 .. 1.5
        }
        std::string bytes(v.size() * 4, '\0');
        for (std::size_t k = 0; k < v.size(); ++k) {
            uint32_t bits;
            std::memcpy(&bits, &v[k], 4);
            for (int b = 0; b < 4; ++b) {
                bytes[k * 4 + b] = static_cast<char>((bits >> (8 * b)) & 0xFF);
            }
        }
        std::ofstream(dir + "/in32.raw", std::ios::binary) << bytes;
        expectRendered(rt::runTool(dir, {"--size", "37x5", "--depth", "32", "--exposure", "1.3", "--gamma", "0.8",
                                         dir + "/in32.raw", dir + "/out32.raw"}));
        const std::string out = rt::slurp(dir + "/out32.raw");
        ASSERT_EQ(out.size(), bytes.size());
        auto lef = [&](int k) {
            uint32_t bits = 0;
            for (int b = 0; b < 4; ++b) {
                bits |= static_cast<uint32_t>(static_cast<unsigned char>(out[k * 4 + b])) << (8 * b);
            }
            float f;
            std::memcpy(&f, &bits, 4);
            return f;
        };
        for (int i = 0; i < n; ++i) {
            const PF_PixelFloat e = effect(PF_PixelFloat{v[i * 4], v[i * 4 + 1], v[i * 4 + 2], v[i * 4 + 3]});
            ASSERT_EQ(lef(i * 4 + 0), e.alpha) << i;
            ASSERT_EQ(lef(i * 4 + 1), e.red) << i;
            ASSERT_EQ(lef(i * 4 + 2), e.green) << i;
            ASSERT_EQ(lef(i * 4 + 3), e.blue) << i;
        }
    }
}

TEST(ProgramDepth, WorkingDepthConvertsAndTheFileKeepsItsType) {
    const std::string dir = rt::scratchDir();
    const Converters effect(kExposure, kGamma);
    Pixels<uint8_t> in{16, 1, 4, {}};
    for (int i = 0; i < 16; ++i) {
        in.data.insert(in.data.end(), {static_cast<uint8_t>(i * 17), static_cast<uint8_t>(255 - i * 13),
                                       static_cast<uint8_t>(i * 5), 255});
    }
    rt::writeFile(dir + "/in.png", in, OIIO::TypeDesc::UINT8, true);

    auto args = effectArgs(dir + "/in.png", dir + "/out16.png");
    args.insert(args.begin(), {"--depth", "16"});
    expectRendered(rt::runTool(dir, args));
    const Pixels<uint8_t> out = rt::readFile<uint8_t>(dir + "/out16.png");
    EXPECT_EQ(rt::fileInfo(dir + "/out16.png").format, OIIO::TypeDesc::UINT8);
    auto to16 = [](long v) { return static_cast<uint16_t>(rt::nearest(v * 32768.0, 255.0)); };
    for (int x = 0; x < 16; ++x) {
        const PF_Pixel16 e =
            effect(PF_Pixel16{32768, to16(in.at(x, 0, 0)), to16(in.at(x, 0, 1)), to16(in.at(x, 0, 2))});
        ASSERT_EQ(out.at(x, 0, 0), rt::nearest(e.red * 255.0, 32768.0)) << x;
        ASSERT_EQ(out.at(x, 0, 1), rt::nearest(e.green * 255.0, 32768.0)) << x;
        ASSERT_EQ(out.at(x, 0, 2), rt::nearest(e.blue * 255.0, 32768.0)) << x;
    }

    args = effectArgs(dir + "/in.png", dir + "/out32.png");
    args.insert(args.begin(), {"--depth", "32"});
    expectRendered(rt::runTool(dir, args));
    const Pixels<uint8_t> out32 = rt::readFile<uint8_t>(dir + "/out32.png");
    for (int x = 0; x < 16; ++x) {
        auto f = [](long v) { return static_cast<float>(v / 255.0); };
        const PF_PixelFloat e = effect(PF_PixelFloat{1.0f, f(in.at(x, 0, 0)), f(in.at(x, 0, 1)), f(in.at(x, 0, 2))});
        auto to8 = [](float v) { return v >= 1.0f ? 255L : rt::nearest(static_cast<double>(v) * 255.0, 1.0); };
        ASSERT_EQ(out32.at(x, 0, 0), to8(e.red)) << x;
        ASSERT_EQ(out32.at(x, 0, 1), to8(e.green)) << x;
        ASSERT_EQ(out32.at(x, 0, 2), to8(e.blue)) << x;
    }
}

TEST(ProgramChannels, GreyGreyAlphaAndRgbKeepTheirChannelCount) {
    const std::string dir = rt::scratchDir();
    const Converters effect(kExposure, kGamma);
    Pixels<uint8_t> grey{4, 1, 1, {0, 90, 180, 250}};
    rt::writeFile(dir + "/grey.png", grey, OIIO::TypeDesc::UINT8);
    expectRendered(rt::runTool(dir, effectArgs(dir + "/grey.png", dir + "/grey-out.png")));
    const Pixels<uint8_t> g = rt::readFile<uint8_t>(dir + "/grey-out.png");
    ASSERT_EQ(g.channels, 1);
    for (int x = 0; x < 4; ++x) {
        const uint8_t v = grey.at(x, 0, 0);
        EXPECT_EQ(g.at(x, 0, 0), effect(PF_Pixel{255, v, v, v}).red) << x;
    }

    // Grey with straight alpha: overexposure folds into alpha.
    Pixels<uint8_t> ga{3, 1, 2, {200, 100, 240, 255, 30, 0}};
    rt::writeFile(dir + "/ga.png", ga, OIIO::TypeDesc::UINT8, true);
    expectRendered(rt::runTool(dir, effectArgs(dir + "/ga.png", dir + "/ga-out.png")));
    const Pixels<uint8_t> o = rt::readFile<uint8_t>(dir + "/ga-out.png");
    ASSERT_EQ(o.channels, 2);
    for (int x = 0; x < 3; ++x) {
        const uint8_t v = ga.at(x, 0, 0), a = ga.at(x, 0, 1);
        const PF_Pixel e = effect(PF_Pixel{a, v, v, v});
        EXPECT_EQ(o.at(x, 0, 0), e.red) << x;
        EXPECT_EQ(o.at(x, 0, 1), e.alpha) << x;
    }
    EXPECT_GT(o.at(0, 0, 1), 100); // alpha rose

    Pixels<uint8_t> rgb{2, 1, 3, {10, 20, 30, 200, 150, 100}};
    rt::writeFile(dir + "/rgb.tif", rgb, OIIO::TypeDesc::UINT8);
    expectRendered(rt::runTool(dir, effectArgs(dir + "/rgb.tif", dir + "/rgb-out.tif")));
    const Pixels<uint8_t> c = rt::readFile<uint8_t>(dir + "/rgb-out.tif");
    ASSERT_EQ(c.channels, 3);
    for (int x = 0; x < 2; ++x) {
        const PF_Pixel e = effect(PF_Pixel{255, rgb.at(x, 0, 0), rgb.at(x, 0, 1), rgb.at(x, 0, 2)});
        EXPECT_EQ(c.at(x, 0, 0), e.red);
        EXPECT_EQ(c.at(x, 0, 1), e.green);
        EXPECT_EQ(c.at(x, 0, 2), e.blue);
    }
}

TEST(ProgramAlpha, ExrIsUnpremultipliedForTheEffectAndPremultipliedAgain) {
    const std::string dir = rt::scratchDir();
    const Converters effect(kExposure, 1.0);
    // Stored (premultiplied) R, G, B, A; every division by alpha is exact.
    Pixels<float> in{
        3, 1, 4, {0.25f, 0.125f, 0.0625f, 0.5f, /**/ 0.1875f, 0.0f, 0.125f, 0.25f, /**/ 0.5f, 0.25f, 1.0f, 1.0f}};
    rt::writeFile(dir + "/in.exr", in, OIIO::TypeDesc::FLOAT);
    expectRendered(rt::runTool(dir, {"--exposure", "1.3", dir + "/in.exr", dir + "/out.exr"}));
    const Pixels<float> out = rt::readFile<float>(dir + "/out.exr");
    for (int x = 0; x < 3; ++x) {
        const float a = in.at(x, 0, 3);
        const PF_PixelFloat e = effect(PF_PixelFloat{a, in.at(x, 0, 0) / a, in.at(x, 0, 1) / a, in.at(x, 0, 2) / a});
        EXPECT_EQ(out.at(x, 0, 0), e.red * e.alpha) << x;
        EXPECT_EQ(out.at(x, 0, 1), e.green * e.alpha) << x;
        EXPECT_EQ(out.at(x, 0, 2), e.blue * e.alpha) << x;
        EXPECT_EQ(out.at(x, 0, 3), e.alpha) << x;
    }
}

TEST(ProgramAlpha, PngStaysStraight) {
    const std::string dir = rt::scratchDir();
    const Converters effect(kExposure, kGamma);
    Pixels<uint8_t> in{4, 1, 4, {200, 100, 50, 128, /**/ 250, 250, 10, 40, /**/ 90, 0, 0, 0, /**/ 10, 20, 30, 255}};
    rt::writeFile(dir + "/in.png", in, OIIO::TypeDesc::UINT8, true);
    expectRendered(rt::runTool(dir, effectArgs(dir + "/in.png", dir + "/out.png")));
    EXPECT_TRUE(rt::fileInfo(dir + "/out.png").unassociated);
    const Pixels<uint8_t> out = rt::readFile<uint8_t>(dir + "/out.png");
    for (int x = 0; x < 4; ++x) {
        const PF_Pixel e = effect(PF_Pixel{in.at(x, 0, 3), in.at(x, 0, 0), in.at(x, 0, 1), in.at(x, 0, 2)});
        EXPECT_EQ(out.at(x, 0, 0), e.red) << x;
        EXPECT_EQ(out.at(x, 0, 1), e.green) << x;
        EXPECT_EQ(out.at(x, 0, 2), e.blue) << x;
        EXPECT_EQ(out.at(x, 0, 3), e.alpha) << x;
    }
}

TEST(ProgramSixteenBit, HostRepresentableValuesRoundTripExactly) {
    const std::string dir = rt::scratchDir();
    // At exposure 0 and gamma 1 the 16-bit effect is the identity, so every
    // file value that is the image of a host value must come back unchanged,
    // and any other value within one step.
    Pixels<uint16_t> in{257, 2, 4, {}};
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 257; ++x) {
            const long h = std::min(32768L, x * 128L + y * 61L);
            const uint16_t onGrid = rt::toFile16(h);
            const uint16_t offGrid = static_cast<uint16_t>(std::min(65535L, x * 255L + y * 3L + 1));
            in.data.insert(in.data.end(), {onGrid, offGrid, static_cast<uint16_t>(65535 - onGrid), 65535});
        }
    }
    rt::writeFile(dir + "/in.png", in, OIIO::TypeDesc::UINT16, true);
    expectRendered(rt::runTool(dir, {dir + "/in.png", dir + "/out.png"}));
    const Pixels<uint16_t> out = rt::readFile<uint16_t>(dir + "/out.png");
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 257; ++x) {
            ASSERT_EQ(out.at(x, y, 0), in.at(x, y, 0)) << x;
            ASSERT_EQ(out.at(x, y, 1), rt::toFile16(rt::toHost16(in.at(x, y, 1)))) << x;
            ASSERT_LE(std::abs(out.at(x, y, 1) - in.at(x, y, 1)), 1) << x;
            ASSERT_EQ(out.at(x, y, 3), 65535);
        }
    }
}

TEST(ProgramMetadata, ResolutionAndDescriptionsAreKept) {
    const std::string dir = rt::scratchDir();
    Pixels<uint8_t> in{2, 2, 3, std::vector<uint8_t>(12, 100)};
    rt::writeFile(dir + "/in.tif", in, OIIO::TypeDesc::UINT8, false,
                  {{"XResolution", 240.0f}, {"YResolution", 240.0f}});
    expectRendered(rt::runTool(dir, {"--exposure", "0.5", dir + "/in.tif", dir + "/out.tif"}));
    const rt::FileInfo out = rt::fileInfo(dir + "/out.tif");
    EXPECT_EQ(out.spec.get_float_attribute("XResolution"), 240.0f);
    EXPECT_EQ(out.spec.get_float_attribute("YResolution"), 240.0f);

    // Across formats too: a TIFF's resolution reaches a PNG.
    expectRendered(rt::runTool(dir, {dir + "/in.tif", dir + "/out.png"}));
    EXPECT_EQ(rt::fileInfo(dir + "/out.png").spec.get_float_attribute("XResolution"), 240.0f);

    // Text an EXR header carries stays with the frame.
    Pixels<float> f{1, 1, 3, {0.5f, 0.5f, 0.5f}};
    OIIO::ImageSpec spec(1, 1, 3, OIIO::TypeDesc::FLOAT);
    spec.attribute("Copyright", "Morvek test footage");
    spec.attribute("ImageDescription", "shot 12, plate B");
    auto o = OIIO::ImageOutput::create(dir + "/in.exr");
    ASSERT_TRUE(o && o->open(dir + "/in.exr", spec) && o->write_image(OIIO::TypeDesc::FLOAT, f.data.data()) &&
                o->close());
    expectRendered(rt::runTool(dir, {dir + "/in.exr", dir + "/out.exr"}));
    const rt::FileInfo exr = rt::fileInfo(dir + "/out.exr");
    EXPECT_EQ(exr.spec.get_string_attribute("Copyright"), "Morvek test footage");
    EXPECT_EQ(exr.spec.get_string_attribute("ImageDescription"), "shot 12, plate B");
}

TEST(ProgramThreads, ThreadCountDoesNotChangeTheResult) {
    const std::string dir = rt::scratchDir();
    std::vector<unsigned char> bytes(101 * 67 * 8);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>((i * 131 + (i >> 9)) % 256);
    }
    for (std::size_t i = 1; i < bytes.size(); i += 2) {
        bytes[i] &= 0x7F; // keep 16-bit samples within 0..32767
    }
    std::ofstream(dir + "/in.raw", std::ios::binary).write(reinterpret_cast<char*>(bytes.data()), bytes.size());
    std::string first;
    for (const char* threads : {"1", "2", "5"}) {
        const std::string out = dir + "/out" + threads + ".raw";
        expectRendered(rt::runTool(
            dir, {"--threads", threads, "--size", "101x67", "--depth", "16", "--exposure", "2", dir + "/in.raw", out}));
        const std::string bytesOut = rt::slurp(out);
        if (first.empty()) {
            first = bytesOut;
        }
        EXPECT_EQ(bytesOut, first) << threads;
    }
}

TEST(ProgramLargeFrames, EveryBlockOfRowsIsConvertedInItsPlace) {
    // Files are read and written in blocks of about 8 MiB, two at a time:
    // a frame of four blocks each way, whose every row differs, and every
    // pixel compared with the effect (uncompressed, to keep the test quick).
    const std::string dir = rt::scratchDir();
    const Converters effect(kExposure, kGamma);
    const int width = 1024, height = 10000;
    Pixels<uint8_t> in{width, height, 3, {}};
    in.data.resize(static_cast<std::size_t>(width) * height * 3);
    uint32_t state = 12345;
    for (uint8_t& v : in.data) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<uint8_t>(state >> 24);
    }
    OIIO::ImageSpec spec(width, height, 3, OIIO::TypeDesc::UINT8);
    spec.attribute("compression", "none");
    auto file = OIIO::ImageOutput::create(dir + "/in.tif");
    ASSERT_TRUE(file && file->open(dir + "/in.tif", spec));
    ASSERT_TRUE(file->write_image(OIIO::TypeDesc::UINT8, in.data.data()));
    ASSERT_TRUE(file->close());
    file.reset();

    expectRendered(rt::runTool(dir, effectArgs(dir + "/in.tif", dir + "/out.tif")));
    const Pixels<uint8_t> out = rt::readFile<uint8_t>(dir + "/out.tif");
    ASSERT_EQ(out.data.size(), in.data.size());
    int wrong = 0;
    for (int y = 0; y < height && wrong < 10; ++y) {
        for (int x = 0; x < width && wrong < 10; ++x) {
            const PF_Pixel e = effect(PF_Pixel{255, in.at(x, y, 0), in.at(x, y, 1), in.at(x, y, 2)});
            if (out.at(x, y, 0) != e.red || out.at(x, y, 1) != e.green || out.at(x, y, 2) != e.blue) {
                ADD_FAILURE() << "pixel " << x << "," << y;
                ++wrong;
            }
        }
    }
}

TEST(ProgramInfo, ReportsWhatTheHostLearned) {
    const std::string dir = rt::scratchDir();
    const rt::RunResult r = rt::runTool(dir, {"--info"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* text :
         {"name:          MorvekExposure", "category:      Morvek", "entry point:   EntryPointFunc",
          "version:       525825", "\"Exposure\"", "\"Gamma Correction\"", "MorvekExposure, v1.0.0"}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    }
    const rt::RunResult help = rt::runTool(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--exposure"), std::string::npos);
    const rt::RunResult version = rt::runTool(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("morvek-render 1.0.0", 0), 0u) << version.out;
}

} // namespace
