// Device-layer file functions: the application's files are the token's
// data objects.
#pragma once

#include "Handles.h"
#include "SkfDefs.h"

constexpr std::uint32_t kFileRoom = 8; // records asked for at first
constexpr ULONG kMaxFileSize = 0x7800; // the read buffer: 30720 bytes
constexpr ULONG kMaxFileNameLen = 32;  // FILEATTRIBUTE's FileName
constexpr std::uint32_t kDataObjFlags = 0x100000;

// The file information record, as SKF_GetFileInfo fills it.
struct FILEATTRIBUTE {
    CHAR FileName[32];
    ULONG FileSize;
    ULONG ReadRights;
    ULONG WriteRights;
};

static_assert(sizeof(FILEATTRIBUTE) == 44, "FILEATTRIBUTE size");

constexpr ULONG SECURE_EVERYONE_ACCOUNT = 0xFF;
constexpr ULONG SECURE_USER_ACCOUNT = 0x10;

ULONG DF_CreateFile(DevCtx* pDevCtx, const char* szFileName, ULONG ulFileSize, ULONG ulReadRights, ULONG ulWriteRights);
ULONG DF_DeleteFile(DevCtx* pDevCtx, const char* szFileName);
ULONG DF_EnumFiles(DevCtx* pDevCtx, char* szFileList, ULONG* pulSize);
ULONG DF_GetFileInfo(DevCtx* pDevCtx, const char* szFileName, FILEATTRIBUTE* pFileInfo);
ULONG DF_ReadFile(DevCtx* pDevCtx, const char* szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                  ULONG* pulOutLen);
ULONG DF_WriteFile(DevCtx* pDevCtx, const char* szFileName, ULONG ulOffset, const BYTE* pbData, ULONG ulSize);
