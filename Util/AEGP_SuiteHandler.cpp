// The suite handler's slot table, lazy acquisition and release.
#include "AEGP_SuiteHandler.h"

#include <cstring>

namespace {

struct SlotInfo {
    const char* name;
    A_long version;
};

constexpr SlotInfo kSlots[] = {
#define AEGP_SUITE_HANDLER_INFO(accessor, type, name, version) {name, version},
    AEGP_SUITE_HANDLER_SUITES(AEGP_SUITE_HANDLER_INFO)
#undef AEGP_SUITE_HANDLER_INFO
};

} // namespace

AEGP_SuiteHandler::AEGP_SuiteHandler(const SPBasicSuite* pica_basicP) : i_pica_basicP(pica_basicP), i_suites{} {
    if (!i_pica_basicP) {
        MissingSuiteError();
    }
}

AEGP_SuiteHandler::~AEGP_SuiteHandler() {
    ReleaseAllSuites();
}

const void* AEGP_SuiteHandler::Acquire(Slot slot) const {
    if (!i_suites[slot]) {
        const void* suite = nullptr;
        const SPErr err = i_pica_basicP->AcquireSuite(kSlots[slot].name, kSlots[slot].version, &suite);
        if (err != kSPNoError || !suite) {
            MissingSuiteError();
        }
        i_suites[slot] = suite;
    }
    return i_suites[slot];
}

SPErr AEGP_SuiteHandler::ReleaseSuite(const char* name, A_long version) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (i_suites[slot] && kSlots[slot].version == version && name && std::strcmp(kSlots[slot].name, name) == 0) {
            i_suites[slot] = nullptr;
        }
    }
    return i_pica_basicP->ReleaseSuite(name, version);
}

void AEGP_SuiteHandler::ReleaseAllSuites() {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (i_suites[slot]) {
            i_suites[slot] = nullptr;
            i_pica_basicP->ReleaseSuite(kSlots[slot].name, kSlots[slot].version);
        }
    }
}
