// morvek-render: runs the MorvekExposure effect on image files, raw frames and
// numbered sequences through the stand-in host, from a terminal or a batch
// job. See usageText() for the command line.
#include "CurvePlot.h"
#include "EffectRunner.h"
#include "FramePipeline.h"
#include "HostAPI.h"
#include "ImageIO.h"
#include "InfoText.h"
#include "Interrupt.h"
#include "Options.h"
#include "Progress.h"
#include "RawIO.h"
#include "WorkingSpace.h"
#ifdef MORVEK_RENDER_FILES_PROGRAM
#include "FilesProgram.h"
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
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

// Image files are for the program named MORVEK_RENDER_FILES_PROGRAM beside
// this one, when it is built.
#ifdef MORVEK_RENDER_FILES_PROGRAM
constexpr bool kFilesProgram = true;
#else
constexpr bool kFilesProgram = false;
#endif

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
    setImageThreads(threads);
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
    const std::string error = renderFrames(*runner, o, first, last, progress, [&](const FrameDone& d) {
        shape = d.shape;
        for (const std::string& w : d.warnings) {
            if (warned.insert(w).second) {
                progress.clear();
                std::fprintf(stderr, "morvek-render: warning: %s\n", w.c_str());
            }
        }
        for (const std::string& w : runner->takeWarnings()) {
            progress.clear();
            std::fprintf(stderr, "morvek-render: warning: %s\n", w.c_str());
        }
    });
    if (!error.empty()) {
        progress.clear();
        return fail(kExitFailed, error);
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
                    imageFilesSupported() || kFilesProgram ? "image files and raw frames" : "raw frames only");
        return 0;
    }
#ifdef MORVEK_RENDER_FILES_PROGRAM
    if (needsImageLibraries(options)) {
        return fail(kExitFailed, becomeProgram(MORVEK_RENDER_FILES_PROGRAM, argv));
    }
#endif
    installInterruptHandling();
    try {
        return run(options);
    } catch (const std::exception& e) {
        return fail(kExitFailed, e.what());
    }
}
