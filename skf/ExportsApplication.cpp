// SKF exports of PINs and of the token's one fixed application, whose
// handle is the device handle.
#include "DeviceLayer.h"
#include "ExportCall.h"
#include "Logger.h"
#include "SkfExports.h"

#include <cstring>

namespace {

// The name and the list's closing NUL: 18 bytes.
constexpr char kAppList[] = "VESK-Application\0";
constexpr char kAppName[] = "VESK-Application";

} // namespace

ULONG DEVAPI SKF_ChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin,
                           ULONG* pulRetryCount)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    if (ULONG rc = DF_ChangePIN(call.Device(hApplication), ulPINType, szOldPin, szNewPin, pulRetryCount))
        return call.Fail(SAR_FAIL, "DF_ChangePIN ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_GetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount,
                            ULONG* pulRemainRetryCount, BOOL* pbDefaultPin)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    if (ULONG rc =
            DF_GetPINInfo(call.Device(hApplication), ulPINType, pulMaxRetryCount, pulRemainRetryCount, pbDefaultPin))
        return call.Fail(SAR_FAIL, "DF_GetPINInfo ERR[%#lx]", rc);
    return call.Done();
}

// Every failure is a wrong PIN to the caller, an unreachable token too.
ULONG DEVAPI SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG* pulRetryCount)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication), SKF_POINTER_ARG(pulRetryCount)})) return call.Refused();
    if (ULONG rc = DF_VerifyPIN(call.Device(hApplication), ulPINType, szPIN, pulRetryCount))
        return call.Fail(SAR_PIN_INCORRECT, "DF_VerifyPIN ERR[%#lx][pulRetryCount:%#lx]", rc, *pulRetryCount);
    return call.Done();
}

ULONG DEVAPI SKF_UnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN, ULONG* pulRetryCount)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    if (ULONG rc = DF_UnblockPIN(call.Device(hApplication), szAdminPIN, szNewUserPIN, pulRetryCount))
        return call.Fail(SAR_FAIL, "DF_UnblockPIN ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_ClearSecureState(HAPPLICATION hApplication)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    if (ULONG rc = DF_ClearSecureState(call.Device(hApplication)))
        return call.Fail(SAR_FAIL, "DF_ClearSecureState ERR[%#lx]", rc);
    return call.Done();
}

// Nothing is created on the token: the one application stands for any
// name, and its handle is the device handle.
ULONG DEVAPI SKF_CreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR, DWORD, LPSTR, DWORD, DWORD,
                                   HAPPLICATION* phApplication)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev), SKF_POINTER_ARG(szAppName), SKF_HANDLE_OUT_ARG(phApplication)}))
        return call.Refused();
    *phApplication = hDev;
    return call.Done();
}

ULONG DEVAPI SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev), SKF_POINTER_ARG(pulSize)})) return call.Refused();
    if (!szAppName) {
        *pulSize = sizeof kAppList;
        return call.Done("%s end len...");
    }
    if (*pulSize < sizeof kAppList) return call.Fail(SAR_INDATALENERR, "Data len too short...");
    std::memcpy(szAppName, kAppList, sizeof kAppList);
    *pulSize = sizeof kAppList;
    return call.Done("%s end ok...");
}

ULONG DEVAPI SKF_DeleteApplication(DEVHANDLE hDev, LPSTR)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev)})) return call.Refused();
    return call.Done();
}

ULONG DEVAPI SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev), SKF_POINTER_ARG(szAppName), SKF_HANDLE_OUT_ARG(phApplication)}))
        return call.Refused();
    LogMessage(LOG_DEBUG, "szAppName:[%s]", szAppName);
    if (_stricmp(szAppName, kAppName) != 0) return call.Fail(SAR_INVALIDPARAMERR, "AppName Err");
    *phApplication = hDev;
    return call.Done();
}

ULONG DEVAPI SKF_CloseApplication(HAPPLICATION)
{
    ExportCall call(__func__);
    return call.Done();
}
