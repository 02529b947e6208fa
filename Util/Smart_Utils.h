// Rectangle helpers on the host's PF_LRect, used by the smart-render steps.
#ifndef MORVEK_UTIL_SMART_UTILS_H
#define MORVEK_UTIL_SMART_UTILS_H

#include "HostAPI.h"

// True when left >= right or top >= bottom.
bool IsEmptyRect(const PF_LRect* r);

// Grows dst to hold src. An empty dst takes src as it is (even an empty src);
// an empty src leaves a non-empty dst alone.
void UnionLRect(const PF_LRect* src, PF_LRect* dst);

// True when (x, y) lies on the rectangle's outline, right and bottom included.
bool IsEdgePixel(PF_LRect* rectP, int x, int y);

#endif
