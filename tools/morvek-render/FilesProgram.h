// Where the image libraries are present, morvek-render is two programs built
// from the same sources: morvek-render links none of them, so it starts in a
// few milliseconds and renders raw frames itself; morvek-render-files, built
// and installed beside it, links them and does everything. morvek-render
// becomes morvek-render-files (the same process, arguments, environment and
// standard streams) as soon as its command line needs what only that one has.
#ifndef MORVEK_RENDER_FILESPROGRAM_H
#define MORVEK_RENDER_FILESPROGRAM_H

#include "Options.h"

#include <string>

namespace MorvekRender {

// True when the command line needs the image libraries: --curve (a PNG),
// --working-space linear (the colour library), or anything but a .raw frame
// to read or write. --info and --curve alone, with no frame, count as that:
// --info reports what the build reads.
bool needsImageLibraries(const Options& o);

// Replaces this process by the program `name` in this program's folder, run
// with `argv`. Returns only when it cannot, with the reason.
std::string becomeProgram(const std::string& name, char* const* argv);

} // namespace MorvekRender

#endif
