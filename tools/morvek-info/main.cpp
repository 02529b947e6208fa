// morvek-info: loads the effect module into the stand-in host, runs the
// commands a host runs when it meets an effect (About, GlobalSetup,
// ParamsSetup, GlobalSetdown) and prints what the host learns.
#include "Session.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* kUsage = "usage: morvek-info [MODULE]\n"
                     "Prints what a host learns from the effect module: About text, version,\n"
                     "flags and parameters. MODULE defaults to MorvekExposure.so built beside\n"
                     "this program.\n";

// This program's own path (the module is looked for beside it).
std::string selfPath(const char* argv0) {
    char buf[4096];
#ifdef _WIN32
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n > 0 && n < sizeof buf) {
        return std::string(buf, n);
    }
#else
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) {
        buf[n] = 0;
        return buf;
    }
#endif
    return argv0;
}

const char* stageName(unsigned stage) {
    switch (stage) {
    case 0:
        return "development";
    case 1:
        return "alpha";
    case 2:
        return "beta";
    default:
        return "release";
    }
}

std::string flagNames(A_long flags, const std::vector<std::pair<A_long, const char*>>& names) {
    std::string s;
    A_long rest = flags;
    for (const auto& [bit, name] : names) {
        if (flags & bit) {
            s += s.empty() ? "" : ", ";
            s += name;
            rest &= ~bit;
        }
    }
    if (rest) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(rest));
        s += s.empty() ? "" : ", ";
        s += std::string("other bits ") + buf;
    }
    return s.empty() ? "none" : s;
}

std::string printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += (c == '\r') ? std::string(" / ") : std::string(1, c);
    }
    return out;
}

int fail(const char* step, PF_Err err) {
    std::fprintf(stderr, "morvek-info: %s failed with host error %d\n", step, static_cast<int>(err));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!path.empty()) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        path = argv[i];
    }
    if (path.empty()) {
        path = standin::findModuleBeside(selfPath(argv[0]));
    }

    std::string why;
    std::unique_ptr<standin::Session> session = standin::Session::open(path, &why);
    if (!session) {
        std::fprintf(stderr, "morvek-info: cannot load %s: %s\n", path.c_str(), why.c_str());
        return 1;
    }
    standin::Session& s = *session;
    std::printf("Module      %s\n", path.c_str());

    std::string about;
    if (PF_Err err = s.about(&about)) {
        return fail("About", err);
    }
    std::printf("About       %s\n", printable(about).c_str());

    if (PF_Err err = s.globalSetup()) {
        return fail("GlobalSetup", err);
    }
    const PF_OutData gs = s.lastOutData();
    const unsigned v = gs.my_version;
    std::printf("Version     %u (0x%05X): %u.%u.%u, stage %s, build %u\n", v, v, v >> 19, (v >> 15) & 0xF,
                (v >> 11) & 0xF, stageName((v >> 9) & 0x3), v & 0x1FF);
    std::printf("Flags       0x%08X: %s\n", static_cast<unsigned>(gs.out_flags),
                flagNames(gs.out_flags, {{PF_OutFlag_DEEP_COLOR_AWARE, "16-bit colour"},
                                         {PF_OutFlag_DISPLAY_ERROR_MESSAGE, "error message"}})
                    .c_str());
    std::printf("Flags2      0x%08X: %s\n", static_cast<unsigned>(gs.out_flags2),
                flagNames(gs.out_flags2, {{PF_OutFlag2_SUPPORTS_SMART_RENDER, "smart render"},
                                          {PF_OutFlag2_FLOAT_COLOR_AWARE, "32-bit float colour"}})
                    .c_str());
    if (gs.global_data) {
        const auto regs = s.host().registrations();
        std::printf("Global data %zu-byte handle\n", s.host().handleSize(gs.global_data));
        for (const auto& [id, name] : regs) {
            std::printf("Registered  plug-in id %d, registration name \"%s\" (the name the module gives\n"
                        "            itself when it registers with the host; a name, not a failure)\n",
                        static_cast<int>(id), name.c_str());
        }
    } else {
        std::printf("Global data none\n");
    }

    if (PF_Err err = s.paramsSetup()) {
        return fail("ParamsSetup", err);
    }
    std::printf("Parameters  %d (index 0 is the input layer)\n", static_cast<int>(s.lastOutData().num_params));
    for (int i = 1; i < s.effect().numParams(); ++i) {
        const PF_ParamDef* d = s.effect().paramDef(i);
        if (!d) {
            continue;
        }
        if (d->param_type != PF_Param_FLOAT_SLIDER) {
            std::printf("  %d  %-18s type %d, id %d\n", i, d->name, static_cast<int>(d->param_type),
                        static_cast<int>(d->uu.id));
            continue;
        }
        const PF_FloatSliderDef& fs = d->u.fs_d;
        const int p = fs.precision;
        std::printf("  %d  %-18s float slider, id %d: slider %.*f to %.*f, typed values %.*f to %.*f, "
                    "default %.*f, %d decimal place%s\n",
                    i, d->name, static_cast<int>(d->uu.id), p, fs.slider_min, p, fs.slider_max, p, fs.valid_min, p,
                    fs.valid_max, p, fs.dephault, p, p == 1 ? "" : "s");
    }

    if (PF_Err err = s.globalSetdown()) {
        return fail("GlobalSetdown", err);
    }
    if (s.reportsClean()) {
        std::printf("Host        every suite released and no handle left after each command\n");
        return 0;
    }
    std::printf("Host        resources left behind %s", s.firstLeak().c_str());
    return 1;
}
