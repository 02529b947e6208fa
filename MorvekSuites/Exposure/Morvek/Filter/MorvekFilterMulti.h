// The threaded filter driver: runs one filter over a region of a layer on all
// of the host's worker threads. The region is cut into one horizontal band per
// thread; band i covers rows top + i*h/n up to top + (i+1)*h/n (h rows, n
// threads, quotients truncated), so the bands tile the region exactly and
// differ in height by at most one row.
#ifndef MORVEK_FILTER_MORVEKFILTERMULTI_H
#define MORVEK_FILTER_MORVEKFILTERMULTI_H

#include "AEGP_SuiteHandler.h"
#include "HostAPI.h"
#include "MorvekFilter.h"
#include "MorvekGeneral.h"
#include "MorvekLayer.h"

#include <cstdint>
#include <new>
#include <type_traits>

namespace Morvek {

// Built on the driver's stack and handed by address to every band; the bands
// only read it.
struct FilterRefcon {
    PF_InData* in_data;
    IFilterWithRegion* filter;
    Layer* input;
    Layer* output;
    Rect region;
    A_long thread_count;
};

// Row of band i's top edge, relative to the region's top: i * height / count.
// Formed in 64 bits so that no product can overflow; equal to the 32-bit form
// wherever that is defined, and never beyond `height` for 0 <= i <= count.
inline std::int64_t FilterBandOffset(std::int64_t i, std::int64_t height, std::int64_t count) {
    return i * height / count;
}

// The host's per-band callback. It runs on the host's worker threads, so
// nothing may leave it as an exception: anything thrown becomes an error code.
template <class T> PF_Err ExecuteFilter(void* refcon, A_long /*thread_index*/, A_long i, A_long /*iterations*/) {
    static_assert(std::is_base_of<IFilterWithRegion, T>::value, "filters implement IFilterWithRegion");
    try {
        const FilterRefcon* rc = static_cast<const FilterRefcon*>(refcon);
        // The band depends on i and the recorded count only; an index outside
        // 0..count-1 has no band.
        if (rc == nullptr || rc->thread_count < 1 || i < 0 || i >= rc->thread_count) {
            return PF_Err_NONE;
        }
        const std::int64_t n = rc->thread_count;
        const std::int64_t top = rc->region.top;
        const std::int64_t h = static_cast<std::int64_t>(rc->region.bottom) - top;
        const Rect band(rc->region.left, static_cast<A_long>(top + FilterBandOffset(i, h, n)), rc->region.right,
                        static_cast<A_long>(top + FilterBandOffset(i + 1, h, n)));
        rc->filter->execute(*rc->input, *rc->output, band);
        return PF_Err_NONE;
    } catch (PF_Err err) {
        return err;
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

// Runs a filter of type T, built from `parameter`, over `region` of the
// layers. An empty region returns 0 without touching the host. A missing suite
// throws the suite handler's error.
template <class T>
int FilterMulti(PF_InData* in_data, Layer& input, Layer& output, const Rect& region,
                const typename T::Parameter& parameter) {
    if (region.left >= region.right || region.top >= region.bottom) {
        return PF_Err_NONE;
    }
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    A_long threads = 0;
    const A_Err err = suites.IterateSuite1()->AEGP_GetNumThreads(&threads);
    if (err != PF_Err_NONE) {
        return err;
    }
    // A host reporting no worker thread still has the calling one: without
    // this the region would be cut into no bands and left unrendered.
    if (threads < 1) {
        threads = 1;
    }
    T filter(parameter);
    FilterRefcon refcon{in_data, &filter, &input, &output, region, threads};
    return suites.Iterate8Suite1()->iterate_generic(threads, &refcon, &ExecuteFilter<T>);
}

// The whole output layer.
template <class T>
int FilterMulti(PF_InData* in_data, Layer& input, Layer& output, const typename T::Parameter& parameter) {
    const Rect region = output.getSize();
    return FilterMulti<T>(in_data, input, output, region, parameter);
}

} // namespace Morvek

#endif
