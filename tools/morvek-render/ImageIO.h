// Image files (PNG, TIFF, OpenEXR, JPEG and the rest OpenImageIO knows) read
// into host-layout frames and written back, keeping what the file was: its
// channels, sample types, alpha association, subimages and metadata.
//
// Channels: the effect sees colour (R, G and B, or one grey channel) and
// alpha. Alpha is the channel the file marks as alpha, or one named "A" or
// "Alpha"; every other channel (depth, AOVs, a fourth channel the file does
// not call alpha) passes through to the output unchanged, with its name and
// sample type. Grey and RGB files get an opaque alpha.
//
// Reading: associated (premultiplied) colour is divided by alpha, because the
// effect works on straight colour; under zero alpha nothing can be divided,
// so the stored colour goes to the effect as it is and the effect's colour is
// written back as it is. 16-bit samples 0..65535 become host values
// 0..32768, rounded to nearest. Writing does the reverse for the output's
// format: straight for PNG, premultiplied for OpenEXR, and for TIFF and the
// rest premultiplied unless the input was the same format with straight
// colour. Pixels are read and written in blocks of rows, so a file whose data
// ends early costs only what it held.
//
// Without OpenImageIO (MORVEK_HAVE_OIIO undefined) every call here throws
// ImageError; raw frames (RawIO.h) still work.
#ifndef MORVEK_RENDER_IMAGEIO_H
#define MORVEK_RENDER_IMAGEIO_H

#include "HostImage.h"
#include "OutputFile.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace MorvekRender {

// Told how far a read or write has come, 0..1, after each block of rows.
using ProgressFn = std::function<void(double)>;

enum class SampleType { UInt8, UInt16, Half, Float };

const char* sampleTypeName(SampleType type);
int hostDepthFor(SampleType type); // 8, 16 or 32
SampleType sampleTypeForDepth(int depth);

// Everything of an input image that the output should keep. Opaque to code
// built without OpenImageIO.
struct FileMetadata;

struct FileLayout {
    std::string format = "raw"; // OpenImageIO's format name, or "raw"
    int width = 0;
    int height = 0;
    int channels = 4; // the effect's: 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    bool associatedAlpha = false;
    SampleType sampleType = SampleType::UInt8; // of the effect's channels
    std::vector<std::string> passThrough;      // the other channels' names
    std::size_t passThroughBytes = 0;          // their bytes per pixel
    std::shared_ptr<const FileMetadata> metadata;

    bool hasAlpha() const { return channels == 2 || channels == 4; }
};

struct LoadedImage {
    HostImage image;
    FileLayout layout;
    // The other channels, pixel after pixel, in the file's own sample types.
    std::vector<unsigned char> passThrough;
};

// True when this build reads and writes image files.
bool imageFilesSupported();

// The threads the file library may use to compress and decompress: `workers`
// of its own beside the thread that calls it (it splits work only when it
// has at least two).
void setImageThreads(int workers);

// An image file open for reading: every subimage (TIFF pages, OpenEXR parts)
// described at once, the pixels of one at a time. MIP-mapped and deep files
// are refused.
class ImageReader {
public:
    // `depth` is the working depth, 0 for the depth of the file's samples.
    // Throws ImageError with a one-line reason.
    explicit ImageReader(const std::string& path, int depth = 0);
    ~ImageReader();
    ImageReader(const ImageReader&) = delete;
    ImageReader& operator=(const ImageReader&) = delete;

    int count() const { return static_cast<int>(layouts_.size()); }
    const FileLayout& layout(int subimage) const { return layouts_[static_cast<std::size_t>(subimage)]; }
    // The working depth of a subimage's frame.
    int depth(int subimage) const;
    // Reads a subimage into `frame` (its size, at depth(subimage)) and its
    // other channels into `passThrough`, pixel after pixel in the file's own
    // sample types.
    void readInto(int subimage, const FrameRows& frame, std::vector<unsigned char>& passThrough,
                  const ProgressFn& progress = nullptr);
    LoadedImage read(int subimage, const ProgressFn& progress = nullptr);

private:
    // Rows go where rowsAt(first, count) says, `rowBytes` apart.
    void readRows(int subimage, std::size_t rowBytes, const std::function<unsigned char*(int first, int rows)>& rowsAt,
                  std::vector<unsigned char>& passThrough, const ProgressFn& progress);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<FileLayout> layouts_;
};

// The first image of the file, for callers that want one.
LoadedImage readImageFile(const std::string& path, int depth = 0);

// Writes images into `file` in the format named by its path's extension, one
// per layout and in that order, each shaped like its layout.
class ImageWriter {
public:
    // Throws ImageError before anything is written when the format cannot
    // hold the images: several where it holds one, channels it has no room
    // for. What the format changes (sample types, a dropped alpha) is added
    // to `warnings`, one line each.
    ImageWriter(OutputFile& file, const std::vector<FileLayout>& layouts, std::vector<std::string>& warnings);
    ~ImageWriter();
    ImageWriter(const ImageWriter&) = delete;
    ImageWriter& operator=(const ImageWriter&) = delete;

    // The next image: `image`, with the channels that pass through, pixel
    // after pixel in the input's sample types.
    void write(const FrameRows& image, const std::vector<unsigned char>& passThrough,
               const ProgressFn& progress = nullptr);
    // The same for `image` rendered from `source`.
    void write(const HostImage& image, const LoadedImage& source, const ProgressFn& progress = nullptr);
    // Closes the format's writer and checks what it wrote; the caller
    // commits the file.
    void finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One image written whole or not at all, shaped like `like`.
void writeImageFile(const std::string& path, const HostImage& image, const FileLayout& like);

// The colour space an image declares ("oiio:ColorSpace"; empty when none)
// and, for a plain power, its exponent in *gamma ("oiio:Gamma"; 0 when none).
std::string declaredColourSpace(const FileLayout& layout, float* gamma);

// A one-line summary of a layout ("png, RGBA, uint8, straight alpha").
std::string describe(const FileLayout& layout);

} // namespace MorvekRender

#endif
