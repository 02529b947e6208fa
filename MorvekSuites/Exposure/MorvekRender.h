// The smart-render pair: pre-render reads the sliders and asks for the input,
// render runs the exposure filter over the output world.
#ifndef MORVEK_EXPOSURE_MORVEKRENDER_H
#define MORVEK_EXPOSURE_MORVEKRENDER_H

#include "HostAPI.h"

PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra);
PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

#endif
