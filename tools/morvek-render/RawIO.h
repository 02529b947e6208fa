// Raw frames: headerless pixels in the host's layout, rows top to bottom with
// no padding, each pixel alpha, red, green, blue. Depth 8 is one byte per
// channel, 16 is little-endian uint16 with full = 32768, 32 is little-endian
// float32. Needs nothing but the standard library.
#ifndef MORVEK_RENDER_RAWIO_H
#define MORVEK_RENDER_RAWIO_H

#include "HostImage.h"
#include "OutputFile.h"

#include <cstddef>
#include <string>
#include <vector>

namespace MorvekRender {

// True when the path ends in ".raw" (any letter case).
bool isRawPath(const std::string& path);

// Decodes `size` bytes; throws ImageError when the byte count does not match
// width x height at that depth.
HostImage decodeRaw(const unsigned char* bytes, std::size_t size, int width, int height, int depth);
std::vector<unsigned char> encodeRaw(const HostImage& image);

HostImage readRaw(const std::string& path, int width, int height, int depth);
// Reads the frame's rows (its size and depth) from the file.
void readRaw(const std::string& path, const FrameRows& frame);
// Written whole or not at all (see OutputFile.h).
void writeRaw(const std::string& path, const HostImage& image);
// Appends the frame's bytes to `file`, a block at a time; the caller commits.
void writeRaw(OutputFile& file, const FrameRows& frame);
void writeRaw(OutputFile& file, const HostImage& image);

} // namespace MorvekRender

#endif
