#include "WorkingSpace.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#ifdef MORVEK_HAVE_OCIO
#include <OpenColorIO/OpenColorIO.h>
#endif

namespace MorvekRender {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool isLinearName(const std::string& space) {
    const std::string l = lower(space);
    return l == "linear" || l == "gamma1" || l == "gamma1.0";
}

} // namespace

std::string fileColourSpace(const std::string& declared, float gamma, bool floatSamples) {
    const std::string l = lower(declared);
    if (l.empty()) {
        return floatSamples ? "linear" : "sRGB";
    }
    if (l == "srgb") {
        return "sRGB";
    }
    if (l == "linear") {
        return "linear";
    }
    if (l == "gammacorrected" && gamma > 0.0f) {
        if (gamma == 1.0f) {
            return "linear";
        }
        char name[32];
        std::snprintf(name, sizeof name, "Gamma%g", static_cast<double>(gamma));
        return name;
    }
    return declared;
}

#ifdef MORVEK_HAVE_OCIO

namespace OCIO = OCIO_NAMESPACE;

struct LinearConversion::Processors {
    OCIO::ConstCPUProcessorRcPtr toLinear, fromLinear;
    int threads = 1;
};

namespace {

// The transfer functions known without a config, each from encoded values
// to linear light: sRGB (IEC 61966-2-1: a power of 2.4 with offset 0.055 and
// a linear toe), Rec709 (ITU-R BT.709: 1/0.45 with offset 0.099) and GammaX
// (a plain power X). Null for any other name.
OCIO::ConstTransformRcPtr builtInTransform(const std::string& space) {
    const std::string l = lower(space);
    if (l == "srgb" || l == "rec709") {
        const double g = l == "srgb" ? 2.4 : 1.0 / 0.45;
        const double o = l == "srgb" ? 0.055 : 0.099;
        const double gamma[4] = {g, g, g, 1.0};
        const double offset[4] = {o, o, o, 0.0};
        OCIO::ExponentWithLinearTransformRcPtr t = OCIO::ExponentWithLinearTransform::Create();
        t->setGamma(gamma);
        t->setOffset(offset);
        return t;
    }
    if (l.rfind("gamma", 0) == 0 && l.size() > 5) {
        char* end = nullptr;
        const double g = std::strtod(l.c_str() + 5, &end);
        if (end && *end == '\0' && g > 0.0 && std::isfinite(g)) {
            const double value[4] = {g, g, g, 1.0};
            OCIO::ExponentTransformRcPtr t = OCIO::ExponentTransform::Create();
            t->setValue(value);
            t->setNegativeStyle(OCIO::NEGATIVE_MIRROR);
            return t;
        }
    }
    return nullptr;
}

std::string notKnown(const std::string& space) {
    return "the colour space '" + space +
           "' is not known here; use --working-space stored, or name an OpenColorIO config that knows it in $OCIO";
}

// The colour channels of PF_PixelFloat (alpha, red, green, blue) in place,
// the rows cut into one band per thread.
void apply(const OCIO::CPUProcessor& processor, const FrameRows& image, int threads) {
    if (image.depth != 32) {
        throw ImageError("colour conversion needs a 32-bit frame");
    }
    const int bands = std::max(1, std::min(threads, image.height));
    auto band = [&](int k) {
        const int first = static_cast<int>(static_cast<long long>(image.height) * k / bands);
        const int end = static_cast<int>(static_cast<long long>(image.height) * (k + 1) / bands);
        if (end <= first || image.width == 0) {
            return;
        }
        auto* px = reinterpret_cast<PF_PixelFloat*>(image.row(first));
        OCIO::PackedImageDesc desc(&px->red, image.width, end - first, 3, OCIO::BIT_DEPTH_F32, sizeof(float),
                                   sizeof(PF_PixelFloat), static_cast<std::ptrdiff_t>(image.rowBytes));
        processor.apply(desc);
    };
    std::vector<std::thread> helpers;
    for (int k = 1; k < bands; ++k) {
        helpers.emplace_back(band, k);
    }
    band(0);
    for (std::thread& t : helpers) {
        t.join();
    }
}

} // namespace

LinearConversion::LinearConversion(const std::string& colourSpace, int threads) : space_(colourSpace) {
    if (isLinearName(space_)) {
        return;
    }
    auto p = std::make_unique<Processors>();
    p->threads = threads;
    try {
        OCIO::ConstProcessorRcPtr decode, encode;
        if (OCIO::ConstTransformRcPtr t = builtInTransform(space_)) {
            OCIO::ConstConfigRcPtr raw = OCIO::Config::CreateRaw();
            decode = raw->getProcessor(t, OCIO::TRANSFORM_DIR_FORWARD);
            encode = raw->getProcessor(t, OCIO::TRANSFORM_DIR_INVERSE);
        } else {
            OCIO::ConstConfigRcPtr config = OCIO::Config::CreateFromEnv();
            if (!config->getColorSpace(space_.c_str()) || !config->getColorSpace(OCIO::ROLE_SCENE_LINEAR)) {
                throw ImageError(notKnown(space_));
            }
            decode = config->getProcessor(space_.c_str(), OCIO::ROLE_SCENE_LINEAR);
            encode = config->getProcessor(OCIO::ROLE_SCENE_LINEAR, space_.c_str());
        }
        p->toLinear =
            decode->getOptimizedCPUProcessor(OCIO::BIT_DEPTH_F32, OCIO::BIT_DEPTH_F32, OCIO::OPTIMIZATION_LOSSLESS);
        p->fromLinear =
            encode->getOptimizedCPUProcessor(OCIO::BIT_DEPTH_F32, OCIO::BIT_DEPTH_F32, OCIO::OPTIMIZATION_LOSSLESS);
    } catch (const OCIO::Exception& e) {
        throw ImageError("cannot convert '" + space_ + "' to linear light: " + e.what());
    }
    processors_ = std::move(p);
}

void LinearConversion::toLinear(const FrameRows& image) const {
    if (processors_) {
        apply(*processors_->toLinear, image, processors_->threads);
    }
}

void LinearConversion::fromLinear(const FrameRows& image) const {
    if (processors_) {
        apply(*processors_->fromLinear, image, processors_->threads);
    }
}

#else

struct LinearConversion::Processors {};

LinearConversion::LinearConversion(const std::string& colourSpace, int) : space_(colourSpace) {
    if (!isLinearName(space_)) {
        throw ImageError("decoding '" + space_ + "' to linear light needs OpenColorIO, which this build lacks");
    }
}

void LinearConversion::toLinear(const FrameRows&) const {}

void LinearConversion::fromLinear(const FrameRows&) const {}

#endif

LinearConversion::~LinearConversion() = default;

void LinearConversion::toLinear(HostImage& image) const {
    toLinear(image.rows());
}

void LinearConversion::fromLinear(HostImage& image) const {
    fromLinear(image.rows());
}

} // namespace MorvekRender
