// What --info prints: first the effect as an artist meets it in the host
// (name, category, the sliders in the user's units), then what a plug-in
// developer wants (property list, GlobalSetup's report, registration).
#ifndef MORVEK_RENDER_INFOTEXT_H
#define MORVEK_RENDER_INFOTEXT_H

namespace MorvekRender {

class EffectRunner;

// The factor the "Exposure" slider multiplies colour by: 1.37035095691681 to
// the power of the slider value, so +2.2 doubles and -2.2 halves.
double exposureGain(double exposure);

void printInfo(const EffectRunner& runner);

} // namespace MorvekRender

#endif
