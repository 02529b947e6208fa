// Reads the effect's property list: the checks a host makes before it loads a
// module. The command-line host uses it to find the entry point's name, and
// tests use it to look at what the build wrote.
#ifndef MORVEK_PIPL_PIPLREADER_H
#define MORVEK_PIPL_PIPLREADER_H

#include "PiplFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Morvek {
namespace Pipl {

struct PropertyList {
    uint32_t listVersion = 0;
    uint32_t count = 0; // properties walked, known or not

    uint32_t kind = 0; // 'eFKT' for an effect
    std::string name;
    std::string category;
    std::string matchName;
    // Code entries in the order found: key ('8664', 'mi64', 'ma64') and the
    // function's name.
    std::vector<std::pair<uint32_t, std::string>> codeEntries;
    // The name of the entry point this form's host calls: the '8664' entry
    // (Windows) or the 'ma64'/'mi64' entry (macOS; the two must agree).
    std::string entryPoint;

    uint16_t listVersionMajor = 0, listVersionMinor = 0; // ePVR
    uint16_t apiVersionMajor = 0, apiVersionMinor = 0;   // eSVR
    uint32_t version = 0;                                // eVER, the packed version word
    uint32_t infoFlags = 0;                              // eINF
    uint32_t outFlags = 0;                               // eGLO
    uint32_t outFlags2 = 0;                              // eGL2
    uint32_t reservedInfo = 0;                           // aeFL
};

// Parses a whole property list in the given form. The walk must end exactly at
// `size`; the kind, name, code entry, version and both flag words must be
// present, and no known property may appear twice. Properties of other keys
// or vendors are stepped over. On failure returns false with the reason in
// *error (when error is not null); `out` is then unspecified.
bool parsePropertyList(const uint8_t* data, size_t size, Form form, PropertyList& out, std::string* error = nullptr);

// Reads and parses a property-list file, such as MorvekExposure.pipl (Windows
// form) beside the Linux module.
bool readPropertyListFile(const std::string& path, Form form, PropertyList& out, std::string* error = nullptr);

// Where this platform's host finds a module's property list: on Windows the
// module's own resource "PIPL" 16000, read through the resource API without
// running the module; elsewhere the Windows-form file beside the module,
// named like it with the extension ".pipl" (MorvekExposure.so ->
// MorvekExposure.pipl). The location is for messages.
std::string modulePropertyListLocation(const std::string& modulePath);
bool readModulePropertyList(const std::string& modulePath, PropertyList& out, std::string* error = nullptr);

// "eFKT" for fourCC("eFKT"); non-printable characters as '?'.
std::string codeToString(uint32_t code);

} // namespace Pipl
} // namespace Morvek

#endif
