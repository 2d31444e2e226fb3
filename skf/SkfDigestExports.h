// The SKF digest exports of KeltoSKF, as callers declare them.
#pragma once

#include "SkfDefs.h"

struct ECCPUBLICKEYBLOB;

extern "C" {

ULONG DEVAPI SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, unsigned char* pucID,
                            ULONG ulIDLen, HANDLE* phHash);
ULONG DEVAPI SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen);
ULONG DEVAPI SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen);
ULONG DEVAPI SKF_DigestFinal(HANDLE hHash, BYTE* pHashData, ULONG* pulHashLen);

} // extern "C"
