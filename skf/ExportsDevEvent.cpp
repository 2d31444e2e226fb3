// SKF exports of token arrival and removal, over the device-event monitor.
#include "DevMonitor.h"
#include "ExportCall.h"
#include "SkfDevEventExports.h"

// The name's room is read from *pulDevNameLen, so all three are required.
ULONG DEVAPI SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_POINTER_ARG(szDevName), SKF_POINTER_ARG(pulDevNameLen), SKF_POINTER_ARG(pulEvent)}))
        return call.Refused();
    if (ULONG rc = Dev_WaitForEvent(szDevName, pulDevNameLen, pulEvent))
        return call.Fail(rc == SAR_BUFFER_TOO_SMALL ? rc : SAR_FAIL, "Dev_WaitForEvent err[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_CancelWaitForDevEvent()
{
    ExportCall call(__func__);
    StopDevMonitor();
    return call.Done();
}
