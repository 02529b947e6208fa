// Placeholder smart-render handlers; the render path replaces them.
#include "MorvekRender.h"

PF_Err SmartPreRender(PF_InData*, PF_OutData*, PF_PreRenderExtra*) {
    return PF_Err_NONE;
}

PF_Err SmartRender(PF_InData*, PF_OutData*, PF_SmartRenderExtra*) {
    return PF_Err_NONE;
}
