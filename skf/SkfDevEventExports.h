// The SKF device-event exports of KeltoSKF, as callers declare them.
#pragma once

#include "SkfDefs.h"

extern "C" {

ULONG DEVAPI SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent);
ULONG DEVAPI SKF_CancelWaitForDevEvent();

} // extern "C"
