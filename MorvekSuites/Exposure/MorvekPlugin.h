// The module's one exported function and the global command handlers it
// dispatches to.
#ifndef MORVEK_EXPOSURE_MORVEKPLUGIN_H
#define MORVEK_EXPOSURE_MORVEKPLUGIN_H

#include "HostAPI.h"

extern "C" {
// Runs one host command. Never lets an exception out: a thrown PF_Err becomes
// the result, an allocation failure PF_Err_OUT_OF_MEMORY, anything else
// PF_Err_INTERNAL_STRUCT_DAMAGED.
PF_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                PF_LayerDef* output, void* extra);
}

namespace Morvek {
namespace Plugin {

PF_Err About(PF_InData* in_data, PF_OutData* out_data);
PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data);
PF_Err GlobalSetdown(PF_InData* in_data, PF_OutData* out_data);
PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data);

} // namespace Plugin
} // namespace Morvek

#endif
