// Fuzzes the render path through the stand-in host: world sizes up to 48 x 48,
// row padding of any byte count, origins, known and unknown pixel formats,
// arbitrary pixel bytes, slider values of any bit pattern (NaN, infinities,
// values far outside the sliders) and reported thread counts 0..64.
//
// Beyond what the sanitizers catch, each case checks that the host got every
// resource back, that nothing was written past either world, and that a
// failed frame left its output as it was.
#include "FuzzInput.h"
#include "Session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail = std::string()) {
    std::fprintf(stderr, "render fuzzer: %s %s\n", what, detail.c_str());
    std::abort();
}

std::shared_ptr<standin::Module> module() {
    static std::shared_ptr<standin::Module> m = [] {
        std::string why;
        auto loaded = standin::Module::load(MORVEK_PLUGIN_PATH, &why);
        if (!loaded) {
            fail("cannot load the module:", why);
        }
        return loaded;
    }();
    return m;
}

PF_PixelFormat pickFormat(fuzz::Input& in, int* pixelSize) {
    switch (in.range(0, 5)) {
    case 0:
        *pixelSize = 4;
        return PF_PixelFormat_ARGB32;
    case 1:
        *pixelSize = 8;
        return PF_PixelFormat_ARGB64;
    case 2:
        *pixelSize = 16;
        return PF_PixelFormat_ARGB128;
    case 3:
        *pixelSize = 4;
        return PF_PixelFormat_BGRA32;
    default: {
        // Any code at all, with a pixel size to lay out the rows.
        const int sizes[] = {1, 4, 8, 16};
        *pixelSize = sizes[in.range(0, 3)];
        return static_cast<PF_PixelFormat>(in.take<std::uint32_t>());
    }
    }
}

void fillFrom(standin::World& w, const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) {
        w.fillBytes(0x5a);
        return;
    }
    for (std::size_t i = 0; i < w.byteSize(); ++i) {
        w.bytes()[i] = bytes[i % size];
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const A_long width = in.range(0, 48), height = in.range(0, 48);
    int pixelSize = 0;
    const PF_PixelFormat format = pickFormat(in, &pixelSize);
    const A_long padIn = in.range(0, 40), padOut = in.range(0, 40);
    // The output is the input's size, or with a small chance one of its own.
    A_long outWidth = width, outHeight = height;
    if (in.range(0, 7) == 0) {
        outWidth = in.range(0, 48);
        outHeight = in.range(0, 48);
    }
    const A_long originX = in.take<std::int32_t>() % 4096, originY = in.take<std::int32_t>() % 4096;
    const double exposure = in.take<double>(), gamma = in.take<double>();
    const int reported = in.range(0, 64);
    const int workers = in.range(1, 4);
    const bool sliderAtTime = in.flag();

    standin::World input(width, height, format, padIn, pixelSize);
    standin::World output(outWidth, outHeight, format, padOut, pixelSize);
    input.setOrigin(originX, originY);
    fillFrom(input, in.rest(), in.restSize());
    output.fillBytes(0xa5);
    const std::vector<std::uint8_t> before(output.bytes(), output.bytes() + output.byteSize());

    standin::Session s(module());
    s.host().setRecording(false);
    if (s.globalSetup() != PF_Err_NONE || s.paramsSetup() != PF_Err_NONE) {
        fail("setup failed");
    }
    if (sliderAtTime) {
        s.setSlider(1, exposure, standin::TimeKey{0, 30});
        s.setSlider(2, gamma, standin::TimeKey{0, 30});
    } else {
        s.setSlider(1, exposure);
        s.setSlider(2, gamma);
    }
    standin::FrameOptions fo;
    fo.threads = workers;
    fo.reportedThreads = reported;
    const PF_Err err = s.renderFrame(input, output, fo);
    if (!input.guardIntact() || !output.guardIntact()) {
        fail("a world was written past its end");
    }
    if (err != PF_Err_NONE && std::memcmp(before.data(), output.bytes(), before.size()) != 0) {
        fail("a failed frame wrote to its output, code", std::to_string(err));
    }
    if (s.globalSetdown() != PF_Err_NONE) {
        fail("GlobalSetdown failed");
    }
    if (!s.reportsClean()) {
        fail("host resources left behind:", s.firstLeak());
    }
    return 0;
}
