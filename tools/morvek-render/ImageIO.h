// Image files (PNG, TIFF, OpenEXR, JPEG and the rest OpenImageIO knows) read
// into host-layout frames and written back, keeping what the file was: its
// channel count, sample type, alpha association and metadata.
//
// Reading: grey and RGB files get an opaque alpha; associated (premultiplied)
// colour is divided by alpha, because the effect works on straight colour.
// 16-bit samples 0..65535 become host values 0..32768, rounded to nearest.
// Writing does the reverse for the output's format: straight for PNG,
// premultiplied for OpenEXR, and for TIFF and the rest premultiplied unless
// the input was the same format with straight colour.
//
// Without OpenImageIO (MORVEK_HAVE_OIIO undefined) every call here throws
// ImageError; raw frames (RawIO.h) still work.
#ifndef MORVEK_RENDER_IMAGEIO_H
#define MORVEK_RENDER_IMAGEIO_H

#include "HostImage.h"

#include <memory>
#include <string>

namespace MorvekRender {

enum class SampleType { UInt8, UInt16, Half, Float };

const char* sampleTypeName(SampleType type);
int hostDepthFor(SampleType type); // 8, 16 or 32
SampleType sampleTypeForDepth(int depth);

// Everything of the input file that the output should keep. Opaque to code
// built without OpenImageIO.
struct FileMetadata;

struct FileLayout {
    std::string format = "raw"; // OpenImageIO's format name, or "raw"
    int channels = 4;           // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    bool associatedAlpha = false;
    SampleType sampleType = SampleType::UInt8;
    std::shared_ptr<const FileMetadata> metadata;

    bool hasAlpha() const { return channels == 2 || channels == 4; }
};

struct LoadedImage {
    HostImage image;
    FileLayout layout;
};

// True when this build reads and writes image files.
bool imageFilesSupported();

// Reads the first image of the file at `depth` (0: the depth of the file's
// samples). Throws ImageError with a one-line reason.
LoadedImage readImageFile(const std::string& path, int depth = 0);

// Writes `image` in the format named by the path's extension, shaped like
// `like`. Written whole or not at all: the pixels go to a temporary file
// beside `path`, which is renamed over it once complete.
void writeImageFile(const std::string& path, const HostImage& image, const FileLayout& like);

// A one-line summary of a layout, for --info and messages ("png, 4 channels,
// uint8, straight alpha").
std::string describe(const FileLayout& layout);

} // namespace MorvekRender

#endif
