// morvek-render: runs the MorvekExposure effect on image files, raw frames and
// numbered sequences through the stand-in host, from a terminal or a batch
// job. See usageText() for the command line.
#include "EffectRunner.h"
#include "HostAPI.h"
#include "ImageIO.h"
#include "Options.h"
#include "RawIO.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <thread>

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

std::string flagsText(uint32_t flags, uint32_t flags2) {
    std::string text;
    if (flags & PF_OutFlag_DEEP_COLOR_AWARE) {
        text += " deep-colour";
    }
    if (flags2 & PF_OutFlag2_FLOAT_COLOR_AWARE) {
        text += " float-colour";
    }
    if (flags2 & PF_OutFlag2_SUPPORTS_SMART_RENDER) {
        text += " smart-render";
    }
    return text.empty() ? std::string(" none") : text;
}

std::string versionText(uint32_t v) {
    static const char* const stages[] = {"develop", "alpha", "beta", "release"};
    return std::to_string(v >> 19) + "." + std::to_string((v >> 15) & 0xF) + "." + std::to_string((v >> 11) & 0xF) +
           " " + stages[(v >> 9) & 0x3] + " build " + std::to_string(v & 0x1FF);
}

void printInfo(const EffectRunner& r) {
    const Morvek::Pipl::PropertyList& p = r.propertyList();
    std::printf("module:          %s\n", r.modulePath().c_str());
    std::printf("property list:   %s\n", r.propertyListPath().c_str());
    std::printf("  kind:          %s\n", Morvek::Pipl::codeToString(p.kind).c_str());
    std::printf("  name:          %s\n", p.name.c_str());
    std::printf("  match name:    %s\n", p.matchName.c_str());
    std::printf("  category:      %s\n", p.category.c_str());
    std::printf("  entry point:   %s\n", p.entryPoint.c_str());
    std::printf("  version:       %u (%s)\n", p.version, versionText(p.version).c_str());
    std::printf("  effect API:    %u.%u\n", p.apiVersionMajor, p.apiVersionMinor);
    std::printf("  flags:         0x%08X 0x%08X (%s)\n", p.outFlags, p.outFlags2,
                flagsText(p.outFlags, p.outFlags2).c_str() + 1);
    std::printf("GlobalSetup:     version %u, flags 0x%08X 0x%08X\n", r.reportedVersion(),
                static_cast<uint32_t>(r.reportedOutFlags()), static_cast<uint32_t>(r.reportedOutFlags2()));
    std::string about = r.aboutText();
    std::replace(about.begin(), about.end(), '\r', '\n');
    std::printf("About:\n");
    std::size_t start = 0;
    while (start <= about.size()) {
        const std::size_t end = about.find('\n', start);
        std::printf("  %s\n", about.substr(start, end == std::string::npos ? std::string::npos : end - start).c_str());
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    std::printf("sliders:\n");
    for (const SliderInfo& s : r.sliders()) {
        std::printf("  %d %-18s default %.*f, slider %.*f..%.*f, valid %g..%g\n", s.index,
                    ("\"" + s.name + "\"").c_str(), s.precision, s.dflt, s.precision, s.sliderMin, s.precision,
                    s.sliderMax, s.validMin, s.validMax);
    }
    std::printf("image files:     %s\n", imageFilesSupported() ? "yes (OpenImageIO)" : "no (raw frames only)");
    std::printf("worker threads:  %d\n", r.threads());
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
    int depth = 0;
};

FrameResult renderFile(EffectRunner& runner, const Options& o, const std::string& inputPath,
                       const std::string& outputPath, long frame) {
    LoadedImage source;
    if (isRawPath(inputPath)) {
        source.image = readRaw(inputPath, o.width, o.height, o.depth);
        source.layout.format = "raw";
        source.layout.channels = 4;
        source.layout.associatedAlpha = false;
        source.layout.sampleType = sampleTypeForDepth(o.depth);
    } else {
        source = readImageFile(inputPath, o.depth);
    }
    const HostImage result = runner.render(source.image, o.exposure, o.gamma, frame);
    if (isRawPath(outputPath)) {
        writeRaw(outputPath, result);
    } else {
        writeImageFile(outputPath, result, source.layout);
    }
    return FrameResult{result.width, result.height, result.depth};
}

std::string clockText(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
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

    const long first = o.sequence ? o.firstFrame : 0;
    const long last = o.sequence ? o.lastFrame : 0;
    const long total = last - first + 1;
    const bool progress = o.sequence && MORVEK_ISATTY(MORVEK_STDERR_FD);
    const auto start = std::chrono::steady_clock::now();
    FrameResult shape;
    for (long frame = first; frame <= last; ++frame) {
        const std::string in = o.sequence ? expandFramePattern(o.input, frame) : o.input;
        const std::string out = o.sequence ? expandFramePattern(o.output, frame) : o.output;
        std::string error;
        bool failed = true;
        try {
            shape = renderFile(*runner, o, in, out, frame);
            failed = false;
        } catch (const std::bad_alloc&) {
            error = "out of memory for '" + in + "'";
        } catch (const std::exception& e) {
            error = e.what();
        }
        if (failed) {
            if (progress) {
                std::fputc('\n', stderr);
            }
            const std::string where = o.sequence ? "frame " + std::to_string(frame) + ": " : std::string();
            return fail(kExitFailed, where + error);
        }
        printWarnings(*runner);
        if (progress) {
            const long done = frame - first + 1;
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double fps = elapsed > 0 ? done / elapsed : 0.0;
            const double left = fps > 0 ? (total - done) / fps : 0.0;
            std::fprintf(stderr, "\r%ld/%ld frames  %.1f fps  %s left   ", done, total, fps, clockText(left).c_str());
            std::fflush(stderr);
        }
    }
    if (progress) {
        std::fputc('\n', stderr);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (o.sequence) {
        std::printf("rendered %ld frames (%ld-%ld, %dx%d, depth %d) to %s in %.2f s, %.1f fps\n", total, first, last,
                    shape.width, shape.height, shape.depth, o.output.c_str(), elapsed,
                    elapsed > 0 ? total / elapsed : 0.0);
    } else {
        std::printf("wrote %s (%dx%d, depth %d) in %.2f s\n", o.output.c_str(), shape.width, shape.height, shape.depth,
                    elapsed);
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
                    imageFilesSupported() ? "image files and raw frames" : "raw frames only");
        return 0;
    }
    try {
        return run(options);
    } catch (const std::exception& e) {
        return fail(kExitFailed, e.what());
    }
}
