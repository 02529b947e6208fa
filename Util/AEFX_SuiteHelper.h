// Acquiring and releasing single suites without exceptions: failures come
// back as PF_Err_BAD_CALLBACK_PARAM (516) with the host's error-message flag
// and a message in out_data->return_msg.
#ifndef MORVEK_UTIL_AEFX_SUITEHELPER_H
#define MORVEK_UTIL_AEFX_SUITEHELPER_H

#include "HostAPI.h"

// The four drawing suites, in acquisition order.
typedef struct DRAWBOT_Suites {
    DRAWBOT_DrawSuite1* drawbot_suiteP;
    DRAWBOT_SupplierSuite1* supplier_suiteP;
    DRAWBOT_SurfaceSuite1* surface_suiteP;
    DRAWBOT_PathSuite1* path_suiteP;
} DRAWBOT_Suites;

// Acquires suite `name` `version` into *suite. Success is judged by the
// pointer: a non-null suite is 0 whatever the broker said. Otherwise (no
// broker, or no suite) sets PF_OutFlag_DISPLAY_ERROR_MESSAGE, writes
// error_string (or "Not able to acquire AEFX Suite.") into return_msg and
// returns 516 with *suite null.
PF_Err AEFX_AcquireSuite(PF_InData* in_data, PF_OutData* out_data, const char* name, int32_t version,
                         const char* error_string, void** suite);

// Releases suite `name` `version`: 0 when there is a broker (its answer is not
// inspected); otherwise the message (default "Not able to release AEFX
// Suite.") and 516.
PF_Err AEFX_ReleaseSuite(PF_InData* in_data, PF_OutData* out_data, const char* name, int32_t version,
                         const char* error_string);

// Acquires the four drawing suites in record order and stops at the first
// failure (516; the ones before it stay acquired and must be released).
PF_Err AEFX_AcquireDrawbotSuites(PF_InData* in_data, PF_OutData* out_data, DRAWBOT_Suites* suitesP);

// Releases the four drawing suites; without a broker it writes the release
// message and returns 516.
PF_Err AEFX_ReleaseDrawbotSuites(PF_InData* in_data, PF_OutData* out_data);

#endif
