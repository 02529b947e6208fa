// Codes and constants of the effect's property list, shared by the build-time
// generator that writes it and the reader that parses it.
#ifndef MORVEK_PIPL_PIPLFORMAT_H
#define MORVEK_PIPL_PIPLFORMAT_H

#include <cstdint>

namespace Morvek {
namespace Pipl {

// A four-character code as the host packs it: first character in the top byte.
constexpr uint32_t fourCC(const char (&code)[5]) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(code[3]));
}

// The two forms of the list. Windows: little-endian, led by a format word,
// one code entry ('8664'). macOS: big-endian, no format word, one code entry
// per architecture ('mi64', 'ma64').
enum class Form { Windows, MacOS };

// Where the list lives: a resource of this type and id (Windows: type "PIPL",
// language US English; macOS: type 'PiPL' in the bundle's resource file).
constexpr uint16_t kResourceId = 16000;
constexpr uint16_t kWindowsLanguage = 1033;
constexpr const char* kWindowsResourceType = "PIPL";
constexpr uint32_t kMacResourceType = fourCC("PiPL");

// Header: the Windows form starts with a format word the macOS form lacks.
constexpr uint16_t kWindowsFormatWord = 1;
constexpr uint32_t kListVersion = 0;

constexpr uint32_t kVendor = fourCC("8BIM");
constexpr uint32_t kPropertyId = 0;
constexpr uint32_t kPropertyHeaderSize = 16; // vendor, key, id, length

// Property keys.
constexpr uint32_t kKind = fourCC("kind");
constexpr uint32_t kName = fourCC("name");
constexpr uint32_t kCategory = fourCC("catg");
constexpr uint32_t kCodeWindows64 = fourCC("8664");
constexpr uint32_t kCodeMacIntel64 = fourCC("mi64");
constexpr uint32_t kCodeMacArm64 = fourCC("ma64");
constexpr uint32_t kListVersionKey = fourCC("ePVR");
constexpr uint32_t kApiVersionKey = fourCC("eSVR");
constexpr uint32_t kVersionKey = fourCC("eVER");
constexpr uint32_t kInfoFlagsKey = fourCC("eINF");
constexpr uint32_t kOutFlagsKey = fourCC("eGLO");
constexpr uint32_t kOutFlags2Key = fourCC("eGL2");
constexpr uint32_t kMatchNameKey = fourCC("eMNA");
constexpr uint32_t kReservedInfoKey = fourCC("aeFL");

// The kind of module: an effect. Also the bundle's package type on macOS.
constexpr uint32_t kEffectKind = fourCC("eFKT");
// The macOS bundle's creator signature.
constexpr uint32_t kBundleSignature = fourCC("FXTC");

} // namespace Pipl
} // namespace Morvek

#endif
