// SKF digest exports: SM3 over the Z value and the data, in software; the
// token is not asked.
#include "DevHash.h"
#include "DeviceLayer.h"
#include "ExportCall.h"
#include "Logger.h"
#include "SkfDigestExports.h"

namespace {

void Feed(HashCtx* pHashCtx, const BYTE* pbData, ULONG ulDataLen)
{
    if (ulDataLen) tokencrypto::SM3_Update(&pHashCtx->sm3, pbData, ulDataLen);
}

} // namespace

ULONG DEVAPI SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, unsigned char* pucID,
                            ULONG ulIDLen, HANDLE* phHash)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev), SKF_POINTER_ARG(pucID), SKF_HANDLE_OUT_ARG(pPubKey)})) return call.Refused();
    if (ulAlgID != SGD_SM3) return call.Fail(SAR_INVALIDPARAMERR, "not support alg[%#lx]", ulAlgID);
    if (ulIDLen == 0) return call.Fail(SAR_INVALIDPARAMERR, "no id value");
    if (ulIDLen > kMaxIdLen) return call.Fail(SAR_INVALIDPARAMERR, "id len err[%lu]", ulIDLen);
    if (!call.Check({SKF_HANDLE_OUT_ARG(phHash)})) return call.Refused();
    HashCtx* ctx = nullptr;
    if (ULONG rc = DF_HashInit_SM3(hDev, reinterpret_cast<const BYTE*>(pPubKey), pucID, ulIDLen, &ctx))
        return call.Fail(SAR_FAIL, "DF_HashInit_SM3 ERR[%#lx]", rc);
    return call.HandOut(ctx, HandleKind::Hash, DF_CloseHash, phHash);
}

ULONG DEVAPI SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_HASH_ARG(hHash), SKF_POINTER_ARG(pulHashLen)})) return call.Refused();
    if (!pbHashData) {
        *pulHashLen = tokencrypto::SM3_DIGEST_LENGTH;
        return call.Done();
    }
    if (*pulHashLen < tokencrypto::SM3_DIGEST_LENGTH) return call.Fail(SAR_INDATALENERR, "Data len too short...");
    if (ulDataLen && !call.Check({SKF_POINTER_ARG(pbData)})) return call.Refused();
    Feed(call.Hash(hHash), pbData, ulDataLen);
    tokencrypto::SM3_Final(&call.Hash(hHash)->sm3, pbHashData);
    *pulHashLen = tokencrypto::SM3_DIGEST_LENGTH;
    return call.Done();
}

ULONG DEVAPI SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen)
{
    ExportCall call(__func__);
    if (!hHash) return call.Fail(DF_ERR_NULL_POINTER, "Invalid Handle: hHash");
    if (!call.Check({SKF_HASH_ARG(hHash)})) return call.Refused();
    if (ulDataLen && !call.Check({SKF_POINTER_ARG(pbData)})) return call.Refused();
    Feed(call.Hash(hHash), pbData, ulDataLen);
    return call.Done();
}

ULONG DEVAPI SKF_DigestFinal(HANDLE hHash, BYTE* pHashData, ULONG* pulHashLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_HASH_ARG(hHash), SKF_POINTER_ARG(pulHashLen)})) return call.Refused();
    if (!pHashData) {
        *pulHashLen = tokencrypto::SM3_DIGEST_LENGTH;
        return call.Done();
    }
    if (*pulHashLen < tokencrypto::SM3_DIGEST_LENGTH)
        return call.Fail(SAR_BUFFER_TOO_SMALL, "data buffer too short...");
    tokencrypto::SM3_Final(&call.Hash(hHash)->sm3, pHashData);
    *pulHashLen = tokencrypto::SM3_DIGEST_LENGTH;
    return call.Done();
}
