#include "DevHash.h"

#include "Logger.h"
#include "tokencrypto/SecureZero.h"
#include "tokencrypto/Sm2.h"

#include <cstring>
#include <new>

ULONG DF_HashInit_SM3(HANDLE hDev, const BYTE* pPubKey, const BYTE* pucID, ULONG ulIDLen, HashCtx** ppHashCtx)
{
    auto* ctx = new (std::nothrow) HashCtx {};
    if (!ctx) {
        LogMessage(LOG_ERROR, "malloc pHashCtx err[%#lx]", GetLastError());
        return SAR_MEMORYERR;
    }
    ctx->hDev = hDev;
    tokencrypto::SM3_Init(&ctx->sm3);
    tokencrypto::Sm2PublicKey key {};
    key.bits = 256;
    std::memcpy(key.x, pPubKey + kEccBlobX, sizeof key.x);
    std::memcpy(key.y, pPubKey + kEccBlobY, sizeof key.y);
    std::uint8_t z[32];
    if (ULONG rc = tokencrypto::SM2_GetZ(&key, pucID, ulIDLen, z)) {
        LogMessage(LOG_ERROR, "SM2_GetZ err[%#lx]", rc);
        DF_CloseHash(ctx);
        return SAR_FAIL;
    }
    tokencrypto::SM3_Update(&ctx->sm3, z, sizeof z);
    *ppHashCtx = ctx;
    return SAR_OK;
}

// The context holds message bytes not yet compressed.
void DF_CloseHash(HashCtx* pHashCtx)
{
    tokencrypto::SecureZero(pHashCtx, sizeof *pHashCtx);
    delete pHashCtx;
}
