// Scoped access to the host's suites: each suite is acquired from the broker
// on first use, cached, and released when the handler goes away. A missing
// broker or suite throws the bare host error PF_Err_BAD_CALLBACK_PARAM (516),
// which the entry point turns into its result.
#ifndef MORVEK_UTIL_AEGP_SUITEHANDLER_H
#define MORVEK_UTIL_AEGP_SUITEHANDLER_H

#include "HostAPI.h"

// One line per (accessor, suite table type, suite name, version). Adding a
// suite to the handler is adding a line here (and its table to HostAPI).
#define AEGP_SUITE_HANDLER_SUITES(X)                                                                                   \
    X(HandleSuite2, PF_HandleSuite2, kPFHandleSuite, kPFHandleSuiteVersion2)                                           \
    X(UtilitySuite7, AEGP_UtilitySuite7, kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7)                                 \
    X(IterateSuite1, AEGP_IterateSuite1, kAEGPIterateSuite, kAEGPIterateSuiteVersion1)                                 \
    X(Iterate8Suite1, PF_Iterate8Suite1, kPFIterate8Suite, kPFIterate8SuiteVersion1)                                   \
    X(WorldSuite1, PF_WorldSuite1, kPFWorldSuite, kPFWorldSuiteVersion1)                                               \
    X(WorldSuite2, PF_WorldSuite2, kPFWorldSuite, kPFWorldSuiteVersion2)                                               \
    X(FillMatteSuite2, PF_FillMatteSuite2, kPFFillMatteSuite, kPFFillMatteSuiteVersion2)                               \
    X(StreamSuite9, AEGP_StreamSuite9, kAEGPStreamSuite, kAEGPStreamSuiteVersion9)                                     \
    X(EffectSuite2, AEGP_EffectSuite2, kAEGPEffectSuite, kAEGPEffectSuiteVersion2)                                     \
    X(PFInterfaceSuite1, AEGP_PFInterfaceSuite1, kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1)

class AEGP_SuiteHandler {
public:
    // Throws PF_Err_BAD_CALLBACK_PARAM when pica_basicP is null.
    explicit AEGP_SuiteHandler(const SPBasicSuite* pica_basicP);
    // Releases every suite acquired through this handler.
    ~AEGP_SuiteHandler();

    AEGP_SuiteHandler(const AEGP_SuiteHandler&) = delete;
    AEGP_SuiteHandler& operator=(const AEGP_SuiteHandler&) = delete;

    // Typed accessors: the cached suite, acquired on first use. Never null:
    // a suite the broker refuses (error, or success with no table) throws.
    // `type` names a type, so it cannot be parenthesised.
    // NOLINTBEGIN(bugprone-macro-parentheses)
#define AEGP_SUITE_HANDLER_ACCESSOR(accessor, type, name, version)                                                     \
    type* accessor() const {                                                                                           \
        return static_cast<type*>(const_cast<void*>(Acquire(kSlot_##accessor)));                                       \
    }
    // NOLINTEND(bugprone-macro-parentheses)
    AEGP_SUITE_HANDLER_SUITES(AEGP_SUITE_HANDLER_ACCESSOR)
#undef AEGP_SUITE_HANDLER_ACCESSOR

    // Releases one suite through the broker and returns the broker's result.
    // When the suite is one the handler holds, its slot is cleared so that the
    // destructor does not release it a second time.
    SPErr ReleaseSuite(const char* name, A_long version);
    // Releases every cached suite once, in slot order, and clears the cache.
    void ReleaseAllSuites();

    // Throws PF_Err_BAD_CALLBACK_PARAM as a bare PF_Err. Never returns.
    [[noreturn]] void MissingSuiteError() const;

private:
    enum Slot {
#define AEGP_SUITE_HANDLER_SLOT(accessor, type, name, version) kSlot_##accessor,
        AEGP_SUITE_HANDLER_SUITES(AEGP_SUITE_HANDLER_SLOT)
#undef AEGP_SUITE_HANDLER_SLOT
            kSlotCount
    };

    const void* Acquire(Slot slot) const;

    const SPBasicSuite* i_pica_basicP;
    mutable const void* i_suites[kSlotCount];
};

#endif
