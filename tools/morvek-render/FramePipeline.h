// The frames of a run on their way through morvek-render: a reader thread
// reads the next frame while the calling thread renders the current one and
// writes it. At most three frames' pixels are held: the one read ahead, and
// the input and output worlds of the one rendered and written. Frames are
// committed in order, so when one fails or the run is interrupted every
// frame before it is complete and none after it is written.
#ifndef MORVEK_RENDER_FRAMEPIPELINE_H
#define MORVEK_RENDER_FRAMEPIPELINE_H

#include "EffectRunner.h"
#include "ImageIO.h"
#include "Options.h"
#include "Progress.h"

#include <functional>
#include <string>
#include <vector>

namespace MorvekRender {

struct FrameResult {
    int width = 0;
    int height = 0;
    int depth = 0; // the effect's
    int images = 0;
    int fileDepth = 0;       // of the first image's samples
    std::string colourSpace; // the first image's, under --working-space linear
};

// What the caller hears of each frame done.
struct FrameDone {
    long frame = 0;
    FrameResult shape;
    std::vector<std::string> warnings; // the frame's files' notes
};

// Renders frames first..last of the options' input into their outputs (one
// frame, numbered 0, without --frames). `done` is called on the calling
// thread after each frame is committed. `progress` hears the calling
// thread's stages: reading while it waits for the reader thread, rendering
// and writing. Returns an empty string when every frame was written, else the
// one-line reason for the first that failed ("frame 12: ..." in a
// sequence); frames before it are complete.
std::string renderFrames(EffectRunner& runner, const Options& o, long first, long last, ProgressLine& progress,
                         const std::function<void(const FrameDone&)>& done);

// The colour space a frame's values are decoded from under --working-space
// linear.
std::string colourSpaceOf(const FileLayout& layout);

} // namespace MorvekRender

#endif
