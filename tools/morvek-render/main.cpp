// morvek-render: runs the MorvekExposure effect on image files, raw frames and
// numbered sequences through the stand-in host, from a terminal or a batch
// job. See usageText() for the command line.
#include "CurvePlot.h"
#include "EffectRunner.h"
#include "HostAPI.h"
#include "ImageIO.h"
#include "InfoText.h"
#include "Interrupt.h"
#include "MemoryBudget.h"
#include "Options.h"
#include "OutputFile.h"
#include "Progress.h"
#include "RawIO.h"
#include "WorkingSpace.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define MORVEK_ISATTY _isatty
#define MORVEK_STDERR_FD 2
#else
#include <unistd.h>
#define MORVEK_ISATTY isatty
#define MORVEK_STDERR_FD STDERR_FILENO
#endif

using namespace MorvekRender;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "morvek-render: %s\n", message.c_str());
    return status;
}

void printWarnings(EffectRunner& runner) {
    for (const std::string& w : runner.takeWarnings()) {
        std::fprintf(stderr, "morvek-render: warning: %s\n", w.c_str());
    }
}

// The module's valid range, compared in single precision as the slider
// stores its limits (so "--gamma 0.1" is accepted).
bool checkSlider(const EffectRunner& runner, const char* option, const char* name, double value, std::string* why) {
    const SliderInfo* s = runner.slider(name);
    if (!s) {
        *why = std::string("the module has no \"") + name + "\" slider";
        return false;
    }
    const float v = static_cast<float>(value);
    if (v < static_cast<float>(s->validMin) || v > static_cast<float>(s->validMax)) {
        char text[256];
        std::snprintf(text, sizeof text, "%s %g is outside the valid range %g..%g of \"%s\"", option, value,
                      s->validMin, s->validMax, name);
        *why = text;
        return false;
    }
    return true;
}

struct FrameResult {
    int width = 0;
    int height = 0;
    int depth = 0; // the effect's
    int images = 0;
    int fileDepth = 0;       // of the first image's samples
    std::string colourSpace; // the first image's, under --working-space linear
};

// Where a frame stands, for the line an interruption prints and the
// progress line.
struct FrameActivity {
    std::string frameText; // "frame 12" or "'in.png'"
    std::string input;
    std::string output;
    std::string done; // "; frames 7-11 are complete", or empty
    ProgressLine* progress = nullptr;

    void set(const char* stage) const {
        setActivity(std::string("while ") + stage + " " + frameText + "; '" + output + "' was not written" + done);
        progress->stage(stage, std::strcmp(stage, "writing") == 0 ? output : input);
    }
    ProgressFn fraction() const {
        return [p = progress](double done) { p->fraction(done); };
    }
};

void checkMemory(const std::string& path, const FileLayout& layout, int depth, bool rawInput, std::uint64_t limit,
                 bool defaultLimit) {
    const double need = renderMemory(layout.width, layout.height, depth, layout.passThroughBytes, rawInput);
    if (need > static_cast<double>(limit)) {
        throw ImageError("'" + path + "' is " + std::to_string(layout.width) + "x" + std::to_string(layout.height) +
                         ": rendering it at depth " + std::to_string(depth) + " takes " + sizeText(need) +
                         ", more than the memory limit of " + sizeText(static_cast<double>(limit)) +
                         (defaultLimit ? " (half of this machine's memory; see --memory-limit)" : ""));
    }
}

// The colour space a frame's values are decoded from under --working-space
// linear.
std::string colourSpaceOf(const FileLayout& layout) {
    float gamma = 0.0f;
    const std::string declared = declaredColourSpace(layout, &gamma);
    return fileColourSpace(declared, gamma,
                           layout.sampleType == SampleType::Half || layout.sampleType == SampleType::Float);
}

// --working-space linear: the frame decoded to linear light at 32 bits,
// rendered at the working depth (32 unless --depth names another; for raw
// input --depth is the file's) and encoded again, at 32 bits, or for raw
// input at its own depth. The source's pixels are taken over, so that no
// more frames are held than a render in stored values holds.
HostImage renderLinear(EffectRunner& runner, const Options& o, LoadedImage& source, bool rawInput, int depth,
                       long frame) {
    const LinearConversion space(colourSpaceOf(source.layout), runner.threads());
    HostImage image = source.image.depth == 32 ? std::move(source.image) : convertDepth(source.image, 32);
    source.image = HostImage();
    space.toLinear(image);
    if (depth != 32) {
        image = convertDepth(image, depth);
    }
    HostImage result = runner.render(image, o.exposure, o.gamma, frame);
    image = HostImage();
    if (result.depth != 32) {
        result = convertDepth(result, 32);
    }
    space.fromLinear(result);
    if (rawInput) {
        return convertDepth(result, o.depth);
    }
    return result;
}

FrameResult renderFile(EffectRunner& runner, const Options& o, const std::string& inputPath,
                       const std::string& outputPath, long frame, const FrameActivity& activity,
                       std::vector<std::string>& warnings) {
    activity.set("reading");
    const std::uint64_t limit = o.memoryLimit != 0 ? o.memoryLimit : defaultMemoryLimit();
    const bool rawInput = isRawPath(inputPath);
    // Every image is described, and its size checked, before a pixel is read.
    std::unique_ptr<ImageReader> reader;
    std::vector<FileLayout> layouts;
    if (rawInput) {
        FileLayout raw;
        raw.width = o.width;
        raw.height = o.height;
        raw.sampleType = sampleTypeForDepth(o.depth);
        layouts.push_back(raw);
    } else {
        // Linear light is decoded from the file's values at full precision.
        reader = std::make_unique<ImageReader>(inputPath, o.linear ? 32 : o.depth);
        for (int i = 0; i < reader->count(); ++i) {
            layouts.push_back(reader->layout(i));
        }
    }
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        const int depth = o.linear ? 32 : reader ? reader->depth(static_cast<int>(i)) : o.depth;
        checkMemory(inputPath, layouts[i], depth, rawInput, limit, o.memoryLimit == 0);
    }
    if (isRawPath(outputPath) && (layouts.size() > 1 || !layouts[0].passThrough.empty())) {
        throw ImageError(
            "cannot write '" + outputPath + "': a raw frame holds one image of alpha, red, green and blue, " +
            (layouts.size() > 1 ? "and '" + inputPath + "' has " + std::to_string(layouts.size()) + " images"
                                : "not the channel '" + layouts[0].passThrough[0] + "'"));
    }

    OutputFile file(outputPath, o.noClobber);
    std::unique_ptr<ImageWriter> writer;
    if (!isRawPath(outputPath)) {
        writer = std::make_unique<ImageWriter>(file, layouts, warnings);
    }
    FrameResult shape;
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        activity.set("reading");
        LoadedImage source;
        if (rawInput) {
            source.image = readRaw(inputPath, o.width, o.height, o.depth);
            source.layout = layouts[0];
        } else {
            source = reader->read(static_cast<int>(i), activity.fraction());
        }
        activity.set("rendering");
        const int depth = !o.linear ? source.image.depth : !rawInput && o.depth != 0 ? o.depth : 32;
        const HostImage result = o.linear ? renderLinear(runner, o, source, rawInput, depth, frame)
                                          : runner.render(source.image, o.exposure, o.gamma, frame);
        activity.set("writing");
        if (writer) {
            writer->write(result, source, activity.fraction());
        } else {
            writeRaw(file, result);
        }
        if (i == 0) {
            shape.fileDepth = rawInput ? o.depth : hostDepthFor(source.layout.sampleType);
            shape.colourSpace = o.linear ? colourSpaceOf(source.layout) : std::string();
        }
        shape.width = result.width;
        shape.height = result.height;
        shape.depth = depth;
        shape.images = static_cast<int>(i) + 1;
    }
    if (writer) {
        writer->finish();
    }
    file.commit();
    return shape;
}

// --curve: the picture, and a line saying where colour starts to fold.
// `depth` is the effect's, `fileDepth` that of the values plotted.
void drawCurve(EffectRunner& runner, const Options& o, int depth, int fileDepth, const std::string& colourSpace) {
    CurveSettings settings;
    settings.exposure = o.exposure;
    settings.gamma = o.gamma;
    settings.depth = depth;
    settings.fileDepth = fileDepth;
    std::unique_ptr<LinearConversion> linear;
    if (o.linear) {
        linear = std::make_unique<LinearConversion>(colourSpace, runner.threads());
        settings.linear = linear.get();
    }
    const CurveSummary c = writeCurvePlot(runner, o.curve, settings);
    printWarnings(runner);
    if (!o.quiet) {
        char fold[64] = "nothing folds into alpha";
        if (c.fold >= 0) {
            std::snprintf(fold, sizeof fold, "colour folds into alpha from input %.3f", c.fold);
        }
        std::printf("wrote %s (the curve at depth %d; %s)\n", o.curve.c_str(), depth, fold);
    }
}

int run(const Options& o) {
    if (!o.info) {
        const bool rawInput = isRawPath(o.input);
        if (rawInput && (o.width == 0 || o.depth == 0)) {
            return fail(kExitUsage, "a .raw input needs --size WxH and --depth 8|16|32");
        }
        if (!rawInput && o.width != 0) {
            return fail(kExitUsage, "--size is only for .raw input; image files carry their size");
        }
        if (!imageFilesSupported() && (!rawInput || !isRawPath(o.output))) {
            return fail(kExitFailed, "this build handles only .raw frames (it was built without OpenImageIO)");
        }
    }

    const std::string modulePath = o.plugin.empty() ? defaultModulePath() : o.plugin;
    const int threads = o.threads > 0 ? o.threads : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    std::unique_ptr<EffectRunner> runner;
    try {
        runner = std::make_unique<EffectRunner>(modulePath, threads);
    } catch (const HostError& e) {
        return fail(kExitFailed, e.what());
    }
    printWarnings(*runner);
    if (o.info) {
        printInfo(*runner);
        return 0;
    }
    std::string why;
    if (!checkSlider(*runner, "--exposure", "Exposure", o.exposure, &why) ||
        !checkSlider(*runner, "--gamma", "Gamma Correction", o.gamma, &why)) {
        return fail(kExitUsage, why);
    }
    if (o.input.empty()) {
        // Alone, the curve is of values at the effect's depth, or in linear
        // light of an 8-bit sRGB file.
        drawCurve(*runner, o, o.depth != 0 ? o.depth : o.linear ? 32 : 8, o.linear ? 8 : 0, "sRGB");
        return 0;
    }

    const long first = o.sequence ? o.firstFrame : 0;
    const long last = o.sequence ? o.lastFrame : 0;
    const long total = last - first + 1;
    ProgressLine progress(!o.quiet && MORVEK_ISATTY(MORVEK_STDERR_FD), total);
    FrameResult shape;
    std::set<std::string> warned;
    for (long frame = first; frame <= last; ++frame) {
        const std::string in = o.sequence ? expandFramePattern(o.input, frame) : o.input;
        const std::string out = o.sequence ? expandFramePattern(o.output, frame) : o.output;
        FrameActivity activity;
        activity.frameText = o.sequence ? "frame " + std::to_string(frame) : "'" + in + "'";
        activity.input = in;
        activity.output = out;
        activity.progress = &progress;
        progress.startFrame();
        if (frame > first) {
            activity.done = "; frames " + std::to_string(first) + "-" + std::to_string(frame - 1) + " are complete";
        }
        std::string error;
        std::vector<std::string> warnings;
        bool failed = true;
        try {
            shape = renderFile(*runner, o, in, out, frame, activity, warnings);
            failed = false;
        } catch (const std::bad_alloc&) {
            error = "out of memory for '" + in + "'";
        } catch (const std::exception& e) {
            error = e.what();
        }
        setActivity(std::string());
        progress.endFrame();
        if (failed) {
            progress.clear();
            const std::string where = o.sequence ? "frame " + std::to_string(frame) + ": " : std::string();
            return fail(kExitFailed, where + error);
        }
        for (const std::string& w : warnings) {
            if (warned.insert(w).second) {
                progress.clear();
                std::fprintf(stderr, "morvek-render: warning: %s\n", w.c_str());
            }
        }
        for (const std::string& w : runner->takeWarnings()) {
            progress.clear();
            std::fprintf(stderr, "morvek-render: warning: %s\n", w.c_str());
        }
    }
    progress.finish();
    const double elapsed = progress.elapsed();
    if (!o.curve.empty()) {
        drawCurve(*runner, o, shape.depth, shape.fileDepth, shape.colourSpace);
    }
    if (o.quiet) {
        return 0;
    }
    if (o.sequence) {
        std::printf("rendered %ld frames (%ld-%ld, %dx%d, depth %d) to %s in %.2f s, %.1f fps (%s)\n", total, first,
                    last, shape.width, shape.height, shape.depth, o.output.c_str(), elapsed,
                    elapsed > 0 ? total / elapsed : 0.0, progress.stageTimes().c_str());
    } else {
        const std::string images = shape.images > 1 ? std::to_string(shape.images) + " images, " : std::string();
        std::printf("wrote %s (%s%dx%d, depth %d) in %.2f s (%s)\n", o.output.c_str(), images.c_str(), shape.width,
                    shape.height, shape.depth, elapsed, progress.stageTimes().c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    installInterruptHandling();
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError& e) {
        return fail(kExitUsage, std::string(e.what()) + " (see --help)");
    }
    if (options.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("morvek-render %s (%s)\n", MORVEK_RENDER_VERSION,
                    imageFilesSupported() ? "image files and raw frames" : "raw frames only");
        return 0;
    }
    try {
        return run(options);
    } catch (const std::exception& e) {
        return fail(kExitFailed, e.what());
    }
}
