// The suite handler's one way of failing: the bare host error code, thrown.
#include "AEGP_SuiteHandler.h"

void AEGP_SuiteHandler::MissingSuiteError() const {
    throw static_cast<PF_Err>(PF_Err_BAD_CALLBACK_PARAM);
}
