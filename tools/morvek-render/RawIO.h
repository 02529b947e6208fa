// Raw frames: headerless pixels in the host's layout, rows top to bottom with
// no padding, each pixel alpha, red, green, blue. Depth 8 is one byte per
// channel, 16 is little-endian uint16 with full = 32768, 32 is little-endian
// float32. Needs nothing but the standard library.
#ifndef MORVEK_RENDER_RAWIO_H
#define MORVEK_RENDER_RAWIO_H

#include "HostImage.h"

#include <cstddef>
#include <string>

namespace MorvekRender {

// True when the path ends in ".raw" (any letter case).
bool isRawPath(const std::string& path);

// Decodes `size` bytes; throws ImageError when the byte count does not match
// width x height at that depth.
HostImage decodeRaw(const unsigned char* bytes, std::size_t size, int width, int height, int depth);
std::vector<unsigned char> encodeRaw(const HostImage& image);

HostImage readRaw(const std::string& path, int width, int height, int depth);
// Written whole or not at all (see writeFileAtomically).
void writeRaw(const std::string& path, const HostImage& image);

// Writes `bytes` beside `path` under a temporary name, then renames it over
// `path`; on failure the temporary file is removed and `path` is untouched.
void writeFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes);

// Renames `from` over `to`, replacing an existing file in one step; false
// (with errno set where the platform does) on failure.
bool replaceFile(const std::string& from, const std::string& to);

// A temporary name in the same folder as `path`, keeping its extension so
// that format detection by name still works.
std::string temporarySibling(const std::string& path);

} // namespace MorvekRender

#endif
