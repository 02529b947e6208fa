// Morvek::SourceInfo: what a smart render needs from the host's records. It
// checks out the input pixels and the output world, reads the depth from the
// input's pixel format, and answers sizes, origins, down-sampling and the
// host's worker-thread count. The first host error is kept and stops further
// host calls.
#ifndef MORVEK_MORVEKSOURCEINFO_H
#define MORVEK_MORVEKSOURCEINFO_H

#include "HostAPI.h"
#include "MorvekGeneral.h"

#include <memory>

namespace Morvek {

class SourceInfo {
public:
    SourceInfo(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

    int getError();
    // 0 = 8 bits, 1 = 16 bits, 2 = 32-bit float; -1 until a known pixel format is read.
    int getBPC();
    // The effect's layer size from the input record.
    int getWidth();
    int getHeight();
    double getDownSampleX();
    double getDownSampleY();
    // The host's worker-thread count, at least 1. Once an error is recorded no
    // host call is made and 1 is answered.
    int getThreadNum();

    PF_LayerDef* getInputWorld();
    PF_LayerDef* getOutputWorld();
    // Sizes and origins of worlds that were not checked out read as 0.
    int getInputWidth();
    int getInputHeight();
    int getOutputWidth();
    int getOutputHeight();
    Vector<double> getInputOrigin();
    Vector<double> getOutputOrigin();

    class Impl;

private:
    std::shared_ptr<Impl> impl;
};

} // namespace Morvek

#endif
