// SKF exports of key pairs and signatures on the token. Every failure of
// the device layer reaches the caller as SAR_FAIL.
#include "ExportCall.h"
#include "KeyLayer.h"
#include "Logger.h"
#include "SkfKeyExports.h"

ULONG DEVAPI SKF_GenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer), SKF_POINTER_ARG(pBlob)})) return call.Refused();
    ConCtx* con = call.Container(hContainer);
    if (ULONG rc = DF_GenRSAKey(con, ulBitsLen, pBlob)) return call.Fail(SAR_FAIL, "DF_GenRSAKey err[%#lx]", rc);
    LogMessage(LOG_DEBUG, "pConCtx->pContCtx->SignKeyLen[%d]", con->pContCtx->SignKeyLen);
    return call.Done();
}

ULONG DEVAPI SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pBlob)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer)})) return call.Refused();
    if (ulAlgId != SGD_SM2_1) return call.Fail(SAR_INVALIDPARAMERR, "not support alg [%#lx]", ulAlgId);
    if (!call.Check({SKF_POINTER_ARG(pBlob)})) return call.Refused();
    if (ULONG rc = DF_GenKeyPair_ECC(call.Container(hContainer), pBlob))
        return call.Fail(SAR_FAIL, "DF_GenKeyPair_ECC ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer)})) return call.Refused();
    const ContCtx& record = *call.Container(hContainer)->pContCtx;
    if (record.AlgType != devicelib::UK_ALG_RSA && record.AlgType != devicelib::UK_ALG_SM2)
        return call.Fail(SAR_KEYINFOTYPEERR, "The Container not has PubKey [%#x]", record.AlgType);
    if (!call.Check({SKF_POINTER_ARG(pulBlobLen)})) return call.Refused();
    if (ULONG rc = DF_ExportPubKey(call.Container(hContainer), bSignFlag, pbBlob, pulBlobLen))
        return call.Fail(SAR_FAIL, "DF_ExportPubKey ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_RSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature, ULONG* pulSignLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer), SKF_POINTER_ARG(pbData), SKF_POINTER_ARG(pulSignLen)}))
        return call.Refused();
    if (ULONG rc = DF_SignData_RSA(call.Container(hContainer), pbData, ulDataLen, pbSignature, pulSignLen))
        return call.Fail(SAR_FAIL, "DF_SignData_RSA ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbDigest, ULONG ulDigestLen, ECCSIGNATUREBLOB* pSignature)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer), SKF_POINTER_ARG(pbDigest), SKF_POINTER_ARG(pSignature)}))
        return call.Refused();
    if (ULONG rc = DF_SignData_ECC(call.Container(hContainer), pbDigest, ulDigestLen, pSignature))
        return call.Fail(SAR_FAIL, "DF_SignData_ECC ERR[%#lx]", rc);
    return call.Done();
}
