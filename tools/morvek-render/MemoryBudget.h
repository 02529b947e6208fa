// The memory a render may take. Every frame's size is checked against the
// budget before anything is allocated for it, so that a damaged or hostile
// header costs a line, not the machine's memory.
#ifndef MORVEK_RENDER_MEMORYBUDGET_H
#define MORVEK_RENDER_MEMORYBUDGET_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace MorvekRender {

// Half of the memory this process can have: the machine's physical memory,
// or the lower limit of its control group on Linux; 2 GiB when neither is
// known.
std::uint64_t defaultMemoryLimit();

// Bytes held while one image of that size renders at `depth`: the host's
// input world (the file is read into it) and output world (the file is
// written from it), the channels passed through (`passThroughBytes` per
// pixel) and the blocks of rows in flight while reading and writing.
double renderMemory(int width, int height, int depth, std::size_t passThroughBytes);

// "1.5 GiB", "640 MiB".
std::string sizeText(double bytes);

} // namespace MorvekRender

#endif
