// The library's filter interfaces: a filter turns an input layer into an
// output layer, as a whole or over a rectangle of it. The threaded driver
// (MorvekFilterMulti.h) runs the rectangle form on bands of rows.
#ifndef MORVEK_FILTER_MORVEKFILTER_H
#define MORVEK_FILTER_MORVEKFILTER_H

#include "MorvekGeneral.h"
#include "MorvekLayer.h"

namespace Morvek {

class IFilter {
public:
    virtual void execute(Layer& in, Layer& out) = 0;
    virtual ~IFilter() = default;

protected:
    IFilter() = default;
    IFilter(const IFilter&) = default;
    IFilter& operator=(const IFilter&) = default;
};

// The region form must be safe to run on one instance from several threads at
// once, as long as the regions do not overlap.
class IFilterWithRegion : IFilter {
public:
    using IFilter::execute;
    virtual void execute(Layer& in, Layer& out, const Rect& region) = 0;

protected:
    IFilterWithRegion() = default;
    IFilterWithRegion(const IFilterWithRegion&) = default;
    IFilterWithRegion& operator=(const IFilterWithRegion&) = default;
};

} // namespace Morvek

#endif
