// SKF exports of devices: enumeration, connection, state, label,
// information, the device lock, raw commands, random numbers and the
// device-authentication stubs.
#include "DeviceLayer.h"
#include "ExportCall.h"
#include "KeptPins.h"
#include "Logger.h"
#include "SkfExports.h"
#include "DeviceLibrary.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr ULONG kListEntryRoom = devicelib::UK_NAME_LEN + 1;
constexpr std::size_t kMaxDevNameLen = kDevNameRoom - 1;

// A context for the named token, with its closing event; nullptr when
// either cannot be had.
DevCtx* NewDevice(const char* szName)
{
    auto* ctx = new (std::nothrow) DevCtx {};
    if (!ctx) return nullptr;
    std::strcpy(ctx->szDevName, szName);
    ctx->closing = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ctx->closing) return ctx;
    delete ctx;
    return nullptr;
}

void FreeDevice(DevCtx* ctx)
{
    ClearKeptPins(ctx->pins);
    CloseHandle(ctx->closing);
    delete ctx;
}

} // namespace

ULONG DEVAPI SKF_EnumDev(BOOL, LPSTR szNameList, ULONG* pulSize)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_POINTER_ARG(pulSize)})) return call.Refused();
    std::vector<TokenName> names;
    if (ULONG rc = DF_EnumDev(names)) return call.Fail(SAR_FAIL, "DF_EnumDev err[%#lx]", rc);
    const ULONG count = static_cast<ULONG>(names.size());
    const ULONG needed = count * kListEntryRoom + 2;
    if (!szNameList) {
        *pulSize = needed;
        return call.Done("%s end len...");
    }
    if (*pulSize < needed) return call.Fail(SAR_INDATALENERR, "data buffer too short");
    ULONG written = 0;
    for (ULONG i = 0; i < count; ++i) {
        std::size_t len = strnlen(names[i].data(), devicelib::UK_NAME_LEN - 1);
        std::memcpy(szNameList + written, names[i].data(), len);
        written += static_cast<ULONG>(len);
        szNameList[written++] = '\0';
    }
    szNameList[written++] = '\0';
    if (count == 0) szNameList[written++] = '\0';
    *pulSize = written;
    return call.Done();
}

ULONG DEVAPI SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_POINTER_ARG(phDev), SKF_POINTER_ARG(szName)})) return call.Refused();
    if (std::strlen(szName) > kMaxDevNameLen) return call.Fail(SAR_INVALIDPARAMERR, "szName len err");
    DevCtx* ctx = NewDevice(szName);
    if (!ctx) return call.Fail(SAR_MEMORYERR, "malloc err[%#lx]", GetLastError());
    if (ULONG rc = DF_OpenDev(ctx)) {
        FreeDevice(ctx);
        return call.Fail(SAR_FAIL, "DF_OpenDev err[%#lx]", rc);
    }
    ctx->hDev = RegisterHandle(ctx, HandleKind::Device);
    if (!ctx->hDev) {
        DF_CloseDev(ctx);
        FreeDevice(ctx);
        return call.Fail(SAR_MEMORYERR, "RegisterHandle err");
    }
    *phDev = ctx->hDev;
    return call.Done();
}

// Lock waits on the connection end first, as only another process might
// end them; the handle is then retired and the token closed once no other
// call uses it. A token that refuses to close keeps its handle, its kept
// PIN and its locks; once closed, the locks this thread took through it
// are released.
ULONG DEVAPI SKF_DisConnectDev(DEVHANDLE hDev)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev)})) return call.Refused();
    SetEvent(call.Device(hDev)->closing);
    auto* ctx = static_cast<DevCtx*>(call.Take(hDev, HandleKind::Device));
    if (!ctx) return call.Fail(SAR_INVALIDHANDLEERR, "Invalid Handle: hDev");
    if (ctx->pCtx) {
        if (ULONG rc = DF_CloseDev(ctx)) {
            ResetEvent(ctx->closing);
            ReviveHandle(hDev, HandleKind::Device, ctx);
            return call.Fail(SAR_FAIL, "DF_CloseDev err[%#lx]", rc);
        }
    }
    DF_ReleaseOwnLocks(ctx);
    FreeDevice(ctx);
    return call.Done();
}

// A handle value of this library is asked as a device handle, and
// refused when it is closed or of another kind. Anything else is the
// device name, as standard callers pass it: the named token is opened for
// the question only. Either way the device counts as present while it
// answers a random-number request.
ULONG DEVAPI SKF_GetDevState(LPSTR szDevName, ULONG* pulDevState)
{
    ExportCall call(__func__);
    DEVHANDLE hDev = szDevName;
    if (!call.Check({SKF_HANDLE_OUT_ARG(hDev), SKF_POINTER_ARG(pulDevState)})) return call.Refused();
    if (!IsHandleValue(hDev)) {
        if (strnlen(szDevName, devicelib::UK_NAME_LEN) == devicelib::UK_NAME_LEN)
            return call.Fail(SAR_INVALIDPARAMERR, "szDevName len err");
        *pulDevState = DF_GetNamedDevState(szDevName);
        return call.Done();
    }
    if (!call.Check({SKF_DEVICE_ARG(hDev)})) return call.Refused();
    DevCtx* ctx = call.Device(hDev);
    BYTE random[8];
    *pulDevState = DEV_ABSENT_STATE;
    if (!ctx->pCtx)
        LogMessage(LOG_ERROR, "GenRandom ERR[pDevCtx->pCtx]");
    else if (DF_GenRandom(ctx, random, sizeof random) == SAR_OK)
        *pulDevState = DEV_PRESENT_STATE;
    return call.Done();
}

ULONG DEVAPI SKF_SetLabel(DEVHANDLE hDev, LPSTR szLabel)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev), SKF_POINTER_ARG(szLabel)})) return call.Refused();
    if (ULONG rc = DF_SetDevLabel(call.Device(hDev), szLabel))
        return call.Fail(SAR_FAIL, "DF_SetDevLabel err[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev), SKF_POINTER_ARG(pDevInfo)})) return call.Refused();
    if (ULONG rc = DF_GetDevInfo(call.Device(hDev), pDevInfo))
        return call.Fail(SAR_FAIL, "DF_GetDevLabel ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_LockDev(DEVHANDLE hDev, ULONG ulTimeOut)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev)})) return call.Refused();
    if (ULONG rc = DF_WaitMutex(call.Device(hDev), ulTimeOut))
        return call.Fail(rc == SAR_INVALIDHANDLEERR ? rc : SAR_FAIL, "DF_WaitMutex ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_UnlockDev(DEVHANDLE hDev)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev)})) return call.Refused();
    if (ULONG rc = DF_ReleaseMutex(call.Device(hDev))) return call.Fail(SAR_FAIL, "DF_ReleaseMutex ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_Transmit(DEVHANDLE hDev, BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev)})) return call.Refused();
    if (ULONG rc = DF_Transmit(call.Device(hDev), pbCommand, ulCommandLen, pbData, pulDataLen))
        return call.Fail(SAR_FAIL, "DF_Transmit ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_GenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev)})) return call.Refused();
    DevCtx* ctx = call.Device(hDev);
    if (!ctx->pCtx) return call.Fail(SAR_FAIL, "GenRandom ERR[pDevCtx->pCtx]");
    if (ULONG rc = DF_GenRandom(ctx, pbRandom, ulRandomLen)) return call.Fail(SAR_FAIL, "DF_GenRandom ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_ChangeDevAuthKey(DEVHANDLE, BYTE*, ULONG)
{
    ExportCall call(__func__);
    return call.Done();
}

ULONG DEVAPI SKF_DevAuth(DEVHANDLE, BYTE*, ULONG)
{
    ExportCall call(__func__);
    return call.Done();
}
