// Drives the effect module through the stand-in host for morvek-render.
#include "EffectRunner.h"

#include "Module.h"
#include "Session.h"
#include "World.h"

#include <cstring>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace MorvekRender {

namespace {

bool fileExists(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return static_cast<bool>(f);
}

std::string programPath() {
#ifdef _WIN32
    char buffer[4096];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
#else
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
#endif
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

// Rows padded to 64 bytes.
A_long rowPadding(int width, int depth) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * pixelBytes(depth);
    return static_cast<A_long>((64 - rowBytes % 64) % 64);
}

} // namespace

std::unique_ptr<standin::World> makeWorld(int width, int height, int depth) {
    frameBytes(width, height, depth); // checks the size and depth
    return std::make_unique<standin::World>(width, height, standin::formatForBits(depth), rowPadding(width, depth));
}

FrameRows rowsOf(standin::World& world) {
    return FrameRows{world.bytes(), static_cast<std::size_t>(world.rowbytes()), world.width(), world.height(),
                     world.bitsPerChannel()};
}

std::size_t worldBytes(int width, int height, int depth) {
    return (frameBytes(width, 1, depth) + static_cast<std::size_t>(rowPadding(width, depth))) *
           static_cast<std::size_t>(height);
}

std::string besideThisProgram(const std::string& name) {
    return folderOf(programPath()) + "/" + name;
}

std::string defaultModulePath() {
    const std::string program = programPath();
    if (!program.empty()) {
        std::string beside = besideThisProgram(MORVEK_MODULE_FILE_NAME);
        if (fileExists(beside)) {
            return beside;
        }
    }
    if (fileExists(MORVEK_BUILT_MODULE)) {
        return MORVEK_BUILT_MODULE;
    }
    return program.empty() ? std::string(MORVEK_BUILT_MODULE)
                           : standin::findModuleBeside(program, MORVEK_MODULE_FILE_NAME);
}

EffectRunner::EffectRunner(const std::string& modulePath, int threads)
    : modulePath_(modulePath), piplPath_(Morvek::Pipl::modulePropertyListLocation(modulePath)),
      threads_(threads < 1 ? 1 : threads) {
    if (!fileExists(modulePath_)) {
        throw HostError("no module at '" + modulePath_ + "' (give one with --plugin)");
    }
    std::string why;
    if (!Morvek::Pipl::readModulePropertyList(modulePath_, pipl_, &why)) {
        throw HostError("the module '" + modulePath_ + "' has no usable property list: " + why);
    }
    if (pipl_.kind != Morvek::Pipl::kEffectKind) {
        throw HostError("the property list '" + piplPath_ + "' describes a module of kind '" +
                        Morvek::Pipl::codeToString(pipl_.kind) + "', not an effect");
    }
    if (pipl_.entryPoint.empty()) {
        throw HostError("the property list '" + piplPath_ + "' names no entry point for this platform");
    }

    std::unique_ptr<standin::LoadedLibrary> library = standin::ModuleLoader::platform().open(modulePath_, &why);
    if (!library) {
        throw HostError("cannot load the module '" + modulePath_ + "': " + why);
    }
    auto entry = reinterpret_cast<PF_EntryPointFunc>(library->symbol(pipl_.entryPoint.c_str()));
    if (!entry) {
        throw HostError("the module '" + modulePath_ + "' exports no '" + pipl_.entryPoint +
                        "', the entry point its property list names");
    }
    auto module = std::make_shared<standin::Module>(std::move(library), entry, modulePath_);
    session_ = std::make_unique<standin::Session>(module);
    session_->host().setWorkerThreads(threads_);

    PF_Err err = session_->globalSetup();
    version_ = session_->lastOutData().my_version;
    outFlags_ = session_->lastOutData().out_flags;
    outFlags2_ = session_->lastOutData().out_flags2;
    if (err != PF_Err_NONE) {
        throw HostError("the module failed GlobalSetup with error " + std::to_string(err), err);
    }
    setUp_ = true;
    if (version_ != pipl_.version) {
        warnings_.push_back("GlobalSetup reports version " + std::to_string(version_) + " but the property list says " +
                            std::to_string(pipl_.version));
    }
    if (static_cast<uint32_t>(outFlags_) != pipl_.outFlags || static_cast<uint32_t>(outFlags2_) != pipl_.outFlags2) {
        warnings_.push_back("GlobalSetup reports flags " + hex(static_cast<uint32_t>(outFlags_)) + "/" +
                            hex(static_cast<uint32_t>(outFlags2_)) + " but the property list says " +
                            hex(pipl_.outFlags) + "/" + hex(pipl_.outFlags2));
    }

    if (session_->about(&about_) != PF_Err_NONE) {
        about_.clear();
    }

    err = session_->paramsSetup();
    if (err != PF_Err_NONE) {
        throw HostError("the module failed ParamsSetup with error " + std::to_string(err), err);
    }
    const standin::Effect& effect = session_->effect();
    for (int i = 1; i < effect.numParams(); ++i) {
        const PF_ParamDef* def = effect.paramDef(i);
        if (!def || def->param_type != PF_Param_FLOAT_SLIDER) {
            continue;
        }
        SliderInfo s;
        s.index = i;
        s.name.assign(def->name, strnlen(def->name, sizeof def->name));
        s.validMin = def->u.fs_d.valid_min;
        s.validMax = def->u.fs_d.valid_max;
        s.sliderMin = def->u.fs_d.slider_min;
        s.sliderMax = def->u.fs_d.slider_max;
        s.dflt = def->u.fs_d.dephault;
        s.precision = def->u.fs_d.precision;
        sliders_.push_back(s);
        if (s.name == "Exposure") {
            exposureIndex_ = i;
        } else if (s.name == "Gamma Correction") {
            gammaIndex_ = i;
        }
    }
    if (!session_->reportsClean()) {
        warnings_.push_back("the module left host resources behind: " + session_->firstLeak());
    }
}

EffectRunner::~EffectRunner() {
    if (session_ && setUp_) {
        session_->globalSetdown();
    }
}

std::vector<std::pair<int, std::string>> EffectRunner::registrations() const {
    std::vector<std::pair<int, std::string>> list;
    for (const auto& r : session_->host().registrations()) {
        list.emplace_back(static_cast<int>(r.first), r.second);
    }
    return list;
}

std::vector<std::string> EffectRunner::takeWarnings() {
    std::vector<std::string> w;
    w.swap(warnings_);
    return w;
}

bool EffectRunner::handlesDepth(int depth) const {
    switch (depth) {
    case 8:
        return true;
    case 16:
        return (outFlags_ & PF_OutFlag_DEEP_COLOR_AWARE) != 0;
    case 32:
        return (outFlags2_ & PF_OutFlag2_FLOAT_COLOR_AWARE) != 0;
    default:
        return false;
    }
}

const SliderInfo* EffectRunner::slider(const std::string& name) const {
    for (const SliderInfo& s : sliders_) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

void EffectRunner::render(standin::World& in, standin::World& out, double exposure, double gamma, long frame) {
    const int depth = in.bitsPerChannel();
    if (!handlesDepth(depth)) {
        throw HostError("the module does not render at depth " + std::to_string(depth));
    }
    if ((outFlags2_ & PF_OutFlag2_SUPPORTS_SMART_RENDER) == 0) {
        throw HostError("the module does not announce smart rendering, the only way this host renders");
    }
    if (exposureIndex_ < 0 || gammaIndex_ < 0) {
        throw HostError("the module did not add the \"Exposure\" and \"Gamma Correction\" sliders");
    }
    session_->setSlider(exposureIndex_, exposure);
    session_->setSlider(gammaIndex_, gamma);

    standin::FrameOptions options;
    options.threads = threads_;
    options.time = standin::TimeKey{static_cast<A_long>(frame), 24};
    const bool wasClean = session_->reportsClean();
    const PF_Err err = session_->renderFrame(in, out, options);
    if (err != PF_Err_NONE) {
        throw HostError("the module returned error " + std::to_string(err) + " while rendering", err);
    }
    if (wasClean && !session_->reportsClean()) {
        warnings_.push_back("the module left host resources behind: " + session_->firstLeak());
    }
}

HostImage EffectRunner::render(const HostImage& input, double exposure, double gamma, long frame) {
    if (!isValidDepth(input.depth)) {
        throw HostError("the module does not render at depth " + std::to_string(input.depth));
    }
    const std::unique_ptr<standin::World> in = makeWorld(input.width, input.height, input.depth);
    const std::unique_ptr<standin::World> out = makeWorld(input.width, input.height, input.depth);
    const std::size_t rowBytes = input.rowBytes();
    for (int y = 0; y < input.height; ++y) {
        std::memcpy(in->row(y), input.data.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
    }
    render(*in, *out, exposure, gamma, frame);
    HostImage result(input.width, input.height, input.depth);
    for (int y = 0; y < input.height; ++y) {
        std::memcpy(result.data.data() + static_cast<std::size_t>(y) * rowBytes, out->row(y), rowBytes);
    }
    return result;
}

} // namespace MorvekRender
