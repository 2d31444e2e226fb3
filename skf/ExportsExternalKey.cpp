// SKF exports of operations on keys the caller hands in; they run in
// software and use the device handle only to check it.
#include "EccPoint.h"
#include "ExportCall.h"
#include "KeyLayer.h"
#include "Logger.h"
#include "SkfKeyExports.h"

// Pointers these exports refuse with SAR_INVALIDHANDLEERR, as they do the
// device handle.
#define SKF_KEY_ARG(x)                                                                                                 \
    ArgCheck                                                                                                           \
    {                                                                                                                  \
        x, #x, ArgKind::HandleOut, __FILE__, __LINE__                                                                  \
    }

namespace {

// The two SM2 verifications differ only in the device-layer call.
ULONG EccVerify(const char* name, const char* failure,
                ULONG (*verify)(const ECCPUBLICKEYBLOB*, const BYTE*, ULONG, const ECCSIGNATUREBLOB*),
                ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen, ECCSIGNATUREBLOB* pSignature)
{
    ExportCall call(name);
    if (!call.Check({SKF_POINTER_ARG(pECCPubKeyBlob), SKF_POINTER_ARG(pbData), SKF_POINTER_ARG(pSignature)}))
        return call.Refused();
    if (ULONG rc = verify(pECCPubKeyBlob, pbData, ulDataLen, pSignature)) return call.Fail(rc, failure, rc);
    return call.Done();
}

// The two raw RSA operations differ only in the key blob and the
// device-layer call; blobName is the argument's name in the log.
template <class Blob>
ULONG RsaKeyOperation(const char* name, const char* blobName, const char* failure,
                      ULONG (*operation)(const Blob*, const BYTE*, ULONG, BYTE*, ULONG*), DEVHANDLE hDev, Blob* pBlob,
                      BYTE* pbInput, ULONG ulInputLen, BYTE* pbOutput, ULONG* pulOutputLen)
{
    ExportCall call(name);
    if (!call.Check({SKF_DEVICE_ARG(hDev), ArgCheck {pBlob, blobName, ArgKind::HandleOut, __FILE__, __LINE__},
                     SKF_KEY_ARG(pbInput), SKF_POINTER_ARG(pulOutputLen)}))
        return call.Refused();
    if (ULONG rc = operation(pBlob, pbInput, ulInputLen, pbOutput, pulOutputLen))
        return call.Fail(SAR_FAIL, failure, rc);
    return call.Done();
}

} // namespace

ULONG DEVAPI SKF_GenExtRSAKey(DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev), SKF_KEY_ARG(pBlob)})) return call.Refused();
    if (ULONG rc = DF_GenExtRSAKey(ulBitsLen, pBlob)) return call.Fail(SAR_FAIL, "DF_GenRSAKey err[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_RSAVerify(DEVHANDLE, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                           BYTE* pbSignature, ULONG ulSignLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_POINTER_ARG(pRSAPubKeyBlob), SKF_POINTER_ARG(pbData), SKF_POINTER_ARG(pbSignature)}))
        return call.Refused();
    if (ULONG rc = DF_Verify_RSA(pRSAPubKeyBlob, pbData, ulDataLen, pbSignature, ulSignLen))
        return call.Fail(SAR_FAIL, "DF_Verify_RSA ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_ECCVerify(DEVHANDLE, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                           ECCSIGNATUREBLOB* pSignature)
{
    return EccVerify(__func__, "DF_Verify_ECC ERR[%#lx]", DF_Verify_ECC, pECCPubKeyBlob, pbData, ulDataLen, pSignature);
}

ULONG DEVAPI SKF_ExtECCVerify(DEVHANDLE, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                              ECCSIGNATUREBLOB* pSignature)
{
    return EccVerify(__func__, "DF_ExtECCVerify ERR[%#lx]", DF_ExtECCVerify, pECCPubKeyBlob, pbData, ulDataLen,
                     pSignature);
}

ULONG DEVAPI SKF_ExtRSAPubKeyOperation(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbInput,
                                       ULONG ulInputLen, BYTE* pbOutput, ULONG* pulOutputLen)
{
    return RsaKeyOperation(__func__, "pRSAPubKeyBlob", "DF_ExtRSAPubKeyOperation ERR[%#lx]", DF_ExtRSAPubKeyOperation,
                           hDev, pRSAPubKeyBlob, pbInput, ulInputLen, pbOutput, pulOutputLen);
}

ULONG DEVAPI SKF_ExtRSAPriKeyOperation(DEVHANDLE hDev, RSAPRIVATEKEYBLOB* pRSAPriKeyBlob, BYTE* pbInput,
                                       ULONG ulInputLen, BYTE* pbOutput, ULONG* pulOutputLen)
{
    return RsaKeyOperation(__func__, "pRSAPriKeyBlob", "DF_ExtRSAPriKeyOperation ERR[%#lx]", DF_ExtRSAPriKeyOperation,
                           hDev, pRSAPriKeyBlob, pbInput, ulInputLen, pbOutput, pulOutputLen);
}

ULONG DEVAPI SKF_ExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbPlainText,
                               ULONG ulPlainTextLen, ECCCIPHERBLOB* pCipherText)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev), SKF_KEY_ARG(pECCPubKeyBlob), SKF_KEY_ARG(pbPlainText),
                     SKF_POINTER_ARG(pCipherText)}))
        return call.Refused();
    if (!IsSm2Point(*pECCPubKeyBlob)) return call.Fail(SAR_INVALIDPARAMERR, "pECCPubKeyBlob err");
    if (ULONG rc = DF_ExtECCEncrypt(pECCPubKeyBlob, pbPlainText, ulPlainTextLen, pCipherText))
        return call.Fail(SAR_FAIL, "DF_ExtECCEncrypt ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_ExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, ECCCIPHERBLOB* pCipherText,
                               BYTE* pbPlainText, ULONG* pulPlainTextLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev), SKF_KEY_ARG(pECCPriKeyBlob), SKF_KEY_ARG(pbPlainText),
                     SKF_POINTER_ARG(pCipherText), SKF_POINTER_ARG(pulPlainTextLen)}))
        return call.Refused();
    if (ULONG rc = DF_ExtECCDecrypt(pECCPriKeyBlob, pCipherText, pbPlainText, pulPlainTextLen))
        return call.Fail(SAR_FAIL, "SKF_ExtECCDecrypt ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_ExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData, ULONG ulDataLen,
                            ECCSIGNATUREBLOB* pSignature)
{
    ExportCall call(__func__);
    if (!call.Check(
            {SKF_DEVICE_ARG(hDev), SKF_KEY_ARG(pECCPriKeyBlob), SKF_KEY_ARG(pbData), SKF_POINTER_ARG(pSignature)}))
        return call.Refused();
    if (pECCPriKeyBlob->BitLen != 256)
        return call.Fail(SAR_INVALIDPARAMERR, "BitLen err[%#lx]", pECCPriKeyBlob->BitLen);
    if (ULONG rc = DF_ExtECCSign(pECCPriKeyBlob, pbData, ulDataLen, pSignature))
        return call.Fail(SAR_FAIL, "DF_ExtECCSign ERR[%#lx]", rc);
    return call.Done();
}
