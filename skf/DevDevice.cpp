// Device-layer functions of the token itself: enumeration, connection,
// label, serial number, information, the device lock, raw commands and
// random numbers.
#include "DeviceLayer.h"
#include "Logger.h"
#include "DeviceLibrary.h"
#include "TokenMutex.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr ULONG kSerialResponseRoom = 128;
constexpr ULONG kLabelReadRoom = 64;

// A response frame: two length bytes, the data, the status word.
ULONG FrameDataLength(ULONG responseLen, ULONG room, ULONG& dataLen)
{
    if (responseLen < devicelib::UK_APDU_FRAME || responseLen > room) {
        LogMessage(LOG_ERROR, "response len err[%lu]", responseLen);
        return SAR_INDATALENERR;
    }
    dataLen = responseLen - devicelib::UK_APDU_FRAME;
    return SAR_OK;
}

// Copies text into a fixed field, terminated when there is room for it.
void CopyField(char* field, ULONG room, const void* text, ULONG len)
{
    ULONG n = std::min(len, room);
    std::memcpy(field, text, n);
    if (n < room) field[n] = '\0';
}

ULONG OpenDeviceMutex(const DevCtx* pDevCtx, HANDLE& mutex)
{
    mutex = devicelib::OpenTokenMutex(pDevCtx->szDevName);
    if (mutex) return SAR_OK;
    ULONG error = GetLastError();
    LogMessage(LOG_ERROR, "OpenMutex ERR[%#lx]", error);
    return error;
}

// A lock the calling thread took through the context; false when it
// cannot be counted.
bool CountLock(HeldLocks& locks)
{
    std::lock_guard<std::mutex> guard(locks.lock);
    try {
        ++locks.counts[GetCurrentThreadId()];
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void UncountLock(HeldLocks& locks)
{
    std::lock_guard<std::mutex> guard(locks.lock);
    auto it = locks.counts.find(GetCurrentThreadId());
    if (it != locks.counts.end() && --it->second == 0) locks.counts.erase(it);
}

// The SAR answer to a wait for the token: the caller's lock or the
// library's own holds.
ULONG WaitStatus(devicelib::TokenWait wait)
{
    switch (wait) {
    case devicelib::TokenWait::Cancelled:
        LogMessage(LOG_ERROR, "device disconnected");
        return SAR_INVALIDHANDLEERR;
    case devicelib::TokenWait::TimedOut:
        return WAIT_TIMEOUT;
    case devicelib::TokenWait::Failed:
        return GetLastError() ? GetLastError() : WAIT_FAILED;
    case devicelib::TokenWait::Taken:
        break;
    }
    return SAR_OK;
}

} // namespace

ULONG CheckDeviceContext(const DevCtx* pDevCtx, const char* file, int line)
{
    const char* missing = !pDevCtx ? "pDevCtx"
        : !pDevCtx->pCtx           ? "pDevCtx->pCtx"
        : !g_FuncList              ? "g_FuncList"
                                   : nullptr;
    if (!missing) return SAR_OK;
    LogNullPointer(file, line, missing);
    return DF_ERR_NULL_POINTER;
}

ULONG SendTokenCommand(DevCtx* pDevCtx, const BYTE* command, ULONG commandLen, BYTE* response, ULONG* responseLen)
{
    std::uint32_t len = *responseLen;
    ULONG rc = g_FuncList->SendAPDUCmd(pDevCtx->pCtx, command, commandLen, response, &len);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "SendAPDUCmd err[%#lx]", rc);
        return rc;
    }
    *responseLen = len;
    return SAR_OK;
}

ULONG DF_EnumDev(std::vector<TokenName>& names)
{
    if (!g_FuncList) return DF_NULL("g_FuncList", DF_ERR_NULL_POINTER);
    return ListTokenRecords(
        [](std::uint8_t* out, std::uint32_t* count) {
            return g_FuncList->EnumToken(reinterpret_cast<char*>(out), count);
        },
        kTokenRoom, names);
}

ULONG DF_OpenDev(DevCtx* pDevCtx)
{
    if (!g_FuncList) return DF_NULL("g_FuncList", DF_ERR_NULL_POINTER);
    return g_FuncList->OpenToken(pDevCtx->szDevName, &pDevCtx->pCtx);
}

ULONG DF_CloseDev(DevCtx* pDevCtx)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    return g_FuncList->CloseToken(pDevCtx->pCtx);
}

ULONG DF_SetDevLabel(DevCtx* pDevCtx, const char* szLabel)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (!szLabel) return DF_NULL("szLabel", SAR_INVALIDPARAMERR);
    std::size_t len = std::strlen(szLabel);
    if (len > kMaxLabelLen) {
        LogMessage(LOG_ERROR, "len err");
        return SAR_NAMELENERR;
    }
    return g_FuncList->SetDevLabel(pDevCtx->pCtx, szLabel, static_cast<std::uint32_t>(len));
}

// The token may answer up to 64 bytes; the caller's field gets at most room.
ULONG DF_GetDevLabel(DevCtx* pDevCtx, char* szLabel, ULONG room)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (!szLabel) return DF_NULL("szLabel", SAR_INVALIDPARAMERR);
    char label[kLabelReadRoom + 1] = {};
    std::uint32_t len = kLabelReadRoom;
    ULONG rc = g_FuncList->GetDevLabel(pDevCtx->pCtx, label, &len);
    if (rc != devicelib::UK_OK) return rc;
    CopyField(szLabel, room, label, static_cast<ULONG>(strnlen(label, kLabelReadRoom)));
    return SAR_OK;
}

ULONG DF_GetSN(DevCtx* pDevCtx, char* szSN, ULONG room)
{
    static const BYTE command[] = {0xB0, 0x61, 0x00, 0x00, 0x3F};
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (!szSN) return DF_NULL("szSN", SAR_INVALIDPARAMERR);
    BYTE response[kSerialResponseRoom] = {};
    ULONG len = sizeof response;
    if (ULONG rc = SendTokenCommand(pDevCtx, command, sizeof command, response, &len)) return rc;
    ULONG dataLen = 0;
    if (ULONG rc = FrameDataLength(len, sizeof response, dataLen)) return rc;
    CopyField(szSN, room, response + 2, dataLen);
    return SAR_OK;
}

ULONG DF_GetDevInfo(DevCtx* pDevCtx, DEVINFO* pDevInfo)
{
    static const char kMaker[] = "VESK UKey";
    pDevInfo->Version = {1, 0};
    std::memcpy(pDevInfo->Manufacturer, kMaker, sizeof kMaker);
    std::memcpy(pDevInfo->Issuer, kMaker, sizeof kMaker);
    if (ULONG rc = DF_GetDevLabel(pDevCtx, pDevInfo->Label, sizeof pDevInfo->Label)) return rc;
    if (ULONG rc = DF_GetSN(pDevCtx, pDevInfo->SerialNumber, sizeof pDevInfo->SerialNumber)) return rc;
    pDevInfo->HWVersion = {1, 0};
    pDevInfo->FirmwareVersion = {1, 0};
    pDevInfo->AlgSymCap = 0x00000101;
    pDevInfo->AlgAsymCap = 0x00020100;
    pDevInfo->AlgHashCap = 0x00000001;
    pDevInfo->DevAuthAlgId = 0x00000101;
    pDevInfo->TotalSpace = 0x00030000;
    pDevInfo->FreeSpace = 0x00007800;
    pDevInfo->MaxBufferSize = 0x40000000;
    return SAR_OK;
}

// The vendor library creates the named mutex when it opens the token; the
// lock is shared by every process connected to the same token. Ownership
// belongs to the thread, so the handle is closed once the wait is over.
// A disconnect of the context ends the wait with SAR_INVALIDHANDLEERR; it
// comes first, so a lock is not taken on a connection going away.
ULONG DF_WaitMutex(DevCtx* pDevCtx, ULONG ulTimeOut)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    HANDLE mutex = nullptr;
    if (ULONG rc = OpenDeviceMutex(pDevCtx, mutex)) return rc;
    ULONG rc = WaitStatus(devicelib::WaitTokenMutex(mutex, pDevCtx->closing, ulTimeOut));
    // A lock that cannot be counted could outlive the connection: it is
    // given back.
    if (rc == SAR_OK && !CountLock(pDevCtx->locks)) {
        LogMessage(LOG_ERROR, "lock count err");
        ReleaseMutex(mutex);
        rc = ERROR_NOT_ENOUGH_MEMORY;
    }
    CloseHandle(mutex);
    return rc;
}

ULONG DF_ReleaseMutex(DevCtx* pDevCtx)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    HANDLE mutex = nullptr;
    if (ULONG rc = OpenDeviceMutex(pDevCtx, mutex)) return rc;
    ULONG rc = ReleaseMutex(mutex) ? SAR_OK : GetLastError();
    if (rc == SAR_OK) UncountLock(pDevCtx->locks);
    CloseHandle(mutex);
    return rc;
}

ULONG HoldToken(TokenHold& hold, DevCtx* pDevCtx)
{
    ULONG rc = WaitStatus(hold.Take(pDevCtx->szDevName, pDevCtx->closing));
    if (rc != SAR_OK) LogMessage(LOG_ERROR, "hold token ERR[%#lx]", rc);
    return rc;
}

// Once the connection is gone no handle could unlock them, and every other
// connection would wait until the thread ends.
void DF_ReleaseOwnLocks(DevCtx* pDevCtx)
{
    ULONG count = 0;
    {
        std::lock_guard<std::mutex> guard(pDevCtx->locks.lock);
        auto it = pDevCtx->locks.counts.find(GetCurrentThreadId());
        if (it == pDevCtx->locks.counts.end()) return;
        count = it->second;
        pDevCtx->locks.counts.erase(it);
    }
    HANDLE mutex = nullptr;
    if (OpenDeviceMutex(pDevCtx, mutex)) return;
    for (; count; --count) {
        if (!ReleaseMutex(mutex)) {
            LogMessage(LOG_ERROR, "ReleaseMutex ERR[%#lx]", GetLastError());
            break;
        }
    }
    CloseHandle(mutex);
}

// The response less its length bytes and status word goes to pbData,
// which holds *pulDataLen bytes.
ULONG DF_Transmit(DevCtx* pDevCtx, const BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (!pbCommand) return DF_NULL("pbCommand", DF_ERR_NULL_POINTER);
    if (!pbData) return DF_NULL("pbData", DF_ERR_NULL_POINTER);
    if (!pulDataLen) return DF_NULL("pulDataLen", DF_ERR_NULL_POINTER);
    BYTE response[kTransmitResponseRoom] = {};
    ULONG len = sizeof response;
    if (ULONG rc = SendTokenCommand(pDevCtx, pbCommand, ulCommandLen, response, &len)) return rc;
    ULONG dataLen = 0;
    if (ULONG rc = FrameDataLength(len, sizeof response, dataLen)) return rc;
    if (dataLen > *pulDataLen) {
        LogMessage(LOG_ERROR, "data buffer too short[%lu][%lu]", *pulDataLen, dataLen);
        *pulDataLen = dataLen;
        return SAR_BUFFER_TOO_SMALL;
    }
    std::memcpy(pbData, response + 2, dataLen);
    *pulDataLen = dataLen;
    return SAR_OK;
}

ULONG DF_GenRandom(DevCtx* pDevCtx, BYTE* pbRandom, ULONG ulRandomLen)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (!pbRandom) {
        LogMessage(LOG_ERROR, "GenRandom ERR[pbRandom]");
        return DF_ERR_RANDOM_REQUEST;
    }
    if (ulRandomLen == 0 || ulRandomLen > kMaxRandomLen) {
        LogMessage(LOG_ERROR, "GenRandom ERR[ulRandomLen] [%d]", static_cast<int>(ulRandomLen));
        return DF_ERR_RANDOM_REQUEST;
    }
    ULONG rc = g_FuncList->GenRandom(pDevCtx->pCtx, pbRandom, ulRandomLen);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "GenRandom ERR[%#lx]", rc);
        return rc;
    }
    // Callers make keys from these bytes: only their count is logged.
    LogMessage(LOG_DEBUG, "pbRandom[%lu]:", ulRandomLen);
    return SAR_OK;
}

ULONG DF_GetNamedDevState(const char* szDevName)
{
    DevCtx probe {};
    strncpy_s(probe.szDevName, szDevName, _TRUNCATE);
    if (DF_OpenDev(&probe) != devicelib::UK_OK) return DEV_ABSENT_STATE;
    BYTE random[8];
    ULONG state = DF_GenRandom(&probe, random, sizeof random) == SAR_OK ? DEV_PRESENT_STATE : DEV_ABSENT_STATE;
    DF_CloseDev(&probe);
    return state;
}
