// The host side of morvek-render: finds the module and its property list,
// loads it once, runs GlobalSetup and ParamsSetup, renders frames through the
// smart-render pair and runs GlobalSetdown at the end.
#ifndef MORVEK_RENDER_EFFECTRUNNER_H
#define MORVEK_RENDER_EFFECTRUNNER_H

#include "HostImage.h"
#include "PiplReader.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace standin {
class Session;
class World;
} // namespace standin

namespace MorvekRender {

// A failure of the module or of loading it; `code` is the module's error
// code when it returned one, else 0.
class HostError : public std::runtime_error {
public:
    HostError(const std::string& what, PF_Err code = 0) : std::runtime_error(what), code(code) {}
    PF_Err code;
};

struct SliderInfo {
    int index = 0;
    std::string name;
    double validMin = 0, validMax = 0, sliderMin = 0, sliderMax = 0, dflt = 0;
    int precision = 0;
};

// A cleared world for a frame of that size at depth 8, 16 or 32, its rows
// padded to 64 bytes as hosts commonly do (the module must honour
// rowbytes), and the view of its rows.
std::unique_ptr<standin::World> makeWorld(int width, int height, int depth);
FrameRows rowsOf(standin::World& world);
// Bytes of such a world.
std::size_t worldBytes(int width, int height, int depth);

// The module beside this program, or the build tree's module.
std::string defaultModulePath();
// The path of the file `name` in this program's folder.
std::string besideThisProgram(const std::string& name);

class EffectRunner {
public:
    // Reads the property list, loads the module through the entry point it
    // names, and runs GlobalSetup and ParamsSetup. `threads` is the number of
    // host worker threads. Throws HostError.
    EffectRunner(const std::string& modulePath, int threads);
    ~EffectRunner(); // GlobalSetdown
    EffectRunner(const EffectRunner&) = delete;
    EffectRunner& operator=(const EffectRunner&) = delete;

    const std::string& modulePath() const { return modulePath_; }
    const std::string& propertyListPath() const { return piplPath_; }
    const Morvek::Pipl::PropertyList& propertyList() const { return pipl_; }
    const std::string& aboutText() const { return about_; }
    const std::vector<SliderInfo>& sliders() const { return sliders_; }
    // What GlobalSetup reported.
    A_u_long reportedVersion() const { return version_; }
    A_long reportedOutFlags() const { return outFlags_; }
    A_long reportedOutFlags2() const { return outFlags2_; }
    // Plug-in ids and names the module registered with the host.
    std::vector<std::pair<int, std::string>> registrations() const;
    // Warnings for the user: property list and GlobalSetup disagreeing, host
    // resources left behind by the module.
    std::vector<std::string> takeWarnings();

    // True when the module announced that it renders at this depth.
    bool handlesDepth(int depth) const;
    // The slider of that name; null when the module did not add it.
    const SliderInfo* slider(const std::string& name) const;

    // Renders one frame from `in` to `out` (worlds of one size and depth,
    // from makeWorld) with the two slider values; `frame` is the frame
    // number (the host's time). Throws HostError with the module's code when
    // it fails.
    void render(standin::World& in, standin::World& out, double exposure, double gamma, long frame = 0);
    // The same on a frame held in a HostImage, copied in and out.
    HostImage render(const HostImage& input, double exposure, double gamma, long frame = 0);

    int threads() const { return threads_; }

private:
    std::string modulePath_;
    std::string piplPath_;
    Morvek::Pipl::PropertyList pipl_;
    std::unique_ptr<standin::Session> session_;
    bool setUp_ = false;
    int threads_ = 1;
    std::string about_;
    std::vector<SliderInfo> sliders_;
    A_u_long version_ = 0;
    A_long outFlags_ = 0;
    A_long outFlags2_ = 0;
    std::vector<std::string> warnings_;
    int exposureIndex_ = -1;
    int gammaIndex_ = -1;
};

} // namespace MorvekRender

#endif
