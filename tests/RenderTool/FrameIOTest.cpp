// morvek-render's frame readers and writers on their own: 16-bit scaling, raw
// byte layout and size checks, whole-or-nothing writes, and image files read
// into host frames (opaque alpha for grey and RGB, un-premultiplied colour).
#include "ImageIO.h"
#include "RawIO.h"
#include "RenderToolSupport.h"

#include <cstring>

using namespace MorvekRender;

namespace {

TEST(SixteenBitScaling, NearestHostValueForEveryFileValue) {
    for (long v = 0; v <= 65535; ++v) {
        const long h = fileToHost16(static_cast<uint16_t>(v));
        // h is the nearest integer to v * 32768 / 65535: within half a step.
        ASSERT_LE(std::labs(2 * (v * 32768 - h * 65535)), 65535) << v;
        // The host frame's own conversion agrees.
        HostImage img(1, 1, 16);
        img.setNormalized(0, 1, v / 65535.0);
        ASSERT_EQ(img.pixels<PF_Pixel16>()[0].red, h) << v;
    }
    EXPECT_EQ(fileToHost16(0), 0);
    EXPECT_EQ(fileToHost16(65535), 32768);
    EXPECT_EQ(fileToHost16(1), 1);         // 0.50001 rounds up
    EXPECT_EQ(fileToHost16(32767), 16384); // 16383.75
}

TEST(SixteenBitScaling, HostValuesSurviveTheRoundTrip) {
    for (long h = 0; h <= 32768; ++h) {
        const long v = hostToFile16(static_cast<uint16_t>(h));
        ASSERT_LE(std::labs(2 * (h * 65535 - v * 32768)), 32768) << h;
        ASSERT_EQ(fileToHost16(static_cast<uint16_t>(v)), h) << h;
    }
    EXPECT_EQ(hostToFile16(16384), 32768); // 32767.5: halves round up
    EXPECT_EQ(hostToFile16(32768), 65535);
    EXPECT_EQ(hostToFile16(40000), 65535); // above full counts as full
}

TEST(SixteenBitScaling, FileValuesComeBackWithinOneStep) {
    for (long v = 0; v <= 65535; ++v) {
        const long back = hostToFile16(fileToHost16(static_cast<uint16_t>(v)));
        ASSERT_LE(std::labs(back - v), 1) << v;
    }
}

TEST(RawFrames, ByteLayoutAtEachDepth) {
    // One pixel: alpha, red, green, blue; 16 bits little-endian; float32
    // little-endian.
    const unsigned char bytes8[] = {255, 1, 2, 3};
    HostImage a = decodeRaw(bytes8, sizeof bytes8, 1, 1, 8);
    const PF_Pixel p8 = a.pixels<PF_Pixel>()[0];
    EXPECT_EQ(p8.alpha, 255);
    EXPECT_EQ(p8.red, 1);
    EXPECT_EQ(p8.green, 2);
    EXPECT_EQ(p8.blue, 3);

    const unsigned char bytes16[] = {0x00, 0x80, 0x01, 0x00, 0x34, 0x12, 0xFF, 0x7F};
    HostImage b = decodeRaw(bytes16, sizeof bytes16, 1, 1, 16);
    const PF_Pixel16 p16 = b.pixels<PF_Pixel16>()[0];
    EXPECT_EQ(p16.alpha, 32768);
    EXPECT_EQ(p16.red, 1);
    EXPECT_EQ(p16.green, 0x1234);
    EXPECT_EQ(p16.blue, 0x7FFF);

    // 1.0f = 0x3F800000, -2.5f = 0xC0200000, 0.5f = 0x3F000000, 0
    const unsigned char bytes32[] = {0, 0, 0x80, 0x3F, 0, 0, 0x20, 0xC0, 0, 0, 0, 0x3F, 0, 0, 0, 0};
    HostImage c = decodeRaw(bytes32, sizeof bytes32, 1, 1, 32);
    const PF_PixelFloat p32 = c.pixels<PF_PixelFloat>()[0];
    EXPECT_EQ(p32.alpha, 1.0f);
    EXPECT_EQ(p32.red, -2.5f);
    EXPECT_EQ(p32.green, 0.5f);
    EXPECT_EQ(p32.blue, 0.0f);

    // Encoding gives the same bytes back.
    EXPECT_EQ(encodeRaw(a), std::vector<unsigned char>(bytes8, bytes8 + sizeof bytes8));
    EXPECT_EQ(encodeRaw(b), std::vector<unsigned char>(bytes16, bytes16 + sizeof bytes16));
    EXPECT_EQ(encodeRaw(c), std::vector<unsigned char>(bytes32, bytes32 + sizeof bytes32));
}

TEST(RawFrames, SizeMustMatchExactly) {
    std::vector<unsigned char> bytes(3 * 2 * 8, 0);
    EXPECT_NO_THROW(decodeRaw(bytes.data(), bytes.size(), 3, 2, 16));
    EXPECT_THROW(decodeRaw(bytes.data(), bytes.size() - 1, 3, 2, 16), ImageError);
    EXPECT_THROW(decodeRaw(bytes.data(), bytes.size(), 3, 2, 8), ImageError);
    EXPECT_THROW(decodeRaw(bytes.data(), bytes.size(), 2, 3, 32), ImageError);
    EXPECT_THROW(decodeRaw(bytes.data(), bytes.size(), 3, 2, 12), ImageError);
    EXPECT_THROW(decodeRaw(bytes.data(), 0, 0, 0, 8), ImageError);
}

TEST(RawFrames, FilesAreWrittenWholeOrNotAtAll) {
    const std::string dir = rt::scratchDir();
    HostImage img(2, 2, 16);
    for (std::size_t i = 0; i < img.data.size(); ++i) {
        img.data[i] = static_cast<unsigned char>(i * 7);
    }
    const std::string path = dir + "/frame.raw";
    writeRaw(path, img);
    EXPECT_EQ(rt::filesIn(dir), std::vector<std::string>{"frame.raw"});
    HostImage back = readRaw(path, 2, 2, 16);
    EXPECT_EQ(back.data, img.data);
    EXPECT_THROW(readRaw(path, 2, 3, 16), ImageError);
    EXPECT_THROW(readRaw(dir + "/missing.raw", 2, 2, 16), ImageError);
    EXPECT_THROW(readRaw(dir, 2, 2, 16), ImageError); // a folder

    // A write into a folder that does not exist fails and leaves nothing.
    EXPECT_THROW(writeRaw(dir + "/no/such/folder/x.raw", img), ImageError);
    // Replacing an existing file leaves no temporary behind.
    img.data[0] = 99;
    writeRaw(path, img);
    EXPECT_EQ(readRaw(path, 2, 2, 16).data[0], 99);
    EXPECT_EQ(rt::filesIn(dir), std::vector<std::string>{"frame.raw"});
}

TEST(ImageFileReading, GreyAndRgbGetOpaqueAlpha) {
    const std::string dir = rt::scratchDir();
    rt::Pixels<uint8_t> grey{2, 1, 1, {0, 200}};
    rt::writeFile(dir + "/grey.png", grey, OIIO::TypeDesc::UINT8);
    LoadedImage g = readImageFile(dir + "/grey.png");
    EXPECT_EQ(g.layout.channels, 1);
    EXPECT_EQ(g.image.depth, 8);
    const PF_Pixel g1 = g.image.pixels<PF_Pixel>()[1];
    EXPECT_EQ(g1.alpha, 255);
    EXPECT_EQ(g1.red, 200);
    EXPECT_EQ(g1.green, 200);
    EXPECT_EQ(g1.blue, 200);

    rt::Pixels<uint16_t> rgb{1, 1, 3, {65535, 32767, 1}};
    rt::writeFile(dir + "/rgb.tif", rgb, OIIO::TypeDesc::UINT16);
    LoadedImage c = readImageFile(dir + "/rgb.tif");
    EXPECT_EQ(c.layout.channels, 3);
    EXPECT_EQ(c.image.depth, 16);
    const PF_Pixel16 c0 = c.image.pixels<PF_Pixel16>()[0];
    EXPECT_EQ(c0.alpha, 32768);
    EXPECT_EQ(c0.red, 32768);
    EXPECT_EQ(c0.green, 16384);
    EXPECT_EQ(c0.blue, 1);
}

TEST(ImageFileReading, PremultipliedColourIsDividedByAlpha) {
    const std::string dir = rt::scratchDir();
    // Associated alpha (OpenEXR): stored colour = straight colour x alpha.
    rt::Pixels<float> px{
        3, 1, 4, {0.25f, 0.125f, 0.0f, 0.5f, /**/ 0.75f, 0.5f, 0.25f, 1.0f, /**/ 0.3f, 0.2f, 0.1f, 0.0f}};
    rt::writeFile(dir + "/assoc.exr", px, OIIO::TypeDesc::FLOAT);
    LoadedImage img = readImageFile(dir + "/assoc.exr");
    EXPECT_TRUE(img.layout.associatedAlpha);
    EXPECT_EQ(img.layout.sampleType, SampleType::Float);
    const PF_PixelFloat* p = img.image.pixels<PF_PixelFloat>();
    EXPECT_EQ(p[0].alpha, 0.5f);
    EXPECT_EQ(p[0].red, 0.5f);
    EXPECT_EQ(p[0].green, 0.25f);
    EXPECT_EQ(p[0].blue, 0.0f);
    EXPECT_EQ(p[1].red, 0.75f);
    // Under zero alpha nothing can be divided: the stored colour goes on.
    EXPECT_EQ(p[2].alpha, 0.0f);
    EXPECT_EQ(p[2].red, 0.3f);
    EXPECT_EQ(p[2].blue, 0.1f);

    // Straight alpha (PNG) is taken as stored.
    rt::Pixels<uint8_t> png{1, 1, 4, {200, 100, 50, 128}};
    rt::writeFile(dir + "/straight.png", png, OIIO::TypeDesc::UINT8, true);
    LoadedImage s = readImageFile(dir + "/straight.png");
    EXPECT_FALSE(s.layout.associatedAlpha);
    const PF_Pixel q = s.image.pixels<PF_Pixel>()[0];
    EXPECT_EQ(q.alpha, 128);
    EXPECT_EQ(q.red, 200);
    EXPECT_EQ(q.green, 100);
    EXPECT_EQ(q.blue, 50);

    // 8-bit associated TIFF: 100 / 200 of full = 0.5, nearest 8-bit 128.
    rt::Pixels<uint8_t> tif{1, 1, 4, {100, 50, 0, 200}};
    rt::writeFile(dir + "/assoc.tif", tif, OIIO::TypeDesc::UINT8);
    LoadedImage t = readImageFile(dir + "/assoc.tif");
    EXPECT_TRUE(t.layout.associatedAlpha);
    const PF_Pixel u = t.image.pixels<PF_Pixel>()[0];
    EXPECT_EQ(u.alpha, 200);
    EXPECT_EQ(u.red, rt::nearest(100 * 255.0, 200));
    EXPECT_EQ(u.green, rt::nearest(50 * 255.0, 200));
    EXPECT_EQ(u.blue, 0);
}

TEST(ImageFileReading, WorkingDepthConvertsOnRead) {
    const std::string dir = rt::scratchDir();
    rt::Pixels<uint8_t> px{2, 1, 3, {0, 128, 255, 1, 2, 254}};
    rt::writeFile(dir + "/in.png", px, OIIO::TypeDesc::UINT8);
    LoadedImage a = readImageFile(dir + "/in.png", 16);
    EXPECT_EQ(a.image.depth, 16);
    EXPECT_EQ(a.layout.sampleType, SampleType::UInt8); // the file stays what it was
    const PF_Pixel16 p = a.image.pixels<PF_Pixel16>()[0];
    EXPECT_EQ(p.red, 0);
    EXPECT_EQ(p.green, rt::nearest(128 * 32768.0, 255));
    EXPECT_EQ(p.blue, 32768);
    LoadedImage b = readImageFile(dir + "/in.png", 32);
    EXPECT_EQ(b.image.pixels<PF_PixelFloat>()[1].blue, static_cast<float>(254 / 255.0));
}

TEST(ImageFileReading, UnsupportedFilesFailWithAReason) {
    const std::string dir = rt::scratchDir();
    std::ofstream(dir + "/text.png") << "not an image";
    try {
        readImageFile(dir + "/text.png");
        FAIL() << "no error";
    } catch (const ImageError& e) {
        EXPECT_NE(std::string(e.what()).find("text.png"), std::string::npos) << e.what();
        EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos) << e.what();
    }
    EXPECT_THROW(readImageFile(dir + "/missing.png"), ImageError);
    rt::writeChannels(dir + "/depth.exr", 1, 1, {"Z"}, {OIIO::TypeDesc::FLOAT}, {1.0f});
    EXPECT_THROW(readImageFile(dir + "/depth.exr"), ImageError);
}

TEST(ImageFileWriting, KeepsChannelsTypeAndAssociation) {
    const std::string dir = rt::scratchDir();
    HostImage img(1, 1, 16);
    img.pixels<PF_Pixel16>()[0] = PF_Pixel16{16384, 32768, 8192, 0};

    FileLayout like;
    like.channels = 4;
    like.sampleType = SampleType::UInt16;
    writeImageFile(dir + "/out.png", img, like);
    rt::FileInfo png = rt::fileInfo(dir + "/out.png");
    EXPECT_EQ(png.channels, 4);
    EXPECT_EQ(png.format, OIIO::TypeDesc::UINT16);
    rt::Pixels<uint16_t> p = rt::readFile<uint16_t>(dir + "/out.png");
    // PNG holds straight colour.
    EXPECT_EQ(p.data, (std::vector<uint16_t>{65535, rt::toFile16(8192), 0, rt::toFile16(16384)}));

    like.sampleType = SampleType::Half;
    writeImageFile(dir + "/out.exr", img, like);
    EXPECT_EQ(rt::fileInfo(dir + "/out.exr").format, OIIO::TypeDesc::HALF);
    rt::Pixels<float> e = rt::readFile<float>(dir + "/out.exr");
    // OpenEXR holds premultiplied colour: red 1.0 under alpha 0.5.
    EXPECT_EQ(e.data, (std::vector<float>{0.5f, 0.125f, 0.0f, 0.5f}));

    like.channels = 1;
    like.sampleType = SampleType::UInt8;
    writeImageFile(dir + "/grey.tif", img, like);
    EXPECT_EQ(rt::fileInfo(dir + "/grey.tif").channels, 1);

    // Nothing but the three files.
    auto names = rt::filesIn(dir);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"grey.tif", "out.exr", "out.png"}));

    // An unknown extension fails before anything is written.
    EXPECT_THROW(writeImageFile(dir + "/out.unknownext", img, like), ImageError);
    EXPECT_EQ(rt::filesIn(dir).size(), 3u);
}

} // namespace
