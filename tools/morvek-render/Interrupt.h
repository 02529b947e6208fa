// SIGINT, SIGTERM and SIGHUP while morvek-render works: the temporary files
// of writes in progress are removed, every target is left as it was (or
// replaced whole, if its rename was under way), one line says what was
// interrupted, and the program exits with 128 + the signal's number. A signal
// that the program was started with ignored (nohup) stays ignored.
#ifndef MORVEK_RENDER_INTERRUPT_H
#define MORVEK_RENDER_INTERRUPT_H

#include <string>

namespace MorvekRender {

// Call first thing in main, before any thread starts: the signals are taken
// by a thread of their own, so every other thread must have them blocked.
void installInterruptHandling();

// What the program is doing, for the line an interruption prints after
// "interrupted by SIGTERM ", e.g. "while rendering frame 12; ...".
void setActivity(const std::string& text);

// True while a progress line stands unfinished on the terminal; the line an
// interruption prints then starts on a line of its own.
void setProgressLineOpen(bool open);

} // namespace MorvekRender

#endif
