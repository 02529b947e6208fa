/* Basic scalar, time, rectangle and pixel types of the compositing host's
 * effect interface.
 *
 * This folder is the only place where the host's C interface is declared. The
 * plug-in, the library and the stand-in host all include it; a build against
 * the host's own kit replaces this folder and nothing else. Plain C, so that
 * the stand-in host can be driven from C as well as from C++. */
#ifndef MORVEK_HOSTAPI_HOSTTYPES_H
#define MORVEK_HOSTAPI_HOSTTYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef uint8_t A_u_char;
typedef uint8_t A_Boolean;
typedef uint8_t PF_Boolean;
typedef int64_t A_longlong;
typedef uint64_t A_u_longlong;
typedef float PF_FpShort;
typedef double PF_FpLong;
typedef double A_FpLong;
typedef int32_t PF_Fixed; /* 16.16 fixed point */

/* Every host error is a 32-bit integer; 0 is success. */
typedef A_long A_Err;
typedef A_long PF_Err;

/* A point in time: value / scale seconds. */
typedef struct A_Time {
    A_long value;
    A_u_long scale;
} A_Time;

/* Integer rectangle; right and bottom are exclusive. */
typedef struct PF_LRect {
    A_long left;
    A_long top;
    A_long right;
    A_long bottom;
} PF_LRect;

typedef PF_LRect PF_Rect;

typedef struct PF_RationalScale {
    A_long num;
    A_u_long den;
} PF_RationalScale;

/* Pixels: channels in the order alpha, red, green, blue; straight colour.
 * 8 bits: full = 255. 16 bits: full = 32768 (not 65535). Float: full = 1.0. */
typedef struct PF_Pixel {
    A_u_char alpha;
    A_u_char red;
    A_u_char green;
    A_u_char blue;
} PF_Pixel;

typedef PF_Pixel PF_Pixel8;

typedef struct PF_Pixel16 {
    A_u_short alpha;
    A_u_short red;
    A_u_short green;
    A_u_short blue;
} PF_Pixel16;

typedef struct PF_PixelFloat {
    PF_FpShort alpha;
    PF_FpShort red;
    PF_FpShort green;
    PF_FpShort blue;
} PF_PixelFloat;

typedef PF_PixelFloat PF_Pixel32;

#define PF_MAX_CHAN8 255
#define PF_HALF_CHAN8 128
#define PF_MAX_CHAN16 32768
#define PF_HALF_CHAN16 16384

/* Opaque references the host hands out. */
typedef struct _PF_Handle_Opaque* PF_Handle;
typedef struct _PF_ProgressInfo_Opaque* PF_ProgPtr;
typedef PF_Pixel* PF_PixelPtr;

#ifdef __cplusplus
}
#endif

#endif /* MORVEK_HOSTAPI_HOSTTYPES_H */
