// Placeholder entry point; the command handlers replace it.
#include "HostAPI.h"

extern "C" PF_EXPORT PF_Err EntryPointFunc(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
    return PF_Err_NONE;
}
