// Fuzzes morvek-render's frame readers with corrupt files: the raw decoder
// with any declared size and depth, the raw file reader, and the image file
// reader on the same bytes saved under the extensions it knows. A reader may
// refuse a file (ImageError, or another standard exception), never crash;
// what it accepts converts to every depth.
#include "FuzzInput.h"
#include "HostImage.h"
#include "ImageIO.h"
#include "RawIO.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

#include <unistd.h>

#if MORVEK_HAVE_OIIO
#include <OpenImageIO/imageio.h>
#endif

namespace {

std::string scratchPath(const char* extension) {
    return "/tmp/morvek-reader-fuzz-" + std::to_string(static_cast<long>(getpid())) + extension;
}

void useImage(const MorvekRender::HostImage& image) {
    for (int depth : {8, 16, 32}) {
        const MorvekRender::HostImage converted = MorvekRender::convertDepth(image, depth);
        if (converted.byteCount() != MorvekRender::frameBytes(image.width, image.height, depth)) {
            std::fprintf(stderr, "converted frame has %zu bytes\n", converted.byteCount());
            std::abort();
        }
    }
}

// A reader must allocate the frame a header declares before it can find out
// that the file does not hold it; a 30-byte file declaring 20000 x 20000
// pixels is a test of the machine's memory, not of the reader. Such files are
// left out.
bool declaresHugeImage(const std::string& path) {
#if MORVEK_HAVE_OIIO
    auto in = OIIO::ImageInput::open(path);
    if (!in) {
        return false;
    }
    const OIIO::ImageSpec& spec = in->spec();
    return static_cast<long long>(spec.width) * spec.height * std::max(spec.depth, 1) > (1LL << 22);
#else
    (void)path;
    return false;
#endif
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const int width = in.range(-2, 64), height = in.range(-2, 64);
    const int depths[] = {8, 16, 32, 0, 24};
    const int depth = depths[in.range(0, 4)];
    const char* extensions[] = {".raw", ".png", ".tif", ".exr", ".ppm", ".bmp", ".tga", ".dpx", ".jpg", ".hdr"};
    const char* extension = extensions[in.range(0, 9)];
    const std::uint8_t* bytes = in.rest();
    const std::size_t count = in.restSize();

    try {
        useImage(MorvekRender::decodeRaw(bytes, count, width, height, depth));
    } catch (const std::exception&) {
    }

    const std::string path = scratchPath(extension);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
    }
    try {
        if (MorvekRender::isRawPath(path)) {
            useImage(MorvekRender::readRaw(path, width, height, depth));
        } else if (MorvekRender::imageFilesSupported() && !declaresHugeImage(path)) {
            useImage(MorvekRender::readImageFile(path, depth == 24 ? 0 : depth).image);
        }
    } catch (const std::exception&) {
    }
    std::remove(path.c_str());
    return 0;
}
