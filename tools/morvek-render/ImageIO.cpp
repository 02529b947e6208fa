// Image file reading and writing through OpenImageIO, with the conversions to
// and from the host's straight-colour frames.
#include "ImageIO.h"
#include "RawIO.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#ifdef MORVEK_HAVE_OIIO
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

bool imageFilesSupported() {
    return false;
}

LoadedImage readImageFile(const std::string& path, int) {
    checkReadableFile(path);
    throw ImageError("'" + path + "': this build reads only .raw frames (it was built without OpenImageIO)");
}

void writeImageFile(const std::string& path, const HostImage&, const FileLayout&) {
    throw ImageError("'" + path + "': this build writes only .raw frames (it was built without OpenImageIO)");
}

#else

struct FileMetadata {
    OIIO::ImageSpec spec; // the input's full description, pixels excluded
};

bool imageFilesSupported() {
    return true;
}

namespace {

// Makes a library message fit on one line.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

SampleType sampleTypeOf(const OIIO::ImageSpec& spec) {
    if (!spec.channelformats.empty()) {
        return SampleType::Float; // mixed per-channel types
    }
    switch (spec.format.basetype) {
    case OIIO::TypeDesc::UINT8:
    case OIIO::TypeDesc::INT8:
        return SampleType::UInt8;
    case OIIO::TypeDesc::UINT16:
    case OIIO::TypeDesc::INT16:
        return SampleType::UInt16;
    case OIIO::TypeDesc::HALF:
        return SampleType::Half;
    default:
        return SampleType::Float;
    }
}

// Index of the alpha channel among 2 or 4 channels, and the colour channels.
struct ChannelMap {
    int alpha = -1;
    int colour[3] = {0, 0, 0}; // grey files repeat channel 0
};

ChannelMap channelMap(int channels, int alphaChannel) {
    ChannelMap map;
    if (channels == 2 || channels == 4) {
        map.alpha = alphaChannel >= 0 && alphaChannel < channels ? alphaChannel : channels - 1;
    }
    int next = 0;
    for (int c = 0; c < channels && next < 3; ++c) {
        if (c != map.alpha) {
            map.colour[next++] = c;
        }
    }
    if (next == 1) {
        map.colour[1] = map.colour[2] = map.colour[0];
    }
    return map;
}

// File samples (`channels` per pixel, `full` the sample value of full
// intensity) into the host frame: straight colour, alpha first.
template <class T>
void toHost(const T* samples, double full, int channels, const ChannelMap& map, bool associated, HostImage& image) {
    const std::size_t count = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    for (std::size_t i = 0; i < count; ++i) {
        const T* px = samples + i * static_cast<std::size_t>(channels);
        auto fraction = [&](int c) { return static_cast<double>(px[c]) / full; };
        const double alpha = map.alpha >= 0 ? fraction(map.alpha) : 1.0;
        image.setNormalized(i, 0, alpha);
        for (int c = 0; c < 3; ++c) {
            const double v = fraction(map.colour[c]);
            // Colour under zero alpha cannot be recovered from premultiplied
            // values; it becomes black.
            image.setNormalized(i, c + 1, associated ? (alpha > 0.0 ? v / alpha : 0.0) : v);
        }
    }
}

std::string inputError(const std::string& path, const std::string& reason) {
    return "cannot read '" + path + "': " + oneLine(reason);
}

} // namespace

LoadedImage readImageFile(const std::string& path, int depth) {
    checkReadableFile(path);
    if (depth != 0 && !isValidDepth(depth)) {
        throw ImageError("depth must be 8, 16 or 32, not " + std::to_string(depth));
    }
    // Ask for the stored values: without this hint some readers premultiply
    // straight files themselves.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in) {
        std::string reason = OIIO::geterror();
        throw ImageError(inputError(path, reason.empty() ? "not an image file of a known format" : reason));
    }
    const OIIO::ImageSpec spec = in->spec();
    const int channels = spec.nchannels;
    if (channels < 1 || channels > 4) {
        throw ImageError("'" + path + "' has " + std::to_string(channels) +
                         " channels; only grey, grey + alpha, RGB and RGBA images are supported");
    }
    if (spec.width <= 0 || spec.height <= 0 || spec.depth > 1) {
        throw ImageError("'" + path + "' is not a flat 2-D image");
    }

    LoadedImage result;
    FileLayout& layout = result.layout;
    layout.format = in->format_name();
    layout.channels = channels;
    layout.sampleType = sampleTypeOf(spec);
    layout.associatedAlpha = layout.hasAlpha() && spec.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    auto metadata = std::make_shared<FileMetadata>();
    metadata->spec = spec;
    layout.metadata = metadata;

    const int workDepth = depth != 0 ? depth : hostDepthFor(layout.sampleType);
    result.image = HostImage(spec.width, spec.height, workDepth);

    const std::size_t samples = static_cast<std::size_t>(spec.width) * static_cast<std::size_t>(spec.height) *
                                static_cast<std::size_t>(channels);
    const ChannelMap map = channelMap(channels, spec.alpha_channel);
    bool ok = false;
    if (layout.sampleType == SampleType::UInt8) {
        std::vector<uint8_t> buf(samples);
        ok = in->read_image(0, 0, 0, channels, OIIO::TypeDesc::UINT8, buf.data());
        if (ok) {
            toHost(buf.data(), 255.0, channels, map, layout.associatedAlpha, result.image);
        }
    } else if (layout.sampleType == SampleType::UInt16) {
        std::vector<uint16_t> buf(samples);
        ok = in->read_image(0, 0, 0, channels, OIIO::TypeDesc::UINT16, buf.data());
        if (ok) {
            toHost(buf.data(), 65535.0, channels, map, layout.associatedAlpha, result.image);
        }
    } else {
        std::vector<float> buf(samples);
        ok = in->read_image(0, 0, 0, channels, OIIO::TypeDesc::FLOAT, buf.data());
        if (ok) {
            toHost(buf.data(), 1.0, channels, map, layout.associatedAlpha, result.image);
        }
    }
    if (!ok) {
        throw ImageError(inputError(path, in->geterror()));
    }
    in->close();
    return result;
}

namespace {

// Carries the input's metadata over to a new spec. Between different formats
// only what means the same everywhere travels: colour space, resolution,
// orientation, descriptive text, camera data; compression settings and
// format-specific fields stay behind.
void copyMetadata(const OIIO::ImageSpec& from, const std::string& fromFormat, const std::string& toFormat,
                  OIIO::ImageSpec& to) {
    auto startsWith = [](const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; };
    for (const OIIO::ParamValue& p : from.extra_attribs) {
        const std::string name = p.name().string();
        if (name == "oiio:UnassociatedAlpha" || name == "oiio:BitsPerSample") {
            continue;
        }
        if (fromFormat != toFormat) {
            const bool general = name == "oiio:ColorSpace" || name == "oiio:Gamma" || startsWith(name, "Exif:") ||
                                 startsWith(name, "GPS:") || startsWith(name, "IPTC:") || startsWith(name, "XMP:") ||
                                 name.find(':') == std::string::npos;
            if (!general || name == "compression" || name == "planarconfig" || name == "ICCProfile") {
                continue;
            }
        }
        to.extra_attribs.push_back(p);
    }
}

} // namespace

void writeImageFile(const std::string& path, const HostImage& image, const FileLayout& like) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out) {
        throw ImageError("cannot write '" + path + "': no image format for this file name extension");
    }
    const std::string format = out->format_name();
    int channels = like.channels;
    const bool wantAlpha = like.hasAlpha();
    const bool grey = channels <= 2;
    bool keepAlpha = wantAlpha && out->supports("alpha");
    if (wantAlpha && !keepAlpha) {
        channels -= 1; // e.g. JPEG: colour over black
    }

    bool straight;
    if (format == "png") {
        straight = true;
    } else if (format == "openexr") {
        straight = false;
    } else {
        straight = format == like.format && !like.associatedAlpha;
    }

    OIIO::TypeDesc requested;
    switch (like.sampleType) {
    case SampleType::UInt8:
        requested = OIIO::TypeDesc::UINT8;
        break;
    case SampleType::UInt16:
        requested = OIIO::TypeDesc::UINT16;
        break;
    case SampleType::Half:
        requested = OIIO::TypeDesc::HALF;
        break;
    default:
        requested = OIIO::TypeDesc::FLOAT;
        break;
    }

    OIIO::ImageSpec spec(image.width, image.height, channels, requested);
    if (like.metadata && like.metadata->spec.width == image.width && like.metadata->spec.height == image.height) {
        const OIIO::ImageSpec& src = like.metadata->spec;
        spec.x = src.x;
        spec.y = src.y;
        spec.full_x = src.full_x;
        spec.full_y = src.full_y;
        spec.full_width = src.full_width;
        spec.full_height = src.full_height;
    }
    if (like.metadata) {
        copyMetadata(like.metadata->spec, like.format, format, spec);
    }
    spec.channelnames.clear();
    if (grey) {
        spec.channelnames.emplace_back("Y");
    } else {
        spec.channelnames.emplace_back("R");
        spec.channelnames.emplace_back("G");
        spec.channelnames.emplace_back("B");
    }
    spec.alpha_channel = -1;
    if (keepAlpha) {
        spec.alpha_channel = channels - 1;
        spec.channelnames.emplace_back("A");
        if (straight) {
            spec.attribute("oiio:UnassociatedAlpha", 1);
        }
    }

    const std::string temp = temporarySibling(path);
    if (!out->open(temp, spec)) {
        std::remove(temp.c_str());
        throw ImageError("cannot write '" + path + "': " + oneLine(out->geterror()));
    }
    // The writer may have chosen another sample type than asked for (a PNG
    // holds no floats); fill the buffer in the type it took.
    const OIIO::TypeDesc actual = out->spec().format;
    const std::size_t count = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    const std::size_t samples = count * static_cast<std::size_t>(channels);

    // Host values as fractions of full, premultiplied where the file wants it.
    auto sampleAt = [&](std::size_t i, int c) {
        const double alpha = image.normalized(i, 0);
        if (keepAlpha && c == channels - 1) {
            return alpha;
        }
        double v;
        if (grey) {
            v = (image.normalized(i, 1) + image.normalized(i, 2) + image.normalized(i, 3)) / 3.0;
        } else {
            v = image.normalized(i, c + 1);
        }
        return (keepAlpha && straight) ? v : (wantAlpha ? v * alpha : v);
    };

    bool ok;
    if (actual.basetype == OIIO::TypeDesc::UINT8) {
        std::vector<uint8_t> buf(samples);
        for (std::size_t i = 0; i < count; ++i) {
            for (int c = 0; c < channels; ++c) {
                buf[i * channels + c] = static_cast<uint8_t>(quantize(sampleAt(i, c), 255));
            }
        }
        ok = out->write_image(OIIO::TypeDesc::UINT8, buf.data());
    } else if (actual.basetype == OIIO::TypeDesc::UINT16) {
        std::vector<uint16_t> buf(samples);
        for (std::size_t i = 0; i < count; ++i) {
            for (int c = 0; c < channels; ++c) {
                buf[i * channels + c] = static_cast<uint16_t>(quantize(sampleAt(i, c), 65535));
            }
        }
        ok = out->write_image(OIIO::TypeDesc::UINT16, buf.data());
    } else {
        std::vector<float> buf(samples);
        for (std::size_t i = 0; i < count; ++i) {
            for (int c = 0; c < channels; ++c) {
                buf[i * channels + c] = static_cast<float>(sampleAt(i, c));
            }
        }
        ok = out->write_image(OIIO::TypeDesc::FLOAT, buf.data());
    }
    const bool closed = out->close();
    if (!ok || !closed) {
        std::remove(temp.c_str());
        throw ImageError("cannot write '" + path + "': " + oneLine(out->geterror()));
    }
    if (!replaceFile(temp, path)) {
        const std::string reason = std::strerror(errno);
        std::remove(temp.c_str());
        throw ImageError("cannot write '" + path + "': " + reason);
    }
}

#endif

} // namespace MorvekRender
