// Image file reading and writing through OpenImageIO, with the conversions to
// and from the host's straight-colour frames.
#include "ImageIO.h"

#include "Overlap.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <type_traits>

#include <sys/stat.h>

#ifdef MORVEK_HAVE_OIIO
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/half.h>
#include <OpenImageIO/imageio.h>
#endif

namespace MorvekRender {

const char* sampleTypeName(SampleType type) {
    switch (type) {
    case SampleType::UInt8:
        return "uint8";
    case SampleType::UInt16:
        return "uint16";
    case SampleType::Half:
        return "half";
    default:
        return "float";
    }
}

int hostDepthFor(SampleType type) {
    switch (type) {
    case SampleType::UInt8:
        return 8;
    case SampleType::UInt16:
        return 16;
    default:
        return 32;
    }
}

SampleType sampleTypeForDepth(int depth) {
    return depth == 8 ? SampleType::UInt8 : depth == 16 ? SampleType::UInt16 : SampleType::Float;
}

std::string describe(const FileLayout& layout) {
    static const char* const kinds[] = {"", "grey", "grey + alpha", "RGB", "RGBA"};
    std::string text =
        layout.format + ", " + (layout.channels >= 1 && layout.channels <= 4 ? kinds[layout.channels] : "?");
    text += std::string(", ") + sampleTypeName(layout.sampleType);
    if (layout.hasAlpha()) {
        text += layout.associatedAlpha ? ", premultiplied alpha" : ", straight alpha";
    }
    for (const std::string& name : layout.passThrough) {
        text += ", " + name;
    }
    return text;
}

namespace {

// A clear reason for an input that cannot be opened at all.
void checkReadableFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        throw ImageError("cannot open '" + path + "': " + std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        throw ImageError("'" + path + "' is not a regular file");
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        throw ImageError("cannot open '" + path + "': " + std::strerror(errno));
    }
    std::fclose(f);
}

} // namespace

#ifndef MORVEK_HAVE_OIIO

struct FileMetadata {};

struct ImageReader::Impl {};
struct ImageWriter::Impl {};

bool imageFilesSupported() {
    return false;
}

void setImageThreads(int) {}

ImageReader::ImageReader(const std::string& path, int) {
    checkReadableFile(path);
    throw ImageError("'" + path + "': this build reads only .raw frames (it was built without OpenImageIO)");
}

ImageReader::~ImageReader() = default;

int ImageReader::depth(int) const {
    return 8;
}

void ImageReader::readInto(int, const FrameRows&, std::vector<unsigned char>&, const ProgressFn&) {}

void ImageReader::readRows(int, std::size_t, const std::function<unsigned char*(int, int)>&,
                           std::vector<unsigned char>&, const ProgressFn&) {}

LoadedImage ImageReader::read(int, const ProgressFn&) {
    return LoadedImage();
}

LoadedImage readImageFile(const std::string& path, int depth) {
    return ImageReader(path, depth).read(0);
}

ImageWriter::ImageWriter(OutputFile& file, const std::vector<FileLayout>&, std::vector<std::string>&) {
    throw ImageError("'" + file.path() + "': this build writes only .raw frames (it was built without OpenImageIO)");
}

ImageWriter::~ImageWriter() = default;

void ImageWriter::write(const FrameRows&, const std::vector<unsigned char>&, const ProgressFn&) {}

void ImageWriter::write(const HostImage&, const LoadedImage&, const ProgressFn&) {}

void ImageWriter::finish() {}

void writeImageFile(const std::string& path, const HostImage&, const FileLayout&) {
    throw ImageError("'" + path + "': this build writes only .raw frames (it was built without OpenImageIO)");
}

std::string declaredColourSpace(const FileLayout&, float* gamma) {
    *gamma = 0.0f;
    return std::string();
}

#else

// The input image's description, and which of its channels the effect sees.
struct FileMetadata {
    OIIO::ImageSpec spec;         // pixels excluded
    std::vector<int> colour;      // R, G, B, or the one grey channel
    int alpha = -1;               // -1: none
    std::vector<int> passThrough; // the rest, in the file's order
};

bool imageFilesSupported() {
    return true;
}

std::string declaredColourSpace(const FileLayout& layout, float* gamma) {
    *gamma = 0.0f;
    if (!layout.metadata) {
        return std::string();
    }
    *gamma = layout.metadata->spec.get_float_attribute("oiio:Gamma", 0.0f);
    return layout.metadata->spec.get_string_attribute("oiio:ColorSpace");
}

void setImageThreads(int workers) {
    // The library's count includes the calling thread.
    OIIO::attribute("threads", std::max(1, workers) + 1);
}

namespace {

// Rows are read and written in blocks of about this many bytes.
constexpr std::size_t kBlockBytes = std::size_t(8) << 20;

// Makes a library message fit on one line, naming `shown` where the library
// named `used`.
std::string oneLine(std::string text, const std::string& used = std::string(), const std::string& shown = "") {
    std::replace(text.begin(), text.end(), '\n', ' ');
    if (!used.empty()) {
        for (std::size_t at = text.find(used); at != std::string::npos; at = text.find(used, at + shown.size())) {
            text.replace(at, used.size(), shown);
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

std::string inputError(const std::string& path, const std::string& reason) {
    return "cannot read '" + path + "': " + oneLine(reason);
}

bool nameIs(const std::string& name, const char* a, const char* b = nullptr) {
    auto same = [&](const char* want) {
        return want && name.size() == std::strlen(want) &&
               std::equal(name.begin(), name.end(), want, [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    };
    return same(a) || same(b);
}

// Which channels the effect sees. Alpha is what the file marks as alpha, or
// a channel called so; colour is R, G and B, else Y. Formats that keep no
// channel names (all but OpenEXR) get names by position from the library,
// and their first channel that is not alpha is the colour there.
std::shared_ptr<FileMetadata> channelRoles(const OIIO::ImageSpec& spec, const std::string& format,
                                           const std::string& path) {
    auto md = std::make_shared<FileMetadata>();
    md->spec = spec;
    const int n = spec.nchannels;
    auto find = [&](const char* a, const char* b) {
        for (int c = 0; c < n; ++c) {
            if (nameIs(spec.channel_name(c), a, b)) {
                return c;
            }
        }
        return -1;
    };
    md->alpha = spec.alpha_channel >= 0 && spec.alpha_channel < n ? spec.alpha_channel : find("A", "Alpha");
    const int r = find("R", "Red"), g = find("G", "Green"), b = find("B", "Blue"), y = find("Y", nullptr);
    if (r >= 0 && g >= 0 && b >= 0) {
        md->colour = {r, g, b};
    } else if (y >= 0) {
        md->colour = {y};
    } else if (format != "openexr") {
        for (int c = 0; c < n && md->colour.empty(); ++c) {
            if (c != md->alpha) {
                md->colour = {c};
            }
        }
    }
    if (md->colour.empty()) {
        throw ImageError("'" + path + "' has no colour channel (R, G and B, or Y) for the effect");
    }
    for (int c = 0; c < n; ++c) {
        if (c != md->alpha && std::find(md->colour.begin(), md->colour.end(), c) == md->colour.end()) {
            md->passThrough.push_back(c);
        }
    }
    return md;
}

// The working sample type: 8 or 16 bits when every effect channel is, else
// half when all are half, else float.
SampleType effectSampleType(const FileMetadata& md) {
    bool all8 = true, all16 = true, allHalf = true;
    std::vector<int> channels = md.colour;
    if (md.alpha >= 0) {
        channels.push_back(md.alpha);
    }
    for (int c : channels) {
        const auto t = static_cast<OIIO::TypeDesc::BASETYPE>(md.spec.channelformat(c).basetype);
        all8 = all8 && t == OIIO::TypeDesc::UINT8;
        all16 = all16 && (t == OIIO::TypeDesc::UINT8 || t == OIIO::TypeDesc::UINT16);
        allHalf = allHalf && t == OIIO::TypeDesc::HALF;
    }
    return all8 ? SampleType::UInt8 : all16 ? SampleType::UInt16 : allHalf ? SampleType::Half : SampleType::Float;
}

// Byte offsets of each channel within a pixel in the file's own types.
std::vector<std::size_t> channelOffsets(const OIIO::ImageSpec& spec) {
    std::vector<std::size_t> offsets(static_cast<std::size_t>(spec.nchannels) + 1, 0);
    for (int c = 0; c < spec.nchannels; ++c) {
        offsets[c + 1] = offsets[c] + spec.channelformat(c).size();
    }
    return offsets;
}

// A sample as a fraction of full intensity: integers over their largest
// value, floating point as stored.
double loadSample(const OIIO::TypeDesc& type, const unsigned char* p) {
    switch (type.basetype) {
    case OIIO::TypeDesc::UINT8:
        return p[0] / 255.0;
    case OIIO::TypeDesc::UINT16: {
        uint16_t v;
        std::memcpy(&v, p, sizeof v);
        return v / 65535.0;
    }
    case OIIO::TypeDesc::HALF: {
        half v;
        std::memcpy(&v, p, sizeof v);
        return static_cast<float>(v);
    }
    case OIIO::TypeDesc::FLOAT: {
        float v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case OIIO::TypeDesc::DOUBLE: {
        double v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    default: {
        float v = 0.0f;
        OIIO::convert_pixel_values(type, p, OIIO::TypeDesc::FLOAT, &v, 1);
        return v;
    }
    }
}

void storeSample(const OIIO::TypeDesc& type, unsigned char* p, double value) {
    switch (type.basetype) {
    case OIIO::TypeDesc::UINT8:
        p[0] = static_cast<uint8_t>(quantize(value, 255));
        break;
    case OIIO::TypeDesc::UINT16: {
        const auto v = static_cast<uint16_t>(quantize(value, 65535));
        std::memcpy(p, &v, sizeof v);
        break;
    }
    case OIIO::TypeDesc::HALF: {
        const half v(static_cast<float>(value));
        std::memcpy(p, &v, sizeof v);
        break;
    }
    case OIIO::TypeDesc::DOUBLE:
        std::memcpy(p, &value, sizeof value);
        break;
    default: {
        const auto v = static_cast<float>(value);
        if (type.basetype == OIIO::TypeDesc::FLOAT) {
            std::memcpy(p, &v, sizeof v);
        } else {
            OIIO::convert_pixel_values(OIIO::TypeDesc::FLOAT, &v, type, p, 1);
        }
        break;
    }
    }
}

// The type to hand the library for samples in the file's own types: the
// one type when there is one. (Its TIFF writer misplaces the samples of
// partial tiles given as "unknown", meaning native.)
OIIO::TypeDesc nativeType(const OIIO::ImageSpec& spec) {
    return spec.channelformats.empty() ? spec.format : OIIO::TypeUnknown;
}

// The rows the format compresses together: TIFF's strips, OpenEXR's chunks.
// A block of whole units is compressed or decompressed in parallel by the
// library and never splits a unit between two calls.
int unitRows(const OIIO::ImageSpec& spec, const std::string& format) {
    if (format == "tiff") {
        return std::max(1, spec.get_int_attribute("tiff:RowsPerStrip", 1));
    }
    if (format == "openexr") {
        const std::string compression = spec.get_string_attribute("compression");
        if (compression == "zip" || compression == "pxr24") {
            return 16;
        }
        if (compression == "piz" || compression.rfind("b44", 0) == 0 || compression.rfind("dwaa", 0) == 0) {
            return 32;
        }
        if (compression.rfind("dwab", 0) == 0) {
            return 256;
        }
    }
    return 1;
}

// Rows per block for an image of `rowBytes` per row: whole tile rows for a
// tiled image, else whole units of compression.
int blockRows(std::size_t rowBytes, const OIIO::ImageSpec& spec, const std::string& format) {
    int rows = static_cast<int>(std::max<std::size_t>(1, kBlockBytes / std::max<std::size_t>(1, rowBytes)));
    rows = std::min(rows, spec.height);
    if (spec.tile_width > 0) {
        const int tile = std::max(1, spec.tile_height);
        rows = std::max(1, rows / tile) * tile;
    } else if (rows < spec.height) {
        const int unit = unitRows(spec, format);
        rows = std::max(1, rows / unit) * unit;
    }
    return rows;
}

// Reads the rows of one subimage block after block in the file's own sample
// types, handing each block (first row, row count, samples) to `use`; the
// library decodes the next block while `use` takes the last. Stops at the
// first error, including a warning the reader only records (a JPEG whose
// data ends early decodes the rest as grey).
template <class Use> void readBlocks(OIIO::ImageInput& in, int subimage, const std::string& path, Use use) {
    if (!in.seek_subimage(subimage, 0)) {
        throw ImageError(inputError(path, in.geterror()));
    }
    (void)in.geterror(); // what looking for other subimages and levels left behind
    const OIIO::ImageSpec spec = in.spec();
    const std::size_t rowBytes = spec.scanline_bytes(true);
    const int rows = blockRows(rowBytes, spec, in.format_name());
    const int count = (spec.height + rows - 1) / rows;
    overlapBlocks(
        count, rowBytes * static_cast<std::size_t>(rows),
        [&](int k, unsigned char* block) {
            const int first = k * rows;
            const int end = std::min(spec.height, first + rows);
            const bool ok = spec.tile_width > 0
                                ? in.read_tiles(subimage, 0, spec.x, spec.x + spec.width, spec.y + first, spec.y + end,
                                                spec.z, spec.z + 1, 0, spec.nchannels, nativeType(spec), block)
                                : in.read_scanlines(subimage, 0, spec.y + first, spec.y + end, spec.z, 0,
                                                    spec.nchannels, nativeType(spec), block);
            // The library keeps its messages per thread: they are read here.
            if (!ok || in.has_error()) {
                const std::string reason = in.geterror();
                throw ImageError(inputError(path, reason.empty() ? "the file's data ends early" : reason));
            }
        },
        [&](int k, const unsigned char* block) {
            const int first = k * rows;
            use(first, std::min(spec.height, first + rows) - first, block);
        });
}

std::unique_ptr<OIIO::ImageInput> openInput(const std::string& path) {
    // Ask for the stored values: without this hint some readers premultiply
    // straight files themselves.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in) {
        const std::string reason = OIIO::geterror();
        throw ImageError(inputError(path, reason.empty() ? "not an image file of a known format" : reason));
    }
    return in;
}

} // namespace

struct ImageReader::Impl {
    std::string path;
    int depth = 0;
    std::unique_ptr<OIIO::ImageInput> in;
};

ImageReader::ImageReader(const std::string& path, int depth) : impl_(std::make_unique<Impl>()) {
    checkReadableFile(path);
    if (depth != 0 && !isValidDepth(depth)) {
        throw ImageError("depth must be 8, 16 or 32, not " + std::to_string(depth));
    }
    impl_->path = path;
    impl_->depth = depth;
    impl_->in = openInput(path);
    OIIO::ImageInput& in = *impl_->in;
    for (int i = 0; in.seek_subimage(i, 0); ++i) {
        const OIIO::ImageSpec spec = in.spec();
        const std::string where = i == 0 ? "'" + path + "'" : "image " + std::to_string(i + 1) + " of '" + path + "'";
        if (spec.width <= 0 || spec.height <= 0 || spec.depth > 1 || spec.deep) {
            throw ImageError(where + " is not a flat 2-D image");
        }
        if (in.seek_subimage(i, 1)) {
            throw ImageError(where + " is MIP-mapped; only flat images are rendered (take its level 0 out first)");
        }
        FileLayout layout;
        layout.format = in.format_name();
        layout.width = spec.width;
        layout.height = spec.height;
        std::shared_ptr<FileMetadata> md = channelRoles(spec, layout.format, path);
        layout.channels = static_cast<int>(md->colour.size()) + (md->alpha >= 0 ? 1 : 0);
        layout.sampleType = effectSampleType(*md);
        layout.associatedAlpha = md->alpha >= 0 && spec.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
        for (int c : md->passThrough) {
            layout.passThrough.push_back(spec.channel_name(c));
            layout.passThroughBytes += spec.channelformat(c).size();
        }
        layout.metadata = md;
        layouts_.push_back(layout);
    }
    if (layouts_.empty()) {
        throw ImageError(inputError(path, in.geterror()));
    }
}

ImageReader::~ImageReader() = default;

int ImageReader::depth(int subimage) const {
    return impl_->depth != 0 ? impl_->depth : hostDepthFor(layout(subimage).sampleType);
}

namespace {

// Sample conversions on known types, each the same arithmetic as
// loadSample, storeSample and setNormalizedSample, so that the fast loops
// give the same values as the general ones.
template <class T> struct Sample;
template <> struct Sample<uint8_t> {
    static constexpr bool integer = true;
    static double load(uint8_t v) { return v / 255.0; }
    static uint8_t store(double v) { return static_cast<uint8_t>(quantize(v, 255)); }
    static uint8_t host(double v) { return static_cast<uint8_t>(quantize(v, 255)); }
    static double ofHost(uint8_t v) { return v / 255.0; }
};
template <> struct Sample<uint16_t> {
    static constexpr bool integer = true;
    static double load(uint16_t v) { return v / 65535.0; }
    static uint16_t store(double v) { return static_cast<uint16_t>(quantize(v, 65535)); }
    static uint16_t host(double v) { return static_cast<uint16_t>(quantize(v, PF_MAX_CHAN16)); }
    static double ofHost(uint16_t v) { return v / 32768.0; }
};
template <> struct Sample<half> {
    static constexpr bool integer = false;
    static double load(half v) { return static_cast<float>(v); }
    static half store(double v) { return half(static_cast<float>(v)); }
};
template <> struct Sample<float> {
    static constexpr bool integer = false;
    static double load(float v) { return v; }
    static float store(double v) { return static_cast<float>(v); }
    static float host(double v) { return static_cast<float>(v); }
    static double ofHost(float v) { return v; }
};

template <class T> T at(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// One integer sample type to another through a table of every value; the
// table is empty where a value is cheaper to compute than to look up.
template <class From, class To> struct Table {
    std::vector<To> entries;
    template <class F> explicit Table(F convert) {
        if constexpr (Sample<From>::integer && std::is_integral<To>::value) {
            entries.resize(std::size_t(1) << (8 * sizeof(From)));
            for (std::size_t v = 0; v < entries.size(); ++v) {
                entries[v] = convert(static_cast<From>(v));
            }
        }
    }
    template <class F> To operator()(From v, F convert) const { return entries.empty() ? convert(v) : entries[v]; }
};

// File pixels of one block to host pixels: alpha, then colour divided by
// an associated alpha. `in` holds the byte offsets of alpha (-1: none) and
// of the three colour channels (one channel three times for grey), all of
// type In.
template <class In, class Px>
void toHostPixels(const unsigned char* block, std::size_t pixelBytesIn, const long in[4], bool associated,
                  std::size_t count, unsigned char* out) {
    const auto load = [](In v) { return Sample<Px>::host(Sample<In>::load(v)); };
    static const Table<In, Px> table(load);
    Px* px = reinterpret_cast<Px*>(out);
    for (std::size_t k = 0; k < count; ++k, px += 4) {
        const unsigned char* p = block + k * pixelBytesIn;
        double alpha = 1.0;
        if (in[0] >= 0) {
            const In a = at<In>(p + in[0]);
            alpha = Sample<In>::load(a);
            px[0] = table(a, load);
        } else {
            px[0] = Sample<Px>::host(1.0);
        }
        // Integer samples are finite, so dividing by 1 changes nothing.
        const bool divide = associated && alpha > 0.0 && !(Sample<In>::integer && alpha == 1.0);
        for (int c = 1; c < 4; ++c) {
            const In v = at<In>(p + in[c]);
            px[c] = divide ? Sample<Px>::host(Sample<In>::load(v) / alpha) : table(v, load);
        }
    }
}

template <class In>
void toHostPixelsAt(int depth, const unsigned char* block, std::size_t pixelBytesIn, const long in[4], bool associated,
                    std::size_t count, unsigned char* out) {
    switch (depth) {
    case 8:
        return toHostPixels<In, uint8_t>(block, pixelBytesIn, in, associated, count, out);
    case 16:
        return toHostPixels<In, uint16_t>(block, pixelBytesIn, in, associated, count, out);
    default:
        return toHostPixels<In, float>(block, pixelBytesIn, in, associated, count, out);
    }
}

// The one type of a list of channels, if they share one the fast loops
// know; else UNKNOWN.
OIIO::TypeDesc::BASETYPE sharedType(const std::vector<OIIO::TypeDesc>& types) {
    const auto first = static_cast<OIIO::TypeDesc::BASETYPE>(types.at(0).basetype);
    for (const OIIO::TypeDesc& t : types) {
        if (t.basetype != first || t.aggregate != OIIO::TypeDesc::SCALAR || t.arraylen != 0) {
            return OIIO::TypeDesc::UNKNOWN;
        }
    }
    switch (first) {
    case OIIO::TypeDesc::UINT8:
    case OIIO::TypeDesc::UINT16:
    case OIIO::TypeDesc::HALF:
    case OIIO::TypeDesc::FLOAT:
        return first;
    default:
        return OIIO::TypeDesc::UNKNOWN;
    }
}

} // namespace

void ImageReader::readInto(int subimage, const FrameRows& frame, std::vector<unsigned char>& passThrough,
                           const ProgressFn& progress) {
    const FileLayout& layout = this->layout(subimage);
    if (frame.width != layout.width || frame.height != layout.height || frame.depth != depth(subimage)) {
        throw ImageError(inputError(impl_->path, "the frame does not match the image"));
    }
    passThrough.resize(layout.passThroughBytes * static_cast<std::size_t>(layout.width) *
                       static_cast<std::size_t>(layout.height));
    readRows(
        subimage, frame.rowBytes, [&](int first, int) { return frame.row(first); }, passThrough, progress);
}

void ImageReader::readRows(int subimage, std::size_t rowBytes,
                           const std::function<unsigned char*(int first, int rows)>& rowsAt,
                           std::vector<unsigned char>& passThrough, const ProgressFn& progress) {
    const FileLayout& layout = this->layout(subimage);
    const FileMetadata& md = *layout.metadata;
    const OIIO::ImageSpec& spec = md.spec;
    const int hostDepth = depth(subimage);
    const std::vector<std::size_t> offsets = channelOffsets(spec);
    const std::size_t pixelBytesIn = offsets.back();
    const std::size_t passBytes = layout.passThroughBytes;
    const bool associated = layout.associatedAlpha;
    const auto width = static_cast<std::size_t>(spec.width);

    std::vector<OIIO::TypeDesc> effectTypes;
    long in[4] = {md.alpha >= 0 ? static_cast<long>(offsets[md.alpha]) : -1, 0, 0, 0};
    for (int c = 0; c < 3; ++c) {
        const int ch = md.colour.size() == 1 ? md.colour[0] : md.colour[c];
        in[c + 1] = static_cast<long>(offsets[ch]);
        effectTypes.push_back(spec.channelformat(ch));
    }
    if (md.alpha >= 0) {
        effectTypes.push_back(spec.channelformat(md.alpha));
    }
    const OIIO::TypeDesc::BASETYPE shared = sharedType(effectTypes);

    readBlocks(*impl_->in, subimage, impl_->path, [&](int first, int rows, const unsigned char* block) {
        unsigned char* target = rowsAt(first, rows);
        for (int r = 0; r < rows; ++r) {
            const unsigned char* src = block + static_cast<std::size_t>(r) * width * pixelBytesIn;
            unsigned char* dst = target + static_cast<std::size_t>(r) * rowBytes;
            switch (shared) {
            case OIIO::TypeDesc::UINT8:
                toHostPixelsAt<uint8_t>(hostDepth, src, pixelBytesIn, in, associated, width, dst);
                break;
            case OIIO::TypeDesc::UINT16:
                toHostPixelsAt<uint16_t>(hostDepth, src, pixelBytesIn, in, associated, width, dst);
                break;
            case OIIO::TypeDesc::HALF:
                toHostPixelsAt<half>(hostDepth, src, pixelBytesIn, in, associated, width, dst);
                break;
            case OIIO::TypeDesc::FLOAT:
                toHostPixelsAt<float>(hostDepth, src, pixelBytesIn, in, associated, width, dst);
                break;
            default:
                for (std::size_t x = 0; x < width; ++x) {
                    const unsigned char* px = src + x * pixelBytesIn;
                    unsigned char* host = dst + x * pixelBytes(hostDepth);
                    const double alpha =
                        md.alpha >= 0 ? loadSample(spec.channelformat(md.alpha), px + offsets[md.alpha]) : 1.0;
                    setNormalizedSample(host, hostDepth, 0, alpha);
                    for (int c = 0; c < 3; ++c) {
                        const int ch = md.colour.size() == 1 ? md.colour[0] : md.colour[c];
                        const double v = loadSample(spec.channelformat(ch), px + offsets[ch]);
                        setNormalizedSample(host, hostDepth, c + 1, associated && alpha > 0.0 ? v / alpha : v);
                    }
                }
                break;
            }
        }
        if (passBytes > 0) {
            const std::size_t begin = static_cast<std::size_t>(first) * width;
            const std::size_t count = static_cast<std::size_t>(rows) * width;
            for (std::size_t k = 0; k < count; ++k) {
                const unsigned char* px = block + k * pixelBytesIn;
                unsigned char* pass = passThrough.data() + (begin + k) * passBytes;
                for (int ch : md.passThrough) {
                    const std::size_t size = offsets[ch + 1] - offsets[ch];
                    std::memcpy(pass, px + offsets[ch], size);
                    pass += size;
                }
            }
        }
        if (progress) {
            progress(static_cast<double>(first + rows) / spec.height);
        }
    });
}

LoadedImage ImageReader::read(int subimage, const ProgressFn& progress) {
    LoadedImage result;
    result.layout = layout(subimage);
    HostImage& image = result.image;
    image.width = result.layout.width;
    image.height = result.layout.height;
    image.depth = depth(subimage);
    const std::size_t rowBytes = frameBytes(image.width, 1, image.depth);
    const std::size_t pixels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    // Memory is taken as rows arrive, not as the header declares.
    image.data.reserve(rowBytes * static_cast<std::size_t>(image.height));
    result.passThrough.reserve(result.layout.passThroughBytes * pixels);
    readRows(
        subimage, rowBytes,
        [&](int first, int rows) {
            image.data.resize(static_cast<std::size_t>(first + rows) * rowBytes);
            result.passThrough.resize(static_cast<std::size_t>(first + rows) * static_cast<std::size_t>(image.width) *
                                      result.layout.passThroughBytes);
            return image.data.data() + static_cast<std::size_t>(first) * rowBytes;
        },
        result.passThrough, progress);
    return result;
}

LoadedImage readImageFile(const std::string& path, int depth) {
    ImageReader reader(path, depth);
    return reader.read(0);
}

namespace {

// The library writes through this, so that every write of every format that
// takes a proxy lands in the output file's checked writes.
class OutputProxy final : public OIIO::Filesystem::IOProxy {
public:
    explicit OutputProxy(OutputFile& file) : IOProxy(file.temporaryPath(), Write), file_(file) {}
    const char* proxytype() const override { return "morvek-output"; }
    void close() override { m_mode = Closed; } // the output file keeps its descriptor
    bool seek(int64_t offset) override {
        if (offset < 0) {
            return false;
        }
        m_pos = offset;
        return true;
    }
    size_t write(const void* buf, size_t size) override {
        const size_t n = pwrite(buf, size, m_pos);
        m_pos += static_cast<int64_t>(n);
        return n;
    }
    size_t pwrite(const void* buf, size_t size, int64_t offset) override {
        used_ = true;
        return offset < 0 ? 0 : file_.writeAt(buf, size, static_cast<std::uint64_t>(offset));
    }
    size_t read(void* buf, size_t size) override {
        const size_t n = pread(buf, size, m_pos);
        m_pos += static_cast<int64_t>(n);
        return n;
    }
    size_t pread(void* buf, size_t size, int64_t offset) override {
        return offset < 0 ? 0 : file_.readAt(buf, size, static_cast<std::uint64_t>(offset));
    }
    size_t size() const override { return static_cast<size_t>(file_.size()); }
    void flush() const override {}
    bool used() const { return used_; }

private:
    OutputFile& file_;
    bool used_ = false;
};

// Carries the input's metadata over to a new spec. Between different formats
// what means the same everywhere travels (colour space, ICC profile,
// resolution, orientation, descriptive text, camera data); compression
// settings and format-specific fields stay behind.
void copyMetadata(const OIIO::ImageSpec& from, bool sameFormat, OIIO::ImageSpec& to) {
    auto startsWith = [](const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; };
    for (const OIIO::ParamValue& p : from.extra_attribs) {
        const std::string name = p.name().string();
        if (name == "oiio:UnassociatedAlpha" || name == "oiio:BitsPerSample" || name == "oiio:subimages") {
            continue;
        }
        if (!sameFormat) {
            const bool general = name == "oiio:ColorSpace" || name == "oiio:Gamma" || startsWith(name, "Exif:") ||
                                 startsWith(name, "GPS:") || startsWith(name, "IPTC:") || startsWith(name, "XMP:") ||
                                 name.find(':') == std::string::npos;
            if (!general || name == "compression" || name == "planarconfig") {
                continue;
            }
        }
        to.extra_attribs.push_back(p);
    }
}

OIIO::TypeDesc typeFor(SampleType type) {
    switch (type) {
    case SampleType::UInt8:
        return OIIO::TypeDesc::UINT8;
    case SampleType::UInt16:
        return OIIO::TypeDesc::UINT16;
    case SampleType::Half:
        return OIIO::TypeDesc::HALF;
    default:
        return OIIO::TypeDesc::FLOAT;
    }
}

// One sample type for formats that hold one per image: the first that keeps
// every channel's values.
OIIO::TypeDesc commonType(const std::vector<OIIO::TypeDesc>& types) {
    int rank = 0; // 0 uint8, 1 uint16, 2 half, 3 float, 4 double
    bool half = false, sixteen = false;
    for (const OIIO::TypeDesc& t : types) {
        switch (t.basetype) {
        case OIIO::TypeDesc::UINT8:
            break;
        case OIIO::TypeDesc::UINT16:
            sixteen = true;
            rank = std::max(rank, 1);
            break;
        case OIIO::TypeDesc::HALF:
            half = true;
            rank = std::max(rank, 2);
            break;
        case OIIO::TypeDesc::DOUBLE:
            rank = 4;
            break;
        default:
            rank = std::max(rank, 3);
            break;
        }
    }
    if (half && sixteen) {
        rank = std::max(rank, 3); // half holds no 16-bit integer exactly
    }
    static const OIIO::TypeDesc byRank[] = {OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT16, OIIO::TypeDesc::HALF,
                                            OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::DOUBLE};
    return byRank[rank];
}

enum Role { kAlpha = -1, kColour = 0, kPass = 3 }; // colour roles are kColour + 0..2

// How one subimage goes into the output: the ImageSpec to write, and for each
// of its channels where the samples come from.
struct Plan {
    FileLayout like;
    OIIO::ImageSpec spec;
    std::vector<int> role;               // kAlpha, kColour + colour index (0..2), or kPass + pass-through index
    std::vector<OIIO::TypeDesc> from;    // each channel's sample type in the input
    std::vector<std::size_t> passOffset; // of each pass-through channel in a pass-through pixel
    bool grey = false;
    bool wantAlpha = false;
    bool keepAlpha = false;
    bool straight = false;
};

Plan makePlan(const FileLayout& like, OIIO::ImageOutput& out, const std::string& path,
              std::vector<std::string>& warnings) {
    Plan plan;
    plan.like = like;
    const std::string format = out.format_name();
    const FileMetadata* md = like.metadata.get();
    plan.grey = like.channels <= 2;
    plan.wantAlpha = like.hasAlpha();
    plan.keepAlpha = plan.wantAlpha && out.supports("alpha");
    if (!like.passThrough.empty() && !out.supports("nchannels")) {
        throw ImageError("cannot write '" + path + "': " + format +
                         " holds only grey, grey + alpha, RGB and RGBA, so the channel '" + like.passThrough[0] +
                         "' would be lost");
    }
    if (plan.wantAlpha && !plan.keepAlpha) {
        warnings.push_back("'" + path + "' holds no alpha: its colour is the image's over black");
    }
    if (format == "png") {
        plan.straight = true;
    } else if (format == "openexr") {
        plan.straight = false;
    } else {
        plan.straight = format == like.format && !like.associatedAlpha;
    }

    // Channels: colour, alpha, then the others, with the input's names and
    // sample types.
    std::vector<std::string> names;
    const OIIO::TypeDesc effectType = typeFor(like.sampleType);
    const int colours = plan.grey ? 1 : 3;
    for (int c = 0; c < colours; ++c) {
        static const char* const rgb[] = {"R", "G", "B"};
        names.emplace_back(md ? md->spec.channel_name(md->colour[c]) : plan.grey ? "Y" : rgb[c]);
        plan.from.push_back(md ? md->spec.channelformat(md->colour[c]) : effectType);
        plan.role.push_back(kColour + c);
    }
    if (plan.keepAlpha) {
        names.emplace_back(md && md->alpha >= 0 ? md->spec.channel_name(md->alpha) : "A");
        plan.from.push_back(md && md->alpha >= 0 ? md->spec.channelformat(md->alpha) : effectType);
        plan.role.push_back(kAlpha);
    }
    std::size_t offset = 0;
    for (std::size_t j = 0; md && j < md->passThrough.size(); ++j) {
        const int ch = md->passThrough[j];
        names.emplace_back(md->spec.channel_name(ch));
        plan.from.push_back(md->spec.channelformat(ch));
        plan.role.push_back(kPass + static_cast<int>(j));
        plan.passOffset.push_back(offset);
        offset += md->spec.channelformat(ch).size();
    }

    // Where the format cannot hold a type, ask for the one that keeps the
    // most: 16 bits for floating point in PNG, float for integers in OpenEXR.
    std::vector<OIIO::TypeDesc> want = plan.from;
    for (OIIO::TypeDesc& t : want) {
        if (format == "png" && t.is_floating_point()) {
            t = OIIO::TypeDesc::UINT16;
        } else if (format == "openexr" && !t.is_floating_point()) {
            t = OIIO::TypeDesc::FLOAT;
        }
    }
    const int channels = static_cast<int>(names.size());
    const bool mixed = std::any_of(want.begin(), want.end(), [&](const OIIO::TypeDesc& t) { return t != want[0]; });
    OIIO::ImageSpec& spec = plan.spec;
    spec = OIIO::ImageSpec(like.width, like.height, channels, mixed ? commonType(want) : want[0]);
    if (mixed && out.supports("channelformats")) {
        spec.channelformats = want;
    }
    if (md) {
        const OIIO::ImageSpec& src = md->spec;
        spec.x = src.x;
        spec.y = src.y;
        spec.full_x = src.full_x;
        spec.full_y = src.full_y;
        spec.full_width = src.full_width;
        spec.full_height = src.full_height;
        const bool sameFormat = format == like.format;
        if (sameFormat && src.tile_width > 0 && out.supports("tiles")) {
            spec.tile_width = src.tile_width;
            spec.tile_height = src.tile_height;
            spec.tile_depth = 1;
        }
        copyMetadata(src, sameFormat, spec);
    }
    spec.channelnames = names;
    spec.alpha_channel = plan.keepAlpha ? colours : -1;
    if (plan.keepAlpha && plan.straight) {
        spec.attribute("oiio:UnassociatedAlpha", 1);
    }
    return plan;
}

// Lines for the channels whose sample type the format changed.
void noteTypeChanges(const Plan& plan, const OIIO::ImageSpec& actual, const std::string& path,
                     std::vector<std::string>& warnings) {
    std::map<std::pair<std::string, std::string>, std::string> changes; // (from, to) -> channel names
    for (int c = 0; c < actual.nchannels; ++c) {
        const OIIO::TypeDesc to = actual.channelformat(c);
        if (to != plan.from[c]) {
            std::string& list = changes[{plan.from[c].c_str(), to.c_str()}];
            list += (list.empty() ? "" : ", ") + std::string(actual.channel_name(c));
        }
    }
    for (const auto& change : changes) {
        warnings.push_back("'" + path + "' stores " + change.second + " as " + change.first.second + ", not " +
                           change.first.first);
    }
}

} // namespace

struct ImageWriter::Impl {
    OutputFile* file = nullptr;
    std::vector<std::string>* warnings = nullptr;
    std::vector<Plan> plans;
    std::unique_ptr<OutputProxy> proxy;
    std::unique_ptr<OIIO::ImageOutput> out; // after the proxy: closed before it goes
    std::size_t next = 0;

    // Throws the reason of a failed write: the system's, when a write of the
    // file failed or the file cannot grow, else the library's.
    [[noreturn]] void fail(const std::string& fallback) {
        std::string reason = file->failure();
        if (reason.empty() && !(proxy && proxy->used())) {
            reason = file->probeGrowth(); // the library wrote by name and kept no reason
        }
        if (reason.empty()) {
            reason = oneLine(out ? out->geterror() : std::string(), file->temporaryPath(), file->path());
        }
        if (reason.empty()) {
            reason = oneLine(fallback, file->temporaryPath(), file->path());
        }
        out.reset();
        file->abandon(reason);
    }

    // What the library wrote by the file's name rather than through the
    // proxy is read back whole, image by image; a failure is traced to its
    // cause.
    void verifyReadBack() {
        std::string problem;
        try {
            auto in = openInput(file->temporaryPath());
            for (std::size_t i = 0; i < plans.size() && problem.empty(); ++i) {
                const int n = static_cast<int>(i);
                if (!in->seek_subimage(n, 0) || in->spec().width != plans[i].spec.width ||
                    in->spec().height != plans[i].spec.height || in->spec().nchannels != plans[i].spec.nchannels) {
                    problem = "image " + std::to_string(i + 1) + " is missing or misshapen";
                } else {
                    readBlocks(*in, n, file->path(), [](int, int, const unsigned char*) {});
                }
            }
        } catch (const ImageError& e) {
            problem = oneLine(e.what(), file->temporaryPath(), file->path());
        }
        if (!problem.empty()) {
            const std::string cause = file->probeGrowth();
            file->abandon(cause.empty() ? "what was written does not read back (" + problem + ")" : cause);
        }
    }
};

ImageWriter::ImageWriter(OutputFile& file, const std::vector<FileLayout>& layouts, std::vector<std::string>& warnings)
    : impl_(std::make_unique<Impl>()) {
    Impl& w = *impl_;
    w.file = &file;
    w.warnings = &warnings;
    w.out = OIIO::ImageOutput::create(file.path());
    if (!w.out) {
        file.abandon("no image format for this file name extension");
    }
    const std::string format = w.out->format_name();
    if (layouts.size() > 1 && !w.out->supports("multiimage")) {
        file.abandon(format + " holds one image, and the input has " + std::to_string(layouts.size()));
    }
    for (const FileLayout& like : layouts) {
        w.plans.push_back(makePlan(like, *w.out, file.path(), warnings));
    }
    // Single PNG, JPEG and OpenEXR images go through the proxy. The
    // library's other writers are not sound through it (its TIFF writer
    // loses the main directory beside an Exif one, and pages; its OpenEXR
    // writer of several parts ignores the proxy), so they write the
    // temporary file by its name, as formats without a proxy do, and what
    // they wrote is read back. The temporary name is given in either case,
    // so a writer that passes the proxy by never reaches the user's file.
    const bool proxySound = format == "png" || format == "jpeg" || format == "openexr";
    if (proxySound && w.out->supports("ioproxy") && layouts.size() == 1) {
        w.proxy = std::make_unique<OutputProxy>(file);
        w.out->set_ioproxy(w.proxy.get());
    }
}

ImageWriter::~ImageWriter() = default;

namespace {

template <class T> void put(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// Host pixels of one row to the file's samples: alpha, colour (the mean of
// the three for grey) premultiplied again where the format wants it. `out`
// holds the byte offsets of alpha (-1: none) and of the colour channels
// (one for grey), all of type Out.
template <class Px, class Out>
void fromHostPixels(const unsigned char* host, std::size_t count, unsigned char* block, std::size_t pixelBytesOut,
                    const long out[4], bool grey, bool premultiplyBack, bool associated) {
    const auto store = [](Px v) { return Sample<Out>::store(Sample<Px>::ofHost(v)); };
    static const Table<Px, Out> table(store);
    const Px* px = reinterpret_cast<const Px*>(host);
    for (std::size_t k = 0; k < count; ++k, px += 4) {
        unsigned char* p = block + k * pixelBytesOut;
        const double alpha = Sample<Px>::ofHost(px[0]);
        // Colour that came premultiplied under zero alpha goes back as the
        // effect left it; integer samples are finite, so multiplying by 1
        // changes nothing.
        const bool scale = premultiplyBack && !(alpha == 0.0 && associated) && !(Sample<Px>::integer && alpha == 1.0);
        if (out[0] >= 0) {
            put(p + out[0], table(px[0], store));
        }
        if (grey) {
            const double v = (Sample<Px>::ofHost(px[1]) + Sample<Px>::ofHost(px[2]) + Sample<Px>::ofHost(px[3])) / 3.0;
            put(p + out[1], Sample<Out>::store(scale ? v * alpha : v));
            continue;
        }
        for (int c = 1; c < 4; ++c) {
            put(p + out[c], scale ? Sample<Out>::store(Sample<Px>::ofHost(px[c]) * alpha) : table(px[c], store));
        }
    }
}

template <class Out>
void fromHostPixelsAt(int depth, const unsigned char* host, std::size_t count, unsigned char* block,
                      std::size_t pixelBytesOut, const long out[4], bool grey, bool premultiplyBack, bool associated) {
    switch (depth) {
    case 8:
        return fromHostPixels<uint8_t, Out>(host, count, block, pixelBytesOut, out, grey, premultiplyBack, associated);
    case 16:
        return fromHostPixels<uint16_t, Out>(host, count, block, pixelBytesOut, out, grey, premultiplyBack, associated);
    default:
        return fromHostPixels<float, Out>(host, count, block, pixelBytesOut, out, grey, premultiplyBack, associated);
    }
}

} // namespace

void ImageWriter::write(const FrameRows& image, const std::vector<unsigned char>& passThrough,
                        const ProgressFn& progress) {
    Impl& w = *impl_;
    if (w.next >= w.plans.size()) {
        throw ImageError("cannot write '" + w.file->path() + "': more images than announced");
    }
    const Plan& plan = w.plans[w.next];
    // The format's writer opens with the first image ready, so that a
    // failure before it leaves the library nothing to finish.
    bool opened;
    if (w.next == 0) {
        std::vector<OIIO::ImageSpec> imageSpecs;
        for (const Plan& p : w.plans) {
            imageSpecs.push_back(p.spec);
        }
        opened = w.out->open(w.file->temporaryPath(), static_cast<int>(imageSpecs.size()), imageSpecs.data());
    } else {
        opened = w.out->open(w.file->temporaryPath(), plan.spec, OIIO::ImageOutput::AppendSubimage);
    }
    if (!opened || !w.file->failure().empty()) {
        w.fail("the image format refused image " + std::to_string(w.next + 1));
    }
    ++w.next;
    const auto width = static_cast<std::size_t>(image.width);
    const std::size_t pixels = width * static_cast<std::size_t>(image.height);
    if (image.width != plan.like.width || image.height != plan.like.height || !isValidDepth(image.depth) ||
        passThrough.size() < plan.like.passThroughBytes * pixels) {
        w.fail("the image does not match its description");
    }
    const OIIO::ImageSpec actual = w.out->spec();
    if (actual.nchannels != plan.spec.nchannels) {
        w.fail("the image format changed the number of channels");
    }
    noteTypeChanges(plan, actual, w.file->path(), *w.warnings);

    const std::vector<std::size_t> offsets = channelOffsets(actual);
    const std::size_t pixelBytesOut = offsets.back();
    const std::size_t hostPixelBytes = pixelBytes(image.depth);
    const std::size_t rowBytes = pixelBytesOut * width;
    const int rows = blockRows(rowBytes, actual, w.out->format_name());
    const bool premultiplyBack = plan.wantAlpha && !(plan.keepAlpha && plan.straight);
    const bool associated = plan.like.associatedAlpha;
    const std::size_t passBytes = plan.like.passThroughBytes;

    long out[4] = {-1, -1, -1, -1};
    std::vector<OIIO::TypeDesc> effectTypes;
    for (int c = 0; c < actual.nchannels; ++c) {
        if (plan.role[c] < kPass) {
            out[plan.role[c] == kAlpha ? 0 : plan.role[c] - kColour + 1] = static_cast<long>(offsets[c]);
            effectTypes.push_back(actual.channelformat(c));
        }
    }
    const OIIO::TypeDesc::BASETYPE shared = sharedType(effectTypes);

    // Converts the rows [first, end) into `block`.
    auto convert = [&](int first, int end, unsigned char* block) {
        for (int y = first; y < end; ++y) {
            const unsigned char* host = image.row(y);
            unsigned char* dst = block + static_cast<std::size_t>(y - first) * rowBytes;
            switch (shared) {
            case OIIO::TypeDesc::UINT8:
                fromHostPixelsAt<uint8_t>(image.depth, host, width, dst, pixelBytesOut, out, plan.grey, premultiplyBack,
                                          associated);
                break;
            case OIIO::TypeDesc::UINT16:
                fromHostPixelsAt<uint16_t>(image.depth, host, width, dst, pixelBytesOut, out, plan.grey,
                                           premultiplyBack, associated);
                break;
            case OIIO::TypeDesc::HALF:
                fromHostPixelsAt<half>(image.depth, host, width, dst, pixelBytesOut, out, plan.grey, premultiplyBack,
                                       associated);
                break;
            case OIIO::TypeDesc::FLOAT:
                fromHostPixelsAt<float>(image.depth, host, width, dst, pixelBytesOut, out, plan.grey, premultiplyBack,
                                        associated);
                break;
            default:
                for (std::size_t x = 0; x < width; ++x) {
                    const unsigned char* px = host + x * hostPixelBytes;
                    unsigned char* p = dst + x * pixelBytesOut;
                    const double alpha = normalizedSample(px, image.depth, 0);
                    const bool scale = premultiplyBack && !(alpha == 0.0 && associated);
                    for (int c = 0; c < actual.nchannels; ++c) {
                        const int role = plan.role[c];
                        if (role == kAlpha) {
                            storeSample(actual.channelformat(c), p + offsets[c], alpha);
                        } else if (role < kPass) {
                            const double v = plan.grey ? (normalizedSample(px, image.depth, 1) +
                                                          normalizedSample(px, image.depth, 2) +
                                                          normalizedSample(px, image.depth, 3)) /
                                                             3.0
                                                       : normalizedSample(px, image.depth, role - kColour + 1);
                            storeSample(actual.channelformat(c), p + offsets[c], scale ? v * alpha : v);
                        }
                    }
                }
                break;
            }
            if (passBytes == 0) {
                continue;
            }
            const unsigned char* pass = passThrough.data() + static_cast<std::size_t>(y) * width * passBytes;
            for (std::size_t x = 0; x < width; ++x) {
                unsigned char* p = dst + x * pixelBytesOut;
                for (int c = 0; c < actual.nchannels; ++c) {
                    const int role = plan.role[c];
                    if (role < kPass) {
                        continue;
                    }
                    const OIIO::TypeDesc type = actual.channelformat(c);
                    const unsigned char* src = pass + x * passBytes + plan.passOffset[role - kPass];
                    if (type == plan.from[c]) {
                        std::memcpy(p + offsets[c], src, type.size());
                    } else {
                        OIIO::convert_pixel_values(plan.from[c], src, type, p + offsets[c], 1);
                    }
                }
            }
        }
    };
    // The next block is converted while the library encodes the last.
    const int count = (image.height + rows - 1) / rows;
    overlapBlocks(
        count, rowBytes * static_cast<std::size_t>(rows),
        [&](int k, unsigned char* block) { convert(k * rows, std::min(image.height, (k + 1) * rows), block); },
        [&](int k, const unsigned char* block) {
            const int first = k * rows;
            const int end = std::min(image.height, first + rows);
            const bool ok =
                actual.tile_width > 0
                    ? w.out->write_tiles(actual.x, actual.x + actual.width, actual.y + first, actual.y + end, actual.z,
                                         actual.z + 1, nativeType(actual), block)
                    : w.out->write_scanlines(actual.y + first, actual.y + end, actual.z, nativeType(actual), block);
            if (!ok || !w.file->failure().empty()) {
                w.fail("the image format refused the pixels");
            }
            if (progress) {
                progress(static_cast<double>(end) / image.height);
            }
        });
}

void ImageWriter::write(const HostImage& image, const LoadedImage& source, const ProgressFn& progress) {
    write(image.rows(), source.passThrough, progress);
}

void ImageWriter::finish() {
    Impl& w = *impl_;
    if (w.next != w.plans.size()) {
        w.fail("fewer images than announced");
    }
    // The library's error text is no guide on success: its TIFF writer
    // leaves a message behind every time. What counts is what close returns
    // and what reached the file, including what a writer writes only when it
    // is destroyed (OpenEXR's).
    const bool closed = w.out->close();
    const std::string error = closed ? std::string() : w.out->geterror();
    w.out.reset();
    if (!closed || !w.file->failure().empty()) {
        w.fail(error.empty() ? "the image format could not finish the file" : error);
    }
    if (!w.proxy || !w.proxy->used()) {
        // The disk writing of what the library wrote by name starts while it
        // is read back.
        w.file->startFlush();
        w.verifyReadBack();
    }
}

void writeImageFile(const std::string& path, const HostImage& image, const FileLayout& like) {
    OutputFile file(path);
    std::vector<std::string> warnings;
    FileLayout layout = like;
    layout.width = image.width;
    layout.height = image.height;
    ImageWriter writer(file, {layout}, warnings);
    LoadedImage source;
    source.layout = layout;
    writer.write(image, source);
    writer.finish();
    file.commit();
}

#endif

} // namespace MorvekRender
