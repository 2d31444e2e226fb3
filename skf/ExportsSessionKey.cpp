// SKF exports of session keys and the token cipher. Handles and pointers
// are checked before they are used; MAC and key agreement are not
// supported.
#include "DevHash.h"
#include "EccPoint.h"
#include "ExportCall.h"
#include "KeyLayer.h"
#include "Logger.h"
#include "SkfKeyExports.h"

namespace {

// Refuses all but a session key of this library whose device is still
// connected, and holds both for the call.
ULONG KeyRefused(ExportCall& call, HKEY_HANDLE hKey)
{
    return call.Check({SKF_KEY_HANDLE_ARG(hKey)}) ? SAR_OK : call.Refused();
}

// A key just made is handed out, or its making's failure logged with
// SAR_FAIL.
ULONG HandOutKey(ExportCall& call, ULONG rc, const char* failure, SessionKeyHandle* key, HKEY_HANDLE* phKey)
{
    if (rc != SAR_OK) return call.Fail(SAR_FAIL, failure, rc);
    return call.HandOut(key, HandleKind::SessionKey, DF_CloseSessionKey, phKey);
}

// A wrong length or parameter reaches the caller as it is; any other
// failure as SAR_FAIL.
ULONG Passed(ULONG rc)
{
    return rc == SAR_INDATALENERR || rc == SAR_INVALIDPARAMERR ? rc : SAR_FAIL;
}

ULONG Finish(ExportCall& call, ULONG rc, const char* failure)
{
    if (rc != SAR_OK) return call.Fail(Passed(rc), failure, rc);
    return call.Done();
}

// The start of a cipher stream on a checked key.
ULONG StreamStart(const char* name, ULONG (*start)(SessionKeyHandle*, const BLOCKCIPHERPARAM&), const char* failure,
                  HKEY_HANDLE hKey, const BLOCKCIPHERPARAM& param)
{
    ExportCall call(name);
    if (ULONG rc = KeyRefused(call, hKey)) return rc;
    return Finish(call, start(call.Key(hKey), param), failure);
}

// A data step of a cipher stream: the key and the two pointers checked,
// then the device layer's step.
ULONG StreamStep(const char* name, ULONG (*step)(SessionKeyHandle*, const BYTE*, ULONG, BYTE*, ULONG*),
                 const char* failure, HKEY_HANDLE hKey, const ArgCheck& input, const ArgCheck& outputLen, BYTE* pbIn,
                 ULONG ulInLen, BYTE* pbOut, ULONG* pulOutLen)
{
    ExportCall call(name);
    if (ULONG rc = KeyRefused(call, hKey)) return rc;
    if (!call.Check({input, outputLen})) return call.Refused();
    return Finish(call, step(call.Key(hKey), pbIn, ulInLen, pbOut, pulOutLen), failure);
}

ULONG RefuseAlgorithm(ExportCall& call, ULONG algId)
{
    return call.Fail(SAR_INVALIDPARAMERR, "not support alg [%#lx]", algId);
}

} // namespace

ULONG DEVAPI SKF_SetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HKEY_HANDLE* phKey)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hDev), SKF_POINTER_ARG(pbKey), SKF_POINTER_ARG(phKey)})) return call.Refused();
    if (!IsSymmAlgorithm(ulAlgID)) return RefuseAlgorithm(call, ulAlgID);
    SessionKeyHandle* key = nullptr;
    ULONG rc = DF_SetSymmKey(call.Device(hDev), pbKey, ulAlgID, &key);
    return HandOutKey(call, rc, "DF_SetSymmKey ERR[%#lx]", key, phKey);
}

ULONG DEVAPI SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pPubKey,
                                     ECCCIPHERBLOB* pData, HKEY_HANDLE* phSessionKey)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer), SKF_HANDLE_OUT_ARG(pPubKey), SKF_POINTER_ARG(pData),
                     SKF_POINTER_ARG(phSessionKey)}))
        return call.Refused();
    if (!IsSymmAlgorithm(ulAlgId)) return RefuseAlgorithm(call, ulAlgId);
    if (!IsSm2Point(*pPubKey)) return call.Fail(SAR_INVALIDPARAMERR, "pPubKey not on the curve");
    SessionKeyHandle* key = nullptr;
    ULONG rc = DF_ECCExportSessionKey(call.Container(hContainer), ulAlgId, pPubKey, pData, &key);
    return HandOutKey(call, rc, "DF_ECCExportSessionKey ERR[%#lx]", key, phSessionKey);
}

ULONG DEVAPI SKF_RSAExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData,
                                     ULONG* pulDataLen, HKEY_HANDLE* phSessionKey)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer), SKF_POINTER_ARG(pPubKey), SKF_POINTER_ARG(pbData),
                     SKF_POINTER_ARG(pulDataLen), SKF_POINTER_ARG(phSessionKey)}))
        return call.Refused();
    if (!IsSymmAlgorithm(ulAlgId)) return RefuseAlgorithm(call, ulAlgId);
    SessionKeyHandle* key = nullptr;
    ULONG rc = DF_RSAExportSessionKey(call.Container(hContainer), ulAlgId, pPubKey, pbData, pulDataLen, &key);
    return HandOutKey(call, rc, "DF_RSAExportSessionKey ERR[%#lx]", key, phSessionKey);
}

ULONG DEVAPI SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen,
                                  HKEY_HANDLE* phKey)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer), SKF_POINTER_ARG(pbWrapedData), SKF_POINTER_ARG(phKey)}))
        return call.Refused();
    if (!IsSymmAlgorithm(ulAlgId)) return RefuseAlgorithm(call, ulAlgId);
    SessionKeyHandle* key = nullptr;
    ULONG rc = DF_ImportSessionKey(call.Container(hContainer), ulAlgId, pbWrapedData, ulWrapedLen, &key);
    return HandOutKey(call, rc, "DF_ImportSessionKey ERR[%#lx]", key, phKey);
}

ULONG DEVAPI SKF_EncryptInit(HKEY_HANDLE hKey, BLOCKCIPHERPARAM EncryptParam)
{
    return StreamStart(__func__, DF_EncryptInit, "DF_EncryptInit ERR[%#lx]", hKey, EncryptParam);
}

ULONG DEVAPI SKF_Encrypt(HKEY_HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData, ULONG* pulEncryptedLen)
{
    return StreamStep(__func__, DF_Encrypt, "DF_Encrypt ERR[%#lx]", hKey, SKF_POINTER_ARG(pbData),
                      SKF_POINTER_ARG(pulEncryptedLen), pbData, ulDataLen, pbEncryptedData, pulEncryptedLen);
}

ULONG DEVAPI SKF_EncryptUpdate(HKEY_HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                               ULONG* pulEncryptedLen)
{
    ExportCall call(__func__);
    if (ULONG rc = KeyRefused(call, hKey)) return rc;
    if (!call.Check({SKF_POINTER_ARG(pbData), SKF_POINTER_ARG(pulEncryptedLen)})) return call.Refused();
    ULONG rc = DF_EncryptUpdate(call.Key(hKey), pbData, ulDataLen, pbEncryptedData, pulEncryptedLen);
    if (rc == SAR_OK) LogMessage(LOG_DEBUG, "pbEncryptedData:[%lu]]", *pulEncryptedLen);
    return Finish(call, rc, "DF_Encrypt ERR[%#lx]");
}

ULONG DEVAPI SKF_EncryptFinal(HKEY_HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen)
{
    ExportCall call(__func__);
    if (ULONG rc = KeyRefused(call, hKey)) return rc;
    if (!call.Check({SKF_POINTER_ARG(pulEncryptedDataLen)})) return call.Refused();
    ULONG rc = DF_EncryptFinal(call.Key(hKey), pbEncryptedData, pulEncryptedDataLen);
    if (rc == SAR_OK) LogMessage(LOG_DEBUG, "pbEncryptedData:[%lu]]", *pulEncryptedDataLen);
    return Finish(call, rc, "EncryptFinal ERR[%#lx]");
}

ULONG DEVAPI SKF_DecryptInit(HKEY_HANDLE hKey, BLOCKCIPHERPARAM DecryptParam)
{
    return StreamStart(__func__, DF_DecryptInit, "DF_DecryptInit ERR[%#lx]", hKey, DecryptParam);
}

ULONG DEVAPI SKF_Decrypt(HKEY_HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData, ULONG* pulDataLen)
{
    return StreamStep(__func__, DF_Decrypt, "DF_Decrypt ERR[%#lx]", hKey, SKF_POINTER_ARG(pbEncryptedData),
                      SKF_POINTER_ARG(pulDataLen), pbEncryptedData, ulEncryptedLen, pbData, pulDataLen);
}

ULONG DEVAPI SKF_DecryptUpdate(HKEY_HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                               ULONG* pulDataLen)
{
    return StreamStep(__func__, DF_DecryptUpdate, "DF_Decrypt ERR[%#lx]", hKey, SKF_POINTER_ARG(pbEncryptedData),
                      SKF_POINTER_ARG(pulDataLen), pbEncryptedData, ulEncryptedLen, pbData, pulDataLen);
}

ULONG DEVAPI SKF_DecryptFinal(HKEY_HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen)
{
    ExportCall call(__func__);
    if (ULONG rc = KeyRefused(call, hKey)) return rc;
    if (!call.Check({SKF_POINTER_ARG(pulDecryptedDataLen)})) return call.Refused();
    return Finish(call, DF_DecryptFinal(call.Key(hKey), pbDecryptedData, pulDecryptedDataLen),
                  "DecryptFinal ERR[%#lx]");
}

// Session keys and hash handles are freed here, each once no other call
// holds it; any other handle is refused.
ULONG DEVAPI SKF_CloseHandle(HANDLE hHandle)
{
    ExportCall call(__func__);
    if (!hHandle) return call.Done();
    if (auto* key = static_cast<SessionKeyHandle*>(call.Take(hHandle, HandleKind::SessionKey)))
        DF_CloseSessionKey(key);
    else if (auto* hash = static_cast<HashCtx*>(call.Take(hHandle, HandleKind::Hash)))
        DF_CloseHash(hash);
    else
        return call.Fail(SAR_INVALIDHANDLEERR, "Invalid Handle: hHandle");
    return call.Done();
}

ULONG DEVAPI SKF_MacInit(HKEY_HANDLE, BLOCKCIPHERPARAM*, HANDLE*)
{
    return SAR_NOTSUPPORTYETERR;
}
ULONG DEVAPI SKF_Mac(HANDLE, BYTE*, ULONG, BYTE*, ULONG*)
{
    return SAR_NOTSUPPORTYETERR;
}
ULONG DEVAPI SKF_MacUpdate(HANDLE, BYTE*, ULONG)
{
    return SAR_NOTSUPPORTYETERR;
}
ULONG DEVAPI SKF_MacFinal(HANDLE, BYTE*, ULONG*)
{
    return SAR_NOTSUPPORTYETERR;
}

ULONG DEVAPI SKF_GenerateAgreementDataWithECC(HCONTAINER, ULONG, ECCPUBLICKEYBLOB*, BYTE*, ULONG, HANDLE*)
{
    return SAR_NOTSUPPORTYETERR;
}

ULONG DEVAPI SKF_GenerateAgreementDataAndKeyWithECC(HANDLE, ULONG, ECCPUBLICKEYBLOB*, ECCPUBLICKEYBLOB*,
                                                    ECCPUBLICKEYBLOB*, BYTE*, ULONG, BYTE*, ULONG, HANDLE*)
{
    return SAR_NOTSUPPORTYETERR;
}

ULONG DEVAPI SKF_GenerateKeyWithECC(HANDLE, ECCPUBLICKEYBLOB*, ECCPUBLICKEYBLOB*, BYTE*, ULONG, HANDLE*)
{
    return SAR_NOTSUPPORTYETERR;
}
