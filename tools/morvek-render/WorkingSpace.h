// --working-space: which values the effect sees. "stored" hands it the
// file's values as they are, as a host project without a linear working
// space does; "linear" decodes the file's transfer function to linear light
// before the effect and encodes the result again, as a linearised project
// does.
#ifndef MORVEK_RENDER_WORKINGSPACE_H
#define MORVEK_RENDER_WORKINGSPACE_H

#include "HostImage.h"

#include <memory>
#include <string>

namespace MorvekRender {

enum class WorkingSpace { Stored, Linear };

// The colour space of a file's values, as OpenImageIO names it: the one the
// file declares ("oiio:ColorSpace"; a declared plain power `gamma` becomes
// "GammaG"), or, when it declares none, sRGB for integer samples and linear
// for floating-point ones.
std::string fileColourSpace(const std::string& declared, float gamma, bool floatSamples);

// Converts the colour channels of 32-bit frames between a colour space and
// linear light through OpenColorIO: sRGB, Rec709, GammaX.Y and linear are
// built in; other names are looked up in the config $OCIO names, towards its
// scene_linear role. Alpha is left as it is.
class LinearConversion {
public:
    // Converts on `threads` threads, each its own band of rows. Throws
    // ImageError when the space is not known, or when this build has no
    // OpenColorIO and the space is not linear.
    explicit LinearConversion(const std::string& colourSpace, int threads = 1);
    ~LinearConversion();
    LinearConversion(const LinearConversion&) = delete;
    LinearConversion& operator=(const LinearConversion&) = delete;

    const std::string& colourSpace() const { return space_; }
    bool isIdentity() const { return processors_ == nullptr; }

    // In place, on frames at depth 32.
    void toLinear(const FrameRows& image) const;
    void fromLinear(const FrameRows& image) const;
    void toLinear(HostImage& image) const;
    void fromLinear(HostImage& image) const;

private:
    struct Processors;
    std::string space_;
    std::unique_ptr<Processors> processors_; // null for a linear space
};

} // namespace MorvekRender

#endif
