/* Umbrella header: the whole host interface as this project uses it. */
#ifndef MORVEK_HOSTAPI_HOSTAPI_H
#define MORVEK_HOSTAPI_HOSTAPI_H

#include "HostTypes.h"
#include "SPBasic.h"
#include "HostEffect.h"
#include "HostSmartRender.h"
#include "HostSuites.h"

#endif /* MORVEK_HOSTAPI_HOSTAPI_H */
