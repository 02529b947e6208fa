/* Suite tables served by the host's broker, each with its name and version.
 * Only the suites and functions that this project uses are declared; the
 * tables are this interface's own layout. */
#ifndef MORVEK_HOSTAPI_HOSTSUITES_H
#define MORVEK_HOSTAPI_HOSTSUITES_H

#include "HostEffect.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- PF Handle Suite 2 ----------------------------------------------- */
#define kPFHandleSuite "PF Handle Suite"
#define kPFHandleSuiteVersion2 2

typedef struct PF_HandleSuite2 {
    PF_Handle (*host_new_handle)(A_u_longlong size);
    void* (*host_lock_handle)(PF_Handle pf_handle);
    void (*host_unlock_handle)(PF_Handle pf_handle);
    void (*host_dispose_handle)(PF_Handle pf_handle);
    A_u_longlong (*host_get_handle_size)(PF_Handle pf_handle);
    PF_Err (*host_resize_handle)(A_u_longlong new_sizeL, PF_Handle* handlePH);
} PF_HandleSuite2;

/* ---- AEGP Utility Suite 7 -------------------------------------------- */
#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion7 7

typedef A_long AEGP_PluginID;
typedef struct _AEGP_GlobalRefcon_Opaque* AEGP_GlobalRefcon;

typedef struct AEGP_UtilitySuite7 {
    A_Err (*AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const A_char* plugin_name,
                                   AEGP_PluginID* plugin_id);
} AEGP_UtilitySuite7;

/* ---- AEGP Iterate Suite 1 -------------------------------------------- */
#define kAEGPIterateSuite "AEGP Iterate Suite"
#define kAEGPIterateSuiteVersion1 1

typedef struct AEGP_IterateSuite1 {
    A_Err (*AEGP_GetNumThreads)(A_long* num_threadsPL);
} AEGP_IterateSuite1;

/* ---- PF Iterate8 Suite 1 --------------------------------------------- */
#define kPFIterate8Suite "PF Iterate8 Suite"
#define kPFIterate8SuiteVersion1 1

/* The generic iteration callback: called once per i in 0..iterations-1,
 * possibly on several host threads at once. */
typedef PF_Err (*PF_IterateGenericFunc)(void* refconPV, A_long thread_indexL, A_long i, A_long iterationsL);

typedef struct PF_Iterate8Suite1 {
    PF_Err (*iterate_generic)(A_long iterationsL, void* refconPV, PF_IterateGenericFunc fn_func);
} PF_Iterate8Suite1;

/* ---- PF World Suite 1 and 2 ------------------------------------------- */
#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion1 1
#define kPFWorldSuiteVersion2 2

typedef struct PF_WorldSuite1 {
    PF_Err (*new_world)(PF_ProgPtr effect_ref, A_long width, A_long height, PF_NewWorldFlags flags,
                        PF_EffectWorld* world);
    PF_Err (*dispose_world)(PF_ProgPtr effect_ref, PF_EffectWorld* world);
} PF_WorldSuite1;

typedef struct PF_WorldSuite2 {
    PF_Err (*PF_NewWorld)(PF_ProgPtr effect_ref, A_long widthL, A_long heightL, PF_Boolean clear_pixB,
                          PF_PixelFormat pixel_format, PF_EffectWorld* worldP);
    PF_Err (*PF_DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld* worldP);
    PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld* worldP, PF_PixelFormat* pixel_formatP);
} PF_WorldSuite2;

/* ---- PF Fill Matte Suite 2 ------------------------------------------- */
#define kPFFillMatteSuite "PF Fill Matte Suite"
#define kPFFillMatteSuiteVersion2 2

typedef struct PF_FillMatteSuite2 {
    /* A null rectangle fills the whole world. */
    PF_Err (*fill)(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_LRect* dst_rect, PF_EffectWorld* world);
    PF_Err (*fill16)(PF_ProgPtr effect_ref, const PF_Pixel16* color, const PF_LRect* dst_rect, PF_EffectWorld* world);
    PF_Err (*fill_float)(PF_ProgPtr effect_ref, const PF_PixelFloat* color, const PF_LRect* dst_rect,
                         PF_EffectWorld* world);
} PF_FillMatteSuite2;

/* ---- AEGP streams, effects and the PF interface ----------------------- */
typedef struct _AEGP_EffectRefH_Opaque* AEGP_EffectRefH;
typedef struct _AEGP_StreamRefH_Opaque* AEGP_StreamRefH;

typedef A_long AEGP_LTimeMode;
enum { AEGP_LTimeMode_LayerTime = 0, AEGP_LTimeMode_CompTime = 1 };

typedef A_FpLong AEGP_OneDVal;
typedef struct AEGP_TwoDVal {
    A_FpLong x;
    A_FpLong y;
} AEGP_TwoDVal;
typedef struct AEGP_ThreeDVal {
    A_FpLong x;
    A_FpLong y;
    A_FpLong z;
} AEGP_ThreeDVal;
typedef struct AEGP_ColorVal {
    A_FpLong alphaF;
    A_FpLong redF;
    A_FpLong greenF;
    A_FpLong blueF;
} AEGP_ColorVal;

typedef union AEGP_StreamVal2 {
    AEGP_OneDVal one_d;
    AEGP_TwoDVal two_d;
    AEGP_ThreeDVal three_d;
    AEGP_ColorVal color;
} AEGP_StreamVal2;

typedef struct AEGP_StreamValue2 {
    AEGP_StreamRefH streamH;
    AEGP_StreamVal2 val;
} AEGP_StreamValue2;

#define kAEGPStreamSuite "AEGP Stream Suite"
#define kAEGPStreamSuiteVersion9 9

typedef struct AEGP_StreamSuite9 {
    A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID aegp_plugin_id, AEGP_EffectRefH effect_refH,
                                            PF_ParamIndex param_index, AEGP_StreamRefH* streamPH);
    /* Value at *time_pre in the given time mode; pre_expressionB false means
     * the value after expressions. The record is disposed with
     * AEGP_DisposeStreamValue. */
    A_Err (*AEGP_GetNewStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH, AEGP_LTimeMode time_mode,
                                    const A_Time* time_pre, A_Boolean pre_expressionB, AEGP_StreamValue2* valueP);
    A_Err (*AEGP_SetStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH, AEGP_StreamValue2* valueP);
    A_Err (*AEGP_DisposeStreamValue)(AEGP_StreamValue2* valueP);
    A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);
} AEGP_StreamSuite9;

#define kAEGPEffectSuite "AEGP Effect Suite"
#define kAEGPEffectSuiteVersion2 2

typedef struct AEGP_EffectSuite2 {
    A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effectH);
} AEGP_EffectSuite2;

#define kAEGPPFInterfaceSuite "AEGP PF Interface Suite"
#define kAEGPPFInterfaceSuiteVersion1 1

typedef struct AEGP_PFInterfaceSuite1 {
    A_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID aegp_plugin_id, PF_ProgPtr effect_ref, AEGP_EffectRefH* effectPH);
} AEGP_PFInterfaceSuite1;

/* ---- DRAWBOT suites (drawing; served by no host call of this project) -- */
#define kDRAWBOT_DrawSuite "DRAWBOT Draw Suite"
#define kDRAWBOT_DrawSuite_Version1 1
#define kDRAWBOT_SupplierSuite "DRAWBOT Supplier Suite"
#define kDRAWBOT_SupplierSuite_Version1 1
#define kDRAWBOT_SurfaceSuite "DRAWBOT Surface Suite"
#define kDRAWBOT_SurfaceSuite_Version1 1
#define kDRAWBOT_PathSuite "DRAWBOT Path Suite"
#define kDRAWBOT_PathSuite_Version1 1

/* Opaque: only pointers to them are passed around here. */
typedef struct DRAWBOT_DrawSuite1 DRAWBOT_DrawSuite1;
typedef struct DRAWBOT_SupplierSuite1 DRAWBOT_SupplierSuite1;
typedef struct DRAWBOT_SurfaceSuite1 DRAWBOT_SurfaceSuite1;
typedef struct DRAWBOT_PathSuite1 DRAWBOT_PathSuite1;

#ifdef __cplusplus
}
#endif

#endif /* MORVEK_HOSTAPI_HOSTSUITES_H */
