// A stand-in effect module for morvek-render's tests: it declares the same
// two sliders as the real effect but renders nothing. MORVEK_FAKE_LOG names a
// file that gets one line per command ("cmd 1", "cmd 24", ...), so tests can
// count module loads and GlobalSetups; MORVEK_FAKE_RENDER_ERROR makes smart
// render return that error code. Two hooks let tests act in the middle of a
// render: MORVEK_FAKE_RENDER_SIGNAL="SIGNAL:FRAME" sends the host process
// that signal while rendering that frame, and MORVEK_FAKE_RENDER_MKDIR makes
// a folder at that path.
#include "HostAPI.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void logCommand(PF_Cmd cmd) {
    const char* path = std::getenv("MORVEK_FAKE_LOG");
    if (!path) {
        return;
    }
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "cmd %d\n", static_cast<int>(cmd));
        std::fclose(f);
    }
}

PF_Err addSlider(PF_InData* in, const char* name, A_long id, float validMin, float validMax, float dflt) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_FLOAT_SLIDER;
    def.uu.id = id;
    std::strncpy(def.name, name, sizeof def.name - 1);
    def.u.fs_d.valid_min = validMin;
    def.u.fs_d.valid_max = validMax;
    def.u.fs_d.slider_min = validMin;
    def.u.fs_d.slider_max = validMax;
    def.u.fs_d.dephault = dflt;
    def.u.fs_d.value = dflt;
    def.u.fs_d.precision = 2;
    return in->inter.add_param(in->effect_ref, -1, &def);
}

} // namespace

extern "C" PF_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* /*params*/[],
                                           PF_LayerDef* /*output*/, void* /*extra*/) {
    logCommand(cmd);
    switch (cmd) {
    case PF_Cmd_GLOBAL_SETUP:
        out->my_version = 525825;
        out->out_flags = PF_OutFlag_DEEP_COLOR_AWARE;
        out->out_flags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE;
        return PF_Err_NONE;
    case PF_Cmd_PARAMS_SETUP: {
        PF_Err err = addSlider(in, "Exposure", 1, -100.0f, 100.0f, 0.0f);
        if (!err) {
            err = addSlider(in, "Gamma Correction", 2, 0.1f, 10.0f, 1.0f);
        }
        if (!err) {
            out->num_params = 3;
        }
        return err;
    }
    case PF_Cmd_SMART_RENDER: {
        int sig = 0;
        long frame = 0;
        const char* when = std::getenv("MORVEK_FAKE_RENDER_SIGNAL");
        if (when && std::sscanf(when, "%d:%ld", &sig, &frame) == 2 && frame == in->current_time) {
            kill(getpid(), sig);
            const timespec second{1, 0};
            for (int i = 0; i < 30; ++i) {
                nanosleep(&second, nullptr); // the host acts on the signal meanwhile
            }
        }
        if (const char* folder = std::getenv("MORVEK_FAKE_RENDER_MKDIR")) {
            mkdir(folder, 0755);
        }
        const char* code = std::getenv("MORVEK_FAKE_RENDER_ERROR");
        return code ? static_cast<PF_Err>(std::atoi(code)) : PF_Err_NONE;
    }
    default:
        return PF_Err_NONE;
    }
}
