// morvek-bench: the cost of rendering a 3840 x 2160 frame through the stand-in
// host, against a copy of the same frame (the memory limit) and against
// OpenColorIO applying the same curve. After the table it prints each render
// case's median time as a ratio to the copy and to OpenColorIO at its depth.
//
//   morvek-bench [--module PATH] [benchmark options]
//
// Repetitions default to 5 (medians are reported); pass
// --benchmark_repetitions=N to change that. The repetitions of all cases are
// run in random order (--benchmark_enable_random_interleaving=false turns
// that off), so that a slow spell of a shared machine falls on every case
// alike instead of on the cases that happened to run then, and each ratio
// compares times taken over the same stretch of the run.
#include "Session.h"
#include "World.h"

#include <OpenColorIO/OpenColorIO.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace OCIO = OCIO_NAMESPACE;

namespace {

constexpr A_long kWidth = 3840;
constexpr A_long kHeight = 2160;
constexpr double kExposureBase = 1.37035095691681;

std::string gModulePath = MORVEK_PLUGIN_PATH;

// ---- Footage-like content: smooth gradients and soft shapes, film-grain
// noise, alpha opaque except for a soft-edged matte around a hole and a
// feathered border. Channel values in 0..1 (a few highlights slightly above 1
// at 32 bits, as in scene-referred footage).
struct Content {
    std::vector<float> rgba; // alpha, red, green, blue per pixel

    Content() : rgba(static_cast<std::size_t>(kWidth) * kHeight * 4) {
        std::mt19937 rng(20261207);
        std::normal_distribution<float> grain(0.0f, 0.02f);
        const float cx = kWidth * 0.62f, cy = kHeight * 0.45f, hole = kHeight * 0.18f;
        for (A_long y = 0; y < kHeight; ++y) {
            const float v = static_cast<float>(y) / kHeight;
            for (A_long x = 0; x < kWidth; ++x) {
                const float u = static_cast<float>(x) / kWidth;
                const float wave = 0.5f + 0.5f * std::sin(6.0f * u + 3.0f * v);
                float r = 0.15f + 0.7f * u * (0.6f + 0.4f * wave) + grain(rng);
                float g = 0.1f + 0.6f * v * wave + 0.2f * u + grain(rng);
                float b = 0.25f + 0.5f * (1.0f - u) * (1.0f - v) + grain(rng);
                // A bright soft highlight.
                const float dx = (x - kWidth * 0.25f) / (kWidth * 0.08f), dy = (y - kHeight * 0.3f) / (kHeight * 0.1f);
                const float glow = 0.45f * std::exp(-(dx * dx + dy * dy));
                r += glow;
                g += glow;
                b += glow * 0.8f;
                // Alpha: a soft-edged hole and a feathered frame border.
                const float d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
                float a = std::min(1.0f, std::max(0.0f, (d - hole) / (kHeight * 0.05f)));
                const float edge = std::min(std::min(u, 1.0f - u), std::min(v, 1.0f - v));
                a *= std::min(1.0f, edge / 0.02f);
                float* p = &rgba[(static_cast<std::size_t>(y) * kWidth + x) * 4];
                p[0] = a;
                p[1] = std::max(0.0f, r);
                p[2] = std::max(0.0f, g);
                p[3] = std::max(0.0f, b);
            }
        }
    }
};

const Content& content() {
    static const Content c;
    return c;
}

// One input and one output world at a depth, filled from the content.
struct Frames {
    int bits;
    standin::World in, out;

    explicit Frames(int b)
        : bits(b), in(kWidth, kHeight, standin::formatForBits(b)), out(kWidth, kHeight, standin::formatForBits(b)) {
        const std::vector<float>& c = content().rgba;
        for (A_long y = 0; y < kHeight; ++y) {
            for (A_long x = 0; x < kWidth; ++x) {
                const float* p = &c[(static_cast<std::size_t>(y) * kWidth + x) * 4];
                if (bits == 8) {
                    auto q = [](float f) { return static_cast<A_u_char>(std::min(255.0f, f * 255.0f + 0.5f)); };
                    in.at<PF_Pixel>(x, y) = PF_Pixel{q(p[0]), q(p[1]), q(p[2]), q(p[3])};
                } else if (bits == 16) {
                    auto q = [](float f) { return static_cast<A_u_short>(std::min(32768.0f, f * 32768.0f + 0.5f)); };
                    in.at<PF_Pixel16>(x, y) = PF_Pixel16{q(p[0]), q(p[1]), q(p[2]), q(p[3])};
                } else {
                    in.at<PF_PixelFloat>(x, y) = PF_PixelFloat{p[0], p[1], p[2], p[3]};
                }
            }
        }
    }
};

// The frames of each depth (464 MB in all), built when first needed and kept
// to the end, so that interleaved cases all run on the same memory; and the
// session. Both are released at the end of main, before the stand-in host's
// own statics go.
std::unique_ptr<Frames> gFrames[3];
std::unique_ptr<standin::Session> gSession;

Frames& frames(int bits) {
    std::unique_ptr<Frames>& f = gFrames[bits == 8 ? 0 : (bits == 16 ? 1 : 2)];
    if (!f) {
        f = std::make_unique<Frames>(bits);
    }
    return *f;
}

standin::Session& session() {
    if (!gSession) {
        std::string why;
        gSession = standin::Session::open(gModulePath, &why);
        if (!gSession || gSession->globalSetup() != PF_Err_NONE || gSession->paramsSetup() != PF_Err_NONE) {
            std::fprintf(stderr, "morvek-bench: cannot run the module %s: %s\n", gModulePath.c_str(), why.c_str());
            std::exit(1);
        }
    }
    return *gSession;
}

void benchCopy(benchmark::State& state, int bits) {
    Frames& f = frames(bits);
    for (auto _ : state) {
        for (A_long y = 0; y < kHeight; ++y) {
            std::memcpy(f.out.row(y), f.in.row(y), static_cast<std::size_t>(kWidth) * f.in.pixelSize());
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * f.in.pixelSize());
}

void benchRender(benchmark::State& state, int bits, double exposure, double gamma, int threads) {
    Frames& f = frames(bits);
    standin::Session& s = session();
    s.setSlider(1, exposure);
    s.setSlider(2, gamma);
    standin::FrameOptions options;
    options.threads = threads;
    for (auto _ : state) {
        if (s.renderFrame(f.in, f.out, options) != PF_Err_NONE) {
            state.SkipWithError("render failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * f.in.pixelSize());
}

// OpenColorIO's optimised CPU processor: exponent 1/1.2 on colour, then the
// gain of exposure 0.5, on the same frame at the same depth. The frames hold
// alpha first; ABGR has alpha first too (red and blue swapped, which the
// curve does not care about).
void benchOcio(benchmark::State& state, int bits) {
    Frames& f = frames(bits);
    const double e = 1.0 / 1.2;
    const double g = std::pow(kExposureBase, 0.5);
    auto exponent = OCIO::ExponentTransform::Create();
    const double values[4] = {e, e, e, 1.0};
    exponent->setValue(values);
    auto matrix = OCIO::MatrixTransform::Create();
    const double m[16] = {g, 0, 0, 0, 0, g, 0, 0, 0, 0, g, 0, 0, 0, 0, 1};
    matrix->setMatrix(m);
    auto group = OCIO::GroupTransform::Create();
    group->appendTransform(exponent);
    group->appendTransform(matrix);
    const OCIO::BitDepth depth =
        bits == 8 ? OCIO::BIT_DEPTH_UINT8 : (bits == 16 ? OCIO::BIT_DEPTH_UINT16 : OCIO::BIT_DEPTH_F32);
    auto config = OCIO::Config::CreateRaw();
    auto cpu = config->getProcessor(group)->getOptimizedCPUProcessor(depth, depth, OCIO::OPTIMIZATION_DEFAULT);
    const std::ptrdiff_t channel = bits / 8;
    OCIO::PackedImageDesc src(f.in.bytes(), kWidth, kHeight, OCIO::CHANNEL_ORDERING_ABGR, depth, channel, channel * 4,
                              f.in.rowbytes());
    OCIO::PackedImageDesc dst(f.out.bytes(), kWidth, kHeight, OCIO::CHANNEL_ORDERING_ABGR, depth, channel, channel * 4,
                              f.out.rowbytes());
    for (auto _ : state) {
        cpu->apply(src, dst);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * f.in.pixelSize());
}

// The case names as registered: without the suffixes that the minimum time
// and the real-time measurement would add.
std::vector<benchmark::BenchmarkReporter::Run> plainNames(std::vector<benchmark::BenchmarkReporter::Run> runs) {
    for (auto& run : runs) {
        run.run_name.min_time.clear();
        run.run_name.time_type.clear();
    }
    return runs;
}

class JsonReporter : public benchmark::JSONReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override { JSONReporter::ReportRuns(plainNames(runs)); }
};

// Collects the time per iteration of every repetition, then prints the
// ratios from the medians.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& original) override {
        const std::vector<Run> runs = plainNames(original);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations <= 0) {
                continue;
            }
            if (run.run_type == Run::RT_Iteration) {
                times_[run.run_name.str()].push_back(run.GetAdjustedRealTime());
            } else if (run.aggregate_name == "median") {
                // With --benchmark_report_aggregates_only only the
                // aggregates arrive: take the median as it stands.
                medians_[run.run_name.str()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nRatios of medians (render time / peer time; below 1 is faster than the peer)\n");
        std::printf("%-30s %12s %14s %14s\n", "case", "median ms", "x memcpy", "x ocio");
        std::vector<std::string> names;
        for (const auto& entry : times_) {
            names.push_back(entry.first);
        }
        for (const auto& entry : medians_) {
            if (times_.count(entry.first) == 0) {
                names.push_back(entry.first);
            }
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (name.rfind("render/", 0) != 0) {
                continue;
            }
            const std::string depth = name.substr(7, name.find('/', 7) - 7);
            const double t = median(name);
            const double copy = median("memcpy/" + depth);
            const double ocio = median("ocio/" + depth);
            std::printf("%-30s %12.2f %14s %14s\n", name.c_str(), t, ratio(t, copy).c_str(), ratio(t, ocio).c_str());
        }
        std::printf("\n(time unit of the table above: %s per iteration)\n", "ms");
    }

private:
    double median(const std::string& name) const {
        auto it = times_.find(name);
        if (it == times_.end() || it->second.empty()) {
            auto m = medians_.find(name);
            return m == medians_.end() ? 0.0 : m->second;
        }
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
    }
    static std::string ratio(double a, double b) {
        if (a <= 0.0 || b <= 0.0) {
            return "n/a";
        }
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", a / b);
        return text;
    }
    std::map<std::string, std::vector<double>> times_;
    std::map<std::string, double> medians_;
};

void registerAll() {
    auto add = [](const char* name, auto fn) {
        benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
    };
    const double typicalExposure = 0.5, typicalGamma = 1.2;
    for (int bits : {8, 16, 32}) {
        const std::string d = std::to_string(bits);
        add(("memcpy/" + d).c_str(), [bits](benchmark::State& s) { benchCopy(s, bits); });
        add(("render/" + d + "/typical").c_str(),
            [=](benchmark::State& s) { benchRender(s, bits, typicalExposure, typicalGamma, 1); });
        add(("render/" + d + "/overexposed").c_str(), [=](benchmark::State& s) { benchRender(s, bits, 3.0, 1.0, 1); });
        if (bits == 32) {
            add("render/32/identity", [](benchmark::State& s) { benchRender(s, 32, 0.0, 1.0, 1); });
            add("render/32/typical/threads:2",
                [=](benchmark::State& s) { benchRender(s, 32, typicalExposure, typicalGamma, 2); });
        }
        add(("ocio/" + d).c_str(), [bits](benchmark::State& s) { benchOcio(s, bits); });
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args;
    bool repetitionsGiven = false, interleavingGiven = false, outputFile = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--module") == 0 && i + 1 < argc) {
            gModulePath = argv[++i];
            continue;
        }
        if (std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0) {
            repetitionsGiven = true;
        }
        if (std::strncmp(argv[i], "--benchmark_enable_random_interleaving", 38) == 0) {
            interleavingGiven = true;
        }
        if (std::strncmp(argv[i], "--benchmark_out=", 16) == 0) {
            outputFile = true;
        }
        args.push_back(argv[i]);
    }
    std::string repetitions = "--benchmark_repetitions=5";
    if (!repetitionsGiven) {
        args.push_back(repetitions.data());
    }
    std::string interleaving = "--benchmark_enable_random_interleaving=true";
    if (!interleavingGiven) {
        args.push_back(interleaving.data());
    }
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data())) {
        return 2;
    }
    registerAll();
    RatioReporter reporter;
    JsonReporter json;
    if (outputFile) {
        benchmark::RunSpecifiedBenchmarks(&reporter, &json);
    } else {
        benchmark::RunSpecifiedBenchmarks(&reporter);
    }
    benchmark::Shutdown();
    for (auto& f : gFrames) {
        f.reset();
    }
    if (gSession) {
        gSession->globalSetdown();
        gSession.reset();
    }
    return 0;
}
