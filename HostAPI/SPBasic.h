/* The host's suite broker: suites are function tables identified by a name
 * and a version; every acquisition is balanced by a release. */
#ifndef MORVEK_HOSTAPI_SPBASIC_H
#define MORVEK_HOSTAPI_SPBASIC_H

#include "HostTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef A_long SPErr;
typedef A_Boolean SPBoolean;
#define kSPNoError 0

typedef struct SPBasicSuite {
    /* Writes the suite's table into *suite and returns 0, or an error. */
    SPErr (*AcquireSuite)(const char* name, A_long version, const void** suite);
    SPErr (*ReleaseSuite)(const char* name, A_long version);
    SPBoolean (*IsEqual)(const char* token1, const char* token2);
    SPErr (*AllocateBlock)(size_t size, void** block);
    SPErr (*FreeBlock)(void* block);
    SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newblock);
    SPErr (*Undefined)(void);
} SPBasicSuite;

#ifdef __cplusplus
}
#endif

#endif /* MORVEK_HOSTAPI_SPBASIC_H */
