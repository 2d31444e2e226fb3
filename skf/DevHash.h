// SM3 digests in software, each begun with the SM2 Z value of a public key
// and user ID; the hash handle keeps the device handle it was made on.
#pragma once

#include "Handles.h"
#include "SkfDefs.h"
#include "tokencrypto/Sm3.h"

constexpr ULONG SGD_SM3 = 0x00000001;

// ECCPUBLICKEYBLOB: BitLen, then X and Y of 64 bytes each, the 32-byte
// coordinates right-aligned.
constexpr std::size_t kEccBlobX = 36;
constexpr std::size_t kEccBlobY = 100;

// The Z value carries the ID's length in bits in two bytes.
constexpr ULONG kMaxIdLen = 0xFFFF / 8;

struct HashCtx {
    HANDLE hDev;
    tokencrypto::Sm3Context sm3;
};

// A new context holding SM3 over Z.
ULONG DF_HashInit_SM3(HANDLE hDev, const BYTE* pPubKey, const BYTE* pucID, ULONG ulIDLen, HashCtx** ppHashCtx);
// Wipes and frees a context.
void DF_CloseHash(HashCtx* pHashCtx);
