// Single-suite acquisition and release with messages instead of exceptions.
#include "AEFX_SuiteHelper.h"

#include <cstdio>

namespace {

constexpr const char* kAcquireFailed = "Not able to acquire AEFX Suite.";
constexpr const char* kReleaseFailed = "Not able to release AEFX Suite.";

// Raises the host's error-message flag and leaves `text` in return_msg. The
// text goes through "%s" so that a '%' in a caller's message is printed, not
// interpreted.
void ReportSuiteError(PF_InData* in_data, PF_OutData* out_data, const char* text) {
    if (!out_data) {
        return;
    }
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    if (in_data && in_data->utils && in_data->utils->ansi.sprintf) {
        in_data->utils->ansi.sprintf(out_data->return_msg, "%s", text);
    } else {
        std::snprintf(out_data->return_msg, sizeof(out_data->return_msg), "%s", text);
    }
}

} // namespace

PF_Err AEFX_AcquireSuite(PF_InData* in_data, PF_OutData* out_data, const char* name, int32_t version,
                         const char* error_string, void** suite) {
    if (!suite) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    // A broker that fails without touching the pointer must not leave a
    // stale value that reads as success.
    *suite = nullptr;
    if (in_data && in_data->pica_basicP) {
        const void* acquired = nullptr;
        in_data->pica_basicP->AcquireSuite(name, version, &acquired);
        *suite = const_cast<void*>(acquired);
        if (*suite) {
            return PF_Err_NONE;
        }
    }
    ReportSuiteError(in_data, out_data, error_string ? error_string : kAcquireFailed);
    return PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err AEFX_ReleaseSuite(PF_InData* in_data, PF_OutData* out_data, const char* name, int32_t version,
                         const char* error_string) {
    if (in_data && in_data->pica_basicP) {
        in_data->pica_basicP->ReleaseSuite(name, version);
        return PF_Err_NONE;
    }
    ReportSuiteError(in_data, out_data, error_string ? error_string : kReleaseFailed);
    return PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err AEFX_AcquireDrawbotSuites(PF_InData* in_data, PF_OutData* out_data, DRAWBOT_Suites* suitesP) {
    if (!suitesP) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    void* suite = nullptr;
    PF_Err err = AEFX_AcquireSuite(in_data, out_data, kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_Version1, nullptr, &suite);
    if (err) {
        return err;
    }
    suitesP->drawbot_suiteP = static_cast<DRAWBOT_DrawSuite1*>(suite);
    err =
        AEFX_AcquireSuite(in_data, out_data, kDRAWBOT_SupplierSuite, kDRAWBOT_SupplierSuite_Version1, nullptr, &suite);
    if (err) {
        return err;
    }
    suitesP->supplier_suiteP = static_cast<DRAWBOT_SupplierSuite1*>(suite);
    err = AEFX_AcquireSuite(in_data, out_data, kDRAWBOT_SurfaceSuite, kDRAWBOT_SurfaceSuite_Version1, nullptr, &suite);
    if (err) {
        return err;
    }
    suitesP->surface_suiteP = static_cast<DRAWBOT_SurfaceSuite1*>(suite);
    err = AEFX_AcquireSuite(in_data, out_data, kDRAWBOT_PathSuite, kDRAWBOT_PathSuite_Version1, nullptr, &suite);
    if (err) {
        return err;
    }
    suitesP->path_suiteP = static_cast<DRAWBOT_PathSuite1*>(suite);
    return PF_Err_NONE;
}

PF_Err AEFX_ReleaseDrawbotSuites(PF_InData* in_data, PF_OutData* out_data) {
    PF_Err result = PF_Err_NONE;
    const struct {
        const char* name;
        int32_t version;
    } suites[] = {{kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_Version1},
                  {kDRAWBOT_SupplierSuite, kDRAWBOT_SupplierSuite_Version1},
                  {kDRAWBOT_SurfaceSuite, kDRAWBOT_SurfaceSuite_Version1},
                  {kDRAWBOT_PathSuite, kDRAWBOT_PathSuite_Version1}};
    for (const auto& s : suites) {
        const PF_Err err = AEFX_ReleaseSuite(in_data, out_data, s.name, s.version, nullptr);
        if (err && !result) {
            result = err;
        }
    }
    return result;
}
