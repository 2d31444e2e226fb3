// Device-layer session keys: made from the caller's bytes or the token's
// random numbers, wrapped for a caller's public key in software, or
// unwrapped on the token with the container's exchange key.
#include "KeyLayer.h"
#include "Logger.h"
#include "DeviceLibrary.h"
#include "tokencrypto/SecureZero.h"

#include <cstring>
#include <new>

namespace {

constexpr ULONG kRsaBlockLen = 128;
constexpr ULONG kRsaPadLen = kRsaBlockLen - 3 - kSessionKeyLen; // 109

// Random bytes from the token, none of them zero, as a type-2 block needs.
ULONG NonZeroRandom(DevCtx* pDevCtx, BYTE* out, ULONG len)
{
    for (ULONG filled = 0; filled < len;) {
        BYTE chunk[kRsaPadLen];
        if (ULONG rc = DF_GenRandom(pDevCtx, chunk, len - filled)) return rc;
        for (ULONG i = 0; i < len - filled; ++i)
            if (chunk[i]) out[filled++] = chunk[i];
    }
    return SAR_OK;
}

// Key bytes straight from the token, so they never reach the log.
ULONG KeyRandom(DevCtx* pDevCtx, BYTE* key)
{
    if (!pDevCtx->pCtx) {
        LogMessage(LOG_ERROR, "GenRandom ERR[pDevCtx->pCtx]");
        return DF_ERR_RANDOM_REQUEST;
    }
    ULONG rc = g_FuncList->GenRandom(pDevCtx->pCtx, key, kSessionKeyLen);
    if (rc != devicelib::UK_OK) LogMessage(LOG_ERROR, "GenRandom ERR[%#lx]", rc);
    return rc;
}

ULONG NewRandomKey(DevCtx* pDevCtx, ULONG ulAlgId, SessionKeyHandle** ppKey)
{
    BYTE key[kSessionKeyLen];
    if (ULONG rc = KeyRandom(pDevCtx, key)) {
        LogMessage(LOG_ERROR, "DF_GenRandom ERR[%#lx]", rc);
        return SAR_FAIL;
    }
    LogMessage(LOG_DEBUG, "Random[%d]", static_cast<int>(sizeof key));
    ULONG rc = DF_SetSymmKey(pDevCtx, key, ulAlgId, ppKey);
    tokencrypto::SecureZero(key, sizeof key);
    if (rc != SAR_OK) {
        LogMessage(LOG_ERROR, "DF_SetSymmKey ERR[%#lx]", rc);
        return SAR_FAIL;
    }
    return SAR_OK;
}

// Hands the key out, or releases it when the wrap failed.
ULONG Finish(ULONG rc, SessionKeyHandle* pKey, SessionKeyHandle** ppKey)
{
    if (rc != SAR_OK) {
        DF_CloseSessionKey(pKey);
        return rc;
    }
    *ppKey = pKey;
    return SAR_OK;
}

} // namespace

bool IsSymmAlgorithm(ULONG ulAlgID)
{
    switch (ulAlgID) {
    case SGD_SM1_ECB:
    case SGD_SM1_CBC:
    case SGD_SSF33_ECB:
    case SGD_SSF33_CBC:
    case SGD_SMS4_ECB:
    case SGD_SMS4_CBC:
        return true;
    default:
        return false;
    }
}

ULONG DF_SetSymmKey(DevCtx* pDevCtx, const BYTE* pbKey, ULONG ulAlgID, SessionKeyHandle** ppKey)
{
    if (!pbKey) return DF_NULL("pbKey", SAR_INVALIDPARAMERR);
    if (!ppKey) return DF_NULL("phKey", SAR_INVALIDPARAMERR);
    if (!IsSymmAlgorithm(ulAlgID)) {
        LogMessage(LOG_ERROR, "not support alg [%#lx]", ulAlgID);
        return SAR_INVALIDPARAMERR;
    }
    auto* handle = new (std::nothrow) SessionKeyHandle();
    if (!handle) {
        LogMessage(LOG_ERROR, "---->SKFAllocMemory......\n");
        return SAR_MEMORYERR;
    }
    std::memcpy(handle->key, pbKey, kSessionKeyLen);
    handle->ulAlgID = ulAlgID;
    handle->ulPadding = 0;
    handle->pDevCtx = pDevCtx;
    handle->hDev = pDevCtx ? pDevCtx->hDev : nullptr;
    *ppKey = handle;
    return SAR_OK;
}

void DF_CloseSessionKey(SessionKeyHandle* pKey)
{
    if (!pKey) return;
    tokencrypto::SecureZero(pKey, sizeof *pKey);
    delete pKey;
}

ULONG DF_ECCExportSessionKey(ConCtx* pConCtx, ULONG ulAlgId, const ECCPUBLICKEYBLOB* pPubKey, ECCCIPHERBLOB* pData,
                             SessionKeyHandle** ppKey)
{
    if (ULONG rc = DF_CHECK_CONTAINER(pConCtx)) return rc;
    if (!pPubKey) return DF_NULL("pPubKey", SAR_INVALIDPARAMERR);
    if (!pData) return DF_NULL("pData", SAR_INVALIDPARAMERR);
    if (!ppKey) return DF_NULL("phSessionKey", SAR_INVALIDPARAMERR);
    SessionKeyHandle* key = nullptr;
    if (ULONG rc = NewRandomKey(pConCtx->pDevCtx, ulAlgId, &key)) return rc;
    ULONG rc = DF_ExtECCEncrypt(pPubKey, key->key, kSessionKeyLen, pData);
    if (rc != SAR_OK) {
        LogMessage(LOG_ERROR, "DF_ExtECCEncrypt ERR[%#lx]", rc);
        rc = SAR_FAIL;
    }
    return Finish(rc, key, ppKey);
}

// A PKCS#1 type-2 block of 128 bytes: the public key must have a 1024-bit
// modulus.
ULONG DF_RSAExportSessionKey(ConCtx* pConCtx, ULONG ulAlgId, const RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData,
                             ULONG* pulDataLen, SessionKeyHandle** ppKey)
{
    if (ULONG rc = DF_CHECK_CONTAINER(pConCtx)) return rc;
    if (!pPubKey) return DF_NULL("pPubKey", SAR_INVALIDPARAMERR);
    if (!pbData) return DF_NULL("pbData", SAR_INVALIDPARAMERR);
    if (!pulDataLen) return DF_NULL("pulDataLen", SAR_INVALIDPARAMERR);
    if (!ppKey) return DF_NULL("phSessionKey", SAR_INVALIDPARAMERR);
    LogMessage(LOG_DEBUG, "pPubKey[%d][ulAlgId:%lu][pPubKey.AlgID:%lu]", static_cast<int>(sizeof *pPubKey), ulAlgId,
               pPubKey->AlgID);
    SessionKeyHandle* key = nullptr;
    if (ULONG rc = NewRandomKey(pConCtx->pDevCtx, ulAlgId, &key)) return rc;
    BYTE block[kRsaBlockLen] = {0x00, 0x02};
    ULONG rc = NonZeroRandom(pConCtx->pDevCtx, block + 2, kRsaPadLen);
    if (rc != SAR_OK) {
        LogMessage(LOG_ERROR, "DF_GenRandom ERR[%#lx]", rc);
        return Finish(SAR_FAIL, key, ppKey);
    }
    block[2 + kRsaPadLen] = 0x00;
    std::memcpy(block + 3 + kRsaPadLen, key->key, kSessionKeyLen);
    LogMessage(LOG_DEBUG, "Enc_data[%d]", static_cast<int>(sizeof block));
    rc = DF_ExtRSAPubKeyOperation(pPubKey, block, sizeof block, pbData, pulDataLen);
    tokencrypto::SecureZero(block, sizeof block);
    if (rc != SAR_OK) {
        LogMessage(LOG_ERROR, "DF_ExtRSAPubKeyOperation ERR[%#lx]", rc);
        return Finish(SAR_FAIL, key, ppKey);
    }
    LogMessage(LOG_DEBUG, "Dec_data[%lu]", *pulDataLen);
    LogHexData(pbData, *pulDataLen);
    return Finish(SAR_OK, key, ppKey);
}

// The session key is the last 16 bytes of what the token unwraps.
ULONG DF_ImportSessionKey(ConCtx* pConCtx, ULONG ulAlgId, const BYTE* pbWrapedData, ULONG ulWrapedLen,
                          SessionKeyHandle** ppKey)
{
    LogMessage(LOG_DEBUG, "%s start...", __func__);
    if (ULONG rc = DF_CHECK_CONTAINER(pConCtx)) return rc;
    if (!pbWrapedData) return DF_NULL("pbWrapedData", SAR_INVALIDPARAMERR);
    if (!ppKey) return DF_NULL("phKey", SAR_INVALIDPARAMERR);
    const ContCtx& record = *pConCtx->pContCtx;
    std::vector<BYTE> unwrapped;
    if (record.AlgType == devicelib::UK_ALG_RSA) {
        if (!record.ExchKeyLen) {
            LogMessage(LOG_ERROR, "sign key not exist");
            return SAR_KEYNOTFOUNTERR;
        }
        ULONG rc = UnwrapOnToken(pConCtx, false, pbWrapedData, ulWrapedLen, unwrapped);
        if (rc == SAR_OK && unwrapped.size() < kSessionKeyLen) rc = SAR_INDATALENERR;
        if (rc != SAR_OK) {
            LogMessage(LOG_ERROR, "RSA_Decode_data_Ex ERR[%#lx]", rc);
            return SAR_FAIL;
        }
        LogMessage(LOG_DEBUG, "data[%u]", static_cast<unsigned>(unwrapped.size()));
    } else {
        if (ulWrapedLen < EccCipherBlobSize(0)) {
            LogMessage(LOG_ERROR, "ulWrapedLen err[%lu]", ulWrapedLen);
            return SAR_INDATALENERR;
        }
        const auto* cipher = reinterpret_cast<const ECCCIPHERBLOB*>(pbWrapedData);
        LogMessage(LOG_DEBUG, "pCipherText[%lu]", cipher->CipherLen);
        LogMessage(LOG_DEBUG, "Hash[%d]", static_cast<int>(sizeof cipher->HASH));
        std::vector<BYTE> block;
        if (ULONG rc = Sm2CipherFromBlob(cipher, ulWrapedLen - EccCipherBlobSize(0), block)) return rc;
        if (!record.ExchKeyLen) {
            LogMessage(LOG_ERROR, "Ex key not exist");
            return SAR_KEYNOTFOUNTERR;
        }
        LogMessage(LOG_DEBUG, "indata[%u]", static_cast<unsigned>(block.size()));
        if (ULONG rc = UnwrapOnToken(pConCtx, false, block.data(), static_cast<ULONG>(block.size()), unwrapped))
            return rc;
        if (unwrapped.size() < kSessionKeyLen) {
            LogMessage(LOG_ERROR, "PrikeyDec  ERR[%#x]", static_cast<unsigned>(unwrapped.size()));
            return SAR_INDATALENERR;
        }
    }
    ULONG rc = DF_SetSymmKey(pConCtx->pDevCtx, unwrapped.data() + unwrapped.size() - kSessionKeyLen, ulAlgId, ppKey);
    tokencrypto::SecureZero(unwrapped.data(), unwrapped.size());
    if (rc != SAR_OK) {
        LogMessage(LOG_ERROR, "DF_SetSymmKey ERR[%#lx]", rc);
        return SAR_FAIL;
    }
    return SAR_OK;
}
