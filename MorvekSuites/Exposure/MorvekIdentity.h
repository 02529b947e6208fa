// The effect's identity, stated once. GlobalSetup reports it to the host and
// the build-time generator writes the property list from it, so the two can
// never disagree.
#ifndef MORVEK_EXPOSURE_MORVEKIDENTITY_H
#define MORVEK_EXPOSURE_MORVEKIDENTITY_H

#include <cstdint>

namespace Morvek {
namespace Identity {

constexpr const char* kName = "MorvekExposure";      // display name
constexpr const char* kMatchName = "MorvekExposure"; // stable name the host matches projects by
constexpr const char* kCategory = "Morvek";          // effect menu group
constexpr const char* kEntryPoint = "EntryPointFunc";
constexpr const char* kRegistrationName = "Error!"; // name given to the host's AEGP registration

constexpr int kMajorVersion = 1;
constexpr int kMinorVersion = 0;
constexpr int kBugVersion = 0;
constexpr int kStageVersion = 3; // release
constexpr int kBuildVersion = 1;

// The host's packed version word: major in bits 19 and up, minor in 15-18,
// fix level in 11-14, stage in 9-10, build in 0-8.
constexpr uint32_t packVersion(int major, int minor, int bug, int stage, int build) {
    return (static_cast<uint32_t>(major) << 19) | ((static_cast<uint32_t>(minor) & 0xF) << 15) |
           ((static_cast<uint32_t>(bug) & 0xF) << 11) | ((static_cast<uint32_t>(stage) & 0x3) << 9) |
           (static_cast<uint32_t>(build) & 0x1FF);
}

constexpr uint32_t kVersionWord = packVersion(kMajorVersion, kMinorVersion, kBugVersion, kStageVersion, kBuildVersion);
static_assert(kVersionWord == 525825, "version word");

constexpr int32_t kOutFlags = 0x02000000;  // deep colour aware
constexpr int32_t kOutFlags2 = 0x00001400; // smart render, float colour aware

// Property-list constants that GlobalSetup does not report.
constexpr uint16_t kPropertyListVersionMajor = 2;
constexpr uint16_t kPropertyListVersionMinor = 0;
constexpr uint16_t kEffectApiVersionMajor = 13;
constexpr uint16_t kEffectApiVersionMinor = 0;
constexpr uint32_t kInfoFlags = 0;
constexpr uint32_t kReservedInfo = 8;

} // namespace Identity
} // namespace Morvek

#endif
