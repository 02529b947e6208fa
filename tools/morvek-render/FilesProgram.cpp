// morvek-render's hand-over to the program with the image libraries; see
// FilesProgram.h.
#include "FilesProgram.h"

#include "EffectRunner.h"
#include "RawIO.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace MorvekRender {

bool needsImageLibraries(const Options& o) {
    return o.linear || !o.curve.empty() || !isRawPath(o.input) || !isRawPath(o.output);
}

std::string becomeProgram(const std::string& name, char* const* argv) {
    const std::string path = besideThisProgram(name);
    execv(path.c_str(), argv);
    return "this command line needs '" + path + "', which cannot be run: " + std::strerror(errno);
}

} // namespace MorvekRender
