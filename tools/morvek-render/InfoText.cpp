#include "InfoText.h"

#include "EffectRunner.h"
#include "HostAPI.h"
#include "ImageIO.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace MorvekRender {

namespace {

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

// The effect as the host's user meets it: the sliders with their ranges and
// what a value means for the picture.
void printArtistView(const EffectRunner& r) {
    const Morvek::Pipl::PropertyList& p = r.propertyList();
    std::printf("%s, as it appears in the host\n", p.name.c_str());
    std::printf("  effect:            \"%s\" in the effect category \"%s\"\n", p.name.c_str(), p.category.c_str());
    for (const SliderInfo& s : r.sliders()) {
        std::printf("  %-18s default %.*f; slider %.*f..%.*f, typed values %g..%g\n", (s.name + ":").c_str(),
                    s.precision, s.dflt, s.precision, s.sliderMin, s.precision, s.sliderMax, s.validMin, s.validMax);
        if (s.name == "Exposure") {
            std::printf("%21sbrightness x%.2f per unit: +2.2 doubles it, -2.2 halves it;\n", "", exposureGain(1.0));
            std::printf("%21sthe slider spans x%.2f..x%.2f\n", "", exposureGain(s.sliderMin),
                        exposureGain(s.sliderMax));
        } else if (s.name == "Gamma Correction") {
            std::printf("%21seach colour value v (0 black, 1 full) becomes v^(1/gamma) before the\n", "");
            std::printf("%21sexposure: above 1 lifts the midtones, below 1 darkens them\n", "");
        }
    }
    std::string depths;
    for (int d : {8, 16, 32}) {
        if (r.handlesDepth(d)) {
            depths +=
                std::string(depths.empty() ? "" : ", ") + (d == 32 ? "32-bit float" : std::to_string(d) + " bits");
        }
    }
    std::printf("  depths:            %s per channel\n", depths.c_str());
    std::printf("  alpha:             colour pushed past full folds into alpha: an overexposed,\n");
    std::printf("%21spartly transparent pixel becomes more opaque\n", "");
}

void printDeveloperView(const EffectRunner& r) {
    const Morvek::Pipl::PropertyList& p = r.propertyList();
    std::printf("For plug-in developers\n");
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
    for (const auto& reg : r.registrations()) {
        std::printf("registration:    plug-in id %d, registration name \"%s\" (the name the module\n", reg.first,
                    reg.second.c_str());
        std::printf("                 gives itself when it registers with the host; a name, not a failure)\n");
    }
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

} // namespace

double exposureGain(double exposure) {
    return std::pow(1.37035095691681, exposure);
}

void printInfo(const EffectRunner& runner) {
    printArtistView(runner);
    std::printf("\n");
    printDeveloperView(runner);
}

} // namespace MorvekRender
