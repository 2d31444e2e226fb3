// The device layer: every token operation of the exports, reached through
// the vendor table and the token's own commands. Results are the vendor's
// status words, the library's SAR codes or the two inner codes below.
#pragma once

#include "Handles.h"
#include "SkfDefs.h"
#include "TokenMutex.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

constexpr ULONG DF_ERR_NULL_POINTER = 0x1000000B;
constexpr ULONG DF_ERR_RANDOM_REQUEST = 0x10000001;

constexpr std::uint32_t kTokenRoom = 16;     // names asked for at first
constexpr std::uint32_t kContainerRoom = 16; // records asked for at first
// The most records a listing asks for: container numbers are one byte, 0
// naming none; files and token names keep the same bound.
constexpr std::uint32_t kMaxListedRecords = 255;
constexpr ULONG kMaxLabelLen = 32;
constexpr ULONG kMaxContainerNameLen = 128;
constexpr ULONG kMaxRandomLen = 512;
constexpr ULONG kTransmitResponseRoom = 1024;

using devicelib::TokenHold;
using TokenName = std::array<char, devicelib::UK_NAME_LEN>;

// Devices
ULONG DF_EnumDev(std::vector<TokenName>& names);
ULONG DF_OpenDev(DevCtx* pDevCtx);
ULONG DF_CloseDev(DevCtx* pDevCtx);
ULONG DF_SetDevLabel(DevCtx* pDevCtx, const char* szLabel);
ULONG DF_GetDevLabel(DevCtx* pDevCtx, char* szLabel, ULONG room);
ULONG DF_GetSN(DevCtx* pDevCtx, char* szSN, ULONG room);
ULONG DF_GetDevInfo(DevCtx* pDevCtx, DEVINFO* pDevInfo);
// SAR_INVALIDHANDLEERR when the context is disconnected during the wait.
ULONG DF_WaitMutex(DevCtx* pDevCtx, ULONG ulTimeOut);
ULONG DF_ReleaseMutex(DevCtx* pDevCtx);
// Releases the locks the calling thread took through the context and still
// holds, for a disconnect; other threads' locks are theirs to release.
void DF_ReleaseOwnLocks(DevCtx* pDevCtx);
// Takes the token for a change made of several calls (devicelib::TokenHold):
// SAR_OK, or the reason logged and returned; a disconnect of the context
// ends the wait with SAR_INVALIDHANDLEERR.
ULONG HoldToken(TokenHold& hold, DevCtx* pDevCtx);
ULONG DF_Transmit(DevCtx* pDevCtx, const BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen);
ULONG DF_GenRandom(DevCtx* pDevCtx, BYTE* pbRandom, ULONG ulRandomLen);
// The state of a token by its name: present while it opens and answers a
// random-number request.
ULONG DF_GetNamedDevState(const char* szDevName);

// PINs
ULONG DF_ChangePIN(DevCtx* pDevCtx, ULONG ulPINType, const char* szOldPin, const char* szNewPin, ULONG* pulRetryCount);
ULONG DF_GetPINInfo(DevCtx* pDevCtx, ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                    BOOL* pbDefaultPin);
ULONG DF_VerifyPIN(DevCtx* pDevCtx, ULONG ulPINType, const char* szPIN, ULONG* pulRetryCount);
ULONG DF_UnblockPIN(DevCtx* pDevCtx, const char* szAdminPIN, const char* szNewUserPIN, ULONG* pulRetryCount);
ULONG DF_ClearSecureState(DevCtx* pDevCtx);

// Containers and certificates
ULONG DF_CreateContainer(DevCtx* pDevCtx, const char* szContainerName, ConCtx** ppConCtx);
ULONG DF_DeleteContainer(DevCtx* pDevCtx, const char* szContainerName);
ULONG DF_OpenContainer(DevCtx* pDevCtx, const char* szContainerName, ConCtx** ppConCtx);
void DF_CloseContainer(ConCtx* pConCtx);
ULONG DF_EnumContainer(DevCtx* pDevCtx, char* szContainerName, ULONG* pulSize);
ULONG DF_ImportCert(ConCtx* pConCtx, BOOL bSignFlag, const BYTE* pbCert, ULONG ulCertLen);
ULONG DF_ExportCert(ConCtx* pConCtx, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen);

// Shared by the device-layer files: the context and the vendor table are
// there, else the null pointer is logged and DF_ERR_NULL_POINTER returned.
ULONG CheckDeviceContext(const DevCtx* pDevCtx, const char* file, int line);
#define DF_CHECK_DEVICE(ctx) CheckDeviceContext(ctx, __FILE__, __LINE__)
// The container handle, its record and its device context are there, each
// missing one logged under the handle's name.
ULONG CheckContainerContext(const ConCtx* pConCtx, const char* name, const char* file, int line);
#define DF_CHECK_CONTAINER(con) CheckContainerContext(con, "pConCtx", __FILE__, __LINE__)
#define DF_NULL(name, code) (LogNullPointer(__FILE__, __LINE__, name), static_cast<ULONG>(code))

// Every record the token lists, however many it holds, as enumerate
// (records, &count) hands them out: asked first with room for room
// records, then again with room for all it reports, or for twice as many
// while it fills all the room it was given; at most kMaxListedRecords.
template <typename Record, typename Enumerate>
ULONG ListTokenRecords(Enumerate enumerate, std::uint32_t room, std::vector<Record>& records)
{
    for (;;) {
        records.assign(room, Record {});
        std::uint32_t count = room;
        ULONG rc = enumerate(reinterpret_cast<std::uint8_t*>(records.data()), &count);
        const bool tooSmall = rc == devicelib::UK_ERR_BUFFER_TOO_SMALL && count > room;
        const bool full = rc == devicelib::UK_OK && count >= room;
        if ((!tooSmall && !full) || room >= kMaxListedRecords) {
            if (rc != devicelib::UK_OK) return rc;
            records.resize(std::min(count, room));
            return SAR_OK;
        }
        room = std::min(std::max(count, 2 * room), kMaxListedRecords);
    }
}

// Sends one of the token's own commands with a response buffer of room
// bytes; a failure is logged "SendAPDUCmd err[%#x]" and returned.
ULONG SendTokenCommand(DevCtx* pDevCtx, const BYTE* command, ULONG commandLen, BYTE* response, ULONG* responseLen);
