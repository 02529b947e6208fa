// Morvek::Parameter: reads and writes the effect's own parameters at any time
// of the layer through the host's AEGP stream interface. Values come back as
// the host holds them (after expressions, in the stream's own units); a write
// replaces the stream's value. Copies share one implementation; the last copy
// gives the effect reference back to the host. The first host error is kept
// and stops every later host call.
#ifndef MORVEK_MORVEKPARAMETER_H
#define MORVEK_MORVEKPARAMETER_H

#include "HostAPI.h"
#include "MorvekGeneral.h"

#include <memory>

namespace Morvek {

class Parameter {
public:
    // Obtains the AEGP reference of the effect that `inData` belongs to. A
    // host that cannot supply "AEGP PF Interface Suite" 1 or "AEGP Effect
    // Suite" 2 makes this throw PF_Err_BAD_CALLBACK_PARAM, holding nothing.
    Parameter(int pluginId, PF_InData* inData);

    // Parameter `index` (the host's parameter index) at `time` in layer time.
    // On any host error the variable is left as it was. A host that cannot
    // supply "AEGP Stream Suite" 9 makes these throw PF_Err_BAD_CALLBACK_PARAM.
    void getParameter(double& value, int index, A_Time time);
    void getParameter(Vector<double>& value, int index, A_Time time);
    void getParameter(Vector3d<double>& value, int index, A_Time time);
    // Channels narrowed to single precision.
    void getParameter(ColorFloat<float>& value, int index, A_Time time);

    // Replaces the matching member of the stream's value record at `time`
    // and hands the host the record, the rest as the host returned it.
    void setParameter(const double& value, int index, A_Time time);
    void setParameter(const Vector<double>& value, int index, A_Time time);
    void setParameter(const Vector3d<double>& value, int index, A_Time time);
    // Channels widened to double.
    void setParameter(const ColorFloat<float>& value, int index, A_Time time);

    // The first host error met by this object or any copy (0 when none).
    int getError() const;

    class Impl;

private:
    std::shared_ptr<Impl> impl;
};

} // namespace Morvek

#endif
