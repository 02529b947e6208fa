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

// True when the command line needs the image libraries: an image file to
// read or write (anything but .raw), --curve (a PNG), --working-space linear
// (the colour library) or --info (which reports what the build reads).
bool needsImageLibraries(const Options& o);

// Replaces this process by the program `name` in this program's folder, run
// with `argv`. Returns only when it cannot, with the reason.
std::string becomeProgram(const std::string& name, char* const* argv);

} // namespace MorvekRender

#endif
