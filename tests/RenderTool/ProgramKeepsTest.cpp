// What morvek-render keeps of a file beside the effect's work: channels other
// than colour and alpha, every subimage, metadata and sample types, and the
// colour of fully transparent premultiplied pixels.
#include "RenderToolSupport.h"

#include <OpenImageIO/half.h>

namespace {

using rt::Converters;
using rt::Pixels;

// Every subimage of a file, its samples as T.
template <class T> std::vector<Pixels<T>> readSubimages(const std::string& path) {
    std::vector<Pixels<T>> images;
    auto in = OIIO::ImageInput::open(path);
    if (!in) {
        ADD_FAILURE() << "cannot open " << path << ": " << OIIO::geterror();
        return images;
    }
    for (int i = 0; in->seek_subimage(i, 0); ++i) {
        const OIIO::ImageSpec& spec = in->spec();
        Pixels<T> px{spec.width, spec.height, spec.nchannels, {}};
        px.data.resize(static_cast<std::size_t>(px.width) * px.height * px.channels);
        EXPECT_TRUE(in->read_image(i, 0, 0, px.channels, rt::typeOf<T>(), px.data.data())) << in->geterror();
        images.push_back(px);
    }
    return images;
}

// Writes RGB float samples as subimages (pages, parts) of one file.
void writeSubimages(const std::string& path, const std::vector<Pixels<float>>& images, const OIIO::TypeDesc& type) {
    std::vector<OIIO::ImageSpec> imageSpecs;
    for (std::size_t i = 0; i < images.size(); ++i) {
        imageSpecs.emplace_back(images[i].width, images[i].height, images[i].channels, type);
        imageSpecs.back().attribute("name", "part" + std::to_string(i));
    }
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out && out->open(path, static_cast<int>(imageSpecs.size()), imageSpecs.data())) << OIIO::geterror();
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (i > 0) {
            ASSERT_TRUE(out->open(path, imageSpecs[i], OIIO::ImageOutput::AppendSubimage)) << out->geterror();
        }
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, images[i].data.data())) << out->geterror();
    }
    ASSERT_TRUE(out->close());
}

// Samples i / 8 (exact in half), different in every subimage.
Pixels<float> eighths(int width, int height, int channels, int seed) {
    Pixels<float> px{width, height, channels, {}};
    for (int i = 0; i < width * height * channels; ++i) {
        px.data.push_back(static_cast<float>((i * 5 + seed * 3) % 11) / 8.0f);
    }
    return px;
}

TEST(ProgramPassThrough, ChannelsBesideColourAndAlphaAreKept) {
    const std::string dir = rt::scratchDir();
    const Converters effect(1.3, 1.0);
    // Depth in float beside half colour: a depth that became alpha, was
    // dropped or lost its type would not come back as written.
    struct Case {
        const char* name;
        std::vector<std::string> channels;
        int alpha;
    };
    for (const Case& c : {Case{"rgbz", {"R", "G", "B", "Z"}, -1}, Case{"rgbaz", {"R", "G", "B", "A", "Z"}, 3}}) {
        SCOPED_TRACE(c.name);
        const int n = static_cast<int>(c.channels.size()), width = 9;
        std::vector<float> samples;
        std::vector<OIIO::TypeDesc> types(n, OIIO::TypeDesc::HALF);
        types[n - 1] = OIIO::TypeDesc::FLOAT;
        for (int x = 0; x < width; ++x) {
            samples.insert(samples.end(), {x / 8.0f, (8 - x) / 8.0f, (x % 3) / 4.0f});
            if (c.alpha >= 0) {
                samples.push_back(1.0f);
            }
            samples.push_back(1000.3f + static_cast<float>(x) * 7.1f);
        }
        const std::string src = dir + "/" + c.name + ".exr", dst = dir + "/" + c.name + "-out.exr";
        rt::writeChannels(src, width, 1, c.channels, types, samples, c.alpha);
        const rt::RunResult r = rt::runTool(dir, {"--exposure", "1.3", src, dst});
        ASSERT_EQ(r.status, 0) << r.err;
        const rt::FileInfo info = rt::fileInfo(dst);
        EXPECT_EQ(info.spec.channelnames, c.channels);
        EXPECT_EQ(info.spec.channelformat(n - 1), OIIO::TypeDesc::FLOAT);
        const Pixels<float> out = rt::readFile<float>(dst);
        for (int x = 0; x < width; ++x) {
            const float* in = &samples[static_cast<std::size_t>(x) * n];
            const PF_PixelFloat e = effect(PF_PixelFloat{1.0f, in[0], in[1], in[2]});
            EXPECT_EQ(out.at(x, 0, 0), static_cast<float>(half(e.red * e.alpha))) << x;
            EXPECT_EQ(out.at(x, 0, 2), static_cast<float>(half(e.blue * e.alpha))) << x;
            EXPECT_EQ(out.at(x, 0, n - 1), in[n - 1]) << x;
        }
    }

    // A fourth channel that the TIFF does not call alpha stays what it was;
    // the colour renders as opaque.
    Pixels<uint8_t> rgbx{5, 1, 4, {10, 20, 30, 0, 200, 100, 50, 7, 90, 0, 250, 128, 1, 2, 3, 255, 60, 70, 80, 30}};
    OIIO::ImageSpec spec(5, 1, 4, OIIO::TypeDesc::UINT8);
    spec.alpha_channel = -1;
    auto o = OIIO::ImageOutput::create(dir + "/rgbx.tif");
    ASSERT_TRUE(o && o->open(dir + "/rgbx.tif", spec) && o->write_image(OIIO::TypeDesc::UINT8, rgbx.data.data()) &&
                o->close());
    const rt::RunResult r = rt::runTool(dir, {"--exposure", "1.3", dir + "/rgbx.tif", dir + "/rgbx-out.tif"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Pixels<uint8_t> out = rt::readFile<uint8_t>(dir + "/rgbx-out.tif");
    ASSERT_EQ(out.channels, 4);
    for (int x = 0; x < 5; ++x) {
        const PF_Pixel e = effect(PF_Pixel{255, rgbx.at(x, 0, 0), rgbx.at(x, 0, 1), rgbx.at(x, 0, 2)});
        EXPECT_EQ(out.at(x, 0, 0), e.red) << x;
        EXPECT_EQ(out.at(x, 0, 2), e.blue) << x;
        EXPECT_EQ(out.at(x, 0, 3), rgbx.at(x, 0, 3)) << x;
    }

    // A format without room for the channel refuses, and writes nothing.
    rt::expectFailure(rt::runTool(dir, {dir + "/rgbz.exr", dir + "/rgbz.png"}), 1, {"'Z'", "rgbz.png"});
    EXPECT_FALSE(rt::fs::exists(dir + "/rgbz.png"));
}

TEST(ProgramSubimages, EveryPageAndPartIsRendered) {
    const std::string dir = rt::scratchDir();
    const Converters effect(1.3, 1.0);
    struct Case {
        const char* ext;
        OIIO::TypeDesc type;
    };
    for (const Case& c : {Case{"tif", OIIO::TypeDesc::UINT8}, Case{"exr", OIIO::TypeDesc::HALF}}) {
        SCOPED_TRACE(c.ext);
        // Parts of one OpenEXR file share their display window.
        const int w1 = c.type == OIIO::TypeDesc::UINT8 ? 3 : 5, h1 = c.type == OIIO::TypeDesc::UINT8 ? 4 : 2;
        const std::vector<Pixels<float>> pages{eighths(5, 2, 3, 0), eighths(w1, h1, 3, 1), eighths(5, 2, 3, 2)};
        const std::string src = dir + "/pages." + c.ext, dst = dir + "/out." + c.ext;
        writeSubimages(src, pages, c.type);
        const rt::RunResult r = rt::runTool(dir, {"--exposure", "1.3", src, dst});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("3 images"), std::string::npos) << r.out;
        if (c.type == OIIO::TypeDesc::UINT8) {
            const auto in = readSubimages<uint8_t>(src), out = readSubimages<uint8_t>(dst);
            ASSERT_EQ(out.size(), 3u);
            for (std::size_t i = 0; i < 3; ++i) {
                ASSERT_EQ(out[i].width, in[i].width);
                for (int k = 0; k < in[i].width * in[i].height; ++k) {
                    const uint8_t* p = &in[i].data[k * 3];
                    EXPECT_EQ(out[i].data[k * 3 + 1], effect(PF_Pixel{255, p[0], p[1], p[2]}).green) << i << " " << k;
                }
            }
        } else {
            const auto in = readSubimages<float>(src), out = readSubimages<float>(dst);
            ASSERT_EQ(out.size(), 3u);
            for (std::size_t i = 0; i < 3; ++i) {
                ASSERT_EQ(out[i].width, in[i].width);
                for (int k = 0; k < in[i].width * in[i].height; ++k) {
                    const float* p = &in[i].data[k * 3];
                    const PF_PixelFloat e = effect(PF_PixelFloat{1.0f, p[0], p[1], p[2]});
                    EXPECT_EQ(out[i].data[k * 3 + 1], static_cast<float>(half(e.green))) << i << " " << k;
                }
            }
        }
    }

    // A format of one image refuses several, and writes nothing.
    rt::expectFailure(rt::runTool(dir, {dir + "/pages.tif", dir + "/pages.png"}), 1, {"pages.png", "one image"});

    // A MIP-mapped file is refused, as it would lose its levels.
    OIIO::ImageSpec spec(32, 32, 3, OIIO::TypeDesc::HALF);
    spec.tile_width = spec.tile_height = 16;
    spec.attribute("textureformat", "Plain Texture");
    const std::vector<float> level(32 * 32 * 3, 0.5f);
    auto o = OIIO::ImageOutput::create(dir + "/mip.exr");
    ASSERT_TRUE(o && o->open(dir + "/mip.exr", spec) && o->write_image(OIIO::TypeDesc::FLOAT, level.data()));
    for (int size : {16, 8, 4, 2, 1}) {
        spec.width = spec.height = spec.full_width = spec.full_height = size;
        ASSERT_TRUE(o->open(dir + "/mip.exr", spec, OIIO::ImageOutput::AppendMIPLevel) &&
                    o->write_image(OIIO::TypeDesc::FLOAT, level.data()))
            << o->geterror();
    }
    ASSERT_TRUE(o->close());
    o.reset();
    rt::expectFailure(rt::runTool(dir, {dir + "/mip.exr", dir + "/mip-out.exr"}), 1, {"mip.exr", "MIP-mapped"});
    EXPECT_EQ(rt::filesIn(dir), (std::vector<std::string>{"mip.exr", "out.exr", "out.tif", "pages.exr", "pages.tif"}));
}

TEST(ProgramMetadata, ProfileOrientationTypesAndLayoutAreKept) {
    const std::string dir = rt::scratchDir();
    // A JPEG's ICC profile and orientation reach a TIFF.
    std::vector<uint8_t> profile(132, 0);
    for (std::size_t i = 0; i < profile.size(); ++i) {
        profile[i] = static_cast<uint8_t>(i * 7);
    }
    OIIO::ImageSpec jpeg(8, 8, 3, OIIO::TypeDesc::UINT8);
    jpeg.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, static_cast<int>(profile.size())),
                   profile.data());
    jpeg.attribute("Orientation", 6);
    const std::vector<uint8_t> grey(8 * 8 * 3, 90);
    auto o = OIIO::ImageOutput::create(dir + "/in.jpg");
    ASSERT_TRUE(o && o->open(dir + "/in.jpg", jpeg) && o->write_image(OIIO::TypeDesc::UINT8, grey.data()) &&
                o->close());
    ASSERT_EQ(rt::runTool(dir, {dir + "/in.jpg", dir + "/from-jpeg.tif"}).status, 0);
    const OIIO::ImageSpec tif = rt::fileInfo(dir + "/from-jpeg.tif").spec;
    const OIIO::ParamValue* icc = tif.find_attribute("ICCProfile");
    ASSERT_NE(icc, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(static_cast<const uint8_t*>(icc->data()),
                                   static_cast<const uint8_t*>(icc->data()) + icc->type().size()),
              profile);
    EXPECT_EQ(tif.get_int_attribute("Orientation"), 6);

    // Sample types the output holds are kept, doubles included. (The
    // library writes a TIFF of one row of doubles as zeros: two rows.)
    const Converters effect(1.3, 1.0);
    const std::vector<double> doubles{0.125, 0.25, 0.5, 0.75, 1.0, 0.0625};
    OIIO::ImageSpec dspec(1, 2, 3, OIIO::TypeDesc::DOUBLE);
    o = OIIO::ImageOutput::create(dir + "/double.tif");
    ASSERT_TRUE(o && o->open(dir + "/double.tif", dspec) && o->write_image(OIIO::TypeDesc::DOUBLE, doubles.data()) &&
                o->close());
    ASSERT_EQ(rt::runTool(dir, {"--exposure", "1.3", dir + "/double.tif", dir + "/double-out.tif"}).status, 0);
    auto in = OIIO::ImageInput::open(dir + "/double-out.tif");
    ASSERT_TRUE(in);
    EXPECT_EQ(in->spec().format, OIIO::TypeDesc::DOUBLE);
    std::vector<double> doubled(6);
    ASSERT_TRUE(in->read_image(0, 0, 0, 3, OIIO::TypeDesc::DOUBLE, doubled.data()));
    for (int x = 0; x < 2; ++x) {
        const double* p = &doubles[x * 3];
        const PF_PixelFloat e =
            effect(PF_PixelFloat{1.0f, static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])});
        EXPECT_EQ(doubled[x * 3 + 1], e.green) << x;
    }

    // Same format: tiles and compression stay.
    OIIO::ImageSpec tiled(40, 20, 3, OIIO::TypeDesc::UINT16);
    tiled.tile_width = tiled.tile_height = 16;
    tiled.attribute("compression", "lzw");
    const std::vector<uint16_t> ramp(40 * 20 * 3, 4000);
    o = OIIO::ImageOutput::create(dir + "/tiled.tif");
    ASSERT_TRUE(o && o->open(dir + "/tiled.tif", tiled) && o->write_image(OIIO::TypeDesc::UINT16, ramp.data()) &&
                o->close());
    ASSERT_EQ(rt::runTool(dir, {dir + "/tiled.tif", dir + "/tiled-out.tif"}).status, 0);
    const OIIO::ImageSpec kept = rt::fileInfo(dir + "/tiled-out.tif").spec;
    EXPECT_EQ(kept.tile_width, 16);
    EXPECT_EQ(kept.tile_height, 16);
    EXPECT_EQ(kept.get_string_attribute("compression"), "lzw");
    EXPECT_EQ(rt::readFile<uint16_t>(dir + "/tiled-out.tif").data, ramp);

    // A type the output cannot hold changes, and says so on stderr.
    rt::writeChannels(dir + "/half.exr", 4, 1, {"R", "G", "B"}, std::vector<OIIO::TypeDesc>(3, OIIO::TypeDesc::HALF),
                      eighths(4, 1, 3, 0).data);
    const rt::RunResult r = rt::runTool(dir, {dir + "/half.exr", dir + "/half.png"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "morvek-render: warning: '" + dir + "/half.png' stores R, G, B as uint16, not half\n");
}

TEST(ProgramAlpha, ColourUnderZeroAlphaComesBackUnchanged) {
    // Premultiplied samples; at exposure 0 and gamma 1 the effect changes
    // nothing, so every sample must come back as stored, the colour of the
    // transparent pixel included.
    const std::string dir = rt::scratchDir();
    const Pixels<float> in{
        3, 1, 4, {0.5f, 0.2f, 0.1f, 0.0f, /**/ 0.25f, 0.125f, 0.0625f, 0.5f, /**/ 0.3f, 0.6f, 0.9f, 1.0f}};
    rt::writeFile(dir + "/in.exr", in, OIIO::TypeDesc::FLOAT);
    const rt::RunResult r = rt::runTool(dir, {dir + "/in.exr", dir + "/out.exr"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(rt::readFile<float>(dir + "/out.exr").data, in.data);
}

} // namespace
