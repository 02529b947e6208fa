// Encodes the effect's property list, and the files that carry it, from the
// identity in MorvekIdentity.h. Used by the build-time generator only; the
// module itself never links this.
#ifndef MORVEK_PIPL_PIPLWRITER_H
#define MORVEK_PIPL_PIPLWRITER_H

#include "PiplFormat.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Morvek {
namespace Pipl {

using Bytes = std::vector<uint8_t>;

// The property list in the given form: header, then the properties in the
// host's order, each padded to a multiple of four bytes.
Bytes encodePropertyList(Form form);

// A data-fork resource file holding one resource: header, data, map, type
// list and reference list, all big-endian.
Bytes resourceFile(uint32_t type, uint16_t id, const Bytes& data);

// A resource script for windres that holds `windowsList` as resource type
// "PIPL", id 16000, US English. The list's length must be even.
std::string resourceScript(const Bytes& windowsList);

// The bundle's Info.plist and PkgInfo for macOS. `executable` is the file name
// of the module inside Contents/MacOS.
std::string infoPlist(const std::string& executable);
std::string pkgInfo();

} // namespace Pipl
} // namespace Morvek

#endif
